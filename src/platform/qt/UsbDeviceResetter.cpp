#include "platform/qt/UsbDeviceResetter.h"

#include "platform/LogSink.h"
#include "platform/qt/UdevEntry.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace corvex {

UsbDeviceResetter::UsbDeviceResetter(LogSink& log, std::FILE* output)
    : m_log(log)
    , m_output(output)
{
}

void UsbDeviceResetter::resetInstrument()
{
    udev::Context context(udev_new());
    if (!context)
        return;
    udev::Enumerate enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "usb") < 0
        || udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "usb_device") < 0
        || udev_enumerate_scan_devices(enumerate.get()) < 0)
        return;

    std::string node;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        udev::Device device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device || !isCorvexInstrument(udev::DeviceEntry(device.get())))
            continue;
        // The product string is what the device calls itself; the kernel name
        // ("1-1.4") stands in when the device gives none.
        const char* name = udev_device_get_sysattr_value(device.get(), "product");
        if (!name)
            name = udev_device_get_sysname(device.get());
        std::fprintf(m_output, "Found dev with name: %s\n", name ? name : "");
        node = udev::text(udev_device_get_devnode(device.get()));
    }
    std::fflush(m_output);
    if (node.empty())
        return;

    int fd = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(m_output, "Unable to open device: %08x\n", static_cast<unsigned>(errno));
        std::fflush(m_output);
        return;
    }
    if (::ioctl(fd, USBDEVFS_RESET, 0) < 0)
        logLine(m_log, "Error reenumerating %x", static_cast<unsigned>(errno));
    ::close(fd);
}

} // namespace corvex
