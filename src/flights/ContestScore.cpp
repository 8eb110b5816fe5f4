#include "flights/ContestScore.h"

#include <GeographicLib/Geocentric.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace corvex::flights {

namespace {

// Straight chords through the WGS84 ellipsoid (earth-centred coordinates) stand for the
// geodesics while searching: a chord is shorter than its geodesic by about d³/24R², a
// metre at 100 km, so it orders candidates as the geodesic does and costs a square
// root. The chosen points are measured again with the geodesic.
struct Point {
    double x { 0 }, y { 0 }, z { 0 };
};

double chord(const Point& a, const Point& b)
{
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct Box {
    Point low { std::numeric_limits<double>::max(), std::numeric_limits<double>::max(), std::numeric_limits<double>::max() };
    Point high { std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest() };
    void add(const Point& p)
    {
        low = { std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z) };
        high = { std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z) };
    }
};

double gapBetween(double lowA, double highA, double lowB, double highB)
{
    return std::max({ 0.0, lowB - highA, lowA - highB });
}

// The shortest distance between any points of two boxes: a lower bound for the
// distance of any point of one to any point of the other.
double boxDistance(const Box& a, const Box& b)
{
    const double dx = gapBetween(a.low.x, a.high.x, b.low.x, b.high.x);
    const double dy = gapBetween(a.low.y, a.high.y, b.low.y, b.high.y);
    const double dz = gapBetween(a.low.z, a.high.z, b.low.z, b.high.z);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct TriangleRule {
    ContestFlightType type;
    double multiplier;
    double gapLimit; // share of the perimeter
    bool fai;
};

constexpr double faiShortestSide = 0.28;

std::vector<TriangleRule> triangleRules(ContestRules rules)
{
    if (rules == ContestRules::Ffvl)
        return { { ContestFlightType::FreeTriangle, 1.2, 0.05, false }, { ContestFlightType::FaiTriangle, 1.4, 0.05, true } };
    return {
        { ContestFlightType::FreeTriangle, 1.2, 0.2, false },
        { ContestFlightType::FaiTriangle, 1.4, 0.2, true },
        { ContestFlightType::ClosedFreeTriangle, 1.4, 0.05, false },
        { ContestFlightType::ClosedFaiTriangle, 1.6, 0.05, true },
    };
}

class Solver {
public:
    Solver(const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last)
    {
        const auto& earth = GeographicLib::Geocentric::WGS84();
        for (std::size_t i = first; i <= last && i < fixes.size(); ++i) {
            if (!fixes[i].valid)
                continue;
            Point p;
            earth.Forward(fixes[i].latitude, fixes[i].longitude, 0, p.x, p.y, p.z);
            m_index.push_back(i);
            m_points.push_back(p);
        }
        for (std::size_t start = 0; start < m_points.size(); start += blockSize) {
            Box box;
            for (std::size_t i = start; i < std::min(m_points.size(), start + blockSize); ++i)
                box.add(m_points[i]);
            m_blocks.push_back(box);
        }
    }

    std::size_t size() const { return m_points.size(); }

    // Free flight: the longest path through five points in time order (a repeated
    // point stands for a turnpoint not used). Exact over a thinned track by dynamic
    // programming, then again over windows of every fix around the points found.
    std::vector<std::size_t> bestFreeFlight() const
    {
        const std::size_t n = m_points.size();
        const std::size_t stride = std::max<std::size_t>(1, (n + 799) / 800);
        std::vector<std::vector<std::size_t>> layers(1);
        for (std::size_t i = 0; i < n; i += stride)
            layers[0].push_back(i);
        if (layers[0].back() != n - 1)
            layers[0].push_back(n - 1);
        layers.assign(5, layers[0]);
        auto path = longestPath(layers);
        for (int round = 0; round < 4; ++round) {
            const std::size_t radius = std::max<std::size_t>(stride, 2);
            for (std::size_t k = 0; k < 5; ++k) {
                layers[k].clear();
                const std::size_t from = path[k] > radius ? path[k] - radius : 0;
                for (std::size_t i = from; i <= std::min(n - 1, path[k] + radius); ++i)
                    layers[k].push_back(i);
            }
            const auto better = longestPath(layers);
            if (better == path)
                break;
            path = better;
        }
        return path;
    }

    struct Triangle {
        std::array<std::size_t, 3> corners {};
        double score { -1 };
    };

    // Triangles: every triangle of a thinned track, a few best of each kind refined
    // corner by corner over every fix near them.
    std::vector<std::pair<TriangleRule, Triangle>> bestTriangles(const std::vector<TriangleRule>& rules)
    {
        const std::size_t n = m_points.size();
        if (n < 3)
            return {};
        m_stride = std::max<std::size_t>(1, (n + 399) / 400);
        std::vector<std::size_t> coarse;
        for (std::size_t i = 0; i < n; i += m_stride)
            coarse.push_back(i);
        if (coarse.back() != n - 1)
            coarse.push_back(n - 1);
        const std::size_t m = coarse.size();
        std::vector<double> d(m * m);
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = i; j < m; ++j)
                d[i * m + j] = d[j * m + i] = chord(m_points[coarse[i]], m_points[coarse[j]]);
        buildClosingTable();
        // Only triangles that keep their kind's rules with the gap's upper bound: refining
        // moves corners within those rules, so the best of each kind survives refining.
        constexpr std::size_t kept = 10;
        std::vector<std::vector<Triangle>> best(rules.size());
        auto keep = [&](std::size_t r, Triangle t) {
            auto& list = best[r];
            if (list.size() == kept && list.back().score >= t.score)
                return;
            if (std::any_of(list.begin(), list.end(), [&](const Triangle& known) { return known.corners == t.corners; }))
                return;
            if (list.size() == kept)
                list.pop_back();
            list.insert(std::upper_bound(list.begin(), list.end(), t, [](const Triangle& a, const Triangle& b) { return a.score > b.score; }), t);
        };
        // toEnd[a*m+c]: the farthest point between a and c from c. With the farthest from
        // a, it bounds every triangle on a and c: a pair that cannot beat the best kept of
        // any kind is passed over without trying its middle corners.
        std::vector<double> toEnd(m * m, 0);
        for (std::size_t c = 0; c < m; ++c)
            for (std::size_t a = c; a-- > 0;)
                toEnd[a * m + c] = a + 1 < c ? std::max(toEnd[(a + 1) * m + c], d[(a + 1) * m + c]) : 0;
        // A first pass over every fourth point fills the lists, so that the full pass
        // passes over most pairs from the start.
        for (const std::size_t step : { std::size_t { 4 }, std::size_t { 1 } }) {
            for (std::size_t a = 0; a < m; a += step) {
                double fromStart = 0;
                std::size_t seen = a + 1; // points up to here are in fromStart
                for (std::size_t c = a + 2; c < m; c += step) {
                    for (; seen < c; ++seen)
                        fromStart = std::max(fromStart, d[a * m + seen]);
                    const double ac = d[a * m + c];
                    const double gap = closingBound(coarse[a], coarse[c]);
                    const double most = ac + fromStart + toEnd[a * m + c];
                    bool hopeless = true;
                    for (std::size_t r = 0; r < rules.size() && hopeless; ++r)
                        hopeless = gap > rules[r].gapLimit * most
                            || (best[r].size() == kept && rules[r].multiplier * (most - gap) <= best[r].back().score);
                    if (hopeless)
                        continue;
                    for (std::size_t b = a + 1; b < c; b += step) {
                        const double ab = d[a * m + b], bc = d[b * m + c];
                        const double perimeter = ab + bc + ac;
                        const double shortest = std::min({ ab, bc, ac });
                        for (std::size_t r = 0; r < rules.size(); ++r) {
                            if (gap > rules[r].gapLimit * perimeter)
                                continue;
                            if (rules[r].fai && shortest < faiShortestSide * perimeter)
                                continue;
                            const double score = rules[r].multiplier * (perimeter - gap);
                            if (best[r].size() < kept || score > best[r].back().score)
                                keep(r, { { coarse[a], coarse[b], coarse[c] }, score });
                        }
                    }
                }
            }
        }
        std::vector<std::pair<TriangleRule, Triangle>> found;
        for (std::size_t r = 0; r < rules.size(); ++r) {
            std::vector<Triangle> refined;
            for (const Triangle& t : best[r])
                if (auto better = refine(rules[r], t); better && std::find_if(refined.begin(), refined.end(), [&](const Triangle& known) { return known.corners == better->corners; }) == refined.end())
                    refined.push_back(*better);
            std::sort(refined.begin(), refined.end(), [](const Triangle& x, const Triangle& y) { return x.score > y.score; });
            for (std::size_t k = 0; k < std::min<std::size_t>(3, refined.size()); ++k)
                found.emplace_back(rules[r], polish(rules[r], refined[k]));
        }
        return found;
    }

    // The shortest distance between a point up to `a` and a point from `c` on, and
    // those points: box pairs of blocks that cannot beat the best so far are skipped.
    std::pair<std::size_t, std::size_t> closingPoints(std::size_t a, std::size_t c) const
    {
        double best = chord(m_points[a], m_points[c]);
        std::pair<std::size_t, std::size_t> pair { a, c };
        const std::size_t lastBlockA = a / blockSize;
        for (std::size_t ba = 0; ba <= lastBlockA; ++ba)
            for (std::size_t bc = c / blockSize; bc < m_blocks.size(); ++bc) {
                if (boxDistance(m_blocks[ba], m_blocks[bc]) >= best)
                    continue;
                for (std::size_t i = ba * blockSize; i <= std::min(a, (ba + 1) * blockSize - 1); ++i)
                    for (std::size_t j = std::max(c, bc * blockSize); j < std::min(m_points.size(), (bc + 1) * blockSize); ++j) {
                        const double distance = chord(m_points[i], m_points[j]);
                        if (distance < best) {
                            best = distance;
                            pair = { i, j };
                        }
                    }
            }
        return pair;
    }

    std::size_t fixIndex(std::size_t point) const { return m_index[point]; }

    // The shortest distance from p to the points lo..hi, when shorter than `bound`.
    double nearest(const Point& p, std::size_t lo, std::size_t hi, double bound) const
    {
        Box at;
        at.add(p);
        for (std::size_t block = lo / blockSize; block <= hi / blockSize && block < m_blocks.size(); ++block) {
            if (boxDistance(at, m_blocks[block]) >= bound)
                continue;
            for (std::size_t i = std::max(lo, block * blockSize); i <= std::min(hi, (block + 1) * blockSize - 1); ++i)
                bound = std::min(bound, chord(p, m_points[i]));
        }
        return bound;
    }

    double exactGap(std::size_t a, std::size_t c) const
    {
        const auto [s, e] = closingPoints(a, c);
        return chord(m_points[s], m_points[e]);
    }

    // The last steps with the exact gap instead of its bound: where the gap rule binds,
    // the bound's few hundred metres decide. Moving the first corner later or the last one
    // earlier only adds candidate points to the gap, so it is kept up to date point by point.
    Triangle polish(const TriangleRule& rule, Triangle t) const
    {
        const std::size_t n = m_points.size();
        auto evaluate = [&](const std::array<std::size_t, 3>& p, double gap) {
            const double ab = chord(m_points[p[0]], m_points[p[1]]), bc = chord(m_points[p[1]], m_points[p[2]]),
                         ac = chord(m_points[p[0]], m_points[p[2]]);
            const double perimeter = ab + bc + ac;
            if (gap > rule.gapLimit * perimeter)
                return -1.0;
            if (rule.fai && std::min({ ab, bc, ac }) < faiShortestSide * perimeter)
                return -1.0;
            return perimeter - gap;
        };
        auto corners = t.corners;
        double score = evaluate(corners, exactGap(corners[0], corners[2]));
        const std::size_t radius = 2 * m_closingStride + 2;
        for (int round = 0; round < 4; ++round) {
            bool moved = false;
            {
                const std::size_t low = corners[0] > radius ? corners[0] - radius : 0;
                const std::size_t high = std::min(corners[1] - 1, corners[0] + radius);
                double gap = exactGap(low, corners[2]);
                auto best = corners;
                for (std::size_t i = low; i <= high; ++i) {
                    gap = nearest(m_points[i], corners[2], n - 1, gap);
                    auto trial = corners;
                    trial[0] = i;
                    if (const double value = evaluate(trial, gap); value > score) {
                        score = value;
                        best = trial;
                    }
                }
                moved |= best != corners;
                corners = best;
            }
            {
                const double gap = exactGap(corners[0], corners[2]);
                auto best = corners;
                for (std::size_t i = corners[0] + 1; i < corners[2]; ++i) {
                    auto trial = corners;
                    trial[1] = i;
                    if (const double value = evaluate(trial, gap); value > score) {
                        score = value;
                        best = trial;
                    }
                }
                moved |= best != corners;
                corners = best;
            }
            {
                const std::size_t low = std::max(corners[1] + 1, corners[2] > radius ? corners[2] - radius : 0);
                const std::size_t high = std::min(n - 1, corners[2] + radius);
                double gap = exactGap(corners[0], high);
                auto best = corners;
                for (std::size_t i = high + 1; i-- > low;) {
                    gap = nearest(m_points[i], 0, corners[0], gap);
                    auto trial = corners;
                    trial[2] = i;
                    if (const double value = evaluate(trial, gap); value > score) {
                        score = value;
                        best = trial;
                    }
                }
                moved |= best != corners;
                corners = best;
            }
            if (!moved)
                break;
        }
        return { corners, score };
    }

private:
    static constexpr std::size_t blockSize = 32;

    std::vector<std::size_t> longestPath(const std::vector<std::vector<std::size_t>>& layers) const
    {
        // value[k][i]: the longest path ending in layer k's i-th point.
        std::vector<std::vector<double>> value(layers.size());
        std::vector<std::vector<std::size_t>> from(layers.size());
        value[0].assign(layers[0].size(), 0);
        from[0].assign(layers[0].size(), 0);
        for (std::size_t k = 1; k < layers.size(); ++k) {
            value[k].assign(layers[k].size(), -1);
            from[k].assign(layers[k].size(), 0);
            for (std::size_t j = 0; j < layers[k].size(); ++j)
                for (std::size_t i = 0; i < layers[k - 1].size(); ++i) {
                    if (layers[k - 1][i] > layers[k][j] || value[k - 1][i] < 0)
                        continue;
                    const double length = value[k - 1][i] + chord(m_points[layers[k - 1][i]], m_points[layers[k][j]]);
                    if (length > value[k][j]) {
                        value[k][j] = length;
                        from[k][j] = i;
                    }
                }
        }
        const std::size_t last = layers.size() - 1;
        std::size_t j = static_cast<std::size_t>(std::max_element(value[last].begin(), value[last].end()) - value[last].begin());
        std::vector<std::size_t> path(layers.size());
        for (std::size_t k = layers.size(); k-- > 0;) {
            path[k] = layers[k][j];
            j = from[k][j];
        }
        return path;
    }

    // closing[i][j]: the shortest distance from a point up to i to a point from j on,
    // over a track thinned less than for the corners: the gap decides between kinds of
    // triangle and is worth more resolution.
    void buildClosingTable()
    {
        const std::size_t n = m_points.size();
        m_closingStride = std::max<std::size_t>(1, (n + 1199) / 1200);
        m_closingCount = (n - 1 + m_closingStride - 1) / m_closingStride + 1;
        const std::size_t m = m_closingCount;
        auto pointAt = [&](std::size_t k) { return m_points[std::min(n - 1, k * m_closingStride)]; };
        m_closing.assign(m * m, 0);
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = m; j-- > i;) {
                float value = static_cast<float>(chord(pointAt(i), pointAt(j)));
                if (i > 0)
                    value = std::min(value, m_closing[(i - 1) * m + j]);
                if (j + 1 < m)
                    value = std::min(value, m_closing[i * m + j + 1]);
                m_closing[i * m + j] = value;
            }
    }

    // A bound of the closing gap of corners a and c from the table: of the points it
    // holds, those up to a and those from c on.
    double closingBound(std::size_t a, std::size_t c) const
    {
        const std::size_t ca = a / m_closingStride;
        const std::size_t cc = std::min(m_closingCount - 1, (c + m_closingStride - 1) / m_closingStride);
        return m_closing[ca * m_closingCount + cc] + 1; // a metre over float rounding
    }

    std::optional<Triangle> refine(const TriangleRule& rule, Triangle t) const
    {
        auto evaluate = [&](const std::array<std::size_t, 3>& p) {
            const double ab = chord(m_points[p[0]], m_points[p[1]]), bc = chord(m_points[p[1]], m_points[p[2]]),
                         ac = chord(m_points[p[0]], m_points[p[2]]);
            const double perimeter = ab + bc + ac;
            const double gap = closingBound(p[0], p[2]);
            if (gap > rule.gapLimit * perimeter)
                return -1.0;
            if (rule.fai && std::min({ ab, bc, ac }) < faiShortestSide * perimeter)
                return -1.0;
            return perimeter - gap;
        };
        std::array<std::size_t, 3> corners = t.corners;
        double score = evaluate(corners);
        const std::size_t radius = 2 * m_stride + 1;
        for (int round = 0; round < 8; ++round) {
            bool moved = false;
            for (std::size_t k = 0; k < 3; ++k) {
                const std::size_t low = k == 0 ? 0 : corners[k - 1] + 1;
                const std::size_t high = k == 2 ? m_points.size() - 1 : corners[k + 1] - 1;
                const std::size_t from = std::max(low, corners[k] > radius ? corners[k] - radius : 0);
                const std::size_t to = std::min(high, corners[k] + radius);
                for (std::size_t i = from; i <= to; ++i) {
                    auto trial = corners;
                    trial[k] = i;
                    const double value = evaluate(trial);
                    if (value > score) {
                        score = value;
                        corners = trial;
                        moved = true;
                    }
                }
            }
            if (!moved)
                break;
        }
        if (score < 0)
            return std::nullopt;
        return Triangle { corners, score };
    }

    std::vector<std::size_t> m_index; // point → fix
    std::vector<Point> m_points;
    std::vector<Box> m_blocks;
    std::size_t m_stride { 1 }, m_closingStride { 1 }, m_closingCount { 0 };
    std::vector<float> m_closing;
};

ContestPoint pointOf(const std::vector<IgcFix>& fixes, std::size_t index)
{
    return { index, fixes[index].time, fixes[index].latitude, fixes[index].longitude };
}

double geodesic(const ContestPoint& a, const ContestPoint& b)
{
    return geodesicDistanceMetres({ a.latitude, a.longitude }, { b.latitude, b.longitude });
}

} // namespace

std::string_view contestTypeName(ContestFlightType type)
{
    switch (type) {
    case ContestFlightType::FreeFlight:
        return "free_flight";
    case ContestFlightType::FreeTriangle:
        return "free_triangle";
    case ContestFlightType::FaiTriangle:
        return "fai_triangle";
    case ContestFlightType::ClosedFreeTriangle:
        return "closed_free_triangle";
    case ContestFlightType::ClosedFaiTriangle:
        return "closed_fai_triangle";
    }
    return "free_flight";
}

std::optional<ContestScore> scoreFixes(const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last, ContestRules rules)
{
    Solver solver(fixes, first, last);
    if (solver.size() < 2)
        return std::nullopt;

    ContestScore best;
    best.type = ContestFlightType::FreeFlight;
    best.multiplier = 1;
    for (const std::size_t point : solver.bestFreeFlight()) {
        const ContestPoint p = pointOf(fixes, solver.fixIndex(point));
        if (!best.turnpoints.empty() && best.turnpoints.back().fixIndex == p.fixIndex)
            continue;
        if (!best.turnpoints.empty())
            best.distanceMetres += geodesic(best.turnpoints.back(), p);
        best.turnpoints.push_back(p);
    }
    if (best.turnpoints.size() == 1)
        best.turnpoints.push_back(best.turnpoints.front());
    best.points = best.distanceMetres / 1000 * best.multiplier;

    for (const auto& [rule, triangle] : solver.bestTriangles(triangleRules(rules))) {
        ContestScore candidate;
        candidate.type = rule.type;
        candidate.multiplier = rule.multiplier;
        for (const std::size_t corner : triangle.corners)
            candidate.turnpoints.push_back(pointOf(fixes, solver.fixIndex(corner)));
        const auto [start, end] = solver.closingPoints(triangle.corners[0], triangle.corners[2]);
        candidate.closingStart = pointOf(fixes, solver.fixIndex(start));
        candidate.closingEnd = pointOf(fixes, solver.fixIndex(end));
        const auto& t = candidate.turnpoints;
        const std::array<double, 3> sides { geodesic(t[0], t[1]), geodesic(t[1], t[2]), geodesic(t[2], t[0]) };
        const double perimeter = sides[0] + sides[1] + sides[2];
        candidate.closingMetres = geodesic(*candidate.closingStart, *candidate.closingEnd);
        if (candidate.closingMetres > rule.gapLimit * perimeter)
            continue;
        if (rule.fai && *std::min_element(sides.begin(), sides.end()) < faiShortestSide * perimeter)
            continue;
        candidate.distanceMetres = perimeter - candidate.closingMetres;
        candidate.points = candidate.distanceMetres / 1000 * candidate.multiplier;
        if (candidate.points > best.points)
            best = candidate;
    }
    return best;
}

std::optional<ContestScore> scoreFlight(const IgcFlight& flight, ContestRules rules)
{
    // Every valid fix counts, as other scorers count them: a take-off found from movement
    // can start after the first climb out of a slow launch and cost the free distance.
    if (flight.fixes.empty())
        return std::nullopt;
    return scoreFixes(flight.fixes, 0, flight.fixes.size() - 1, rules);
}

} // namespace corvex::flights
