#include "support/DeviceTestRig.h"
#include "device/PilotData.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

using testing::concat;
using testing::hexBytes;
using testing::scriptedAnswers;
using testing::DeviceTestRig;
using testing::silentInstrument;

// A record laid out by hand: leading byte, then each text at its offset.
Bytes recordBytes()
{
    Bytes record(513, 0);
    auto put = [&](std::size_t offset, std::string_view text) { std::copy(text.begin(), text.end(), record.begin() + static_cast<std::ptrdiff_t>(offset)); };
    record[0] = 0x42;
    put(1, "Jane Pilot");
    put(65, "123");
    put(97, "Ventus");
    put(129, "D-1234");
    put(161, "Standard");
    put(193, "JP");
    put(225, "Bitterwasser");
    put(257, "Likes thermals");
    return record;
}

// DRV_DEV_PILOTDATA_RESPONSE, little-endian.
Bytes response(std::uint32_t offset, std::uint32_t length, std::uint16_t status, std::uint8_t command = 0x0E)
{
    Bytes answer = { command };
    for (int shift = 0; shift < 32; shift += 8)
        answer.push_back(static_cast<std::uint8_t>(offset >> shift));
    for (int shift = 0; shift < 32; shift += 8)
        answer.push_back(static_cast<std::uint8_t>(length >> shift));
    answer.push_back(static_cast<std::uint8_t>(status));
    answer.push_back(static_cast<std::uint8_t>(status >> 8));
    return answer;
}

TEST(PilotDataRecord, FieldsSitAtTheirOffsets)
{
    const PilotData data = PilotData::fromBytes(recordBytes());
    EXPECT_EQ(data.pilot(), "Jane Pilot");
    EXPECT_EQ(data.flightRecorderSerial(), "123");
    EXPECT_EQ(data.gliderType(), "Ventus");
    EXPECT_EQ(data.gliderId(), "D-1234");
    EXPECT_EQ(data.competitionClass(), "Standard");
    EXPECT_EQ(data.competitionId(), "JP");
    EXPECT_EQ(data.site(), "Bitterwasser");
    EXPECT_EQ(data.pilotInfo(), "Likes thermals");
    EXPECT_FALSE(data.isEmpty());
    EXPECT_TRUE(PilotData {}.isEmpty());
}

TEST(PilotDataRecord, TextsThatFillTheirSlotHaveNoTerminator)
{
    PilotData data;
    data.setPilot(std::string(64, 'P'));
    data.setSite(std::string(40, 'S'));
    data.setGliderId(std::string(31, 'G'));
    EXPECT_EQ(data.pilot(), std::string(64, 'P'));
    EXPECT_EQ(data.bytes[64], 'P');
    EXPECT_EQ(data.bytes[65], 0) << "the serial's slot is untouched";
    EXPECT_EQ(data.site(), std::string(32, 'S')) << "cut to its slot";
    EXPECT_EQ(data.bytes[257], 0) << "no spill into the pilot info";
    EXPECT_EQ(data.bytes[129 + 31], 0) << "31 characters keep their terminator";
    EXPECT_EQ(data.bytes[0], 0);
}

TEST(PilotDataRecord, BytesAboveSevenBitsShowAsReplacementButStayInTheRecord)
{
    Bytes bytes = recordBytes();
    bytes[1] = 0xC9; // an 8-bit letter the instrument holds
    bytes[40] = 0x99; // garbage after the pilot's terminator
    PilotData data = PilotData::fromBytes(bytes);
    EXPECT_EQ(data.pilot(), "?ane Pilot");

    // Setting what the field already shows keeps the bytes as they were.
    data.setPilot(data.pilot());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), data.bytes.begin()));

    // A new text replaces the slot whole; non-7-bit characters become '?'.
    data.setPilot("Ren\xc3\xa9");
    EXPECT_EQ(data.pilot(), "Ren??");
    EXPECT_EQ(data.bytes[40], 0);
    EXPECT_EQ(data.bytes[4], '?');
}

TEST(DevicePilotData, ReadsOneChunkAndEchoesTheAnswer)
{
    const Bytes record = recordBytes();
    for (std::uint16_t status : { 1, 3 }) {
        DeviceTestRig rig(scriptedAnswers({ concat({ response(0x10, 513, status), record }) }));
        const PilotData data = rig.device->downloadPilotData();
        EXPECT_TRUE(std::equal(record.begin(), record.end(), data.bytes.begin())) << status;
        EXPECT_EQ(rig.line().written, (std::vector<Bytes> { hexBytes("0E 00 00000000 00000000 0100") }));
        EXPECT_EQ(rig.log.contains("Met end of data marker"), status == 3) << status;
        EXPECT_TRUE(rig.log.contains("Downloading pilot data"));
    }
}

TEST(DevicePilotData, ReadsSeveralChunks)
{
    const Bytes record = recordBytes();
    DeviceTestRig rig(scriptedAnswers({ concat({ response(0x100, 300, 2), Bytes(record.begin(), record.begin() + 300) }),
        concat({ response(0x22C, 213, 3), Bytes(record.begin() + 300, record.end()) }) }));
    const PilotData data = rig.device->downloadPilotData();
    EXPECT_TRUE(std::equal(record.begin(), record.end(), data.bytes.begin()));
    ASSERT_EQ(rig.line().written.size(), 2u);
    EXPECT_EQ(rig.line().written[1], hexBytes("0E 00 00010000 2C010000 0100")) << "offset and length as received";
}

TEST(DevicePilotData, ReadFailuresGiveTheZeroRecord)
{
    const Bytes record = recordBytes();
    struct Case {
        const char* what;
        std::vector<Bytes> answers;
        const char* line;
    };
    const std::vector<Case> cases = {
        { "no pilot data", { response(0, 0, 4) }, "pilotDataHeader.status == PILOT_DATA_STATUS_NO_DATA" },
        { "instrument error", { response(0, 0, 0) }, "pilotDataHeader.status == PILOT_DATA_STATUS_ERROR" },
        { "silence", {}, "readData is not of size DRV_DEV_PILOTDATA_RESPONSE" },
        { "short answer", { hexBytes("0E 00000000 00000000 01") }, "readData is not of size DRV_DEV_PILOTDATA_RESPONSE" },
        { "wrong command", { response(0, 0, 1, 0x0F) }, "downloadPilotData: response's readDevPilotData->command is not 14" },
        { "too much data", { concat({ response(0, 300, 2), Bytes(record.begin(), record.begin() + 300) }), response(0, 214, 3) },
            "downloadPilotData: the returned chunk is larger than the whole buffer (struct PilotData). Something's not right" },
        { "short chunk", { concat({ response(0, 513, 1), Bytes(record.begin(), record.begin() + 100) }) },
            "downloadPilotData: the chunk is shorter than announced (100 < 513)" },
        // The second chunk does not arrive after a first one did: nothing half-read.
        { "later chunk missing", { concat({ response(0, 300, 2), Bytes(record.begin(), record.begin() + 300) }) },
            "readData is not of size DRV_DEV_PILOTDATA_RESPONSE" },
    };
    for (const Case& c : cases) {
        DeviceTestRig rig(scriptedAnswers(c.answers));
        EXPECT_TRUE(rig.device->downloadPilotData().isEmpty()) << c.what;
        EXPECT_TRUE(rig.log.contains(c.line)) << c.what;
    }

    DeviceTestRig refused(silentInstrument());
    refused.line().failWrites = true;
    EXPECT_TRUE(refused.device->downloadPilotData().isEmpty());
    EXPECT_TRUE(refused.log.contains("deviceWriteData devPilotDataReq failure"));

    DeviceTestRig unplugged(silentInstrument());
    unplugged.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    EXPECT_TRUE(unplugged.device->downloadPilotData().isEmpty());
    EXPECT_TRUE(unplugged.log.contains("Fatal ERROR! deviceFile is nil"));
}

// The chunk length comes from the instrument: up to the record's size it is read,
// past it the read fails before a byte of the chunk is read or a buffer of the
// announced size is asked for.
TEST(DevicePilotData, AnnouncedChunkLengthIsBoundedBeforeReading)
{
    const Bytes record = recordBytes();
    const std::string tooLarge
        = "downloadPilotData: the returned chunk is larger than the whole buffer (struct PilotData). Something's not right";
    for (const std::uint32_t length : { 0u, 513u, 514u, 0xFFFFFFFFu }) {
        const bool legal = length <= 513;
        const Bytes chunk(record.begin(), record.begin() + std::min<std::ptrdiff_t>(length, 513));
        DeviceTestRig rig(scriptedAnswers({ concat({ response(0, length, 1), chunk }) }));
        const PilotData read = rig.device->downloadPilotData();
        if (length == 513)
            EXPECT_EQ(Bytes(read.bytes.begin(), read.bytes.end()), record);
        else
            EXPECT_TRUE(read.isEmpty()) << length;
        EXPECT_EQ(rig.log.contains(tooLarge), !legal) << length;
        if (!legal) {
            EXPECT_EQ(rig.line().pending.size(), chunk.size()) << "no chunk byte read for " << length;
        }
        EXPECT_LE(rig.line().largestReadBuffer, 4096u) << length;
    }
}

TEST(DevicePilotData, AnInstrumentThatNeverEndsThePilotDataIsStopped)
{
    DeviceTestRig rig([](const Bytes&) { return response(0, 0, 2); });
    EXPECT_TRUE(rig.device->downloadPilotData().isEmpty());
    EXPECT_TRUE(rig.log.contains("downloadPilotData: the instrument does not end the pilot data"));
    EXPECT_EQ(rig.line().written.size(), 514u);
}

TEST(DevicePilotData, WritesTwoChunks)
{
    const Bytes record = recordBytes();
    DeviceTestRig rig(scriptedAnswers({ response(0, 278, 1), response(0, 235, 1) }));
    EXPECT_TRUE(rig.device->uploadPilotData(PilotData::fromBytes(record)));
    ASSERT_EQ(rig.line().written.size(), 2u);
    EXPECT_EQ(rig.line().written[0],
        concat({ hexBytes("0E 01 00000000 16010000 0200"), Bytes(record.begin(), record.begin() + 278) }));
    EXPECT_EQ(rig.line().written[1],
        concat({ hexBytes("0E 01 16010000 EB000000 0300"), Bytes(record.begin() + 278, record.end()) }));
    EXPECT_EQ(rig.log.lines, (std::vector<std::string> { "Pilot data uploaded successfully" }));
}

TEST(DevicePilotData, WriteOffsetFollowsWhatWasAcknowledged)
{
    DeviceTestRig rig(scriptedAnswers({ response(0, 200, 1), response(0, 235, 1) }));
    EXPECT_TRUE(rig.device->uploadPilotData(PilotData {}));
    ASSERT_EQ(rig.line().written.size(), 2u);
    EXPECT_EQ(Bytes(rig.line().written[1].begin(), rig.line().written[1].begin() + 12), hexBytes("0E 01 C8000000 EB000000 0300"));
}

TEST(DevicePilotData, WriteFailures)
{
    struct Case {
        const char* what;
        std::vector<Bytes> answers;
        std::vector<std::string> lines;
        std::size_t frames;
    };
    const std::vector<Case> cases = {
        { "second chunk refused", { response(0, 278, 1), response(0, 0, 0) },
            { "uploadPilotData: device returned error when trying to upload pilot data" }, 2 },
        { "silence", {}, {}, 1 },
        { "wrong size", { hexBytes("0E 00") }, { "Device returned wrong amount of bytes :/ Shouldn't be here" }, 1 },
        { "wrong command", { response(0, 278, 1, 0x0D) }, { "uploadPilotData: device returned invalid command" }, 1 },
        { "more data is no acceptance", { response(0, 278, 2) },
            { "uploadPilotData: device returned error when trying to upload pilot data" }, 1 },
    };
    for (const Case& c : cases) {
        DeviceTestRig rig(scriptedAnswers(c.answers));
        EXPECT_FALSE(rig.device->uploadPilotData(PilotData::fromBytes(recordBytes()))) << c.what;
        EXPECT_EQ(rig.log.lines, c.lines) << c.what;
        EXPECT_EQ(rig.line().written.size(), c.frames) << c.what;
    }
    DeviceTestRig refused(silentInstrument());
    refused.line().failWrites = true;
    EXPECT_FALSE(refused.device->uploadPilotData(PilotData {}));
    // Only the link's own report of the failed write; the upload adds nothing.
    ASSERT_EQ(refused.log.lines.size(), 1u);
    EXPECT_EQ(refused.log.lines[0].rfind("deviceWriteData: exception", 0), 0u);
}

// An instrument that stores what it is sent and hands it back: a record read and
// written back unedited reaches the instrument byte for byte, 8-bit bytes included.
TEST(DevicePilotData, UneditedRecordGoesBackByteForByte)
{
    Bytes stored = recordBytes();
    stored[2] = 0xE8;
    stored[300] = 0xFF;
    auto instrument = [&stored](const Bytes& request) -> Bytes {
        if (request[1] == 0x00)
            return concat({ response(0, 513, 3), stored });
        const std::uint32_t offset = request[2] | request[3] << 8;
        const std::uint32_t length = request[6] | request[7] << 8;
        std::copy(request.begin() + 12, request.end(), stored.begin() + offset);
        return response(offset, length, 1);
    };
    DeviceTestRig rig(instrument);
    const Bytes before = stored;
    PilotData data = rig.device->downloadPilotData();
    data.setPilot(data.pilot());
    data.setPilotInfo(data.pilotInfo());
    ASSERT_TRUE(rig.device->uploadPilotData(data));
    EXPECT_EQ(stored, before);
}

TEST(DevicePilotData, FaultSweeps)
{
    const Bytes record = recordBytes();
    const std::vector<Bytes> readAnswers = { concat({ response(0, 300, 2), Bytes(record.begin(), record.begin() + 300) }),
        concat({ response(300, 213, 3), Bytes(record.begin() + 300, record.end()) }) };
    const std::size_t readTotal = 12 + readAnswers[0].size() + 12 + readAnswers[1].size();
    for (std::size_t cut = 0; cut < readTotal; ++cut) {
        DeviceTestRig rig(scriptedAnswers(readAnswers));
        rig.line().failAfterBytes = cut;
        EXPECT_TRUE(rig.device->downloadPilotData().isEmpty()) << "cut at " << cut;
    }
    const std::size_t writeTotal = 12 + 278 + 11 + 12 + 235 + 11;
    for (std::size_t cut = 0; cut < writeTotal; ++cut) {
        DeviceTestRig rig(scriptedAnswers({ response(0, 278, 1), response(0, 235, 1) }));
        rig.line().failAfterBytes = cut;
        EXPECT_FALSE(rig.device->uploadPilotData(PilotData::fromBytes(record))) << "cut at " << cut;
    }
}

} // namespace
} // namespace corvex
