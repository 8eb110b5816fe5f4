#include "platform/qt/UdevDiscovery.h"

#include "platform/InstrumentDirectory.h"
#include "platform/LogSink.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace corvex {

UdevDiscovery::UdevDiscovery(LogSink* log)
    : m_log(log)
{
}

UdevDiscovery::~UdevDiscovery() = default;

std::uint32_t UdevDiscovery::registryHandle(udev_device* device)
{
    auto number = static_cast<std::uint32_t>(udev_device_get_devnum(device));
    if (number)
        return number;
    return registryHandleForPath(udev::text(udev_device_get_syspath(device)));
}

void UdevDiscovery::start(Matched matched, Terminated terminated)
{
    m_matched = std::move(matched);
    m_terminated = std::move(terminated);

    m_udev.reset(udev_new());
    if (!m_udev) {
        if (m_log)
            logLine(*m_log, "udev is not available: %s", std::strerror(errno));
        return;
    }

    // The monitor is listening before the enumeration, so a device that arrives in
    // between is not missed; it may then be seen twice, which deviceAppeared absorbs.
    // Events from udev rather than the kernel: the rules (the node's permissions)
    // have been applied by then, so the open that follows the arrival can succeed.
    m_monitor.reset(udev_monitor_new_from_netlink(m_udev.get(), "udev"));
    if (m_monitor && udev_monitor_filter_add_match_subsystem_devtype(m_monitor.get(), "tty", nullptr) >= 0
        && udev_monitor_enable_receiving(m_monitor.get()) >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(m_monitor.get()), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { receiveMonitorEvents(); });
    } else {
        m_monitor.reset();
        if (m_log)
            logLine(*m_log, "udev monitor is not available, arrivals of instruments will not be seen");
    }

    udev::Enumerate enumerate(udev_enumerate_new(m_udev.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0
        || udev_enumerate_scan_devices(enumerate.get()) < 0)
        return;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        udev::Device device(udev_device_new_from_syspath(m_udev.get(), udev_list_entry_get_name(entry)));
        if (device)
            deviceAppeared(device.get());
    }
}

void UdevDiscovery::deviceAppeared(udev_device* device)
{
    const char* node = udev_device_get_devnode(device);
    if (!node || m_reportedNodes.contains(node))
        return;
    if (!isCorvexInstrument(udev::DeviceEntry(device)))
        return;
    m_reportedNodes.insert(node);
    m_matched(node, registryHandle(device));
}

void UdevDiscovery::deviceDisappeared(udev_device* device)
{
    const char* node = udev_device_get_devnode(device);
    if (!node || m_reportedNodes.erase(node) == 0)
        return;
    m_terminated(node);
}

void UdevDiscovery::receiveMonitorEvents()
{
    // The monitor socket is non-blocking: take every queued event, then return to the
    // loop. Only arrival and removal matter; "change", "bind" and the rest do not
    // alter which instrument is plugged in. A callback may turn the event loop and so
    // come back here; each event is taken off the socket before it is reported, so
    // the order holds.
    while (udev::Device device { udev_monitor_receive_device(m_monitor.get()) }) {
        std::string action = udev::text(udev_device_get_action(device.get()));
        if (action == "add")
            deviceAppeared(device.get());
        else if (action == "remove")
            deviceDisappeared(device.get());
    }
}

} // namespace corvex
