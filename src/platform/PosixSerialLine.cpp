#include "platform/PosixSerialLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace corvex {

namespace {
LineError errnoError(const char* call)
{
    return LineError { std::string(call) + ": " + std::strerror(errno) };
}

// A line whose instrument has gone reads as end of file, which with VMIN 0 looks
// exactly like a line that stayed silent; only the hang-up that poll reports tells
// the two apart.
bool hungUp(int fd)
{
    pollfd watched { fd, POLLIN, 0 };
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
            return LineError { "read: the line was hung up" };
        if (count >= 0)
            return static_cast<std::size_t>(count);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return std::size_t { 0 };
        return errnoError("read");
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
            return errnoError("poll");
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
            return errnoError("write");
        }
        written += static_cast<std::size_t>(count);
    }
    return std::monostate {};
}

std::unique_ptr<SerialLine> PosixSerialPortOpener::open(const std::string& path, std::string& error)
{
    // O_NONBLOCK only for the open itself, so a missing carrier cannot hang it; the
    // reads rely on VTIME and need a blocking descriptor.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // Keep a second program (or a modem prober) from interleaving frames with ours.
    ioctl(fd, TIOCEXCL);
    return std::make_unique<PosixSerialLine>(fd);
}

} // namespace corvex
