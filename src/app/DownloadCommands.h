#pragma once

#include "export/TrackLogExport.h"

#include <QString>

#include <functional>
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
    TrackLogExport exporter() const;
    void downloadAllTracklogs();
    void runEventLoopFor(double seconds);

    Environment m_environment;
};

} // namespace corvex
