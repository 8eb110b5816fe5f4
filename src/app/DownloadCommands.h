#pragma once

#include "device/CorvexDevice.h"
#include "export/TrackLogExport.h"
#include "platform/OperationContext.h"

#include <QString>

#include <optional>
#include <string>

namespace corvex {

class AlertPresenter;
class CorvexDevice;
class FilePanelPresenter;
class MainWindow;
class PreferencesStore;

// The main window's track-log and log-book downloads: the flight list's selection and
// the file panels around the shared export code, which reads the instrument and builds
// the file texts. Each panel starts in the folder of the last save of its kind, and
// the main window's status line says what was saved where. The commands run through the context they are given: its progress is
// the please-wait sheet, its sleeps turn the event loop.
class DownloadCommands {
public:
    struct Environment {
        MainWindow* window { nullptr };
        CorvexDevice* device { nullptr };
        AlertPresenter* alerts { nullptr };
        FilePanelPresenter* panels { nullptr };
        // Keeps the last folder of each kind of save; none: every panel starts in the
        // documents folder.
        PreferencesStore* preferences { nullptr };
        std::string programVersion;
    };

    DownloadCommands(Environment environment, OperationContext context);

    void setFilePanelPresenter(FilePanelPresenter* panels) { m_environment.panels = panels; }

    void downloadTracklog();
    void downloadAllTracklogsAltogether();
    void downloadAllTracklogsAltogetherV2();
    void downloadLogbook();

    // The export-format chooser: column 0 is KML, any other IGC.
    TrackLogFileFormat wantedFormat() const;

private:
    TrackLogExport exporter();
    void downloadAllTracklogs();

    Environment m_environment;
    OperationContext m_context;
};

} // namespace corvex
