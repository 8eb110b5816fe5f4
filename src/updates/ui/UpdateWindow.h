#pragma once

#include "base/Bytes.h"
#include "updates/OfferedDownload.h"
#include "updates/AvailableUpdates.h"
#include "updates/FirmwareInstallation.h"
#include "updates/ProgramFolder.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class UpdateWindow;
}

namespace corvex {

class AlertPresenter;
class CorvexDevice;
class EventLoopTurner;
class ProgressSink;
class HttpClient;
class InstrumentSession;
class LogSink;
class PreferencesStore;
class ProcessLauncher;
class SoftwareUpdateInstaller;
class UpdateChecker;
class URLConnection;
struct DesktopNotification;

// The update window: which software and firmware updates the vendor's server offers,
// in release or beta mode, and the downloads and installations started from it. It
// lives for the whole run; the application controller shows it from the menus and asks
// it to check for updates on every connection.
//
// The operations are spread over three files: the check and the window itself
// (UpdateWindow.cpp), the firmware download and installation (UpdateWindowFirmware.cpp)
// and the software download and installation (UpdateWindowSoftware.cpp).
class UpdateWindow final : public QWidget {
    Q_OBJECT

public:
    // The caller keeps every object alive for as long as the window lives; all but
    // preferences and log may be null.
    struct Environment {
        PreferencesStore* preferences { nullptr };
        LogSink* log { nullptr };
        AlertPresenter* alerts { nullptr };
        // The short turns of the event loop (before a check, between firmware lines);
        // a nested QEventLoop without one.
        EventLoopTurner* eventLoop { nullptr };
        // The feed and the downloads; the window makes its own client without one.
        HttpClient* http { nullptr };
        // Posts the "updates are available" notification; without one nothing is
        // posted (no notification service).
        std::function<void(const DesktopNotification&)> postNotification {};
        // The running program's version as the feed's entries are compared with it;
        // QCoreApplication::applicationVersion() when empty.
        std::string programVersion {};
        // The main window's status line, for what the instrument is busy with during a
        // firmware installation; an empty text gives the line back.
        std::function<void(const QString&)> showStatus {};
        // Where the log-book backup before an erasing firmware update goes; empty: the
        // user's data folder.
        std::string logBookBackupsRoot {};
    };

    // The modal panels and the hand-offs to the desktop. The window shows dialogs and
    // opens the browser; tests answer and record.
    struct Panels {
        // The chosen firmware file ("s19"), or nothing when the user cancelled.
        std::function<std::optional<QString>()> openFirmwareFile {};
        // Opens an address in the user's browser.
        std::function<void(const QString& url)> openUrl {};
    };

    // Where a software update goes and how the program hands over to the helper. Empty
    // fields take the running program's: its folder, the private working directory,
    // posix_spawn and QCoreApplication::quit. Tests point it at a temporary prefix.
    struct SoftwareInstallation {
        std::optional<ProgramFolder> programFolder {};
        std::string workingDirectory {}; // the stem; each installation adds a random suffix
        ProcessLauncher* processes { nullptr };
        std::function<void()> terminateApplication {};
        // The process the helper waits for; 0 for this one.
        pid_t processId { 0 };
    };

    explicit UpdateWindow(Environment environment, QWidget* parent = nullptr);
    ~UpdateWindow() override;

    Ui::UpdateWindow& ui() { return *m_ui; }
    void setPanels(Panels panels);
    void setSoftwareInstallation(SoftwareInstallation installation) { m_softwareInstallation = std::move(installation); }

    // The instrument, borrowed for each installation.
    void setSession(InstrumentSession* session) { m_session = session; }
    InstrumentSession* session() const { return m_session; }
    CorvexDevice* device() const;

    // A firmware installation that asks for the log book to be erased sets this; the
    // next connection clears it and, when the new firmware took, erases.
    bool isLogBookEraseScheduledForNextDeviceConnect() const { return m_isLogBookEraseScheduledForNextDeviceConnect; }
    void setIsLogBookEraseScheduledForNextDeviceConnect(bool scheduled)
    {
        m_isLogBookEraseScheduledForNextDeviceConnect = scheduled;
    }

    // Set by the application controller before it shows the window.
    bool isBetaVersionUpdateWindow() const { return m_isBetaVersionUpdateWindow; }
    void setIsBetaVersionUpdateWindow(bool beta) { m_isBetaVersionUpdateWindow = beta; }

    // The outcome of the last completed check; absent until one completes, never
    // cleared.
    const std::optional<AvailableUpdates>& lastCheckedAvailableUpdates() const { return m_lastCheckedAvailableUpdates; }

    // The running downloads, kept so that Cancel and a removed instrument stop them.
    const std::shared_ptr<URLConnection>& firmwareDownloadConnection() const { return m_firmwareDownloadConnection; }
    const std::shared_ptr<URLConnection>& softwareDownloadConnection() const { return m_softwareDownloadConnection; }

    // The update sheet: a window-modal dialog with a label, a 0-100 progress bar and
    // Cancel, for the downloads and the firmware installation.
    QDialog* updateSheet() const { return m_updateSheet; }
    QLabel* updateSheetLabel() const { return m_updateSheetLabel; }
    QProgressBar* updateSheetProgressBar() const { return m_updateSheetProgressBar; }
    QPushButton* updateSheetCancelButton() const { return m_updateSheetCancelButton; }

    // How many checks were started, for the controller's tests.
    int checkUpdatesRequests() const { return m_checkUpdatesRequests; }

    // The whole check, started on every connection: the feed is read in the background
    // and the outcome stored, shown and, for a release update, announced.
    void checkUpdates();
    // Reads the feed and hands the outcome to the callback on a later turn of the loop;
    // returns at once. The model is the connected device's.
    void checkUpdatesAvailableForCurrentSwVer(const std::string& currentSoftwareVersion,
        const std::string& currentFirmwareVersion, std::function<void(const AvailableUpdates&)> asyncronousCheckCompleted);
    // Title, labels and buttons for the window's mode; with no outcome the window goes
    // off the screen.
    void updateUIBasedOnAvailableUpdates(const std::optional<AvailableUpdates>& availableUpdates);

    // Shows the window refreshed from the last check.
    void showWindow();

    void showUpdateSheetWithText(const QString& text, bool enableCancel);
    void hideUpdateSheet();

    // The instrument went away: any download stops.
    void deviceDisconnected();
    // Another operation holds the instrument (or has given it back): the firmware
    // button is greyed meanwhile. The window's own installation covers it with its sheet.
    void setInstrumentBusy(bool busy);

    // Firmware (UpdateWindowFirmware.cpp).
    // A download comes with what the feed offered it as. The file is compared with the
    // instrument and the offer first: a refused one is alerted, an older version than
    // the instrument runs is asked about (Cancel is the default), and only then is the
    // pilot warned of an offered update that erases the log book.
    void installFirmwareFromData(const std::optional<Bytes>& data, const std::optional<FirmwareOffer>& offer = std::nullopt);
    // An installation went in and the instrument is to come back from its restart.
    bool isInstallationAwaitingRestart() const { return m_installationAwaitingRestart.has_value(); }
    // The instrument is back, its device info read: whether the installation took and,
    // when it did and the update erases the log book, the erase; each told the user.
    void instrumentRestarted(InstrumentSession::Lease& lease);

    // Software (UpdateWindowSoftware.cpp).
    // `expectedSha256`: the digest the feed announced for the package, if any.
    void installSoftwareUpdateFromDataAndRelaunchApp(const Bytes& data, const std::optional<std::string>& expectedSha256 = std::nullopt);
    // Unpacks the archive into its own folder; whether that worked.
    bool unzipFile(const QString& path);

public slots:
    void notifyWhenUpdatesAvailableCheckboxClicked();
    void updateSheetCancelButtonPressed();
    void closeButton();
    void downloadFirmwareUpdateButton();
    void updateFirmwareFromAFile();
    void downloadSoftwareUpdateButton();
    void manuallyDownloadLatestSoftware();

private:
    class InstallationProgress;
    friend class InstallationProgress;

    void buildUpdateSheet();
    void cancelDownloads();
    void runEventLoopFor(double seconds);
    std::string currentSoftwareVersion() const;
    std::string currentFirmwareVersion() const;
    // The model the check compares for: the connected one, else the first row.
    InstrumentGeneration connectedModel() const;
    std::string versionsFeedUrl() const;
    HttpClient& http();
    // An offered file as the downloads fetch it: the vendor server the user set and the
    // trusted signing keys of the preferences and the environment.
    OfferedFile offeredFile(std::string url, std::optional<std::string> sha256, std::optional<std::string> signature,
        std::uint64_t maximumBytes) const;
    class UnpackingProgress;
    friend class UnpackingProgress;
    SoftwareUpdateInstaller softwareUpdateInstaller(ProgressSink* progress = nullptr);
    void openUrl(const std::string& url);

    std::unique_ptr<Ui::UpdateWindow> m_ui;
    Environment m_environment;
    Panels m_panels;
    std::unique_ptr<HttpClient> m_ownHttp;
    std::unique_ptr<UpdateChecker> m_checker;
    InstrumentSession* m_session { nullptr };
    std::optional<FirmwareInstallationResult> m_installationAwaitingRestart;
    std::shared_ptr<URLConnection> m_firmwareDownloadConnection;
    std::shared_ptr<URLConnection> m_softwareDownloadConnection;
    bool m_isBetaVersionUpdateWindow { false };
    bool m_isLogBookEraseScheduledForNextDeviceConnect { false };
    std::optional<AvailableUpdates> m_lastCheckedAvailableUpdates;
    // Why the last check found nothing, empty when it read the feed.
    std::string m_lastCheckFailure;
    // Whether the last check offered firmware, for the button after a busy spell.
    bool m_firmwareOffered { false };
    bool m_instrumentBusy { false };
    SoftwareInstallation m_softwareInstallation;
    std::shared_ptr<ProcessLauncher> m_ownProcesses;
    int m_checkUpdatesRequests { 0 };

    QDialog* m_updateSheet { nullptr };
    QLabel* m_updateSheetLabel { nullptr };
    QProgressBar* m_updateSheetProgressBar { nullptr };
    QPushButton* m_updateSheetCancelButton { nullptr };
};

} // namespace corvex
