#pragma once

#include <string>

namespace corvex::virtualinstrument {

// The instrument's end of the line: a pty pair in raw mode whose slave is published as
// a symlink in the instruments directory, where the program's discovery finds it.
// The instrument keeps a descriptor of the slave open itself, so that the slave keeps
// its raw settings between the program's opens (Linux resets a pty's settings when its
// last descriptor closes) and the master never reads EIO while nobody listens.
class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort() { close(); }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Opens a fresh pair and publishes it at entryPath. Gives an error text on failure.
    bool open(const std::string& entryPath, std::string& error);
    // Withdraws the entry and closes both ends: the program's reads fail from now on.
    void close();

    bool isOpen() const { return m_master >= 0; }
    int master() const { return m_master; }
    const std::string& slaveName() const { return m_slaveName; }

private:
    int m_master { -1 };
    int m_slave { -1 };
    std::string m_slaveName;
    std::string m_entryPath;
};

} // namespace corvex::virtualinstrument
