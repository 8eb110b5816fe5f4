#pragma once

#include "platform/SerialLine.h"

#include <string>

namespace corvex {

// A termios serial line on a device node (a USB ACM tty or a pty).
class PosixSerialLine final : public SerialLine {
public:
    explicit PosixSerialLine(int fileDescriptor);
    ~PosixSerialLine() override;
    PosixSerialLine(const PosixSerialLine&) = delete;
    PosixSerialLine& operator=(const PosixSerialLine&) = delete;

    TerminalSetupReport configureRaw115200() override;
    std::variant<std::size_t, LineError> readSome(std::span<std::uint8_t> buffer) override;
    std::variant<std::size_t, LineError> readSomeWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds silence) override;
    std::variant<std::monostate, LineError> writeAll(ByteView bytes) override;

private:
    int m_fd;
};

class PosixSerialPortOpener final : public SerialPortOpener {
public:
    PortOpenResult open(const std::string& path) override;
};

// Who holds the serial device at the path: "corvex-vario (process 4711)" for the
// process with the advisory lock on it, else for the one other process with it open;
// empty when nobody can be named.
std::string serialDeviceHolder(const std::string& path);

} // namespace corvex
