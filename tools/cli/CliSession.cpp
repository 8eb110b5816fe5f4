#include "CliSession.h"

#include <iostream>

namespace corvex::cli {

int StderrAlertPresenter::showAlert(const Alert& alert)
{
    std::cerr << "corvex: " << alert.message;
    if (!alert.informativeText.empty())
        std::cerr << ": " << alert.informativeText;
    std::cerr << std::endl;
    return 0;
}

void printError(std::ostream& err, const std::string& message)
{
    err << "corvex: " << message << std::endl;
}

CliSession::CliSession(std::optional<std::string> port)
    : m_requestedPort(std::move(port))
{
    if (!m_requestedPort)
        m_discovery = makeSystemDiscovery(m_log);
    CorvexDeviceEnvironment environment;
    environment.ports = &m_ports;
    environment.log = &m_log;
    environment.alerts = &m_alerts;
    environment.discovery = m_discovery.get();
    // The instrument-made IGC text carries the program's version, as the desktop program's does.
    environment.applicationVersion = CORVEX_VERSION;
    m_device = std::make_unique<CorvexDevice>(this, environment);
    m_device->setShouldLogCommunications(false);
}

CliSession::~CliSession() = default;

std::optional<ExitCode> CliSession::connect()
{
    if (m_requestedPort) {
        m_device->corvexDeviceMatchedAtBsdPath(*m_requestedPort, 0);
    } else {
        // Instruments already plugged in are reported before this returns.
        m_device->registerForSerialDeviceNotifications();
        if (!m_device->deviceIsConnected()) {
            printError(std::cerr, "no instrument found: plug in the Corvex Vario, or give its serial device with --port PATH");
            return NoInstrument;
        }
    }
    m_portPath = m_device->deviceBsdPath().value_or("");
    if (!m_connected) {
        printError(std::cerr, "cannot open the instrument at " + m_portPath);
        return NoInstrument;
    }
    if (!m_device->initializeDevice()) {
        printError(std::cerr, "cannot configure the serial line of " + m_portPath);
        return InstrumentFailed;
    }
    return std::nullopt;
}

} // namespace corvex::cli
