// corvex firmware install: the desktop program's installation sequence with a progress
// bar on the terminal, then the wait for the restarted instrument.
#include "Commands.h"

#include "updates/FirmwareInstallation.h"
#include "updates/LogBookBackup.h"

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
constexpr auto pollInterval = std::chrono::milliseconds(200);
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

int runInstall(CliContext& context)
{
    const std::string& file = context.arguments.front();
    const auto data = readFileBytes(file);
    if (!data) {
        printError(context.err, "cannot read " + file);
        return FileError;
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
        printError(context.err, file + " is not a sound firmware file; nothing was sent to the instrument");
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

    if (!context.option("erase-log-book"))
        return Success;

    LogBookBackupEnvironment backup;
    backup.log = &session.log();
    backup.alerts = &session.alerts();
    backup.programVersion = CORVEX_VERSION;
    // Nobody is there to answer: without every flight saved the log book stays.
    backup.confirmEraseWithoutBackup = [&context](std::optional<std::size_t> lost) {
        printError(context.err, lost ? std::to_string(*lost) + " flights could not be saved; the log book was not erased"
                                     : std::string("the flight list could not be read; the log book was not erased"));
        return false;
    };
    const LogBookEraseResult erase = backUpAndEraseLogBook(device, serial, backup);
    if (!erase.erased)
        return InstrumentFailed;
    if (erase.backupFolder)
        context.out << erase.flightsSaved << " flights saved in " << *erase.backupFolder << "." << std::endl;
    context.out << "The log book was erased." << std::endl;
    return Success;
}

const CliCommand installSubcommand {
    .name = "install",
    .usage = "FILE.s19 [--erase-log-book]",
    .summary = "write a firmware file (Motorola S-records) into the instrument and wait for it to restart",
    .options = {
        { "erase-log-book", nullptr, "after the restart, save every flight as IGC into the backups folder and erase the log book" },
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runInstall,
};

} // namespace

extern const CliCommand firmwareCommand {
    .name = "firmware",
    .usage = "install FILE.s19 [--erase-log-book]",
    .summary = "install firmware into the instrument",
    .options = {},
    .run = nullptr,
    .subcommands = { &installSubcommand },
};

} // namespace corvex::cli
