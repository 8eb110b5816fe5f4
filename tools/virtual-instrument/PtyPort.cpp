#include "PtyPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace corvex::virtualinstrument {

namespace {

bool makeRaw(int fd)
{
    termios settings {};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CREAD | CLOCAL;
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

std::string lastError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

bool PtyPort::open(const std::string& entryPath, std::string& error)
{
    close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        error = lastError("posix_openpt");
        return false;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = lastError("grantpt/unlockpt");
        close();
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        error = lastError("ptsname");
        close();
        return false;
    }
    m_slaveName = name;
    m_slave = ::open(m_slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        error = lastError("open slave");
        close();
        return false;
    }
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!makeRaw(m_slave) || !makeRaw(m_master)) {
        error = lastError("raw mode");
        close();
        return false;
    }
    // No temporary name beside it: anything that appears in the instruments directory
    // counts as an arrived instrument.
    ::unlink(entryPath.c_str());
    if (::symlink(m_slaveName.c_str(), entryPath.c_str()) != 0) {
        error = lastError("symlink");
        close();
        return false;
    }
    m_entryPath = entryPath;
    return true;
}

void PtyPort::close()
{
    // The entry goes first, so the program sees the removal before its reads fail.
    if (!m_entryPath.empty()) {
        ::unlink(m_entryPath.c_str());
        m_entryPath.clear();
    }
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
    m_slaveName.clear();
}

} // namespace corvex::virtualinstrument
