#pragma once

#include "analysis/FlightComparison.h"
#include "analysis/FlightDebrief.h"
#include "base/Units.h"
#include "flights/IgcFlight.h"
#include "library/LibraryFlight.h"
#include "map/MapGeometry.h"
#include "map/MapTrack.h"
#include "platform/LogSink.h"
#include "platform/OffThread.h"

#include <QColor>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace corvex {
class GliderLayer;
class MapView;
class MarkersLayer;
class TrackLayer;
}

namespace corvex::library {

class BarogramView;
class ReplayBar;

// Several flights of one day side by side: their tracks on one map, each in its own
// colour with a legend of the pilots, their barograms on one time axis (by the clock or
// with the take-offs laid on each other), a table of their figures and one of the
// thermals they shared, and a replay that moves every glider at once.
//
// A flight comes from the library (its stored score is shown) or is a plain IGC file
// (another pilot's): that one is only read, never imported, so it counts in no total.
// The debriefs are worked out beside the window, one flight after the other; closing the
// window cancels them.
class CompareWindow final : public QWidget {
    Q_OBJECT
public:
    // A flight to compare: a library flight (its file and its row) or a file alone.
    struct Source {
        std::string path;
        std::optional<LibraryFlight> stored;
    };
    static constexpr std::size_t minFlights = 2;
    static constexpr std::size_t maxFlights = 10;
    // Clearly told apart on a map and on each other: one per flight, in this order.
    static const std::array<QColor, maxFlights>& palette();

    // One flight as the window shows it.
    struct Compared {
        Source source;
        QColor colour;
        QString pilot; // the library's (the pilot's edit) or the file's, "Flight N" without
        QString glider;
        QString loadError; // set when the file could not be read; the rest is then empty
        std::shared_ptr<const flights::IgcFlight> igc;
        std::shared_ptr<const TrackPoints> track;
        flights::FlightFigures figures; // of the flight the library row is (its part)
        std::optional<analysis::FlightDebrief> debrief;
    };

    enum class Alignment { ClockTime, Takeoff };
    // The rows of the figures' table, in their order.
    enum class Figure {
        Duration,
        TrackDistance,
        MaxAltitude,
        Thermals,
        FailedAttempts,
        AvgClimb,
        HeightGained,
        Circling,
        Left,
        GlideSpeed,
        GlideRatio,
        Score,
    };
    static constexpr int figureCount = 12;

    // More than maxFlights: the first maxFlights are compared.
    explicit CompareWindow(std::vector<Source> sources, QWidget* parent = nullptr);
    ~CompareWindow() override;

    std::size_t flightCount() const { return m_flights.size(); }
    const Compared& flight(std::size_t index) const { return m_flights.at(index); }
    bool isDebriefing() const { return m_debriefing; }

    // Clock time: every flight at its own time. By take-off: each flight moved so that
    // its take-off falls on the first flight's (the barograms and the gliders alike).
    void setAlignment(Alignment alignment);
    Alignment alignment() const { return m_alignment; }
    // Seconds added to a flight's own times to place it on the window's time axis.
    std::int64_t timeShift(std::size_t index) const;

    // Times in UTC or at the first flight's take-off's local time; figures in the units.
    void setUnits(UnitSystem units, bool timesInUtc);

    // The figures' text as shown: row by Figure, column by flight ("–" while the
    // debrief is worked out or where the flight has no such figure).
    QString figureCell(Figure figure, std::size_t flight) const;
    // The shared thermals found once every debrief is in, and their table: the start,
    // per flight its climb and gain (the fastest marked), and by how much it was faster.
    const std::vector<analysis::SharedThermal>& sharedThermals() const { return m_shared; }
    // Under the tables: the debriefs' progress, how many thermals were shared and the
    // files that could not be read.
    const QLabel& status() const { return *m_status; }

    MapView& map() { return *m_map; }
    BarogramView& barogram() { return *m_barogram; }
    QComboBox& alignChoice() { return *m_align; }
    QTableWidget& figuresTable() { return *m_figuresTable; }
    QTableWidget& sharedThermalsTable() { return *m_sharedTable; }
    // The pilots' legend above the map: a swatch of each flight's colour, pilot, glider.
    QLabel& legend() { return *m_legend; }
    TrackLayer& trackLayer(std::size_t index) { return *m_trackLayers.at(index); }
    GliderLayer& gliderLayer() { return *m_gliders; }
    ReplayBar& replayBar() { return *m_replay; }
    QPushButton& exportKmzButton() { return *m_exportKmz; }

    // "Export KMZ…": the flights written into one KMZ file by whoever sets this (the
    // KMZ writer lives elsewhere); the button stays disabled until it is set.
    void setExportKmz(std::function<void(CompareWindow&)> exportKmz);
    // The map's view over every track (as the window opens).
    void fitTracks();

signals:
    // Every flight's debrief is in (or could not be made) and the tables are filled.
    void debriefsReady();

private:
    void closeEvent(QCloseEvent* event) override;
    void startDebriefs();
    void showBarograms();
    void fillFiguresTable();
    void fillSharedTable();
    void setReplayTime(double time);
    std::optional<int> clockOffset() const;
    // " missing.igc is left out: …." for each file that could not be read.
    QString loadErrors() const;

    std::vector<Compared> m_flights;
    Alignment m_alignment { Alignment::ClockTime };
    UnitSystem m_units { UnitSystem::Metric };
    bool m_timesInUtc { true };
    std::vector<analysis::SharedThermal> m_shared;
    // The flight the others are laid beside: the first whose file could be read. Its
    // barogram carries the cursor and its glider the map's view.
    std::size_t m_lead { 0 };
    bool m_debriefing { false };

    MapView* m_map { nullptr };
    std::vector<std::shared_ptr<TrackLayer>> m_trackLayers;
    std::vector<std::shared_ptr<MarkersLayer>> m_markers;
    MapRect m_tracksBounds;
    QLabel* m_legend { nullptr };
    std::shared_ptr<GliderLayer> m_gliders;
    BarogramView* m_barogram { nullptr };
    QComboBox* m_align { nullptr };
    QTableWidget* m_figuresTable { nullptr };
    QTableWidget* m_sharedTable { nullptr };
    QLabel* m_status { nullptr };
    ReplayBar* m_replay { nullptr };
    QPushButton* m_exportKmz { nullptr };
    std::function<void(CompareWindow&)> m_exportKmzHook;

    DiscardingLogSink m_workLog;
    BackgroundWork m_debriefWork;
};

} // namespace corvex::library
