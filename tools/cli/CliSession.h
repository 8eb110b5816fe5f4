#pragma once

#include "base/Units.h"

#include "base/Format.h"
#include "device/CorvexDevice.h"
#include "platform/AlertPresenter.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "platform/SystemLogSink.h"

#include <chrono>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvex::cli {

// Exit codes of the command line.
enum ExitCode : int {
    Success = 0,
    UsageError = 1,
    NoInstrument = 2,
    InstrumentFailed = 3,
    FileError = 4,
    // The versions feed could not be read or is not a feed.
    UpdateCheckFailed = 5,
    // The folder given (or chosen by default) holds no flight library.
    NoLibrary = 6,
    // The library has no flight with the number given.
    NoSuchFlight = 7,
    // `update check`: the feed offers an update.
    UpdateAvailable = 10,
    // Ctrl+C (or a TERM) stopped work that the command had saved enough of to say so,
    // as a shell numbers an interrupted command.
    Interrupted = 130,
};

// Alerts become lines on stderr: nobody is there to press a button.
class StderrAlertPresenter final : public AlertPresenter {
public:
    int showAlert(const Alert& alert) override;
    // While set, alerts are left out: the caller prints the reason itself.
    bool quiet { false };
};

// One run of the command line against one instrument: the same CorvexDevice the
// desktop program uses, connected either to --port or to the first instrument that
// discovery reports.
class CliSession final : public CorvexDeviceDelegate {
public:
    explicit CliSession(std::optional<std::string> port);
    ~CliSession() override;

    // Finds, opens and configures the instrument. Prints a clear message and returns
    // the exit code on failure; with reportMissing false, finding no instrument at all
    // returns NoInstrument without a message (for commands that work without one).
    std::optional<ExitCode> connect(bool reportMissing = true);

    CorvexDevice& device() { return *m_device; }
    const std::string& portPath() const { return m_portPath; }
    LogSink& log() { return m_log; }
    AlertPresenter& alerts() { return m_alerts; }

    void deviceConnected() override { m_connected = true; }
    void deviceDisconnected() override { m_connected = false; }

private:
    std::optional<std::string> m_requestedPort;
    std::string m_portPath;
    SystemLogSink m_log;
    StderrAlertPresenter m_alerts;
    PosixSerialPortOpener m_ports;
    std::unique_ptr<SerialDeviceDiscovery> m_discovery;
    std::unique_ptr<CorvexDevice> m_device;
    bool m_connected { false };
};

// How long one transfer of the command line may take in all unless --timeout says
// otherwise: generous for a firmware file over a slow line, yet a server that sends a
// byte now and then cannot hold `corvex` for ever.
inline constexpr std::chrono::seconds defaultTransferTimeout { 600 };

// What the option parser made of the command line, for one command.
struct CliContext {
    std::vector<std::string> arguments; // positional, after the command (and sub-command) name
    std::map<std::string, std::vector<std::string>> options; // every value given, by option name
    std::optional<std::string> port;
    std::ostream& out;
    std::ostream& err;
    // The overall deadline of each transfer (--timeout); the HTTP clients of the
    // commands take it.
    std::chrono::milliseconds transferTimeout { defaultTransferTimeout };
    // The text's units and times (--units, --utc): nothing and false leave them to the
    // preferences `units` and `timesInUtc`. JSON stays in SI units and UTC.
    std::optional<UnitSystem> units;
    bool utc { false };

    // The last value given for the option, nothing when it was not given.
    std::optional<std::string> option(const std::string& name) const
    {
        const auto found = options.find(name);
        if (found == options.end() || found->second.empty())
            return std::nullopt;
        return found->second.back();
    }
    std::vector<std::string> optionValues(const std::string& name) const
    {
        const auto found = options.find(name);
        return found == options.end() ? std::vector<std::string> {} : found->second;
    }
};

// "corvex: MESSAGE" on stderr, the message's control characters made visible
// (visibleText): messages quote names, paths and lines of files.
void printError(std::ostream& err, const std::string& message);

// The one reading of an instrument's failure on the command line: prints
// "corvex: WHAT: what happened. What to do." and gives the exit code of its kind
// (NoInstrument when the serial device cannot be opened, InstrumentFailed otherwise).
ExitCode exitCodeFor(const DeviceError& error);
ExitCode reportDeviceFailure(std::ostream& err, const std::string& what, const DeviceError& error);

// Makes the folder (with its parents, as mkdir -p) and checks that a file can be
// created in it, so that a long transfer is not thrown away at the end. Prints the
// reason and returns false when it cannot.
bool prepareOutputFolder(const std::string& folder, std::ostream& err);
// The same for the folder a file is to be written into.
bool prepareFolderOfFile(const std::string& path, std::ostream& err);

} // namespace corvex::cli
