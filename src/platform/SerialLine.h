#pragma once

#include "base/Bytes.h"

#include <chrono>
#include <memory>
#include <string>
#include <variant>

namespace corvex {

// What the terminal set-up reported, step by step, so that the device can write the
// log lines of each failed step and go on.
struct TerminalSetupReport {
    bool validDescriptor { true };
    bool getAttributesFailed { false };
    bool setAttributesFailed { false };
    bool flushFailed { false };
};

struct LineError {
    std::string message;
};

// One open serial line. A read returns what the line delivered in one call: at most
// the buffer's size, zero bytes when it stayed silent for the inter-byte timeout.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    // 115200 bit/s, 8N1, raw, no flow control, VMIN 0 / VTIME 1, both queues flushed.
    virtual TerminalSetupReport configureRaw115200() = 0;
    virtual std::variant<std::size_t, LineError> readSome(std::span<std::uint8_t> buffer) = 0;
    // As readSome, but gives up after `silence` instead of the line's own timeout: for
    // bytes that, if they come at all, follow at once.
    virtual std::variant<std::size_t, LineError> readSomeWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds silence) = 0;
    virtual std::variant<std::monostate, LineError> writeAll(ByteView bytes) = 0;
};

// Opens the callout device of an instrument for reading and writing.
class SerialPortOpener {
public:
    virtual ~SerialPortOpener() = default;
    virtual std::unique_ptr<SerialLine> open(const std::string& path, std::string& error) = 0;
};

} // namespace corvex
