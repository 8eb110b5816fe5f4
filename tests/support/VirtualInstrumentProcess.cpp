#include "VirtualInstrumentProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvex::testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto startTimeout = std::chrono::seconds(10);
constexpr auto stopTimeout = std::chrono::seconds(3);
constexpr auto replyTimeout = std::chrono::seconds(5);

std::string hexadecimal(std::uint32_t value, int width)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", width, value);
    return text;
}

// Waits for the child's first line on the pipe; the instrument prints its published
// path once the entry is in place.
bool waitForLine(int fd, std::string& line)
{
    auto deadline = Clock::now() + startTimeout;
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd { fd, POLLIN, 0 };
        if (::poll(&pfd, 1, static_cast<int>(std::max<long long>(1, left))) <= 0)
            continue;
        char c = 0;
        ssize_t count = ::read(fd, &c, 1);
        if (count <= 0)
            return false; // the instrument ended before it was ready
        if (c == '\n')
            return true;
        line.push_back(c);
    }
    return false;
}

} // namespace

VirtualInstrumentProcess::VirtualInstrumentProcess()
    : VirtualInstrumentProcess(Options())
{
}

VirtualInstrumentProcess::VirtualInstrumentProcess(Options options)
    : m_options(std::move(options))
{
    char scratch[] = "/tmp/corvex-vi-XXXXXX";
    if (::mkdtemp(scratch))
        m_scratch = scratch;
    m_stateDirectory = m_options.stateDirectory.empty() ? m_scratch + "/state" : m_options.stateDirectory;
    m_instrumentsDirectory
        = m_options.instrumentsDirectory.empty() ? m_scratch + "/instruments" : m_options.instrumentsDirectory;
    ::mkdir(m_stateDirectory.c_str(), 0700);
    ::mkdir(m_instrumentsDirectory.c_str(), 0700);
    start();
}

VirtualInstrumentProcess::~VirtualInstrumentProcess()
{
    stop();
    if (!m_scratch.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_scratch, error);
    }
}

std::string VirtualInstrumentProcess::portPath() const
{
    return m_instrumentsDirectory + "/corvex-" + hexadecimal(m_options.deviceId, 8);
}

std::string VirtualInstrumentProcess::controlPath() const
{
    return m_stateDirectory + "/control";
}

bool VirtualInstrumentProcess::start()
{
    if (m_scratch.empty())
        return false;
    std::vector<std::string> arguments {
        CORVEX_BUILD_DIR "/virtual-instrument",
        "--model", m_options.model,
        "--device-id", hexadecimal(m_options.deviceId, 1),
        "--firmware", std::to_string(m_options.firmwareVersion),
        "--battery", std::to_string(m_options.batteryTenthsOfVolt),
        "--units", hexadecimal(m_options.unitsBitfield, 2),
        "--igc-dir", m_options.igcDirectory.empty() ? std::string(CORVEX_TESTDATA_DIR "/igc") : m_options.igcDirectory,
        "--state", m_stateDirectory,
        "--instruments-dir", m_instrumentsDirectory,
        "--control", controlPath(),
    };
    arguments.insert(arguments.end(), m_options.extraArguments.begin(), m_options.extraArguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return false;
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(output[0]);
        ::close(output[1]);
        return false;
    }
    if (pid == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(output[1]);
    m_pid = pid;
    std::string published;
    bool ready = waitForLine(output[0], published);
    ::close(output[0]);
    struct stat info {};
    if (!ready || published != portPath() || ::lstat(published.c_str(), &info) != 0) {
        std::fprintf(stderr, "virtual instrument did not publish %s (got '%s')\n", portPath().c_str(), published.c_str());
        stop();
        return false;
    }
    return true;
}

void VirtualInstrumentProcess::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    auto deadline = Clock::now() + stopTimeout;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}

bool VirtualInstrumentProcess::isRunning() const
{
    if (m_pid <= 0)
        return false;
    // Looks without reaping, so the pid stays ours until stop() collects it.
    siginfo_t info {};
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return false;
    return info.si_pid == 0;
}

std::string VirtualInstrumentProcess::controlReply(std::string_view command)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::string path = controlPath();
    if (path.size() >= sizeof address.sun_path) {
        ::close(fd);
        return {};
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    std::string line = std::string(command) + "\n";
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        auto deadline = Clock::now() + replyTimeout;
        while (Clock::now() < deadline) {
            pollfd pfd { fd, POLLIN, 0 };
            if (::poll(&pfd, 1, 100) <= 0)
                continue;
            char c = 0;
            if (::read(fd, &c, 1) <= 0 || c == '\n')
                break;
            reply.push_back(c);
        }
    }
    ::close(fd);
    return reply;
}

bool VirtualInstrumentProcess::control(std::string_view command)
{
    std::string reply = controlReply(command);
    return reply == "ok" || reply.rfind("ok ", 0) == 0;
}

bool VirtualInstrumentProcess::restart()
{
    stop();
    return start();
}

} // namespace corvex::testing
