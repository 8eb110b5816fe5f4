#include "CliSession.h"

#include "base/Format.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <unistd.h>

namespace corvex::cli {

int StderrAlertPresenter::showAlert(const Alert& alert)
{
    if (quiet)
        return 0;
    std::cerr << "corvex: " << visibleText(alert.message, LineBreaks::Kept);
    if (!alert.informativeText.empty())
        std::cerr << ": " << visibleText(alert.informativeText, LineBreaks::Kept);
    std::cerr << std::endl;
    return 0;
}

void printError(std::ostream& err, const std::string& message)
{
    // Messages quote names and lines from files: no control character of theirs
    // reaches the terminal.
    err << "corvex: " << visibleText(message, LineBreaks::Kept) << std::endl;
}

ExitCode exitCodeFor(const DeviceError& error)
{
    return error.kind == DeviceErrorKind::PortUnavailable ? NoInstrument : InstrumentFailed;
}

ExitCode reportDeviceFailure(std::ostream& err, const std::string& what, const DeviceError& error)
{
    printError(err, what + ": " + describeDeviceError(error));
    return exitCodeFor(error);
}

bool prepareOutputFolder(const std::string& folder, std::ostream& err)
{
    // An empty folder is the current one, as for the files written into it. The names
    // stay bytes: a folder whose name is not UTF-8 is made as given.
    const std::string path = folder.empty() ? std::string(".") : folder;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error || !std::filesystem::is_directory(path, error)) {
        printError(err, "cannot create the folder " + folder);
        return false;
    }
    // Permission bits alone do not tell (root writes anyway, a read-only mount refuses
    // anyway): a file made and removed again does.
    std::string probe = path + "/.corvex-write-test-XXXXXX";
    const int descriptor = ::mkstemp(probe.data());
    if (descriptor < 0) {
        printError(err, "cannot write into the folder " + folder);
        return false;
    }
    ::close(descriptor);
    ::unlink(probe.c_str());
    return true;
}

bool prepareFolderOfFile(const std::string& path, std::ostream& err)
{
    return prepareOutputFolder(std::filesystem::path(path).parent_path().string(), err);
}

CliSession::CliSession(std::optional<std::string> port)
    : m_requestedPort(std::move(port))
{
    if (!m_requestedPort)
        m_discovery = makeSystemDiscovery(m_log);
    CorvexDeviceEnvironment environment;
    environment.ports = &m_ports;
    environment.alerts = &m_alerts;
    environment.discovery = m_discovery.get();
    // The instrument-made IGC text carries the program's version, as the desktop program's does.
    environment.applicationVersion = CORVEX_VERSION;
    m_device = std::make_unique<CorvexDevice>(this, environment, OperationContext(m_log));
    m_device->setShouldLogCommunications(false);
}

CliSession::~CliSession() = default;

std::optional<ExitCode> CliSession::connect(bool reportMissing)
{
    // A line that cannot be opened is reported below, once, with its reason.
    m_alerts.quiet = true;
    if (m_requestedPort) {
        m_device->corvexDeviceMatchedAtBsdPath(*m_requestedPort, 0);
    } else {
        // Instruments already plugged in are reported before this returns.
        m_device->registerForSerialDeviceNotifications();
    }
    m_alerts.quiet = false;
    if (!m_requestedPort) {
        if (!m_device->deviceIsConnected()) {
            if (!reportMissing)
                return NoInstrument;
            printError(std::cerr, "no instrument found: plug in the Corvex Vario, or give its serial device with --port PATH");
            return NoInstrument;
        }
    }
    m_portPath = m_device->deviceBsdPath().value_or("");
    if (!m_connected) {
        // Missing, forbidden or held by another program: in every case there is no
        // instrument this command can talk to.
        const auto& error = m_device->lastOpenError();
        printError(std::cerr, "cannot open the instrument at " + m_portPath + (error ? ": " + describeDeviceError(*error) : ""));
        return NoInstrument;
    }
    if (!m_device->initializeDevice()) {
        printError(std::cerr, "cannot configure the serial line of " + m_portPath);
        return InstrumentFailed;
    }
    return std::nullopt;
}

} // namespace corvex::cli
