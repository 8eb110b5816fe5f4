#pragma once

#include "analysis/AirspaceCheck.h"
#include "analysis/FlightDebrief.h"
#include "base/Units.h"
#include "flights/ContestScore.h"
#include "library/LibraryFlight.h"
#include "map/MapTrack.h"
#include "map/Replay.h"
#include "platform/LogSink.h"
#include "platform/OffThread.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvex {
class ContestLayer;
class GliderLayer;
class LegendLayer;
class MapView;
class MarkersLayer;
class ReliefLayer;
class TrackLayer;
class WindLayer;
class ZoneLayer;
}

namespace corvex::library {

class BarogramView;
class FlightLibrary;
class ReplayBar;

// One flight: its track on the map (coloured by altitude or climb, take-off and landing
// marked), its barogram below, its figures above, and one cursor for both: hovering
// the barogram moves a marker along the track, clicking the track shows that moment
// on the barogram.
//
// The contest score is worked out beside the window, which opens at once and says
// "Scoring…" until the legs can be drawn. Checked against an OpenAir file, the flight's
// stays in airspaces are drawn on the track and the barogram and listed, with the
// airspaces near the track on the map.
//
// The debrief (thermals, failed attempts, glides, the wind) is worked out beside the
// window too: listed beside the map, thermals as bands on the barogram and the wind as
// arrows at the thermals. Choosing a stretch in the list draws it strongly on the map
// and the barogram and puts the cursor at its start; pointing at a thermal on the map
// names it.
//
// The replay bar under the barogram plays the flight again from take-off to landing: the
// glider moves along the track with its trail, the barogram's cursor and the fix's
// figures follow it, and the map keeps it in view until the pilot moves the map.
class FlightWindow final : public QWidget {
    Q_OBJECT
public:
    // What the airspace check found, kept for the window's own drawing and the tests.
    struct AirspaceFindings {
        QString path;
        QString error; // set when the file could not be used; the rest is then empty
        openair::ParseResult parsed;
        analysis::AirspaceCheck check;
        std::vector<std::size_t> near; // into parsed.airspaces
    };

    // How far around the track's box the map shows airspaces.
    static constexpr double nearAirspaceMarginMetres = 5000;
    // What the airspace check takes from the preferences: the terrain folder for limits
    // above ground, and the pilot's tolerances.
    struct AirspaceCheckSettings {
        std::optional<std::string> terrainFolder;
        analysis::AirspaceTolerance tolerance;
    };

    FlightWindow(FlightLibrary& library, const LibraryFlight& flight, QWidget* parent = nullptr);
    ~FlightWindow() override;

    // Set when the file could not be read; the window then says so instead of a map.
    const QString& loadError() const { return m_loadError; }
    const TrackPoints& track() const { return *m_track; }
    MapView& map() { return *m_map; }
    BarogramView& barogram() { return *m_barogram; }
    MarkersLayer& markers() { return *m_markers; }
    TrackLayer& trackLayer() { return *m_trackLayer; }
    ContestLayer& contestLayer() { return *m_contestLayer; }
    ZoneLayer& nearAirspacesLayer() { return *m_nearAirspaces; }
    // The relief under everything, with the program's terrain (TerrainSource); the
    // barogram's ground comes from the same tiles.
    ReliefLayer& reliefLayer() { return *m_relief; }
    bool isFindingGround() const { return m_findingGround; }
    ZoneLayer& airspaceLabelsLayer() { return *m_airspaceLabels; }
    ZoneLayer& crossingsLayer() { return *m_crossings; }
    QTreeWidget& crossingsList() { return *m_crossingsList; }
    // The figures of the score (type, distance, …): "Scoring…" until it is known.
    QString scoreText() const;
    const QLabel& airspaceStatus() const { return *m_airspaceStatus; }

    // Nothing while scoring or when the flight has no score.
    const std::optional<flights::ContestScore>& score() const { return m_score; }
    bool isScoring() const { return m_scoring; }
    const std::optional<AirspaceFindings>& airspaceFindings() const { return m_airspaceFindings; }

    // The debrief, nothing until it is worked out (or for a file that cannot be read).
    const std::optional<analysis::FlightDebrief>& debrief() const { return m_debrief; }
    bool isDebriefing() const { return m_debriefing; }
    // The lists beside the map: thermals, failed attempts, glides, as tabs in that order.
    enum class StretchKind { Thermal, FailedAttempt, Glide };
    QTabWidget& debriefTabs() { return *m_debriefTabs; }
    QTreeWidget& stretchList(StretchKind kind) { return *m_stretchLists[static_cast<int>(kind)]; }
    QLabel& debriefSummary() { return *m_debriefSummary; }
    // Chooses a stretch as a click in its list does (its index in the debrief's own order).
    void selectStretch(StretchKind kind, std::size_t index);
    ZoneLayer& highlightLayer() { return *m_highlight; }
    WindLayer& windLayer() { return *m_wind; }
    LegendLayer& legendLayer() { return *m_legend; }
    ReplayBar& replayBar() { return *m_replayBar; }
    GliderLayer& gliderLayer() { return *m_gliders; }
    // The fix's figures as the label beside the map shows them.
    QString fixText() const;
    // Which small graph the barogram shows under the altitude, and which altitude it is.
    QComboBox& graphChoice() { return *m_graphChoice; }
    const QLabel& altitudeKind() const { return *m_altitudeKind; }
    // What pointing at this pixel of the map names: "Thermal 3: +640 m, 2.1 m/s, right";
    // empty away from the thermals and failed attempts.
    QString stretchTipAt(QPointF mapPixel) const;
    bool isCheckingAirspaces() const { return m_checkingAirspaces; }

    // Reads the OpenAir file and checks the flight against it beside the window; a
    // later call replaces an earlier one whose answer has not come yet.
    void setAirspaceFile(const QString& openAirPath);
    // Asks for an OpenAir file and checks against it ("Check Against Airspaces…").
    void chooseAirspaceFile();
    // Which OpenAir file to open, asked of the user; a test answers without a dialog.
    std::function<QString()> chooseOpenAirFile;

    // The figures, the barogram and the cursor's fix in the units, the times in UTC or
    // at the take-off's local time (the file's zone, else the computer's). A window
    // made without it shows metric and UTC.
    void setUnits(UnitSystem units, bool timesInUtc);
    // For the next check against airspaces; a window made without it checks without
    // terrain and without tolerances.
    void setAirspaceCheckSettings(AirspaceCheckSettings settings) { m_airspaceSettings = std::move(settings); }
    // The figures' texts as shown, for the tests: "Take-off:", "Track:"…
    QString figureText(const QString& label) const;

    // The pilot's words about the flight after an edit.
    void showEdited(const LibraryFlight& flight);
    QPushButton& editButton() { return *m_editButton; }

    // Puts the shared cursor on a fix (the barogram's hover and the map's click end here).
    void showFix(std::size_t index);
    // The fix of the track nearest to a place, for a click on the map.
    std::optional<std::size_t> nearestFix(double latitude, double longitude) const;

signals:
    void scoreReady();
    // The ground under the track was looked up (or dropped with the terrain).
    void groundReady();
    void debriefReady();
    void airspaceCheckReady();
    // The user chose an OpenAir file and the flight was checked against it: the library
    // may keep it. A file that cannot be used is not announced.
    void airspaceFileChosen(QString path);
    // "Edit…": the library window asks for the edit and keeps it (showEdited follows).
    void editRequested();

private:
    void closeEvent(QCloseEvent* event) override;
    void showReplayTime(double time);
    void showFixLabel(std::size_t index, std::optional<GliderState> replayed);
    QWidget* figuresPanel(const LibraryFlight& flight);
    void startScoring();
    void showScore(std::optional<flights::ContestScore> score);
    void showAirspaceFindings(AirspaceFindings findings);
    void startDebrief();
    void showDebrief(analysis::FlightDebrief debrief, analysis::FlightSeries series);
    void fillStretchLists();
    void showStretch(QTreeWidgetItem* item);
    void showLegend();
    void showGraph();
    // Takes the program's terrain: the relief and the ground under the track.
    void applyTerrain();
    QString stretchTip(StretchKind kind, std::size_t index) const;

    std::shared_ptr<TrackPoints> m_track;
    std::shared_ptr<const flights::IgcFlight> m_igc;
    QString m_loadError;
    MapView* m_map { nullptr };
    std::shared_ptr<TrackLayer> m_trackLayer;
    std::shared_ptr<MarkersLayer> m_markers;
    BarogramView* m_barogram { nullptr };
    QComboBox* m_coloring { nullptr };
    QLabel* m_fixLabel { nullptr };

    std::shared_ptr<ContestLayer> m_contestLayer;
    std::optional<flights::ContestScore> m_score;
    std::size_t m_part { 0 }; // which flight of its file the window shows
    std::optional<flights::ScoredTrack> m_scoredTrack; // the pilot's choice
    // The score worked out here, with its legs on the map: the first of the pilot's rule
    // sets, as the library's table shows it; the others are shown as the library stored them.
    const flights::ContestRuleSet* m_liveRules { nullptr };
    bool m_scoring { false };
    QFormLayout* m_scoreForm { nullptr };
    QLabel* m_scoreType { nullptr };
    QLabel* m_scoreDistance { nullptr };
    QLabel* m_scoreMultiplier { nullptr };
    QLabel* m_scorePoints { nullptr };
    QLabel* m_scoreGap { nullptr };
    QLabel* m_scoredPart { nullptr };

    std::shared_ptr<ZoneLayer> m_nearAirspaces; // their outlines, under the track
    std::shared_ptr<ZoneLayer> m_airspaceLabels; // the same airspaces' labels, over it
    std::shared_ptr<ZoneLayer> m_crossings;
    QPushButton* m_checkAirspaces { nullptr };
    QPushButton* m_editButton { nullptr };
    void showFigures();
    LibraryFlight m_flight; // as it came, for the figures in other units
    std::string m_path; // its file, for its time zone
    UnitSystem m_units { UnitSystem::Metric };
    std::optional<int> m_clockOffsetMinutes; // nothing: UTC
    std::vector<std::pair<QString, QLabel*>> m_figures; // by their row's title
    QFormLayout* m_flightForm { nullptr };
    QLabel* m_pilotValue { nullptr };
    QLabel* m_gliderValue { nullptr };
    QLabel* m_siteValue { nullptr };
    QLabel* m_airspaceStatus { nullptr };
    QTreeWidget* m_crossingsList { nullptr };
    std::optional<AirspaceFindings> m_airspaceFindings;
    AirspaceCheckSettings m_airspaceSettings;
    bool m_checkingAirspaces { false };
    // Which check's answer is awaited: an answer of a check that another file replaced
    // is dropped.
    std::uint64_t m_airspaceCheck { 0 };
    // The file the user chose, announced once the check has run with it.
    QString m_chosenAirspaceFile;

    std::optional<analysis::FlightDebrief> m_debrief;
    analysis::FlightSeries m_series;
    bool m_debriefing { false };
    std::vector<MapPoint> m_trackMapPoints; // for pointing at a stretch
    QTabWidget* m_debriefTabs { nullptr };
    QTreeWidget* m_stretchLists[3] { nullptr, nullptr, nullptr };
    QLabel* m_debriefSummary { nullptr };
    QComboBox* m_graphChoice { nullptr };
    QLabel* m_altitudeKind { nullptr };
    std::shared_ptr<ZoneLayer> m_highlight;
    std::shared_ptr<WindLayer> m_wind;
    std::shared_ptr<LegendLayer> m_legend;
    std::shared_ptr<ReliefLayer> m_relief;
    bool m_pressureAltitude { false }; // the barogram's datum: pressure, else GNSS
    bool m_findingGround { false };
    ReplayBar* m_replayBar { nullptr };
    std::shared_ptr<GliderLayer> m_gliders;

    // The score and the check run beside the window; closing it cancels them and waits
    // for their end, so nothing runs on for a window that is gone. They log nothing.
    DiscardingLogSink m_workLog;
    BackgroundWork m_scoreWork;
    BackgroundWork m_airspaceWork;
    BackgroundWork m_debriefWork;
    BackgroundWork m_groundWork;
};

} // namespace corvex::library
