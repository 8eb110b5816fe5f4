// Pilot data written into the virtual instrument, read back, and kept across its
// restart; the instrument's failure statuses as the program reports them.
#include "CapturingLogSink.h"
#include "VirtualInstrumentProcess.h"
#include "device/CorvexDevice.h"
#include "platform/PosixSerialLine.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

struct PilotSession {
    explicit PilotSession(const std::string& path)
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        device = std::make_unique<CorvexDevice>(nullptr, environment, OperationContext(log));
        device->corvexDeviceMatchedAtBsdPath(path, 1);
        ready = device->hasOpenLine() && device->initializeDevice();
    }

    PosixSerialPortOpener ports;
    CapturingLogSink log;
    std::unique_ptr<CorvexDevice> device;
    bool ready { false };
};

PilotData samplePilotData()
{
    PilotData data;
    data.setPilot("Jane Pilot");
    data.setGliderType("Ventus 2cxa");
    data.setGliderId("D-KJPX");
    data.setCompetitionClass("18m");
    data.setCompetitionId("JP");
    data.setSite("Bitterwasser");
    data.setPilotInfo(std::string(255, 'i'));
    return data;
}

} // namespace

TEST(PilotDataRoundTrip, WrittenReadBackAndKeptAcrossARestart)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    const PilotData written = samplePilotData();
    {
        PilotSession session(instrument.portPath());
        ASSERT_TRUE(session.ready);
        ASSERT_TRUE(session.device->uploadPilotData(written));
        EXPECT_TRUE(session.log.contains("Pilot data uploaded successfully"));
        const PilotData read = session.device->downloadPilotData();
        EXPECT_EQ(read, written);
        EXPECT_EQ(read.pilot(), "Jane Pilot");
        EXPECT_EQ(read.pilotInfo(), std::string(255, 'i'));
    }
    ASSERT_TRUE(instrument.restart());
    PilotSession session(instrument.portPath());
    ASSERT_TRUE(session.ready);
    const PilotData kept = session.device->downloadPilotData();
    EXPECT_EQ(kept, written);

    // A second write replaces the record whole.
    PilotData changed = kept;
    changed.setPilot("Another Pilot");
    ASSERT_TRUE(session.device->uploadPilotData(changed));
    EXPECT_EQ(session.device->downloadPilotData().pilot(), "Another Pilot");
    EXPECT_EQ(session.device->downloadPilotData().site(), "Bitterwasser");
}

TEST(PilotDataRoundTrip, InstrumentFailureStatuses)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PilotSession session(instrument.portPath());
    ASSERT_TRUE(session.ready);
    ASSERT_TRUE(session.device->uploadPilotData(samplePilotData()));

    // No pilot data is an empty record; a failure looks the same through
    // downloadPilotData, but not through readPilotData, which editing relies on.
    ASSERT_TRUE(instrument.control("fault pilot-no-data"));
    EXPECT_TRUE(session.device->downloadPilotData().isEmpty());
    EXPECT_TRUE(session.log.contains("pilotDataHeader.status == PILOT_DATA_STATUS_NO_DATA"));
    const DeviceResult<PilotData> none = session.device->readPilotData();
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isEmpty());

    ASSERT_TRUE(instrument.control("fault pilot-error"));
    EXPECT_FALSE(session.device->readPilotData());
    EXPECT_TRUE(session.device->downloadPilotData().isEmpty());
    EXPECT_TRUE(session.log.contains("pilotDataHeader.status == PILOT_DATA_STATUS_ERROR"));
    EXPECT_FALSE(session.device->uploadPilotData(samplePilotData()));
    EXPECT_TRUE(session.log.contains("uploadPilotData: device returned error when trying to upload pilot data"));

    ASSERT_TRUE(instrument.control("fault none"));
    EXPECT_EQ(session.device->downloadPilotData(), samplePilotData()) << "the failed write changed nothing";
}
