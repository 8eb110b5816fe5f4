// Frame decoding against byte strings written by hand from the instrument's tables.
#include "FakeSerialLine.h"
#include "device/FirmwareVersion.h"
#include "device/LogBookCodec.h"

#include <gtest/gtest.h>

#include <limits>

using namespace corvex;
using corvex::testing::hexBytes;

namespace {

// Flight 12 of 5 July 2013 at 09:03, 3725 s, altitudes 1500/450/2800 m, distance
// 12.34 km, lifts 3.4 / 1.2 / -2.5 m/s, temperatures 24 and 3, launch 46°12.25' 7°12',
// landing 46°30' 7°15', speeds 45.6 and 12.3 km/h; block field 1, size byte 0x59.
const char* const flight12
    = "05 0001 59 0000 000C 09 03 05 07 0D 0E8D 05DC 01C2 0AF0 04D2 0022 000C FFE7 18 03"
      " 1204 09C4 02C8 0000 00 1216 0000 02CB 0000 00 01C8 007B"
      " 000000000000000000000000000000000000000000000000000000000000000000000000";

} // namespace

TEST(LogBookCodec, DeviceInfoNeedsEighteenBytesStartingWithTwo)
{
    // id 0x00C0FFEE, two uninterpreted bytes, firmware 2405 (0x0965), battery 4.0 V.
    Bytes answer = hexBytes("02 00C0FFEE AAAA 0965 28 00000000 00000000");
    ASSERT_EQ(answer.size(), 18u);
    auto info = decodeDeviceInfo(answer);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->deviceId, 0x00C0FFEEu);
    EXPECT_EQ(info->firmwareVer, 2405u);
    EXPECT_EQ(info->batteryVoltage, 40u);

    answer.pop_back();
    EXPECT_FALSE(decodeDeviceInfo(answer)) << "17 bytes are not enough";
    EXPECT_FALSE(decodeDeviceInfo(hexBytes("03 00C0FFEE AAAA 0965 28 00000000 00000000")));
    EXPECT_FALSE(decodeDeviceInfo({}));
}

TEST(LogBookCodec, UnitsBitfieldIsExactlyTwoBytes)
{
    EXPECT_EQ(decodeUnitsBitfield(hexBytes("0D 24")), 0x24);
    EXPECT_FALSE(decodeUnitsBitfield(hexBytes("0D")));
    EXPECT_FALSE(decodeUnitsBitfield(hexBytes("0D 24 00")));
    EXPECT_FALSE(decodeUnitsBitfield(hexBytes("0E 24")));
}

TEST(LogBookCodec, FullRecordFieldsAndCoordinates)
{
    Bytes answer = hexBytes(flight12);
    ASSERT_EQ(answer.size(), 89u);
    auto header = decodeListTracksHeader(answer);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->messageId, 5);
    EXPECT_EQ(header->blockField, 1);
    EXPECT_EQ(header->size, 0x59);

    auto record = decodeFullFlightRecord(answer);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->flightNumber, 12);
    EXPECT_EQ(record->year, 13);
    EXPECT_EQ(record->month, 7);
    EXPECT_EQ(record->day, 5);
    EXPECT_EQ(record->hour, 9);
    EXPECT_EQ(record->minute, 3);
    EXPECT_EQ(record->duration, 3725);
    EXPECT_EQ(record->startAltitude, 1500);
    EXPECT_EQ(record->endAltitude, 450);
    EXPECT_EQ(record->maxAltitude, 2800);
    EXPECT_EQ(record->maxDistance, 1234);
    EXPECT_EQ(record->maxLift, 34);
    EXPECT_EQ(record->avgLift, 12);
    EXPECT_EQ(record->maxSink, -25) << "the maximum sink is the one signed field";
    EXPECT_EQ(record->maxTemperature, 24);
    EXPECT_EQ(record->minTemperature, 3);
    EXPECT_NEAR(record->launchLatitude, 46.2041666666, 1e-9);
    EXPECT_NEAR(record->launchLongitude, 7.2, 1e-12);
    EXPECT_NEAR(record->landingLatitude, 46.5, 1e-12);
    EXPECT_NEAR(record->landingLongitude, 7.25, 1e-12);
    EXPECT_EQ(record->maxGroundSpeed, 456);
    EXPECT_EQ(record->maxWindSpeed, 123);

    // The full list reads 53 bytes; the short list only bytes 0-14.
    Bytes shortened(answer.begin(), answer.begin() + 53);
    EXPECT_TRUE(decodeFullFlightRecord(shortened));
    shortened.pop_back();
    EXPECT_FALSE(decodeFullFlightRecord(shortened));
    auto identity = decodeShortFlightRecord(answer);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->flightNumber, 12);
    EXPECT_EQ(identity->duration, 3725);
    EXPECT_EQ(identity->maxAltitude, 0) << "the short form leaves the rest at zero";
}

TEST(LogBookCodec, UnitConversionsFollowTheBitfield)
{
    FlightRecord metric;
    metric.startAltitude = 1000;
    metric.maxLift = 25;
    metric.maxTemperature = 50;
    metric.minTemperature = 32;
    metric.maxDistance = 1000;
    metric.maxGroundSpeed = 1000;

    FlightRecord feet = metric;
    applyUnitsBitfield(feet, 0x04 | 0x01);
    EXPECT_EQ(feet.startAltitude, 3281);
    EXPECT_EQ(feet.maxTemperature, 50) << "bit 0 set keeps temperatures";
    EXPECT_EQ(feet.maxLift, 25);
    EXPECT_TRUE(feet.useMetersVerticalSpeedRounding);
    EXPECT_TRUE(feet.dayComesBeforeMonthDateFormat);

    FlightRecord imperial = metric;
    applyUnitsBitfield(imperial, 0x02 | 0x08 | 0x10 | 0x20);
    EXPECT_NEAR(imperial.maxLift, 4926.2598, 1e-3);
    EXPECT_FALSE(imperial.useMetersVerticalSpeedRounding);
    EXPECT_EQ(imperial.maxTemperature, 10) << "bit 0 clear converts 50 F to 10 C";
    EXPECT_EQ(imperial.minTemperature, 0);
    EXPECT_NEAR(imperial.maxDistance, 621.371, 1e-9);
    EXPECT_NEAR(imperial.maxGroundSpeed, 621.4, 1e-9);
    EXPECT_EQ(imperial.startAltitude, 1000);
    EXPECT_FALSE(imperial.dayComesBeforeMonthDateFormat);
}

TEST(LogBookCodec, CoordinatePairs)
{
    struct Case {
        std::uint16_t degreesAndMinutes;
        std::uint16_t fraction;
        double degrees;
    };
    const Case cases[] = {
        { 4612, 2500, 46 + 12.25 / 60 },
        { 0, 0, 0.0 },
        { 4630, 0, 46.5 }, // x.00: a division by 100.0 made this 46.49999...
        { 4600, 0, 46.0 },
        { 4659, 9999, 46 + (59 + 9999 / 10000.0) / 60 },
        { 715, 0, 7.25 },
        { 17959, 9999, 179 + (59 + 9999 / 10000.0) / 60 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(locationIntFractToDegrees(c.degreesAndMinutes, c.fraction), c.degrees) << c.degreesAndMinutes;
}

TEST(LogBookCodec, EveryInstrumentCoordinateReadsBackAsItsOwnIntegers)
{
    // Every degree and minute the instrument can send, with the fractions at both ends,
    // in both hemispheres: the text of a coordinate is built from this.
    for (int degrees = 0; degrees <= 180; ++degrees)
        for (int minutes = 0; minutes < 60; ++minutes)
            for (std::uint16_t fraction : { 0, 1, 50, 5000, 9900, 9999 })
                for (int sign : { 1, -1 }) {
                    const double value
                        = sign * locationIntFractToDegrees(static_cast<std::uint16_t>(degrees * 100 + minutes), fraction);
                    const DegreesMinutes angle = degreesMinutesOf(value);
                    ASSERT_EQ(angle.degrees, degrees) << degrees << " " << minutes << " " << fraction;
                    ASSERT_EQ(angle.minutes, minutes) << degrees << " " << minutes << " " << fraction;
                    ASSERT_EQ(angle.minuteTenThousandths, fraction) << degrees << " " << minutes;
                    ASSERT_EQ(angle.negative, sign < 0 && value != 0) << degrees << " " << minutes;
                }
    EXPECT_EQ(degreesMinutesOf(std::numeric_limits<double>::quiet_NaN()).degrees, 0);
    EXPECT_EQ(degreesMinutesOf(1e300).degrees, 1000000000);
}

TEST(LogBookCodec, FirmwareVersionTextsCompareAsDecimals)
{
    EXPECT_EQ(firmwareVersionText(1356), "1.356");
    EXPECT_EQ(firmwareVersionText(2000), "2.000");
    EXPECT_EQ(firmwareVersionText(65535), "65.535");
    EXPECT_EQ(compareDecimalTexts("2.000", "2"), 0);
    EXPECT_EQ(compareDecimalTexts("1.376", "1.375"), 1);
    EXPECT_EQ(compareDecimalTexts("1.4", "1.375"), 1) << "not a text comparison";
    EXPECT_EQ(compareDecimalTexts("10.000", "9.999"), 1);
    EXPECT_EQ(compareDecimalTexts("0.5", "-1"), 1);
    EXPECT_FALSE(compareDecimalTexts("1.2.3", "1"));
    EXPECT_FALSE(compareDecimalTexts("", "1"));
}

TEST(FlightRecordLaunch, OrdersByCalendarAndCarriesOutOfRangeFields)
{
    auto at = [](int year, int month, int day, int hour, int minute) {
        FlightRecord record;
        record.year = year;
        record.month = month;
        record.day = day;
        record.hour = hour;
        record.minute = minute;
        return record.launchMinutesSince2000();
    };
    EXPECT_EQ(at(0, 1, 1, 0, 0), 0);
    EXPECT_EQ(at(0, 3, 1, 0, 0) - at(0, 2, 28, 0, 0), 2 * 24 * 60) << "2000 was a leap year";
    EXPECT_EQ(at(1, 3, 1, 0, 0) - at(1, 2, 28, 0, 0), 24 * 60);
    // Month 13 is January of the next year, month 0 December of the one before, day 0
    // the last day of the month before; the order stays that of a calendar.
    EXPECT_EQ(at(13, 13, 1, 0, 0), at(14, 1, 1, 0, 0));
    EXPECT_EQ(at(13, 0, 1, 0, 0), at(12, 12, 1, 0, 0));
    EXPECT_EQ(at(13, 7, 0, 0, 0), at(13, 6, 30, 0, 0));
    EXPECT_EQ(at(13, 7, 5, 24, 0), at(13, 7, 6, 0, 0));
    // The widest byte values stay well inside 64 bits and keep their order.
    EXPECT_LT(at(255, 255, 255, 255, 255), at(255, 255, 255, 255, 255) + 1);
    EXPECT_GT(at(255, 255, 255, 255, 255), at(99, 12, 31, 23, 59));
}
