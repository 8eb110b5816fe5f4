#include "flights/ContestScore.h"

#include "base/VectorState.h"

#include <GeographicLib/Geocentric.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <queue>
#include <unordered_map>

// How the best score is found, and why it is the best over every valid fix.
//
// Searching works on straight chords through the WGS84 ellipsoid (earth-centred
// coordinates): cheap, and they bracket the geodesic tightly. A chord is never longer
// than its geodesic. The other way, the geodesic is a curve of curvature at most 1/M
// (M = b²/a, the smallest radius of curvature of the ellipsoid, 6335 km), and a curve of
// bounded curvature is at most as long as the circular arc of that radius over the same
// chord (Schur's comparison theorem): geodesic ≤ 2M·asin(c/2M) ≤ upper(c) below. So a
// bound built from chord maxima through upper() bounds geodesics, and one built from
// chord minima bounds them from below; only candidates that may beat the best found are
// ever measured with the geodesic, and the figures reported are all geodesic.
//
// Ranges of fixes are the nodes of a binary tree over the fixes' order, each with the
// box that holds its points; the farthest and the nearest points of two boxes bound
// every distance between the two ranges.
//
// Free flight (start, up to the rule set's number of turnpoints, end, in time order):
// dynamic programming over every fix, best[k][j] = the longest path of k legs ending at
// fix j (upper()
// lengths; a repeated fix is a turnpoint not used). Each step max over i ≤ j of
// best[k-1][i] + upper(i, j) is a search down the tree, a range passed over when its
// bound cannot beat the best so far. Two bounds per range: the farthest point of its box
// plus its largest best[k-1], and, through the range's last fix r, the largest
// best[k-1][i] + chord(i, r) plus chord(r, j) (tight where the track runs straight, where
// many earlier fixes give nearly the same value). A path reached first (the same search
// over about 2,048 evenly spread fixes, on tracks of twice that or more) prunes it: a fix whose
// best k legs plus a bound of the legs still to come cannot beat that path is left out
// of layer k. The path of the largest upper() length is then measured with geodesics,
// and every other path whose upper() length still exceeds the best measured is listed,
// best bound first, and measured too.
//
// A height rule (the finish at most so many metres below the start, the OLC's 1000 m)
// couples only the two ends. The search above runs over a set of starts (an altitude
// interval) and a set of finishes; its bounds ignore the rule, so they stay bounds, and
// a path is only taken, and a start only added to a partial path, when the rule admits
// it. Finishes are searched in bands of altitude: the starts all of a band admit need no
// check; those only some admit are searched with a small work limit, and where that is
// reached the band is split (bestFreeFlightUnderHeightRule). Each band's search leaves a
// bound per finish that lets its halves be passed over once a path as long is found.
//
// Triangles: best-first branch and bound over triples of ranges (first, middle, last
// corner), one search for every kind. A triple's bound is the largest of the kinds'
// multiplier × (the farthest perimeter − the closing gap of the range's last first
// corner and first last corner) over the kinds whose rules a triangle in the triple may
// still keep: the gap may not exceed its share of the farthest perimeter, and an FAI
// triangle needs a side that may reach 28 % of the nearest perimeter (and its perimeter
// is at most its shortest farthest side / 0.28). The triple with the highest bound is
// split at its widest range; a triple of single fixes is measured with geodesics. The
// search ends when no triple's bound beats the best score.
//
// Order: the free flight over about 512 ranges first gives an upper bound and a path
// reached. Triangles are searched to beat that path; the exact free flight, the costlier
// search on long straight flights, is searched only when the best triangle does not beat
// its upper bound. "Beat" means by more than a millimetre (`tolerance`).
//
// The closing gap of corners a and c, the shortest distance from a fix up to a to a fix
// from c on, is a search of pairs of ranges pruned by their boxes' nearest points; it
// only shrinks as a moves later or c earlier, which is why the gap of the range's last
// first corner and first last corner bounds every triangle of the triple.
namespace corvex::flights {

// Below 2,000 km the cubic term of 2M·asin(c/2M) taken with a radius 1 % under M covers
// every higher term; a micrometre covers rounding.
double geodesicBoundFromChord(double chordMetres)
{
    constexpr double smallestRadius = 6335439.0; // b²/a of WGS84, rounded down
    constexpr double cubicRadius = smallestRadius / 1.01;
    if (chordMetres < 2e6)
        return chordMetres + chordMetres * chordMetres * chordMetres / (24 * cubicRadius * cubicRadius) + 1e-6;
    return 2 * smallestRadius * std::asin(std::min(1.0, chordMetres / (2 * smallestRadius))) * (1 + 1e-9) + 1e-6;
}

namespace {

struct Point {
    double x { 0 }, y { 0 }, z { 0 };
};

double chord(const Point& a, const Point& b)
{
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The longest a geodesic over a chord can be (see above).
double upper(double chordMetres)
{
    return geodesicBoundFromChord(chordMetres);
}

struct Box {
    Point low { std::numeric_limits<double>::max(), std::numeric_limits<double>::max(), std::numeric_limits<double>::max() };
    Point high { std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest() };
    void add(const Point& p)
    {
        low = { std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z) };
        high = { std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z) };
    }
    void add(const Box& b)
    {
        add(b.low);
        add(b.high);
    }
    double diagonal() const { return chord(low, high); }
};

double nearest(const Box& a, const Box& b)
{
    auto gap = [](double lowA, double highA, double lowB, double highB) { return std::max({ 0.0, lowB - highA, lowA - highB }); };
    const double dx = gap(a.low.x, a.high.x, b.low.x, b.high.x), dy = gap(a.low.y, a.high.y, b.low.y, b.high.y),
                 dz = gap(a.low.z, a.high.z, b.low.z, b.high.z);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double farthest(const Box& a, const Box& b)
{
    auto span = [](double lowA, double highA, double lowB, double highB) { return std::max(highB - lowA, highA - lowB); };
    const double dx = span(a.low.x, a.high.x, b.low.x, b.high.x), dy = span(a.low.y, a.high.y, b.low.y, b.high.y),
                 dz = span(a.low.z, a.high.z, b.low.z, b.high.z);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double farthest(const Box& a, const Point& p)
{
    const double dx = std::max(p.x - a.low.x, a.high.x - p.x), dy = std::max(p.y - a.low.y, a.high.y - p.y),
                 dz = std::max(p.z - a.low.z, a.high.z - p.z);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct TriangleRule {
    ContestFlightType type;
    double multiplier;
    double gapLimit; // share of the perimeter
    bool fai;
    // A gap up to this many metres closes the triangle whatever its perimeter, and is not
    // taken off its distance (the FFVL's 3 km).
    double gapFreeMetres { 0 };

    bool closes(double gap, double perimeter) const { return gap <= std::max(gapFreeMetres, gapLimit * perimeter); }
    // What the gap takes off the perimeter; it only grows with the gap, so the smallest
    // gap of a range of triangles bounds theirs.
    double deduction(double gap) const { return gap > gapFreeMetres ? gap : 0; }
};

constexpr double faiShortestSide = 0.28;

std::vector<TriangleRule> triangleRules(const ContestRuleSet& rules)
{
    std::vector<TriangleRule> triangles;
    for (const ContestTriangleRule& t : rules.triangles)
        triangles.push_back({ t.type, t.multiplier, t.closing.shareOfPerimeter, t.fai, t.closing.freeMetres });
    return triangles;
}

// Scores are proven best to this many metres (× multiplier): finer than the fixes' own
// resolution (a thousandth of a minute, 1.85 m), and coarse enough that paths along a
// straight line, whose lengths tie to rounding, need not all be measured.
constexpr double tolerance = 1e-3;

// Past this many steps a search keeps the best it found and says it is not proven best:
// far above what igc-xc-score's 33 test flights take (at most 23,062 triples, 57 paths),
// reached where paths tie to the millimetre by the thousand (every fix on one geodesic).
constexpr std::size_t triangleWorkLimit = 1'000'000;
constexpr std::size_t freeFlightWorkLimit = 10'000;
// Under the height rule a band of finishes that can still be split stops sooner; past
// this many searches of bands the best path found is kept, not proven best (work.igc of
// igc-xc-score's flights, launched 2,900 m above its lowest fix, takes about 110).
constexpr std::size_t splitWorkLimit = 100;
constexpr std::size_t heightRuleSearchLimit = 1'000;

// About this many fixes make the coarse track whose free flight prunes the exact search.
constexpr std::size_t coarseFixes = 2048;

// Thrown out of the search when its caller cancelled it: nothing of it is wanted.
struct ScoringCancelled { };

// Every loop of the search charges one budget for each fix, range, pair of ranges or
// triple it looks at (weighted by what looking costs: 1 to 5 ns a step), so that a track
// that is no flight (a logger left on the ground, a zig-zag, a cloud of random fixes),
// where the bounds prune little, still ends in seconds: past its share a search keeps
// the best it found, not proven best. The triangles may take half, the coarse free
// flight an eighth, the exact free flight the rest. igc-xc-score's 33 test flights take
// at most 1.2 billion (work.igc under the OLC's height rule, 6 s), all others under 0.3.
constexpr std::size_t stepLimit = 2'000'000'000;
// The list of partial paths of the free flight holds at most this many (32 bytes each,
// 8 more in its queue): on long straight flights, where paths tie by the million, it
// would otherwise grow without bound; the search ends there, not proven best.
constexpr std::size_t partialLimit = 1 << 20;
// Past this many valid fixes (73 hours at a fix a second) only every so many count, so
// that the search's memory stays under 200 MB whatever file it is given; a score of
// such a track is not proven best.
constexpr std::size_t searchedFixes = 1 << 18;
// The closing gaps known are forgotten past this many, to be found again when asked.
constexpr std::size_t closingCacheLimit = 1 << 20;

// Thrown out of a search that has spent its share of the budget.
struct WorkSpent { };

class WorkBudget {
public:
    explicit WorkBudget(const CancelToken* cancel)
        : m_cancel(cancel)
    {
    }

    void charge(std::size_t steps = 1)
    {
        m_spent += steps;
        if (m_spent >= m_nextCheck)
            check();
    }
    // Asked between the steps of every search too, so that a window closed while its
    // flight is scored waits for no more than a step.
    void stopIfCancelled() const
    {
        if (m_cancel && m_cancel->isCancelled())
            throw ScoringCancelled {};
    }
    bool spent() const { return m_spent >= m_limit; }

    // While it lives, the search may spend at most `steps` more (and nothing past the
    // share of a search it is part of).
    class Share {
    public:
        Share(WorkBudget& budget, std::size_t steps)
            : m_budget(budget)
            , m_saved(budget.m_limit)
        {
            budget.m_limit = std::min(m_saved, budget.m_spent + steps);
        }
        ~Share() { m_budget.m_limit = m_saved; }
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

    private:
        WorkBudget& m_budget;
        std::size_t m_saved;
    };

private:
    // The cancel flag is an atomic load: asked every few thousand steps, not every one.
    void check()
    {
        m_nextCheck = m_spent + 4096;
        stopIfCancelled();
        if (m_spent >= m_limit)
            throw WorkSpent {};
    }

    const CancelToken* m_cancel;
    std::size_t m_spent { 0 };
    std::size_t m_limit { stepLimit };
    std::size_t m_nextCheck { 4096 };
};

class Solver {
public:
    Solver(const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last, const ContestRuleSet& rules, WorkBudget& budget)
        : m_budget(&budget)
        , m_legs(rules.freeFlightTurnpoints + 1)
        , m_heightRule(rules.finishBelowStartMetres)
    {
        // The height rule reads the pressure altitude, the barometer's, which recorders
        // calibrate to the standard atmosphere as the contests' rules expect; only a flight
        // without any (every fix at 0) falls back on the GNSS altitude.
        const std::size_t end = std::min(last + 1, fixes.size());
        bool pressure = false;
        for (std::size_t i = first; i < end && !pressure; ++i)
            pressure = fixes[i].valid && fixes[i].pressureAltitude != 0;
        auto altitude = [&](std::size_t i) { return pressure ? fixes[i].pressureAltitude : fixes[i].gnssAltitude; };
        // Of fixes in a row at the very same place only the first and the last count: a
        // path through any of them can take the first instead, and a triangle the first
        // for an earlier corner and the last for a later one, with the same closing gap
        // (time order and the places before and after are kept). Under the height rule the
        // lowest and the highest of the row count too: the best start there and the best
        // finish.
        std::vector<std::size_t> row;
        auto addRow = [&] {
            if (row.empty())
                return;
            std::vector<std::size_t> kept { row.front(), row.back() };
            if (m_heightRule) {
                auto lower = [&](std::size_t a, std::size_t b) { return altitude(a) < altitude(b); };
                kept.push_back(*std::min_element(row.begin(), row.end(), lower));
                kept.push_back(*std::max_element(row.begin(), row.end(), lower));
            }
            std::sort(kept.begin(), kept.end());
            kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
            for (const std::size_t i : kept)
                add(fixes, i, altitude(i));
            row.clear();
        };
        std::size_t valid = 0;
        for (std::size_t i = first; i < end; ++i)
            valid += fixes[i].valid ? 1 : 0;
        const std::size_t stride = (valid + searchedFixes - 1) / searchedFixes;
        m_thinned = stride > 1;
        for (std::size_t i = first; i < end; ++i) {
            if (!fixes[i].valid || (m_thinned && (i - first) % stride != 0))
                continue;
            if (!row.empty() && fixes[row.front()].latitude == fixes[i].latitude && fixes[row.front()].longitude == fixes[i].longitude) {
                row.push_back(i);
                continue;
            }
            addRow();
            row.push_back(i);
        }
        addRow();
        buildTree();
    }

    void stopIfCancelled() const { m_budget->stopIfCancelled(); }
    void charge(std::size_t steps = 1) const { m_budget->charge(steps); }
    // The free flight's walks down the tree of every fix: once the tree outgrows the
    // processor's caches each step costs more (a cloud of random fixes, where no range
    // is passed over, runs about three times slower a step over 200,000 fixes than over
    // 10,000), and is charged more.
    void chargeTree(std::size_t steps) const { m_budget->charge(steps * (1 + m_leaves / 65536)); }
    WorkBudget& budget() const { return *m_budget; }

    void add(const std::vector<IgcFix>& fixes, std::size_t i, double altitude)
    {
        Point p;
        GeographicLib::Geocentric::WGS84().Forward(fixes[i].latitude, fixes[i].longitude, 0, p.x, p.y, p.z);
        m_index.push_back(i);
        m_points.push_back(p);
        m_geo.push_back({ fixes[i].latitude, fixes[i].longitude });
        m_alt.push_back(altitude);
    }

    // Every `stride`-th fix of another solver's: its paths are paths of the other's.
    Solver(const Solver& finer, std::size_t stride)
        : m_budget(finer.m_budget)
        , m_legs(finer.m_legs)
        , m_heightRule(finer.m_heightRule)
    {
        for (std::size_t i = 0; i < finer.size(); i += stride) {
            m_index.push_back(i);
            m_points.push_back(finer.m_points[i]);
            m_geo.push_back(finer.m_geo[i]);
            m_alt.push_back(finer.m_alt[i]);
        }
        buildTree();
    }

    void buildTree()
    {
        const std::size_t n = m_points.size();
        if (n == 0)
            return;
        m_leaves = std::bit_ceil(n);
        m_boxes.resize(2 * m_leaves);
        m_low.assign(2 * m_leaves, std::numeric_limits<std::uint32_t>::max());
        m_high.assign(2 * m_leaves, 0);
        for (std::size_t i = 0; i < n; ++i) {
            m_boxes[m_leaves + i].add(m_points[i]);
            m_low[m_leaves + i] = m_high[m_leaves + i] = static_cast<std::uint32_t>(i);
        }
        for (std::size_t node = m_leaves; node-- > 1;) {
            m_boxes[node] = m_boxes[2 * node];
            if (!empty(static_cast<std::uint32_t>(2 * node + 1)))
                m_boxes[node].add(m_boxes[2 * node + 1]);
            m_low[node] = std::min(m_low[2 * node], m_low[2 * node + 1]);
            m_high[node] = m_low[2 * node + 1] == std::numeric_limits<std::uint32_t>::max() ? m_high[2 * node] : m_high[2 * node + 1];
        }
    }

    std::size_t size() const { return m_points.size(); }
    bool thinned() const { return m_thinned; }
    std::size_t fixIndex(std::size_t point) const { return m_index[point]; }
    double geodesic(std::size_t i, std::size_t j) const { return i == j ? 0 : geodesicDistanceMetres(m_geo[i], m_geo[j]); }

    struct FreeFlight {
        std::vector<std::size_t> points; // start, turnpoints, end: legs() + 1
        double metres { 0 };
        bool optimal { true };
    };

    // Bounds of the free flight from ranges of fixes instead of fixes: the same dynamic
    // programming over about 512 ranges with the farthest points of their boxes gives an
    // upper bound, and the path through the first fixes of its ranges a length reached
    // (nothing reached when that path breaks the height rule; the bound ignores it).
    struct FreeFlightBounds {
        double upper { 0 }, reached { 0 };
        std::vector<std::size_t> points; // the path reached; empty when none
    };
    FreeFlightBounds freeFlightBounds() const
    {
        const std::vector<std::uint32_t> blocks = blockNodes();
        const std::size_t count = blocks.size();
        std::vector<double> previous(count, 0), current(count);
        std::vector<std::vector<std::uint32_t>> from(m_legs + 1, std::vector<std::uint32_t>(count, 0));
        for (std::size_t k = 1; k <= m_legs; ++k) {
            for (std::size_t j = 0; j < count; ++j) {
                current[j] = std::numeric_limits<double>::lowest();
                for (std::size_t i = 0; i <= j; ++i)
                    if (const double v = previous[i] + upper(farthest(m_boxes[blocks[i]], m_boxes[blocks[j]])); v > current[j]) {
                        current[j] = v;
                        from[k][j] = static_cast<std::uint32_t>(i);
                    }
            }
            std::swap(previous, current);
        }
        FreeFlightBounds bounds;
        std::size_t at = static_cast<std::size_t>(std::max_element(previous.begin(), previous.end()) - previous.begin());
        bounds.upper = previous[at];
        std::vector<std::size_t> points(m_legs + 1);
        for (std::size_t k = m_legs + 1; k-- > 0;) {
            points[k] = m_low[blocks[at]];
            at = from[k][at];
        }
        if (admissible(points.front(), points.back())) {
            bounds.reached = pathMetres(points);
            bounds.points = points;
        }
        return bounds;
    }

    // A path reached first, from every `stride`-th fix: a bar that prunes the search over
    // every fix.
    FreeFlight coarseFreeFlight() const
    {
        const std::size_t stride = std::max<std::size_t>(1, size() / coarseFixes);
        Solver coarse(*this, stride);
        FreeFlight path = coarse.m_heightRule ? coarse.bestFreeFlightUnderHeightRule({}) : coarse.bestFreeFlight({});
        for (std::size_t& point : path.points)
            point *= stride;
        path.metres = pathMetres(path.points);
        return path;
    }

    // The longest free flight under the height rule, exact. The finishes are taken in
    // bands of altitude. The starts that every finish of a band admits (up to its lowest
    // finish + the rule's metres) are searched as without the rule. The starts only some
    // of them admit (up to its highest finish + the metres) are searched with bounds that
    // ignore the rule (they stay bounds) and every path found checked against it; where
    // that search reaches its work limit, the band is split in two at an altitude and
    // each half searches the starts above the first search's. Down to finishes of one
    // altitude no start is left that some admit and others do not.
    FreeFlight bestFreeFlightUnderHeightRule(const std::optional<FreeFlight>& reached)
    {
        const std::size_t n = m_points.size();
        std::vector<std::uint32_t> finishes(n);
        for (std::size_t j = 0; j < n; ++j)
            finishes[j] = static_cast<std::uint32_t>(j);
        std::stable_sort(finishes.begin(), finishes.end(), [&](std::uint32_t a, std::uint32_t b) { return m_alt[a] < m_alt[b]; });
        FreeFlight best;
        best.points.assign(m_legs + 1, 0);
        if (reached)
            best = *reached;
        bool optimal = true;
        // bound[j]: the upper() length of the longest path to finish j from the starts a
        // band still has to search (from its parent's search of them); a band none of
        // whose finishes may beat the best path is passed over.
        std::vector<double> bound(n, std::numeric_limits<double>::infinity());
        std::size_t searches = 0;
        auto search = [&](double floor, double ceiling, std::size_t workLimit) {
            ++searches;
            m_startFloor = floor;
            m_startCeiling = ceiling;
            FreeFlight found = bestFreeFlight(best, workLimit);
            if (found.metres > best.metres)
                best = found;
            if (budget().spent())
                throw WorkSpent {};
            return found.optimal;
        };
        auto band = [&](auto&& self, std::size_t low, std::size_t high, double floor) -> void {
            charge(n);
            double most = -std::numeric_limits<double>::infinity();
            for (std::size_t f = low; f < high; ++f)
                most = std::max(most, bound[finishes[f]]);
            if (most <= best.metres + tolerance)
                return;
            if (searches >= heightRuleSearchLimit) {
                optimal = false;
                return;
            }
            m_finishAllowed.assign(n, 0);
            for (std::size_t f = low; f < high; ++f)
                m_finishAllowed[finishes[f]] = 1;
            const double admittedByAll = m_alt[finishes[low]] + *m_heightRule;
            const double admittedBySome = m_alt[finishes[high - 1]] + *m_heightRule;
            if (floor < admittedByAll && !search(floor, admittedByAll, freeFlightWorkLimit))
                optimal = false;
            if (admittedByAll == admittedBySome)
                return;
            const bool done = search(std::max(floor, admittedByAll), admittedBySome, splitWorkLimit);
            for (std::size_t f = low; f < high; ++f)
                bound[finishes[f]] = std::min(bound[finishes[f]], m_best[m_legs][finishes[f]]);
            if (done)
                return;
            // Split between two altitudes; the half that may hold the longer path first, so
            // that the best path found soon passes over more of the other.
            std::size_t middle = low + (high - low) / 2;
            while (middle > low && m_alt[finishes[middle - 1]] == m_alt[finishes[middle]])
                --middle;
            if (middle == low)
                while (m_alt[finishes[middle]] == m_alt[finishes[low]])
                    ++middle;
            auto mostOf = [&](std::size_t from, std::size_t to) {
                double value = -std::numeric_limits<double>::infinity();
                for (std::size_t f = from; f < to; ++f)
                    value = std::max(value, bound[finishes[f]]);
                return value;
            };
            if (mostOf(low, middle) > mostOf(middle, high)) {
                self(self, low, middle, admittedByAll);
                self(self, middle, high, admittedByAll);
            } else {
                self(self, middle, high, admittedByAll);
                self(self, low, middle, admittedByAll);
            }
        };
        try {
            if (n > 0)
                band(band, 0, n, -std::numeric_limits<double>::infinity());
        } catch (const WorkSpent&) {
            optimal = false;
        }
        m_finishAllowed.clear();
        m_startFloor = -std::numeric_limits<double>::infinity();
        m_startCeiling = std::numeric_limits<double>::infinity();
        best.optimal = optimal;
        return best;
    }

    // The longest free flight; `reached` (when given) a path of it already known. Under
    // the height rule only the starts above m_startFloor up to m_startCeiling and the finishes in
    // m_finishAllowed (all when empty) are searched, and a path found counts only when
    // its start and finish keep the rule.
    FreeFlight bestFreeFlight(const std::optional<FreeFlight>& reached, std::size_t workLimit = freeFlightWorkLimit)
    {
        FreeFlight found;
        found.points.assign(m_legs + 1, 0);
        if (reached)
            found = *reached;
        found.optimal = true;
        try {
            searchFreeFlight(found, reached, workLimit);
        } catch (const WorkSpent&) {
            found.optimal = false;
        }
        return found;
    }

    // The search of bestFreeFlight: `found` becomes the longest path, when it is longer.
    void searchFreeFlight(FreeFlight& found, const std::optional<FreeFlight>& reached, std::size_t workLimit)
    {
        const std::size_t n = m_points.size();
        const std::size_t last = m_legs;
        constexpr double none = -std::numeric_limits<double>::infinity();
        charge((last + 1) * n);
        m_best.assign(last + 1, std::vector<double>(n, 0));
        m_from.assign(last + 1, std::vector<std::uint32_t>(n, 0));
        m_rangeBest.assign(last + 1, {});
        m_throughLast.assign(last + 1, {});
        if (m_heightRule)
            for (std::size_t j = 0; j < n; ++j)
                if (m_alt[j] <= m_startFloor || m_alt[j] > m_startCeiling)
                    m_best[0][j] = none;
        auto finishAllowed = [&](std::size_t j) { return m_finishAllowed.empty() || m_finishAllowed[j]; };
        // remaining[k][j]: at least the upper() length of any `last`-k legs from fix j on. A
        // fix whose best k legs to it plus that cannot beat the path reached is left out of
        // layer k (`none`): no path through it there can be the longest. Only the track
        // decides it: worked out once for all the searches of the height rule's bands.
        if (reached && m_remaining.empty()) {
            std::vector<std::vector<double>> remaining;
            remaining.assign(last + 1, std::vector<double>(n, 0));
            // The last leg exactly; for more legs the longer leg from j plus the most the
            // remaining legs give from any later fix, or the same over the ~512 ranges
            // (farthest points of their boxes), whichever is less.
            const std::vector<std::uint32_t> blocks = blockNodes();
            std::vector<double> farthestLater(n), blockRemaining(blocks.size());
            for (std::size_t j = 0; j < n; ++j)
                farthestLater[j] = farthestFrom(j);
            for (std::size_t k = last; k-- > 1;) {
                charge(blocks.size() * blocks.size() / 2 + 2 * n);
                std::vector<double> blockMost(blocks.size(), 0), thisBlock(blocks.size(), 0);
                for (std::size_t b = 0; b < blocks.size(); ++b)
                    for (std::size_t j = m_low[blocks[b]]; j <= m_high[blocks[b]]; ++j)
                        blockMost[b] = std::max(blockMost[b], remaining[k + 1][j]);
                for (std::size_t b = 0; b < blocks.size(); ++b)
                    for (std::size_t later = b; later < blocks.size(); ++later)
                        thisBlock[b] = std::max(thisBlock[b], upper(farthest(m_boxes[blocks[b]], m_boxes[blocks[later]])) + blockMost[later]);
                double most = 0;
                for (std::size_t b = blocks.size(); b-- > 0;)
                    for (std::size_t j = m_high[blocks[b]] + 1; j-- > m_low[blocks[b]];) {
                        most = std::max(most, remaining[k + 1][j]);
                        remaining[k][j] = std::min(farthestLater[j] + most, thisBlock[b]);
                    }
            }
            m_remaining = std::move(remaining);
        }
        auto remainingAfter = [&](std::size_t k, std::size_t j) { return m_remaining.empty() ? 0.0 : m_remaining[k][j]; };
        const double reachedMetres = reached ? reached->metres : none;
        for (std::size_t k = 1; k <= last; ++k) {
            summarise(k - 1);
            std::size_t lastFrom = 0;
            for (std::size_t j = 0; j < n; ++j) {
                chargeTree(1);
                const double floor = reachedMetres - remainingAfter(k, j);
                double value = std::max(floor, m_best[k - 1][j] + upper(0));
                std::size_t from = j;
                if (lastFrom < j) {
                    if (const double v = m_best[k - 1][lastFrom] + upper(chord(m_points[lastFrom], m_points[j])); v > value) {
                        value = v;
                        from = lastFrom;
                    }
                }
                earlierLegs(k - 1, j, value, [&](std::size_t i, double v) {
                    if (v > value) {
                        value = v;
                        from = i;
                    }
                    return value;
                });
                m_best[k][j] = value > floor && (k < last || finishAllowed(j)) ? value : none;
                m_from[k][j] = static_cast<std::uint32_t>(from);
                if (value > floor)
                    lastFrom = from;
            }
        }
        // The path of the largest upper() length, measured.
        const std::size_t end = static_cast<std::size_t>(std::max_element(m_best[last].begin(), m_best[last].end()) - m_best[last].begin());
        if (m_best[last][end] > found.metres) {
            std::vector<std::size_t> points(last + 1);
            points[last] = end;
            for (std::size_t k = last; k > 0; --k)
                points[k - 1] = m_from[k][points[k]];
            if (const double metres = pathMetres(points); admissible(points.front(), end) && (!reached || metres > found.metres)) {
                found.points = points;
                found.metres = metres;
            }
        }

        // Every other path that may be longer, best bound first. A partial path holds its
        // last legs (from layer k on); its bound is best[k][its first fix] + those legs.
        struct Partial {
            double bound;
            double legs;
            std::uint32_t fix;
            std::uint32_t layer;
            std::uint32_t finish;
            std::int32_t next; // the partial path it extends, in `partials`
        };
        std::vector<Partial> partials;
        auto later = [&](std::size_t a, std::size_t b) { return partials[a].bound < partials[b].bound; };
        std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> queue(later);
        for (std::size_t j = 0; j < n; ++j)
            if (m_best[last][j] > found.metres + tolerance) {
                if (partials.size() >= partialLimit)
                    throw WorkSpent {};
                const auto fix = static_cast<std::uint32_t>(j);
                partials.push_back({ m_best[last][j], 0, fix, static_cast<std::uint32_t>(last), fix, -1 });
                queue.push(partials.size() - 1);
            }
        std::size_t work = 0;
        while (!queue.empty() && partials[queue.top()].bound > found.metres + tolerance) {
            stopIfCancelled();
            if (++work > workLimit) {
                found.optimal = false;
                break;
            }
            charge();
            const Partial partial = partials[queue.top()];
            const auto at = static_cast<std::int32_t>(queue.top());
            queue.pop();
            if (partial.layer == 0) {
                std::vector<std::size_t> points(last + 1);
                for (std::int32_t p = at, k = 0; p >= 0; p = partials[p].next, ++k)
                    points[k] = partials[p].fix;
                if (const double metres = pathMetres(points); metres > found.metres) {
                    found.metres = metres;
                    found.points = points;
                }
                continue;
            }
            const std::size_t k = partial.layer;
            const double bar = found.metres + tolerance - partial.legs;
            auto extend = [&](std::size_t i, double v) {
                // The start is the last fix chosen: only one the rule admits for the finish.
                if (v > bar && (k > 1 || admissible(i, partial.finish))) {
                    if (partials.size() >= partialLimit)
                        throw WorkSpent {};
                    const double leg = upper(i == partial.fix ? 0 : chord(m_points[i], m_points[partial.fix]));
                    partials.push_back(
                        { v + partial.legs, partial.legs + leg, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(k - 1), partial.finish, at });
                    queue.push(partials.size() - 1);
                }
                return bar;
            };
            extend(partial.fix, m_best[k - 1][partial.fix] + upper(0));
            earlierLegs(k - 1, partial.fix, bar, extend);
        }
    }

    struct Triangle {
        std::array<std::size_t, 3> corners {};
        std::size_t closingStart { 0 }, closingEnd { 0 };
        TriangleRule rule {};
        double sides[3] {};
        double closingMetres { 0 };
        double weighted { -1 }; // multiplier × distance in metres
        bool optimal { true };
    };

    // The best triangle of any kind that scores more than `toBeat` (multiplier × metres).
    std::optional<Triangle> bestTriangle(const std::vector<TriangleRule>& rules, double toBeat)
    {
        const std::size_t n = m_points.size();
        if (n < 3)
            return std::nullopt;
        std::priority_queue<Triple> queue;
        std::optional<Triangle> found;
        double best = toBeat;
        const std::array<std::uint32_t, 3> root { 1, 1, 1 };
        queue.push({ tripleBound(rules, root), root });
        std::size_t work = 0;
        bool optimal = true;
        try {
            searchTriangles(rules, queue, found, best, work, optimal);
        } catch (const WorkSpent&) {
            optimal = false;
        }
        if (found)
            found->optimal = optimal;
        else if (!optimal)
            return Triangle { .optimal = false };
        return found;
    }

    struct Triple {
        double bound;
        std::array<std::uint32_t, 3> nodes;
        bool operator<(const Triple& other) const { return bound < other.bound; }
    };

    // The loop of bestTriangle, which keeps what it found when the budget ends it.
    void searchTriangles(const std::vector<TriangleRule>& rules, std::priority_queue<Triple>& queue, std::optional<Triangle>& found,
        double& best, std::size_t& work, bool& optimal)
    {
        while (!queue.empty() && queue.top().bound > best + tolerance) {
            stopIfCancelled();
            if (++work > triangleWorkLimit) {
                optimal = false;
                break;
            }
            charge(32); // two triples bounded: six farthest and six nearest points of boxes
            const Triple triple = queue.top();
            queue.pop();
            // Split the widest range; a triple of single fixes is measured.
            std::size_t widest = 3;
            double width = -1;
            for (std::size_t k = 0; k < 3; ++k)
                if (triple.nodes[k] < m_leaves && m_boxes[triple.nodes[k]].diagonal() > width) {
                    width = m_boxes[triple.nodes[k]].diagonal();
                    widest = k;
                }
            if (widest == 3) {
                if (auto t = measureTriangle(rules, { m_low[triple.nodes[0]], m_low[triple.nodes[1]], m_low[triple.nodes[2]] }); t && t->weighted > best) {
                    best = t->weighted;
                    found = t;
                }
                continue;
            }
            for (const std::uint32_t child : { 2 * triple.nodes[widest], 2 * triple.nodes[widest] + 1 }) {
                auto nodes = triple.nodes;
                nodes[widest] = child;
                if (!ordered(nodes))
                    continue;
                if (const double bound = tripleBound(rules, nodes); bound > best + tolerance)
                    queue.push({ bound, nodes });
            }
        }
    }

    // The shortest geodesic from a fix up to a to a fix from c on, and its two fixes.
    struct Closing {
        std::size_t start { 0 }, end { 0 };
        double metres { 0 };
    };
    Closing closing(std::size_t a, std::size_t c)
    {
        const std::uint64_t key = static_cast<std::uint64_t>(a) << 32 | c;
        if (const auto known = m_closings.find(key); known != m_closings.end())
            return known->second;
        // Only pairs whose chord is within upper() of the shortest chord can hold the
        // shortest geodesic.
        double limit = upper(closingChord(a, c));
        Closing best { a, c, std::numeric_limits<double>::max() };
        pairsBetween(a, c, limit, [&](std::size_t s, std::size_t e, double) {
            if (const double metres = geodesic(s, e); metres < best.metres)
                best = { s, e, metres };
            return limit;
        });
        if (m_closings.size() >= closingCacheLimit)
            m_closings.clear();
        m_closings.emplace(key, best);
        return best;
    }

private:
    static constexpr std::uint32_t scanSize = 16;

    bool leaf(std::uint32_t node) const { return node >= m_leaves; }
    bool empty(std::uint32_t node) const { return m_low[node] == std::numeric_limits<std::uint32_t>::max(); }
    // A path from `start` to `finish` keeps the height rule (there is none, or the finish is
    // at most its metres below the start).
    bool admissible(std::size_t start, std::size_t finish) const { return !m_heightRule || m_alt[finish] + *m_heightRule >= m_alt[start]; }

    double pathMetres(const std::vector<std::size_t>& points) const
    {
        double metres = 0;
        for (std::size_t k = 1; k < points.size(); ++k)
            metres += geodesic(points[k - 1], points[k]);
        return metres;
    }

    // The tree's nodes of about 512 fixes' ranges, in time order.
    std::vector<std::uint32_t> blockNodes() const
    {
        std::uint32_t first = 1;
        while (first < 512 && first < m_leaves)
            first *= 2;
        std::vector<std::uint32_t> blocks;
        for (std::uint32_t node = first; node < 2 * first; ++node)
            if (!empty(node))
                blocks.push_back(node);
        return blocks;
    }

    // The upper() length of the longest leg from fix j to a later one.
    double farthestFrom(std::size_t j)
    {
        const Point& p = m_points[j];
        double best = 0;
        auto& stack = m_stack;
        stack.clear();
        stack.push_back({ upper(farthest(m_boxes[1], p)), 1 });
        while (!stack.empty()) {
            const auto [bound, node] = stack.back();
            stack.pop_back();
            chargeTree(2); // two boxes' farthest points
            if (bound <= best || m_high[node] < j)
                continue;
            if (m_high[node] - m_low[node] < scanSize) {
                chargeTree(scanSize);
                for (std::size_t i = std::max<std::size_t>(m_low[node], j); i <= m_high[node]; ++i)
                    best = std::max(best, upper(chord(m_points[i], p)));
                continue;
            }
            const std::uint32_t left = 2 * node, right = 2 * node + 1;
            const double leftBound = m_high[left] < j ? 0 : upper(farthest(m_boxes[left], p));
            const double rightBound = empty(right) ? 0 : upper(farthest(m_boxes[right], p));
            stack.push_back({ std::min(leftBound, rightBound), leftBound < rightBound ? left : right });
            stack.push_back({ std::max(leftBound, rightBound), leftBound < rightBound ? right : left });
        }
        return best;
    }

    // Per tree node, for the values best[layer]: their largest, and the largest of
    // best[layer][i] + chord(i, r) with r the node's last fix (built from the children's
    // by the triangle inequality, so an upper bound).
    void summarise(std::size_t layer)
    {
        auto& most = m_rangeBest[layer];
        auto& through = m_throughLast[layer];
        chargeTree(2 * m_leaves);
        most.assign(2 * m_leaves, std::numeric_limits<double>::lowest());
        through.assign(2 * m_leaves, std::numeric_limits<double>::lowest());
        for (std::size_t i = 0; i < m_points.size(); ++i)
            most[m_leaves + i] = through[m_leaves + i] = m_best[layer][i];
        for (std::size_t node = m_leaves; node-- > 1;) {
            if (empty(static_cast<std::uint32_t>(node)))
                continue;
            const std::size_t left = 2 * node, right = 2 * node + 1;
            most[node] = std::max(most[left], most[right]);
            if (empty(static_cast<std::uint32_t>(right)))
                through[node] = through[left];
            else
                through[node] = std::max(through[right], through[left] + chord(m_points[m_high[left]], m_points[m_high[node]]));
        }
    }

    // Calls `visit(i, best[layer][i] + upper(i, j))` for fixes i ≤ j whose value may exceed
    // the bar `visit` returns (it starts at `bar`).
    template <class Visit>
    void earlierLegs(std::size_t layer, std::size_t j, double bar, Visit&& visit)
    {
        const auto& most = m_rangeBest[layer];
        const auto& through = m_throughLast[layer];
        const auto& values = m_best[layer];
        const Point& p = m_points[j];
        auto boundOf = [&](std::uint32_t node) {
            const double far = farthest(m_boxes[node], p);
            const double byBox = most[node] + upper(far);
            if (byBox <= bar)
                return byBox;
            return std::min(byBox, through[node] + chord(m_points[m_high[node]], p) + (upper(far) - far));
        };
        auto& stack = m_stack;
        stack.clear();
        stack.push_back({ boundOf(1), 1 });
        while (!stack.empty()) {
            const auto [bound, node] = stack.back();
            stack.pop_back();
            chargeTree(4); // two bounds, each a box's farthest point and a chord
            if (bound <= bar || m_low[node] > j)
                continue;
            if (m_high[node] - m_low[node] < scanSize) {
                // Few fixes: scanning them costs less than bounding their halves.
                chargeTree(scanSize);
                for (std::size_t i = m_low[node]; i <= std::min<std::size_t>(m_high[node], j - 1) && j > 0; ++i)
                    if (const double v = values[i] + upper(chord(m_points[i], p)); v > bar)
                        bar = visit(i, v);
                continue;
            }
            const std::uint32_t left = 2 * node, right = 2 * node + 1;
            const double leftBound = boundOf(left);
            const double rightBound = empty(right) || m_low[right] > j ? bar : boundOf(right);
            if (leftBound > rightBound) {
                stack.push_back({ rightBound, right });
                stack.push_back({ leftBound, left });
            } else {
                stack.push_back({ leftBound, left });
                stack.push_back({ rightBound, right });
            }
        }
    }

    // The corners of a triple can be in time order, one fix apart at least.
    bool ordered(const std::array<std::uint32_t, 3>& nodes) const
    {
        std::size_t at = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            if (empty(nodes[k]))
                return false;
            at = std::max<std::size_t>(at, m_low[nodes[k]]);
            if (at > m_high[nodes[k]])
                return false;
            ++at;
        }
        return true;
    }

    double tripleBound(const std::vector<TriangleRule>& rules, const std::array<std::uint32_t, 3>& nodes)
    {
        const Box& a = m_boxes[nodes[0]];
        const Box& b = m_boxes[nodes[1]];
        const Box& c = m_boxes[nodes[2]];
        const std::array<double, 3> sides { upper(farthest(a, b)), upper(farthest(b, c)), upper(farthest(c, a)) };
        const double perimeter = sides[0] + sides[1] + sides[2];
        const double nearestPerimeter = nearest(a, b) + nearest(b, c) + nearest(c, a);
        const double shortest = std::min({ sides[0], sides[1], sides[2] });
        const std::size_t lastFirst = m_high[nodes[0]], firstLast = m_low[nodes[2]];
        const double gap = lastFirst >= firstLast ? 0 : closingChord(lastFirst, firstLast);
        double bound = std::numeric_limits<double>::lowest();
        for (const TriangleRule& rule : rules) {
            double most = perimeter;
            if (rule.fai) {
                if (shortest < faiShortestSide * nearestPerimeter)
                    continue;
                most = std::min(most, shortest / faiShortestSide);
            }
            if (!rule.closes(gap, most))
                continue;
            bound = std::max(bound, rule.multiplier * (most - rule.deduction(gap)));
        }
        return bound;
    }

    std::optional<Triangle> measureTriangle(const std::vector<TriangleRule>& rules, const std::array<std::size_t, 3>& corners)
    {
        Triangle t;
        t.corners = corners;
        t.sides[0] = geodesic(corners[0], corners[1]);
        t.sides[1] = geodesic(corners[1], corners[2]);
        t.sides[2] = geodesic(corners[2], corners[0]);
        const double perimeter = t.sides[0] + t.sides[1] + t.sides[2];
        const double shortest = std::min({ t.sides[0], t.sides[1], t.sides[2] });
        const Closing gap = closing(corners[0], corners[2]);
        for (const TriangleRule& rule : rules) {
            if (!rule.closes(gap.metres, perimeter) || (rule.fai && shortest < faiShortestSide * perimeter))
                continue;
            if (const double weighted = rule.multiplier * (perimeter - rule.deduction(gap.metres)); weighted > t.weighted) {
                t.weighted = weighted;
                t.rule = rule;
            }
        }
        if (t.weighted < 0)
            return std::nullopt;
        t.closingStart = gap.start;
        t.closingEnd = gap.end;
        t.closingMetres = gap.metres;
        return t;
    }

    // The shortest chord from a fix up to a to a fix from c on.
    double closingChord(std::size_t a, std::size_t c)
    {
        const std::uint64_t key = static_cast<std::uint64_t>(a) << 32 | c;
        if (const auto known = m_closingChords.find(key); known != m_closingChords.end())
            return known->second;
        double best = chord(m_points[a], m_points[c]);
        pairsBetween(a, c, best, [&](std::size_t, std::size_t, double d) {
            best = std::min(best, d);
            return best;
        });
        if (m_closingChords.size() >= closingCacheLimit)
            m_closingChords.clear();
        m_closingChords.emplace(key, best);
        return best;
    }

    // Calls `visit(s, e, chord)` for pairs s ≤ a, e ≥ c with a chord up to the limit
    // `visit` returns (it starts at `limit`), skipping pairs of ranges whose boxes are
    // farther apart.
    template <class Visit>
    void pairsBetween(std::size_t a, std::size_t c, double limit, Visit&& visit)
    {
        auto& stack = m_pairStack;
        stack.clear();
        stack.push_back({ 0, 1, 1 });
        while (!stack.empty()) {
            const auto [near, x, y] = stack.back();
            stack.pop_back();
            charge(8); // two boxes' nearest points
            if (near > limit || m_low[x] > a || m_high[y] < c)
                continue;
            const std::size_t sizeX = m_high[x] - m_low[x] + 1, sizeY = m_high[y] - m_low[y] + 1;
            if (sizeX * sizeY <= 64) {
                charge(4 * sizeX * sizeY);
                for (std::size_t s = m_low[x]; s <= std::min<std::size_t>(a, m_high[x]); ++s)
                    for (std::size_t e = std::max<std::size_t>(c, m_low[y]); e <= m_high[y]; ++e)
                        if (const double d = chord(m_points[s], m_points[e]); d <= limit)
                            limit = visit(s, e, d);
                continue;
            }
            const bool splitX = !leaf(x) && (leaf(y) || sizeX >= sizeY);
            std::array<std::array<std::uint32_t, 2>, 2> children;
            for (std::uint32_t k = 0; k < 2; ++k)
                children[k] = splitX ? std::array<std::uint32_t, 2> { 2 * x + k, y } : std::array<std::uint32_t, 2> { x, 2 * y + k };
            std::array<double, 2> distance {};
            for (std::size_t k = 0; k < 2; ++k)
                distance[k] = empty(children[k][0]) || empty(children[k][1]) ? std::numeric_limits<double>::max()
                                                                            : nearest(m_boxes[children[k][0]], m_boxes[children[k][1]]);
            const std::size_t first = distance[0] <= distance[1] ? 0 : 1;
            stack.push_back({ distance[1 - first], children[1 - first][0], children[1 - first][1] });
            stack.push_back({ distance[first], children[first][0], children[first][1] });
        }
    }

    struct Pending {
        double bound;
        std::uint32_t node;
    };
    struct PendingPair {
        double near;
        std::uint32_t x, y;
    };

    std::vector<std::size_t> m_index; // point → fix
    std::vector<Point> m_points;
    std::vector<GeoPoint> m_geo;
    std::vector<double> m_alt; // metres, for the height rule
    WorkBudget* m_budget { nullptr };
    bool m_thinned { false }; // only every so many of the valid fixes are searched
    std::size_t m_legs { 4 }; // of the free flight
    std::optional<double> m_heightRule; // the finish at most this many metres below the start
    // The free flight search's ends under the height rule, narrowed band by band.
    double m_startFloor { -std::numeric_limits<double>::infinity() }, m_startCeiling { std::numeric_limits<double>::infinity() };
    std::vector<char> m_finishAllowed; // empty: every fix
    std::size_t m_leaves { 0 };
    std::vector<Box> m_boxes; // tree nodes: 1 is every fix, 2k and 2k+1 the halves of k
    std::vector<std::uint32_t> m_low, m_high; // first and last fix of each node
    std::vector<std::vector<double>> m_best, m_rangeBest, m_throughLast;
    // m_remaining[k][j]: at least the upper() length of any legs after the k-th from fix j on.
    std::vector<std::vector<double>> m_remaining;
    std::vector<std::vector<std::uint32_t>> m_from;
    std::vector<Pending> m_stack;
    std::vector<PendingPair> m_pairStack;
    std::unordered_map<std::uint64_t, double> m_closingChords;
    std::unordered_map<std::uint64_t, Closing> m_closings;
};

ContestPoint pointOf(const std::vector<IgcFix>& fixes, std::size_t index)
{
    return { index, fixes[index].time, fixes[index].latitude, fixes[index].longitude };
}

} // namespace

namespace {

std::optional<ContestScore> searchBest(
    const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last, const ContestRuleSet& rules, const CancelToken* cancel)
{
    WorkBudget budget(cancel);
    Solver solver(fixes, first, last, rules, budget);
    if (solver.size() < 2)
        return std::nullopt;

    // The triangles first, to beat a free flight known to be reached; the exact free
    // flight, the costlier search on long straight flights, only where the best triangle
    // does not beat its upper bound.

    const auto freeBounds = solver.freeFlightBounds();

    const auto triangle = [&]() -> std::optional<Solver::Triangle> {
        if (rules.triangles.empty())
            return std::nullopt;
        const WorkBudget::Share share(budget, stepLimit / 2);
        return solver.bestTriangle(triangleRules(rules), rules.freeFlightMultiplier * freeBounds.reached);
    }();

    ContestScore best;
    if (!triangle || triangle->weighted < rules.freeFlightMultiplier * freeBounds.upper) {
        best.type = ContestFlightType::FreeFlight;
        best.multiplier = rules.freeFlightMultiplier;
        // Below two strides' worth of fixes the coarse track would be the track itself.
        const auto reached = [&]() -> std::optional<Solver::FreeFlight> {
            if (solver.size() < 2 * coarseFixes)
                return std::nullopt;
            const WorkBudget::Share share(budget, stepLimit / 8);
            return solver.coarseFreeFlight();
        }();

        auto free = rules.finishBelowStartMetres ? solver.bestFreeFlightUnderHeightRule(reached) : solver.bestFreeFlight(reached);

        // Where the budget ended the search before it reached a path, the path through
        // the ranges' first fixes is the best known.
        if (!free.optimal && !freeBounds.points.empty() && freeBounds.reached > free.metres) {
            free.points = freeBounds.points;
            free.metres = freeBounds.reached;
        }
        best.optimal = free.optimal;
        for (std::size_t k = 0; k < free.points.size(); ++k) {
            if (k > 0 && free.points[k] == free.points[k - 1])
                continue;
            if (!best.turnpoints.empty())
                best.distanceMetres += solver.geodesic(free.points[k - 1], free.points[k]);
            best.turnpoints.push_back(pointOf(fixes, solver.fixIndex(free.points[k])));
        }
        if (best.turnpoints.size() == 1)
            best.turnpoints.push_back(best.turnpoints.front());
        best.points = best.distanceMetres / 1000 * best.multiplier;
    }
    if ((triangle && !triangle->optimal) || solver.thinned())
        best.optimal = false;
    if (!triangle || triangle->weighted <= rules.freeFlightMultiplier * best.distanceMetres)
        return best;
    const bool optimal = best.optimal;
    best = {};
    best.optimal = optimal;
    best.type = triangle->rule.type;
    best.multiplier = triangle->rule.multiplier;
    for (const std::size_t corner : triangle->corners)
        best.turnpoints.push_back(pointOf(fixes, solver.fixIndex(corner)));
    best.closingStart = pointOf(fixes, solver.fixIndex(triangle->closingStart));
    best.closingEnd = pointOf(fixes, solver.fixIndex(triangle->closingEnd));
    best.closingMetres = triangle->closingMetres;
    best.distanceMetres = triangle->sides[0] + triangle->sides[1] + triangle->sides[2] - triangle->rule.deduction(triangle->closingMetres);
    best.points = best.distanceMetres / 1000 * best.multiplier;
    return best;
}

} // namespace

std::optional<ContestScore> scoreFixes(
    const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last, const ContestRuleSet& rules, const CancelToken* cancel)
{
    clearUpperVectorState();
    try {
        return searchBest(fixes, first, last, rules, cancel);
    } catch (const ScoringCancelled&) {
        return std::nullopt;
    }
}

std::optional<ScoredPart> scoredPart(
    const IgcFlight& flight, const std::vector<FlightFigures>& flights, std::size_t part, ScoredTrack track)
{
    if (flight.fixes.empty() || part >= flights.size())
        return std::nullopt;
    ScoredPart scored;
    scored.track = track;
    if (track == ScoredTrack::Flight) {
        scored.first = flights[part].takeoffIndex;
        scored.last = flights[part].landingIndex;
    } else {
        scored.first = part > 0 ? flights[part - 1].landingIndex : 0;
        scored.last = part + 1 < flights.size() ? flights[part + 1].takeoffIndex : flight.fixes.size() - 1;
    }
    scored.from = flight.fixes[scored.first].time;
    scored.to = flight.fixes[scored.last].time;
    return scored;
}

std::optional<ContestScore> scoreFlight(const IgcFlight& flight, const ContestRuleSet& rules, std::size_t part,
    std::optional<ScoredTrack> wanted, const CancelToken* cancel)
{
    const auto scored = scoredPart(flight, computeFlights(flight), part, trackToScore(rules, wanted));
    if (!scored)
        return std::nullopt;
    auto score = scoreFixes(flight.fixes, scored->first, scored->last, rules, cancel);
    if (score)
        score->part = *scored;
    return score;
}

std::optional<ContestScore> scoreFlight(const IgcFlight& flight, const ContestRuleSet& rules, const CancelToken* cancel)
{
    return scoreFlight(flight, rules, 0, std::nullopt, cancel);
}

} // namespace corvex::flights
