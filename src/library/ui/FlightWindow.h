#pragma once

#include "library/LibraryFlight.h"
#include "map/MapTrack.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;

namespace corvex {
class MapView;
class MarkersLayer;
class TrackLayer;
}

namespace corvex::library {

class BarogramView;
class FlightLibrary;

// One flight: its track on the map (coloured by altitude or climb, take-off and landing
// marked), its barogram below, its figures above, and one cursor for both: hovering
// the barogram moves a marker along the track, clicking the track shows that moment
// on the barogram.
class FlightWindow final : public QWidget {
    Q_OBJECT
public:
    FlightWindow(FlightLibrary& library, const LibraryFlight& flight, QWidget* parent = nullptr);
    ~FlightWindow() override;

    // Set when the file could not be read; the window then says so instead of a map.
    const QString& loadError() const { return m_loadError; }
    const TrackPoints& track() const { return *m_track; }
    MapView& map() { return *m_map; }
    BarogramView& barogram() { return *m_barogram; }
    MarkersLayer& markers() { return *m_markers; }
    TrackLayer& trackLayer() { return *m_trackLayer; }

    // Puts the shared cursor on a fix (the barogram's hover and the map's click end here).
    void showFix(std::size_t index);
    // The fix of the track nearest to a place, for a click on the map.
    std::optional<std::size_t> nearestFix(double latitude, double longitude) const;

private:
    QWidget* figuresPanel(const LibraryFlight& flight);

    std::shared_ptr<TrackPoints> m_track;
    QString m_loadError;
    MapView* m_map { nullptr };
    std::shared_ptr<TrackLayer> m_trackLayer;
    std::shared_ptr<MarkersLayer> m_markers;
    BarogramView* m_barogram { nullptr };
    QComboBox* m_coloring { nullptr };
    QLabel* m_fixLabel { nullptr };
};

} // namespace corvex::library
