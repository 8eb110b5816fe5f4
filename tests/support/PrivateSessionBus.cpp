#include "PrivateSessionBus.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvex::testing {

namespace {

// Anyone on the bus may own any name and call anyone; no service directories.
const char* const configuration = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@FOLDER@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// The daemon prints its address, then a newline, once it listens.
std::string readAddress(int fd)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready { fd, POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return {};
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text.substr(0, text.find('\n'));
}

} // namespace

PrivateSessionBus::PrivateSessionBus()
{
    if (m_folder.path().empty())
        return;
    std::string text = configuration;
    text.replace(text.find("@FOLDER@"), 8, m_folder.path());
    const std::string configPath = m_folder.path() + "/session.conf";
    std::ofstream(configPath) << text;

    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return;
    const std::string configOption = "--config-file=" + configPath;
    const std::string printOption = "--print-address=" + std::to_string(pipeEnds[1]);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(pipeEnds[0]);
        ::execlp("dbus-daemon", "dbus-daemon", configOption.c_str(), "--nofork", "--nopidfile", printOption.c_str(),
            static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (m_pid > 0)
        m_address = readAddress(pipeEnds[0]);
    ::close(pipeEnds[0]);
    if (m_address.empty())
        return;
    if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        m_previousAddress = previous;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (!m_address.empty()) {
        if (m_previousAddress)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress->c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

} // namespace corvex::testing
