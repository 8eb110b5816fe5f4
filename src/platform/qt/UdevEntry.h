#pragma once

#include "platform/DeviceMatching.h"

#include <libudev.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::udev {

// Owning handles: every udev object we keep is released exactly once.
struct ContextRelease {
    void operator()(struct udev* context) const { udev_unref(context); }
};
struct DeviceRelease {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
struct MonitorRelease {
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
struct EnumerateRelease {
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
};
using Context = std::unique_ptr<struct udev, ContextRelease>;
using Device = std::unique_ptr<udev_device, DeviceRelease>;
using Monitor = std::unique_ptr<udev_monitor, MonitorRelease>;
using Enumerate = std::unique_ptr<udev_enumerate, EnumerateRelease>;

// A sysattr given as hexadecimal text ("2504"), the way the kernel publishes USB ids.
std::optional<std::int32_t> parseHexadecimalAttribute(std::string_view text);

// A udev device as one entry of the device tree: its own sysattrs, and its parent.
// Holds a reference of its own, so a parent outlives the child it was taken from.
class DeviceEntry final : public DeviceTreeEntry {
public:
    // Takes a new reference on device.
    explicit DeviceEntry(udev_device* device);

    std::optional<std::int32_t> integerProperty(std::string_view name) const override;
    std::unique_ptr<DeviceTreeEntry> parent() const override;

private:
    Device m_device;
};

// Text of a udev getter that may return null.
inline std::string text(const char* value) { return value ? std::string(value) : std::string(); }

} // namespace corvex::udev
