#include "analysis/FlightDebrief.h"

#include "SyntheticFlight.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

using namespace corvex;
using analysis::CircleDirection;
using analysis::debriefFlight;
using corvex::testing::SyntheticFlight;

namespace {

analysis::FlightDebrief debriefOf(const flights::IgcFlight& flight) { return debriefFlight(flight, flights::computeFigures(flight)); }

// A cross-country flight: launch, glides between thermals of either direction, through
// a wind; what differs from case to case is how it is logged and what it meets.
SyntheticFlight crossCountry(int logSeconds, double noiseMetres, double windKmh, double windFrom, bool sailplane = false)
{
    SyntheticFlight script;
    script.logSeconds = logSeconds;
    script.gpsNoiseMetres = noiseMetres;
    script.windKmh = windKmh;
    script.windFromDegrees = windFrom;
    script.ground(120);
    if (sailplane) // faster, flatter, tighter circles
        script.glide(240, 90, 110, 0.8)
            .thermal(6, 2.0, true, 20, 90)
            .glide(300, 60, 130, 1.1)
            .thermal(8, 1.4, false, 22, 90)
            .glide(200, 120, 110, 0.8)
            .thermal(6, 3.1, true, 18, 95)
            .glide(400, 80, 140, 1.3);
    else
        script.glide(240, 90)
            .thermal(6, 2.0, true)
            .glide(300, 60, 40, 1.2)
            .thermal(8, 1.4, false, 28)
            .glide(200, 120)
            .thermal(6, 3.1, true, 22)
            .glide(400, 80, 45, 1.4);
    script.ground(120);
    return script;
}

struct Made {
    std::vector<SyntheticFlight::Flown> thermals, glides;
};

Made madeOf(const SyntheticFlight& script)
{
    Made made;
    for (const SyntheticFlight::Flown& flown : script.flown()) {
        if (flown.kind == SyntheticFlight::Kind::Thermal)
            made.thermals.push_back(flown);
        else if (flown.kind == SyntheticFlight::Kind::Glide)
            made.glides.push_back(flown);
    }
    return made;
}

double angleBetween(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

// The thermals found are the ones flown: as many, where they were, as strong, turned the
// way they were turned, and the wind they drifted in; the glides between them as flat.
TEST(FlightDebriefTest, FindsTheThermalsFlownAndTheirWind)
{
    struct Case {
        const char* name;
        int logSeconds;
        double noiseMetres;
        double windKmh, windFrom;
        std::int64_t timeSlack; // s
        bool pressure { true };
        bool spikes { false };
        bool sailplane { false };
    };
    const Case cases[] = {
        { "1 s, calm, clean", 1, 0, 0, 0, 4 },
        { "1 s, 20 km/h from the west, noisy", 1, 2, 20, 270, 4 },
        { "5 s, 15 km/h from the north-east, noisy", 5, 2, 15, 45, 8 },
        { "1 s, 30 km/h from the south", 1, 1, 30, 180, 5 },
        { "1 s, GNSS altitude only", 1, 1, 20, 300, 4, false },
        { "1 s, altitude spikes in a glide and a thermal", 1, 1, 10, 200, 4, true, true },
        { "5 s, altitude spikes, GNSS only", 5, 1, 10, 200, 8, false, true },
        { "1 s, a sailplane, 25 km/h from the north-west", 1, 2, 25, 315, 4, true, false, true },
        { "4 s, a sailplane", 4, 2, 15, 90, 8, true, false, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SyntheticFlight script = crossCountry(c.logSeconds, c.noiseMetres, c.windKmh, c.windFrom, c.sailplane);
        script.pressureSensor = c.pressure;
        if (c.spikes) // 400 m up for 5 s in the first glide, 300 m down for 10 s in the second thermal
            script.spikes = { { 200, 5, 400 }, { 900, 10, -300 } };
        const Made made = madeOf(script);
        const analysis::FlightDebrief debrief = debriefOf(script.flight());
        EXPECT_EQ(debrief.altitudeSource, c.pressure ? "pressure" : "gnss");
        ASSERT_EQ(debrief.thermals.size(), made.thermals.size());
        EXPECT_TRUE(debrief.failedAttempts.empty());
        const bool right[] = { true, false, true };
        for (std::size_t i = 0; i < made.thermals.size(); ++i) {
            SCOPED_TRACE(i);
            const analysis::CirclingPhase& found = debrief.thermals[i];
            const SyntheticFlight::Flown& flown = made.thermals[i];
            EXPECT_NEAR(found.startTime, flown.startTime, c.timeSlack);
            EXPECT_NEAR(found.endTime, flown.endTime, c.timeSlack);
            const double climb = (flown.endAltitude - flown.startAltitude) / static_cast<double>(flown.endTime - flown.startTime);
            EXPECT_NEAR(found.climbMs, climb, 0.1);
            EXPECT_GE(found.bestClimbMs, found.climbMs - 0.05);
            EXPECT_LE(found.bestClimbMs, climb + 0.3);
            EXPECT_EQ(found.direction, right[i] ? CircleDirection::Right : CircleDirection::Left);
            ASSERT_TRUE(found.wind);
            EXPECT_NEAR(found.wind->speedKmh, c.windKmh, 3);
            if (c.windKmh > 0) {
                EXPECT_LE(angleBetween(found.wind->fromDegrees, c.windFrom), 15);
            }
            EXPECT_GT(found.wind->confidence, 0.5);
        }
        ASSERT_EQ(debrief.glides.size(), made.glides.size());
        for (std::size_t i = 0; i < made.glides.size(); ++i) {
            SCOPED_TRACE(i);
            const SyntheticFlight::Flown& flown = made.glides[i];
            const double ratio = flown.groundMetres / (flown.startAltitude - flown.endAltitude);
            ASSERT_TRUE(debrief.glides[i].glideRatio);
            EXPECT_NEAR(*debrief.glides[i].glideRatio, ratio, ratio * 0.03);
        }
        EXPECT_EQ(debrief.wind.size(), made.thermals.size());
        EXPECT_EQ(debrief.totals.thermals, 3);
    }
}

// A circling phase is a thermal when it gained height, else a failed attempt; its
// direction is the way it turned, mixed when both ways count.
TEST(FlightDebriefTest, TellsThermalsFromFailedAttemptsAndTheWayTheyTurned)
{
    struct Case {
        const char* name;
        double climbMs;
        bool thenOtherWay; // as many turns the other way straight after
        bool thermal;
        CircleDirection direction;
    };
    const Case cases[] = {
        { "weak lift", 0.5, false, true, CircleDirection::Left },
        { "circling in sink", -0.8, false, false, CircleDirection::Left },
        { "zero lift", 0.1, false, false, CircleDirection::Left },
        { "reversed half way", 1.5, true, true, CircleDirection::Mixed },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SyntheticFlight script;
        script.gpsNoiseMetres = 1;
        script.windKmh = 10;
        script.ground(120).glide(200, 0).thermal(3, c.climbMs, false);
        if (c.thenOtherWay)
            script.thermal(3, c.climbMs, true);
        script.glide(200, 90).ground(120);
        const analysis::FlightDebrief debrief = debriefOf(script.flight());
        const auto& phases = c.thermal ? debrief.thermals : debrief.failedAttempts;
        ASSERT_EQ(phases.size(), 1u);
        EXPECT_EQ(debrief.thermals.size() + debrief.failedAttempts.size(), 1u);
        EXPECT_EQ(phases[0].direction, c.direction);
        EXPECT_NEAR(phases[0].leftShare, c.thenOtherWay ? 0.5 : 1.0, 0.1);
        EXPECT_NEAR(phases[0].circleSeconds, 25, 1.5);
        EXPECT_EQ(debrief.glides.size(), 2u);
        EXPECT_EQ(debrief.totals.thermals, c.thermal ? 1 : 0);
        EXPECT_EQ(debrief.totals.failedAttempts, c.thermal ? 0 : 1);
    }
}

// What is no circling makes none: S-turns, a course reversal, a recorder that never
// left the ground.
TEST(FlightDebriefTest, FindsNoCirclesWhereNoneWereFlown)
{
    struct Case {
        const char* name;
        SyntheticFlight script;
        std::size_t glides;
    };
    SyntheticFlight sTurns, wideSTurns, reversal, reversals, onTheGround;
    sTurns.ground(120).glide(120, 0).sTurns(180, 0).glide(120, 0).ground(120);
    wideSTurns.ground(120).glide(120, 0).sTurns(180, 45, 150, 40).glide(120, 0).ground(120);
    // A half circle each way, as a pilot beats along a ridge.
    reversal.ground(120).glide(200, 0).thermal(0.5, -1.0).glide(200, 180).ground(120);
    reversals.ground(120).glide(100, 0).thermal(0.5, -1.0).glide(15, 180).thermal(0.5, -1.0, false).glide(15, 0).thermal(0.5, -1.0)
        .glide(100, 180).ground(120);
    onTheGround.ground(1800);
    const Case cases[] = {
        { "S-turns", sTurns, 1 },
        { "wide S-turns", wideSTurns, 1 },
        { "a course reversal", reversal, 1 },
        { "beats along a ridge", reversals, 1 },
        { "on the ground", onTheGround, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SyntheticFlight script = c.script;
        script.gpsNoiseMetres = 1.5;
        script.windKmh = 15;
        script.windFromDegrees = 250;
        const analysis::FlightDebrief debrief = debriefOf(script.flight());
        EXPECT_TRUE(debrief.thermals.empty());
        EXPECT_TRUE(debrief.failedAttempts.empty());
        EXPECT_TRUE(debrief.wind.empty());
        EXPECT_EQ(debrief.glides.size(), c.glides);
        EXPECT_EQ(debrief.totals.circlingShare, 0);
    }
}

// The barogram's series: one value per fix, the vario over 20 s and the ground speed,
// a spike in neither.
TEST(FlightDebriefTest, SeriesFollowTheFlightWithoutItsSpikes)
{
    for (const int logSeconds : { 1, 5 }) {
        SCOPED_TRACE(logSeconds);
        SyntheticFlight script;
        script.logSeconds = logSeconds;
        script.gpsNoiseMetres = 1;
        script.ground(120).glide(300, 90, 54, 1.5).thermal(6, 2.5).glide(300, 90, 54, 1.5).ground(120);
        script.spikes = { { 250, 10, 500 } };
        const flights::IgcFlight flight = script.flight();
        const analysis::FlightSeries series = analysis::flightSeries(flight);
        ASSERT_EQ(series.vario20Ms.size(), flight.fixes.size());
        ASSERT_EQ(series.groundSpeedKmh.size(), flight.fixes.size());
        const auto at = [&](std::int64_t secondsFromStart) {
            return static_cast<std::size_t>(secondsFromStart / logSeconds);
        };
        EXPECT_NEAR(series.vario20Ms[at(60)], 0, 0.05); // on the ground
        EXPECT_NEAR(series.groundSpeedKmh[at(60)], 0, 5); // a recorder's jitter at rest
        EXPECT_NEAR(series.vario20Ms[at(250)], -1.5, 0.1); // the spike's glide
        EXPECT_NEAR(series.groundSpeedKmh[at(250)], 54, 2);
        EXPECT_NEAR(series.vario20Ms[at(500)], 2.5, 0.1); // the thermal
        for (const double vario : series.vario20Ms)
            EXPECT_LT(std::fabs(vario), 3);
    }
}

// What real recorders write besides clean fixes: a gap, repeated fixes, fixes
// without satellites, a file cut short. Nothing breaks; the thermals around stay.
TEST(FlightDebriefTest, ToleratesGapsRepeatsAndInvalidFixes)
{
    const flights::IgcFlight made = crossCountry(1, 1, 10, 270).flight();
    struct Case {
        const char* name;
        void (*change)(std::vector<flights::IgcFix>&);
        std::size_t thermals;
    };
    const Case cases[] = {
        { "a minute missing in a glide", [](std::vector<flights::IgcFix>& fixes) { fixes.erase(fixes.begin() + 700, fixes.begin() + 760); }, 3 },
        { "every fix twice", [](std::vector<flights::IgcFix>& fixes) {
             std::vector<flights::IgcFix> twice;
             for (const auto& fix : fixes) {
                 twice.push_back(fix);
                 twice.push_back(fix);
             }
             fixes = twice;
         }, 3 },
        { "every tenth fix without satellites", [](std::vector<flights::IgcFix>& fixes) {
             for (std::size_t i = 0; i < fixes.size(); i += 10) {
                 fixes[i].valid = false;
                 fixes[i].latitude = fixes[i].longitude = 0;
             }
         }, 3 },
        { "cut short in the second thermal", [](std::vector<flights::IgcFix>& fixes) { fixes.resize(900); }, 2 },
        { "two fixes", [](std::vector<flights::IgcFix>& fixes) { fixes.resize(2); }, 0 },
        { "none", [](std::vector<flights::IgcFix>& fixes) { fixes.clear(); }, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        flights::IgcFlight flight = made;
        c.change(flight.fixes);
        const analysis::FlightDebrief debrief = debriefOf(flight);
        EXPECT_EQ(debrief.thermals.size(), c.thermals);
        for (const auto& thermal : debrief.thermals)
            EXPECT_NEAR(thermal.wind ? thermal.wind->speedKmh : 0, 10, 3);
        const analysis::FlightSeries series = analysis::flightSeries(flight);
        EXPECT_EQ(series.vario20Ms.size(), flight.fixes.size());
    }
}

} // namespace
