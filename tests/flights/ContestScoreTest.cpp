// The contest score against flights whose best path is known by hand, and against an
// exhaustive search (every triangle, every path of the contest's number of points, from
// every start under a height rule) on small tracks.
#include "flights/ContestScore.h"

#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <random>
#include <string_view>
#include <tuple>
#include <thread>

namespace corvex::flights {
namespace {

const ContestRuleSet& xcontest()
{
    return *findContestRuleSet("xcontest");
}

const ContestRuleSet& ffvl()
{
    return *findContestRuleSet("ffvl");
}

const ContestRuleSet& olc()
{
    return *findContestRuleSet("olc");
}

// The rules as the contests publish them, restated here rather than read from the rows:
// the legs of the free flight and the most its finish may be below its start.
struct Published {
    std::string_view id;
    int legs;
    double finishBelowStart; // metres; < 0: no such rule
};
const Published published[] = { { "xcontest", 4, -1 }, { "ffvl", 4, -1 }, { "olc", 6, 1000 } };

const Published& publishedRules(const ContestRuleSet& rules)
{
    return *std::find_if(std::begin(published), std::end(published), [&](const Published& p) { return p.id == rules.id; });
}

// The altitude the height rule reads: the pressure altitude where the track has any.
std::vector<double> ruleAltitudes(const std::vector<IgcFix>& fixes)
{
    const bool pressure = std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& f) { return f.valid && f.pressureAltitude != 0; });
    std::vector<double> altitudes;
    for (const IgcFix& f : fixes)
        altitudes.push_back(pressure ? f.pressureAltitude : f.gnssAltitude);
    return altitudes;
}

// A track along the legs between corners, a fix every ~500 m, one a minute.
std::vector<IgcFix> track(const std::vector<GeoPoint>& corners)
{
    std::vector<IgcFix> fixes;
    auto add = [&](double lat, double lon) {
        IgcFix fix;
        fix.time = 1700000000 + 60 * static_cast<std::int64_t>(fixes.size());
        fix.latitude = lat;
        fix.longitude = lon;
        fixes.push_back(fix);
    };
    add(corners[0].latitude, corners[0].longitude);
    for (std::size_t leg = 1; leg < corners.size(); ++leg) {
        const GeoPoint a = corners[leg - 1], b = corners[leg];
        const int steps = std::max(1, static_cast<int>(geodesicDistanceMetres(a, b) / 500));
        for (int s = 1; s <= steps; ++s) {
            const double f = static_cast<double>(s) / steps;
            add(a.latitude + f * (b.latitude - a.latitude), a.longitude + f * (b.longitude - a.longitude));
        }
    }
    return fixes;
}

// The best score by brute force, geodesic throughout: every five-point path, and every
// triangle with its closing gap from a table of the shortest distance between a fix up to
// a and one from c on.
struct Exhaustive {
    double points { 0 };
    std::string_view type { "free_flight" };
};

Exhaustive exhaustive(const std::vector<IgcFix>& fixes, const ContestRuleSet& rules, bool heightRule = true)
{
    const std::size_t n = fixes.size();
    std::vector<double> d(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            d[i * n + j] = d[j * n + i] = geodesicDistanceMetres({ fixes[i].latitude, fixes[i].longitude }, { fixes[j].latitude, fixes[j].longitude });
    // Every path: the longest to each fix with the published number of legs; under a
    // height rule from each start in turn, a finish counted only where the rule admits it.
    const Published& contest = publishedRules(rules);
    const bool everyStart = contest.finishBelowStart < 0 || !heightRule;
    const std::vector<double> altitude = ruleAltitudes(fixes);
    Exhaustive best;
    for (std::size_t start = 0; start < (everyStart ? 1 : n); ++start) {
        std::vector<double> path(n, everyStart ? 0 : -1);
        path[start] = 0;
        for (int leg = 0; leg < contest.legs; ++leg) {
            std::vector<double> next(n, -1);
            for (std::size_t j = start; j < n; ++j)
                for (std::size_t i = start; i <= j; ++i)
                    if (path[i] >= 0)
                        next[j] = std::max(next[j], path[i] + d[i * n + j]);
            path = next;
        }
        for (std::size_t j = start; j < n; ++j)
            if (everyStart || altitude[j] >= altitude[start] - contest.finishBelowStart)
                best.points = std::max(best.points, path[j] / 1000);
    }
    std::vector<double> gap(n * n);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t c = n; c-- > a;)
            gap[a * n + c] = std::min({ d[a * n + c], a > 0 ? gap[(a - 1) * n + c] : 1e12, c + 1 < n ? gap[a * n + c + 1] : 1e12 });
    struct Rule {
        std::string_view type;
        double multiplier, gap;
        bool fai;
        double freeGap { 0 }; // metres that close any triangle and are not deducted
    };
    const std::vector<Rule> triangles = rules.id == "ffvl"
        ? std::vector<Rule> { { "free_triangle", 1.2, 0.05, false, 3000 }, { "fai_triangle", 1.4, 0.05, true, 3000 } }
        : rules.id == "olc" ? std::vector<Rule> {}
                            : std::vector<Rule> { { "free_triangle", 1.2, 0.2, false }, { "fai_triangle", 1.4, 0.2, true },
                                  { "closed_free_triangle", 1.4, 0.05, false }, { "closed_fai_triangle", 1.6, 0.05, true } };
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t c = a + 2; c < n; ++c)
            for (std::size_t b = a + 1; b < c; ++b) {
                const std::array<double, 3> sides { d[a * n + b], d[b * n + c], d[a * n + c] };
                const double perimeter = sides[0] + sides[1] + sides[2];
                const double g = gap[a * n + c];
                for (const Rule& rule : triangles)
                    if (g <= std::max(rule.freeGap, rule.gap * perimeter) && (!rule.fai || *std::min_element(sides.begin(), sides.end()) >= 0.28 * perimeter))
                        if (const double points = rule.multiplier * (perimeter - (g > rule.freeGap ? g : 0)) / 1000; points > best.points)
                            best = { points, rule.type };
            }
    return best;
}

// What a score says of itself holds: its points are in time order and are the fixes'
// own, its distance is measured between them, and a triangle keeps its kind's rules
// with the closing fixes around its corners.
void expectWellFormed(const ContestScore& score, const std::vector<IgcFix>& fixes, const ContestRuleSet& rules)
{
    auto at = [](const ContestPoint& p) { return GeoPoint { p.latitude, p.longitude }; };
    EXPECT_NEAR(score.points, score.distanceMetres / 1000 * score.multiplier, 1e-9);
    double legs = 0;
    for (std::size_t k = 0; k < score.turnpoints.size(); ++k) {
        const ContestPoint& point = score.turnpoints[k];
        EXPECT_EQ(point.time, fixes[point.fixIndex].time);
        EXPECT_EQ(point.latitude, fixes[point.fixIndex].latitude);
        if (k > 0) {
            EXPECT_LT(score.turnpoints[k - 1].fixIndex, point.fixIndex);
            legs += geodesicDistanceMetres(at(score.turnpoints[k - 1]), at(point));
        }
    }
    const bool triangle = score.type != ContestFlightType::FreeFlight;
    ASSERT_EQ(score.turnpoints.size() == 3 && score.closingStart && score.closingEnd, triangle);
    if (!triangle) {
        EXPECT_NEAR(score.distanceMetres, legs, 1e-6);
        const Published& rule = publishedRules(rules);
        EXPECT_LE(score.turnpoints.size(), static_cast<std::size_t>(rule.legs) + 1);
        if (rule.finishBelowStart >= 0) {
            const std::vector<double> altitude = ruleAltitudes(fixes);
            EXPECT_GE(altitude[score.turnpoints.back().fixIndex], altitude[score.turnpoints.front().fixIndex] - rule.finishBelowStart);
        }
        return;
    }
    const auto& t = score.turnpoints;
    const double third = geodesicDistanceMetres(at(t[2]), at(t[0]));
    const double perimeter = legs + third;
    EXPECT_LE(score.closingStart->fixIndex, t[0].fixIndex);
    EXPECT_GE(score.closingEnd->fixIndex, t[2].fixIndex);
    EXPECT_NEAR(score.closingMetres, geodesicDistanceMetres(at(*score.closingStart), at(*score.closingEnd)), 1e-6);
    // The FFVL closes any triangle within 3 km and does not deduct such a gap.
    const double freeGap = rules.id == "ffvl" ? 3000 : 0;
    EXPECT_NEAR(score.distanceMetres, perimeter - (score.closingMetres > freeGap ? score.closingMetres : 0), 1e-6);
    const bool closed = rules.id == "ffvl" || score.type == ContestFlightType::ClosedFreeTriangle
        || score.type == ContestFlightType::ClosedFaiTriangle;
    EXPECT_LE(score.closingMetres, std::max(freeGap, (closed ? 0.05 : 0.2) * perimeter));
    if (score.type == ContestFlightType::FaiTriangle || score.type == ContestFlightType::ClosedFaiTriangle) {
        EXPECT_GE(std::min({ geodesicDistanceMetres(at(t[0]), at(t[1])), geodesicDistanceMetres(at(t[1]), at(t[2])), third }),
            0.28 * perimeter);
    }
}

TEST(ContestScore, SyntheticFlightsScoreTheirKnownBest)
{
    // A near-equilateral triangle of about 20 km sides.
    const GeoPoint a { 46.0, 7.0 }, b { 46.0, 7.26 }, c { 46.156, 7.13 };
    auto towardsA = [&](double share) { // a point on C→A's extension short of A by `share` of the perimeter
        const double perimeter = geodesicDistanceMetres(a, b) + geodesicDistanceMetres(b, c) + geodesicDistanceMetres(c, a);
        const double f = share * perimeter / geodesicDistanceMetres(c, a);
        return GeoPoint { a.latitude + f * (c.latitude - a.latitude), a.longitude + f * (c.longitude - a.longitude) };
    };
    const double perimeter = geodesicDistanceMetres(a, b) + geodesicDistanceMetres(b, c) + geodesicDistanceMetres(c, a);
    struct Case {
        const char* name;
        std::vector<GeoPoint> corners;
        const ContestRuleSet& rules;
        const char* type;
        double distanceKm; // 0: only against the exhaustive search
    };
    const Case cases[] = {
        { "straight line", { { 46.0, 7.0 }, { 46.4, 7.1 } }, xcontest(), "free_flight",
            geodesicDistanceMetres({ 46.0, 7.0 }, { 46.4, 7.1 }) / 1000 },
        { "closed equilateral", { a, b, c, a }, xcontest(), "closed_fai_triangle", perimeter / 1000 },
        { "gap of 4 %", { a, b, c, towardsA(0.04) }, xcontest(), "closed_fai_triangle", 0 },
        { "gap of 12 %", { a, b, c, towardsA(0.12) }, xcontest(), "fai_triangle", 0 },
        { "gap of 12 %, FFVL", { a, b, c, towardsA(0.12) }, ffvl(), "free_flight", 0 },
        { "closed flat triangle", { { 46.0, 7.0 }, { 46.0, 7.4 }, { 46.02, 7.2 }, { 46.0, 7.0 } }, xcontest(),
            "closed_free_triangle", 0 },
        // The way back stays 5 km off the way out: no sub-triangle closes within 5 %.
        { "flat triangle, gap of 8 %", { { 46.0, 7.0 }, { 46.0, 7.39 }, { 46.063, 7.284 }, { 46.047, 7.0 } },
            xcontest(), "free_triangle", 0 },
        { "closed FAI, FFVL", { a, b, c, a }, ffvl(), "fai_triangle", perimeter / 1000 },
        // 2.5 km short of A is over 5 % of this 20 km triangle, but within the league's 3 km.
        { "small triangle open by 2.5 km, FFVL", { { 46.0, 7.0 }, { 46.0, 7.1 }, { 46.06, 7.05 }, { 46.0225, 7.01875 } },
            ffvl(), "fai_triangle", 0 },
        { "closed flat triangle, FFVL", { { 46.0, 7.0 }, { 46.0, 7.4 }, { 46.02, 7.2 }, { 46.0, 7.0 } }, ffvl(),
            "free_triangle", 0 },
        // Far north and across the date line: the bounds hold on any part of the ellipsoid.
        { "closed FAI at 69° N over 180°", { { 69.0, 179.8 }, { 69.0, -179.6 }, { 69.15, -179.9 }, { 69.0, 179.8 } },
            xcontest(), "closed_fai_triangle", 0 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const auto fixes = track(test.corners);
        const auto score = scoreFixes(fixes, 0, fixes.size() - 1, test.rules);
        ASSERT_TRUE(score);
        EXPECT_EQ(contestTypeName(score->type), test.type);
        if (test.distanceKm > 0) {
            EXPECT_NEAR(score->distanceMetres / 1000, test.distanceKm, 1e-3);
        }
        const Exhaustive best = exhaustive(fixes, test.rules);
        EXPECT_NEAR(score->points, best.points, 2e-6); // to the millimetre
        EXPECT_EQ(contestTypeName(score->type), best.type);
        EXPECT_TRUE(score->optimal);
        expectWellFormed(*score, fixes, test.rules);
    }
}

// Only valid fixes in the range given count; fewer than two score nothing.
TEST(ContestScore, InvalidFixesAndRanges)
{
    const GeoPoint start { 46.0, 7.0 }, end { 46.3, 7.0 };
    auto line = track({ start, end });
    const std::size_t middle = line.size() / 2;
    line[middle].latitude = 50.0; // a wild position the recorder marked as void
    line[middle].valid = false;
    const double full = geodesicDistanceMetres(start, end) / 1000;
    struct Case {
        const char* name;
        std::size_t first, last;
        double km; // < 0: no score
    };
    const Case cases[] = {
        { "whole line, the void fix left out", 0, line.size() - 1, full },
        { "second half", middle + 1, line.size() - 1,
            geodesicDistanceMetres({ line[middle + 1].latitude, line[middle + 1].longitude }, end) / 1000 },
        { "one fix", 3, 3, -1 },
        { "one valid fix beside the void one", middle, middle + 1, -1 },
        { "last beyond the fixes", 0, line.size() + 10, full },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const auto score = scoreFixes(line, test.first, test.last, xcontest());
        ASSERT_EQ(score.has_value(), test.km >= 0);
        if (score) {
            EXPECT_NEAR(score->distanceMetres / 1000, test.km, 1e-3);
        }
    }
    EXPECT_FALSE(scoreFixes({}, 0, 0, ffvl()));

    // A search its caller cancelled gives nothing; one not cancelled is unchanged.
    const corvex::CancelToken cancel;
    EXPECT_TRUE(scoreFixes(line, 0, line.size() - 1, xcontest(), &cancel));
    cancel.cancel();
    for (const ContestRuleSet& rules : contestRuleSets())
        EXPECT_FALSE(scoreFixes(line, 0, line.size() - 1, rules, &cancel)) << rules.id;
}

// Pieces of real flights, every fix of the piece or every few, against the brute force:
// the search is exact, so the scores agree to rounding; a whole flight scores no less.
TEST(ContestScore, RealFlightPiecesMatchTheBruteForce)
{
    struct Case {
        const char* file;
        std::size_t first, count, step;
        int repeat; // each fix this many times over, as some recorders write them
    };
    const Case cases[] = {
        { "0asljd01.igc", 0, 4020, 20, 1 },
        { "0asljd01.igc", 1200, 180, 1, 1 },
        { "0asljd01.igc", 2500, 220, 3, 1 },
        { "2016-11-08-xcs-aaa-02.igc", 0, 6752, 30, 1 },
        { "2016-11-08-xcs-aaa-02.igc", 3000, 200, 2, 3 },
        { "20180427.igc", 0, 1831, 9, 1 },
        { "20180427.igc", 700, 200, 1, 1 },
        { "lad_lod_extensions.igc", 0, 424, 2, 1 },
        { "654G6NG1.IGC", 0, 100000, 0, 1 },
    };
    for (const Case& test : cases) {
        const auto flight = readIgcFile(std::string(CORVEX_TESTDATA_DIR "/igc/") + test.file);
        ASSERT_TRUE(flight) << test.file;
        std::vector<IgcFix> piece;
        const std::size_t step = test.step > 0 ? test.step : std::max<std::size_t>(1, flight->fixes.size() / 200);
        for (std::size_t i = test.first; i < std::min(flight->fixes.size(), test.first + test.count); i += step)
            if (flight->fixes[i].valid)
                piece.insert(piece.end(), test.repeat, flight->fixes[i]);
        for (const ContestRuleSet* set : { &xcontest(), &ffvl(), &olc() }) {
            const ContestRuleSet& rules = *set;
            SCOPED_TRACE(std::string(test.file) + " from " + std::to_string(test.first) + ", " + std::to_string(piece.size())
                + " fixes, " + std::string(rules.id));
            const auto score = scoreFixes(piece, 0, piece.size() - 1, rules);
            ASSERT_TRUE(score);
            const Exhaustive best = exhaustive(piece, rules);
            EXPECT_NEAR(score->points, best.points, 2e-6); // to the millimetre
            EXPECT_EQ(contestTypeName(score->type), best.type);
            EXPECT_TRUE(score->optimal);
            expectWellFormed(*score, piece, rules);
            if (test.first == 0) { // the whole file holds every fix of its thinned copy
                const auto whole = scoreFixes(flight->fixes, 0, flight->fixes.size() - 1, rules);
                ASSERT_TRUE(whole);
                EXPECT_GE(whole->points, best.points - 2e-6);
                EXPECT_TRUE(whole->optimal);
                expectWellFormed(*whole, flight->fixes, rules);
            }
        }
    }
}

// Random wandering tracks, some closing on their start, against the brute force: shapes
// no flight above happens to have (corners on a thermal, many near-ties), and heights
// under which the OLC's height rule changes the best path.
TEST(ContestScore, RandomTracksMatchTheBruteForce)
{
    std::mt19937 random(2026);
    std::normal_distribution<double> step(0, 1);
    int heightRuleBinds = 0;
    for (int trial = 0; trial < 24; ++trial) {
        const std::size_t n = 40 + static_cast<std::size_t>(trial) * 5;
        const double stride = trial % 3 == 0 ? 0.002 : 0.02; // ~200 m or ~2 km per fix
        std::vector<IgcFix> fixes(n);
        double lat = 45.0 + trial, lon = 6.0, heading = 0;
        for (std::size_t i = 0; i < n; ++i) {
            heading += 0.6 * step(random);
            lat += stride * std::cos(heading);
            lon += stride * std::sin(heading) / std::cos(geo::radians(lat));
            fixes[i].time = 1700000000 + static_cast<std::int64_t>(i);
            fixes[i].latitude = lat;
            fixes[i].longitude = lon;
        }
        if (trial % 2 == 1) // the last fixes head home
            for (std::size_t i = n - n / 4; i < n; ++i) {
                const double f = static_cast<double>(i - (n - n / 4) + 1) / static_cast<double>(n / 4);
                fixes[i].latitude = fixes[n - n / 4 - 1].latitude + f * (fixes[0].latitude + 0.001 * step(random) - fixes[n - n / 4 - 1].latitude);
                fixes[i].longitude = fixes[n - n / 4 - 1].longitude + f * (fixes[0].longitude - fixes[n - n / 4 - 1].longitude);
            }
        // Heights for the OLC's rule: launched high and landed low (the longest path often
        // ends over 1000 m below its start), up and down again, or wandering; some tracks
        // only with GNSS altitudes; some parked on one place while climbing and sinking.
        double height = 1500;
        for (std::size_t i = 0; i < n; ++i) {
            const double f = static_cast<double>(i) / static_cast<double>(n - 1);
            switch (trial % 4) {
            case 0:
                height = 2600 - 2200 * f + 150 * step(random);
                break;
            case 1:
                height = 600 + 1800 * std::sin(geo::pi * f) + 100 * step(random);
                break;
            default:
                height += 120 * step(random);
                break;
            }
            (trial % 3 == 2 ? fixes[i].gnssAltitude : fixes[i].pressureAltitude) = static_cast<int>(height);
        }
        if (trial % 5 == 2)
            for (std::size_t i = 11; i < 20; ++i) {
                fixes[i].latitude = fixes[10].latitude;
                fixes[i].longitude = fixes[10].longitude;
            }
        for (const ContestRuleSet* set : { &xcontest(), &ffvl(), &olc() }) {
            const ContestRuleSet& rules = *set;
            SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::string(rules.id));
            const auto score = scoreFixes(fixes, 0, n - 1, rules);
            ASSERT_TRUE(score);
            const Exhaustive best = exhaustive(fixes, rules);
            EXPECT_NEAR(score->points, best.points, 2e-6);
            EXPECT_EQ(contestTypeName(score->type), best.type);
            EXPECT_TRUE(score->optimal);
            expectWellFormed(*score, fixes, rules);
            if (rules.id == "olc" && exhaustive(fixes, rules, false).points > best.points + 1e-3)
                ++heightRuleBinds;
        }
    }
    EXPECT_GE(heightRuleBinds, 6) << "tracks whose longest path breaks the height rule";
}

// Fixes parked on one place for an hour score as the fix once (with its lowest and
// highest under a height rule); fixes all on one geodesic, where every path with its
// turnpoints on the way ties to the micrometre, end quickly with the line's length, even
// if such ties cannot all be told apart.
TEST(ContestScore, ParkedFixesAndExactTies)
{
    const auto line = track({ { 46.0, 7.0 }, { 46.4, 7.1 } });
    std::vector<IgcFix> parked = line;
    parked.insert(parked.begin() + 40, 3600, line[40]);
    const auto score = scoreFixes(parked, 0, parked.size() - 1, xcontest());
    ASSERT_TRUE(score);
    EXPECT_TRUE(score->optimal);
    EXPECT_NEAR(score->points, exhaustive(line, xcontest()).points, 2e-6);
    expectWellFormed(*score, parked, xcontest());

    // Parked at launch while the altimeter wanders: under the OLC's height rule only the
    // lowest fix of the row may start a path that lands 1000 m lower.
    std::vector<IgcFix> launch = line;
    const int heights[] = { 2000, 1800, 1500, 1900, 2000 };
    for (std::size_t i = 0; i < launch.size(); ++i) {
        launch[i].pressureAltitude = i < std::size(heights) ? heights[i] : 500;
        if (i < std::size(heights)) {
            launch[i].latitude = line[0].latitude;
            launch[i].longitude = line[0].longitude;
        }
    }
    const auto landed = scoreFixes(launch, 0, launch.size() - 1, olc());
    ASSERT_TRUE(landed);
    EXPECT_EQ(landed->turnpoints.front().fixIndex, 2u);
    EXPECT_NEAR(landed->points, exhaustive(launch, olc()).points, 2e-6);
    expectWellFormed(*landed, launch, olc());

    const GeoPoint south { 46.0, 7.0 }, north { 46.9, 7.0 }; // a meridian is a geodesic
    std::vector<IgcFix> meridian(4000);
    for (std::size_t i = 0; i < meridian.size(); ++i) {
        meridian[i].time = 1700000000 + static_cast<std::int64_t>(i);
        meridian[i].latitude = south.latitude + (north.latitude - south.latitude) * static_cast<double>(i) / 3999;
        meridian[i].longitude = south.longitude;
    }
    const auto tied = scoreFixes(meridian, 0, meridian.size() - 1, xcontest());
    ASSERT_TRUE(tied);
    EXPECT_EQ(tied->type, ContestFlightType::FreeFlight);
    EXPECT_NEAR(tied->distanceMetres, geodesicDistanceMetres(south, north), 1e-3);
    expectWellFormed(*tied, meridian, xcontest());
}

// A hike & fly: five hours' walk to the launch before a real flight. FFVL and OLC score
// the flight, whatever the pilot asks; XContest scores the whole track unless the pilot
// asks for the flight alone.
TEST(ContestScore, TheWalkCountsOnlyWhereTheRulesLetIt)
{
    const auto flown = readIgcFile(CORVEX_TESTDATA_DIR "/igc/20180427.igc");
    ASSERT_TRUE(flown);
    IgcFlight hike = *flown;
    const IgcFix launch = flown->fixes.front();
    std::vector<IgcFix> walk;
    constexpr int walkSeconds = 5 * 3600, fixEvery = 5;
    for (int t = walkSeconds; t > 0; t -= fixEvery) {
        IgcFix step = launch;
        step.time -= t;
        step.longitude -= 1.2 * t / (111320 * std::cos(launch.latitude * geo::pi / 180)); // from the west at 1.2 m/s
        step.pressureAltitude -= t / 10;
        step.gnssAltitude -= t / 10;
        walk.push_back(step);
    }
    hike.fixes.insert(hike.fixes.begin(), walk.begin(), walk.end());

    const FlightFigures flight = computeFigures(*flown);
    const std::tuple<const ContestRuleSet*, std::optional<ScoredTrack>, ScoredTrack> cases[] = {
        { &xcontest(), std::nullopt, ScoredTrack::Whole }, { &xcontest(), ScoredTrack::Flight, ScoredTrack::Flight },
        { &ffvl(), ScoredTrack::Whole, ScoredTrack::Flight }, { &olc(), std::nullopt, ScoredTrack::Flight } };
    for (const auto& [rules, wanted, scored] : cases) {
        SCOPED_TRACE(std::string(rules->id) + " asked for " + (wanted ? std::string(scoredTrackName(*wanted)) : "nothing"));
        const auto score = scoreFlight(hike, *rules, 0, wanted);
        ASSERT_TRUE(score);
        const bool whole = scored == ScoredTrack::Whole;
        const std::size_t first = whole ? 0 : walk.size() + flight.takeoffIndex;
        const std::size_t last = whole ? hike.fixes.size() - 1 : walk.size() + flight.landingIndex;
        EXPECT_EQ(std::make_tuple(score->part.track, score->part.first, score->part.last, score->part.from),
            std::make_tuple(scored, first, last, hike.fixes[first].time));
        const double flightOnly = scoreFixes(flown->fixes, flight.takeoffIndex, flight.landingIndex, *rules)->points;
        if (whole)
            EXPECT_GT(score->points, flightOnly + 10) << "the walk's 21 km count";
        else
            EXPECT_DOUBLE_EQ(score->points, flightOnly);
    }

    // Each flight of a file with a relaunch scores its own hop; the whole track of the
    // second runs from the first one's landing to the file's end.
    IgcFlight twice = *flown;
    twice.fixes.insert(twice.fixes.end(), 600, flown->fixes.back());
    for (std::size_t i = flown->fixes.size(); i < twice.fixes.size(); ++i)
        twice.fixes[i].time = twice.fixes[i - 1].time + 1;
    const std::int64_t shift = twice.fixes.back().time + 1 - flown->fixes.front().time;
    for (IgcFix fix : flown->fixes) {
        fix.time += shift;
        twice.fixes.push_back(fix);
    }
    const std::vector<FlightFigures> hops = computeFlights(twice);
    ASSERT_EQ(hops.size(), 2u);
    const auto second = scoreFlight(twice, ffvl(), 1, std::nullopt);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->part.first, hops[1].takeoffIndex);
    EXPECT_NEAR(second->points, scoreFlight(*flown, ffvl())->points, 1e-9);
    const auto wholeSecond = scoredPart(twice, hops, 1, ScoredTrack::Whole);
    ASSERT_TRUE(wholeSecond);
    EXPECT_EQ(std::make_pair(wholeSecond->first, wholeSecond->last), std::make_pair(hops[0].landingIndex, twice.fixes.size() - 1));
    EXPECT_EQ(scoredPart(twice, hops, 0, ScoredTrack::Whole)->last, hops[1].takeoffIndex);
    EXPECT_FALSE(scoreFlight(twice, ffvl(), 2, std::nullopt));
}

// Tracks that are no flights, where the bounds prune little, end in a few seconds with a
// well-formed score (proven best or not), and a cancel from another thread ends the
// search within a moment. Small forms of core-bench's scorer-worst cases.
TEST(ContestScore, HostileTracksEndInBoundedTime)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> step(-1, 1);
    std::uniform_real_distribution<double> unit(0, 1);
    constexpr double metre = 1 / 111195.0; // of latitude, in degrees
    auto made = [](std::size_t count, auto&& place) {
        std::vector<IgcFix> fixes(count);
        for (std::size_t i = 0; i < count; ++i) {
            fixes[i].time = 1700000000 + static_cast<std::int64_t>(i);
            const GeoPoint p = place(i);
            // On the IGC file's grid, a thousandth of a minute.
            fixes[i].latitude = std::round(p.latitude * 60000) / 60000;
            fixes[i].longitude = std::round(p.longitude * 60000) / 60000;
            fixes[i].pressureAltitude = 1000 + static_cast<int>(i % 7);
        }
        return fixes;
    };
    int north = 0, east = 0;
    const auto jitter = made(3000, [&](std::size_t) {
        north = std::clamp(north + step(random), -3, 3);
        east = std::clamp(east + step(random), -3, 3);
        return GeoPoint { 46.5 + north / 60000.0, 7.0 + east / 60000.0 };
    });
    const auto zigzag = made(2000, [&](std::size_t i) { return GeoPoint { 46.0 + (i % 40 < 20 ? i % 40 : 40 - i % 40) * 500 * metre, 7.0 }; });
    const auto cloud = made(5000, [&](std::size_t) { return GeoPoint { 46.0 + 50000 * metre * unit(random), 7.0 + 72000 * metre * unit(random) }; });
    const auto south = made(8000, [&](std::size_t i) { return GeoPoint { -6.0, 30.0 + static_cast<double>(i) * 10 * metre }; });
    const auto equator = made(8000, [&](std::size_t i) { return GeoPoint { 0.0, -10.0 + static_cast<double>(i) * 10 * metre }; });
    struct Case {
        const char* name;
        const std::vector<IgcFix>& fixes;
        double freeKmPerLeg; // > 0: the best free flight, when proven, is this many km a leg
    };
    const Case cases[] = {
        { "ground jitter", jitter, 0 },
        { "zig-zag 10 km", zigzag, 500 * 20 * metre * 111.195 },
        { "random cloud", cloud, 0 },
        { "straight along 6° S", south, 0 },
        { "along the equator", equator, 0 },
    };
    for (const Case& test : cases) {
        for (const ContestRuleSet* set : { &xcontest(), &olc() }) { // triangles; the height rule
            const ContestRuleSet& rules = *set;
            SCOPED_TRACE(std::string(test.name) + ", " + std::string(rules.id));
            const auto started = std::chrono::steady_clock::now();
            const auto score = scoreFixes(test.fixes, 0, test.fixes.size() - 1, rules);
            // A few seconds on a loaded machine (several times that under the address
            // sanitizer); these shapes took from half a minute to many minutes before every
            // loop of the search was counted.
#if defined(__SANITIZE_ADDRESS__)
            constexpr double secondsAllowed = 60;
#else
            constexpr double secondsAllowed = 20;
#endif
            EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), secondsAllowed);
            ASSERT_TRUE(score);
            expectWellFormed(*score, test.fixes, rules);
            const auto& ends = test.fixes;
            const double straight = geodesicDistanceMetres({ ends.front().latitude, ends.front().longitude }, { ends.back().latitude, ends.back().longitude });
            if (test.freeKmPerLeg > 0 && score->optimal) {
                EXPECT_EQ(score->type, ContestFlightType::FreeFlight);
                EXPECT_NEAR(score->distanceMetres / 1000, test.freeKmPerLeg * publishedRules(rules).legs, 0.05);
            }
            if (&test.fixes == &south || &test.fixes == &equator) {
                EXPECT_GE(score->distanceMetres, score->optimal ? straight - 1e-3 : 0.99 * straight);
            }
        }
    }

    // Cancelled from another thread while it works on the cloud, the search returns
    // nothing, and within the second a quitting pilot waits (on two busy cores a
    // thread can sit unscheduled for a good part of that).
    const auto bigCloud = made(100000, [&](std::size_t) { return GeoPoint { 46.0 + 50000 * metre * unit(random), 7.0 + 72000 * metre * unit(random) }; });
    for (const ContestRuleSet& rules : contestRuleSets()) {
        SCOPED_TRACE(rules.id);
        const CancelToken cancel;
        std::optional<ContestScore> score;
        std::chrono::steady_clock::time_point returned;
        std::thread scorer([&] {
            score = scoreFixes(bigCloud, 0, bigCloud.size() - 1, rules, &cancel);
            returned = std::chrono::steady_clock::now();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto cancelled = std::chrono::steady_clock::now();
        cancel.cancel();
        scorer.join();
        EXPECT_FALSE(score);
        EXPECT_LT(std::chrono::duration<double>(returned - cancelled).count(), 1.0);
    }
}

// Chords bracket geodesics from below and, through the bound the search uses, from above,
// and that bound stays within a few centimetres per 100 km: all over the ellipsoid, from
// metres to 1,500 km.
TEST(ContestScore, ChordBoundsTheGeodesic)
{
    const auto& earth = GeographicLib::Geocentric::WGS84();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> latitude(-89.9, 89.9), longitude(-180, 180), unit(0, 1);
    for (int trial = 0; trial < 20000; ++trial) {
        const GeoPoint a { latitude(random), longitude(random) };
        const double reach = std::pow(10.0, 6 * unit(random)) * 1.5; // 1.5 m to 1,500 km
        const double dLat = reach / 111e3 * (2 * unit(random) - 1);
        const double dLon = reach / 111e3 * (2 * unit(random) - 1) / std::max(0.02, std::cos(geo::radians(a.latitude)));
        const GeoPoint b { std::clamp(a.latitude + dLat, -90.0, 90.0), std::remainder(a.longitude + dLon, 360.0) };
        double ax, ay, az, bx, by, bz;
        earth.Forward(a.latitude, a.longitude, 0, ax, ay, az);
        earth.Forward(b.latitude, b.longitude, 0, bx, by, bz);
        const double chord = std::hypot(ax - bx, ay - by, az - bz);
        const double geodesic = geodesicDistanceMetres(a, b);
        SCOPED_TRACE(std::to_string(a.latitude) + "," + std::to_string(a.longitude) + " to " + std::to_string(b.latitude) + ","
            + std::to_string(b.longitude));
        EXPECT_LE(chord, geodesic + 1e-8);
        EXPECT_GE(geodesicBoundFromChord(chord), geodesic);
        EXPECT_LE(geodesicBoundFromChord(chord) - geodesic, 2e-6 + 5e-7 * geodesic * (geodesic / 1e5) * (geodesic / 1e5));
    }
}

} // namespace
} // namespace corvex::flights
