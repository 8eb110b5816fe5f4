// The software side of the update window: the download of the offered program, its
// unpacking and the hand-over to the update helper.
#include "updates/ui/UpdateWindow.h"

#include "platform/AlertPresenter.h"
#include "platform/LogSink.h"
#include "platform/OperationContext.h"
#include "platform/ProcessLauncher.h"
#include "platform/qt/PreferencesStore.h"
#include "updates/SoftwareUpdateInstaller.h"
#include "updates/OfferedDownload.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProgressBar>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <unistd.h>
#include <utility>

namespace corvex {

namespace {

// For a window made without alerts (some tests): nobody to tell.
class SilentAlertPresenter final : public AlertPresenter {
public:
    int showAlert(const Alert&) override { return 0; }
};

AlertPresenter& alertsOr(AlertPresenter* alerts)
{
    static SilentAlertPresenter silent;
    return alerts ? *alerts : silent;
}

} // namespace

// The unpacking's progress on the update sheet, without Cancel: by then the download is
// done, and the unpacking runs off the window's thread while the sheet's bar moves.
class UpdateWindow::UnpackingProgress final : public ProgressSink {
public:
    explicit UnpackingProgress(UpdateWindow& window)
        : m_window(window)
    {
    }
    ~UnpackingProgress() override { ended(); }

    void stepStarted(const OperationStep& step) override
    {
        m_window.showUpdateSheetWithText(QString::fromStdString(step.text), false);
        m_shown = true;
    }
    void progressed(std::optional<double> fraction, const std::string&) override
    {
        if (fraction)
            m_window.m_updateSheetProgressBar->setValue(static_cast<int>(*fraction * 100.0));
    }
    void ended() override
    {
        if (std::exchange(m_shown, false))
            m_window.hideUpdateSheet();
    }

private:
    UpdateWindow& m_window;
    bool m_shown { false };
};

SoftwareUpdateInstaller UpdateWindow::softwareUpdateInstaller(ProgressSink* progress)
{
    SoftwareUpdateOptions options;
    options.alerts = &alertsOr(m_environment.alerts);
    options.processes = m_softwareInstallation.processes;
    if (!options.processes) {
        if (!m_ownProcesses)
            m_ownProcesses = std::make_shared<PosixProcessLauncher>();
        options.processes = m_ownProcesses.get();
    }
    options.terminateApplication = m_softwareInstallation.terminateApplication;
    if (!options.terminateApplication) {
        // From the event loop, once the alert or callback that got here has returned.
        options.terminateApplication = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };
    }
    options.processId = m_softwareInstallation.processId ? m_softwareInstallation.processId : ::getpid();
    ProgramFolder folder = m_softwareInstallation.programFolder
        ? *m_softwareInstallation.programFolder
        : ProgramFolder::ofExecutable(QCoreApplication::applicationFilePath().toStdString());
    std::string workingDirectory = m_softwareInstallation.workingDirectory.empty()
        ? SoftwareUpdateInstaller::defaultWorkingDirectory()
        : m_softwareInstallation.workingDirectory;
    OperationContext context(*m_environment.log);
    context.withProgress(progress).withSleep(
        [this](std::chrono::milliseconds duration) { runEventLoopFor(std::chrono::duration<double>(duration).count()); });
    return SoftwareUpdateInstaller(std::move(options), std::move(folder), std::move(workingDirectory), std::move(context));
}

void UpdateWindow::openUrl(const std::string& url)
{
    // Only https goes to the desktop's browser: xdg-open would hand a file: or another
    // scheme from the feed to whatever program claims it.
    if (!isWebAddressForTheBrowser(url)) {
        logLine(*m_environment.log, "Not opened in the browser (not https): %s", url.c_str());
        alertsOr(m_environment.alerts).showAlert(Alert { "Error",
            "The address is not secure (https), so it was not opened in the browser: " + url, { "Ok" } });
        return;
    }
    const QString address = QString::fromStdString(url);
    if (m_panels.openUrl)
        m_panels.openUrl(address);
    else
        QDesktopServices::openUrl(QUrl(address, QUrl::StrictMode));
}

void UpdateWindow::downloadSoftwareUpdateButton()
{
    if (!m_lastCheckedAvailableUpdates)
        return;
    const AvailableUpdates& updates = *m_lastCheckedAvailableUpdates;
    const bool beta = m_isBetaVersionUpdateWindow;
    const std::optional<std::string>& offered = beta ? updates.softwareBetaUrl : updates.softwareUrl;
    if (!offered)
        return;

    // A program the package manager installed is updated by the package manager: the
    // window says so and neither downloads nor opens anything.
    SoftwareUpdateInstaller installer = softwareUpdateInstaller();
    const std::string url = percentEscapedUrlString(*offered);
    const SoftwarePackageKind kind = softwarePackageKindOfUrl(url);
    if (kind == SoftwarePackageKind::diskImage) {
        if (installer.programFolder().selfUpdate == ProgramFolder::SelfUpdate::PackageManager)
            installer.mayReplaceItself();
        else
            openUrl(url);
        return;
    }
    if (kind == SoftwarePackageKind::neither) {
        alertsOr(m_environment.alerts).showAlert(Alert { "Error", "The URL returned by the server is neither zip nor dmg", { "Ok" } });
        return;
    }
    // Nothing is downloaded that could not be installed.
    if (!installer.mayReplaceItself())
        return;

    showUpdateSheetWithText(QStringLiteral("Downloading an Corvex Vario Software update, please wait..."), true);
    // The digest is the installer's to check: its alert says what was refused.
    const std::optional<std::string> expectedSha256 = beta ? updates.softwareBetaSha256 : updates.softwareSha256;
    const std::optional<std::string> signature = beta ? updates.softwareBetaSignature : updates.softwareSignature;
    m_softwareDownloadConnection = downloadOfferedFile(
        http(), offeredFile(url, std::nullopt, signature, TransferLimit::program),
        [this, expectedSha256](OfferedDownloadResult body) {
            hideUpdateSheet();
            if (body) {
                installSoftwareUpdateFromDataAndRelaunchApp(*body, expectedSha256);
                return;
            }
            const OfferedDownloadFailure& failure = body.error();
            if (failure.kind == OfferedDownloadFailure::Kind::cancelled) {
                logLine(*m_environment.log, "User cancelled apparently, since nsdata is nil");
                return;
            }
            if (failure.kind == OfferedDownloadFailure::Kind::notSigned || failure.kind == OfferedDownloadFailure::Kind::address) {
                // Refused before anything is unpacked.
                logLine(*m_environment.log, "Software update refused: %s", failure.text.c_str());
                alertsOr(m_environment.alerts).showAlert(Alert { "Error downloading software update",
                    failure.kind == OfferedDownloadFailure::Kind::notSigned
                        ? std::string(UpdateSigning::refusalText) + ". Nothing was installed"
                        : std::string("The update server offers the program at an address that is not secure. Nothing was installed"),
                    { "Close" } });
                return;
            }
            alertsOr(m_environment.alerts).showAlert(Alert { "Error downloading software update",
                failure.kind == OfferedDownloadFailure::Kind::transport
                    ? formatString("There was a problem downloading software update. %s", failure.text.c_str())
                    : formatString("The server didn't return correct response. URLResponse status code %ld",
                        static_cast<long>(failure.statusCode)),
                { "Close" } });
        },
        [this](float progress) { m_updateSheetProgressBar->setValue(static_cast<int>(progress * 100)); });
}

void UpdateWindow::installSoftwareUpdateFromDataAndRelaunchApp(const Bytes& archive, const std::optional<std::string>& expectedSha256)
{
    UnpackingProgress progress(*this);
    softwareUpdateInstaller(&progress).installSoftwareUpdateFromDataAndRelaunchApp(archive, expectedSha256);
}

bool UpdateWindow::unzipFile(const QString& path)
{
    return softwareUpdateInstaller().unzipFile(path.toStdString());
}

void UpdateWindow::manuallyDownloadLatestSoftware()
{
    std::string address;
    if (m_lastCheckedAvailableUpdates) {
        const AvailableUpdates& updates = *m_lastCheckedAvailableUpdates;
        address = (m_isBetaVersionUpdateWindow ? updates.softwareBetaUrl : updates.softwareUrl).value_or("");
    }
    // Before any check, and when the feed offered no package, the vendor's web site.
    if (address.empty())
        address = m_environment.preferences->vendorEndpoints().websiteUrl();
    openUrl(percentEscapedUrlString(address));
}

} // namespace corvex
