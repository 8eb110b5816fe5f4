#pragma once

#include "device/InstrumentSession.h"
#include "library/ui/LibraryWindow.h"
#include "platform/OperationContext.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

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
    // Every flight of the instrument that the library lacks, under the caller's lease,
    // its progress in the context. Returns the outcome's summary line.
    QString sync(InstrumentSession::Lease& lease, const std::string& programVersion, const OperationContext& context);

private:
    void preferencesChanged();

    PreferencesStore& m_preferences;
    LogSink& m_log;
    AlertPresenter& m_alerts;
    std::unique_ptr<library::FlightLibrary> m_library;
    std::string m_openFolder;
    QPointer<library::LibraryWindow> m_window;
    HttpClient* m_mapTiles { nullptr };
    std::shared_ptr<MapBaseLayer> m_mapBaseLayer; // one tile cache for every flight window
};

// "2 new flights saved into the library" and its kin, for the status line.
QString syncSummary(const library::SyncOutcome& outcome);

} // namespace corvex
