#include "updates/ui/UpdateWindow.h"

#include "device/CorvexDevice.h"
#include "device/FirmwareVersion.h"
#include "device/InstrumentSession.h"
#include "platform/EventLoop.h"
#include "platform/LogSink.h"
#include "platform/qt/DesktopNotifier.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "ui_UpdateWindow.h"
#include "updates/URLConnection.h"
#include "updates/UpdateCheck.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace corvex {

namespace {

const QString notifyWhenUpdatesAvailableKey = QStringLiteral("NotifyWhenUpdatesAvailable");

QString text(const std::optional<std::string>& value)
{
    return value ? QString::fromStdString(*value) : QStringLiteral("(null)");
}

} // namespace

UpdateWindow::UpdateWindow(Environment environment, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::UpdateWindow>())
    , m_environment(std::move(environment))
{
    m_ui->setupUi(this);
    if (!m_environment.http)
        m_ownHttp = std::make_unique<QtHttpClient>();
    m_checker = std::make_unique<UpdateChecker>(http(), *m_environment.log, versionsFeedUrl());
    buildUpdateSheet();

    connect(m_ui->softwareUpdateButton, &QPushButton::clicked, this, &UpdateWindow::downloadSoftwareUpdateButton);
    connect(m_ui->firmwareUpdateButton, &QPushButton::clicked, this, &UpdateWindow::downloadFirmwareUpdateButton);
    connect(m_ui->installFirmwareFromFileButton, &QPushButton::clicked, this, &UpdateWindow::updateFirmwareFromAFile);
    connect(m_ui->manuallyDownloadLatestSoftwareButton, &QPushButton::clicked, this,
        &UpdateWindow::manuallyDownloadLatestSoftware);
    connect(m_ui->notifyWhenUpdatesAvailableCheckbox, &QCheckBox::clicked, this,
        &UpdateWindow::notifyWhenUpdatesAvailableCheckboxClicked);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &UpdateWindow::closeButton);
}

UpdateWindow::~UpdateWindow()
{
    // Nothing may reach a window that is going away.
    for (const auto& connection : { m_firmwareDownloadConnection, m_softwareDownloadConnection })
        if (connection)
            connection->abandon();
}

void UpdateWindow::setPanels(Panels panels)
{
    m_panels = std::move(panels);
}

void UpdateWindow::buildUpdateSheet()
{
    m_updateSheet = new QDialog(this);
    m_updateSheet->setWindowModality(Qt::WindowModal);
    m_updateSheet->setWindowTitle(windowTitle());
    m_updateSheetLabel = new QLabel(m_updateSheet);
    m_updateSheetLabel->setWordWrap(true);
    m_updateSheetProgressBar = new QProgressBar(m_updateSheet);
    m_updateSheetProgressBar->setRange(0, 100);
    m_updateSheetCancelButton = new QPushButton(tr("Cancel"), m_updateSheet);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_updateSheetCancelButton);
    auto* layout = new QVBoxLayout(m_updateSheet);
    layout->addWidget(m_updateSheetLabel);
    layout->addWidget(m_updateSheetProgressBar);
    layout->addLayout(buttons);
    m_updateSheet->setMinimumWidth(420);
    connect(m_updateSheetCancelButton, &QPushButton::clicked, this, &UpdateWindow::updateSheetCancelButtonPressed);
    // Escape or the window's close box: Cancel where Cancel is offered, otherwise the
    // sheet stays (an installation cannot be interrupted).
    connect(m_updateSheet, &QDialog::rejected, this, [this] {
        if (m_updateSheetCancelButton->isEnabled())
            updateSheetCancelButtonPressed();
        else
            m_updateSheet->open();
    });
}

HttpClient& UpdateWindow::http()
{
    return m_environment.http ? *m_environment.http : *m_ownHttp;
}

OfferedFile UpdateWindow::offeredFile(std::string url, std::optional<std::string> sha256,
    std::optional<std::string> signature, std::uint64_t maximumBytes) const
{
    const QString keys = m_environment.preferences->stringValue(QString::fromUtf8(UpdateSigning::preferenceKey));
    return OfferedFile { std::move(url), std::move(sha256), std::move(signature), maximumBytes,
        m_environment.preferences->vendorEndpoints().baseUrl(), TrustedUpdateKeys::resolve(keys.toStdString()) };
}

std::string UpdateWindow::versionsFeedUrl() const
{
    return m_environment.preferences->vendorEndpoints().versionsFeedUrl();
}

std::string UpdateWindow::currentSoftwareVersion() const
{
    if (!m_environment.programVersion.empty())
        return m_environment.programVersion;
    return QCoreApplication::applicationVersion().toStdString();
}

CorvexDevice* UpdateWindow::device() const
{
    return m_session ? &m_session->device() : nullptr;
}

std::string UpdateWindow::currentFirmwareVersion() const
{
    return firmwareVersionText(device() ? device()->firmwareVersion().thousandths() : 0);
}

InstrumentGeneration UpdateWindow::connectedModel() const
{
    return (device() ? device()->model() : varioModels[0]).generation;
}

void UpdateWindow::runEventLoopFor(double seconds)
{
    if (m_environment.eventLoop) {
        m_environment.eventLoop->runEventLoopFor(seconds);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

void UpdateWindow::checkUpdates()
{
    ++m_checkUpdatesRequests;
    runEventLoopFor(0.1);
    // The preference may have changed since the last check.
    m_checker->setVersionsFeedUrl(versionsFeedUrl());
    m_checker->checkUpdates(currentSoftwareVersion(), currentFirmwareVersion(), connectedModel(),
        [this](const UpdateCheckResult& result) {
            const AvailableUpdates& updates = result.updates;
            m_lastCheckedAvailableUpdates = updates;
            m_lastCheckFailure = describeUpdateCheckFailure(result, m_checker->versionsFeedUrl());
            const bool updatesExist = updates.areThereAnyUpdatesAvailableAtAll();
            updateUIBasedOnAvailableUpdates(updates);
            if (updatesExist && m_environment.preferences->boolValue(notifyWhenUpdatesAvailableKey)
                && m_environment.postNotification) {
                m_environment.postNotification(DesktopNotification {
                    QStringLiteral("Corvex Vario Updates are available!"),
                    QStringLiteral("Please open Upgrade menu item for details") });
            }
        });
    // After the checker's first log line; its answer comes on a later turn of the loop,
    // so the default is in place before the completion reads it.
    PreferencesStore& preferences = *m_environment.preferences;
    if (!preferences.value(notifyWhenUpdatesAvailableKey).isValid())
        preferences.setValue(notifyWhenUpdatesAvailableKey, true);
}

void UpdateWindow::checkUpdatesAvailableForCurrentSwVer(const std::string& currentSoftwareVersion,
    const std::string& currentFirmwareVersion, std::function<void(const AvailableUpdates&)> asyncronousCheckCompleted)
{
    m_checker->setVersionsFeedUrl(versionsFeedUrl());
    m_checker->checkUpdatesAvailableForCurrentSwVer(currentSoftwareVersion, currentFirmwareVersion,
        connectedModel(), std::move(asyncronousCheckCompleted));
}

void UpdateWindow::updateUIBasedOnAvailableUpdates(const std::optional<AvailableUpdates>& availableUpdates)
{
    if (!availableUpdates) {
        hide();
        return;
    }
    const AvailableUpdates& updates = *availableUpdates;
    const bool beta = m_isBetaVersionUpdateWindow;
    setWindowTitle(beta ? QStringLiteral("Corvex Vario Update BETA") : QStringLiteral("Corvex Vario Update"));
    m_ui->installFirmwareFromFileButton->setVisible(beta);

    const bool softwareFlag = beta ? updates.softwareBetaUpdateAvailable : updates.softwareUpdateAvailable;
    if (softwareFlag) {
        m_ui->softwareUpdateInfoLabel->setText(
            QString(beta ? "BETA Software update is available! You have v%1, available v%2"
                         : "Software update is available! You have v%1, available v%2")
                .arg(text(updates.currentSoftwareVersion), text(beta ? updates.softwareBetaVersion : updates.softwareVersion)));
    } else {
        m_ui->softwareUpdateInfoLabel->setText(QStringLiteral("Your Corvex Vario software is up to date!"));
    }

    const OfferedFirmware& firmware = updates.offeredFirmware(beta);
    const bool firmwareFlag = firmware.isUpdate;
    const QString firmwareText = QString(beta && varioModel(updates.deviceModel).betaLabelSaysBeta
                                             ? "BETA Firmware update is available! You have v%1, available v%2"
                                             : "Firmware update is available! You have v%1, available v%2")
                                     .arg(text(updates.currentFirmwareVersion), text(firmware.version));
    m_ui->firmwareUpdateInfoLabel->setText(
        firmwareFlag ? firmwareText : QStringLiteral("Your Corvex Vario firmware is up to date!"));
    // A check that could not read the feed found nothing: that is no "up to date".
    if (!m_lastCheckFailure.empty()) {
        const QString why = QString::fromStdString(m_lastCheckFailure);
        m_ui->softwareUpdateInfoLabel->setText(tr("Could not check for software updates: %1.").arg(why));
        m_ui->firmwareUpdateInfoLabel->setText(tr("Could not check for firmware updates: %1.").arg(why));
    }

    m_ui->softwareUpdateButton->setEnabled(softwareFlag);
    m_firmwareOffered = firmwareFlag;
    m_ui->firmwareUpdateButton->setEnabled(firmwareFlag && !m_instrumentBusy);
}

void UpdateWindow::setInstrumentBusy(bool busy)
{
    m_instrumentBusy = busy;
    m_ui->firmwareUpdateButton->setEnabled(m_firmwareOffered && !busy);
}

void UpdateWindow::showWindow()
{
    show();
    raise();
    activateWindow();
    // Before the first check has completed there is nothing to show: the window goes
    // off the screen again.
    updateUIBasedOnAvailableUpdates(m_lastCheckedAvailableUpdates);
    m_ui->notifyWhenUpdatesAvailableCheckbox->setChecked(
        m_environment.preferences->boolValue(notifyWhenUpdatesAvailableKey));
    logLine(*m_environment.log, "Update Window is shown");
}

void UpdateWindow::notifyWhenUpdatesAvailableCheckboxClicked()
{
    // The store writes through to disk at once.
    m_environment.preferences->setValue(
        notifyWhenUpdatesAvailableKey, m_ui->notifyWhenUpdatesAvailableCheckbox->isChecked());
}

void UpdateWindow::showUpdateSheetWithText(const QString& text, bool enableCancel)
{
    m_updateSheetLabel->setText(text);
    m_updateSheetCancelButton->setEnabled(enableCancel);
    m_updateSheetProgressBar->setValue(0);
    m_updateSheet->setWindowTitle(windowTitle());
    m_updateSheet->open();
}

void UpdateWindow::hideUpdateSheet()
{
    m_updateSheet->hide();
}

void UpdateWindow::cancelDownloads()
{
    // Copies: a completion may replace the window's own reference.
    if (const auto software = m_softwareDownloadConnection)
        software->cancel();
    if (const auto firmware = m_firmwareDownloadConnection)
        firmware->cancel();
}

void UpdateWindow::updateSheetCancelButtonPressed()
{
    cancelDownloads();
}

void UpdateWindow::deviceDisconnected()
{
    logLine(*m_environment.log, "Update window device disconnected");
    cancelDownloads();
}

void UpdateWindow::closeButton()
{
    close();
}

} // namespace corvex
