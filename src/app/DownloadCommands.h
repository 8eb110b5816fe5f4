#pragma once

#include "device/CorvexDevice.h"
#include "export/TrackLogExport.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace corvex {

class AlertPresenter;
class CorvexDevice;
class EventLoopTurner;
class FilePanelPresenter;
class LogSink;
class MainWindow;

// The main window's track-log and log-book downloads: the flight list's selection, the
// file panels and the please-wait sheet around the shared export code, which reads the
// instrument and builds the file texts.
class DownloadCommands {
public:
    struct Environment {
        MainWindow* window { nullptr };
        CorvexDevice* device { nullptr };
        AlertPresenter* alerts { nullptr };
        LogSink* log { nullptr };
        FilePanelPresenter* panels { nullptr };
        EventLoopTurner* eventLoop { nullptr }; // may be null: a local loop runs instead
        std::function<void(const QString&)> showSheetWithText;
        std::function<void()> hideSheet;
        // The sheet's progress under its text: the share done (none while unknown)
        // and a line of detail.
        std::function<void(std::optional<double> fraction, const QString& detail)> setSheetProgress;
        std::string programVersion;
    };

    explicit DownloadCommands(Environment environment);

    void setFilePanelPresenter(FilePanelPresenter* panels) { m_environment.panels = panels; }

    void downloadTracklog();
    void downloadAllTracklogsAltogether();
    void downloadAllTracklogsAltogetherV2();
    void downloadLogbook();

    // The export-format chooser: column 0 is KML, any other IGC.
    TrackLogFileFormat wantedFormat() const;

private:
    TrackLogExport exporter();
    // While a command reads flights: each step's progress in the sheet, and the
    // windows kept painted (the event loop turned at most every 50 ms).
    void watchTransfers();
    void unwatchTransfers();
    void transferStep(std::size_t bytesReceived, std::optional<double> fraction);

    // The share of an all-flights export done before the flight in transfer, and the
    // share of that flight.
    double m_flightsBefore { 0 };
    double m_flightShare { 1 };
    std::chrono::steady_clock::time_point m_lastTurn;
    // The device's progress before a command took it over, given back afterwards.
    CorvexDevice::TransferProgress m_previousTransferProgress;
    void downloadAllTracklogs();
    void runEventLoopFor(double seconds);

    Environment m_environment;
};

} // namespace corvex
