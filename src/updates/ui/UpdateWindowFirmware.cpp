// The firmware side of the update window: the download of the offered firmware, the
// installation from a file, and the line-by-line installation into the instrument.
#include "updates/ui/UpdateWindow.h"

#include "base/Format.h"
#include "device/CorvexDevice.h"
#include "device/InstrumentSession.h"
#include "platform/AlertPresenter.h"
#include "platform/LogSink.h"
#include "platform/OperationContext.h"
#include "updates/FirmwareFile.h"
#include "updates/FirmwareInstallation.h"
#include "updates/OfferedDownload.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>

#include <chrono>
#include <utility>

namespace corvex {

namespace {

constexpr const char* downloadErrorTitle = "Error downloading firmware";

} // namespace

// The installation's progress in the window: its steps on the update sheet, without
// Cancel (a half-written firmware is worse than none); what the instrument is busy with
// (the steps that are not one flight of the backup) on the main window's status line;
// and between the lines and the backup's transfers, at most every 50 ms, the bar
// repainted and the event loop turned for a moment, so that the windows stay painted
// and a removal is noticed.
class UpdateWindow::InstallationProgress final : public ProgressSink {
public:
    explicit InstallationProgress(UpdateWindow& window)
        : m_window(window)
    {
    }
    ~InstallationProgress() override { ended(); }

    void stepStarted(const OperationStep& step) override
    {
        const QString text = QString::fromStdString(step.text);
        if (step.parts == 0) {
            if (m_window.m_environment.showStatus)
                m_window.m_environment.showStatus(text);
            m_statusShown = true;
            m_window.showUpdateSheetWithText(text, false);
        } else {
            // A flight of the backup: the bar goes on over the whole backup.
            m_window.m_updateSheetLabel->setText(text);
            if (!m_window.m_updateSheet->isVisible())
                m_window.m_updateSheet->open();
        }
        m_lastTurn = {};
    }

    void progressed(std::optional<double> fraction, const std::string&) override
    {
        if (fraction)
            m_window.m_updateSheetProgressBar->setValue(static_cast<int>(*fraction * 100.0));
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastTurn < std::chrono::milliseconds(50))
            return;
        m_lastTurn = now;
        m_window.m_updateSheetProgressBar->repaint();
        m_window.runEventLoopFor(0.01);
    }

    void ended() override
    {
        m_window.hideUpdateSheet();
        // The status line is given back once, whatever else asks.
        if (std::exchange(m_statusShown, false) && m_window.m_environment.showStatus)
            m_window.m_environment.showStatus(QString());
    }

private:
    UpdateWindow& m_window;
    bool m_statusShown { false };
    std::chrono::steady_clock::time_point m_lastTurn;
};

void UpdateWindow::downloadFirmwareUpdateButton()
{
    m_isLogBookEraseScheduledForNextDeviceConnect = false;
    if (!m_lastCheckedAvailableUpdates)
        return;
    const OfferedFirmware offered = m_lastCheckedAvailableUpdates->offeredFirmware(m_isBetaVersionUpdateWindow);
    // The button is enabled only for an offered update; an entry without its URL or
    // version is no offer.
    if (!offered.url || !offered.version) {
        logLine(*m_environment.log, "No firmware is offered for this instrument");
        return;
    }

    showUpdateSheetWithText(QStringLiteral("Downloading an Corvex Vario Firmware update, please wait..."), true);

    const std::string offeredVersion = *offered.version;
    // The model whose entry it is: the instrument may have been swapped since the check.
    const InstrumentGeneration offeredModel = m_lastCheckedAvailableUpdates->deviceModel;
    const std::string expectedSha256 = offered.sha256.value_or("");
    m_firmwareDownloadConnection = downloadOfferedFile(
        http(), offeredFile(*offered.url, offered.sha256, offered.signature, largestOfferedFirmware),
        [this, offeredVersion, offeredModel, expectedSha256](OfferedDownloadResult body) {
            hideUpdateSheet();
            if (!body) {
                const OfferedDownloadFailure& failure = body.error();
                const auto alert = [this](std::string text) {
                    if (m_environment.alerts)
                        m_environment.alerts->showAlert(Alert { downloadErrorTitle, std::move(text), { "Close" } });
                };
                switch (failure.kind) {
                case OfferedDownloadFailure::Kind::cancelled:
                    logLine(*m_environment.log, "User cancelled apparently, since nsdata is nil");
                    break;
                case OfferedDownloadFailure::Kind::transport:
                    logLine(*m_environment.log, "Firmware download error: %s", failure.text.c_str());
                    alert("There was a problem downloading firmware update. Network problems? Try again later");
                    break;
                case OfferedDownloadFailure::Kind::status:
                    alert(formatString("The server didn't return correct response. URLResponse status code %ld",
                        static_cast<long>(failure.statusCode)));
                    break;
                case OfferedDownloadFailure::Kind::address:
                    logLine(*m_environment.log, "Firmware download refused: %s", failure.text.c_str());
                    alert("The update server offers the firmware at an address that is not secure. Nothing was installed");
                    break;
                case OfferedDownloadFailure::Kind::notSigned:
                    // Nothing of it reaches the instrument.
                    logLine(*m_environment.log, "Firmware download refused: %s", failure.text.c_str());
                    alert(std::string(UpdateSigning::refusalText) + ". Nothing was installed");
                    break;
                case OfferedDownloadFailure::Kind::digest:
                    // Not the firmware the vendor published: it must not reach the instrument.
                    logLine(*m_environment.log, "Firmware download refused: its SHA-256 %s is not the %s the feed gives",
                        failure.actualSha256.c_str(), expectedSha256.c_str());
                    alert("The downloaded firmware does not match the checksum the update server gives for it. "
                          "Nothing was installed. Try again later");
                    break;
                }
                return;
            }
            installFirmwareFromData(*body, FirmwareOffer { offeredVersion, offeredModel });
        },
        [this](float progress) { m_updateSheetProgressBar->setValue(static_cast<int>(progress * 100)); });
}

void UpdateWindow::updateFirmwareFromAFile()
{
    std::optional<QString> path;
    if (m_panels.openFirmwareFile) {
        path = m_panels.openFirmwareFile();
    } else {
        const QString chosen = QFileDialog::getOpenFileName(this, tr("Install Firmware"), QString(), tr("Firmware (*.s19)"));
        if (!chosen.isEmpty())
            path = chosen;
    }
    if (!path)
        return;
    // The panel closes before the file is read.
    runEventLoopFor(0.1);
    auto contents = readFirmwareFileAt(path->toStdString());
    if (!contents) {
        const bool tooLarge = contents.error().kind == FileReadError::Kind::TooLarge;
        logLine(*m_environment.log, tooLarge ? "The firmware file %s is larger than any firmware" : "Cannot read the firmware file %s",
            path->toUtf8().constData());
        if (m_environment.alerts)
            m_environment.alerts->showAlert(Alert { "The firmware file is not correct",
                tooLarge ? formatString("The file is larger than any firmware (%zu MiB).", largestFirmwareFileBytes >> 20)
                         : "The file cannot be read: " + contents.error().reason() + ".",
                { "Ok" } });
        return;
    }
    installFirmwareFromData(std::move(*contents));
}

void UpdateWindow::installFirmwareFromData(const std::optional<Bytes>& firmware, const std::optional<FirmwareOffer>& offer)
{
    if (!firmware || !m_session)
        return;
    // An erase scheduled for an update that does not go in would take every flight for nothing.
    const auto notInstalled = [this] {
        if (std::exchange(m_isLogBookEraseScheduledForNextDeviceConnect, false))
            logLine(*m_environment.log, "Firmware not installed: the scheduled log book erase is cancelled");
    };
    bool allowDowngrade = false;
    // A file that is not sound firmware, or no instrument, is the installation's to refuse.
    const FirmwareFile file = readFirmwareFile(*firmware);
    if (!file.problem && device()) {
        const FirmwareMatch match = matchFirmware(file, device()->firmwareVersion(), offer);
        if (match.refused(true)) {
            logLine(*m_environment.log, "Firmware not installed: %s", describeFirmwareMatch(match).c_str());
            if (m_environment.alerts)
                m_environment.alerts->showAlert(firmwareRefusalAlert(match));
            notInstalled();
            return;
        }
        if (match.fit == FirmwareFit::Downgrade) {
            const int answer = m_environment.alerts
                ? m_environment.alerts->showAlert(Alert {
                    formatString("Install the older firmware %s over %s?", match.fileVersion->c_str(),
                        match.running.text().c_str()),
                    "The instrument runs a later version. Install the older one only when you mean to go back to it.",
                    { "Install", "Cancel" }, Alert::Kind::Warning, 1 })
                : 1;
            if (answer != 0) {
                logLine(*m_environment.log, "Firmware not installed: the older version was cancelled");
                notInstalled();
                return;
            }
            allowDowngrade = true;
        }
    }
    if (offer && device() && device()->firmwareVersion().updateErasesLogBook(offer->version)) {
        const int answer = m_environment.alerts
            ? m_environment.alerts->showAlert(
                Alert { logBookWarningTitle, logBookWarningText, { "Yes", "No" }, Alert::Kind::Warning, 0 })
            : 1;
        if (answer != 0)
            return;
        m_isLogBookEraseScheduledForNextDeviceConnect = true;
    }
    InstallationProgress progress(*this);
    OperationContext context(*m_environment.log);
    context.withProgress(&progress).withSleep(
        [this](std::chrono::milliseconds duration) { runEventLoopFor(std::chrono::duration<double>(duration).count()); });
    FirmwareInstallationOptions options;
    options.alerts = m_environment.alerts;
    options.backup.programVersion = currentSoftwareVersion();
    options.backup.backupsRoot = m_environment.logBookBackupsRoot;
    options.offer = offer;
    options.allowDowngrade = allowDowngrade;
    m_installationAwaitingRestart.reset();
    const FirmwareInstallationResult result
        = installFirmware(*m_session, *firmware, m_isLogBookEraseScheduledForNextDeviceConnect, options, context);
    if (result.outcome == FirmwareInstallationOutcome::Installed) {
        m_installationAwaitingRestart = result;
        return;
    }
    // The old firmware stays unless the new one went in, and with it the log book: an
    // erase scheduled for this update would take every flight for nothing.
    notInstalled();
}

void UpdateWindow::instrumentRestarted(InstrumentSession::Lease& lease)
{
    if (!m_installationAwaitingRestart)
        return;
    const FirmwareInstallationResult installation = std::exchange(m_installationAwaitingRestart, std::nullopt).value();
    // Cleared first, so that a failing erase is not repeated on every connection.
    const bool eraseScheduled = std::exchange(m_isLogBookEraseScheduledForNextDeviceConnect, false);
    if (eraseScheduled)
        logLine(*m_environment.log, "Log book erase scheduled from the last firmware update. Performing...");
    if (m_environment.showStatus && eraseScheduled)
        m_environment.showStatus(QStringLiteral("Erasing the log book after the firmware update..."));
    const FirmwareRestartResult restart = finishFirmwareInstallation(lease, installation, *m_environment.log);
    if (m_environment.showStatus && eraseScheduled)
        m_environment.showStatus(QString());
    if (!m_environment.alerts)
        return;
    const std::string saved = installation.backup && installation.backup->folder
        ? " Its flights were saved in " + *installation.backup->folder + "."
        : std::string();
    if (!restart.took) {
        m_environment.alerts->showAlert(Alert { "The firmware update did not take",
            "The instrument came back with its old firmware " + device()->firmwareVersion().text()
                + (eraseScheduled ? ", so its log book was kept." : ".") + " Install the update again." });
    } else if (restart.eraseAttempted && !restart.erased) {
        m_environment.alerts->showAlert(Alert { "The log book was not erased",
            "The new firmware is installed, but the instrument did not erase its log book." + saved });
    }
}

} // namespace corvex
