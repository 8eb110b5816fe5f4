#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace corvex {

// Reports serial devices that belong to the instrument. start() reports the ones already
// present before it returns, then arrivals and removals from the main event loop.
// Only instruments are reported: removal is reported only for paths that were reported
// as arrived, since a removed device's USB ancestors can no longer be read.
class SerialDeviceDiscovery {
public:
    using Matched = std::function<void(const std::string& calloutPath, std::uint32_t registryHandle)>;
    using Terminated = std::function<void(const std::string& calloutPath)>;

    virtual ~SerialDeviceDiscovery() = default;
    virtual void start(Matched matched, Terminated terminated) = 0;
};

// Forces the instrument's USB device to re-enumerate.
class UsbResetter {
public:
    virtual ~UsbResetter() = default;
    virtual void resetInstrument() = 0;
};

} // namespace corvex
