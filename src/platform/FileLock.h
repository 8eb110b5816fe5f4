#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace corvex {

// An exclusive advisory lock (flock) on a file, held until the object goes; what keeps
// a second copy of the desktop program out where the session bus cannot.
class FileLock {
public:
    enum class State {
        Held, // this object holds the lock
        Taken, // another open of the file holds it
        Failed, // the file cannot be made or locked
    };

    // Creates the file (mode 0600) when it is missing.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    State state() const { return m_state; }
    // Taken: who holds it, "corvex-vario (process 4711)", or empty when that cannot be told.
    const std::string& holder() const { return m_holder; }
    // Failed: the step and its reason, "open /run/x.lock: Permission denied".
    const std::string& error() const { return m_error; }

private:
    int m_fd { -1 };
    State m_state { State::Failed };
    std::string m_holder;
    std::string m_error;
};

// The process holding an advisory lock (flock or POSIX) on the file, as
// "corvex-vario (process 4711)", from /proc/locks; empty when there is none that can be
// named (a lock on an open file description names no process).
std::string fileLockHolder(const std::string& path);

// "corvex-vario (process 4711)" from the process's name; empty when it has gone.
std::string processDescription(int pid);

// A process id from a /proc entry or a field of /proc/locks: digits only, above 0.
std::optional<pid_t> processIdFromText(const char* text);

} // namespace corvex
