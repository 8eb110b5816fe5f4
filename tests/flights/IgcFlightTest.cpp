// The IGC reader over the shared real files and over texts written here for what those
// files lack (damage, refusals, midnight, events); the figures against what the files
// carry themselves (an LX8000's own ground speed) and against a flight along the
// equator whose lengths are known by hand.
#include "flights/FlightExport.h"
#include "flights/FlightWords.h"
#include "flights/IgcFlight.h"

#include "TemporaryFolder.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

using namespace corvex::flights;

namespace {

const std::string igcFolder = CORVEX_TESTDATA_DIR "/igc/";

// Through the C library, not through the reader's calendar.
std::int64_t utc(const char* text)
{
    std::tm fields {};
    strptime(text, "%Y-%m-%d %H:%M:%S", &fields);
    return timegm(&fields);
}

// A B record at `second` seconds after 10:00:00 UTC, from signed minutes × 1000.
std::string bRecord(int second, int latitude, int longitude, int pressure, int gnss, char validity = 'A')
{
    second += 36000;
    char line[64];
    std::snprintf(line, sizeof line, "B%02d%02d%02d%02d%05d%c%03d%05d%c%c%05d%05d\n", second / 3600, second / 60 % 60,
        second % 60, std::abs(latitude) / 60000, std::abs(latitude) % 60000, latitude < 0 ? 'S' : 'N',
        std::abs(longitude) / 60000, std::abs(longitude) % 60000, longitude < 0 ? 'W' : 'E', validity, pressure, gnss);
    return line;
}

} // namespace

TEST(IgcFlight, ReadsEverySharedFlight)
{
    struct Expected {
        const char* file;
        std::size_t fixes;
        const char *first, *last, *logger, *pilot, *glider;
        std::vector<std::string> extensions;
        std::int32_t latitude, longitude; // the first fix, minutes × 10000
        int pressure, gnss;
    };
    const Expected table[] = {
        { "654G6NG1.IGC", 9762, "2016-05-04 08:10:42", "2016-05-04 19:04:54", "FLA6NG", "", "ASG-29E (18m)", { "FXA", "SIU" },
            (50 * 60 + 49) * 10000 + 3150, (6 * 60 + 10) * 10000 + 8990, 48, 230 },
        // Over midnight UTC in New Zealand: south and east.
        { "2016-11-08-xcs-aaa-02.igc", 6752, "2016-11-08 22:43:17", "2016-11-09 04:43:01", "XCSAAA", "ARNE MARTIN GUETTLER",
            "DUO DISCUS", { "FXA", "SIU" }, -((44 * 60 + 29) * 10000 + 2520), (169 * 60 + 59) * 10000 + 3230, 468, 423 },
        // HFDTEDATE: and a blank after the A record.
        { "20180427.igc", 1831, "2018-04-27 13:35:15", "2018-04-27 16:03:25", "XGD000", "Stefan Vyparina", "", {},
            (45 * 60 + 57) * 10000 + 8160, (13 * 60 + 43) * 10000 + 4110, 596, 583 },
        // LAD and LOD add the ten-thousandths; no pressure sensor.
        { "lad_lod_extensions.igc", 424, "2023-02-20 16:46:59", "2023-02-20 16:54:18", "XCTb2adde51d8560c30", "Sylvain Pasutto",
            "GIN GLIDERS Explorer", { "LAD", "LOD" }, (44 * 60 + 58) * 10000 + 828, (5 * 60 + 49) * 10000 + 9883, 0, 1719 },
        { "20241007TZN.igc", 199, "2024-10-07 06:26:47", "2024-10-07 06:30:05", "XSX004 SKYTRAXX", "Stefan Walter", "", {},
            (32 * 60 + 5) * 10000 + 6990, (76 * 60 + 42) * 10000 + 3510, 2228, 2387 },
        { "0asljd01.igc", 4020, "2010-10-28 01:14:58", "2010-10-28 05:39:55", "LXNJD0FLIGHT:1", "Hans-Chr Christensen", "ASG 29E",
            { "FXA", "ENL", "TAS", "GSP", "TRT", "VAT", "OAT" }, -(36 * 60 * 10000 + 270), (146 * 60 + 20) * 10000 + 7120, 99, 137 },
    };
    for (const Expected& want : table) {
        SCOPED_TRACE(want.file);
        auto flight = readIgcFile(igcFolder + want.file);
        ASSERT_TRUE(flight) << flight.error();
        EXPECT_EQ(flight->fixes.size(), want.fixes);
        EXPECT_TRUE(flight->problems.empty()) << flight->problems.front().line << ": " << flight->problems.front().message;
        EXPECT_EQ(flight->fixes.front().time, utc(want.first));
        EXPECT_EQ(flight->fixes.back().time, utc(want.last));
        ASSERT_TRUE(flight->date());
        EXPECT_EQ(flight->loggerId, want.logger);
        EXPECT_EQ(flight->pilot(), want.pilot);
        EXPECT_EQ(flight->glider(), want.glider);
        std::vector<std::string> codes;
        for (const IgcExtension& extension : flight->fixExtensions)
            codes.push_back(extension.code);
        EXPECT_EQ(codes, want.extensions);
        const IgcFix& fix = flight->fixes.front();
        EXPECT_EQ(fix.rawLatitude, want.latitude);
        EXPECT_EQ(fix.rawLongitude, want.longitude);
        EXPECT_DOUBLE_EQ(fix.latitude, want.latitude / 600000.0);
        EXPECT_DOUBLE_EQ(fix.longitude, want.longitude / 600000.0);
        EXPECT_EQ(fix.pressureAltitude, want.pressure);
        EXPECT_EQ(fix.gnssAltitude, want.gnss);
        EXPECT_TRUE(std::is_sorted(flight->fixes.begin(), flight->fixes.end(),
            [](const IgcFix& a, const IgcFix& b) { return a.time < b.time; }));
    }
    auto lx = readIgcFile(igcFolder + "0asljd01.igc");
    ASSERT_TRUE(lx);
    EXPECT_EQ(lx->fixExtensionValue(0, "VAT"), -2);
    EXPECT_EQ(lx->fixExtensionValue(0, "OAT"), 240);
    EXPECT_EQ(lx->fixExtensionValue(2, "GSP"), 283); // B011500: 2.83 km/h, rolling
    EXPECT_EQ(lx->kExtensions.size(), 2u);
    EXPECT_EQ(lx->securityLines.size(), 5u);
    EXPECT_EQ(lx->headerValue("FTY"), "LXNAV,LX8000F");
}

// Texts written here for what the real files lack.
TEST(IgcFlight, DamageMidnightAndTheOtherRecords)
{
    struct Case {
        const char* name;
        std::string text;
        std::size_t fixes;
        std::vector<std::size_t> problemLines;
        std::function<void(const IgcFlight&)> check;
    };
    const std::string damaged = "AXCV001\nHFDTE010203\n"
                                "B1200004612250N00712000WA-001200100\n"
                                "B12000X4612250N00712000WA0010000100\n" // the time
                                "B1200104612250S00712000W\n" // too short
                                "B1200204612250S00712000WV0000000123\n"
                                "Xnot a record\n"
                                "B1200304612250N00712000WQ0000000123\n" // the validity
                                "B2500004612250N00712000WA0000000123\n" // hour 25
                                "B1200404699250N00712000WA0000000123\n"; // minute 99
    auto checkDamaged = [](const IgcFlight& flight) {
        EXPECT_EQ(flight.fixes[0].time, utc("2003-02-01 12:00:00"));
        EXPECT_EQ(flight.fixes[0].pressureAltitude, -12);
        EXPECT_LT(flight.fixes[0].longitude, 0);
        EXPECT_FALSE(flight.fixes[1].valid);
        EXPECT_LT(flight.fixes[1].latitude, 0);
        EXPECT_EQ(flight.fixes[1].gnssAltitude, 123);
    };
    std::string crlf, cr;
    for (char c : damaged) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    const std::vector<std::size_t> damagedLines { 4, 5, 7, 8, 9, 10 };
    const Case cases[] = {
        { "damaged lines, LF", damaged, 2, damagedLines, checkDamaged },
        { "damaged lines, CR LF", crlf, 2, damagedLines, checkDamaged },
        { "damaged lines, CR", cr, 2, damagedLines, checkDamaged },
        { "midnight, a step back and the new year",
            "AXCV001\nHFDTE311216\nB2359500000000N00000000EA0000000000\nE235955FLYlaunch \n"
            "B2359400000000N00000000EA0000000000\nB0000100000000N00000000EA0000000000\nE000012PEV\n",
            3, {}, [](const IgcFlight& flight) {
                EXPECT_EQ(flight.fixes[1].time, utc("2016-12-31 23:59:40"));
                EXPECT_EQ(flight.fixes[2].time, utc("2017-01-01 00:00:10"));
                ASSERT_EQ(flight.events.size(), 2u);
                EXPECT_EQ(flight.events[0].time, utc("2016-12-31 23:59:55"));
                EXPECT_EQ(flight.events[0].code, "FLY");
                EXPECT_EQ(flight.events[0].text, "launch");
                EXPECT_EQ(flight.events[1].time, utc("2017-01-01 00:00:12"));
            } },
        { "extensions and the records kept as written",
            "AXCV001\nHFDTEDATE:200223,03\nI033636LAD3737LOD3840ENL\nJ010812WDI\nC200223\n"
            "B1646594458082N00549988EA000000171983123\nK164700270\nLXCVcomment\n"
            "B1647004458082S00549988WA000000171947\nI012020XYZ\nGABCDEF\n",
            2, { 10 }, [](const IgcFlight& flight) {
                EXPECT_EQ(flight.fixes[0].rawLatitude, (44 * 60 + 58) * 10000 + 828);
                EXPECT_EQ(flight.fixes[1].rawLatitude, -((44 * 60 + 58) * 10000 + 824));
                EXPECT_EQ(flight.fixes[1].rawLongitude, -((5 * 60 + 49) * 10000 + 9887));
                EXPECT_EQ(flight.fixExtensionValue(0, "ENL"), 123);
                EXPECT_EQ(flight.fixExtensionValue(1, "ENL"), std::nullopt); // the record ends before it
                ASSERT_EQ(flight.kExtensions.size(), 1u);
                EXPECT_EQ(flight.kExtensions[0].start, 7u);
                EXPECT_EQ(flight.comments, std::vector<std::string> { "XCVcomment" });
                EXPECT_EQ(flight.securityLines, std::vector<std::string> { "ABCDEF" });
                ASSERT_EQ(flight.otherRecords.size(), 2u);
                EXPECT_EQ(flight.otherRecords[1].line, 7u);
                EXPECT_EQ(flight.otherRecords[1].text, "K164700270");
            } },
        { "headers: the recorder's wins, ISO-8859-1, a bad date",
            "AXCV001  \r\nHOPLTPILOT:Observer\r\nHFPLTPILOTINCHARGE: J\xF6rg \r\nHFGTYGLIDERTYPE:LS\t8\r\nHFDTE310216\r\n"
            "HFX\r\nI013035ABC\r\n"
            "B0000100000000N00000000EA0000000000\r\n",
            1, { 5, 6, 7 }, [](const IgcFlight& flight) {
                EXPECT_EQ(flight.loggerId, "XCV001");
                EXPECT_EQ(flight.pilot(), "J\xC3\xB6rg");
                EXPECT_EQ(flight.glider(), "LS 8"); // no control character reaches a name
                EXPECT_FALSE(flight.year);
                EXPECT_EQ(flight.fixes[0].time, 10); // no date: the clock starts on 1 January 1970
                EXPECT_TRUE(flight.fixExtensions.empty());
            } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto flight = parseIgc(test.text);
        ASSERT_TRUE(flight) << flight.error();
        ASSERT_EQ(flight->fixes.size(), test.fixes);
        std::vector<std::size_t> lines;
        for (const IgcLineProblem& problem : flight->problems)
            lines.push_back(problem.line);
        EXPECT_EQ(lines, test.problemLines);
        test.check(*flight);
    }
}

TEST(IgcFlight, RefusesWhatIsNoIgcText)
{
    const std::pair<std::string, const char*> table[] = {
        { "", "empty" },
        { " \r\n\n", "empty" },
        { std::string("AXCV001\nB12\0\n", 13), "binary" },
        { "HFDTE010203\nB1200004612250N00712000WA0010000100\n", "no A record" },
        { "AXCV001\nHFDTE010203\nLnothing\n", "no fix" },
        { "AXCV001\nHFDTE010203\nB1200004612250N00712000W\n", "every B record is damaged (line 3" },
    };
    for (const auto& [text, reason] : table) {
        auto flight = parseIgc(text);
        ASSERT_FALSE(flight) << reason;
        EXPECT_NE(flight.error().find(reason), std::string::npos) << flight.error();
    }
    for (const std::string& path : { igcFolder + "missing.igc", igcFolder, std::string(CORVEX_TESTDATA_DIR "/openair/openair.txt") }) {
        auto flight = readIgcFile(path);
        ASSERT_FALSE(flight);
        EXPECT_EQ(flight.error().rfind(path + ": ", 0), 0u) << flight.error();
    }

    // A file of damage lists a readable number of its lines.
    std::string flood = "AXCV001\n" + bRecord(0, 0, 0, 0, 0);
    for (int i = 0; i < 1500; ++i)
        flood += "B broken\n";
    auto flight = parseIgc(flood);
    ASSERT_TRUE(flight);
    ASSERT_EQ(flight->problems.size(), 1001u);
    EXPECT_EQ(flight->problems.back().line, 1003u);
    EXPECT_EQ(flight->problems.back().message, "500 more bad lines from here on, not listed");
}

// Five minutes walking at 1.5 m/s, ten minutes flying east along the equator at 0.1
// minutes of longitude per 10 s (climbing 3 m/s, then sinking 2 m/s), five minutes
// standing still. On the equator a leg is the equatorial radius times its angle.
TEST(FlightFigures, FlightAlongTheEquator)
{
    for (bool pressureSensor : { true, false }) {
        SCOPED_TRACE(pressureSensor ? "pressure and GNSS" : "GNSS only");
        std::string text = "AXCV001\nHFDTE050714\nHFPLTPILOT:Jane\nHFGTYGLIDERTYPE:Ventus\n";
        int longitude = 0, altitude = 100;
        for (int i = 0; i < 120; ++i) {
            if (i > 0 && i <= 30)
                longitude += 8; // 14.8 m
            else if (i > 30 && i <= 90) {
                longitude += 100;
                altitude += i <= 60 ? 30 : -20;
            }
            text += bRecord(i * 10, 0, longitude, pressureSensor ? altitude : 0, altitude + 50);
        }
        auto flight = parseIgc(text);
        ASSERT_TRUE(flight);
        const FlightFigures figures = computeFigures(*flight);
        const double sixMinutesOfLongitude = corvex::geo::wgs84EquatorialRadiusMetres * 0.1 * corvex::geo::pi / 180;
        EXPECT_TRUE(figures.movementDetected);
        EXPECT_EQ(figures.takeoffTime, utc("2014-07-05 10:05:00"));
        EXPECT_EQ(figures.landingTime, utc("2014-07-05 10:15:00"));
        EXPECT_EQ(figures.durationSeconds, 600);
        EXPECT_EQ(figures.takeoffIndex, 30u);
        EXPECT_EQ(figures.landingIndex, 90u);
        EXPECT_DOUBLE_EQ(figures.takeoff.longitude, 0.24 / 60);
        EXPECT_NEAR(figures.trackLengthMetres, sixMinutesOfLongitude, 1e-6);
        EXPECT_NEAR(figures.takeoffToLandingMetres, sixMinutesOfLongitude, 1e-6);
        EXPECT_EQ(figures.maxPressureAltitude, pressureSensor ? std::optional(1000) : std::nullopt);
        EXPECT_EQ(figures.minPressureAltitude, pressureSensor ? std::optional(100) : std::nullopt);
        EXPECT_EQ(figures.maxGnssAltitude, 1050);
        EXPECT_EQ(figures.minGnssAltitude, 150);
        EXPECT_DOUBLE_EQ(figures.bestClimb, 3.0);
        EXPECT_DOUBLE_EQ(figures.bestSink, -2.0);
        EXPECT_EQ(figures.pilot + figures.glider + figures.instrument, "JaneVentusXCV001");
    }

    // Too few fixes to see flight: the first and last valid fix stand for it.
    auto tiny = parseIgc("AXCV001\nHFDTE050714\n" + bRecord(0, 100, 100, 0, 0, 'V') + bRecord(10, 2000, 3000, 0, 0)
        + bRecord(20, 2010, 3010, 0, 0) + bRecord(30, 2020, 3030, 0, 0, 'V'));
    ASSERT_TRUE(tiny);
    const FlightFigures figures = computeFigures(*tiny);
    EXPECT_FALSE(figures.movementDetected);
    EXPECT_EQ(figures.takeoffIndex, 1u);
    EXPECT_EQ(figures.landingIndex, 2u);
    EXPECT_EQ(figures.durationSeconds, 10);
    EXPECT_FALSE(figures.maxPressureAltitude);
    EXPECT_FALSE(figures.maxGnssAltitude);
}

// Every shared flight: the short legs against GeographicLib's full inverse problem, and
// the LX8000's own ground speed (its GSP extension, hundredths of km/h) around the
// take-off and landing found.
TEST(FlightFigures, SharedFlights)
{
    const auto& geodesic = GeographicLib::Geodesic::WGS84();
    for (const char* file : { "654G6NG1.IGC", "2016-11-08-xcs-aaa-02.igc", "20180427.igc", "lad_lod_extensions.igc",
             "20241007TZN.igc", "0asljd01.igc" }) {
        SCOPED_TRACE(file);
        auto flight = readIgcFile(igcFolder + file);
        ASSERT_TRUE(flight);
        const FlightFigures figures = computeFigures(*flight);
        double length = 0;
        const IgcFix* previous = nullptr;
        for (std::size_t i = figures.takeoffIndex; i <= figures.landingIndex; ++i) {
            const IgcFix& fix = flight->fixes[i];
            if (!fix.valid)
                continue;
            double leg = 0;
            if (previous)
                geodesic.Inverse(previous->latitude, previous->longitude, fix.latitude, fix.longitude, leg);
            length += leg;
            previous = &fix;
        }
        EXPECT_NEAR(figures.trackLengthMetres, length, length * 1e-7);
        EXPECT_EQ(figures.maxPressureAltitude.has_value(), std::string(file) != "lad_lod_extensions.igc");
    }

    auto lx = readIgcFile(igcFolder + "0asljd01.igc");
    ASSERT_TRUE(lx);
    const FlightFigures figures = computeFigures(*lx);
    auto speed = [&](std::size_t i) { return lx->fixExtensionValue(i, "GSP").value_or(-1) / 100.0; }; // km/h
    auto fastestWithin = [&](std::size_t from, std::int64_t seconds) {
        double fastest = 0;
        for (std::size_t i = 0; i < lx->fixes.size(); ++i) {
            if (std::abs(lx->fixes[i].time - lx->fixes[from].time - seconds / 2) <= std::abs(seconds / 2))
                fastest = std::max(fastest, speed(i));
        }
        return fastest;
    };
    EXPECT_LT(speed(figures.takeoffIndex), 10); // still on the ground, towed within the minute
    EXPECT_GT(fastestWithin(figures.takeoffIndex, 60), 90);
    EXPECT_LT(speed(figures.landingIndex), 20); // rolling out, on final approach a minute before
    EXPECT_GT(fastestWithin(figures.landingIndex, -60), 70);
    EXPECT_EQ(figures.minPressureAltitude, 99);
    EXPECT_EQ(figures.maxPressureAltitude, 1610);
}

namespace {

// What a flight's figures are, whatever else its file holds: its indexes moved by
// `offset` fixes and its times by `shift` seconds.
auto figuresRow(const FlightFigures& f, std::size_t offset = 0, std::int64_t shift = 0)
{
    return std::make_tuple(f.takeoffIndex + offset, f.landingIndex + offset, f.takeoffTime + shift, f.landingTime + shift,
        f.trackLengthMetres, f.maxPressureAltitude, f.minPressureAltitude, f.maxGnssAltitude, f.minGnssAltitude, f.bestClimb, f.bestSink);
}

} // namespace

// Two real flights in one file, the second after a wait on the ground where the first
// landed: two flights, each with the figures it has alone.
TEST(FlightFigures, LandingAndRelaunchAreTwoFlights)
{
    const std::tuple<const char*, const char*, int> cases[] = { { "20180427.igc", "0asljd01.igc", 600 },
        { "0asljd01.igc", "20180427.igc", 301 }, { "654G6NG1.IGC", "2016-11-08-xcs-aaa-02.igc", 900 } };
    for (const auto& [firstFile, secondFile, groundSeconds] : cases) {
        SCOPED_TRACE(std::string(firstFile) + " then " + secondFile);
        const auto first = readIgcFile(igcFolder + firstFile);
        const auto second = readIgcFile(igcFolder + secondFile);
        ASSERT_TRUE(first && second);
        IgcFlight both = *first;
        both.fixes.insert(both.fixes.end(), static_cast<std::size_t>(groundSeconds), first->fixes.back());
        for (std::size_t i = first->fixes.size(); i < both.fixes.size(); ++i)
            both.fixes[i].time = both.fixes[i - 1].time + 1;
        const std::int64_t shift = both.fixes.back().time + 1 - second->fixes.front().time;
        const std::size_t offset = both.fixes.size();
        for (IgcFix fix : second->fixes) {
            fix.time += shift;
            both.fixes.push_back(fix);
        }
        const std::vector<FlightFigures> flights = computeFlights(both);
        ASSERT_EQ(flights.size(), 2u);
        EXPECT_EQ(figuresRow(flights[0]), figuresRow(computeFigures(*first)));
        EXPECT_EQ(figuresRow(flights[1]), figuresRow(computeFigures(*second), offset, shift));
        EXPECT_EQ(figuresRow(computeFigures(both)), figuresRow(flights[0])) << "computeFigures is the first flight";
    }
}

// A synthetic flight along the equator: a walk, a climb, the middle stretch of the
// table, a glide and a landing. Only 5 minutes or more on the ground end a flight.
TEST(FlightFigures, OnlyAWaitOnTheGroundSplits)
{
    struct Middle {
        const char* what;
        int seconds;
        double eastPerTen, upPerTen; // metres per 10 s
        std::size_t flights;
    };
    const Middle cases[] = {
        { "slow glide into the wind (3 m/s, sinking 1 m/s)", 480, 30, -10, 1 },
        { "drifting in a weak climb (1 m/s, climbing 1 m/s)", 480, 10, 10, 1 },
        { "top-landing of 6 minutes", 360, 0, 0, 2 },
        { "top-landing walked off (1 m/s, 10 minutes)", 600, 10, 1, 2 },
        { "4 minutes on the ground", 240, 0, 0, 1 },
    };
    const double metresPerMinuteOfArc = corvex::geo::wgs84EquatorialRadiusMetres * corvex::geo::pi / 180 / 60;
    for (const Middle& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = "AXCV001\nHFDTE050714\n";
        int second = 0;
        double east = 0, altitude = 1000;
        const auto stretch = [&](int seconds, double eastPerTen, double upPerTen) {
            for (int t = 0; t < seconds; t += 10) {
                east += eastPerTen;
                altitude += upPerTen;
                second += 10;
                text += bRecord(second, 0, static_cast<int>(std::lround(east / metresPerMinuteOfArc * 1000)), static_cast<int>(altitude),
                    static_cast<int>(altitude) + 50);
            }
        };
        stretch(300, 12, 2); // the walk up
        stretch(600, 80, 25);
        stretch(c.seconds, c.eastPerTen, c.upPerTen);
        stretch(600, 120, -20);
        stretch(300, 0, 0);
        const auto flight = parseIgc(text);
        ASSERT_TRUE(flight);
        const std::vector<FlightFigures> flights = computeFlights(*flight);
        ASSERT_EQ(flights.size(), c.flights);
        EXPECT_EQ(flights.front().takeoffTime, utc("2014-07-05 10:05:00"));
        EXPECT_EQ(flights.back().landingTime, utc("2014-07-05 10:25:00") + c.seconds);
        if (c.flights == 2) {
            EXPECT_EQ(flights[1].takeoffTime - flights[0].landingTime, c.seconds);
        }
    }
}

// Jumps no glider makes, put into real files (up and down, one fix and several, in the
// pressure and the GNSS altitude, and in place), leave the figures as they were.
TEST(FlightFigures, RecorderJumpsLeaveTheFiguresAsTheyWere)
{
    struct Case {
        int IgcFix::* altitude; // nullptr: the latitude jumps
        double at; // where in the flight, as a share of its fixes
        int fixes;
        int metres;
    };
    const Case cases[] = { { &IgcFix::pressureAltitude, 0.3, 1, 2700 }, { &IgcFix::pressureAltitude, 0.5, 6, -200 },
        { &IgcFix::gnssAltitude, 0.4, 2, 2700 }, { &IgcFix::gnssAltitude, 0.6, 5, -300 }, { nullptr, 0.45, 1, 5000 },
        { nullptr, 0.55, 3, 20000 } };
    for (const char* file : { "20180427.igc", "654G6NG1.IGC", "lad_lod_extensions.igc" }) {
        SCOPED_TRACE(file);
        const auto clean = readIgcFile(igcFolder + file);
        ASSERT_TRUE(clean);
        const FlightFigures want = computeFigures(*clean);
        IgcFlight damaged = *clean;
        for (const Case& c : cases) {
            const auto first = static_cast<std::size_t>(want.takeoffIndex + c.at * static_cast<double>(want.landingIndex - want.takeoffIndex));
            for (std::size_t i = first; i < first + static_cast<std::size_t>(c.fixes); ++i) {
                IgcFix& fix = damaged.fixes[i];
                if (!c.altitude)
                    fix.latitude += c.metres / 111000.0;
                else if (fix.*c.altitude != 0) // a recorder without the sensor writes 0
                    fix.*c.altitude += c.metres;
            }
        }
        const FlightFigures got = computeFigures(damaged);
        EXPECT_NEAR(got.trackLengthMetres, want.trackLengthMetres, want.trackLengthMetres * 1e-4); // cut short where left out
        EXPECT_NEAR(got.bestClimb, want.bestClimb, 0.2);
        EXPECT_NEAR(got.bestSink, want.bestSink, 0.2);
        const auto altitudes = [](const FlightFigures& f) {
            return std::make_tuple(f.takeoffIndex, f.landingIndex, f.maxPressureAltitude, f.minPressureAltitude, f.maxGnssAltitude, f.minGnssAltitude);
        };
        EXPECT_EQ(altitudes(got), altitudes(want));
    }
}

// The export table the library window's menu and `corvex library export` share: each
// format writes its file whole, and every failure says which kind it is and leaves no
// file behind.
TEST(FlightExport, EveryFormatOfTheTableAndTheFailures)
{
    corvex::testing::TemporaryFolder scratch;
    const std::string source = igcFolder + "20180427.igc";
    std::ifstream in(source, std::ios::binary);
    const std::string igc((std::istreambuf_iterator<char>(in)), {});
    const std::string notIgc = scratch.path() + "/notes.igc";
    std::ofstream(notIgc) << "just notes\n";
    TrackFileOptions options;
    options.creator = "Corvex Vario test";

    const std::pair<std::string_view, std::string_view> marks[] = { { "igc", "" }, { "kml", "<gx:Track>" }, { "gpx", "<trkpt " } };
    ASSERT_EQ(flightFileFormats().size(), std::size(marks));
    for (const auto& [id, mark] : marks) {
        const FlightFileFormat* format = findFlightFileFormat(id);
        ASSERT_TRUE(format) << id;
        EXPECT_EQ(format->extension, id);
        const std::string out = scratch.path() + "/flight." + std::string(id);
        ASSERT_TRUE(exportFlight(source, id, out, options)) << id;
        std::ifstream written(out, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(written)), {});
        if (id == "igc")
            EXPECT_EQ(text, igc) << "a copy, byte for byte";
        else
            EXPECT_NE(text.find(mark), std::string::npos) << id;
    }

    using Kind = FlightExportError::Kind;
    struct Failing {
        std::string igcPath, format, out;
        Kind kind;
    };
    const Failing failing[] = {
        { source, "csv", scratch.path() + "/a.csv", Kind::UnknownFormat },
        { scratch.path() + "/missing.igc", "gpx", scratch.path() + "/b.gpx", Kind::Unreadable },
        { notIgc, "igc", scratch.path() + "/c.igc", Kind::Unreadable },
        { source, "kml", scratch.path() + "/no-such-folder/d.kml", Kind::NotWritten },
    };
    for (const Failing& f : failing) {
        const auto exported = exportFlight(f.igcPath, f.format, f.out, options);
        ASSERT_FALSE(exported) << f.out;
        EXPECT_EQ(exported.error().kind, f.kind) << f.out;
        EXPECT_FALSE(exported.error().message.empty());
        EXPECT_FALSE(std::filesystem::exists(f.out)) << f.out;
        EXPECT_FALSE(std::filesystem::exists(f.out + ".part")) << f.out;
    }
}

// The titles people read; an id a newer scorer brings still reads as words.
TEST(FlightWords, ContestTypeTitles)
{
    const std::pair<std::string_view, std::string_view> titles[] = {
        { "free_flight", "Free flight" },
        { "closed_fai_triangle", "Closed FAI triangle" },
        { "olc_classic", "Olc classic" },
        { "", "" },
    };
    for (const auto& [id, title] : titles)
        EXPECT_EQ(contestTypeTitle(id), title) << id;
}
