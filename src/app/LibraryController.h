#pragma once

#include "base/Bytes.h"
#include "device/InstrumentSession.h"
#include "library/ui/LibraryWindow.h"
#include "platform/LogSink.h"
#include "platform/OffThread.h"
#include "platform/OperationContext.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class AlertPresenter;
class HttpClient;
class LogSink;
class MapBaseLayer;
class PreferencesStore;

namespace library {
class FlightLibrary;
struct SyncOutcome;
}

// The desktop side of the flight library: opens it where the preferences say, shows
// its window, and saves the new flights of an instrument that was just plugged in
// (the same sequence as `corvex sync`), telling the user on the status line.
class LibraryController final : public QObject {
    Q_OBJECT
public:
    // mapTiles fetches the tiles under the flights' maps; without it they show the
    // offline geography.
    LibraryController(PreferencesStore& preferences, LogSink& log, AlertPresenter& alerts, HttpClient* mapTiles = nullptr,
        QObject* parent = nullptr);
    ~LibraryController() override;

    // Opened on first use; nothing (after an alert) when the folder cannot be used.
    library::FlightLibrary* library();
    void showWindow();
    library::LibraryWindow* window() const { return m_window; }

    bool syncsOnConnection() const;
    // "Save New Flights Now" in the window: offered while an instrument is connected
    // and free (`why` tells the pilot otherwise); asking emits saveNewFlightsRequested
    // for whoever holds the instrument to run sync().
    void setSaveNewFlightsAvailable(bool available, const QString& why = {});
    // Every flight of the instrument that the library lacks, under the caller's lease,
    // its progress in the context. Returns the outcome's summary line.
    QString sync(InstrumentSession::Lease& lease, const std::string& programVersion, const OperationContext& context);

    // The airspaces window converted an OpenAir file (kept in the library with the
    // digest of the set made from it) or uploaded a set to the instrument with this
    // serial (recorded against the file it was converted from, when there is one).
    void keepConvertedOpenAir(const QString& path, const QByteArray& openAir, const Bytes& set);
    void recordAirspacesUpload(const Bytes& set, const std::string& serial);

    // Scores the flights that have none, on a thread of its own with its own connection
    // to the index, telling the window's status line; one pass at a time, another
    // after it when flights came meanwhile.
    void scoreMissingFlights();
    // Stops the pass after the flight being scored and waits for it (at quit, or when
    // the library moves).
    void stopScoring();
    bool isScoring() const { return m_scoring.started(); }

signals:
    // A scoring pass ended, with how many flights it scored.
    void scoringFinished(std::size_t scored);
    void saveNewFlightsRequested();

private:
    void preferencesChanged();
    // The preferences `units` and `timesInUtc`, and the airspace checks' terrain folder and
    // tolerances, to the window.
    void applyUnits();
    void scoringProgressed(std::size_t done, std::size_t total);
    void scoringEnded(std::uint64_t pass, std::size_t scored, bool cancelled);

    PreferencesStore& m_preferences;
    LogSink& m_log;
    AlertPresenter& m_alerts;
    std::unique_ptr<library::FlightLibrary> m_library;
    std::string m_openFolder;
    std::vector<std::string> m_ruleSets; // the pilot's contest rule sets, as the preferences name them
    QPointer<library::LibraryWindow> m_window;
    HttpClient* m_mapTiles { nullptr };
    std::shared_ptr<MapBaseLayer> m_mapBaseLayer; // one tile cache for every flight window
    DiscardingLogSink m_scoringLog;
    BackgroundWork m_scoring;
    bool m_scoreAgain { false };
    std::uint64_t m_scoringPass { 0 }; // so that the end of a stopped pass is not taken for the next one's
    std::size_t m_scoredSinceReload { 0 };
    bool m_saveNewFlightsAvailable { false };
    QString m_saveNewFlightsUnavailable;
};

// "2 new flights saved into the library" and its kin, for the status line.
QString syncSummary(const library::SyncOutcome& outcome);

} // namespace corvex
