#include "platform/FileLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvex {

namespace {

// The process that holds an advisory lock on the file, from /proc/locks:
// "1: FLOCK  ADVISORY  WRITE 4711 00:19:3 0 EOF" (the device of the file system in
// hexadecimal, then the inode). Waiters ("1: -> FLOCK ...") and open-file-description
// locks (process -1) name nobody.
std::optional<pid_t> lockingProcess(const struct stat& node)
{
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, type, advisory, access, pid, file;
        if (!(fields >> number >> type) || type == "->")
            continue;
        if (!(fields >> advisory >> access >> pid >> file))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3)
            continue;
        if (major != ::major(node.st_dev) || minor != ::minor(node.st_dev) || inode != node.st_ino)
            continue;
        if (auto holder = processIdFromText(pid.c_str()))
            return holder;
    }
    return std::nullopt;
}

} // namespace

std::optional<pid_t> processIdFromText(const char* text)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0)
        return std::nullopt;
    return static_cast<pid_t>(value);
}

std::string processDescription(int pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(comm, name) || name.empty())
        return {};
    return name + " (process " + std::to_string(pid) + ")";
}

std::string fileLockHolder(const std::string& path)
{
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return {};
    const auto holder = lockingProcess(node);
    return holder ? processDescription(*holder) : std::string();
}

FileLock::FileLock(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        m_error = "open " + path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_state = State::Held;
        return;
    }
    const int lockError = errno;
    ::close(m_fd);
    m_fd = -1;
    if (lockError == EWOULDBLOCK) {
        m_state = State::Taken;
        m_holder = fileLockHolder(path);
    } else {
        m_error = "flock " + path + ": " + std::strerror(lockError);
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace corvex
