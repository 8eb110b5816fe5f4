#pragma once

#include "platform/SerialLine.h"

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
    std::unique_ptr<SerialLine> open(const std::string& path, std::string& error) override;
};

} // namespace corvex
