#include "app/AppDelegate.h"

#include "airspaces/ui/AirspacesWindow.h"
#include "app/DownloadCommands.h"
#include "app/FilePanelPresenter.h"
#include "app/FlightRecordMetaType.h"
#include "app/HelpWindows.h"
#include "app/LevelIndicator.h"
#include "app/LibraryController.h"
#include "app/MainWindow.h"
#include "app/PilotDataWindowController.h"
#include "app/PleaseWaitSheet.h"
#include "app/Resources.h"
#include "app/UserPreferencesWindow.h"
#include "device/InstrumentSession.h"
#include "device/LogBookCodec.h"
#include "device/PilotData.h"
#include "export/FlightRecordText.h"
#include "export/TrackLogExport.h"
#include "map/qt/TerrainSource.h"
#include "base/Format.h"
#include "platform/AlertPresenter.h"
#include "platform/EventLoop.h"
#include "platform/LogSink.h"
#include "platform/OperationContext.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtEventLoopTurner.h"
#include "terrain/TerrainTiles.h"
#include "ui_MainWindow.h"
#include "updates/LogBookBackup.h"
#include "updates/ui/UpdateWindow.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace corvex {

namespace {

const QString logCommunicationsKey = QStringLiteral("logCommunications");

const QString saveAllFlightsAction = QStringLiteral("save-all-flights");
const QString manageAirspacesAction = QStringLiteral("manage-airspaces");
const QString checkForUpdatesAction = QStringLiteral("check-for-updates");

const QColor connectedFallback(110, 164, 220);
const QColor disconnectedFallback(168, 172, 178);

} // namespace

AppDelegate::AppDelegate(MainWindow& window, Environment environment, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_environment(std::move(environment))
{
    initializeResources();
    m_pleaseWaitSheet = new PleaseWaitSheet(&m_window, m_environment.eventLoop);
    m_pilotDataWC = new PilotDataWindowController(&m_window);
    connect(m_pilotDataWC, &QDialog::finished, this, &AppDelegate::didEndEditPilotDataSheet);
    m_fileDialogPanels = std::make_unique<FileDialogPanelPresenter>(&m_window);
    m_filePanels = m_fileDialogPanels.get();
    if (m_environment.preferences && m_environment.log && m_environment.alerts)
        m_libraryController = std::make_unique<LibraryController>(
            *m_environment.preferences, *m_environment.log, *m_environment.alerts, m_environment.mapTiles);
    connectWindowActions();
    if (m_environment.preferences) {
        m_terrain = std::make_unique<TerrainSource>();
        TerrainSource::setProgram(m_terrain.get());
        connect(m_environment.preferences, &PreferencesStore::changed, this, &AppDelegate::applyTerrainFolder);
        applyTerrainFolder();
    }
}

void AppDelegate::applyTerrainFolder()
{
    terrain::TerrainFolderChoice choice;
    choice.preference = m_environment.preferences->stringValue(QStringLiteral("terrainFolder")).toStdString();
    if (choice.preference->empty())
        choice.preference.reset();
    m_terrain->setFolder(terrain::terrainFolder(choice));
}

AppDelegate::~AppDelegate()
{
    // The device goes first: its teardown must not reach a half-destroyed controller.
    m_session.reset();
    m_device.reset();
}

void AppDelegate::connectWindowActions()
{
    Ui::MainWindow& ui = m_window.ui();
    connect(ui.logEntriesCombo, &QComboBox::activated, this, &AppDelegate::logEntriesComboItemSelected);
    connect(ui.downloadTracklogButton, &QPushButton::clicked, this, &AppDelegate::downloadTracklog);
    connect(ui.downloadLogbookButton, &QPushButton::clicked, this, &AppDelegate::downloadLogbook);
    connect(ui.editPilotDataButton, &QPushButton::clicked, this, &AppDelegate::editPilotData);
    connect(ui.eraseLogBookMenuItem, &QAction::triggered, this, &AppDelegate::eraseButtonPressed);
    connect(ui.upgradeMenuItem, &QAction::triggered, this, &AppDelegate::upgradeMenuClicked);
    connect(ui.upgradeBetaMenuItem, &QAction::triggered, this, &AppDelegate::upgradeBetaMenuClicked);
    connect(ui.manageAirspacesMenuItem, &QAction::triggered, this, &AppDelegate::airspacesManageMenuClicked);
    connect(ui.clearAirspacesMenuItem, &QAction::triggered, this, &AppDelegate::airspacesClearMenuClicked);
    connect(ui.preferencesMenuItem, &QAction::triggered, this, &AppDelegate::userPreferencesWindowMenuItemClicked);
    connect(ui.helpMenuItem, &QAction::triggered, this, &AppDelegate::helpMenuItemClicked);
    connect(ui.aboutMenuItem, &QAction::triggered, this, &AppDelegate::aboutMenuItemClicked);
    const auto showLibrary = [this] {
        if (m_libraryController)
            m_libraryController->showWindow();
    };
    connect(ui.flightLibraryMenuItem, &QAction::triggered, this, showLibrary);
    connect(ui.flightLibraryButton, &QPushButton::clicked, this, showLibrary);
    connect(ui.saveNewFlightsMenuItem, &QAction::triggered, this, &AppDelegate::saveNewFlightsNow);
    if (m_libraryController)
        connect(m_libraryController.get(), &LibraryController::saveNewFlightsRequested, this, &AppDelegate::saveNewFlightsNow);
}

void AppDelegate::applicationDidFinishLaunching()
{
    QGuiApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());

    // Before anything reads a preference: an instrument already plugged in connects
    // inside registerForSerialDeviceNotifications below, and its sync and update check
    // must see the defaults (sync on, the vendor's host), not empty values.
    initializeUserPreferencesWithDefaultValues();

    if (m_environment.notifier && m_environment.notifier->isAvailable())
        m_environment.notifier->setDelegate(this);

    // The secondary windows do not exist yet; the sequence skips them.
    deviceDisconnected();

    CorvexDeviceEnvironment deviceEnvironment;
    deviceEnvironment.ports = m_environment.ports;
    deviceEnvironment.alerts = m_environment.alerts;
    deviceEnvironment.discovery = m_environment.discovery;
    deviceEnvironment.usbReset = m_environment.usbReset;
    deviceEnvironment.applicationVersion = QCoreApplication::applicationVersion().toStdString();
    // The device's own context serves the link alone (its sleeps stay plain); every
    // command lends it the context of the main window's operations.
    m_device = std::make_unique<CorvexDevice>(this, std::move(deviceEnvironment), OperationContext(*m_environment.log));
    m_session = std::make_unique<InstrumentSession>(*m_device);
    m_session->addBusyObserver([this](bool busy) { instrumentBusyChanged(busy); });

    DownloadCommands::Environment downloadEnvironment;
    downloadEnvironment.window = &m_window;
    downloadEnvironment.device = m_device.get();
    downloadEnvironment.alerts = m_environment.alerts;
    downloadEnvironment.panels = m_filePanels;
    downloadEnvironment.preferences = m_environment.preferences;
    downloadEnvironment.programVersion = QCoreApplication::applicationVersion().toStdString();
    m_downloadCommands = std::make_unique<DownloadCommands>(std::move(downloadEnvironment), operationContext());

    m_device->setShouldLogCommunications(m_environment.preferences->boolValue(logCommunicationsKey));

    connect(m_environment.preferences, &PreferencesStore::changed, this, &AppDelegate::userDefaultsChangedNotification);

    UpdateWindow::Environment updateEnvironment;
    updateEnvironment.preferences = m_environment.preferences;
    updateEnvironment.log = m_environment.log;
    updateEnvironment.alerts = m_environment.alerts;
    updateEnvironment.eventLoop = m_environment.eventLoop;
    updateEnvironment.http = m_environment.updatesHttp;
    if (m_environment.notifier) {
        DesktopNotifier* notifier = m_environment.notifier;
        // Skipped where no notification service answers.
        updateEnvironment.postNotification = [notifier](const DesktopNotification& notification) {
            if (notifier->isAvailable())
                notifier->post(notification);
        };
    }
    updateEnvironment.logBookBackupsRoot = m_logBookBackupsRoot;
    updateEnvironment.showStatus = [this](const QString& text) {
        if (!text.isEmpty() && m_statusBeforeInstallation.isEmpty())
            m_statusBeforeInstallation = m_window.statusText();
        m_window.setStatusText(text.isEmpty() ? std::exchange(m_statusBeforeInstallation, QString()) : text);
    };
    m_updateWindowController = std::make_unique<UpdateWindow>(std::move(updateEnvironment));
    m_updateWindowController->setSession(m_session.get());

    AirspacesWindow::Environment airspacesEnvironment;
    airspacesEnvironment.preferences = m_environment.preferences;
    airspacesEnvironment.log = m_environment.log;
    airspacesEnvironment.alerts = m_environment.alerts;
    airspacesEnvironment.eventLoop = m_environment.eventLoop;
    airspacesEnvironment.session = m_session.get();
    airspacesEnvironment.mapTiles = m_environment.mapTiles;
    // The library keeps the OpenAir files, so that a flight is checked later against
    // what the instrument held; the airspaces layer knows nothing of the library.
    airspacesEnvironment.openAirConverted = [this](const QString& path, const QByteArray& openAir, const Bytes& set) {
        if (m_libraryController)
            m_libraryController->keepConvertedOpenAir(path, openAir, set);
    };
    airspacesEnvironment.setUploaded = [this](const Bytes& set) {
        if (m_libraryController)
            m_libraryController->recordAirspacesUpload(set, m_connectedSerial);
    };
    m_airspacesWindowController = std::make_unique<AirspacesWindow>(airspacesEnvironment);
    m_airspacesWindowController->setDevice(m_device.get());
    if (m_environment.alertsOverWindow) {
        m_airspacesAlerts = m_environment.alertsOverWindow(m_airspacesWindowController.get());
        m_airspacesWindowController->setAlerts(m_airspacesAlerts.get());
    }

    // Reports an instrument that is already plugged in before it returns.
    m_device->registerForSerialDeviceNotifications();
}

void AppDelegate::initializeUserPreferencesWithDefaultValues()
{
    if (!m_environment.preferences->registerDefaultsFromPropertyList(m_environment.initialDefaultsPath)) {
        logLine(*m_environment.log, "Cannot read the initial defaults from %s",
            m_environment.initialDefaultsPath.toUtf8().constData());
    }
}

void AppDelegate::userDefaultsChangedNotification()
{
    if (m_device)
        m_device->setShouldLogCommunications(m_environment.preferences->boolValue(logCommunicationsKey));
}

void AppDelegate::instrumentBusyChanged(bool busy)
{
    setInstrumentControlsLocked(busy);
    updateSaveNewFlightsAvailability();
    if (m_airspacesWindowController)
        m_airspacesWindowController->setInstrumentBusy(busy);
    if (m_updateWindowController)
        m_updateWindowController->setInstrumentBusy(busy);
    if (busy)
        return;
    // From the loop, not from inside the lease that ends: the connect sequence's lease
    // ends deep in the device's notification.
    if (m_connectPending)
        QTimer::singleShot(0, this, [this] {
            if (!m_connectPending || !m_device || !m_device->hasOpenLine())
                return;
            if (auto lease = borrowInstrument("connecting")) {
                m_connectPending = false;
                runConnectSequence(*lease);
            }
        });
    if (!m_heldLauncherAction.isEmpty())
        QTimer::singleShot(0, this, &AppDelegate::runHeldLauncherAction);
}

std::optional<InstrumentSession::Lease> AppDelegate::borrowInstrument(const char* purpose)
{
    if (!m_session)
        return std::nullopt;
    auto lease = m_session->borrow(purpose);
    if (!lease) {
        logLine(*m_environment.log, "Not %s: %s", purpose, lease.error().detail.c_str());
        return std::nullopt;
    }
    return std::move(*lease);
}

void AppDelegate::deviceConnected()
{
    // An instrument that arrives while a command holds the line (a replug during an
    // alert, the restart after a firmware installation) waits for that command: the
    // two sequences would interleave their frames.
    if (instrumentIsBusy()) {
        logLine(*m_environment.log, "The instrument's connect sequence waits: %s", m_session->busyMessage().c_str());
        m_connectPending = true;
        return;
    }
    auto lease = borrowInstrument("connecting");
    if (!lease)
        return;
    runConnectSequence(*lease);
}

void AppDelegate::runConnectSequence(InstrumentSession::Lease& lease)
{
    const unsigned disconnectionsAtStart = m_disconnections;
    Ui::MainWindow& ui = m_window.ui();

    ui.logEntriesCombo->clear();

    if (!m_device->initializeDevice()) {
        m_environment.alerts->showAlert(Alert { "Error initializing device", "Device initialization function returned error" });
        return;
    }

    auto info = m_device->getDeviceInfo();
    if (!info) {
        m_environment.alerts->showAlert(Alert { "Error", "Error getting device info" });
        return;
    }

    if (m_updateWindowController && m_updateWindowController->isInstallationAwaitingRestart()) {
        // Back from a firmware installation: whether it took and, when the update
        // erases the log book, the erase (its flights were saved before the update).
        m_updateWindowController->instrumentRestarted(lease);
        if (m_disconnections != disconnectionsAtStart)
            return;
    }

    if (m_updateWindowController) {
        m_updateWindowController->checkUpdates();
        // The check turns the event loop: an instrument unplugged meanwhile has already
        // put the window in its disconnected state, which must stay.
        if (m_disconnections != disconnectionsAtStart)
            return;
    }

    const std::string pilotName = pilotNameFromInstrument();
    ui.pilotNameLabel->setText(
        QStringLiteral("Pilot: %1").arg(pilotName.empty() ? QStringLiteral("Unknown") : QString::fromLatin1(pilotName)));
    ui.editPilotDataButton->show();

    ui.serialLabel->setText(QString::fromStdString(
        formatString("Serial Number: %X\nDevice Firmware: %u", info->deviceId, info->firmwareVer)));
    m_connectedSerial = serialText(info->deviceId);

    logLine(*m_environment.log, "App ver %s, device firmware ver %u",
        QCoreApplication::applicationVersion().toUtf8().constData(), info->firmwareVer);

    auto listed = m_device->listFlightsShort();
    if (!listed) {
        m_environment.alerts->showAlert(
            Alert { "Error downloading flights list", "Make sure device has the latest firmware version" });
        // The alert turned the event loop: the instrument may have gone meanwhile, and
        // the disconnect sequence has then already put the window right.
        if (m_disconnections != disconnectionsAtStart)
            return;
    }
    const std::vector<FlightRecord> flights = listed.value_or(std::vector<FlightRecord> {});

    showFlights(flights);

    setWindowBackground(QStringLiteral("CloudsBackground.tiff"), connectedFallback);

    ui.logTypeMatrix->setEnabled(true);
    ui.downloadLogbookButton->setEnabled(true);

    updateBatteryIndicator();
    ui.batteryVoltageIndicator->setEnabled(true);

    ui.logEntriesCombo->setEnabled(true);
    ui.upgradeMenuItem->setEnabled(true);
    ui.upgradeBetaMenuItem->setEnabled(true);
    ui.eraseLogBookMenuItem->setEnabled(true);

    airspacesGate();

    showConnectedStatus(flights.size());
    m_instrumentReady = true;
    updateSaveNewFlightsAvailability();
    if (m_libraryController && m_libraryController->syncsOnConnection() && listed)
        QTimer::singleShot(0, this, &AppDelegate::syncFlightLibrary);
}

void AppDelegate::syncFlightLibrary()
{
    if (!m_instrumentReady || !m_libraryController)
        return;
    auto lease = borrowInstrument("saving new flights into the library");
    if (!lease)
        return;
    // The please-wait sheet, as every long read: the flights and their progress.
    const QString summary
        = m_libraryController->sync(*lease, QCoreApplication::applicationVersion().toStdString(), operationContext());
    // After the connected status alone: a second sync replaces the first one's summary.
    if (m_instrumentReady)
        m_window.setStatusText(m_connectedStatus + " " + summary + ".");
}

void AppDelegate::saveNewFlightsNow()
{
    if (!m_instrumentReady || instrumentIsBusy()) {
        logLine(*m_environment.log, "Save New Flights Now: no instrument connected and free");
        return;
    }
    syncFlightLibrary();
}

void AppDelegate::updateSaveNewFlightsAvailability()
{
    const bool available = m_instrumentReady && !instrumentIsBusy();
    QString why;
    if (!m_instrumentReady) {
        why = tr("Plug in the instrument to save its new flights");
    } else if (!available) {
        why = QString::fromStdString(m_session->busyMessage());
        why[0] = why[0].toUpper();
    }
    QAction* item = m_window.ui().saveNewFlightsMenuItem;
    item->setEnabled(available);
    item->setToolTip(why);
    if (m_libraryController)
        m_libraryController->setSaveNewFlightsAvailable(available, why);
}

void AppDelegate::showFlights(const std::vector<FlightRecord>& flights)
{
    Ui::MainWindow& ui = m_window.ui();
    ui.logEntriesCombo->clear();
    ui.logEntriesCombo->addItem(QStringLiteral("All Available"));
    for (const FlightRecord& record : flights) {
        // How long each flight was tells the pilot's flights of one day apart.
        const long minutes = std::lround(std::max(0.0, record.duration) / 60);
        const QString duration = minutes >= 60 ? QStringLiteral("%1 h %2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'))
                                               : QStringLiteral("%1 min").arg(minutes);
        ui.logEntriesCombo->addItem(
            QString::fromStdString(recordStringTitle(record)) + QStringLiteral("    ") + duration, QVariant::fromValue(record));
    }
    ui.logEntriesCombo->setPlaceholderText(QStringLiteral("Select Tracklog"));
    ui.logEntriesCombo->setCurrentIndex(-1);

    ui.downloadTracklogButton->setEnabled(false);
}

void AppDelegate::showConnectedStatus(std::size_t flightCount)
{
    const FirmwareVersion version = m_device->firmwareVersion();
    const QString model = tr(version.modelName());
    const QString firmware = QString::fromStdString(version.text());
    const QString flights = flightCount == 0 ? tr("No flights")
        : flightCount == 1                   ? tr("1 flight")
                                             : tr("%1 flights").arg(flightCount);
    m_connectedStatus = tr("Connected to a %1 with firmware %2. %3 in the log book.").arg(model, firmware, flights);
    m_window.setStatusText(m_connectedStatus);
}

std::string AppDelegate::serialText(std::uint32_t deviceId)
{
    return formatString("%X", deviceId);
}

OperationContext AppDelegate::operationContext()
{
    OperationContext context(*m_environment.log);
    context.withProgress(m_pleaseWaitSheet);
    if (m_environment.eventLoop)
        context.withSleepsTurning(*m_environment.eventLoop);
    else
        context.withSleep([](std::chrono::milliseconds duration) {
            QtEventLoopTurner().runEventLoopFor(std::chrono::duration<double>(duration).count());
        });
    return context;
}

LogBookEraseResult AppDelegate::eraseLogBookWithBackup(const std::string& serial)
{
    LogBookBackupOptions options;
    options.alerts = m_environment.alerts;
    options.programVersion = QCoreApplication::applicationVersion().toStdString();
    options.backupsRoot = m_logBookBackupsRoot;
    options.confirmEraseWithoutBackup = [this](std::optional<std::size_t> flightsLost) {
        const std::string lost = !flightsLost ? std::string("The flights of the instrument could not be read, so none of them was saved.")
            : *flightsLost == 1            ? std::string("1 flight could not be saved and would be lost.")
                                           : formatString("%lu flights could not be saved and would be lost.",
                                                 static_cast<unsigned long>(*flightsLost));
        // "No" is the default: keeping the flights is the safe answer.
        const int answer = m_environment.alerts->showAlert(Alert {
            "The log book could not be saved", lost + " Do you want to erase the log book anyway?", { "No", "Yes" } });
        return answer == 1;
    };
    const unsigned disconnectionsAtStart = m_disconnections;
    const OperationContext context = operationContext();
    context.beginStep(readingFlightListText);
    context.progress(std::nullopt);
    LogBookEraseResult result = backUpAndEraseLogBook(*m_device, serial, options, context);
    if (!result.erased && m_disconnections == disconnectionsAtStart) {
        m_environment.alerts->showAlert(Alert { "The log book was not erased",
            result.backupFolder ? "The flights that could be read were saved in " + *result.backupFolder + "." : std::string(" ") });
    }
    return result;
}

void AppDelegate::airspacesGate()
{
    const FirmwareVersion firmware = m_device->firmwareVersion();
    const std::string version = firmware.text();
    const VarioModel& model = firmware.model();
    const bool supported = firmware.supportsAirspaces();
    if (supported)
        logLine(*m_environment.log, "%s, since FW VER is '%s' (which is >= %s)", model.airspacesEnabledLogLead,
            version.c_str(), firmwareVersionText(model.firstAirspacesFirmware).c_str());
    else
        logLine(*m_environment.log, "This %s fw does not support Airspaces", model.key);
    m_window.ui().manageAirspacesMenuItem->setEnabled(supported);
    m_window.ui().clearAirspacesMenuItem->setEnabled(supported);
}

void AppDelegate::deviceDisconnected()
{
    m_connectedSerial.clear();
    ++m_disconnections;
    m_instrumentReady = false;
    m_connectPending = false;
    updateSaveNewFlightsAvailability();
    Ui::MainWindow& ui = m_window.ui();

    ui.serialLabel->setText(QStringLiteral("Device is not connected"));
    ui.pilotNameLabel->setText(QString());
    ui.editPilotDataButton->hide();

    setWindowBackground(QStringLiteral("CloudsBackgroundGrayscale.tiff"), disconnectedFallback);

    ui.logTypeMatrix->setEnabled(false);
    ui.downloadLogbookButton->setEnabled(false);
    ui.downloadTracklogButton->setEnabled(false);

    ui.batteryVoltageIndicator->setDoubleValue(0);
    ui.batteryVoltageIndicator->setEnabled(false);
    ui.batteryVoltageLabel->setText(QStringLiteral("–"));

    ui.logEntriesCombo->setEnabled(false);
    ui.logEntriesCombo->clear();

    if (m_updateWindowController) {
        m_updateWindowController->deviceDisconnected();
        m_updateWindowController->close();
    }
    if (m_airspacesWindowController)
        m_airspacesWindowController->deviceDisconnected();

    ui.manageAirspacesMenuItem->setEnabled(false);
    ui.clearAirspacesMenuItem->setEnabled(false);
    ui.upgradeMenuItem->setEnabled(false);
    ui.upgradeBetaMenuItem->setEnabled(false);
    ui.eraseLogBookMenuItem->setEnabled(false);

    if (m_device && m_device->lastOpenError())
        deviceCouldNotBeOpened(*m_device->lastOpenError());
    else
        m_window.setStatusText(tr("Waiting for an instrument. Plug the Corvex Vario in by USB."));
}

void AppDelegate::deviceCouldNotBeOpened(const DeviceError& error)
{
    // Plugged in, so "plug it in" would send the user the wrong way.
    m_window.setStatusText(tr("The Corvex Vario is plugged in but cannot be opened: %1")
                               .arg(QString::fromStdString(describeDeviceError(error))));
}

void AppDelegate::updateBatteryIndicator()
{
    auto info = m_device->getDeviceInfo();
    if (!info)
        return;
    LevelIndicator* indicator = m_window.ui().batteryVoltageIndicator;
    const double volts = static_cast<double>(static_cast<int>(info->batteryVoltage)) / 10;
    // 3.5 V is empty and 4.2 V full; the divisor is the double difference of the two.
    indicator->setDoubleValue(indicator->maxValue() * (volts - 3.5) / (4.2 - 3.5));
    m_window.ui().batteryVoltageLabel->setText(tr("%1 V").arg(volts, 0, 'f', 1));
}

std::string AppDelegate::pilotNameFromInstrument()
{
    return m_device->downloadPilotData().pilot();
}

void AppDelegate::logEntriesComboItemSelected(int)
{
    m_window.ui().downloadTracklogButton->setEnabled(true);
}

void AppDelegate::eraseButtonPressed()
{
    if (!m_device)
        return;
    auto lease = borrowInstrument("erasing the log book");
    if (!lease)
        return;
    const unsigned disconnectionsAtStart = m_disconnections;
    auto info = m_device->getDeviceInfo();
    auto flights = m_device->listFlightsShort();
    if (!info || !flights) {
        m_environment.alerts->showAlert(Alert { "Error downloading flights list", "The log book was not erased." });
        return;
    }
    const std::string count = flights->empty() ? std::string("The instrument holds no flights.")
        : flights->size() == 1                  ? std::string("The instrument holds 1 flight.")
                                                : formatString("The instrument holds %lu flights.", static_cast<unsigned long>(flights->size()));
    const std::string backup = flights->empty() ? std::string()
                                                : " They will be saved as IGC files in " + backupsRoot() + "/" + serialText(info->deviceId) + " first.";
    // "No" is the default: Return must not erase the log book.
    const int answer = m_environment.alerts->showAlert(Alert { "Erase Log Book",
        count + backup + " Do you want to erase the log book?", { "Yes", "No" }, Alert::Kind::Warning, 1 });
    if (answer != 0 || m_disconnections != disconnectionsAtStart)
        return;
    eraseLogBookWithBackup(serialText(info->deviceId));
    if (m_disconnections != disconnectionsAtStart)
        return;
    // The window must never offer flights that are gone.
    auto remaining = m_device->listFlightsShort();
    showFlights(remaining ? *remaining : std::vector<FlightRecord> {});
    showConnectedStatus(remaining ? remaining->size() : 0);
}

std::string AppDelegate::backupsRoot() const
{
    return m_logBookBackupsRoot.empty() ? defaultLogBookBackupsRoot() : m_logBookBackupsRoot;
}

void AppDelegate::upgradeMenuClicked()
{
    if (instrumentIsBusy() || !m_updateWindowController)
        return;
    logLine(*m_environment.log, "upgrade menu clicked");
    m_updateWindowController->setIsBetaVersionUpdateWindow(false);
    m_updateWindowController->showWindow();
}

void AppDelegate::upgradeBetaMenuClicked()
{
    if (instrumentIsBusy() || !m_updateWindowController)
        return;
    logLine(*m_environment.log, "upgrade Beta menu clicked");
    m_updateWindowController->setIsBetaVersionUpdateWindow(true);
    m_updateWindowController->showWindow();
}

void AppDelegate::airspacesManageMenuClicked()
{
    if (instrumentIsBusy() || !m_airspacesWindowController)
        return;
    m_airspacesWindowController->presentAirspacesWindow();
}

void AppDelegate::airspacesClearMenuClicked()
{
    if (instrumentIsBusy() || !m_airspacesWindowController)
        return;
    // The window holds the instrument for the erase itself.
    m_airspacesWindowController->clearAirspaces();
}

void AppDelegate::userPreferencesWindowMenuItemClicked()
{
    if (!m_userPreferencesWindow)
        m_userPreferencesWindow = std::make_unique<UserPreferencesWindow>(*m_environment.preferences);
    m_userPreferencesWindow->show();
    m_userPreferencesWindow->raise();
    m_userPreferencesWindow->activateWindow();
}

void AppDelegate::helpMenuItemClicked()
{
    if (!m_helpWindow)
        m_helpWindow = new HelpWindow(&m_window);
    m_helpWindow->show();
    m_helpWindow->raise();
    m_helpWindow->activateWindow();
}

void AppDelegate::aboutMenuItemClicked()
{
    AboutFacts facts;
    facts.version = QCoreApplication::applicationVersion();
    facts.licence = programLicence();
    if (m_environment.preferences)
        facts.mapAttributions = mapTileAttributions(*m_environment.preferences);
    facts.geographySource = offlineGeographySource();
    // Made afresh: the tile servers may have changed in the preferences meanwhile.
    m_aboutBox = makeAboutBox(&m_window, facts);
    m_aboutBox->setWindowModality(Qt::WindowModal);
    m_aboutBox->open();
}

void AppDelegate::setFilePanelPresenter(FilePanelPresenter* panels)
{
    m_filePanels = panels;
    if (m_downloadCommands)
        m_downloadCommands->setFilePanelPresenter(panels);
}

void AppDelegate::downloadTracklog()
{
    if (!m_downloadCommands)
        return;
    auto lease = borrowInstrument("downloading flights");
    if (!lease)
        return;
    m_downloadCommands->downloadTracklog();
}

void AppDelegate::downloadLogbook()
{
    if (!m_downloadCommands)
        return;
    auto lease = borrowInstrument("reading the log book");
    if (!lease)
        return;
    m_downloadCommands->downloadLogbook();
}

void AppDelegate::editPilotData()
{
    if (!m_device)
        return;
    auto lease = borrowInstrument("reading the pilot data");
    if (!lease)
        return;
    const DeviceResult<PilotData> pilotData = m_device->readPilotData();
    if (!pilotData) {
        // An empty sheet here would look like an instrument without pilot data, and OK
        // would write the empty fields over what it really holds.
        m_environment.alerts->showAlert(Alert { "Unable to read the pilot data",
            "The pilot data could not be read from the device. Nothing was changed; check the connection and try again." });
        return;
    }
    m_pilotDataWC->updateFormWithPilotData(*pilotData);
    // Window-modal and not waited for: the sheet reports its end to
    // didEndEditPilotDataSheet, which takes the instrument again for the write.
    m_pilotDataWC->open();
}

void AppDelegate::didEndEditPilotDataSheet(int returnCode)
{
    if (returnCode != 1) {
        logLine(*m_environment.log, "Cancel button");
        m_pilotDataWC->hide();
        return;
    }
    logLine(*m_environment.log, "Ok button");
    m_pilotDataWC->hide();
    if (!m_device)
        return;
    auto lease = borrowInstrument("writing the pilot data");
    if (!lease)
        return;
    // Whatever the instrument holds afterwards is what the label shows.
    if (auto written = m_device->uploadPilotData(m_pilotDataWC->getPilotDataFromForm()); !written)
        m_environment.alerts->showAlert(Alert { "Unable to save the pilot data", describeDeviceError(written.error()) });
    const std::string pilotName = pilotNameFromInstrument();
    m_window.ui().pilotNameLabel->setText(
        QStringLiteral("Pilot: %1").arg(pilotName.empty() ? QStringLiteral("Unknown") : QString::fromLatin1(pilotName)));
}

void AppDelegate::showSheetWithText(const QString& text)
{
    m_pleaseWaitSheet->showWithText(text);
}

void AppDelegate::hideSheet()
{
    m_pleaseWaitSheet->hide();
}

bool AppDelegate::shouldPresentNotification(const DesktopNotification&)
{
    // Shown even while the program is in front.
    return true;
}

void AppDelegate::didActivateNotification(const DesktopNotification&)
{
    if (!m_updateWindowController)
        return;
    m_updateWindowController->setIsBetaVersionUpdateWindow(false);
    m_updateWindowController->showWindow();
}

QStringList AppDelegate::launcherActionNames()
{
    return { saveAllFlightsAction, manageAirspacesAction, checkForUpdatesAction };
}

void AppDelegate::applicationActivated()
{
    logLine(*m_environment.log, "Activated from the session bus");
    bringMainWindowForward();
}

void AppDelegate::bringMainWindowForward()
{
    // Without the minimised flag, but still maximised or full screen if it was.
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

void AppDelegate::performLauncherAction(const QString& name)
{
    const QByteArray printable = name.toUtf8();
    logLine(*m_environment.log, "Launcher action %s", printable.constData());
    bringMainWindowForward();
    if (name == checkForUpdatesAction) {
        upgradeMenuClicked();
        return;
    }
    if (!launcherActionNames().contains(name)) {
        logLine(*m_environment.log, "Unknown launcher action %s, ignored", printable.constData());
        return;
    }
    // A launcher usually starts the program, so the instrument is seldom ready yet.
    m_heldLauncherAction = name;
    if (!m_instrumentReady || instrumentIsBusy()) {
        logLine(*m_environment.log, "Launcher action %s waits for the instrument", printable.constData());
        return;
    }
    runHeldLauncherAction();
}

void AppDelegate::runHeldLauncherAction()
{
    if (m_heldLauncherAction.isEmpty() || !m_instrumentReady || instrumentIsBusy())
        return;
    const QString name = std::exchange(m_heldLauncherAction, QString());
    if (name == saveAllFlightsAction) {
        saveAllFlights();
    } else if (!m_window.ui().manageAirspacesMenuItem->isEnabled()) {
        logLine(*m_environment.log, "Launcher action %s: this instrument's firmware has no airspaces",
            name.toUtf8().constData());
    } else {
        airspacesManageMenuClicked();
    }
}

void AppDelegate::saveAllFlights()
{
    Ui::MainWindow& ui = m_window.ui();
    const int all = ui.logEntriesCombo->findText(QStringLiteral("All Available"));
    if (all < 0)
        return;
    ui.logEntriesCombo->setCurrentIndex(all);
    logEntriesComboItemSelected(all);
    downloadTracklog();
}

void AppDelegate::setInstrumentControlsLocked(bool locked)
{
    Ui::MainWindow& ui = m_window.ui();
    // Containers and menu entries only: the controls inside keep their own state, which
    // the connect and disconnect sequences may change while the lock is held.
    ui.flightsPanel->setEnabled(!locked);
    ui.editPilotDataButton->setEnabled(!locked);
    ui.instrumentMenu->menuAction()->setEnabled(!locked);
    ui.updatesMenu->menuAction()->setEnabled(!locked);
}

void AppDelegate::setWindowBackground(const QString& imageName, const QColor& fallback)
{
    QPixmap tile(QStringLiteral(":/images/") + imageName);
    if (tile.isNull() && !m_backgroundsReportedMissing.contains(imageName)) {
        m_backgroundsReportedMissing.insert(imageName);
        logLine(*m_environment.log, "Cannot load the background image %s (is the TIFF image plugin installed?), using a plain colour",
            imageName.toUtf8().constData());
    }
    m_window.setBackground(tile, fallback);
    m_window.setBackgroundName(imageName);
}

} // namespace corvex
