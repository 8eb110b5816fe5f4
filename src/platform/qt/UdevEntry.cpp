#include "platform/qt/UdevEntry.h"

#include <charconv>

namespace corvex::udev {

std::optional<std::int32_t> parseHexadecimalAttribute(std::string_view text)
{
    // libudev strips the trailing newline of a sysattr; anything else is not an id.
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

DeviceEntry::DeviceEntry(udev_device* device)
    : m_device(udev_device_ref(device))
{
}

std::optional<std::int32_t> DeviceEntry::integerProperty(std::string_view name) const
{
    std::string attribute(name);
    const char* value = udev_device_get_sysattr_value(m_device.get(), attribute.c_str());
    if (!value)
        return std::nullopt;
    return parseHexadecimalAttribute(value);
}

std::unique_ptr<DeviceTreeEntry> DeviceEntry::parent() const
{
    // The parent belongs to the child; the new entry takes its own reference.
    udev_device* parentDevice = udev_device_get_parent(m_device.get());
    if (!parentDevice)
        return nullptr;
    return std::make_unique<DeviceEntry>(parentDevice);
}

} // namespace corvex::udev
