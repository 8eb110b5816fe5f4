#include "FlightLibrary.h"
#include "IgcReader.h"

#include <gtest/gtest.h>

#include <map>

using namespace corvex::virtualinstrument;

namespace {

const std::string igcFolder = CORVEX_TESTDATA_DIR "/igc";

IgcFile readShared(const std::string& name)
{
    auto file = readIgcFile(igcFolder + "/" + name);
    EXPECT_TRUE(file.has_value()) << name;
    return file.value_or(IgcFile {});
}

} // namespace

// Fix counts, first and last fix times and dates as the shared folder's README lists
// them (two third-party readers agree on the counts).
TEST(IgcReader, ReadsEverySharedFlight)
{
    struct Expected {
        std::size_t fixes;
        int firstHour, firstMinute, firstSecond;
        int lastHour, lastMinute, lastSecond;
        CalendarDate date;
    };
    const std::map<std::string, Expected> expected {
        { "654G6NG1.IGC", { 9762, 8, 10, 42, 19, 4, 54, { 2016, 5, 4 } } },
        { "2016-11-08-xcs-aaa-02.igc", { 6752, 22, 43, 17, 4, 43, 1, { 2016, 11, 8 } } },
        { "20180427.igc", { 1831, 13, 35, 15, 16, 3, 25, { 2018, 4, 27 } } },
        { "lad_lod_extensions.igc", { 424, 16, 46, 59, 16, 54, 18, { 2023, 2, 20 } } },
        { "20241007TZN.igc", { 199, 6, 26, 47, 6, 30, 5, { 2024, 10, 7 } } },
        { "0asljd01.igc", { 4020, 1, 14, 58, 5, 39, 55, { 2010, 10, 28 } } },
    };
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        IgcFile file = readShared(name);
        ASSERT_EQ(file.fixes.size(), want.fixes);
        const IgcFix& first = file.fixes.front();
        const IgcFix& last = file.fixes.back();
        EXPECT_EQ(first.hour, want.firstHour);
        EXPECT_EQ(first.minute, want.firstMinute);
        EXPECT_EQ(first.second, want.firstSecond);
        EXPECT_EQ(last.hour, want.lastHour);
        EXPECT_EQ(last.minute, want.lastMinute);
        EXPECT_EQ(last.second, want.lastSecond);
        ASSERT_TRUE(file.date.has_value());
        EXPECT_EQ(*file.date, want.date);
    }
}

TEST(IgcReader, FlightOverUtcMidnightKeepsCounting)
{
    IgcFile file = readShared("2016-11-08-xcs-aaa-02.igc");
    ASSERT_FALSE(file.fixes.empty());
    EXPECT_EQ(file.fixes.front().dayOffset, 0);
    EXPECT_EQ(file.fixes.back().dayOffset, 1);
    // 22:43:17 to 04:43:01 the next day.
    EXPECT_EQ(file.fixes.back().elapsedSeconds() - file.fixes.front().elapsedSeconds(), 5 * 3600 + 59 * 60 + 44);
    LogBookEntry entry = summarizeFlight(file, 2);
    EXPECT_EQ(entry.duration, 21584);
    EXPECT_EQ(entry.hour, 22);
    EXPECT_EQ(entry.minute, 43);
    // New Zealand: the log book keeps absolute values, the hemisphere travels apart.
    EXPECT_TRUE(entry.launchLatitude.negative);
    EXPECT_FALSE(entry.launchLongitude.negative);
}

TEST(IgcReader, CoordinatesAltitudesAndExtensions)
{
    // B0114583600027S14620712EA0009900137...: south and east, pressure and GNSS.
    IgcFile lx = readShared("0asljd01.igc");
    ASSERT_FALSE(lx.fixes.empty());
    const IgcFix& fix = lx.fixes.front();
    EXPECT_EQ(fix.latitude.degreesAndMinutes, 3600);
    EXPECT_EQ(fix.latitude.minuteFraction, 270);
    EXPECT_TRUE(fix.latitude.negative);
    EXPECT_EQ(fix.longitude.degreesAndMinutes, 14620);
    EXPECT_EQ(fix.longitude.minuteFraction, 7120);
    EXPECT_FALSE(fix.longitude.negative);
    EXPECT_EQ(fix.pressureAltitude, 99);
    EXPECT_EQ(fix.gnssAltitude, 137);
    EXPECT_EQ(fix.altitude(), 99);
    EXPECT_EQ(lx.aRecord, "LXNJD0FLIGHT:1");
    EXPECT_EQ(lx.headerValue("FTY").value_or(""), "LXNAV,LX8000F");
    EXPECT_EQ(lx.headerValue("PRS").value_or(""), "INTERSEMA,MS5534A,max10000m");

    // B1646594458082N00549988EA00000 01719 83 with I023636LAD3737LOD: the extra digits
    // refine the minute fraction; no pressure sensor, so GNSS altitude counts.
    IgcFile phone = readShared("lad_lod_extensions.igc");
    ASSERT_FALSE(phone.fixes.empty());
    EXPECT_EQ(phone.fixes.front().latitude.degreesAndMinutes, 4458);
    EXPECT_EQ(phone.fixes.front().latitude.minuteFraction, 828);
    EXPECT_EQ(phone.fixes.front().longitude.degreesAndMinutes, 549);
    EXPECT_EQ(phone.fixes.front().longitude.minuteFraction, 9883);
    EXPECT_FALSE(phone.fixes.front().longitude.negative);
    EXPECT_EQ(phone.fixes.front().altitude(), 1719);
}

TEST(IgcReader, LineEndsAndDamagedLines)
{
    const std::string lf = "AXCV001\nHFDTE010203\n"
                           "B1200004612250N00712000WA-001200100\n"
                           "B12000X4612250N00712000WA0010000100\n" // damaged time
                           "B1200104612250S00712000W\n" // too short
                           "B1200204612250S00712000WV0000000123\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    for (const std::string& text : { lf, crlf }) {
        auto file = parseIgc(text);
        ASSERT_TRUE(file.has_value());
        ASSERT_EQ(file->fixes.size(), 2u);
        EXPECT_EQ(file->lines.size(), 6u);
        EXPECT_EQ(file->lines[0], "AXCV001");
        EXPECT_EQ(*file->date, (CalendarDate { 2003, 2, 1 }));
        EXPECT_EQ(file->fixes[0].pressureAltitude, -12);
        EXPECT_TRUE(file->fixes[0].longitude.negative);
        EXPECT_EQ(file->fixes[1].altitude(), 123);
        EXPECT_FALSE(file->fixes[1].valid);
        EXPECT_TRUE(file->fixes[1].latitude.negative);
    }
    EXPECT_FALSE(parseIgc("AXCV001\nHFDTE010203\n").has_value());
}

TEST(IgcReader, CalendarRollsOver)
{
    EXPECT_EQ((CalendarDate { 2016, 2, 28 }.nextDay()), (CalendarDate { 2016, 2, 29 }));
    EXPECT_EQ((CalendarDate { 2015, 2, 28 }.nextDay()), (CalendarDate { 2015, 3, 1 }));
    EXPECT_EQ((CalendarDate { 2016, 12, 31 }.nextDay()), (CalendarDate { 2017, 1, 1 }));
    EXPECT_EQ((CalendarDate { 2016, 11, 30 }.nextDay()), (CalendarDate { 2016, 12, 1 }));
}

TEST(FlightLibrary, NumbersTheSharedFlightsByFileName)
{
    std::vector<std::string> problems;
    auto flights = loadFlights(igcFolder, &problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(flights.size(), 6u);
    const char* order[] = { "0asljd01.igc", "2016-11-08-xcs-aaa-02.igc", "20180427.igc", "20241007TZN.igc",
        "654G6NG1.IGC", "lad_lod_extensions.igc" };
    for (std::size_t i = 0; i < flights.size(); ++i) {
        EXPECT_EQ(flights[i].fileName, order[i]);
        EXPECT_EQ(flights[i].flightNumber, i + 1);
        EXPECT_EQ(flights[i].entry.flightNumber, i + 1);
    }
    // 08:10:42 to 19:04:54.
    EXPECT_EQ(flights[4].entry.duration, 10 * 3600 + 54 * 60 + 12);
    EXPECT_GE(flights[4].entry.maxAltitude, flights[4].entry.startAltitude);
    EXPECT_GT(flights[4].entry.maxDistance, 0);
    EXPECT_LT(flights[4].entry.maxSink, 0);
    EXPECT_TRUE(loadFlights("/nonexistent-folder", &problems).empty());
}
