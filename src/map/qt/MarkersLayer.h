#pragma once

#include "map/MapMarkers.h"
#include "map/MapTrack.h"
#include "map/qt/MapLayer.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

// Symbols over a flight: its take-off and landing, the cursor at one fix of its track
// (moved as the flight's time is scrubbed), and labelled points (turnpoints).
class MarkersLayer final : public MapLayer {
    Q_OBJECT
public:
    // How far from a symbol's centre a click still takes it.
    static constexpr double defaultHitRadius = 10.0;

    explicit MarkersLayer(QObject* parent = nullptr);
    ~MarkersLayer() override;

    void setTakeOff(std::optional<GeoPoint> position);
    void setLanding(std::optional<GeoPoint> position);

    // The cursor stands on the fix at an index of this track (the flight's time index);
    // without a track, or with an index past its end, it is not shown.
    void setCursorTrack(std::shared_ptr<const TrackPoints> track);
    void setCursorIndex(std::optional<std::size_t> index);
    std::optional<std::size_t> cursorIndex() const { return m_cursorIndex; }

    // Labelled points, drawn in this order under the other symbols; their kind is taken
    // as MapMarker::Kind::Point.
    void setPoints(std::vector<MapMarker> points);

    // Every symbol shown, in drawing order: the labelled points, the take-off, the
    // landing, the cursor on top. A labelled point's index here is its index in
    // setPoints().
    std::vector<MapMarker> markers() const;
    // The symbol under pixel (see corvex::markerAt), as an index into markers().
    std::optional<std::size_t> markerAt(const MapViewport& viewport, PixelPoint pixel,
        double radiusPixels = defaultHitRadius) const;

    void paint(QPainter& painter, const MapViewport& viewport) override;
    // Around the take-off, the landing and the labelled points; the cursor moves and is
    // left out.
    MapRect boundingMapRect() const override;

private:
    std::optional<GeoPoint> m_takeOff;
    std::optional<GeoPoint> m_landing;
    std::shared_ptr<const TrackPoints> m_cursorTrack;
    std::optional<std::size_t> m_cursorIndex;
    std::vector<MapMarker> m_points;
};

} // namespace corvex
