#pragma once

#include "device/CorvexDevice.h"
#include "device/InstrumentSession.h"
#include "platform/OperationContext.h"
#include "platform/qt/ApplicationBus.h"
#include "platform/qt/DesktopNotifier.h"
#include "updates/LogBookBackup.h"

#include <QColor>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMessageBox;
class QWidget;

namespace corvex {

class AirspacesWindow;
class AlertPresenter;
class DownloadCommands;
class EventLoopTurner;
class FilePanelPresenter;
class HelpWindow;
class HttpClient;
class TerrainSource;
class LibraryController;
class LogSink;
class MainWindow;
class PilotDataWindowController;
class PleaseWaitSheet;
class PreferencesStore;
class SerialDeviceDiscovery;
class SerialPortOpener;
class UpdateWindow;
class UserPreferencesWindow;
class UsbResetter;

// The application controller: owns the one CorvexDevice for the whole run, fills the
// main window from what the instrument reports when it arrives, returns the window to
// its idle state when it goes, and routes the menu commands to the secondary windows.
class AppDelegate final : public QObject,
                          public CorvexDeviceDelegate,
                          public DesktopNotifierDelegate,
                          public ApplicationBusDelegate {
    Q_OBJECT

public:
    // The platform services the controller and its device use. The caller keeps them
    // alive for as long as the controller lives; notifier, usbReset and eventLoop may be
    // null.
    struct Environment {
        LogSink* log { nullptr };
        AlertPresenter* alerts { nullptr };
        SerialPortOpener* ports { nullptr };
        SerialDeviceDiscovery* discovery { nullptr };
        UsbResetter* usbReset { nullptr };
        PreferencesStore* preferences { nullptr };
        DesktopNotifier* notifier { nullptr };
        EventLoopTurner* eventLoop { nullptr };
        // Fetches the airspaces map's tiles; without one the map shows its offline
        // geography (tests, which reach no tile server).
        HttpClient* mapTiles { nullptr };
        // The versions feed and the update downloads; the update window makes its own
        // client without one.
        HttpClient* updatesHttp { nullptr };
        // Alerts over a given window, for the windows that must not have theirs open
        // over the main window behind them; without it they use `alerts`.
        std::function<std::unique_ptr<AlertPresenter>(QWidget* window)> alertsOverWindow;
        // The registered defaults, a property list.
        QString initialDefaultsPath { QStringLiteral(":/InitialDefaults.plist") };
    };

    AppDelegate(MainWindow& window, Environment environment, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch sequence; the application loop calls it once the main window exists.
    void applicationDidFinishLaunching();
    void initializeUserPreferencesWithDefaultValues();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    // CorvexDeviceDelegate: the connect and disconnect sequences.
    void deviceConnected() override;
    void deviceDisconnected() override;
    void deviceCouldNotBeOpened(const DeviceError& error) override;

    void updateBatteryIndicator();

    // The please-wait sheet over the main window, for long instrument reads.
    void showSheetWithText(const QString& text);
    void hideSheet();

    // DesktopNotifierDelegate.
    bool shouldPresentNotification(const DesktopNotification& notification) override;
    void didActivateNotification(const DesktopNotification& notification) override;

    // ApplicationBusDelegate: a second start of the program and the desktop's launchers.
    void applicationActivated() override;
    void applicationActionActivated(const QString& name) override { performLauncherAction(name); }

    // Shows, un-minimises, raises and activates the main window.
    void bringMainWindowForward();
    // The launcher actions of the desktop entry: "save-all-flights", "manage-airspaces",
    // "check-for-updates". One that needs the instrument waits until it is connected
    // and free; a newer one replaces it meanwhile. Unknown names only bring the window
    // forward.
    void performLauncherAction(const QString& name);
    static QStringList launcherActionNames();

    CorvexDevice* device() const { return m_device.get(); }
    MainWindow& window() const { return m_window; }
    UpdateWindow* updateWindowController() const { return m_updateWindowController.get(); }
    AirspacesWindow* airspacesWindowController() const { return m_airspacesWindowController.get(); }
    UserPreferencesWindow* userPreferencesWindow() const { return m_userPreferencesWindow.get(); }
    PleaseWaitSheet* pleaseWaitSheet() const { return m_pleaseWaitSheet; }
    // The flight library: its window, and the sync after each connection.
    LibraryController* libraryController() const { return m_libraryController.get(); }
    // The pilot-data sheet, made with the main window.
    PilotDataWindowController* pilotDataWC() const { return m_pilotDataWC; }
    // Made when first asked for.
    HelpWindow* helpWindow() const { return m_helpWindow; }
    QMessageBox* aboutBox() const { return m_aboutBox.get(); }
    // The file panels of the download commands: file dialogs unless a test answers them.
    void setFilePanelPresenter(FilePanelPresenter* panels);
    // The one owner of the instrument: every command borrows it for its whole length.
    // Made with the device when the program has launched.
    InstrumentSession* instrumentSession() const { return m_session.get(); }
    // Where log-book backups go before an erase: <user data folder>/Corvex/backups
    // unless set (tests).
    void setLogBookBackupsRoot(std::string root) { m_logBookBackupsRoot = std::move(root); }
    std::string backupsRoot() const;

public slots:
    void userDefaultsChangedNotification();
    void logEntriesComboItemSelected(int index);
    void eraseButtonPressed();
    void upgradeMenuClicked();
    void upgradeBetaMenuClicked();
    void airspacesManageMenuClicked();
    void airspacesClearMenuClicked();
    void userPreferencesWindowMenuItemClicked();
    // The Help menu: the manual page in a window of its own, and the About box over
    // the main window (window-modal, as every sheet of it).
    void helpMenuItemClicked();
    void aboutMenuItemClicked();
    // The track-log and log-book downloads (DownloadCommands) and the pilot-data sheet.
    void downloadTracklog();
    void downloadLogbook();
    void editPilotData();
    // The sheet has ended: 1 writes the form into the instrument and reads it back.
    void didEndEditPilotDataSheet(int returnCode);
    // "Save New Flights Now" (the File menu, the library window): the sync of a
    // connection, whatever the preference says, while the instrument is connected.
    void saveNewFlightsNow();

private:
    void airspacesGate();
    void setWindowBackground(const QString& imageName, const QColor& fallback);
    void setInstrumentControlsLocked(bool locked);
    void instrumentBusyChanged(bool busy);
    bool instrumentIsBusy() const { return m_session && m_session->isBusy(); }
    // The instrument for one command, or nothing (logged) while another holds it: the
    // windows grey their commands meanwhile, so only a late click or a launcher
    // action comes here.
    std::optional<InstrumentSession::Lease> borrowInstrument(const char* purpose);
    // The connect sequence proper; deviceConnected defers it while a command holds
    // the instrument.
    void runConnectSequence(InstrumentSession::Lease& lease);
    std::string pilotNameFromInstrument();
    // The flight list and the status line of a connected instrument.
    void showFlights(const std::vector<FlightRecord>& flights);
    void showConnectedStatus(std::size_t flightCount);
    static std::string serialText(std::uint32_t deviceId);
    // The context of the main window's long operations: the please-wait sheet shows
    // their progress, and their sleeps turn the event loop.
    OperationContext operationContext();
    // Saves every flight, then erases; asks before an erase that would lose flights.
    LogBookEraseResult eraseLogBookWithBackup(const std::string& serial);
    void connectWindowActions();
    // Runs the launcher action that waits for the instrument, once it can.
    void runHeldLauncherAction();
    // As from the window: "All Available" in the flight list, then the download button.
    void saveAllFlights();
    // The new flights of the instrument just connected into the library, when the
    // preferences want that.
    void syncFlightLibrary();
    // Offers "Save New Flights Now" while an instrument is connected and free.
    void updateSaveNewFlightsAvailability();

    MainWindow& m_window;
    Environment m_environment;
    std::unique_ptr<CorvexDevice> m_device;
    std::unique_ptr<InstrumentSession> m_session; // made with the device
    std::unique_ptr<UpdateWindow> m_updateWindowController;
    // Outlives the window that uses it.
    std::unique_ptr<AlertPresenter> m_airspacesAlerts;
    std::unique_ptr<AirspacesWindow> m_airspacesWindowController;
    std::unique_ptr<UserPreferencesWindow> m_userPreferencesWindow;
    std::unique_ptr<LibraryController> m_libraryController;
    // The terrain the windows share (the preference "terrainFolder", $CORVEX_TERRAIN
    // over it), scanned anew when the preference changes.
    std::unique_ptr<TerrainSource> m_terrain;
    void applyTerrainFolder();
    // The serial of the instrument connected now, for the library's record of its airspaces.
    std::string m_connectedSerial;
    PleaseWaitSheet* m_pleaseWaitSheet { nullptr }; // child of the main window
    PilotDataWindowController* m_pilotDataWC { nullptr }; // child of the main window
    HelpWindow* m_helpWindow { nullptr }; // child of the main window
    std::unique_ptr<QMessageBox> m_aboutBox;
    std::unique_ptr<FilePanelPresenter> m_fileDialogPanels;
    FilePanelPresenter* m_filePanels { nullptr };
    std::unique_ptr<DownloadCommands> m_downloadCommands; // made with the device
    // Counts disconnections, so that a connect sequence can tell that the instrument
    // went away while one of its alerts was open.
    unsigned m_disconnections { 0 };
    QSet<QString> m_backgroundsReportedMissing;
    // The connect sequence has filled the window; cleared by the disconnect sequence.
    bool m_instrumentReady { false };
    QString m_heldLauncherAction;
    // An instrument arrived while a command held the line; its connect sequence runs
    // when the command ends.
    bool m_connectPending { false };
    std::string m_logBookBackupsRoot;
    // The connected instrument's status line, which a sync's summary follows.
    QString m_connectedStatus;
    // The status line before a firmware installation's own, given back after it.
    QString m_statusBeforeInstallation;
};

} // namespace corvex
