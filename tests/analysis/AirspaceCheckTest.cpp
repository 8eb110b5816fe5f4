#include "analysis/AirspaceCheck.h"
#include "analysis/AirspaceFileCheck.h"
#include "analysis/NearAirspaces.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

using namespace corvex;
using analysis::checkAirspaces;

namespace {

struct Altitudes {
    int pressure;
    int gnss;
};

// A flight made for the purpose: 41 fixes ten seconds apart from 10:00:00 UTC on
// 2024-04-07, due east along one latitude from 4.90° E to 5.30° E in steps of 0.01°.
std::string eastboundFlight(double latitude, Altitudes altitudes)
{
    std::string text = "AXCT0001\r\nHFDTE070424\r\n";
    for (int i = 0; i <= 40; ++i) {
        const int seconds = 10 * 3600 + 10 * i;
        const double longitude = 4.90 + 0.01 * i;
        const long latMinutes = std::lround(latitude * 60000), lonMinutes = std::lround(longitude * 60000);
        char line[128];
        std::snprintf(line, sizeof line, "B%02d%02d%02d%02ld%05ldN%03ld%05ldEA%05d%05d\r\n", seconds / 3600, seconds / 60 % 60,
            seconds % 60, latMinutes / 60000, latMinutes % 60000, lonMinutes / 60000, lonMinutes % 60000, altitudes.pressure,
            altitudes.gnss);
        text += line;
    }
    return text;
}

// A square from 45°00' to 45°06' N and 5°00'18" to 5°06'18" E: the track at 45.05° N
// is inside from the fix at 5.01° E (index 11) to the one at 5.10° E (index 20).
std::string square(const std::string& floor, const std::string& ceiling)
{
    return "AC D\nAN SQUARE\nAL " + floor + "\nAH " + ceiling
        + "\nDP 45:00:00 N 005:00:18 E\nDP 45:06:00 N 005:00:18 E\nDP 45:06:00 N 005:06:18 E\nDP 45:00:00 N 005:06:18 E\n";
}

// A circle of 2 NM (3704 m) around 45°03' N 5°03' E: inside from 5.01° E to 5.09° E on
// the track at 45.05° N.
const std::string circle = "AC C\nAN CIRCLE\nAL SFC\nAH 4500ft AMSL\nV X=45:03:00 N 005:03:00 E\nDC 2\n";

// Half-discs of the same circle, closed by the diameter along 45.05° N: clockwise from
// west to east passes north, counter-clockwise passes south.
std::string halfDisc(const std::string& direction)
{
    return "AC R\nAN HALF\nAL SFC\nAH FL195\nV D=" + direction + "\nV X=45:03:00 N 005:03:00 E\nDA 2,270,90\n";
}

} // namespace

TEST(AirspaceCheck, SyntheticFlightsThroughKnownAirspaces)
{
    struct Case {
        const char* what;
        std::string openAir;
        double latitude;
        Altitudes altitudes;
        std::size_t crossings;
        bool certain;
        std::size_t entry, exit;
        const char* reasonHas;
    };
    const std::vector<Case> cases {
        { "through a control zone", square("1000ft AMSL", "3000ft AMSL"), 45.05, { 650, 600 }, 1, true, 11, 20, "GNSS altitude" },
        { "metres as limits", square("200 m", "700 m"), 45.05, { 650, 600 }, 1, true, 11, 20, "" },
        { "above the control zone (GNSS altitude against MSL)", square("1000ft AMSL", "3000ft AMSL"), 45.05, { 900, 1000 }, 0,
            false, 0, 0, "" },
        { "below its floor", square("1000ft AMSL", "3000ft AMSL"), 45.05, { 250, 250 }, 0, false, 0, 0, "" },
        { "beside it", square("1000ft AMSL", "3000ft AMSL"), 45.2, { 600, 600 }, 0, false, 0, 0, "" },
        { "floor above ground: possible only", square("1000ft AGL", "3000ft AMSL"), 45.05, { 650, 600 }, 1, false, 11, 20,
            "floor \"1000ft AGL\" is above ground" },
        { "floor above ground, lower above the sea than the floor: surely under", square("1000ft AGL", "3000ft AMSL"), 45.05,
            { 250, 250 }, 0, false, 0, 0, "" },
        { "ceiling above ground, higher than it above the sea", square("SFC", "2000ft AGL"), 45.05, { 900, 900 }, 1, false, 11,
            20, "ceiling \"2000ft AGL\" is above ground" },
        { "ceiling above ground, lower above the sea: surely under it", square("SFC", "2000ft AGL"), 45.05, { 500, 500 }, 1,
            true, 11, 20, "" },
        { "flight levels by pressure altitude", square("FL65", "FL95"), 45.05, { 2200, 2000 }, 1, true, 11, 20,
            "pressure altitude against flight levels" },
        { "above FL95 by pressure though not by GNSS", square("FL65", "FL95"), 45.05, { 3000, 2800 }, 0, false, 0, 0, "" },
        { "flight levels without a pressure sensor", square("FL65", "FL95"), 45.05, { 0, 2200 }, 1, true, 11, 20,
            "no pressure altitude" },
        { "a circle", circle, 45.05, { 600, 600 }, 1, true, 11, 19, "" },
        { "an arc clockwise (the northern half)", halfDisc("+"), 45.06, { 600, 600 }, 1, true, 11, 19, "" },
        { "an arc counter-clockwise (the southern half)", halfDisc("-"), 45.06, { 600, 600 }, 0, false, 0, 0, "" },
        { "a limit given elsewhere", square("SFC", "NOTAM"), 45.05, { 600, 600 }, 1, false, 11, 20, "not a height" },
    };
    const std::int64_t tenOClock = flights::IgcDate { 2024, 4, 7 }.daysSinceEpoch() * 86400 + 10 * 3600;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = openair::parse(c.openAir);
        ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front().message;
        const auto flight = flights::parseIgc(eastboundFlight(c.latitude, c.altitudes));
        ASSERT_TRUE(flight) << flight.error();
        const auto check = checkAirspaces(*flight, parsed.airspaces);
        ASSERT_EQ(check.crossings.size(), c.crossings);
        if (c.crossings == 0)
            continue;
        const auto& crossing = check.crossings.front();
        EXPECT_EQ(crossing.name, parsed.airspaces.front().name);
        EXPECT_EQ(crossing.airspaceClass, parsed.airspaces.front().airspaceClass);
        EXPECT_EQ(crossing.certain, c.certain);
        EXPECT_EQ(crossing.entryIndex, c.entry);
        EXPECT_EQ(crossing.exitIndex, c.exit);
        EXPECT_EQ(crossing.entryTime, tenOClock + 10 * static_cast<std::int64_t>(c.entry));
        EXPECT_EQ(crossing.exitTime, tenOClock + 10 * static_cast<std::int64_t>(c.exit));
        EXPECT_NE(crossing.reason.find(c.reasonHas), std::string::npos) << crossing.reason;
        EXPECT_GE(crossing.deepestHorizontalIndex, c.entry);
        EXPECT_LE(crossing.deepestHorizontalIndex, c.exit);
    }

    // A U open to the north: the track crosses its two arms, out of it in between.
    const auto u = openair::parse("AC D\nAN U\nAL SFC\nAH 3000ft AMSL\nDP 45:00:00 N 005:00:18 E\nDP 45:03:36 N 005:00:18 E\n"
                                  "DP 45:03:36 N 005:02:06 E\nDP 45:01:12 N 005:02:06 E\nDP 45:01:12 N 005:04:30 E\n"
                                  "DP 45:03:36 N 005:04:30 E\nDP 45:03:36 N 005:06:18 E\nDP 45:00:00 N 005:06:18 E\n");
    const auto across = flights::parseIgc(eastboundFlight(45.05, { 600, 600 }));
    ASSERT_TRUE(across);
    const auto arms = checkAirspaces(*across, u.airspaces).crossings;
    ASSERT_EQ(arms.size(), 2u);
    EXPECT_EQ(std::make_pair(arms[0].entryIndex, arms[0].exitIndex), std::make_pair(std::size_t { 11 }, std::size_t { 13 }));
    EXPECT_EQ(std::make_pair(arms[1].entryIndex, arms[1].exitIndex), std::make_pair(std::size_t { 18 }, std::size_t { 20 }));

    // Two limits left open: both are named.
    const auto both = checkAirspaces(*across, openair::parse(square("1000ft AGL", "NOTAM")).airspaces).crossings;
    ASSERT_EQ(both.size(), 1u);
    EXPECT_FALSE(both[0].certain);
    EXPECT_NE(both[0].reason.find("floor \"1000ft AGL\" is above ground"), std::string::npos) << both[0].reason;
    EXPECT_NE(both[0].reason.find("ceiling \"NOTAM\" is not a height"), std::string::npos) << both[0].reason;

    // A limit line that does not read leaves the reader's default in its place: the
    // crossing is possible only, and the line is named.
    const auto unread = openair::parse(square("1000ft AMSL", "3000 fx"));
    ASSERT_EQ(unread.errors.size(), 1u);
    const auto doubtful = checkAirspaces(*across, unread).crossings;
    ASSERT_EQ(doubtful.size(), 1u);
    EXPECT_FALSE(doubtful[0].certain);
    EXPECT_NE(doubtful[0].reason.find("line 4 of its block did not read"), std::string::npos) << doubtful[0].reason;
}

// Where a crossing is deepest: the circle's centre horizontally, and the fix with the
// largest margin to the nearer limit vertically.
TEST(AirspaceCheck, DeepestPoints)
{
    const auto circleSpace = openair::parse(circle).airspaces;
    const auto level = flights::parseIgc(eastboundFlight(45.05, { 600, 600 }));
    ASSERT_TRUE(level);
    const auto crossing = checkAirspaces(*level, circleSpace).crossings.at(0);
    EXPECT_EQ(crossing.deepestHorizontalIndex, 15u); // 5.05° E
    EXPECT_NEAR(crossing.deepestHorizontalMetres, 3704, 40);
    // SFC to 4500 ft: only the ceiling has a margin, 1371.6 - 600 m.
    ASSERT_TRUE(crossing.deepestVerticalIndex);
    EXPECT_NEAR(crossing.deepestVerticalMetres, 771.6, 0.1);

    // A climb through a layer from 300 m to 1000 ft-3000 ft: deepest halfway between.
    std::string text = "AXCT0001\r\nHFDTE070424\r\n";
    for (int i = 0; i <= 40; ++i) {
        const long lonMinutes = std::lround((4.90 + 0.01 * i) * 60000);
        char line[128];
        std::snprintf(line, sizeof line, "B10%02d%02d4503000N%03ld%05ldEA%05d%05d\r\n", i / 6, i % 6 * 10, lonMinutes / 60000,
            lonMinutes % 60000, 300 + 20 * i, 300 + 20 * i);
        text += line;
    }
    const auto climb = flights::parseIgc(text);
    ASSERT_TRUE(climb);
    const auto layer = checkAirspaces(*climb, openair::parse(square("1000ft AMSL", "3000ft AMSL")).airspaces);
    ASSERT_EQ(layer.crossings.size(), 1u);
    // Inside the outline from index 11 (520 m) to 20 (700 m); the margin to 304.8 m and
    // 914.4 m is largest at 600-620 m.
    EXPECT_EQ(layer.crossings[0].deepestVerticalIndex, std::optional<std::size_t>(15));
    EXPECT_NEAR(layer.crossings[0].deepestVerticalMetres, 295.2, 0.1);
}

// The largest French file with a flight from the French Alps: a sane result.
TEST(AirspaceCheck, RealFlightAgainstTheFranceFile)
{
    std::ifstream in(CORVEX_TESTDATA_DIR "/openair/france-07_04_2011.txt", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(bytes.empty());
    const auto parsed = openair::parse(openair::decodeFileText(bytes));
    ASSERT_GT(parsed.airspaces.size(), 100u);
    const auto flight = flights::readIgcFile(CORVEX_TESTDATA_DIR "/igc/lad_lod_extensions.igc");
    ASSERT_TRUE(flight) << flight.error();
    const auto check = checkAirspaces(*flight, parsed.airspaces);
    for (const auto& crossing : check.crossings) {
        EXPECT_LE(crossing.entryIndex, crossing.exitIndex);
        EXPECT_LT(crossing.exitIndex, flight->fixes.size());
        EXPECT_LE(crossing.entryTime, crossing.exitTime);
        EXPECT_LT(crossing.airspaceIndex, parsed.airspaces.size());
        EXPECT_EQ(crossing.name, parsed.airspaces[crossing.airspaceIndex].name);
        EXPECT_GE(crossing.deepestHorizontalMetres, 0);
        if (!crossing.certain) {
            EXPECT_TRUE(crossing.reason.find("above ground") != std::string::npos
                || crossing.reason.find("not a height") != std::string::npos)
                << crossing.reason;
        }
    }
}

// The file on disk as the flight view and `corvex airspace-check` read it: the same
// crossings as the text's, and each way a file cannot be used told apart, the size
// limit included (one byte over it is refused before anything is read).
TEST(AirspaceCheck, OpenAirFileOnDisk)
{
    const std::string france = CORVEX_TESTDATA_DIR "/openair/france-07_04_2011.txt";
    const auto flight = flights::readIgcFile(CORVEX_TESTDATA_DIR "/igc/lad_lod_extensions.igc");
    ASSERT_TRUE(flight) << flight.error();
    const auto checked = analysis::checkAgainstOpenAirFile(france, &*flight, 5000.0);
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->check.crossings.size(), checkAirspaces(*flight, checked->parsed).crossings.size());
    EXPECT_FALSE(checked->near.empty());
    const auto parsedOnly = analysis::checkAgainstOpenAirFile(france, nullptr);
    ASSERT_TRUE(parsedOnly);
    EXPECT_EQ(parsedOnly->parsed.airspaces.size(), checked->parsed.airspaces.size());
    EXPECT_TRUE(parsedOnly->check.crossings.empty());

    corvex::testing::TemporaryFolder scratch;
    const auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(scratch.path() + "/" + name, std::ios::binary) << text;
        return scratch.path() + "/" + name;
    };
    const std::string huge = write("huge.txt", "");
    std::filesystem::resize_file(huge, analysis::largestOpenAirFileBytes + 1); // sparse: nothing of it written
    using Kind = analysis::OpenAirFileError::Kind;
    struct Case {
        std::string path;
        Kind kind;
        std::size_t line;
    };
    const Case cases[] = {
        { scratch.path() + "/missing.txt", Kind::Unreadable, 0 },
        { scratch.path(), Kind::Unreadable, 0 },
        { write("empty.air", ""), Kind::NoAirspace, 0 },
        { write("notes.txt", "Shopping list\nbread\nmilk\n"), Kind::NoAirspace, 0 }, // no line is OpenAir
        { write("broken.txt", "AN NO CLASS\nDP 45:00:00 N 005:00:00 E\n"), Kind::NotOpenAir, 1 },
        { huge, Kind::TooLarge, 0 },
    };
    for (const Case& c : cases) {
        const auto failed = analysis::checkAgainstOpenAirFile(c.path, &*flight);
        ASSERT_FALSE(failed) << c.path;
        EXPECT_EQ(failed.error().kind, c.kind) << c.path;
        EXPECT_EQ(failed.error().line, c.line) << c.path;
    }
    EXPECT_EQ(analysis::checkAgainstOpenAirFile(huge, nullptr).error().size, analysis::largestOpenAirFileBytes + 1);
}

// The airspaces a flight's map shows: those whose outline meets the track's box grown
// by 5 km, not merely those whose own box does. The track runs along 45.05° N from
// 4.90° E to 5.30° E; 5 km is 0.045° of latitude and 0.064° of longitude there.
TEST(NearAirspaces, OutlinesMeetingTheTrackBox)
{
    const auto flight = flights::parseIgc(eastboundFlight(45.05, { 1000, 1000 }));
    ASSERT_TRUE(flight);
    const auto polygon = [](std::initializer_list<std::pair<double, double>> points) {
        std::string text = "AC R\nAN ZONE\nAL GND\nAH FL100\n";
        for (const auto& [latitude, longitude] : points) {
            char line[96];
            std::snprintf(line, sizeof line, "DP %02d:%06.3f N %03d:%06.3f E\n", int(latitude), (latitude - int(latitude)) * 60,
                int(longitude), (longitude - int(longitude)) * 60);
            text += line;
        }
        return text;
    };
    struct Case {
        const char* what;
        std::string openAir;
        bool near;
    };
    const Case cases[] = {
        { "crossed by the track", square("GND", "FL100"), true },
        { "north of the track within the margin", polygon({ { 45.08, 5.0 }, { 45.09, 5.0 }, { 45.09, 5.1 }, { 45.08, 5.1 } }), true },
        { "north of the track beyond the margin", polygon({ { 45.10, 5.0 }, { 45.12, 5.0 }, { 45.12, 5.1 }, { 45.10, 5.1 } }), false },
        { "east of the track within the margin", polygon({ { 45.0, 5.35 }, { 45.1, 5.35 }, { 45.1, 5.4 }, { 45.0, 5.4 } }), true },
        { "east of the track beyond the margin", polygon({ { 45.0, 5.37 }, { 45.1, 5.37 }, { 45.1, 5.4 }, { 45.0, 5.4 } }), false },
        { "holding the whole box", polygon({ { 44.0, 4.0 }, { 46.0, 4.0 }, { 46.0, 6.0 }, { 44.0, 6.0 } }), true },
        { "a thin strip across it, no point inside", polygon({ { 44.9, 5.10 }, { 45.2, 5.20 }, { 45.2, 5.21 }, { 44.9, 5.11 } }), true },
        { "its box overlaps, the outline does not", polygon({ { 46.0, 4.0 }, { 46.0, 6.0 }, { 45.0, 6.0 } }), false },
        { "far away", polygon({ { 47.0, 5.0 }, { 47.1, 5.0 }, { 47.1, 5.1 } }), false },
        { "an open line across the track", polygon({ { 44.9, 5.1 }, { 45.2, 5.1 } }), false },
        { "a circle around the track's middle", circle, true },
    };
    for (const Case& c : cases) {
        const openair::ParseResult parsed = openair::parse(c.openAir);
        ASSERT_EQ(parsed.airspaces.size(), 1u) << c.what;
        const analysis::AirspaceIndex index(parsed);
        EXPECT_EQ(!analysis::airspacesNearTrack(*flight, index, 5000).empty(), c.near) << c.what;
    }

    // No valid fix, no box and nothing near.
    auto invalid = *flight;
    for (auto& fix : invalid.fixes)
        fix.valid = false;
    const openair::ParseResult parsed = openair::parse(square("GND", "FL100"));
    EXPECT_FALSE(analysis::trackBox(invalid));
    EXPECT_TRUE(analysis::airspacesNearTrack(invalid, analysis::AirspaceIndex(parsed), 5000).empty());
}
