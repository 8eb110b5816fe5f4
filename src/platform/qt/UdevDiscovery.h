#pragma once

#include "platform/Discovery.h"
#include "platform/qt/UdevEntry.h"

#include <memory>
#include <set>
#include <string>

class QSocketNotifier;

namespace corvex {

class LogSink;

// Instruments on the USB bus: the tty devices whose USB ancestor carries the
// instrument's ids. start() enumerates the tty subsystem, then a udev monitor, whose
// descriptor is watched on the Qt main loop, reports arrivals and removals.
class UdevDiscovery final : public SerialDeviceDiscovery {
public:
    // log may be null; it receives a line when udev cannot be reached.
    explicit UdevDiscovery(LogSink* log = nullptr);
    ~UdevDiscovery() override;
    UdevDiscovery(const UdevDiscovery&) = delete;
    UdevDiscovery& operator=(const UdevDiscovery&) = delete;

    void start(Matched matched, Terminated terminated) override;

    // The registry handle reported for a device: its device number, which fits in 32
    // bits for every tty major/minor in use; a hash of the sysfs path when the device
    // has no number.
    static std::uint32_t registryHandle(udev_device* device);

private:
    void deviceAppeared(udev_device* device);
    void deviceDisappeared(udev_device* device);
    void receiveMonitorEvents();

    LogSink* m_log;
    udev::Context m_udev;
    udev::Monitor m_monitor;
    std::unique_ptr<QSocketNotifier> m_notifier;
    Matched m_matched;
    Terminated m_terminated;
    // Device nodes reported as arrived: a removed device's ancestors are gone, so its
    // removal can only be recognised by the node we reported.
    std::set<std::string> m_reportedNodes;
};

} // namespace corvex
