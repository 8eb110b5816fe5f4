#include "export/FlightRecordText.h"

#include "device/LogBookCodec.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

using corvex::FlightRecord;

namespace {

std::vector<std::string> csvColumns(const std::string& row)
{
    std::vector<std::string> columns;
    std::stringstream stream(row);
    std::string column;
    while (std::getline(stream, column, ','))
        columns.push_back(column);
    return columns;
}

// Column n (1-based, as in the header) of the record's row.
std::string column(const FlightRecord& record, std::size_t n)
{
    auto columns = csvColumns(corvex::recordCsvString(record));
    return n - 1 < columns.size() ? columns[n - 1] : std::string("<missing>");
}

FlightRecord exampleFlight()
{
    FlightRecord record;
    record.flightNumber = 12;
    record.year = 13;
    record.month = 7;
    record.day = 5;
    record.hour = 9;
    record.minute = 3;
    record.duration = 3725;
    record.startAltitude = 1500;
    record.endAltitude = 450;
    record.maxAltitude = 2800;
    record.maxDistance = 1234;
    record.maxLift = 34;
    record.avgLift = 12;
    record.maxSink = -25;
    record.maxTemperature = 24;
    record.minTemperature = 3;
    record.maxGroundSpeed = 456;
    record.maxWindSpeed = 123;
    record.launchLatitude = 46.5;
    record.launchLongitude = 7.25;
    record.landingLatitude = 46.5;
    record.landingLongitude = 7.25;
    record.dayComesBeforeMonthDateFormat = true;
    record.useMetersVerticalSpeedRounding = true;
    return record;
}

TEST(FlightRecordText, TitlePadsDateAndTimeWithFourSpacesBetween)
{
    FlightRecord record;
    record.flightNumber = 7;
    record.year = 13;
    record.month = 7;
    record.day = 5;
    record.hour = 9;
    record.minute = 3;
    EXPECT_EQ(corvex::recordStringTitle(record), "7: 13-07-05    09:03");
}

TEST(FlightRecordText, HeaderHasNineteenNamesWithTheLegacySpellings)
{
    const std::string header = corvex::recordCsvStringTitle();
    EXPECT_EQ(header,
        "flightnumber,date,time,duration,start altitude,end altitude,max altitude,max distance,max lift, avg Lift,"
        "max sink,max temp,min temp,max ground speed,max wind speed,launch lat,launch long,landing lat,landing lon");
    EXPECT_EQ(csvColumns(header).size(), 19u);
}

TEST(FlightRecordText, FullExampleRow)
{
    const FlightRecord record = exampleFlight();
    const std::string expected = "12,5/7/13,09:03,62:05,1500,450,2800,12.34,3.4,1.2,-2.5,24,3,45.6,12.3,"
                                 "46.30.00,7.15.00,46.30.00,7.15.00";
    EXPECT_EQ(corvex::recordCsvString(record), expected);
    EXPECT_EQ(corvex::description(record), expected);
    EXPECT_EQ(csvColumns(expected).size(), csvColumns(corvex::recordCsvStringTitle()).size());
}

TEST(FlightRecordText, DurationTruncatesToWholeSeconds)
{
    FlightRecord record = exampleFlight();
    record.duration = 3725;
    EXPECT_EQ(column(record, 4), "62:05");
    record.duration = 59.9;
    EXPECT_EQ(column(record, 4), "0:59");
    record.duration = 0;
    EXPECT_EQ(column(record, 4), "0:00");
}

TEST(FlightRecordText, DateOrderFollowsTheUnitsFlagWithoutPadding)
{
    FlightRecord record = exampleFlight();
    record.dayComesBeforeMonthDateFormat = true;
    EXPECT_EQ(column(record, 2), "5/7/13");
    record.dayComesBeforeMonthDateFormat = false;
    EXPECT_EQ(column(record, 2), "7/5/13");
}

TEST(FlightRecordText, MaxDistanceTruncatesBeforeScaling)
{
    FlightRecord record = exampleFlight();
    record.maxDistance = 1234;
    EXPECT_EQ(column(record, 8), "12.34");
    record.maxDistance = 1234.9;
    EXPECT_EQ(column(record, 8), "12.34");
}

TEST(FlightRecordText, MetricVerticalSpeedsTruncateThenShowOneDecimal)
{
    FlightRecord record = exampleFlight();
    record.useMetersVerticalSpeedRounding = true;
    record.maxLift = 34;
    record.avgLift = 9.9;
    record.maxSink = -25;
    EXPECT_EQ(column(record, 9), "3.4");
    EXPECT_EQ(column(record, 10), "0.9");
    EXPECT_EQ(column(record, 11), "-2.5");
}

TEST(FlightRecordText, ImperialVerticalSpeedsAreWholeTensTruncatedTowardZero)
{
    FlightRecord record = exampleFlight();
    record.useMetersVerticalSpeedRounding = false;
    record.maxLift = 6698;
    record.avgLift = 2367;
    record.maxSink = -4926;
    EXPECT_EQ(column(record, 9), "660");
    EXPECT_EQ(column(record, 10), "230");
    EXPECT_EQ(column(record, 11), "-490");
}

TEST(FlightRecordText, SpeedsAreTenthsWithOneDecimal)
{
    FlightRecord record = exampleFlight();
    record.maxGroundSpeed = 456;
    record.maxWindSpeed = 7;
    EXPECT_EQ(column(record, 14), "45.6");
    EXPECT_EQ(column(record, 15), "0.7");
}

TEST(FlightRecordText, CoordinatesAreDegreesAndTruncatedMinutes)
{
    struct Case {
        double degrees;
        const char* text;
    };
    const Case cases[] = {
        { 46.5, "46.30.00" },
        { 7.25, "7.15.00" },
        { 45.999999, "45.59.99" },
        { 0, "0.00.00" },
        // As the log book's coordinate pairs decode: x.00 is not a hundredth short.
        { corvex::locationIntFractToDegrees(4630, 0), "46.30.00" },
        { corvex::locationIntFractToDegrees(4600, 0), "46.00.00" },
        { corvex::locationIntFractToDegrees(4659, 9999), "46.59.99" },
        { corvex::locationIntFractToDegrees(901, 100), "9.01.01" },
        { corvex::locationIntFractToDegrees(17959, 9900), "179.59.99" },
        // A signed value keeps its sign in front only.
        { -corvex::locationIntFractToDegrees(4630, 0), "-46.30.00" },
        { -corvex::locationIntFractToDegrees(712, 2500), "-7.12.25" },
    };
    for (const Case& c : cases) {
        FlightRecord record = exampleFlight();
        record.launchLatitude = c.degrees;
        record.landingLongitude = c.degrees;
        EXPECT_EQ(column(record, 16), c.text) << c.degrees;
        EXPECT_EQ(column(record, 19), c.text) << c.degrees;
    }
}

TEST(FlightRecordText, ValuesOutsideTheInstrumentsRangeDoNotBreakTheRow)
{
    // Nothing the instrument sends comes near this, but the row must stay well formed
    // rather than depend on an undefined conversion.
    FlightRecord record = exampleFlight();
    record.maxDistance = 1e300;
    record.maxLift = -1e300;
    record.duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(csvColumns(corvex::recordCsvString(record)).size(), 19u);
    EXPECT_EQ(column(record, 4), "0:00");
}

} // namespace
