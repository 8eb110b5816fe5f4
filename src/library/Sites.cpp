#include "library/Sites.h"

#include "base/Utf8.h"
#include "library/FlightLibrary.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>
#include <utility>
#include <unordered_map>

namespace corvex::library {

namespace {

// The fewest metres a degree of latitude spans (at the equator), and a degree of
// longitude on the equator: with them a cell of the grid is never narrower than the
// radius, so the centres within it are always in the take-off's cell or a neighbour.
constexpr double metresPerDegreeLatitude = 110574;
constexpr double metresPerDegreeLongitudeAtEquator = 111319;

// A grid of latitude rows, each cut into as many longitude cells as keep a cell at
// least `radius` wide at the row's poleward edge; the cells wrap at ±180°.
class CentreGrid {
public:
    explicit CentreGrid(double radius)
        : m_rowDegrees(radius / metresPerDegreeLatitude)
        , m_radius(radius)
    {
    }

    void add(GeoPoint point, std::size_t centre)
    {
        const long row = rowOf(point.latitude);
        m_cells[key(row, columnOf(row, point.longitude))].push_back(centre);
    }

    // Calls `visit` with every centre that may lie within the radius of `point`.
    template<typename Visit>
    void near(GeoPoint point, const Visit& visit) const
    {
        const long row = rowOf(point.latitude);
        // The slowest a degree of longitude passes over the three rows, with a margin.
        const double poleward = std::min(90.0, std::abs(point.latitude) + 2.5 * m_rowDegrees);
        const double metresPerDegree = metresPerDegreeLongitudeAtEquator * std::cos(geo::radians(poleward));
        const double span = metresPerDegree > 0 ? 1.1 * m_radius / metresPerDegree : 360;
        for (long r = row - 1; r <= row + 1; ++r) {
            const long columns = columnsOf(r);
            const double width = 360.0 / columns;
            long from = 0;
            long count = columns;
            if (span < 180) {
                from = static_cast<long>(std::floor((point.longitude + 180 - span) / width));
                const long to = static_cast<long>(std::floor((point.longitude + 180 + span) / width));
                count = std::min(columns, to - from + 1);
            }
            for (long i = 0; i < count; ++i) {
                const auto found = m_cells.find(key(r, ((from + i) % columns + columns) % columns));
                if (found != m_cells.end())
                    for (const std::size_t centre : found->second)
                        visit(centre);
            }
        }
    }

private:
    long rowOf(double latitude) const { return static_cast<long>(std::floor((latitude + 90) / m_rowDegrees)); }
    long columnsOf(long row) const
    {
        const double edge = std::max(std::abs(row * m_rowDegrees - 90), std::abs((row + 1) * m_rowDegrees - 90));
        const double metresPerDegree = metresPerDegreeLongitudeAtEquator * std::cos(geo::radians(std::min(90.0, edge)));
        const double cellDegrees = metresPerDegree > 0 ? m_radius / metresPerDegree : 360;
        return std::max(1L, static_cast<long>(std::floor(360 / cellDegrees)));
    }
    long columnOf(long row, double longitude) const
    {
        const long columns = columnsOf(row);
        double wrapped = std::fmod(longitude + 180, 360);
        if (wrapped < 0)
            wrapped += 360;
        return std::min(columns - 1, static_cast<long>(std::floor(wrapped / (360.0 / columns))));
    }
    static std::int64_t key(long row, long column) { return (static_cast<std::int64_t>(row) << 32) + column; }

    double m_rowDegrees;
    double m_radius;
    std::unordered_map<std::int64_t, std::vector<std::size_t>> m_cells;
};

bool usable(GeoPoint point)
{
    return std::isfinite(point.latitude) && std::isfinite(point.longitude) && std::abs(point.latitude) <= 90
        && std::abs(point.longitude) <= 360;
}

} // namespace

SiteClusters clusterTakeoffs(const std::vector<GeoPoint>& takeoffs, const std::vector<GeoPoint>& fixedCentres, double radius)
{
    SiteClusters clusters;
    CentreGrid grid(radius);
    for (const GeoPoint centre : fixedCentres) {
        grid.add(centre, clusters.centres.size());
        clusters.centres.push_back(centre);
    }
    std::vector<std::size_t> order(takeoffs.size());
    std::iota(order.begin(), order.end(), std::size_t { 0 });
    // A place that is no place (not a number) sorts last, so that the order stays strict.
    const auto sortKey = [&](std::size_t i) {
        return usable(takeoffs[i]) ? std::pair { takeoffs[i].latitude, takeoffs[i].longitude } : std::pair { 1000.0, 1000.0 };
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sortKey(a) < sortKey(b); });
    clusters.siteOf.assign(takeoffs.size(), 0);
    for (const std::size_t each : order) {
        const GeoPoint takeoff = takeoffs[each];
        std::size_t best = clusters.centres.size();
        double bestDistance = radius;
        if (usable(takeoff))
            grid.near(takeoff, [&](std::size_t centre) {
                const double distance = geo::geodesicDistanceMetres(takeoff, clusters.centres[centre]);
                if (distance < bestDistance || (distance == bestDistance && centre < best)) {
                    bestDistance = distance;
                    best = centre;
                }
            });
        if (best == clusters.centres.size()) {
            clusters.centres.push_back(takeoff);
            if (usable(takeoff))
                grid.add(takeoff, best);
        }
        clusters.siteOf[each] = best;
    }
    return clusters;
}

SiteBook::SiteBook(const std::vector<LibraryFlight>& flights, const std::vector<SiteName>& names)
{
    std::vector<GeoPoint> takeoffs;
    takeoffs.reserve(flights.size());
    for (const LibraryFlight& flight : flights)
        takeoffs.push_back({ flight.takeoffLatitude, flight.takeoffLongitude });
    std::vector<GeoPoint> named;
    for (const SiteName& each : names)
        named.push_back(each.centre);
    const SiteClusters clusters = clusterTakeoffs(takeoffs, named);

    std::vector<Site> sites(clusters.centres.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        sites[i].centre = clusters.centres[i];
        if (i < names.size())
            sites[i].name = names[i].name;
    }
    for (std::size_t i = 0; i < flights.size(); ++i) {
        Site& site = sites[clusters.siteOf[i]];
        const LibraryFlight& flight = flights[i];
        site.first = site.flights == 0 ? flight.takeoff : std::min(site.first, flight.takeoff);
        site.last = site.flights == 0 ? flight.takeoff : std::max(site.last, flight.takeoff);
        ++site.flights;
        site.seconds += flight.durationSeconds;
        site.flightIds.push_back(flight.id);
    }
    // A named site with no flight left (all removed) keeps its name for later ones but
    // is no line of the list. The numbers follow the first flight, so that a new site
    // (a new hill) comes last and the others keep theirs.
    std::erase_if(sites, [](const Site& site) { return site.flights == 0; });
    std::sort(sites.begin(), sites.end(), [](const Site& a, const Site& b) {
        const auto key = [](const Site& site) {
            return usable(site.centre) ? std::tuple { site.first, site.centre.latitude, site.centre.longitude }
                                       : std::tuple { site.first, 1000.0, 1000.0 };
        };
        return key(a) < key(b);
    });
    for (std::size_t i = 0; i < sites.size(); ++i) {
        sites[i].number = static_cast<int>(i + 1);
        std::sort(sites[i].flightIds.begin(), sites[i].flightIds.end());
        for (const std::int64_t id : sites[i].flightIds)
            m_siteOfFlight[id] = i;
    }
    m_sites = std::move(sites);
}

const Site* SiteBook::site(int number) const
{
    if (number < 1 || static_cast<std::size_t>(number) > m_sites.size())
        return nullptr;
    return &m_sites[static_cast<std::size_t>(number - 1)];
}

const Site* SiteBook::siteOf(std::int64_t flightId) const
{
    const auto found = m_siteOfFlight.find(flightId);
    return found == m_siteOfFlight.end() ? nullptr : &m_sites[found->second];
}

std::string SiteBook::siteName(const LibraryFlight& flight) const
{
    if (!flight.site.empty())
        return flight.site;
    const Site* site = siteOf(flight.id);
    return site ? site->name : std::string {};
}

LibraryResult<SiteBook> readSiteBook(const FlightLibrary& library, LogSink* log)
{
    auto flights = library.index().flights();
    if (!flights)
        return Failure { flights.error() };
    LibraryJournal journal(library.folder(), log);
    return SiteBook(*flights, journal.siteNames());
}

LibraryResult<void> nameSite(const FlightLibrary& library, const Site& site, std::string_view name, LogSink* log)
{
    LibraryJournal journal(library.folder(), log);
    return journal.recordSiteName(site.centre, name);
}

bool sameSiteName(std::string_view a, std::string_view b) { return foldCase(a) == foldCase(b); }

} // namespace corvex::library
