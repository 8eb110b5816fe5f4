#include "airspaces/Airspaces.h"
#include "airspaces/AirspacesMap.h"
#include "airspaces/OpenAirConversion.h"
#include "airspaces/OpenAirParser.h"
#include "map/MapGeometry.h"

#include "support/CapturingLogSink.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

using namespace corvex;
using namespace corvex::openair;
using Reference = Altitude::Reference;

using corvex::testing::readTestFile;

namespace {


void expectAltitude(std::string_view text, Reference reference, double feet)
{
    auto altitude = parseAltitude(text);
    ASSERT_TRUE(altitude) << text;
    EXPECT_EQ(altitude->reference, reference) << text;
    EXPECT_NEAR(altitude->feet, feet, 0.01) << text;
}


} // namespace

TEST(OpenAir, AltitudeForms)
{
    expectAltitude("1000 ft", Reference::MeanSeaLevel, 1000);
    expectAltitude("2500ft MSL", Reference::MeanSeaLevel, 2500);
    expectAltitude("3500F AMSL", Reference::MeanSeaLevel, 3500);
    expectAltitude("2900AMSL FT", Reference::MeanSeaLevel, 2900);
    expectAltitude("100m", Reference::MeanSeaLevel, 100 / 0.3048);
    expectAltitude("250M AGL", Reference::Ground, 250 / 0.3048);
    expectAltitude("100m GND", Reference::Ground, 100 / 0.3048);
    expectAltitude("984 ft AGL", Reference::Ground, 984);
    expectAltitude("100 Agl", Reference::Ground, 100);
    expectAltitude("50 GND", Reference::Ground, 50);
    expectAltitude("1000F ASFC", Reference::Ground, 1000);
    expectAltitude("FL 65", Reference::StandardPressure, 6500);
    expectAltitude("FL245", Reference::StandardPressure, 24500);
    expectAltitude("5000 STD", Reference::StandardPressure, 5000);
    expectAltitude("0", Reference::MeanSeaLevel, 0);
    expectAltitude("GND", Reference::Ground, 0);
    expectAltitude("SFC", Reference::Ground, 0);
    for (const char* unlimited : { "UNL", "UNLIM", "UNLIMITED", "UNL FT", "unlimited" })
        expectAltitude(unlimited, Reference::Unlimited, 0);
    expectAltitude("NOTAM", Reference::Unspecified, 0);
    EXPECT_EQ(parseAltitude("BCTA FT")->text, "BCTA FT");
    for (const char* bad : { "", "FL", "FL 65 ft", "12x00 ft", "1000 ft ft", "1000 AGL MSL", "ft 1000", "10,000 ft", "1000 km" })
        EXPECT_FALSE(parseAltitude(bad)) << bad;
}

TEST(OpenAir, CoordinateForms)
{
    auto point = parseCoordinate("47:25:52 N 007:46:41 E");
    ASSERT_TRUE(point);
    EXPECT_NEAR(point->latitude, 47 + 25 / 60.0 + 52 / 3600.0, 1e-12);
    EXPECT_NEAR(point->longitude, 7 + 46 / 60.0 + 41 / 3600.0, 1e-12);
    point = parseCoordinate("29:58.917 N 081:59.533 W");
    ASSERT_TRUE(point);
    EXPECT_NEAR(point->longitude, -(81 + 59.533 / 60), 1e-12);
    point = parseCoordinate("35:30:01 S  149:10:00 E");
    ASSERT_TRUE(point);
    EXPECT_LT(point->latitude, 0);
    EXPECT_TRUE(parseCoordinate("50:05:55N 004:50:58E"));
    EXPECT_TRUE(parseCoordinate("47:22:60 N 007:39:30 E")); // seconds of 60, as written by others
    EXPECT_TRUE(parseCoordinate("01:05.5 N 000:05.5 e"));
    for (const char* bad : { "47:25:52 N", "47:25:52 E 007:46:41 N", "47:61:00 N 007:00:00 E", "91:00:00 N 007:00:00 E",
             "47:25.5:10 N 007:00:00 E", "47:25:52 N 007:46:41 E x", "47:25:52:01 N 007:46:41 E", "N 007:46:41 E" })
        EXPECT_FALSE(parseCoordinate(bad)) << bad;
}

TEST(OpenAir, ArcsAndCirclesLookRound)
{
    const std::string text = "AC R\nAN Circle\nV X=46:00:00 N 008:00:00 E\nDC 5\n"
                             "AC Q\nAN Arc\nV X=46:00:00 N 008:00:00 E\nV D=-\nDA 10, 90, 0\n"
                             "AC D\nAN Db\nV X=46:00:00 N 008:00:00 E\nDB 46:10:00 N 008:00:00 E, 45:50:00 N 008:00:00 E\n";
    auto result = parse(text);
    ASSERT_TRUE(result.errors.empty());
    ASSERT_EQ(result.airspaces.size(), 3u);
    const GeoPoint centre { 46, 8 };

    const auto& circle = result.airspaces[0].outline;
    EXPECT_EQ(circle.size(), 72u); // every 5 degrees for a small circle
    for (const auto& p : circle)
        EXPECT_NEAR(distanceMetres(centre, p), 5 * metresPerNauticalMile, 0.01);

    // Counter-clockwise from 90 to 0: a quarter circle through the north-east.
    const auto& arc = result.airspaces[1].outline;
    EXPECT_NEAR(initialBearing(centre, arc.front()), 90, 1e-6);
    EXPECT_NEAR(initialBearing(centre, arc.back()), 0, 1e-6);
    for (const auto& p : arc) {
        EXPECT_NEAR(distanceMetres(centre, p), 10 * metresPerNauticalMile, 0.01);
        EXPECT_LE(initialBearing(centre, p), 90.0 + 1e-6);
    }
    EXPECT_EQ(arc.size(), 31u); // 3.1 degree steps keep the chords of a 10 NM arc at a kilometre

    // Clockwise from north to south: the eastern half, ending exactly on the given points.
    const auto& half = result.airspaces[2].outline;
    EXPECT_EQ(half.front().latitude, 46 + 10 / 60.0);
    EXPECT_EQ(half.back().latitude, 46 - 10 / 60.0);
    for (std::size_t i = 1; i + 1 < half.size(); ++i)
        EXPECT_GT(half[i].longitude, 8.0);

    // Large circles get finer steps so that no chord is much longer than a kilometre.
    auto large = parse("AC C\nV X=46:00:00 N 008:00:00 E\nDC 60\n").airspaces.at(0).outline;
    for (std::size_t i = 0; i < large.size(); ++i)
        EXPECT_LT(distanceMetres(large[i], large[(i + 1) % large.size()]), 2000);
}

TEST(OpenAir, UserErrorsAreReportedWithTheirLines)
{
    const std::string text = "* header\r\n"
                             "DP 47:00:00 N 008:00:00 E\r\n" // 2: before any AC
                             "AC C\n"
                             "AN Broken\r"
                             "AL 1000 fx\r\n" // 5
                             "DP 47:00:00 N 008:00:00\n" // 6
                             "DC 5\n" // 7: no centre
                             "V X=47:00:00 N 008:00:00 E\n"
                             "DA 5, 10\n" // 9
                             "DB 47:10:00 N 008:00:00 E\n" // 10
                             "V D=x\n" // 11
                             "AC D\n" // 12: no outline
                             "AN Empty\n";
    auto result = parse(text);
    std::vector<std::size_t> lines;
    for (const auto& error : result.errors)
        lines.push_back(error.line);
    EXPECT_EQ(lines, (std::vector<std::size_t> { 2, 5, 6, 7, 9, 10, 11, 12 }));
    EXPECT_EQ(result.errors[1].message, "AL altitude '1000 fx' is not understood");
    EXPECT_EQ(result.errors[3].message, "DC without a centre: a V X= line must come first in this airspace");
    EXPECT_EQ(result.errors[7].message, "airspace 'Empty' has no DP, DA, DB or DC line");
    EXPECT_TRUE(std::holds_alternative<std::vector<Error>>(convertToInternalFormat(text, {})));
}

// Values no airspace has: each refused on its own line, with nothing drawn from it.
TEST(OpenAir, AbsurdValuesAreRefusedByLine)
{
    struct Case {
        const char* line;
        const char* message; // a part of the error's text
    };
    const Case cases[] = {
        { "DC 1e308", "DC radius of 1e+308 NM is larger than any airspace (at most 300 NM)" },
        { "DC 1000", "DC radius of 1000 NM is larger than any airspace" },
        { "DC nan", "is not a positive number" },
        { "DC inf", "is not a positive number" },
        { "DA 400,0,90", "DA radius of 400 NM is larger than any airspace" },
        { "DA 5,1e308,90", "DA needs a radius" },
        { "DA 5,0,-400", "DA needs a radius" },
        { "DB 57:00:00 N 008:00:00 E, 57:00:00 N 009:00:00 E", "DB radius of 600.405 NM is larger than any airspace" },
        { "DP 91:00:00 N 008:00:00 E", "DP coordinate" },
        { "DP 47:00:00 N 181:00:00 E", "DP coordinate" },
        { "DP 47:61:00 N 008:00:00 E", "DP coordinate" },
        { "V X=95:00:00 N 008:00:00 E", "V X= centre" },
        { "AH 9999999 ft", "AH altitude '9999999 ft' is higher than any airspace reaches (at most 150000 ft" },
        { "AL FL9999", "AL altitude 'FL9999' is higher than any airspace reaches" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string text = std::string("AC C\nAN Sound\nV X=47:00:00 N 008:00:00 E\n") + c.line
            + "\nDP 47:00:00 N 008:00:00 E\nDP 47:10:00 N 008:00:00 E\nDP 47:10:00 N 008:10:00 E\n";
        const auto result = parse(text);
        ASSERT_EQ(result.errors.size(), 1u);
        EXPECT_EQ(result.errors[0].line, 4u);
        EXPECT_NE(result.errors[0].message.find(c.message), std::string::npos) << result.errors[0].message;
        ASSERT_EQ(result.airspaces.size(), 1u);
        EXPECT_EQ(result.airspaces[0].outline.size(), 3u);
        EXPECT_TRUE(std::holds_alternative<std::vector<Error>>(convertToInternalFormat(text, {})));
    }
}

// A file that makes a larger set than an instrument holds is refused as it is read,
// before its outlines fill the memory; a set built otherwise is refused before it is
// written, with its size and the limit.
TEST(OpenAir, SetsLargerThanAnInstrumentHoldsAreRefused)
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "AC C\nV X=47:00:00 N 008:00:00 E\nDC 90\n";
    const auto parsed = parse(text);
    ASSERT_EQ(parsed.errors.size(), 1u);
    EXPECT_EQ(parsed.errors[0].message, "the airspaces up to this line take more than 16777216 bytes, the most an instrument holds");
    EXPECT_LT(parsed.errors[0].line, 20000u); // some 5,700 circles of 2,928 bytes
    EXPECT_GT(parsed.errors[0].line, 15000u);

    std::string mistakes;
    for (int i = 0; i < 100000; ++i)
        mistakes += "AC C\nV X=47:00:00 N 008:00:00 E\nDC 1000\n";
    const auto refused = parse(mistakes);
    ASSERT_EQ(refused.errors.size(), 1001u);
    EXPECT_EQ(refused.errors.back().message, "more than 1000 mistakes: the file is read no further");

    std::vector<Airspace> airspaces(32);
    for (std::size_t i = 0; i < airspaces.size(); ++i) {
        airspaces[i].outline.assign(65535, GeoPoint { 47, 8 });
        airspaces[i].line = i + 1;
    }
    const auto written = writeInternalFormat(airspaces, {});
    ASSERT_TRUE(std::holds_alternative<std::vector<Error>>(written));
    const auto& errors = std::get<std::vector<Error>>(written);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, "the set would take 16780796 bytes, more than the 16777216 bytes an instrument holds");
    EXPECT_EQ(errors[0].line, 32u);
    airspaces.pop_back();
    EXPECT_TRUE(std::holds_alternative<Bytes>(writeInternalFormat(airspaces, {})));
}

TEST(OpenAir, SkipsCommentsAndUnknownLinesAndKeepsTheLastAltitude)
{
    auto result = parse("\xef\xbb\xbf* comment\nAC  CTR  \nAN Name * not a comment\nAY TMA\nAI 62e1\nSP 0,1,2\nV Z=100\n"
                        "AL 5200ft MSL\nAL 1000 ft\nAH FL100\nTO x\nDP 47:00:00 N 008:00:00 E\nDP 47:10:00 N 008:00:00 E\n"
                        "DP 47:10:00 N 008:10:00 E\nDP 47:00:00 N 008:00:00 E\n\tDY 1\n");
    ASSERT_TRUE(result.errors.empty());
    ASSERT_EQ(result.airspaces.size(), 1u);
    const auto& airspace = result.airspaces[0];
    EXPECT_EQ(airspace.airspaceClass, "CTR");
    EXPECT_EQ(airspace.name, "Name * not a comment");
    EXPECT_EQ(airspace.floor.feet, 1000);
    EXPECT_EQ(airspace.ceiling.reference, Reference::StandardPressure);
    EXPECT_EQ(airspace.outline.size(), 3u); // the repeated first point closes the ring by itself
    EXPECT_EQ(airspace.line, 2u);
}

TEST(OpenAir, TextEncodings)
{
    EXPECT_EQ(decodeFileText("\xef\xbb\xbf" "AN Z\xc3\xbcrich"), "AN Z\xc3\xbcrich");
    EXPECT_EQ(decodeFileText("AN M\xfcnchen \xb4"), "AN M\xc3\xbcnchen \xc2\xb4");
}

TEST(OpenAir, WrittenSetsParseBackWithTheirHeader)
{
    const std::string text = "AC C\nAN A very long airspace name that goes on\nAL GND\nAH UNL\n"
                             "DP 47:00:00 N 008:00:00 E\nDP 47:10:00 N 008:00:00 E\nDP 47:10:00 N 008:10:00 E\n"
                             "AC Q\nAN Cable\nAL 6627 ft\nAH 6627 ft\nDP 47:14:18 N 009:24:49 E\nDP 47:14:13 N 009:24:42 E\n";
    const SetHeader header { "alps.txt", "Summer \xc3\xa9t\xc3\xa9", std::chrono::sys_seconds(std::chrono::seconds(1750000000)) };
    auto written = convertToInternalFormat(text, header);
    ASSERT_TRUE(std::holds_alternative<Bytes>(written));
    const Bytes& bytes = std::get<Bytes>(written);

    corvex::testing::CapturingLogSink log;
    auto set = Airspaces::initWithDataInInternalFormat(bytes, log);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->airspacesFilename(), "alps.txt");
    EXPECT_EQ(set->airspacesDescription(), header.description);
    EXPECT_EQ(set->airspacesUploadDate(), header.uploadDate);
    EXPECT_EQ(set->numberOfSegments(), 2);
    ASSERT_EQ(set->globalPolylines().size(), 2u);
    const auto& ring = set->globalPolylines()[0];
    EXPECT_TRUE(ring.closed);
    EXPECT_EQ(ring.points.size(), 4u);
    EXPECT_EQ(ring.floor, 0);
    EXPECT_EQ(ring.ceiling, 65535);
    const GeoPoint back = inverseMercator(ring.points[1].x, ring.points[1].y);
    EXPECT_NEAR(back.latitude, 47 + 10 / 60.0, 1e-5);
    EXPECT_NEAR(back.longitude, 8.0, 1e-5);
    const auto& cable = set->globalPolylines()[1];
    EXPECT_FALSE(cable.closed);
    EXPECT_EQ(cable.points.size(), 2u);
    EXPECT_EQ(cable.floor, 6627);
    // The segment's opaque bytes carry the class and the start of the name.
    EXPECT_EQ(bytes[2300 + 4], classCode("C"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[2300 + 8]), 20), "A very long airspace");

    // The key is a digest of the outlines: the same content gives the same cache name.
    auto again = std::get<Bytes>(convertToInternalFormat(text, { "alps.txt", "other", {} }));
    EXPECT_EQ(buildCacheFilenameFromHeader(again), set->buildCacheFilename());
    auto changed = std::get<Bytes>(convertToInternalFormat(text + "DP 47:20:00 N 009:24:42 E\n", header));
    EXPECT_NE(buildCacheFilenameFromHeader(changed), set->buildCacheFilename());

    // Nothing to convert still gives a set the program accepts.
    auto empty = std::get<Bytes>(convertToInternalFormat("* nothing\n", header));
    EXPECT_TRUE(Airspaces::initWithDataInInternalFormat(empty, log));
}

// A set's points are its digest: every point must come out in the units it always had,
// or a set converted again is a new set to the instrument. The map draws on the same
// projection, 16 times finer.
TEST(OpenAir, PointsKeepTheirMercatorUnits)
{
    struct Case {
        GeoPoint place;
        Point2d units;
    };
    const Case cases[] = {
        { { 0, 0 }, { 8388608, 8388608 } },
        { { 47 + 10 / 60.0, 8 }, { 8761435, 5889580 } },
        { { -33.9, 151.2 }, { 15435039, 10069629 } },
        { { 90, -180 }, { 0, 0 } }, // beyond the square: its corners
        { { -90, 180 }, { 16777215, 16777215 } },
        // Half a unit exactly: lon / 360 + 0.5 rounds up here, (lon + 180) / 360 down.
        { { 1e-9, -89.999989271163955 }, { 4194305, 8388608 } },
    };
    for (const Case& c : cases) {
        const Point2d units = mercatorPoint(c.place);
        EXPECT_EQ(units, c.units) << c.place.latitude << ", " << c.place.longitude;
        const MapPoint onMap = mapPointForCoordinate(c.place);
        EXPECT_EQ(std::clamp(std::lround(onMap.x / 16), 0L, 16777215L), c.units.x) << c.place.longitude;
        EXPECT_EQ(std::clamp(std::lround(onMap.y / 16), 0L, 16777215L), c.units.y) << c.place.latitude;
    }
}

TEST(OpenAir, EveryRealFileConverts)
{
    struct Expected {
        const char* file;
        std::size_t airspaces;
    };
    for (auto [file, airspaces] : { Expected { "openair.txt", 26 }, Expected { "openair_2.txt", 4 },
             Expected { "AirspaceAus-DAA.txt", 662 }, Expected { "Germany.txt", 677 }, Expected { "Switzerland.txt", 334 },
             Expected { "france-07_04_2011.txt", 1212 }, Expected { "arc-angle-single-vx.txt", 1 },
             Expected { "skipped-tokens.txt", 1 } }) {
        const std::string text = decodeFileText(readTestFile(std::string("openair/") + file));
        ASSERT_FALSE(text.empty()) << file;
        auto result = parse(text);
        for (const auto& error : result.errors)
            ADD_FAILURE() << file << " line " << error.line << ": " << error.message;
        EXPECT_EQ(result.airspaces.size(), airspaces) << file;
        auto written = convertToInternalFormat(text, { file, "", {} });
        ASSERT_TRUE(std::holds_alternative<Bytes>(written)) << file;
        corvex::testing::CapturingLogSink log;
        auto set = Airspaces::initWithDataInInternalFormat(std::get<Bytes>(written), log);
        ASSERT_TRUE(set) << file;
        EXPECT_EQ(set->globalPolylines().size(), airspaces) << file;
    }
    // The name with UTF-8 survives, the Latin-1 file is readable.
    EXPECT_EQ(parse(readTestFile("openair/skipped-tokens.txt")).airspaces.at(0).name, "LED52B Oca\xc3\xb1" "a: Daily HJ LELT TFC 123.375");
}
