// corvex firmware install: the desktop program's installation sequence with a progress
// bar on the terminal, then the wait for the restarted instrument.
#include "Commands.h"
#include "TerminalProgress.h"

#include "base/Sha256.h"
#include "device/FirmwareVersion.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/VendorEndpoints.h"
#include "updates/FirmwareFile.h"
#include "updates/FirmwareInstallation.h"
#include "updates/LogBookBackup.h"
#include "updates/URLConnection.h"
#include "updates/UpdateCheck.h"
#include "updates/VersionComparison.h"

#include <QEventLoop>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <filesystem>
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

std::optional<Bytes> readFileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray contents = file.readAll();
    return Bytes(contents.begin(), contents.end());
}

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
    void finish()
    {
        if (m_terminal && m_last >= 0)
            m_out << std::endl;
    }

private:
    std::ostream& m_out;
    bool m_terminal;
    int m_last { -1 };
};

// The version a firmware file names in its S0 header text ("WREN 2.406"), which the
// instrument reports once it runs that firmware; nothing when the header names none.
std::optional<std::string> versionNamedInFile(const Bytes& data)
{
    for (const std::string& line : readFirmwareFile(data).lines) {
        // "S0", the byte count, a 16-bit address, the text, the checksum.
        if (line.rfind("S0", 0) != 0 || !isWellFormedSRecord(line))
            continue;
        std::string text;
        for (std::size_t at = 8; at + 2 < line.size(); at += 2)
            text += static_cast<char>(std::stoi(line.substr(at, 2), nullptr, 16));
        for (std::size_t at = 0; at + 5 <= text.size(); ++at) {
            const auto digit = [&](std::size_t i) { return text[at + i] >= '0' && text[at + i] <= '9'; };
            if (digit(0) && text[at + 1] == '.' && digit(2) && digit(3) && digit(4))
                return text.substr(at, 5);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

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

std::string versionsFeedUrl(const CliContext& context)
{
    if (const auto server = context.option("server"))
        return VendorEndpoints(*server).versionsFeedUrl();
    PreferencesStore preferences;
    preferences.registerDefaultsFromPropertyList(":/InitialDefaults.plist");
    return preferences.vendorEndpoints().versionsFeedUrl();
}

// What the latest firmware download found: the file, or the exit code after a message.
struct Download {
    std::optional<Bytes> data;
    int exitCode { Success };
    std::string version;
    bool erasesLogBook { false };
};

// The versions feed, then the firmware it offers the connected model, checked against
// the feed's digest. Nothing to install (up to date) gives no data and Success.
Download downloadLatestFirmware(CliContext& context, CliSession& session)
{
    Download download;
    const bool beta = context.option("beta").has_value();
    CorvexDevice& device = session.device();
    const std::string current = device.firmwareVersion().text();
    QtHttpClient http;
    const std::string feedUrl = versionsFeedUrl(context);
    UpdateChecker checker(http, session.log(), feedUrl);
    std::optional<UpdateCheckResult> outcome;
    QEventLoop loop;
    checker.checkUpdates(CORVEX_VERSION, current, device.isWren(), [&](const UpdateCheckResult& result) {
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
    const OfferedFirmware offered = offeredFirmware(outcome->updates, beta);
    if (!offered.url || !offered.version || !offered.isUpdate) {
        context.out << "Firmware " << current << " is up to date"
                    << (offered.version ? " (offered: " + *offered.version + ")" : std::string()) << "." << std::endl;
        return download;
    }
    download.version = *offered.version;
    download.erasesLogBook = firmwareUpdateErasesLogBook(current, *offered.version);
    if (download.erasesLogBook && !context.option("erase-log-book")) {
        printError(context.err, "firmware " + *offered.version + " erases the log book of an instrument on " + current
                + ": run again with --erase-log-book (every flight is saved as IGC first)");
        download.exitCode = UsageError;
        return download;
    }

    context.out << "Downloading firmware " << *offered.version << " from " << *offered.url << std::endl;
    HttpRequest request;
    request.url = percentEscapedUrlString(*offered.url);
    request.cachePolicy = HttpCachePolicy::ignoreLocalCache;
    request.inactivityTimeout = std::chrono::seconds(VendorEndpoints::downloadTimeoutSeconds);
    std::optional<Bytes> body;
    int status = 0;
    std::string error;
    bool done = false;
    QEventLoop downloadLoop;
    auto connection = URLConnection::asyncConnectionWithRequest(
        http, std::move(request),
        [&](std::optional<Bytes> data, std::optional<URLResponse> response) {
            body = std::move(data);
            status = response ? response->statusCode : 0;
            done = true;
            downloadLoop.quit();
        },
        [&](const URLError& failure) {
            error = failure.text;
            done = true;
            downloadLoop.quit();
        });
    if (!done)
        downloadLoop.exec();
    if (!error.empty() || !body) {
        printError(context.err, "cannot download the firmware: " + (error.empty() ? std::string("cancelled") : error));
        download.exitCode = UpdateCheckFailed;
        return download;
    }
    if (status != 200) {
        printError(context.err, "cannot download the firmware: the server answered " + std::to_string(status));
        download.exitCode = UpdateCheckFailed;
        return download;
    }
    if (offered.sha256 && !sameHexDigest(Sha256::hexOf(*body), *offered.sha256)) {
        printError(context.err, "the downloaded firmware does not match the checksum the versions feed gives; nothing was installed");
        download.exitCode = FileError;
        return download;
    }
    download.data = std::move(body);
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
    if (!latest) {
        file = context.arguments.front();
        data = readFileBytes(file);
        if (!data) {
            printError(context.err, "cannot read " + file);
            return FileError;
        }
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
    }
    const std::optional<std::string> expectedVersion = versionNamedInFile(*data);
    const std::string versionBefore = device.firmwareVersion().text();
    context.out << "Installing " << file << " into the " << device.firmwareVersion().modelName() << " " << serial
                << " (firmware " << device.firmwareVersion().text() << "). Do not disconnect the instrument." << std::endl;

    ProgressReport progress(context.out);
    FirmwareInstallationEnvironment environment;
    environment.log = &session.log();
    environment.alerts = &session.alerts();
    environment.setProgress = [&progress](int percent) { progress.show(percent); };
    const FirmwareInstallationResult result = installFirmwareFromData(device, *data, environment);
    progress.finish();

    switch (result.outcome) {
    case FirmwareInstallationOutcome::NotStarted:
        printError(context.err, "the instrument went away before the installation began");
        return NoInstrument;
    case FirmwareInstallationOutcome::FileRefused:
        printError(context.err, file + " is not sound firmware; nothing was sent to the instrument");
        return FileError;
    case FirmwareInstallationOutcome::Failed:
        printError(context.err, "the instrument refused line " + std::to_string(result.linesSent) + " of "
                + std::to_string(result.totalLines) + "; it keeps its old firmware");
        return InstrumentFailed;
    case FirmwareInstallationOutcome::Installed:
        break;
    }

    context.out << "Firmware sent (" << result.totalLines << " lines). Waiting for the instrument to restart..." << std::endl;
    if (!waitForInstrument(session, path)) {
        printError(context.err, "the instrument did not come back at " + path + " after its restart");
        return InstrumentFailed;
    }
    context.out << "The instrument is back with firmware " << device.firmwareVersion().text() << "." << std::endl;
    // A restart line lost with the cable leaves the old firmware running: the instrument
    // comes back, but the installation did not take. Only an unchanged version counts
    // as that; one that changed at all is taken as installed, whatever the file's
    // header text says.
    const std::string running = device.firmwareVersion().text();
    if (expectedVersion && running == versionBefore && compareVersions(running, *expectedVersion) != VersionOrder::same) {
        printError(context.err, "the instrument runs firmware " + running + ", not " + *expectedVersion + ": the installation did not take");
        return InstrumentFailed;
    }

    if (!context.option("erase-log-book"))
        return Success;

    LogBookBackupEnvironment backup;
    backup.log = &session.log();
    backup.alerts = &session.alerts();
    backup.programVersion = CORVEX_VERSION;
    TerminalProgress backupProgress(context.err);
    backup.flightStarted = [&backupProgress](std::size_t flight, std::size_t count) {
        backupProgress.show("saving flight " + std::to_string(flight) + " of " + std::to_string(count), flight - 1, count);
    };
    // Nobody is there to answer: without every flight saved the log book stays.
    backup.confirmEraseWithoutBackup = [&context, &backupProgress](std::optional<std::size_t> lost) {
        backupProgress.finish();
        printError(context.err, lost ? std::to_string(*lost) + " flights could not be saved; the log book was not erased"
                                     : std::string("the flight list could not be read; the log book was not erased"));
        return false;
    };
    const LogBookEraseResult erase = backUpAndEraseLogBook(device, serial, backup);
    backupProgress.finish();
    if (!erase.erased) {
        // When the backup fell short, the question above has said so already.
        if (erase.flightsNotSaved == std::optional<std::size_t>(0))
            printError(context.err,
                "the instrument did not erase its log book"
                    + (erase.backupFolder ? "; its flights are saved in " + *erase.backupFolder : std::string()));
        return InstrumentFailed;
    }
    if (erase.backupFolder)
        context.out << erase.flightsSaved << " flights saved in " << *erase.backupFolder << "." << std::endl;
    context.out << "The log book was erased." << std::endl;
    return Success;
}

const CliCommand installSubcommand {
    .name = "install",
    .usage = "FILE.s19 | --latest [--beta] [--erase-log-book]",
    .summary = "write a firmware file (Motorola S-records), or the latest firmware the vendor offers, into the "
               "instrument and wait for it to restart",
    .options = {
        { "latest", nullptr, "download the firmware the versions feed offers for the connected model" },
        { "beta", nullptr, "with --latest: the beta firmware instead of the release" },
        { "server", "URL", "with --latest: the vendor's web server (default: the preferences, or $CORVEX_VENDOR_URL)" },
        { "erase-log-book", nullptr,
            "after the restart, save every flight as IGC into the backups folder and erase the log book "
            "(required when the offered update erases it)" },
    },
    .minimumArguments = 0,
    .maximumArguments = 1,
    .run = runInstall,
};

} // namespace

extern const CliCommand firmwareCommand {
    .name = "firmware",
    .usage = "install FILE.s19 | --latest [--beta] [--erase-log-book]",
    .summary = "install firmware into the instrument",
    .options = {},
    .run = nullptr,
    .subcommands = { &installSubcommand },
};

} // namespace corvex::cli
