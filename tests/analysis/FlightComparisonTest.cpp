#include "analysis/FlightComparison.h"

#include "SyntheticFlight.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvex;
using analysis::FlightDebrief;
using analysis::SharedThermal;
using corvex::testing::SyntheticFlight;

namespace {

constexpr double metresPerDegree = 111195;

// One pilot's flight over the same ground as the others: launch, a glide east, one
// thermal, a glide on. delay shifts the whole flight in time, north and east shift its
// launch on the ground.
struct Pilot {
    std::int64_t delaySeconds { 0 };
    double climbMs { 2 };
    double northMetres { 0 }, eastMetres { 0 };
};

SyntheticFlight flightOf(const Pilot& pilot, double windKmh, double windFrom)
{
    SyntheticFlight script;
    script.windKmh = windKmh;
    script.windFromDegrees = windFrom;
    script.startTime += pilot.delaySeconds;
    script.startLatitude += pilot.northMetres / metresPerDegree;
    script.startLongitude += pilot.eastMetres / (metresPerDegree * std::cos(script.startLatitude * 3.14159265358979 / 180));
    script.ground(60).glide(180, 90).thermal(5, pilot.climbMs).glide(180, 90).ground(60);
    return script;
}

std::vector<FlightDebrief> debriefsOf(const std::vector<Pilot>& pilots, double windKmh, double windFrom)
{
    std::vector<FlightDebrief> debriefs;
    for (const Pilot& pilot : pilots) {
        const flights::IgcFlight flight = flightOf(pilot, windKmh, windFrom).flight();
        debriefs.push_back(analysis::debriefFlight(flight, flights::computeFigures(flight)));
    }
    return debriefs;
}

std::vector<SharedThermal> sharedOf(const std::vector<FlightDebrief>& debriefs)
{
    std::vector<const FlightDebrief*> pointers;
    for (const FlightDebrief& debrief : debriefs)
        pointers.push_back(&debrief);
    return analysis::findSharedThermals(pointers);
}

// Which flights each shared thermal holds, as "AB-", one letter per flight given.
std::string membersOf(const SharedThermal& thermal)
{
    std::string members;
    for (std::size_t f = 0; f < thermal.flights.size(); ++f)
        members += thermal.flights[f] ? static_cast<char>('A' + f) : '-';
    return members;
}

} // namespace

// Flights of one day made to meet (or miss) each other, through the whole debrief:
// which thermals come out shared, and who climbed faster there.
TEST(FlightComparison, SyntheticFlightsOfOneDay)
{
    struct Case {
        const char* name;
        std::vector<Pilot> pilots;
        double windKmh { 0 }, windFrom { 0 };
        std::vector<std::string> shared; // members of each shared thermal, in time order
        char fastest { 0 }; // in the first shared thermal
        char over { 0 };
    };
    // Drift of a 20 km/h wind over the 240 s between two pilots: 1333 m.
    const double drift = 20 / 3.6 * 240;
    const Case cases[] = {
        { "two pilots in one thermal at once", { { 0, 2.0 }, { 40, 1.5 } }, 0, 0, { "AB" }, 'A', 'B' },
        { "three pilots in one thermal", { { 0, 1.5 }, { 30, 2.5 }, { 60, 2.0 } }, 0, 0, { "ABC" }, 'B', 'C' },
        { "a thermal 5 km away", { { 0, 2.0 }, { 20, 2.0, 5000 } }, 0, 0, {} },
        { "the same place an hour later", { { 0, 2.0 }, { 3600, 2.0 } }, 0, 0, {} },
        { "three pilots, two of them together", { { 0, 1.2 }, { 20, 1.8, 5000 }, { 30, 1.8 } }, 0, 0, { "A-C" }, 'C', 'A' },
        { "the later pilot where the wind took the thermal", { { 0, 2.0 }, { 240, 2.4, 0, drift } }, 20, 270, { "AB" }, 'B', 'A' },
        { "the later pilot upwind of it", { { 0, 2.0 }, { 240, 2.4, 0, -drift } }, 20, 270, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<FlightDebrief> debriefs = debriefsOf(c.pilots, c.windKmh, c.windFrom);
        for (const FlightDebrief& debrief : debriefs)
            ASSERT_EQ(debrief.thermals.size(), 1u) << "each pilot's thermal is found";
        const std::vector<SharedThermal> shared = sharedOf(debriefs);
        ASSERT_EQ(shared.size(), c.shared.size());
        for (std::size_t i = 0; i < shared.size(); ++i)
            EXPECT_EQ(membersOf(shared[i]), c.shared[i]);
        if (shared.empty())
            continue;
        const auto faster = analysis::fasterClimb(shared.front());
        ASSERT_TRUE(faster);
        EXPECT_EQ(static_cast<char>('A' + faster->flight), c.fastest);
        EXPECT_EQ(static_cast<char>('A' + faster->over), c.over);
        const double fast = c.pilots[faster->flight].climbMs, slow = c.pilots[faster->over].climbMs;
        EXPECT_NEAR(faster->differenceMs, fast - slow, 0.25);
        ASSERT_TRUE(faster->differencePercent);
        EXPECT_NEAR(*faster->differencePercent, (fast - slow) / slow * 100, 15);
    }
}

// The rule's edges on debriefs written by hand: the limits of time and place, the
// nearest of several candidates, one thermal per flight, the order.
TEST(FlightComparison, RuleEdges)
{
    struct Thermal {
        std::int64_t start, end;
        double northMetres { 0 };
        double climbMs { 1 };
        double windKmh { -1 }; // below 0: no wind from its circles
    };
    struct Case {
        const char* name;
        std::vector<std::vector<Thermal>> flights;
        std::vector<std::string> shared; // per shared thermal, each flight's thermal index or '-'
    };
    const Case cases[] = {
        { "five minutes apart", { { { 0, 100 } }, { { 400, 500 } } }, { "00" } },
        { "a second more", { { { 0, 100 } }, { { 401, 500 } } }, {} },
        { "just inside a kilometre", { { { 0, 100 } }, { { 50, 150, 990 } } }, { "00" } },
        { "just outside", { { { 0, 100 } }, { { 50, 150, 1010 } } }, {} },
        { "the nearer of two candidates", { { { 0, 100 } }, { { 0, 100, 600 }, { 20, 120, 100 } } }, { "01" } },
        { "one thermal per flight, the other left alone", { { { 0, 100 }, { 110, 200 } }, { { 50, 150 } } }, { "00" } },
        { "a null debrief has no thermals", { { { 0, 100 } }, {}, { { 10, 90 } } }, { "0-0" } },
        { "in time order", { { { 5000, 5100 }, { 0, 100 } }, { { 0, 100 }, { 5000, 5100 } } }, { "10", "01" } },
        // A wind of 30 km/h from the south over the 300 s between the middles: 2.5 km north.
        { "moved by the earlier's wind", { { { 0, 600, 0, 1, 30 } }, { { 300, 900, 2500 } } }, { "00" } },
        { "the later's wind when the earlier has none", { { { 0, 600 } }, { { 300, 900, 2500, 1, 30 } } }, { "00" } },
        { "no wind, not moved", { { { 0, 600 } }, { { 300, 900, 2500 } } }, {} },
        { "not moved against the wind", { { { 0, 600, 2500, 1, 30 } }, { { 300, 900 } } }, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FlightDebrief> debriefs(c.flights.size());
        std::vector<const FlightDebrief*> pointers;
        for (std::size_t f = 0; f < c.flights.size(); ++f) {
            for (const Thermal& made : c.flights[f]) {
                analysis::CirclingPhase thermal;
                thermal.startTime = made.start;
                thermal.endTime = made.end;
                thermal.centre = { 46.5 + made.northMetres / metresPerDegree, 7.5 };
                thermal.climbMs = made.climbMs;
                if (made.windKmh >= 0)
                    thermal.wind = analysis::WindEstimate { made.windKmh, 180, 1, 4 };
                debriefs[f].thermals.push_back(thermal);
            }
            pointers.push_back(c.flights[f].empty() ? nullptr : &debriefs[f]);
        }
        const std::vector<SharedThermal> shared = analysis::findSharedThermals(pointers);
        ASSERT_EQ(shared.size(), c.shared.size());
        for (std::size_t i = 0; i < shared.size(); ++i) {
            std::string members;
            for (const auto& part : shared[i].flights)
                members += part ? static_cast<char>('0' + part->thermal) : '-';
            EXPECT_EQ(members, c.shared[i]);
        }
    }
}
