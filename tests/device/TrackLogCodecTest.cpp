#include "CapturingLogSink.h"
#include "FakeSerialLine.h"
#include "support/DeviceTestRig.h"
#include "device/TrackLogCodec.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

using testing::CapturingLogSink;
using testing::concat;
using testing::hexBytes;

// Header type 0xFE and the eight bytes the walk does not read.
const Bytes firstFormatHeader = hexBytes("FE 0102030405060708");

// 10:11:12 on 5 July 2014.
const Bytes timeRecord = hexBytes("FE 0A 0B 0C 05 07 0E");

// Type 0xF9 (south, west), 5 s after the time base, 46°12.2500' S, 7°12.0000' W,
// barometric 1000 m, GPS -12 m.
const Bytes southWestRecord = hexBytes("F9 0005 1204 09C4 02C8 0000 03E8 FFF4");

Bytes text(std::string_view value, std::size_t slot)
{
    Bytes bytes(value.begin(), value.end());
    bytes.resize(slot, 0);
    return bytes;
}

// An H record laid out field by field as the instrument stores it.
Bytes hRecordBytes(std::string_view aRecord)
{
    return concat({ hexBytes("F5 00"), text(aRecord, 16), hexBytes("05 07 0E 00"), hexBytes("2300"), text("WGS84", 10),
        hexBytes("0965 0102"), text("CORVEX LARK", 32), text("GPS RECEIVER", 48), text("BARO SENSOR", 48) });
}

Bytes gRecordBytes()
{
    Bytes g = hexBytes("F6 0AFF");
    g.resize(35, 0x11);
    return g;
}

// The second format's flight header: extension flag, dataOffset (little-endian).
Bytes flightHeader(std::uint8_t extensionFlag, std::uint16_t dataOffset)
{
    Bytes header = { 0x00, extensionFlag, static_cast<std::uint8_t>(dataOffset & 0xFF), static_cast<std::uint8_t>(dataOffset >> 8) };
    header.resize(20, 0xAA);
    return header;
}

const Bytes secondFormatStart = concat({ firstFormatHeader, flightHeader(0, 29) });

std::chrono::sys_seconds utc(int y, unsigned mo, unsigned d, int h, int mi, int s)
{
    return std::chrono::sys_days(std::chrono::year(y) / mo / d) + std::chrono::hours(h) + std::chrono::minutes(mi)
        + std::chrono::seconds(s);
}

TEST(TrackLogWalk, DecodesALocationRecordWithItsHemispheresAndRawFields)
{
    CapturingLogSink log;
    auto walk = walkTrackLog(concat({ firstFormatHeader, timeRecord, southWestRecord }), TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    ASSERT_EQ(walk->samples.size(), 1u);
    const LocationSample& sample = walk->samples[0];
    EXPECT_NEAR(sample.latitude, -46.2041666666, 1e-9);
    EXPECT_NEAR(sample.longitude, -7.2, 1e-9);
    EXPECT_EQ(sample.barometerElevation, 1000);
    EXPECT_EQ(sample.gpsElevation, -12);
    EXPECT_EQ(sample.sampleDate, utc(2014, 7, 5, 10, 11, 17));
    EXPECT_EQ(sample.deviceLatitudeInt, 4612);
    EXPECT_EQ(sample.deviceLatitudeFract, 2500);
    EXPECT_EQ(sample.deviceLongitudeInt, 712);
    EXPECT_EQ(sample.deviceLongitudeFract, 0);
    EXPECT_EQ(sample.description(),
        "time: 2014-07-05 10:11:17 +0000, lat: -46.20417, lon: -7.20000, barometerElevation: 1000, gpsElevation: -12");
    EXPECT_TRUE(log.lines.empty()) << "the first format logs only what it skips";
}

TEST(TrackLogWalk, TypeByteGivesTheHemispheresAndIntegersTheDegrees)
{
    // 0xF8 north/west, 0xF9 south/west, 0xFA north/east, 0xFB south/east. Degrees and
    // minutes come from the integers: 46°30.0000' is 46.5 exactly, not 46.49999...
    struct Case {
        const char* record;
        double latitude;
        double longitude;
    };
    const Case cases[] = {
        { "F8 0000 1204 09C4 02C8 0000 0000 0000", 46 + 12.25 / 60, -7.2 },
        { "FA 0000 1204 09C4 02C8 0000 0000 0000", 46 + 12.25 / 60, 7.2 },
        { "FB 0000 1204 09C4 02C8 0000 0000 0000", -(46 + 12.25 / 60), 7.2 },
        { "F9 0000 1216 0000 02CB 0000 0000 0000", -46.5, -7.25 }, // 46°30.00' S, 7°15.00' W
        { "FA 0000 1194 0000 0000 0000 0000 0000", 45.0, 0.0 }, // 45°00.00' N, 0°00.00' E
        { "F9 0000 11CF 270F 4627 270F 0000 0000", -(45 + (59 + 9999 / 10000.0) / 60), -(179 + (59 + 9999 / 10000.0) / 60) }, // x°59.9999'
        { "FB 0000 2328 0000 4650 0000 0000 0000", -90.0, 180.0 },
    };
    for (const Case& c : cases) {
        CapturingLogSink log;
        auto walk = walkTrackLog(concat({ firstFormatHeader, timeRecord, hexBytes(c.record) }), TrackLogFormat::First, log);
        ASSERT_TRUE(walk) << c.record;
        ASSERT_EQ(walk->samples.size(), 1u) << c.record;
        EXPECT_EQ(walk->samples[0].latitude, c.latitude) << c.record;
        EXPECT_EQ(walk->samples[0].longitude, c.longitude) << c.record;
    }
}

TEST(TrackLogWalk, EmptyAndHeaderOnlyFlightData)
{
    CapturingLogSink log;
    auto walk = walkTrackLog(firstFormatHeader, TrackLogFormat::First, log);
    ASSERT_TRUE(walk) << "nine bytes are a flight without records, not a failure";
    EXPECT_TRUE(walk->samples.empty());

    // Shorter than the fixed header: nothing to walk either.
    walk = walkTrackLog(hexBytes("FE 0102"), TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    EXPECT_TRUE(walk->samples.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST(TrackLogWalk, WrongOrMissingHeaderTypeFails)
{
    CapturingLogSink log;
    EXPECT_FALSE(walkTrackLog(hexBytes("FD 0102"), TrackLogFormat::First, log));
    EXPECT_EQ(log.lines, (std::vector<std::string> { "blockHeader->headerType is not 0xFE, it is fd",
                             "(and the whole flightData is <fd0102>)" }));

    log.lines.clear();
    EXPECT_FALSE(walkTrackLog(Bytes {}, TrackLogFormat::Second, log));
    EXPECT_EQ(log.lines, (std::vector<std::string> { "blockHeader->headerType is not 0xFE, it is 0",
                             "(and the whole flightData is <>)" }));
}

TEST(TrackLogWalk, UnknownBytesAreSkippedOneLineEach)
{
    CapturingLogSink log;
    auto walk = walkTrackLog(concat({ firstFormatHeader, hexBytes("FC FD FF 00"), timeRecord, southWestRecord }),
        TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->samples.size(), 1u);
    EXPECT_EQ(log.lines, (std::vector<std::string> { "skipping unrecognized byte 0xFC", "skipping unrecognized byte 0xFD",
                             "skipping unrecognized byte 0xFF", "skipping unrecognized byte 0x00" }));
}

TEST(TrackLogWalk, RecordsCutOffByTheEndAreSkippedByteByByte)
{
    CapturingLogSink log;
    // A time record that ends exactly at the end of the data counts.
    auto walk = walkTrackLog(concat({ firstFormatHeader, timeRecord }), TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->latestTime.hour, 10);
    EXPECT_EQ(walk->latestTime.year, 14);
    EXPECT_TRUE(log.lines.empty());

    // With one byte missing its six bytes are skipped one by one.
    walk = walkTrackLog(concat({ firstFormatHeader, hexBytes("FE 0A 0B 0C 05 07") }), TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->latestTime.hour, 0);
    EXPECT_EQ(log.lines.size(), 6u);
    EXPECT_EQ(log.lines.front(), "skipping unrecognized byte 0xFE");

    // A 15-byte record is too short for the second format: 15 skips, no sample.
    log.lines.clear();
    walk = walkTrackLog(concat({ secondFormatStart, southWestRecord }), TrackLogFormat::Second, log);
    ASSERT_TRUE(walk);
    EXPECT_TRUE(walk->samples.empty());
    EXPECT_EQ(log.count("skipping unrecognized byte 0xF9"), 1u);
    EXPECT_EQ(log.lines.size(), 15u);
}

TEST(TrackLogWalk, EachTimeRecordSetsTheTimeBaseOfTheSamplesAfterIt)
{
    const Bytes data = concat({ firstFormatHeader, southWestRecord, timeRecord, southWestRecord,
        hexBytes("FE 17 3B 3B 1F 0C 63"), southWestRecord });
    CapturingLogSink log;
    auto walk = walkTrackLog(data, TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    ASSERT_EQ(walk->samples.size(), 3u);
    EXPECT_FALSE(walk->samples[0].sampleDate) << "no time record yet: no date";
    EXPECT_EQ(walk->samples[0].description().rfind("time: (null), ", 0), 0u);
    EXPECT_EQ(walk->samples[1].sampleDate, utc(2014, 7, 5, 10, 11, 17));
    // 23:59:59 on 31 December 2099 + 5 s crosses into the next year.
    EXPECT_EQ(walk->samples[2].sampleDate, utc(2100, 1, 1, 0, 0, 4));
    EXPECT_EQ(walk->latestTime.day, 31);
}

TEST(TrackLogWalk, ATimeRecordThatIsNoDateGivesNoDate)
{
    // Month 13.
    CapturingLogSink log;
    auto walk = walkTrackLog(concat({ firstFormatHeader, hexBytes("FE 0A 0B 0C 05 0D 0E"), southWestRecord }),
        TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    ASSERT_EQ(walk->samples.size(), 1u);
    EXPECT_FALSE(walk->samples[0].sampleDate);
}

TEST(TrackLogWalk, FirstFormatCopiesHAndGRecordsAndGoesOn)
{
    CapturingLogSink log;
    const Bytes h = hRecordBytes("XCV12345");
    auto walk = walkTrackLog(concat({ firstFormatHeader, h, gRecordBytes(), timeRecord, southWestRecord }),
        TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    ASSERT_TRUE(walk->hRecord);
    ASSERT_TRUE(walk->gRecord);
    EXPECT_TRUE(std::equal(h.begin(), h.end(), walk->hRecord->bytes.begin()));
    EXPECT_EQ(walk->samples.size(), 1u);
    EXPECT_EQ(log.lines, (std::vector<std::string> { "Found HRecord", "Found GRecord" }));

    // A truncated H record is not one.
    log.lines.clear();
    walk = walkTrackLog(concat({ firstFormatHeader, Bytes(h.begin(), h.end() - 1) }), TrackLogFormat::First, log);
    ASSERT_TRUE(walk);
    EXPECT_FALSE(walk->hRecord);
    EXPECT_EQ(log.lines.size(), 165u);
}

TEST(TrackLogWalk, SecondFormatStopsOnceHAndGRecordsWereFound)
{
    CapturingLogSink log;
    const Bytes location = hexBytes("FA 0001 1204 09C4 02C8 0000 03E8 03E8 07");
    auto walk = walkTrackLog(
        concat({ secondFormatStart, timeRecord, location, hRecordBytes("XCV12345"), gRecordBytes(), hexBytes("FC"), location }),
        TrackLogFormat::Second, log);
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->samples.size(), 1u) << "what follows the G record is not walked";
    EXPECT_EQ(log.lines, (std::vector<std::string> { "Found time record <fe0a0b0c 05070e>",
                             "Found location record <fa000112 0409c402 c8000003 e803e807>", "Found HRecord",
                             "Found GRecord" }));
}

TEST(TrackLogWalk, SecondFormatGpsElevationExtension)
{
    const Bytes location = hexBytes("FA 0001 1204 09C4 02C8 0000 03E8 03E8 07");
    CapturingLogSink log;
    auto withFlag = walkTrackLog(concat({ firstFormatHeader, flightHeader(1, 29), timeRecord, location }), TrackLogFormat::Second, log);
    auto withoutFlag = walkTrackLog(concat({ firstFormatHeader, flightHeader(0, 29), timeRecord, location }), TrackLogFormat::Second, log);
    ASSERT_TRUE(withFlag && withoutFlag);
    ASSERT_EQ(withFlag->samples.size(), 1u);
    EXPECT_EQ(withFlag->samples[0].gpsElevation, 1007);
    EXPECT_EQ(withoutFlag->samples[0].gpsElevation, 1000);
    EXPECT_EQ(withFlag->samples[0].barometerElevation, 1000);

    // The field is read as unsigned for the sum: 0xFFFF + 2 wraps to 1 in 16 bits.
    auto wrapped = walkTrackLog(concat({ firstFormatHeader, flightHeader(1, 29), timeRecord,
                                    hexBytes("FA 0001 1204 09C4 02C8 0000 03E8 FFFF 02") }),
        TrackLogFormat::Second, log);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->samples[0].gpsElevation, 1);
}

TEST(TrackLogWalk, SecondFormatStartsAtDataOffset)
{
    CapturingLogSink log;
    // dataOffset 31: the two bytes after the header are not records.
    auto walk = walkTrackLog(concat({ firstFormatHeader, flightHeader(0, 31), hexBytes("FC FC"), timeRecord,
                                 hexBytes("FA 0001 1204 09C4 02C8 0000 03E8 03E8 00") }),
        TrackLogFormat::Second, log);
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->samples.size(), 1u);
    EXPECT_FALSE(log.containsPrefix("skipping"));

    // A dataOffset beyond the data, or a header cut short: no records, no reads past the end.
    walk = walkTrackLog(concat({ firstFormatHeader, flightHeader(0, 0xFFFF), timeRecord }), TrackLogFormat::Second, log);
    ASSERT_TRUE(walk);
    EXPECT_TRUE(walk->samples.empty());
    walk = walkTrackLog(hexBytes("FE 0102030405060708 00 00 1D"), TrackLogFormat::Second, log);
    ASSERT_TRUE(walk);
    EXPECT_TRUE(walk->samples.empty());
}

// Arbitrary bytes after a good header type, rich in record types: the walk must stay
// inside the data (the sanitizer build catches a stray read).
TEST(TrackLogWalk, ArbitraryBytesNeverLeadOutOfTheData)
{
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::uint8_t>(seed >> 16);
    };
    for (int round = 0; round < 2000; ++round) {
        Bytes data(static_cast<std::size_t>(next()) + static_cast<std::size_t>(next() % 4) * 256);
        for (auto& b : data)
            b = (next() & 1) ? static_cast<std::uint8_t>(0xF5 + next() % 11) : next();
        if (!data.empty())
            data[0] = 0xFE;
        for (TrackLogFormat format : { TrackLogFormat::First, TrackLogFormat::Second }) {
            CapturingLogSink log;
            auto walk = walkTrackLog(data, format, log);
            ASSERT_EQ(walk.has_value(), !data.empty());
            if (walk) {
                EXPECT_LE(walk->samples.size() * 15, data.size());
            }
        }
    }
}

TEST(HRecordView, ReadsTheHeaderFields)
{
    HRecord record;
    const Bytes bytes = hRecordBytes("XCV12345");
    std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
    EXPECT_EQ(record.aRecordText(), "XCV12345");
    EXPECT_EQ(record.day(), 5);
    EXPECT_EQ(record.month(), 7);
    EXPECT_EQ(record.year(), 14);
    EXPECT_EQ(record.fixAccuracy(), 35) << "least significant byte first";
    EXPECT_EQ(record.gpsDatum(), "WGS84");
    EXPECT_EQ(record.firmwareVersion(), 2405) << "most significant byte first";
    EXPECT_EQ(record.hardwareVersion(), 0x0102);
    EXPECT_EQ(record.flightRecorderType(), "CORVEX LARK");
    EXPECT_EQ(record.gpsReceiver(), "GPS RECEIVER");
    EXPECT_EQ(record.pressureAltitudeSensor(), "BARO SENSOR");

    // A text that fills its slot ends with the slot.
    const Bytes full = hRecordBytes("ABCDEFGHIJKLMNOP");
    std::copy(full.begin(), full.end(), record.bytes.begin());
    EXPECT_EQ(record.aRecordText(), "ABCDEFGHIJKLMNOP");

    GRecord g;
    const Bytes gBytes = gRecordBytes();
    std::copy(gBytes.begin(), gBytes.end(), g.bytes.begin());
    ASSERT_EQ(g.securityData().size(), 34u);
    EXPECT_EQ(g.securityData()[0], 0x0A);
    EXPECT_EQ(g.securityData()[1], 0xFF);
}

TEST(SuggestedTrackLogFilename, BuildsTheNameFromDateSerialAndFlightNumber)
{
    TimeRecordFields time;
    time.day = 5;
    time.month = 7;
    time.year = 14;
    HRecord record;
    auto setText = [&](std::string_view aRecord) {
        const Bytes bytes = hRecordBytes(aRecord);
        std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
    };
    setText("XCV12345");
    EXPECT_EQ(suggestedTrackLogFilename(&record, time, 123), "2014-7-5-XCV-12345-23");
    EXPECT_EQ(suggestedTrackLogFilename(&record, time, 7), "2014-7-5-XCV-12345-07");
    setText("XCV1");
    EXPECT_EQ(suggestedTrackLogFilename(&record, time, 123), "2014-7-5-XCV-cvx-23");
    setText("XCV12");
    EXPECT_EQ(suggestedTrackLogFilename(&record, time, 1), "2014-7-5-XCV-12-01");
    EXPECT_EQ(suggestedTrackLogFilename(nullptr, time, 1), "2014-7-5-XCV-cvx-01");
    // The serial becomes part of a file name: made safe as every name from outside.
    setText("XCV../../x");
    EXPECT_EQ(suggestedTrackLogFilename(&record, time, 1), "2014-7-5-XCV-______x-01");
    setText("XCV\xff\xfe\x41\x42");
    EXPECT_EQ(suggestedTrackLogFilename(&record, time, 1), "2014-7-5-XCV-cvx-01") << "not UTF-8 text";
}

} // namespace
} // namespace corvex
