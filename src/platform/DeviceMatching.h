#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace corvex {

// The instrument's USB identity.
constexpr std::int32_t corvexUsbVendorId = 0x2504;
constexpr std::int32_t corvexUsbProductId = 0x0300;

// One entry of the system's device tree: a serial device or one of its ancestors.
class DeviceTreeEntry {
public:
    virtual ~DeviceTreeEntry() = default;
    // A numeric property of this entry alone (no search of children or parents).
    virtual std::optional<std::int32_t> integerProperty(std::string_view name) const = 0;
    virtual std::unique_ptr<DeviceTreeEntry> parent() const = 0;
};

// Walks from the serial device up through its parents and stops at the first entry
// that carries both "idVendor" and "idProduct"; the ids count only when they were
// found on the same entry.
bool GetDeviceVidAndPid(const DeviceTreeEntry& service, std::int32_t& vendorId, std::int32_t& productId);

// The serial device belongs to a Corvex Vario.
bool isCorvexInstrument(const DeviceTreeEntry& service);

} // namespace corvex
