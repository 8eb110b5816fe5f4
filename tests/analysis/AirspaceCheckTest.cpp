#include "analysis/AirspaceCheck.h"
#include "analysis/AirspaceFileCheck.h"
#include "analysis/NearAirspaces.h"

#include "../terrain/TerrainTileFiles.h"
#include "TemporaryFolder.h"
#include "terrain/Geoid.h"
#include "terrain/TerrainTiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
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
std::string eastboundFlight(double latitude, Altitudes altitudes, const std::string& headers = "")
{
    std::string text = "AXCT0001\r\nHFDTE070424\r\n" + headers;
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

// Fixes made in memory, a second apart, every one valid at 1,000 m.
flights::IgcFlight flightThrough(const std::vector<GeoPoint>& places)
{
    flights::IgcFlight flight;
    for (const GeoPoint& place : places) {
        flights::IgcFix fix;
        fix.time = static_cast<std::int64_t>(flight.fixes.size());
        fix.latitude = place.latitude;
        fix.longitude = place.longitude;
        fix.pressureAltitude = fix.gnssAltitude = 1000;
        flight.fixes.push_back(fix);
    }
    return flight;
}

// Forty legs north and south across a box, `count` fixes in all.
flights::IgcFlight zigzag(const analysis::AirspaceIndex::Box& box, std::size_t count)
{
    std::vector<GeoPoint> places;
    for (std::size_t i = 0; i < count; ++i) {
        const double along = static_cast<double>(i) / static_cast<double>(count - 1);
        const double leg = along * 40;
        const double up = std::fmod(leg, 2.0) < 1 ? std::fmod(leg, 1.0) : 1 - std::fmod(leg, 1.0);
        places.push_back({ box.south + up * (box.north - box.south), box.west + along * (box.east - box.west) });
    }
    return flightThrough(places);
}

// A ring of `points` points with teeth 3 % deep, around 45.05° N 5.1° E.
openair::Airspace jaggedRing(std::size_t points, double radiusDegrees)
{
    openair::Airspace ring;
    ring.name = "JAGGED";
    ring.airspaceClass = "R";
    ring.floor = { openair::Altitude::Reference::Ground, 0, "SFC" };
    ring.ceiling = { openair::Altitude::Reference::Unlimited, 0, "UNL" };
    for (std::size_t i = 0; i < points; ++i) {
        const double angle = 2 * geo::pi * static_cast<double>(i) / static_cast<double>(points);
        const double r = radiusDegrees * (i % 2 ? 0.97 : 1.0);
        ring.outline.push_back({ 45.05 + r * std::cos(angle), 5.1 + r * std::sin(angle) / std::cos(geo::radians(45.05)) });
    }
    return ring;
}

// The crossings of a flight through the edge trees and by reading every point of every
// outline: the same in every field, to the last bit.
void expectSameCrossings(const flights::IgcFlight& flight, const std::vector<openair::Airspace>& airspaces, const char* what)
{
    const analysis::AirspaceIndex tree(airspaces), scan(airspaces, std::numeric_limits<std::size_t>::max());
    const auto indexed = checkAirspaces(flight, tree).crossings, scanned = checkAirspaces(flight, scan).crossings;
    ASSERT_EQ(indexed.size(), scanned.size()) << what;
    for (std::size_t k = 0; k < indexed.size(); ++k) {
        const auto &a = indexed[k], &b = scanned[k];
        SCOPED_TRACE(std::string(what) + ", crossing " + std::to_string(k) + " of " + a.name);
        EXPECT_EQ(a.airspaceIndex, b.airspaceIndex);
        EXPECT_EQ(std::make_pair(a.entryIndex, a.exitIndex), std::make_pair(b.entryIndex, b.exitIndex));
        EXPECT_EQ(a.certain, b.certain);
        EXPECT_EQ(a.reason, b.reason);
        EXPECT_EQ(a.deepestHorizontalIndex, b.deepestHorizontalIndex);
        EXPECT_EQ(a.deepestHorizontalMetres, b.deepestHorizontalMetres);
        EXPECT_EQ(a.deepestVerticalIndex, b.deepestVerticalIndex);
        EXPECT_EQ(a.deepestVerticalMetres, b.deepestVerticalMetres);
    }
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
        // One sensor inside and the other outside: shown as possible, never hidden.
        { "above the control zone by GNSS, inside by pressure", square("1000ft AMSL", "3000ft AMSL"), 45.05, { 900, 1000 }, 1,
            false, 11, 20, "pressure altitude says inside, GNSS altitude says outside; the verdict goes by GNSS" },
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
        { "above FL95 by pressure though not by GNSS", square("FL65", "FL95"), 45.05, { 3000, 2800 }, 1, false, 11, 20,
            "GNSS altitude says inside, pressure altitude says outside; the verdict goes by pressure" },
        { "inside FL65 by pressure though under it by GNSS", square("FL65", "FL95"), 45.05, { 2200, 1800 }, 1, true, 11, 20,
            "pressure altitude says inside, GNSS altitude says outside" },
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

// The edge trees change how fast, never what: every shared OpenAir file against every
// shared flight and a zig-zag over the file, and a jagged ring whose teeth the fixes
// keep crossing, give the crossings of the plain scan.
TEST(AirspaceCheck, EdgeTreesGiveTheScansCrossings)
{
    std::vector<flights::IgcFlight> shared;
    for (const char* name : { "0asljd01.igc", "2016-11-08-xcs-aaa-02.igc", "20180427.igc", "20241007TZN.igc", "654G6NG1.IGC",
             "lad_lod_extensions.igc" }) {
        auto flight = flights::readIgcFile(std::string(CORVEX_TESTDATA_DIR "/igc/") + name);
        ASSERT_TRUE(flight) << name << ": " << flight.error();
        shared.push_back(std::move(*flight));
    }
    std::size_t crossings = 0;
    for (const char* name : { "AirspaceAus-DAA.txt", "Germany.txt", "Switzerland.txt", "france-07_04_2011.txt", "openair.txt",
             "openair_2.txt", "arc-angle-single-vx.txt" }) {
        std::ifstream in(std::string(CORVEX_TESTDATA_DIR "/openair/") + name, std::ios::binary);
        const auto parsed = openair::parse(openair::decodeFileText(std::string((std::istreambuf_iterator<char>(in)), {})));
        ASSERT_FALSE(parsed.airspaces.empty()) << name;
        analysis::AirspaceIndex::Box box { 90, 180, -90, -180 };
        for (const auto& airspace : parsed.airspaces)
            for (const GeoPoint& point : airspace.outline) {
                box = { std::min(box.south, point.latitude), std::min(box.west, point.longitude),
                    std::max(box.north, point.latitude), std::max(box.east, point.longitude) };
            }
        for (const auto& flight : shared)
            expectSameCrossings(flight, parsed.airspaces, name);
        const auto across = zigzag(box, 4000);
        expectSameCrossings(across, parsed.airspaces, name);
        crossings += checkAirspaces(across, parsed.airspaces).crossings.size();
    }
    EXPECT_GT(crossings, 500u); // the zig-zags went through airspaces

    const std::vector<openair::Airspace> jagged { jaggedRing(5000, 0.05) };
    const auto teeth = zigzag({ 44.99, 5.0, 45.11, 5.2 }, 4000);
    expectSameCrossings(teeth, jagged, "jagged ring");
    EXPECT_GT(checkAirspaces(teeth, jagged).crossings.size(), 20u);
}

// Circles around a pole or across the 180th meridian, made by the reader as a pilot's
// file would give them: a fix inside is inside, through the edge tree and the scan.
TEST(AirspaceCheck, CirclesAroundAPoleAndAcrossTheAntimeridian)
{
    struct Case {
        const char* what;
        std::string openAir;
        std::vector<std::pair<GeoPoint, bool>> fixes; // and whether inside
    };
    const auto circleAt = [](const std::string& centre, double nauticalMiles) {
        return "AC R\nAN ROUND\nAL SFC\nAH UNL\nV X=" + centre + "\nDC " + std::to_string(nauticalMiles) + "\n";
    };
    const std::vector<Case> cases {
        // 2° around a centre 1° from the pole: the pole and beyond it inside.
        { "around the north pole", circleAt("89:00:00 N 000:00:00 E", 120),
            { { { 90, 0 }, true }, { { 89.5, 179 }, true }, { { 89.9, 90 }, true }, { { 87.5, 0 }, true },
                { { 88, -90 }, false }, { { 87.5, 180 }, false }, { { 86.5, -180 }, false }, { { 45, 0 }, false } } },
        { "centred on the north pole", circleAt("90:00:00 N 000:00:00 E", 60),
            { { { 90, 0 }, true }, { { 89.5, 123 }, true }, { { 89.5, -57 }, true }, { { 88.9, 0 }, false } } },
        { "around the south pole", circleAt("89:30:00 S 045:00:00 E", 100),
            { { { -90, 0 }, true }, { { -89, -135 }, true }, { { -88.5, 45 }, true }, { { -88, -135 }, false },
                { { 89, 45 }, false } } },
        { "near the pole, not round it", circleAt("88:00:00 N 179:00:00 E", 60),
            { { { 88, 179 }, true }, { { 88, -179.5 }, true }, { { 89.5, 0 }, false }, { { 88, 0 }, false } } },
        { "across the 180th meridian", circleAt("00:00:00 N 179:50:00 E", 30),
            { { { 0, -179.8 }, true }, { { 0, 179.5 }, true }, { { 0.3, 179.9 }, true }, { { 0, -179.5 }, false },
                { { 0, 0 }, false }, { { 0.1, -170 }, false }, { { 0, 178 }, false } } },
        { "a polygon across it",
            "AC R\nAN BOX\nAL SFC\nAH UNL\nDP 10:00:00 N 170:00:00 E\nDP 10:00:00 N 170:00:00 W\n"
            "DP 20:00:00 N 170:00:00 W\nDP 20:00:00 N 170:00:00 E\n",
            { { { 15, 179 }, true }, { { 15, -175 }, true }, { { 15, 0 }, false }, { { 15, 160 }, false },
                { { 25, 180 }, false } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = openair::parse(c.openAir);
        ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front().message;
        ASSERT_EQ(parsed.airspaces.size(), 1u);
        const auto& outline = parsed.airspaces[0].outline;
        const analysis::OutlineShape tree(outline, 8);
        for (const auto& [place, inside] : c.fixes) {
            SCOPED_TRACE(std::to_string(place.latitude) + ", " + std::to_string(place.longitude));
            EXPECT_EQ(analysis::insideOutline(outline, place.latitude, place.longitude), inside);
            EXPECT_EQ(tree.contains(place.latitude, place.longitude), inside);
            EXPECT_EQ(tree.distanceToEdge(place.latitude, place.longitude),
                analysis::distanceToOutlineEdge(outline, place.latitude, place.longitude));
            // A fix at the place: one crossing exactly when it is inside, and the map
            // shows the airspace around it.
            const auto flight = flightThrough({ place });
            EXPECT_EQ(checkAirspaces(flight, parsed).crossings.size(), inside ? 1u : 0u);
            if (inside) {
                EXPECT_FALSE(analysis::airspacesNearTrack(flight, analysis::AirspaceIndex(parsed), 1000).empty());
            }
        }
    }

    // A longitude no fix has is outside, and ends.
    const auto round = openair::parse(circleAt("89:00:00 N 000:00:00 E", 120));
    const analysis::OutlineShape roundThePole(round.airspaces[0].outline);
    EXPECT_FALSE(roundThePole.contains(89.5, std::nan("")));
    EXPECT_FALSE(roundThePole.contains(89.5, 1e300));
    EXPECT_TRUE(std::isinf(roundThePole.distanceToEdge(89.5, std::nan(""))));

    // How deep: at the pole 60 NM inside a circle of 60 NM around it, and a flight
    // across the meridian inside a circle on it from end to end.
    const auto pole = openair::parse(circleAt("90:00:00 N 000:00:00 E", 60));
    EXPECT_NEAR(analysis::distanceToOutlineEdge(pole.airspaces[0].outline, 90, 0), 60 * 1852, 300);
    const auto meridian = openair::parse(circleAt("00:00:00 N 180:00:00 E", 30));
    const auto across = checkAirspaces(flightThrough({ { 0, 179.3 }, { 0, 179.8 }, { 0, -180 }, { 0, -179.8 }, { 0, -179.3 } }), meridian);
    ASSERT_EQ(across.crossings.size(), 1u);
    EXPECT_EQ(std::make_pair(across.crossings[0].entryIndex, across.crossings[0].exitIndex), std::make_pair(std::size_t { 1 }, std::size_t { 3 }));
    EXPECT_EQ(across.crossings[0].deepestHorizontalIndex, 2u);
    EXPECT_NEAR(across.crossings[0].deepestHorizontalMetres, 30 * 1852, 300);
}

// An outline of 200,000 points against 3,000 fixes: the scan read 1.2 billion edges; the
// tree reads those near each fix.
TEST(AirspaceCheck, LongOutlinesCostWhatTheFlightPassesNear)
{
    const std::vector<openair::Airspace> ring { jaggedRing(200000, 0.05) };
    const auto flight = zigzag({ 44.99, 5.0, 45.11, 5.2 }, 3000);
    const std::clock_t start = std::clock();
    const auto check = checkAirspaces(flight, ring);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_GT(check.crossings.size(), 20u);
    EXPECT_LT(seconds, 1.0);
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

// Both sensors, the pilot's tolerances and the GNSS altitude's datum on the eastbound
// flight through the square (inside from fix 11 to fix 20, 393 m from the east and west
// edges there): what each sensor says, the margins, and where the verdict changes.
TEST(AirspaceCheck, SensorsTolerancesAndDatum)
{
    const auto geoid = terrain::Geoid::load();
    ASSERT_TRUE(geoid) << geoid.error();
    const double undulation = geoid->undulation({ 45.05, 5.05 }); // about 49 m here
    ASSERT_GT(undulation, 40);
    struct Case {
        const char* what;
        std::string openAir;
        Altitudes altitudes;
        std::string headers;
        analysis::AirspaceTolerance tolerance;
        std::size_t entry, exit; // 0, 0: no crossing
        bool certain { false }, byPressure { false }, byGnss { false };
        std::optional<double> aboveFloor {}, belowCeiling {};
        analysis::AltitudeSource source { analysis::AltitudeSource::Gnss };
    };
    using analysis::AltitudeSource;
    const std::string zone = square("1000ft AMSL", "3000ft AMSL"); // 304.8 m to 914.4 m
    const std::vector<Case> cases {
        { "both sensors inside, margins in metres", zone, { 650, 600 }, "", {}, 11, 20, true, true, true, 295.2, 314.4,
            AltitudeSource::Gnss },
        { "vertical tolerance just short of the margin", zone, { 0, 600 }, "", { 0, 290 }, 11, 20, true, false, true, 295.2,
            314.4, AltitudeSource::Gnss },
        { "vertical tolerance just over it", zone, { 0, 600 }, "", { 0, 300 }, 0, 0, false, false, false, {}, {}, AltitudeSource::Gnss },
        { "horizontal tolerance under the depth at the edges", zone, { 0, 600 }, "", { 380, 0 }, 11, 20, true, false, true,
            295.2, 314.4, AltitudeSource::Gnss },
        { "horizontal tolerance over it: the first and last fix left out", zone, { 0, 600 }, "", { 400, 0 }, 12, 19, true,
            false, true, 295.2, 314.4, AltitudeSource::Gnss },
        { "flight levels: pressure says inside, GNSS under", square("FL65", "FL95"), { 2200, 1800 }, "", {}, 11, 20, true,
            true, false, 2200 - 1981.2, 2895.6 - 2200, AltitudeSource::Pressure },
        { "flight levels: GNSS says inside, pressure above", square("FL65", "FL95"), { 3000, 2800 }, "", {}, 11, 20, false,
            false, true, std::nullopt, std::nullopt, AltitudeSource::Pressure },
        { "GNSS above the geoid: above the ceiling", zone, { 0, 940 }, "HFALGALTGPS:GEO\r\n", {}, 0, 0, false, false, false, {}, {}, AltitudeSource::Gnss },
        { "GNSS above the ellipsoid: made to sea level, inside", zone, { 0, 940 }, "HFALGALTGPS:ELL\r\n", {}, 11, 20, true,
            false, true, 940 - undulation - 304.8, 914.4 - 940 + undulation, AltitudeSource::Gnss },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto flight = flights::parseIgc(eastboundFlight(45.05, c.altitudes, c.headers));
        ASSERT_TRUE(flight) << flight.error();
        analysis::AirspaceCheckOptions options;
        options.tolerance = c.tolerance;
        options.geoid = &*geoid;
        const auto check = checkAirspaces(*flight, openair::parse(c.openAir), options);
        ASSERT_EQ(check.crossings.size(), c.entry == 0 ? 0u : 1u);
        if (c.entry == 0)
            continue;
        const auto& crossing = check.crossings.front();
        EXPECT_EQ(std::make_pair(crossing.entryIndex, crossing.exitIndex), std::make_pair(c.entry, c.exit));
        EXPECT_EQ(crossing.certain, c.certain) << crossing.reason;
        EXPECT_EQ(crossing.pressure.inside, c.byPressure);
        EXPECT_EQ(crossing.gnss.inside, c.byGnss);
        EXPECT_EQ(crossing.altitudeSource, c.source);
        ASSERT_EQ(crossing.aboveFloorMetres.has_value(), c.aboveFloor.has_value());
        if (c.aboveFloor) {
            EXPECT_NEAR(*crossing.aboveFloorMetres, *c.aboveFloor, 0.5);
            EXPECT_NEAR(*crossing.belowCeilingMetres, *c.belowCeiling, 0.5);
        }
        EXPECT_EQ(check.airspacesEntered(), 1u);
    }
    // The datum is said, assumed when the file does not say it.
    const auto plain = checkAirspaces(*flights::parseIgc(eastboundFlight(45.05, { 600, 600 })), openair::parse(zone));
    EXPECT_TRUE(plain.gnssDatumAssumed);
    EXPECT_NE(plain.notes.front().find("no HFALG header"), std::string::npos);
    ASSERT_EQ(plain.crossings.size(), 1u);
    EXPECT_NE(plain.crossings[0].reason.find("GNSS altitude (taken as above the geoid: no HFALG header)"), std::string::npos)
        << plain.crossings[0].reason;
    const auto ellipsoid = checkAirspaces(*flights::parseIgc(eastboundFlight(45.05, { 0, 940 }, "HFALGALTGPS:ELL\r\n")),
        openair::parse(zone));
    EXPECT_EQ(ellipsoid.gnssDatum, "ellipsoid");
    EXPECT_TRUE(ellipsoid.crossings.empty()) << "without the geoid the altitude is used as it is, and said";
    EXPECT_NE(ellipsoid.notes.back().find("no geoid grid"), std::string::npos);
}

// A floor 1000 ft above a cone-shaped mountain under the eastbound flight at 2,200 m:
// the flight is below the floor over the summit (2,000 m, at fix 15) and above it on
// either side, certainly where a tile covers the fixes, in either tile format, and
// only possibly where none does.
TEST(AirspaceCheck, GroundLimitsOverTerrain)
{
    const auto cone = [](double latitude, double longitude) -> std::optional<double> {
        const double distance = std::hypot(latitude - 45.05, (longitude - 5.05) * std::cos(geo::radians(45.05)));
        return std::max(0.0, 2000 * (1 - distance / 0.05));
    };
    corvex::testing::TemporaryFolder hgt, tiff, elsewhere;
    test::writeHgtTile(hgt.path(), 45, 5, 1201, cone);
    test::writeGeoTiffTile(tiff.path() + "/cone.tif", 45, 5, 360, cone);
    test::writeHgtTile(elsewhere.path(), 45, 4, 1201, cone); // west of the zone
    const auto parsed = openair::parse(square("1000ft AGL", "FL195"));
    const auto flight = flights::parseIgc(eastboundFlight(45.05, { 2200, 2200 }));
    ASSERT_TRUE(flight);
    for (const std::string& folder : { hgt.path(), tiff.path() }) {
        SCOPED_TRACE(folder);
        const terrain::TerrainTiles tiles(folder);
        analysis::AirspaceCheckOptions options;
        options.terrain = &tiles;
        const auto check = checkAirspaces(*flight, parsed, options);
        ASSERT_EQ(check.crossings.size(), 2u);
        EXPECT_EQ(std::make_pair(check.crossings[0].entryIndex, check.crossings[0].exitIndex), std::make_pair(11ul, 14ul));
        EXPECT_EQ(std::make_pair(check.crossings[1].entryIndex, check.crossings[1].exitIndex), std::make_pair(16ul, 20ul));
        EXPECT_EQ(check.airspacesEntered(), 1u);
        for (const auto& crossing : check.crossings) {
            EXPECT_TRUE(crossing.certain) << crossing.reason;
            ASSERT_TRUE(crossing.aboveFloorMetres);
        }
        // Deepest at fix 11 or 20, 0.04° of longitude from the summit: 869 m of ground.
        EXPECT_NEAR(*check.crossings[0].aboveFloorMetres, 2200 - 2000 * (1 - 0.04 * std::cos(geo::radians(45.05)) / 0.05) - 304.8, 5);
    }
    const terrain::TerrainTiles west(elsewhere.path());
    analysis::AirspaceCheckOptions options;
    options.terrain = &west;
    const auto check = checkAirspaces(*flight, parsed, options);
    ASSERT_EQ(check.crossings.size(), 1u);
    EXPECT_FALSE(check.crossings[0].certain);
    EXPECT_NE(check.crossings[0].reason.find("possible, no terrain here"), std::string::npos) << check.crossings[0].reason;
}

// Only the flight counts: a recorder switched on in a zone around the car park, ten
// minutes standing and a walk out of it, then a flight into another zone, a top-landing
// in it and a relaunch out of it. The car park's zone is not entered; the landing ends
// the first stay, the ten minutes on the ground are in neither, and each flight has its
// own.
TEST(AirspaceCheck, FixesBeforeTakeoffAreNotChecked)
{
    flights::IgcFlight flight;
    const auto add = [&](double latitude, double longitude, int altitude) {
        flights::IgcFix fix;
        fix.time = 1712484000 + 10 * static_cast<std::int64_t>(flight.fixes.size());
        fix.latitude = latitude;
        fix.longitude = longitude;
        fix.pressureAltitude = fix.gnssAltitude = altitude;
        flight.fixes.push_back(fix);
    };
    for (int i = 0; i < 60; ++i)
        add(45.05, 5.0, 500); // standing
    for (int i = 0; i < 90; ++i)
        add(45.05, 5.0 + 0.00016 * i, 500); // walking at 1.3 m/s
    for (int i = 0; i < 120; ++i)
        add(45.05, 5.0144 + 0.002 * i, 500 + 5 * i); // flying at 16 m/s
    for (int i = 0; i < 60; ++i)
        add(45.05, 5.2524, 1095); // top-landed inside LATER for ten minutes
    for (int i = 0; i < 60; ++i)
        add(45.05, 5.2524 + 0.002 * i, 1095 + 5 * i); // relaunched, out of it at 5.3° E
    const auto parsed = openair::parse("AC R\nAN CAR PARK\nAL SFC\nAH UNL\nV X=45:03:00 N 005:00:00 E\nDC 0.3\n"
                                      "AC D\nAN LATER\nAL SFC\nAH UNL\nDP 45:00:00 N 005:12:00 E\nDP 45:06:00 N 005:12:00 E\n"
                                            "DP 45:06:00 N 005:18:00 E\nDP 45:00:00 N 005:18:00 E\n");
    ASSERT_EQ(parsed.airspaces.size(), 2u);
    const auto check = checkAirspaces(flight, parsed);
    EXPECT_EQ(check.flights, 2u);
    ASSERT_EQ(check.crossings.size(), 2u);
    EXPECT_EQ(check.airspacesEntered(), 1u);
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(check.crossings[k].name, "LATER");
        EXPECT_EQ(check.crossings[k].flight, k);
    }
    EXPECT_LT(check.crossings[0].exitIndex, 275u) << "the first stay ends at the landing";
    EXPECT_GT(check.crossings[1].entryIndex, 320u) << "the second starts at the relaunch";
}
