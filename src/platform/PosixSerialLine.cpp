#include "platform/PosixSerialLine.h"

#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace corvex {

namespace {
bool hungUp(int fd);

// A USB tty whose instrument is gone fails with EIO (or ENXIO once torn down), and
// polls as hung up; both are kept so that the caller can tell a pulled cable from a
// line that failed otherwise.
LineError errnoError(const char* call, int fd)
{
    const int error = errno;
    return LineError { std::string(call) + ": " + std::strerror(error), hungUp(fd), error };
}

// A read of nothing is the line's 0.1 s of silence, or a line whose other end is gone
// (an instrument unplugged): a hung-up terminal reads as empty at once, and an answer
// lost with the cable must not pass for an instrument with nothing to say.
bool hungUp(int fd)
{
    pollfd watched { fd, 0, 0 };
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
}

PosixSerialLine::PosixSerialLine(int fileDescriptor)
    : m_fd(fileDescriptor)
{
}

PosixSerialLine::~PosixSerialLine()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

TerminalSetupReport PosixSerialLine::configureRaw115200()
{
    TerminalSetupReport report;
    if (m_fd <= 0) {
        report.validDescriptor = false;
        return report;
    }
    termios settings {};
    if (tcgetattr(m_fd, &settings) != 0)
        report.getAttributesFailed = true;
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 1;
    // Linux keeps the speed inside c_cflag and only receives with CREAD, so the flags
    // are assigned first and the speed set afterwards; CLOCAL keeps a missing carrier
    // from blocking the open line.
    settings.c_cflag = CS8 | CREAD | CLOCAL;
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    if (tcsetattr(m_fd, TCSANOW, &settings) != 0)
        report.setAttributesFailed = true;
    if (tcflush(m_fd, TCIOFLUSH) != 0)
        report.flushFailed = true;
    return report;
}

std::variant<std::size_t, LineError> PosixSerialLine::readSome(std::span<std::uint8_t> buffer)
{
    for (;;) {
        ssize_t count = ::read(m_fd, buffer.data(), buffer.size());
        if (count == 0 && hungUp(m_fd))
            return LineError { "read: the line has hung up", true, 0 };
        if (count >= 0)
            return static_cast<std::size_t>(count);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return std::size_t { 0 };
        return errnoError("read", m_fd);
    }
}

std::variant<std::size_t, LineError> PosixSerialLine::readSomeWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds silence)
{
    // Wait for the first byte ourselves; once one is there the read returns at once
    // with what has arrived, without the line's 0.1 s timeout.
    pollfd watched { m_fd, POLLIN, 0 };
    const auto deadline = std::chrono::steady_clock::now() + silence;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        int ready = ::poll(&watched, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        if (ready > 0)
            return readSome(buffer);
        if (ready == 0)
            return std::size_t { 0 };
        if (errno != EINTR)
            return errnoError("poll", m_fd);
    }
}

std::variant<std::monostate, LineError> PosixSerialLine::writeAll(ByteView bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(m_fd, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errnoError("write", m_fd);
        }
        written += static_cast<std::size_t>(count);
    }
    return std::monostate {};
}

namespace {

// The one other process with a descriptor open on the character device, nothing when
// there is none or several (a virtual instrument keeps its own pty end open too), or
// when /proc does not let us look.
std::optional<pid_t> openingProcess(dev_t device)
{
    DIR* processes = ::opendir("/proc");
    if (!processes)
        return std::nullopt;
    const pid_t self = ::getpid();
    std::set<pid_t> holders;
    while (dirent* process = ::readdir(processes)) {
        const auto pid = processIdFromText(process->d_name);
        if (!pid || *pid == self)
            continue;
        const std::string folder = "/proc/" + std::string(process->d_name) + "/fd";
        DIR* descriptors = ::opendir(folder.c_str());
        if (!descriptors)
            continue;
        while (dirent* descriptor = ::readdir(descriptors)) {
            struct stat target {};
            if (descriptor->d_name[0] == '.' || ::stat((folder + "/" + descriptor->d_name).c_str(), &target) != 0)
                continue;
            if (S_ISCHR(target.st_mode) && target.st_rdev == device) {
                holders.insert(*pid);
                break;
            }
        }
        ::closedir(descriptors);
    }
    ::closedir(processes);
    if (holders.size() != 1)
        return std::nullopt;
    return *holders.begin();
}

} // namespace

std::string serialDeviceHolder(const std::string& path)
{
    if (std::string holder = fileLockHolder(path); !holder.empty())
        return holder;
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return {};
    const auto holder = openingProcess(node.st_rdev);
    return holder ? processDescription(*holder) : std::string();
}

PortOpenResult PosixSerialPortOpener::open(const std::string& path)
{
    // O_NONBLOCK only for the open itself, so a missing carrier cannot hang it; the
    // reads rely on VTIME and need a blocking descriptor.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int openError = errno;
        PortOpenError error { path + ": " + std::strerror(openError), openError, {} };
        if (openError == EBUSY)
            error.holder = serialDeviceHolder(path);
        return Failure { std::move(error) };
    }
    // TIOCEXCL below keeps out later opens of unprivileged processes only: root opens
    // anyway, and so does this process a second time. The advisory lock on the opened
    // node (the pty itself for a symlinked virtual instrument) binds every open that
    // asks for it, our own included, whoever runs it. A file system without locks
    // leaves the terminal's exclusion alone to do the work.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return Failure { PortOpenError { path + ": locked by another open of the device", EBUSY, serialDeviceHolder(path) } };
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // Keep a second program (or a modem prober) from interleaving frames with ours.
    ioctl(fd, TIOCEXCL);
    return std::unique_ptr<SerialLine>(std::make_unique<PosixSerialLine>(fd));
}

} // namespace corvex
