#pragma once

#include "geo/GeoPoint.h"
#include "library/LibraryError.h"
#include "library/LibraryFlight.h"
#include "library/LibraryJournal.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {
class LogSink;
}

namespace corvex::library {

class FlightLibrary;

// Take-offs this close to a site's centre are that site: a hill's launches, a few
// hundred metres apart, are one site, and the next hill across a valley is another.
inline constexpr double siteRadiusMetres = 300;

// Which take-offs make one site. Every centre given is a site of its own (the pilot's
// named sites, so that a name stays where it was given); then the take-offs, sorted by
// latitude and longitude, each join the nearest centre within `radius` or, when there
// is none, become the centre of a new site. A take-off is never farther than `radius`
// from its site's centre, so a chain of take-offs cannot drag a site across a valley
// (no site is wider than twice the radius), and the result depends only on the places,
// never on the order they came in. A grid of cells about the radius wide (wrapping at
// ±180°) finds the centres near a take-off, so ten thousand take-offs take milliseconds.
struct SiteClusters {
    std::vector<GeoPoint> centres; // the fixed ones first, in the order given
    std::vector<std::size_t> siteOf; // for each take-off, its centre's index
};
SiteClusters clusterTakeoffs(
    const std::vector<GeoPoint>& takeoffs, const std::vector<GeoPoint>& fixedCentres, double radius = siteRadiusMetres);

// One site of the log book: the flights that took off there.
struct Site {
    int number { 0 }; // 1 for the site of the oldest flight, and on by first flight
    GeoPoint centre;
    std::string name; // the pilot's, empty when not named
    std::string suggestion; // "near PLACE" from the offline place list, never stored
    std::int64_t flights { 0 };
    std::int64_t seconds { 0 }; // in the air
    std::int64_t first { 0 }, last { 0 }; // take-offs, UTC seconds
    std::vector<std::int64_t> flightIds;
};

// The sites of a list of flights, with the names the pilot gave.
class SiteBook {
public:
    SiteBook() = default;
    SiteBook(const std::vector<LibraryFlight>& flights, const std::vector<SiteName>& names);

    std::vector<Site>& sites() { return m_sites; }
    const std::vector<Site>& sites() const { return m_sites; }
    // Number N of the list; nothing for one the list does not have.
    const Site* site(int number) const;
    const Site* siteOf(std::int64_t flightId) const;
    // What the flight shows as its site: the pilot's own word for this flight (FlightEdit's
    // site) wins, else the name of the site it took off from, else nothing.
    std::string siteName(const LibraryFlight& flight) const;

private:
    std::vector<Site> m_sites;
    std::map<std::int64_t, std::size_t> m_siteOfFlight;
};

// The library's sites: its flights (neither removed nor second recordings) with the
// names kept in its journal.
LibraryResult<SiteBook> readSiteBook(const FlightLibrary& library, LogSink* log = nullptr);
// Names the site (an empty name forgets the name) in the library's journal, at its
// centre, so that a rebuilt index keeps it and later flights from there carry it.
LibraryResult<void> nameSite(const FlightLibrary& library, const Site& site, std::string_view name, LogSink* log = nullptr);

// Whether two site names are the same to a pilot typing one: ASCII letters in any case.
bool sameSiteName(std::string_view a, std::string_view b);

} // namespace corvex::library
