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
SyntheticFlight crossCountry(int logSeconds, double noiseMetres, double windKmh, double windFrom)
{
    SyntheticFlight script;
    script.logSeconds = logSeconds;
    script.gpsNoiseMetres = noiseMetres;
    script.windKmh = windKmh;
    script.windFromDegrees = windFrom;
    script.ground(120)
        .glide(240, 90)
        .thermal(6, 2.0, true)
        .glide(300, 60, 40, 1.2)
        .thermal(8, 1.4, false, 28)
        .glide(200, 120)
        .thermal(6, 3.1, true, 22)
        .glide(400, 80, 45, 1.4)
        .ground(120);
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
    };
    const Case cases[] = {
        { "1 s, calm, clean", 1, 0, 0, 0, 4 },
        { "1 s, 20 km/h from the west, noisy", 1, 2, 20, 270, 4 },
        { "5 s, 15 km/h from the north-east, noisy", 5, 2, 15, 45, 8 },
        { "1 s, 30 km/h from the south", 1, 1, 30, 180, 5 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SyntheticFlight script = crossCountry(c.logSeconds, c.noiseMetres, c.windKmh, c.windFrom);
        const Made made = madeOf(script);
        const analysis::FlightDebrief debrief = debriefOf(script.flight());
        EXPECT_EQ(debrief.altitudeSource, "pressure");
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

} // namespace
