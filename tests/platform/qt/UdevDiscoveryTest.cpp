// Runs under umockdev's preload library, which replaces /sys, /dev and the udev
// netlink socket with a testbed this process builds.
#include "DiscoveryRecorder.h"

#include "CapturingLogSink.h"
#include "platform/qt/UdevDiscovery.h"
#include "platform/qt/UdevEntry.h"
#include "platform/qt/UsbDeviceResetter.h"

#include <umockdev.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <sys/sysmacros.h>

using namespace corvex;
using corvex::testing::CapturingLogSink;
using corvex::testing::DiscoveryRecorder;

namespace {

class UdevDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The answer is only meaningful once a testbed exists.
        m_testbed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment())
            << "run this test under umockdev-wrapper (or with LD_PRELOAD=libumockdev-preload.so.0)";
    }
    void TearDown() override
    {
        if (m_testbed)
            g_object_unref(m_testbed);
    }

    // A USB device with the given ids (either may be null), its interface, and a tty
    // below the interface; returns the tty's sysfs path.
    std::string addUsbSerial(const std::string& name, const char* vendor, const char* product, const char* ttyNumber)
    {
        std::string usb = addDevice("usb", name.c_str(), nullptr, { "idVendor", vendor, "idProduct", product },
            { "DEVTYPE", "usb_device" });
        std::string interface = addDevice("usb", (name + ":1.0").c_str(), usb.c_str(), {}, { "DEVTYPE", "usb_interface" });
        std::string tty = addTty(interface.c_str(), ttyNumber);
        m_usbDeviceOfTty[tty] = usb;
        return tty;
    }

    std::string addTty(const char* parent, const char* name)
    {
        std::string node = std::string("/dev/") + name;
        return addDevice("tty", name, parent, { "dev", "166:3" },
            { "DEVNAME", node.c_str(), "MAJOR", "166", "MINOR", "3" });
    }

    // Attributes and properties as name/value pairs; a null value leaves the pair out.
    std::string addDevice(const char* subsystem, const char* name, const char* parent,
        std::vector<const char*> attributes, std::vector<const char*> properties)
    {
        auto pairs = [](const std::vector<const char*>& list) {
            std::vector<const char*> out;
            for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
                if (list[i + 1]) {
                    out.push_back(list[i]);
                    out.push_back(list[i + 1]);
                }
            }
            out.push_back(nullptr);
            return out;
        };
        auto attributeArray = pairs(attributes);
        auto propertyArray = pairs(properties);
        // Adding a device also sends its "add" uevent, as the kernel would.
        gchar* path = umockdev_testbed_add_devicev(m_testbed, subsystem, name, parent,
            const_cast<gchar**>(attributeArray.data()), const_cast<gchar**>(propertyArray.data()));
        EXPECT_NE(path, nullptr);
        std::string result = path ? path : "";
        g_free(path);
        return result;
    }

    // The tty's "remove" uevent, then the whole USB device leaves the tree.
    void unplug(const std::string& tty)
    {
        umockdev_testbed_uevent(m_testbed, tty.c_str(), "remove");
        umockdev_testbed_remove_device(m_testbed, tty.c_str());
        umockdev_testbed_remove_device(m_testbed, (m_usbDeviceOfTty[tty] + "/" + basename(m_usbDeviceOfTty[tty]) + ":1.0").c_str());
        umockdev_testbed_remove_device(m_testbed, m_usbDeviceOfTty[tty].c_str());
    }

    static std::string basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

    UMockdevTestbed* m_testbed { nullptr };
    std::map<std::string, std::string> m_usbDeviceOfTty;
};

TEST_F(UdevDiscoveryTest, InstrumentPresentAtStartIsReportedByStartAndOthersAreNot)
{
    addUsbSerial("1-1", "2504", "0300", "ttyACM0");
    addUsbSerial("1-2", "0403", "6001", "ttyUSB0"); // another maker's serial adapter
    addUsbSerial("1-3", "2504", "0301", "ttyACM1"); // same maker, other product
    addTty(nullptr, "ttyS0"); // no USB ancestor at all

    UdevDiscovery discovery;
    DiscoveryRecorder recorder;
    recorder.start(discovery);

    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+/dev/ttyACM0" }));
    ASSERT_EQ(recorder.handles.size(), 1u);
    EXPECT_EQ(recorder.handles[0], static_cast<std::uint32_t>(makedev(166, 3)));
}

TEST_F(UdevDiscoveryTest, IdsSplitOverTwoEntriesDoNotMatch)
{
    // Vendor on the interface, product on its parent, and the other way round.
    std::string usb = addDevice("usb", "2-1", nullptr, { "idProduct", "0300" }, { "DEVTYPE", "usb_device" });
    std::string interface = addDevice("usb", "2-1:1.0", usb.c_str(), { "idVendor", "2504" }, {});
    addTty(interface.c_str(), "ttyACM4");
    std::string usb2 = addDevice("usb", "2-2", nullptr, { "idVendor", "2504" }, { "DEVTYPE", "usb_device" });
    std::string interface2 = addDevice("usb", "2-2:1.0", usb2.c_str(), { "idProduct", "0300" }, {});
    addTty(interface2.c_str(), "ttyACM5");

    UdevDiscovery discovery;
    DiscoveryRecorder recorder;
    recorder.start(discovery);
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(UdevDiscoveryTest, ArrivalIsReportedOnceThroughTheMonitorOnTheEventLoop)
{
    UdevDiscovery discovery;
    DiscoveryRecorder recorder;
    recorder.start(discovery);
    EXPECT_TRUE(recorder.events.empty());

    addUsbSerial("1-2", "0403", "6001", "ttyUSB0");
    std::string tty = addUsbSerial("1-1", "2504", "0300", "ttyACM0");
    // A repeated "add" (the monitor starts before the enumeration, so one device can
    // be seen by both) and a "change" must not be reported again.
    umockdev_testbed_uevent(m_testbed, tty.c_str(), "add");
    umockdev_testbed_uevent(m_testbed, tty.c_str(), "change");
    EXPECT_TRUE(recorder.events.empty()) << "reported outside the event loop";

    ASSERT_TRUE(recorder.waitForEvents(1));
    // Later events on the same socket sync us past the repeats above.
    unplug(tty);
    ASSERT_TRUE(recorder.waitForEvents(2));
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+/dev/ttyACM0", "-/dev/ttyACM0" }));
}

TEST_F(UdevDiscoveryTest, OnlyTheRemovalOfAReportedInstrumentIsReported)
{
    std::string instrument = addUsbSerial("1-1", "2504", "0300", "ttyACM0");
    std::string other = addUsbSerial("1-2", "0403", "6001", "ttyUSB0");
    UdevDiscovery discovery;
    DiscoveryRecorder recorder;
    recorder.start(discovery);
    ASSERT_EQ(recorder.events.size(), 1u);

    unplug(other);
    unplug(instrument);
    ASSERT_TRUE(recorder.waitForEvents(2));

    // Plugged in again under the same node, it is a new arrival.
    std::string again = addUsbSerial("1-1", "2504", "0300", "ttyACM0");
    ASSERT_TRUE(recorder.waitForEvents(3));
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+/dev/ttyACM0", "-/dev/ttyACM0", "+/dev/ttyACM0" }));
}

TEST_F(UdevDiscoveryTest, ResetterNamesEachMatchingUsbDeviceAndReportsTheFailedOpen)
{
    addDevice("usb", "3-1", nullptr, { "idVendor", "2504", "idProduct", "0300", "product", "Corvex Vario" },
        { "DEVTYPE", "usb_device", "DEVNAME", "/dev/bus/usb/003/002" });
    addDevice("usb", "3-2", nullptr, { "idVendor", "2504", "idProduct", "0300" },
        { "DEVTYPE", "usb_device", "DEVNAME", "/dev/bus/usb/003/003" });
    addDevice("usb", "3-3", nullptr, { "idVendor", "0403", "idProduct", "6001", "product", "Other" },
        { "DEVTYPE", "usb_device", "DEVNAME", "/dev/bus/usb/003/004" });

    CapturingLogSink log;
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* output = open_memstream(&text, &size);
    ASSERT_NE(output, nullptr);
    UsbDeviceResetter resetter(log, output);
    resetter.resetInstrument();
    std::fclose(output);
    std::string printed(text, size);
    std::free(text);

    // The nodes do not exist in the testbed, so the open of the last match fails.
    EXPECT_EQ(printed, "Found dev with name: Corvex Vario\nFound dev with name: 3-2\nUnable to open device: 00000002\n");
    EXPECT_TRUE(log.lines.empty());
}

TEST(UdevEntry, UsbIdsAreHexadecimalTextAndNothingElse)
{
    EXPECT_EQ(udev::parseHexadecimalAttribute("2504"), 0x2504);
    EXPECT_EQ(udev::parseHexadecimalAttribute("0300"), 0x0300);
    EXPECT_EQ(udev::parseHexadecimalAttribute("ffffffff"), -1);
    EXPECT_EQ(udev::parseHexadecimalAttribute(""), std::nullopt);
    EXPECT_EQ(udev::parseHexadecimalAttribute("0x2504"), std::nullopt);
    EXPECT_EQ(udev::parseHexadecimalAttribute("25 04"), std::nullopt);
    EXPECT_EQ(udev::parseHexadecimalAttribute("100000000"), std::nullopt);
}

} // namespace
