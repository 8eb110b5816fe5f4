// The contest score against flights whose best path is known by hand, and against an
// exhaustive search (every triangle, every five-point path) on small tracks.
#include "flights/ContestScore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace corvex::flights {
namespace {

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

// Every path and every triangle over all fixes, geodesic throughout.
double exhaustivePoints(const std::vector<IgcFix>& fixes, ContestRules rules)
{
    const std::size_t n = fixes.size();
    std::vector<double> d(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            d[i * n + j] = geodesicDistanceMetres({ fixes[i].latitude, fixes[i].longitude }, { fixes[j].latitude, fixes[j].longitude });
    std::vector<double> path(n, 0);
    for (int leg = 0; leg < 4; ++leg) {
        std::vector<double> next(n, 0);
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = 0; i <= j; ++i)
                next[j] = std::max(next[j], path[i] + d[i * n + j]);
        path = next;
    }
    double best = *std::max_element(path.begin(), path.end()) / 1000;
    struct Rule {
        double multiplier, gap;
        bool fai;
    };
    const std::vector<Rule> triangles = rules == ContestRules::Ffvl
        ? std::vector<Rule> { { 1.2, 0.05, false }, { 1.4, 0.05, true } }
        : std::vector<Rule> { { 1.2, 0.2, false }, { 1.4, 0.2, true }, { 1.4, 0.05, false }, { 1.6, 0.05, true } };
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t c = a + 2; c < n; ++c) {
            double gap = 1e12;
            for (std::size_t s = 0; s <= a; ++s)
                for (std::size_t e = c; e < n; ++e)
                    gap = std::min(gap, d[s * n + e]);
            for (std::size_t b = a + 1; b < c; ++b) {
                const std::array<double, 3> sides { d[a * n + b], d[b * n + c], d[a * n + c] };
                const double perimeter = sides[0] + sides[1] + sides[2];
                for (const Rule& rule : triangles)
                    if (gap <= rule.gap * perimeter && (!rule.fai || *std::min_element(sides.begin(), sides.end()) >= 0.28 * perimeter))
                        best = std::max(best, rule.multiplier * (perimeter - gap) / 1000);
            }
        }
    return best;
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
        ContestRules rules;
        const char* type;
        double distanceKm; // 0: only against the exhaustive search
    };
    const Case cases[] = {
        { "straight line", { { 46.0, 7.0 }, { 46.4, 7.1 } }, ContestRules::XContest, "free_flight",
            geodesicDistanceMetres({ 46.0, 7.0 }, { 46.4, 7.1 }) / 1000 },
        { "closed equilateral", { a, b, c, a }, ContestRules::XContest, "closed_fai_triangle", perimeter / 1000 },
        { "gap of 4 %", { a, b, c, towardsA(0.04) }, ContestRules::XContest, "closed_fai_triangle", 0 },
        { "gap of 12 %", { a, b, c, towardsA(0.12) }, ContestRules::XContest, "fai_triangle", 0 },
        { "gap of 12 %, FFVL", { a, b, c, towardsA(0.12) }, ContestRules::Ffvl, "free_flight", 0 },
        { "closed flat triangle", { { 46.0, 7.0 }, { 46.0, 7.4 }, { 46.02, 7.2 }, { 46.0, 7.0 } }, ContestRules::XContest,
            "closed_free_triangle", 0 },
        // The way back stays 5 km off the way out: no sub-triangle closes within 5 %.
        { "flat triangle, gap of 8 %", { { 46.0, 7.0 }, { 46.0, 7.39 }, { 46.063, 7.284 }, { 46.047, 7.0 } },
            ContestRules::XContest, "free_triangle", 0 },
        { "closed FAI, FFVL", { a, b, c, a }, ContestRules::Ffvl, "fai_triangle", perimeter / 1000 },
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
        EXPECT_NEAR(score->points, exhaustivePoints(fixes, test.rules), 1e-3);
        EXPECT_NEAR(score->points, score->distanceMetres / 1000 * score->multiplier, 1e-9);
        // Turnpoints in time order, as the fixes give them; a triangle closes around its corners.
        for (std::size_t k = 0; k < score->turnpoints.size(); ++k) {
            const ContestPoint& point = score->turnpoints[k];
            EXPECT_EQ(point.time, fixes[point.fixIndex].time);
            EXPECT_EQ(point.latitude, fixes[point.fixIndex].latitude);
            if (k > 0) {
                EXPECT_LT(score->turnpoints[k - 1].fixIndex, point.fixIndex);
            }
        }
        const bool triangle = score->type != ContestFlightType::FreeFlight;
        ASSERT_EQ(score->turnpoints.size() == 3 && score->closingStart && score->closingEnd, triangle);
        if (triangle) {
            EXPECT_LE(score->closingStart->fixIndex, score->turnpoints.front().fixIndex);
            EXPECT_GE(score->closingEnd->fixIndex, score->turnpoints.back().fixIndex);
        }
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
        const auto score = scoreFixes(line, test.first, test.last, ContestRules::XContest);
        ASSERT_EQ(score.has_value(), test.km >= 0);
        if (score) {
            EXPECT_NEAR(score->distanceMetres / 1000, test.km, 1e-3);
        }
    }
    EXPECT_FALSE(scoreFixes({}, 0, 0, ContestRules::Ffvl));
}

TEST(ContestScore, RealFlightMatchesTheExhaustiveSearchOnAThinnedCopy)
{
    const auto flight = readIgcFile(CORVEX_TESTDATA_DIR "/igc/0asljd01.igc");
    ASSERT_TRUE(flight);
    const FlightFigures figures = computeFigures(*flight);
    std::vector<IgcFix> thinned;
    const std::size_t step = std::max<std::size_t>(1, (figures.landingIndex - figures.takeoffIndex) / 150);
    for (std::size_t i = figures.takeoffIndex; i <= figures.landingIndex; i += step)
        if (flight->fixes[i].valid)
            thinned.push_back(flight->fixes[i]);
    for (const ContestRules rules : { ContestRules::XContest, ContestRules::Ffvl }) {
        const auto score = scoreFixes(thinned, 0, thinned.size() - 1, rules);
        ASSERT_TRUE(score);
        EXPECT_NEAR(score->points, exhaustivePoints(thinned, rules), 1e-3);
    }
    // The whole flight scores at least its thinned copy, the best kind of flight included.
    const auto whole = scoreFlight(*flight, ContestRules::XContest);
    ASSERT_TRUE(whole);
    EXPECT_GE(whole->points, exhaustivePoints(thinned, ContestRules::XContest) - 1e-3);
    for (const ContestPoint& point : whole->turnpoints) {
        EXPECT_GE(point.fixIndex, figures.takeoffIndex);
        EXPECT_LE(point.fixIndex, figures.landingIndex);
        EXPECT_EQ(point.time, flight->fixes[point.fixIndex].time);
    }
}

} // namespace
} // namespace corvex::flights
