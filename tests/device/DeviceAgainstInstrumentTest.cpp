#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "VirtualInstrumentProcess.h"
#include "device/CorvexDevice.h"
#include "platform/PosixSerialLine.h"

#include <gtest/gtest.h>

using namespace corvex;
using corvex::testing::CapturingLogSink;
using corvex::testing::VirtualInstrumentProcess;

namespace {


struct Rig {
    explicit Rig(const VirtualInstrumentProcess& instrument)
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        // The erase's 210 waits take no time.
        device = std::make_unique<CorvexDevice>(
            nullptr, environment, OperationContext(log).withSleep([this](std::chrono::milliseconds) { ++waits; }));
        device->corvexDeviceMatchedAtBsdPath(instrument.portPath(), 1);
        device->initializeDevice();
    }
    PosixSerialPortOpener ports;
    CapturingLogSink log;
    int waits { 0 };
    std::unique_ptr<CorvexDevice> device;
};

} // namespace

// The program's own airspaces commands over the pty: write a set, read back its header
// and the whole set, erase it.
TEST(DeviceAgainstInstrument, AirspacesRoundTrip)
{
    VirtualInstrumentProcess instrument;
    Rig rig(instrument);
    ASSERT_TRUE(rig.device->hasOpenLine());
    EXPECT_TRUE(rig.device->readWholeAirspacesSet(AirspacesReadScope::MetadataOnly).value_or(Bytes {}).empty());

    Bytes set(2600);
    for (std::size_t i = 0; i < set.size(); ++i)
        set[i] = static_cast<std::uint8_t>(i * 13);
    for (std::size_t at = 0; at < set.size(); at += 121) {
        std::size_t length = std::min<std::size_t>(121, set.size() - at);
        ASSERT_TRUE(rig.device->writeAirspacesChunk(ByteView(set).subspan(at, length),
            at == 0 ? AirspacesWritePosition::FirstChunk : AirspacesWritePosition::NextChunk));
    }
    ASSERT_TRUE(rig.device->concludeWritingAirspacesData());
    EXPECT_EQ(rig.device->readWholeAirspacesSet(AirspacesReadScope::MetadataOnly).value_or(Bytes {}), Bytes(set.begin(), set.begin() + 2300));
    EXPECT_EQ(rig.device->readWholeAirspacesSet(AirspacesReadScope::WholeData).value_or(Bytes {}), set);

    EXPECT_TRUE(rig.device->eraseAirspacesDataWithFakeProgressBlock());
    EXPECT_EQ(rig.waits, 210);
    EXPECT_TRUE(rig.device->readWholeAirspacesSet(AirspacesReadScope::WholeData).value_or(Bytes {}).empty());

    ASSERT_TRUE(instrument.control("fault airspaces-status 2"));
    EXPECT_FALSE(rig.device->eraseAirspacesDataWithFakeProgressBlock());
    EXPECT_TRUE(rig.log.containsPrefix("eraseAirspaceData: response erroneous status 2"));
}
