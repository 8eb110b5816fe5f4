#include "support/DeviceTestRig.h"

#include <gtest/gtest.h>

#include <functional>

namespace corvex {
namespace {

using testing::concat;
using testing::FakeSerialLine;
using testing::hexBytes;
using testing::scriptedAnswers;
using testing::DeviceTestRig;
using testing::silentInstrument;

const Bytes timeRecord = hexBytes("FE 0A 0B 0C 05 07 0E");
const Bytes locationRecord = hexBytes("F9 0005 1204 09C4 02C8 0000 03E8 FFF4");
const Bytes locationRecordV2 = hexBytes("FA 0001 1204 09C4 02C8 0000 03E8 03E8 07");

Bytes hRecordBytes()
{
    Bytes h = hexBytes("F5 00 58435631323334 35"); // A record "XCV12345"
    h.resize(18, 0);
    Bytes rest = hexBytes("05 07 0E");
    h.insert(h.end(), rest.begin(), rest.end());
    h.resize(166, 0);
    return h;
}

Bytes gRecordBytes()
{
    Bytes g = hexBytes("F6");
    g.resize(35, 0x5A);
    return g;
}

// A sector answer: the 4-byte header and the payload read, as the instrument sends
// them (header byte 3 = valid bytes, 0 = all; the payload padded to 255 bytes).
Bytes sector(std::uint16_t blockField, std::uint8_t validLength, Bytes payload)
{
    Bytes answer = { 0x04, static_cast<std::uint8_t>(blockField >> 8), static_cast<std::uint8_t>(blockField), validLength };
    answer.insert(answer.end(), payload.begin(), payload.end());
    return answer;
}

Bytes padded(Bytes payload)
{
    payload.resize(255, 0xEE);
    return payload;
}

const Bytes firstFormatHeader = hexBytes("FE 0102030405060708");

// A first-format flight of three sectors: header and time record; a location
// record split across sectors; the H and G records. The payloads carry exactly their
// valid bytes except the first, which is padded and announces its length.
std::vector<Bytes> threeSectors()
{
    Bytes first = concat({ firstFormatHeader, timeRecord, Bytes(locationRecord.begin(), locationRecord.begin() + 4) });
    Bytes second(locationRecord.begin() + 4, locationRecord.end());
    Bytes third = concat({ hRecordBytes(), gRecordBytes() });
    return { sector(2, static_cast<std::uint8_t>(first.size()), padded(first)),
        sector(1, static_cast<std::uint8_t>(second.size()), second), sector(0, 201, third) };
}

TEST(DeviceTrackLog, JoinsTheSectorsAndWalksThem)
{
    DeviceTestRig rig(scriptedAnswers(threeSectors()));
    HRecord h;
    GRecord g;
    auto samples = rig.device->downloadLocationSamplesForFlightNumber(0x1234, &h, &g);
    ASSERT_TRUE(samples);
    ASSERT_EQ(samples->size(), 1u);
    EXPECT_NEAR((*samples)[0].latitude, -46.2041666666, 1e-9);
    EXPECT_EQ(h.aRecordText(), "XCV12345");
    EXPECT_EQ(g.bytes[1], 0x5A);
    // The same request for every sector.
    ASSERT_EQ(rig.line().written.size(), 3u);
    for (const Bytes& request : rig.line().written)
        EXPECT_EQ(request, hexBytes("03 03 12 34"));
    EXPECT_EQ(rig.log.lines, (std::vector<std::string> { "Found HRecord", "Found GRecord" }));
}

TEST(DeviceTrackLog, ValidLengthByteDecidesWhatCounts)
{
    // Length 10 of a full payload: 10 bytes; length 0: the whole payload as received.
    const Bytes firstTen = concat({ firstFormatHeader, hexBytes("FC") });
    DeviceTestRig rig(scriptedAnswers({ sector(1, 10, padded(firstTen)), sector(0, 0, concat({ timeRecord, locationRecord })) }));
    auto samples = rig.device->downloadLocationSamplesForFlightNumber(1, nullptr, nullptr);
    ASSERT_TRUE(samples);
    EXPECT_EQ(samples->size(), 1u);
    EXPECT_EQ(rig.log.lines, (std::vector<std::string> { "skipping unrecognized byte 0xFC" })) << "no padding walked";
}

TEST(DeviceTrackLog, BuffersAreWrittenOnlyWhenTheFlightCarriesTheRecords)
{
    DeviceTestRig rig(scriptedAnswers({ sector(0, 0, concat({ firstFormatHeader, timeRecord, locationRecord })) }));
    HRecord h;
    h.bytes.fill(0x33);
    GRecord g;
    g.bytes.fill(0x44);
    ASSERT_TRUE(rig.device->downloadLocationSamplesForFlightNumber(1, &h, &g));
    EXPECT_EQ(h.bytes[100], 0x33);
    EXPECT_EQ(g.bytes[10], 0x44);
}

TEST(DeviceTrackLog, SecondFormatRequestsAndSuggestedFilename)
{
    Bytes header = { 0x00, 0x01, 29, 0x00 };
    header.resize(20, 0);
    const Bytes data = concat({ firstFormatHeader, header, timeRecord, locationRecordV2, hRecordBytes(), gRecordBytes() });
    DeviceTestRig rig(scriptedAnswers({ sector(1, 200, Bytes(data.begin(), data.begin() + 200)),
        sector(0, static_cast<std::uint8_t>(data.size() - 200), Bytes(data.begin() + 200, data.end())) }));
    HRecord h;
    GRecord g;
    std::string name;
    auto samples = rig.device->downloadLocationSamplesV2ForFlightNumber(123, &h, &g, &name);
    ASSERT_TRUE(samples);
    ASSERT_EQ(samples->size(), 1u);
    EXPECT_EQ((*samples)[0].gpsElevation, 1007);
    EXPECT_EQ(name, "2014-7-5-XCV-12345-23");
    EXPECT_EQ(rig.line().written.front(), hexBytes("03 07 00 7B"));

    // Without an H record in the flight the name comes from the caller's buffer.
    DeviceTestRig bare(scriptedAnswers({ sector(0, 0, concat({ firstFormatHeader, header, timeRecord })) }));
    HRecord callers;
    const std::string aRecord = "XCV98765";
    std::copy(aRecord.begin(), aRecord.end(), callers.bytes.begin() + 2);
    ASSERT_TRUE(bare.device->downloadLocationSamplesV2ForFlightNumber(4, &callers, nullptr, &name));
    EXPECT_EQ(name, "2014-7-5-XCV-98765-04");
}

TEST(DeviceTrackLog, FailuresReturnNothingWithTheirMessage)
{
    // An answer that broke off, never came or began wrong is asked for again three
    // times (each retry logged) before the download fails; a flight that does not
    // decode fails at once.
    struct Case {
        const char* what;
        std::vector<Bytes> answers;
        std::vector<std::string> firstLines;
        DeviceErrorKind kind;
        std::size_t requests;
    };
    const std::string silence = "uploadSectorHeaderData is nil or has a wrong length";
    const std::string again = "track log of flight 1: the instrument did not answer, asking again";
    const std::string brokeOff = "track log of flight 1: the instrument's answer broke off, asking again (1 of 3)";
    const std::vector<Case> cases = {
        { "silent instrument", {}, { silence, again + " (1 of 3)", silence, again + " (2 of 3)" }, DeviceErrorKind::NoAnswer, 4 },
        { "short header", { hexBytes("04 00 00") }, { silence, brokeOff, silence }, DeviceErrorKind::NoAnswer, 4 },
        { "wrong sector type", { hexBytes("05 00 00 00") },
            { "This is not a DEV_DRV_UPLOAD_SECTOR", "track log of flight 1: the instrument's answer could not be read, asking again (1 of 3)" },
            DeviceErrorKind::NoAnswer, 4 },
        { "wrong header type", { sector(0, 0, hexBytes("FD 00")) },
            { "blockHeader->headerType is not 0xFE, it is fd", "(and the whole flightData is <fd00>)" }, DeviceErrorKind::BadAnswer, 1 },
        { "all sectors empty", { sector(0, 0, {}) },
            { "blockHeader->headerType is not 0xFE, it is 0", "(and the whole flightData is <>)" }, DeviceErrorKind::BadAnswer, 1 },
        { "payload shorter than announced", { sector(0, 20, hexBytes("FE 01")) },
            { "sector payload is shorter than its header announces (2 < 20)", brokeOff, silence }, DeviceErrorKind::NoAnswer, 4 },
        // Nothing decoded so far is handed back when a later sector fails.
        { "later sector fails", { sector(1, 0, concat({ firstFormatHeader, timeRecord, locationRecord })), hexBytes("04") },
            { silence, brokeOff }, DeviceErrorKind::NoAnswer, 5 },
    };
    for (const Case& c : cases) {
        DeviceTestRig rig(scriptedAnswers(c.answers));
        HRecord h;
        auto samples = rig.device->downloadLocationSamplesForFlightNumber(1, &h, nullptr);
        ASSERT_FALSE(samples) << c.what;
        EXPECT_EQ(samples.error().kind, c.kind) << c.what;
        EXPECT_EQ(rig.line().written.size(), c.requests) << c.what;
        ASSERT_GE(rig.log.lines.size(), c.firstLines.size()) << c.what;
        EXPECT_EQ(std::vector<std::string>(rig.log.lines.begin(), rig.log.lines.begin() + c.firstLines.size()), c.firstLines)
            << c.what;
    }

    DeviceTestRig failingReads(scriptedAnswers({ hexBytes("04 00 00 00") }));
    failingReads.line().failReads = true;
    auto failed = failingReads.device->downloadLocationSamplesV2ForFlightNumber(1, nullptr, nullptr, nullptr);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, DeviceErrorKind::Unplugged);
    EXPECT_EQ(failingReads.line().written.size(), 1u) << "a failed line is not asked again";

    DeviceTestRig unplugged(silentInstrument());
    unplugged.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    unplugged.log.lines.clear();
    EXPECT_FALSE(unplugged.device->downloadLocationSamplesForFlightNumber(1, nullptr, nullptr));
    EXPECT_EQ(unplugged.log.lines, (std::vector<std::string> { "deviceFile is nil" }));
}

// An instrument that hands out the flight's sectors in turn and starts again after the
// last, as instruments do; the answers (counted from 0) for which broken is true lose
// the second half of their valid bytes on the line.
FakeSerialLine::Responder sectorsInTurn(std::vector<Bytes> sectors, std::function<bool(std::size_t)> broken)
{
    return [sectors = std::move(sectors), broken = std::move(broken), answers = std::size_t { 0 }](const Bytes&) mutable {
        Bytes answer = sectors[answers % sectors.size()];
        if (broken(answers++))
            answer.resize(4 + answer[3] / 2);
        return answer;
    };
}

TEST(DeviceTrackLog, ASectorThatBrokeOffIsReadAgainOnTheNextPass)
{
    struct Case {
        const char* what;
        std::function<bool(std::size_t)> broken;
        std::size_t requests; // 0: the download fails
    };
    const Case cases[] = {
        { "whole", [](std::size_t) { return false; }, 3 },
        // The pass is read to its end, the next one brings the missing sector; the
        // download ends with the pass, where the instrument starts again.
        { "the middle sector once", [](std::size_t n) { return n == 1; }, 6 },
        { "the last sector once", [](std::size_t n) { return n == 2; }, 6 },
        { "the first sector once", [](std::size_t n) { return n == 0; }, 6 },
        { "the middle sector three times", [](std::size_t n) { return n % 3 == 1 && n < 9; }, 12 },
        { "the middle sector four times", [](std::size_t n) { return n % 3 == 1; }, 0 },
        { "every sector", [](std::size_t) { return true; }, 0 },
    };
    for (const Case& c : cases) {
        DeviceTestRig rig(sectorsInTurn(threeSectors(), c.broken));
        HRecord h;
        auto samples = rig.device->downloadLocationSamplesForFlightNumber(0x1234, &h, nullptr);
        if (c.requests == 0) {
            ASSERT_FALSE(samples) << c.what;
            EXPECT_EQ(samples.error().kind, DeviceErrorKind::ShortAnswer) << c.what;
            EXPECT_EQ(describeDeviceError(samples.error()).find("the instrument's answer broke off"), 0u) << c.what;
            EXPECT_EQ(rig.log.count("track log of flight 4660: the instrument's answer broke off, asking again (3 of 3)"), 1u)
                << c.what;
            continue;
        }
        ASSERT_TRUE(samples) << c.what;
        ASSERT_EQ(samples->size(), 1u) << c.what;
        EXPECT_EQ(h.aRecordText(), "XCV12345") << c.what;
        EXPECT_EQ(rig.line().written.size(), c.requests) << c.what;
    }
}

TEST(DeviceTrackLog, AnInstrumentThatNeverEndsItsSectorsIsStopped)
{
    DeviceTestRig rig([](const Bytes&) { return hexBytes("04 0001 01 FE"); });
    EXPECT_FALSE(rig.device->downloadLocationSamplesForFlightNumber(1, nullptr, nullptr));
    EXPECT_EQ(rig.log.lines, (std::vector<std::string> { "the instrument does not end the track log (more than 65536 sectors)" }));
}

// The line drops after every possible byte of the exchange: the download fails
// cleanly each time, never handing back part of the flight.
TEST(DeviceTrackLog, FaultSweepNeverReportsAPartialFlight)
{
    const std::vector<Bytes> answers = threeSectors();
    std::size_t total = 0;
    for (const Bytes& answer : answers)
        total += 4 + answer.size();
    for (std::size_t cut = 0; cut < total; ++cut) {
        DeviceTestRig rig(scriptedAnswers(answers));
        rig.line().failAfterBytes = cut;
        HRecord h;
        h.bytes.fill(0x77);
        EXPECT_FALSE(rig.device->downloadLocationSamplesForFlightNumber(0x1234, &h, nullptr)) << "cut at " << cut;
        EXPECT_EQ(h.bytes[2], 0x77) << "a failed download leaves the buffers alone; cut at " << cut;
    }
    DeviceTestRig whole(scriptedAnswers(answers));
    whole.line().failAfterBytes = total;
    EXPECT_TRUE(whole.device->downloadLocationSamplesForFlightNumber(0x1234, nullptr, nullptr));
}

} // namespace
} // namespace corvex
