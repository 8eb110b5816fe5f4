// The virtual instrument's flights from the shared IGC files: the log book's view of
// them and the instrument's coordinate form, taken from the B record's integers.
#include "FlightLibrary.h"

#include <gtest/gtest.h>

using namespace corvex::virtualinstrument;

namespace {

const std::string igcFolder = CORVEX_TESTDATA_DIR "/igc";

} // namespace

TEST(FlightLibrary, InstrumentCoordinatesAreTheRecordsIntegers)
{
    struct Case {
        std::int32_t raw;
        InstrumentCoordinate coordinate;
    };
    // 36°00.027' S (0asljd01.igc), 146°20.712' E, 44°58.0828' N with its LAD digit
    // (lad_lod_extensions.igc), 179°59.9999' W.
    const Case table[] = {
        { -(36 * 60 * 10000 + 270), { 3600, 270, true } },
        { (146 * 60 + 20) * 10000 + 7120, { 14620, 7120, false } },
        { (44 * 60 + 58) * 10000 + 828, { 4458, 828, false } },
        { -(179 * 60 * 10000 + 59 * 10000 + 9999), { 17959, 9999, true } },
    };
    for (const Case& test : table) {
        const InstrumentCoordinate coordinate = instrumentCoordinate(test.raw);
        EXPECT_EQ(coordinate.degreesAndMinutes, test.coordinate.degreesAndMinutes) << test.raw;
        EXPECT_EQ(coordinate.minuteFraction, test.coordinate.minuteFraction) << test.raw;
        EXPECT_EQ(coordinate.negative, test.coordinate.negative) << test.raw;
    }
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
        EXPECT_EQ(flights[i].lines.front()[0], 'A');
    }
    // 08:10:42 to 19:04:54.
    EXPECT_EQ(flights[4].entry.duration, 10 * 3600 + 54 * 60 + 12);
    EXPECT_GE(flights[4].entry.maxAltitude, flights[4].entry.startAltitude);
    EXPECT_GT(flights[4].entry.maxDistance, 0);
    EXPECT_LT(flights[4].entry.maxSink, 0);

    // 22:43:17 to 04:43:01 the next day, in New Zealand: the log book keeps absolute
    // values, the hemisphere travels apart.
    const LogBookEntry& midnight = flights[1].entry;
    EXPECT_EQ(midnight.duration, 5 * 3600 + 59 * 60 + 44);
    EXPECT_EQ(midnight.hour, 22);
    EXPECT_EQ(midnight.minute, 43);
    EXPECT_EQ(midnight.date, (CalendarDate { 2016, 11, 8 }));
    EXPECT_TRUE(midnight.launchLatitude.negative);
    EXPECT_FALSE(midnight.launchLongitude.negative);
    EXPECT_EQ(fixDate(flights[1].igc, flights[1].igc.fixes.back()), (CalendarDate { 2016, 11, 9 }));
    // No pressure sensor: the log book's altitude is the GNSS one.
    EXPECT_EQ(flights[5].entry.startAltitude, 1719);

    EXPECT_TRUE(loadFlights("/nonexistent-folder", &problems).empty());
}

TEST(FlightLibrary, AFileWithoutDateFliesOnTheFirstOfJanuary2000)
{
    auto flight = flightFromText("AXCV001\nB2359500000000N00000000EA0000000000\nB0000100000000N00000000EA0000000000\n", 1, "x");
    ASSERT_TRUE(flight);
    EXPECT_EQ(fixDate(flight->igc, flight->igc.fixes.back()), (CalendarDate { 2000, 1, 2 }));
}
