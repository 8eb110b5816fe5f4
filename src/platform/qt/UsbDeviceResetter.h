#pragma once

#include "platform/Discovery.h"

#include <cstdio>

namespace corvex {

class LogSink;

// Re-enumerates the instrument by resetting its USB device (USBDEVFS_RESET on the
// device's node under /dev/bus/usb). Needs write access to that node, which the udev
// rule in resources/linux grants to the logged-in user.
class UsbDeviceResetter final : public UsbResetter {
public:
    // The "Found dev" and "Unable to open" lines go to output (standard output in the
    // program), the re-enumeration error to log.
    explicit UsbDeviceResetter(LogSink& log, std::FILE* output = stdout);
    void resetInstrument() override;

private:
    LogSink& m_log;
    std::FILE* m_output;
};

} // namespace corvex
