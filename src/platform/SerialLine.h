#pragma once

#include "base/Bytes.h"
#include "base/Result.h"

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
    // The other end is gone: the terminal hung up (an instrument unplugged).
    bool hungUp { false };
    // The errno of the failed call, 0 when none (a hang-up read as end of file).
    int systemError { 0 };
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

// Why a serial device could not be opened, for the device layer to turn into its own
// error (the platform layer knows nothing of the instrument's errors).
struct PortOpenError {
    // "/dev/ttyACM0: Permission denied", for the log.
    std::string detail;
    // The errno of the open, or EBUSY when another open holds the device.
    int systemError { 0 };
    // Who holds the device, when that can be found out: "corvex-vario (process 4711)".
    std::string holder;
};

using PortOpenResult = Result<std::unique_ptr<SerialLine>, PortOpenError>;

// Opens the callout device of an instrument for reading and writing, for this open
// alone: a second open of the same device, by this process or any other (root
// included), is refused with EBUSY until the line is closed.
class SerialPortOpener {
public:
    virtual ~SerialPortOpener() = default;
    virtual PortOpenResult open(const std::string& path) = 0;
};

} // namespace corvex
