#pragma once

#include "TemporaryFolder.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace corvex::testing {

// A session bus of the test's own: a dbus-daemon on a socket in a temporary folder,
// with no services to start on demand, so that whatever the machine runs or could run
// stays out. Its address goes into DBUS_SESSION_BUS_ADDRESS of this process (and of the
// programs it starts) until the end. Qt reads the address once, at the first use of the
// session bus in the process: make this before that. Each test case runs in a process of
// its own, so a case can make one.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus(); // stops the daemon and puts the old address back
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool isRunning() const { return !m_address.empty(); }
    const std::string& address() const { return m_address; }

private:
    TemporaryFolder m_folder { "corvex-bus" };
    pid_t m_pid { -1 };
    std::string m_address;
    std::optional<std::string> m_previousAddress;
};

} // namespace corvex::testing
