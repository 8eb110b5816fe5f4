// The serial link: arrival, removal, replacement, opening, reads and writes.
#include "DeviceTestRig.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

using namespace corvex;
using namespace corvex::testing;

TEST(DeviceLink, ArrivalOpensTheLineAndRemovalClosesIt)
{
    DeviceTestRig rig;
    rig.connect(nullptr);
    EXPECT_EQ(rig.delegate.events, (std::vector<std::string> { "connected" }));
    EXPECT_TRUE(rig.device->deviceIsConnected());
    EXPECT_TRUE(rig.device->hasOpenLine());
    EXPECT_TRUE(rig.log.contains("Device has been matched"));

    rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    EXPECT_EQ(rig.delegate.events, (std::vector<std::string> { "connected", "disconnected" }));
    EXPECT_FALSE(rig.device->deviceIsConnected());
    EXPECT_FALSE(rig.device->hasOpenLine());
    EXPECT_TRUE(rig.log.contains("Device terminated"));
}

TEST(DeviceLink, RemovalOfAnotherDeviceOnlyLogs)
{
    DeviceTestRig rig;
    rig.connect(nullptr);
    rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM1"));
    rig.device->corvexDeviceTerminatedAtBsdPath(std::nullopt);
    rig.device->corvexDeviceMatchedAtBsdPath(std::nullopt, 7);
    EXPECT_EQ(rig.delegate.events, (std::vector<std::string> { "connected" }));
    EXPECT_EQ(rig.log.count("Device terminated"), 1u);
    EXPECT_EQ(rig.device->deviceBsdPath(), "/dev/ttyACM0");
}

TEST(DeviceLink, ASecondInstrumentReplacesTheFirst)
{
    DeviceTestRig rig;
    rig.connect(nullptr);
    rig.device->corvexDeviceMatchedAtBsdPath(std::string("/dev/ttyACM1"), 2);
    EXPECT_EQ(rig.delegate.events, (std::vector<std::string> { "connected", "disconnected", "connected" }));
    EXPECT_EQ(rig.device->deviceBsdPath(), "/dev/ttyACM1");
    EXPECT_EQ(rig.device->deviceIORegistryLeaf(), 2u);
    EXPECT_EQ(rig.ports.openedPaths, (std::vector<std::string> { "/dev/ttyACM0", "/dev/ttyACM1" }));
}

TEST(DeviceLink, OpeningIsTriedThreeTimesOneSecondApart)
{
    DeviceTestRig rig;
    rig.ports.refuseOpens = 2;
    rig.connect(nullptr);
    EXPECT_EQ(rig.ports.openAttempts, 3);
    EXPECT_EQ(rig.pauses.size(), 2u);
    EXPECT_EQ(rig.delegate.events, (std::vector<std::string> { "connected" }));
    EXPECT_TRUE(rig.alerts.alerts.empty());
    EXPECT_FALSE(rig.device->lastOpenError());
}

TEST(DeviceLink, AnInstrumentThatNeverOpensGetsTheAlertAndStaysRecorded)
{
    DeviceTestRig rig;
    rig.ports.refuseOpens = 100;
    rig.connect(nullptr);
    EXPECT_EQ(rig.ports.openAttempts, 3);
    EXPECT_EQ(rig.pauses, std::vector<std::chrono::milliseconds>(2, std::chrono::milliseconds(1000)));
    ASSERT_EQ(rig.alerts.alerts.size(), 1u);
    EXPECT_EQ(rig.alerts.alerts[0].message, "Error opening the device");
    EXPECT_EQ(rig.alerts.alerts[0].buttons, (std::vector<std::string> { "Close" }));
    EXPECT_EQ(rig.alerts.alerts[0].informativeText,
        "The instrument is in use by another program. Close the other program, or wait until it has finished, and try again.");
    EXPECT_EQ(rig.delegate.events, (std::vector<std::string> { "could not be opened: port unavailable" }));

    // Recorded but not open: every command reports the missing line.
    EXPECT_TRUE(rig.device->deviceIsConnected());
    EXPECT_FALSE(rig.device->initializeDevice());
    EXPECT_FALSE(rig.device->getDeviceInfo());
    EXPECT_FALSE(rig.device->listFlightsShort());
    EXPECT_EQ(rig.log.count("deviceFile is nil"), 3u);

    // Its removal still tells the delegate, and the reason goes with it.
    rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    EXPECT_EQ(rig.delegate.events.back(), "disconnected");
    EXPECT_FALSE(rig.device->lastOpenError());
}

// A device another open holds may be let go in a moment and is tried again; a missing
// device or permission is not. Each failure says what to do.
TEST(DeviceLink, AnOpenFailureSaysWhyAndOnlyAHeldDeviceIsTriedAgain)
{
    const std::tuple<int, std::string, int, std::string> cases[] = {
        { EBUSY, "corvex (process 4711)", 3, "The instrument is in use by corvex (process 4711). Close the other program, or wait until it has finished, and try again." },
        { EACCES, "", 1, "No permission to open the instrument's serial device. Install the udev rule from the README (or join the \"dialout\" group and log in again), then connect the instrument again." },
        { ENOENT, "", 1, "The instrument's serial device is not there. Connect the instrument again." },
    };
    for (const auto& [systemError, holder, attempts, text] : cases) {
        SCOPED_TRACE(text);
        DeviceTestRig rig;
        rig.ports.refuseOpens = 100;
        rig.ports.refusalError = systemError;
        rig.ports.refusalHolder = holder;
        rig.connect(nullptr);
        EXPECT_EQ(rig.ports.openAttempts, attempts);
        ASSERT_EQ(rig.alerts.alerts.size(), 1u);
        EXPECT_EQ(rig.alerts.alerts[0].informativeText, text);
        ASSERT_TRUE(rig.device->lastOpenError());
        EXPECT_EQ(rig.device->lastOpenError()->kind, DeviceErrorKind::PortUnavailable);
        EXPECT_EQ(rig.device->lastOpenError()->systemError, systemError);
        EXPECT_TRUE(rig.log.contains("Cannot open the device (attempt 1): /dev/ttyACM0: " + std::string(std::strerror(systemError))
            + (holder.empty() ? "" : ", held by " + holder)));
    }
}

TEST(DeviceLink, InitializeConfiguresDrainsAndReportsFailedSteps)
{
    DeviceTestRig rig;
    rig.connect(nullptr);
    rig.line().pending = { 0xde, 0xad };
    rig.line().setup.getAttributesFailed = true;
    rig.line().setup.flushFailed = true;
    EXPECT_TRUE(rig.device->initializeDevice());
    EXPECT_EQ(rig.line().configureCalls, 1);
    EXPECT_TRUE(rig.log.contains("Initializing device"));
    EXPECT_TRUE(rig.log.contains("tcgetattr() error"));
    EXPECT_FALSE(rig.log.contains("tcsetattr() error"));
    EXPECT_TRUE(rig.log.contains("tcflush() error"));
    EXPECT_TRUE(rig.log.contains("DrainingBuffers: <dead>"));
    EXPECT_TRUE(rig.line().pending.empty());

    rig.line().setup.validDescriptor = false;
    EXPECT_FALSE(rig.device->initializeDevice());
}

TEST(DeviceLink, ReadsEndAtTheLengthOrAtSilence)
{
    DeviceTestRig rig;
    rig.connect(scriptedAnswers({ hexBytes("01020304050607"), hexBytes("0a0b") }));
    rig.line().chunkSize = 3; // the answer arrives in pieces, as on a real line
    rig.device->deviceWriteData(hexBytes("01"));
    EXPECT_EQ(rig.device->deviceReadDataOfLength(5), hexBytes("0102030405"));
    EXPECT_EQ(rig.device->deviceReadDataOfLength(28), hexBytes("0607")) << "fewer bytes after silence";
    EXPECT_EQ(rig.device->deviceReadDataOfLength(28), Bytes {}) << "a silent instrument gives an empty answer";

    rig.device->deviceWriteData(hexBytes("02"));
    std::size_t before = rig.line().bytesSoFar;
    EXPECT_EQ(rig.device->deviceReadDataOfLength(0), Bytes {});
    EXPECT_EQ(rig.line().bytesSoFar, before) << "a read of 0 bytes leaves the line alone";
}

TEST(DeviceLink, LateBytesOfAnEarlierAnswerAreDroppedBeforeTheNextRequest)
{
    DeviceTestRig rig;
    rig.connect(scriptedAnswers({ hexBytes("0d08") }));
    // The end of an answer whose read had already given up at the silence.
    rig.line().pending.assign({ 0x0e, 0x01, 0x02 });
    rig.device->deviceWriteData(hexBytes("0d"));
    EXPECT_EQ(rig.device->deviceReadDataOfLength(2), hexBytes("0d08"));
    EXPECT_TRUE(rig.log.contains("Discarded 3 late bytes before the next request: <0e0102>"));

    // A line that never falls silent is drained a bounded amount at a time, both when
    // the line is set up and before a request, instead of holding the program forever.
    constexpr std::size_t chatter = 150 * 1024;
    rig.line().pending.assign(chatter, 0x55);
    EXPECT_TRUE(rig.device->initializeDevice());
    EXPECT_EQ(rig.line().pending.size(), chatter - 64 * 1024);
    rig.device->deviceWriteData(hexBytes("0d"));
    EXPECT_EQ(rig.line().pending.size(), chatter - 128 * 1024);
}

TEST(DeviceLink, CommunicationsLogFollowsTheSwitch)
{
    DeviceTestRig rig;
    rig.connect(scriptedAnswers({ hexBytes("0d08"), hexBytes("0d08") }));
    rig.device->deviceWriteData(hexBytes("0d"));
    rig.device->deviceReadDataOfLength(2);
    rig.device->deviceReadDataOfLength(0);
    EXPECT_FALSE(rig.log.containsPrefix("deviceWriteData"));
    EXPECT_FALSE(rig.log.containsPrefix("deviceReadDataOfLength"));

    rig.device->setShouldLogCommunications(true);
    rig.device->deviceWriteData(hexBytes("0d"));
    rig.device->deviceReadDataOfLength(2);
    rig.device->deviceReadDataOfLength(0);
    EXPECT_TRUE(rig.log.contains("deviceWriteData: <0d>"));
    EXPECT_TRUE(rig.log.contains("deviceReadDataOfLength 2: <0d08>"));
    EXPECT_TRUE(rig.log.contains("deviceReadDataOfLength 0 bytes requested, returning empty NSData"));
}

TEST(DeviceLink, LineErrorsAreLoggedWithTheCallStack)
{
    DeviceTestRig rig;
    rig.connect(nullptr);
    rig.line().failWrites = true;
    EXPECT_FALSE(rig.device->deviceWriteData(hexBytes("01")));
    EXPECT_TRUE(rig.log.containsPrefix("deviceWriteData: exception write: Input/output error, call stack: ("));
    rig.line().failReads = true;
    EXPECT_FALSE(rig.device->deviceReadDataOfLength(4));
    EXPECT_TRUE(rig.log.containsPrefix("deviceReadDataOfLength: exception read: Input/output error, call stack: ("));
}

TEST(DeviceLink, WithoutAnOpenLineWritesSucceedAndReadsAreEmpty)
{
    DeviceTestRig rig;
    EXPECT_TRUE(rig.device->deviceWriteData(hexBytes("01")));
    EXPECT_EQ(rig.device->deviceReadDataOfLength(4), Bytes {});
    EXPECT_FALSE(rig.device->deviceIsConnected());
}
