// corvex firmware install: the desktop program's installation sequence with a progress
// bar on the terminal, then the wait for the restarted instrument.
#include "Commands.h"
#include "TerminalProgress.h"

#include "device/FirmwareVersion.h"
#include "device/InstrumentSession.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/VendorEndpoints.h"
#include "updates/FirmwareFile.h"
#include "updates/FirmwareInstallation.h"
#include "updates/LogBookBackup.h"
#include "updates/OfferedDownload.h"
#include "updates/UpdateCheck.h"
#include "updates/UpdateSignature.h"

#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <thread>
#include <unistd.h>

namespace corvex::cli {

namespace {

// How long a restarting instrument may take to leave the bus, and to come back.
constexpr auto leaveTimeout = std::chrono::seconds(5);
constexpr auto returnTimeout = std::chrono::seconds(30);
// Looking for the device node is cheap; a coarse poll only adds to the pilot's wait.
constexpr auto pollInterval = std::chrono::milliseconds(25);
constexpr int barWidth = 40;

// A bar redrawn in place on a terminal; one "NN%" line per new value otherwise, so
// that a log or a pipe gets something readable.
class ProgressReport {
public:
    explicit ProgressReport(std::ostream& out)
        : m_out(out)
        , m_terminal(isatty(STDOUT_FILENO) != 0)
    {
    }
    void show(int percent)
    {
        if (percent == m_last)
            return;
        m_last = percent;
        if (!m_terminal) {
            m_out << percent << "%" << std::endl;
            return;
        }
        const int filled = percent * barWidth / 100;
        m_out << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(barWidth - filled), ' ') << "] " << percent << "%" << std::flush;
    }
    // Ends the bar's line; a second call adds nothing.
    void finish()
    {
        if (m_terminal && m_last >= 0)
            m_out << std::endl;
        m_last = -1;
    }

private:
    std::ostream& m_out;
    bool m_terminal;
    int m_last { -1 };
};

// The installation's progress on the terminal: what the instrument is busy with as a
// line of its own, the backup's flights on stderr ("saving flight 3 of 6 (41%)"), the
// announcement when the lines begin, and then the bar of the lines.
class InstallationProgress final : public ProgressSink {
public:
    InstallationProgress(CliContext& context, std::function<void()> announceLines)
        : m_out(context.out)
        , m_backup(context.err, "saving flight")
        , m_lines(context.out)
        , m_announceLines(std::move(announceLines))
    {
    }

    void stepStarted(const OperationStep& step) override
    {
        if (step.parts > 0) {
            m_backup.stepStarted(step);
        } else if (step.text == installingFirmwareSheetText) {
            m_backup.ended();
            m_installing = true;
            m_announceLines();
        } else {
            m_out << step.text << std::endl;
        }
    }
    void progressed(std::optional<double> fraction, const std::string& detail) override
    {
        if (!m_installing) {
            m_backup.progressed(fraction, detail);
        } else if (fraction) {
            m_lines.show(static_cast<int>(*fraction * 100.0));
        }
    }
    void ended() override
    {
        m_backup.ended();
        m_lines.finish();
    }

private:
    std::ostream& m_out;
    TerminalProgress m_backup;
    ProgressReport m_lines;
    std::function<void()> m_announceLines;
    bool m_installing { false };
};

// After its reboot line the instrument restarts: it leaves the bus and comes back. The
// same serial device reappears; once it answers the device info it is back.
bool waitForInstrument(CliSession& session, const std::string& path)
{
    const auto start = std::chrono::steady_clock::now();
    while (std::filesystem::exists(path) && std::chrono::steady_clock::now() - start < leaveTimeout)
        std::this_thread::sleep_for(pollInterval);
    const auto back = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - back < returnTimeout) {
        std::this_thread::sleep_for(pollInterval);
        if (!std::filesystem::exists(path))
            continue;
        CorvexDevice& device = session.device();
        device.corvexDeviceMatchedAtBsdPath(path, 0);
        if (device.hasOpenLine() && device.initializeDevice() && device.getDeviceInfo())
            return true;
        device.corvexDeviceTerminatedAtBsdPath(path);
    }
    return false;
}

// The vendor server the user set and the signing keys the program trusts.
struct VendorServer {
    VendorEndpoints endpoints;
    TrustedUpdateKeys keys;
};

VendorServer vendorServer(const CliContext& context)
{
    PreferencesStore preferences;
    preferences.registerDefaultsFromPropertyList(":/InitialDefaults.plist");
    const QString keys = preferences.stringValue(QString::fromUtf8(UpdateSigning::preferenceKey));
    const auto server = context.option("server");
    return VendorServer { server ? VendorEndpoints(*server) : preferences.vendorEndpoints(),
        TrustedUpdateKeys::resolve(keys.toStdString()) };
}

// What the latest firmware download found: the file, or the exit code after a message.
struct Download {
    std::optional<Bytes> data;
    int exitCode { Success };
    std::string version;
    bool erasesLogBook { false };
    // What the feed offered the file as, which the file must be.
    std::optional<FirmwareOffer> offer;
};

// The versions feed, then the firmware it offers the connected model, checked against
// the feed's digest. Nothing to install (up to date) gives no data and Success.
Download downloadLatestFirmware(CliContext& context, CliSession& session)
{
    Download download;
    const bool beta = context.option("beta").has_value();
    CorvexDevice& device = session.device();
    const std::string current = device.firmwareVersion().text();
    QtHttpClient http(context.transferTimeout);
    const VendorServer server = vendorServer(context);
    const std::string feedUrl = server.endpoints.versionsFeedUrl();
    UpdateChecker checker(http, session.log(), feedUrl);
    std::optional<UpdateCheckResult> outcome;
    QEventLoop loop;
    checker.checkUpdates(CORVEX_VERSION, current, device.model().generation, [&](const UpdateCheckResult& result) {
        outcome = result;
        loop.quit();
    });
    // The request's inactivity time-out ends a server that stops answering.
    if (!outcome)
        loop.exec();
    if (outcome->failure != UpdateCheckResult::Failure::none) {
        printError(context.err, "cannot read the versions feed at " + feedUrl
                + (outcome->errorText.empty() ? std::string(" (not XML)") : ": " + outcome->errorText));
        download.exitCode = UpdateCheckFailed;
        return download;
    }
    const OfferedFirmware offered = outcome->updates.offeredFirmware(beta);
    if (!offered.url || !offered.version || !offered.isUpdate) {
        context.out << "Firmware " << current << " is up to date"
                    << (offered.version ? " (offered: " + *offered.version + ")" : std::string()) << "." << std::endl;
        return download;
    }
    download.version = *offered.version;
    download.offer = FirmwareOffer { *offered.version, device.model().generation };
    download.erasesLogBook = device.firmwareVersion().updateErasesLogBook(*offered.version);
    if (download.erasesLogBook && !context.option("erase-log-book")) {
        printError(context.err, "firmware " + *offered.version + " erases the log book of an instrument on " + current
                + ": run again with --erase-log-book (every flight is saved as IGC first)");
        download.exitCode = UsageError;
        return download;
    }

    context.out << "Downloading firmware " << visibleText(*offered.version) << " from " << visibleText(*offered.url) << std::endl;
    std::optional<OfferedDownloadResult> body;
    QEventLoop downloadLoop;
    const OfferedFile file { *offered.url, offered.sha256, offered.signature, largestOfferedFirmware,
        server.endpoints.baseUrl(), server.keys };
    auto connection = downloadOfferedFile(http, file,
        [&](OfferedDownloadResult result) {
            body = std::move(result);
            downloadLoop.quit();
        });
    if (!body)
        downloadLoop.exec();
    if (*body) {
        download.data = std::move(**body);
        return download;
    }
    const OfferedDownloadFailure& failure = body->error();
    switch (failure.kind) {
    case OfferedDownloadFailure::Kind::cancelled:
    case OfferedDownloadFailure::Kind::transport:
        printError(context.err, "cannot download the firmware: " + (failure.text.empty() ? std::string("cancelled") : failure.text));
        download.exitCode = UpdateCheckFailed;
        break;
    case OfferedDownloadFailure::Kind::status:
        printError(context.err, "cannot download the firmware: the server answered " + std::to_string(failure.statusCode));
        download.exitCode = UpdateCheckFailed;
        break;
    case OfferedDownloadFailure::Kind::address:
        logLine(session.log(), "Firmware download refused: %s", failure.text.c_str());
        printError(context.err, "the versions feed offers the firmware at " + *offered.url
                + ", which is neither https nor on the server you set; nothing was installed");
        download.exitCode = FileError;
        break;
    case OfferedDownloadFailure::Kind::notSigned:
        logLine(session.log(), "Firmware download refused: %s", failure.text.c_str());
        printError(context.err, std::string(UpdateSigning::refusalText) + " (" + failure.text + "); nothing was installed");
        download.exitCode = FileError;
        break;
    case OfferedDownloadFailure::Kind::digest:
        printError(context.err, "the downloaded firmware does not match the checksum the versions feed gives; nothing was installed");
        download.exitCode = FileError;
        break;
    }
    return download;
}

int runInstall(CliContext& context)
{
    const bool latest = context.option("latest").has_value();
    if (latest == !context.arguments.empty()) {
        printError(context.err, "give either a firmware file or --latest (usage: corvex firmware install FILE.s19 | --latest)");
        return UsageError;
    }
    std::optional<Bytes> data;
    std::string file;
    std::optional<FirmwareOffer> offer;
    if (!latest) {
        file = context.arguments.front();
        auto read = readFirmwareFileAt(file);
        if (!read) {
            printError(context.err, read.error().kind == FileReadError::Kind::TooLarge
                    ? file + " is larger than any firmware (" + std::to_string(largestFirmwareFileBytes >> 20)
                        + " MiB); nothing was sent to the instrument"
                    : read.error().message() + "; nothing was sent to the instrument");
            return FileError;
        }
        data = std::move(*read);
    }

    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    CorvexDevice& device = session.device();
    auto info = device.getDeviceInfo();
    if (!info) {
        printError(context.err, "the instrument at " + session.portPath() + " does not answer (no device info)");
        return InstrumentFailed;
    }
    const std::string path = session.portPath();
    char serial[16];
    std::snprintf(serial, sizeof serial, "%X", info->deviceId);
    if (latest) {
        Download download = downloadLatestFirmware(context, session);
        if (!download.data)
            return download.exitCode;
        data = std::move(download.data);
        file = "firmware " + download.version;
        offer = download.offer;
    }

    // The file must be what it was offered as and for this model; an older version
    // only when asked for. A file that is not sound firmware is the installation's to
    // refuse, with its own message.
    const bool allowDowngrade = context.option("allow-downgrade").has_value();
    const FirmwareFile firmware = readFirmwareFile(*data);
    if (!firmware.problem) {
        const FirmwareMatch match = matchFirmware(firmware, device.firmwareVersion(), offer);
        const std::string nothing = latest ? "; nothing was installed" : "; nothing was sent to the instrument";
        if (match.refused(allowDowngrade))
            logLine(session.log(), "Firmware not installed: %s", describeFirmwareMatch(match).c_str());
        switch (match.fit) {
        case FirmwareFit::OtherModel:
        case FirmwareFit::NotAsOffered:
            printError(context.err, "not installing " + file + ": " + describeFirmwareMatch(match) + nothing);
            return FileError;
        case FirmwareFit::Downgrade:
            if (!allowDowngrade) {
                printError(context.err, "not installing " + file + ": " + describeFirmwareMatch(match)
                        + ": run again with --allow-downgrade to install the older firmware" + nothing);
                return UsageError;
            }
            context.out << "Installing the older firmware " << *match.fileVersion << " over "
                        << device.firmwareVersion().text() << ", as asked." << std::endl;
            break;
        case FirmwareFit::SameVersion:
            context.out << "The instrument runs firmware " << *match.fileVersion << " already: it is installed again."
                        << std::endl;
            break;
        case FirmwareFit::Fits:
            break;
        }
    }
    // The erase after the restart is part of the installation: its flights are saved
    // before the first line, while the old firmware can still read them.
    const bool eraseLogBook = context.option("erase-log-book").has_value();
    InstrumentSession instrument(device);
    // Announced once the file, the instrument and the backup are known to be good.
    InstallationProgress progress(context, [&] {
        context.out << "Installing " << visibleText(file) << " into the " << device.firmwareVersion().modelName() << " " << serial
                    << " (firmware " << device.firmwareVersion().text() << "). Do not disconnect the instrument."
                    << std::endl;
    });
    FirmwareInstallationOptions options;
    options.alerts = &session.alerts();
    options.backup.programVersion = CORVEX_VERSION;
    options.offer = offer;
    options.allowDowngrade = allowDowngrade;
    const FirmwareInstallationResult result
        = installFirmware(instrument, *data, eraseLogBook, options, OperationContext(session.log()).withProgress(&progress));
    progress.ended();

    switch (result.outcome) {
    case FirmwareInstallationOutcome::FileRefused:
        printError(context.err, file + " is not sound firmware; nothing was sent to the instrument");
        return FileError;
    case FirmwareInstallationOutcome::WrongFirmware:
        printError(context.err, describeFirmwareInstallationFailure(result));
        return result.match && result.match->fit == FirmwareFit::Downgrade ? UsageError : FileError;
    case FirmwareInstallationOutcome::NotStarted:
        printError(context.err, describeFirmwareInstallationFailure(result));
        return NoInstrument;
    case FirmwareInstallationOutcome::BackupFailed:
    case FirmwareInstallationOutcome::Failed:
        printError(context.err, describeFirmwareInstallationFailure(result));
        return InstrumentFailed;
    case FirmwareInstallationOutcome::Installed:
        break;
    }

    context.out << "Firmware sent (" << result.totalLines << " lines). Waiting for the instrument to restart..." << std::endl;
    if (!waitForInstrument(session, path)) {
        printError(context.err, "the instrument did not come back at " + path + " after its restart");
        return InstrumentFailed;
    }
    const std::string running = device.firmwareVersion().text();
    context.out << "The instrument is back with firmware " << running << "." << std::endl;
    const FirmwareRestartResult restart = finishFirmwareInstallation(instrument, result, session.log());
    if (!restart.took) {
        printError(context.err, "the instrument runs firmware " + running + ", not " + result.versionInFile.value_or("?")
                + ": the installation did not take" + (eraseLogBook ? "; its log book was kept" : ""));
        return InstrumentFailed;
    }
    if (!eraseLogBook)
        return Success;
    if (!restart.erased) {
        printError(context.err, "the instrument did not erase its log book"
                + (result.backup && result.backup->folder ? "; its flights are saved in " + *result.backup->folder : std::string()));
        return InstrumentFailed;
    }
    context.out << "The log book was erased." << std::endl;
    return Success;
}

const CliCommand installSubcommand {
    .name = "install",
    .usage = "FILE.s19 | --latest [--beta] [--erase-log-book] [--allow-downgrade]",
    .summary = "write a firmware file (Motorola S-records), or the latest firmware the vendor offers, into the "
               "instrument and wait for it to restart",
    .options = {
        { "latest", nullptr, "download the firmware the versions feed offers for the connected model" },
        { "beta", nullptr, "with --latest: the beta firmware instead of the release" },
        { "server", "URL", "with --latest: the vendor's web server (default: the preferences, or $CORVEX_VENDOR_URL)" },
        { "erase-log-book", nullptr,
            "save every flight as IGC into the backups folder before the first line (nothing is installed unless "
            "all are saved), and erase the log book after the restart (required when the offered update erases it)" },
        { "allow-downgrade", nullptr,
            "install firmware older than the instrument runs (refused without it); another model's firmware, or a "
            "download that is not the version the feed offered, is refused always" },
    },
    .minimumArguments = 0,
    .maximumArguments = 1,
    .run = runInstall,
};

} // namespace

extern const CliCommand firmwareCommand {
    .name = "firmware",
    .usage = "install FILE.s19 | --latest [--beta] [--erase-log-book] [--allow-downgrade]",
    .summary = "install firmware into the instrument",
    .options = {},
    .run = nullptr,
    .subcommands = { &installSubcommand },
};

} // namespace corvex::cli
