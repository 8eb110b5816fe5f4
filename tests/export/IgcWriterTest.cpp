// The IGC writer against texts written out by hand from the format's line list.
#include "export/IgcWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

using namespace corvex;
using namespace std::chrono;

namespace {

void putText(std::uint8_t* slot, const char* text) { std::memcpy(slot, text, std::strlen(text)); }

HRecord exampleHRecord()
{
    HRecord h;
    h.bytes[0] = 0xF5;
    putText(&h.bytes[2], "XCVABC");
    h.bytes[18] = 5; // day
    h.bytes[19] = 7; // month
    h.bytes[20] = 13; // year
    h.bytes[22] = 0x23; // fix accuracy, least significant byte first
    h.bytes[23] = 0x00;
    putText(&h.bytes[24], "WGS84");
    h.bytes[34] = 0x09; // firmware 2405, most significant byte first
    h.bytes[35] = 0x65;
    h.bytes[36] = 0x00;
    h.bytes[37] = 0x01;
    putText(&h.bytes[38], "CORVEX,WREN");
    putText(&h.bytes[70], "uBLOX NEO-6");
    putText(&h.bytes[118], "MS5611");
    return h;
}

GRecord exampleGRecord()
{
    GRecord g;
    g.bytes[0] = 0xF6;
    for (std::size_t i = 1; i < g.bytes.size(); ++i)
        g.bytes[i] = static_cast<std::uint8_t>(i - 1);
    g.bytes[1] = 0x0A;
    g.bytes[2] = 0xFF;
    return g;
}

PilotData examplePilot()
{
    PilotData pilot;
    pilot.setPilot("Jane Doe");
    pilot.setGliderType("Ventus 2c");
    pilot.setGliderId("D-1234");
    pilot.setCompetitionClass("Club");
    pilot.setCompetitionId("XY");
    return pilot; // the site stays empty
}

LocationSample sample(int hour, int minute, int second, std::int32_t latInt, std::int32_t latFract, double latitude,
    std::int32_t lonInt, std::int32_t lonFract, double longitude, std::int16_t baro, std::int16_t gps)
{
    LocationSample s;
    s.sampleDate = sys_days(year(2013) / 7 / 5) + hours(hour) + minutes(minute) + seconds(second);
    s.deviceLatitudeInt = latInt;
    s.deviceLatitudeFract = latFract;
    s.latitude = latitude;
    s.deviceLongitudeInt = lonInt;
    s.deviceLongitudeFract = lonFract;
    s.longitude = longitude;
    s.barometerElevation = baro;
    s.gpsElevation = gps;
    return s;
}

// The "Downloaded" line is local time: the tests pin the zone.
class IgcWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* zone = std::getenv("TZ");
        m_savedZone = zone ? std::optional<std::string>(zone) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (m_savedZone)
            setenv("TZ", m_savedZone->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    WriterStamp stamp { "1.2.3", sys_days(year(2014) / 7 / 5) + hours(12) + minutes(34) + seconds(56) };

private:
    std::optional<std::string> m_savedZone;
};

const char* const exampleHeader = "AXCVABC\r\n"
                                  "HFDTE050713\r\n"
                                  "HFFXA35\r\n"
                                  "HFPLTPILOTINCHARGE:Jane Doe\r\n"
                                  "HFGTYGLIDERTYPE:Ventus 2c\r\n"
                                  "HFGIDGLIDERID:D-1234\r\n"
                                  "HFDTM100GPSDATUM:WGS84\r\n"
                                  "HFRFWFIRMWAREVERSION:2405\r\n"
                                  "HFRHWHARDWAREVERSION:0001\r\n"
                                  "HFFTYFRTYPE:CORVEX,WREN\r\n"
                                  "HFGPSuBLOX NEO-6\r\n"
                                  "HFPRSPRESSALTSENSOR:MS5611\r\n"
                                  "HOCIDCOMPETITIONID:XY\r\n"
                                  "HOCCLCOMPETITIONCLASS:Club\r\n"
                                  "HOSITSITE:\r\n";

const char* const exampleTail = "LXCV HUB version Mac 1.2.3\r\n"
                                "LXCV Downloaded 2014-07-05 12:34:56\r\n"
                                "G0AFF02030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F2021\r\n";

} // namespace

TEST_F(IgcWriter, WholeFileOfATrack)
{
    const std::vector<LocationSample> track {
        sample(10, 11, 12, 4612, 3456, 46.2, 712, 5, 7.2, -12, 1234),
        // South and west; fractions 12 and 9999 cut to 001 and 999.
        sample(23, 59, 59, 3345, 12, -33.75, 7012, 9999, -70.2, 0, -5),
        // Exactly zero, and negative zero, count as north and east.
        sample(0, 0, 0, 0, 0, -0.0, 0, 0, 0.0, 32767, -32768),
    };
    const std::string expected = std::string(exampleHeader)
        + "B1011124612345N00712000EA-001201234\r\n"
          "B2359593345001S07012999WA00000-0005\r\n"
          "B0000000000000N00000000EA32767-32768\r\n"
        + exampleTail;
    EXPECT_EQ(generateIgcFileForSamples(track, examplePilot(), exampleHRecord(), exampleGRecord(), stamp), expected);
}

TEST_F(IgcWriter, EmptyTrackHasNoBLinesAndUndatedSamplesAreLeftOut)
{
    const std::string expected = std::string(exampleHeader) + exampleTail;
    EXPECT_EQ(generateIgcFileForSamples({}, examplePilot(), exampleHRecord(), exampleGRecord(), stamp), expected);

    LocationSample undated = sample(1, 2, 3, 4612, 3456, 46.2, 712, 5, 7.2, 0, 0);
    undated.sampleDate.reset();
    EXPECT_EQ(generateIgcFileForSamples({ undated }, examplePilot(), exampleHRecord(), exampleGRecord(), stamp), expected);
}

TEST_F(IgcWriter, AllZeroRecordsAndTextsThatFillTheirSlots)
{
    const std::string empty = generateIgcFileForSamples({}, PilotData {}, HRecord {}, GRecord {}, stamp);
    EXPECT_EQ(empty,
        "A\r\nHFDTE000000\r\nHFFXA0\r\nHFPLTPILOTINCHARGE:\r\nHFGTYGLIDERTYPE:\r\nHFGIDGLIDERID:\r\n"
        "HFDTM100GPSDATUM:\r\nHFRFWFIRMWAREVERSION:0000\r\nHFRHWHARDWAREVERSION:0000\r\nHFFTYFRTYPE:\r\nHFGPS\r\n"
        "HFPRSPRESSALTSENSOR:\r\nHOCIDCOMPETITIONID:\r\nHOCCLCOMPETITIONCLASS:\r\nHOSITSITE:\r\n"
        "LXCV HUB version Mac 1.2.3\r\nLXCV Downloaded 2014-07-05 12:34:56\r\nG"
            + std::string(68, '0') + "\r\n");

    // A text without a terminator stops at its slot, not in the next field.
    HRecord full = exampleHRecord();
    putText(&full.bytes[2], "XCVABCDEFGHIJKLM"); // 16 bytes: the whole slot
    PilotData pilot;
    pilot.setCompetitionId(std::string(32, 'C'));
    pilot.setSite("Site");
    const std::string text = generateIgcFileForSamples({}, pilot, full, GRecord {}, stamp);
    EXPECT_EQ(text.substr(0, 19), "AXCVABCDEFGHIJKLM\r\n");
    EXPECT_NE(text.find("\r\nHOCIDCOMPETITIONID:" + std::string(32, 'C') + "\r\nHOCCL"), std::string::npos);
    EXPECT_NE(text.find("\r\nHOSITSITE:Site\r\n"), std::string::npos);
}

TEST(HexString, UpperCaseTwoDigitsAndBoundedByTheBuffer)
{
    const std::uint8_t bytes[] = { 0x0A, 0xFF, 0x00, 0x7b };
    EXPECT_EQ(hexStringWithData(bytes, 4), "0AFF007B");
    EXPECT_EQ(hexStringWithData(bytes, 2), "0AFF");
    EXPECT_EQ(hexStringWithData(bytes, 10), "0AFF007B");
    EXPECT_EQ(hexStringWithData({}, 34), "");
}
