// The log book's sites: which take-offs are one site, the names the pilot gives them,
// the offline place list that suggests one, and the take-off's local time.
#include "library/FlightLibrary.h"
#include "library/PlaceNames.h"
#include "library/Sites.h"
#include "library/TakeoffTime.h"

#include "CapturingLogSink.h"
#include "TemporaryFolder.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace corvex::library;
using corvex::GeoPoint;
using corvex::testing::TemporaryFolder;

namespace {

GeoPoint moved(GeoPoint from, double azimuth, double metres)
{
    GeoPoint to;
    GeographicLib::Geodesic::WGS84().Direct(from.latitude, from.longitude, azimuth, metres, to.latitude, to.longitude);
    return to;
}

double metresBetween(GeoPoint a, GeoPoint b) { return corvex::geo::geodesicDistanceMetres(a, b); }

// The take-offs grouped by site, each group its points' indices: what two clusterings
// must agree on, whatever the sites' own order.
std::set<std::set<std::size_t>> groups(const SiteClusters& clusters)
{
    std::map<std::size_t, std::set<std::size_t>> bySite;
    for (std::size_t i = 0; i < clusters.siteOf.size(); ++i)
        bySite[clusters.siteOf[i]].insert(i);
    std::set<std::set<std::size_t>> result;
    for (auto& [site, members] : bySite)
        result.insert(members);
    return result;
}

// What every clustering holds to: no take-off farther than the radius from its centre,
// no two centres of take-offs within the radius of each other.
void expectBounded(const std::vector<GeoPoint>& takeoffs, const SiteClusters& clusters, std::size_t fixed)
{
    for (std::size_t i = 0; i < takeoffs.size(); ++i)
        if (std::isfinite(takeoffs[i].latitude)) {
            EXPECT_LE(metresBetween(takeoffs[i], clusters.centres[clusters.siteOf[i]]), siteRadiusMetres) << i;
        }
    for (std::size_t a = fixed; a < clusters.centres.size(); ++a)
        for (std::size_t b = a + 1; b < clusters.centres.size(); ++b)
            if (std::isfinite(clusters.centres[a].latitude) && std::isfinite(clusters.centres[b].latitude)) {
                EXPECT_GT(metresBetween(clusters.centres[a], clusters.centres[b]), siteRadiusMetres) << a << " " << b;
            }
}

LibraryFlight flightAt(std::int64_t id, GeoPoint takeoff, std::int64_t when, std::string site = {})
{
    LibraryFlight flight;
    flight.id = id;
    flight.takeoff = when;
    flight.durationSeconds = 3600;
    flight.takeoffLatitude = takeoff.latitude;
    flight.takeoffLongitude = takeoff.longitude;
    flight.site = std::move(site);
    return flight;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

void writeAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

} // namespace

TEST(Sites, TakeoffsCloseTogetherAreOneSiteAndNoSiteSpreads)
{
    const GeoPoint hill { 45.9, 6.2 };
    struct Case {
        const char* what;
        std::vector<GeoPoint> takeoffs;
        std::size_t sites;
    };
    std::vector<GeoPoint> chain;
    for (int i = 0; i < 30; ++i)
        chain.push_back(moved(hill, 90, 200.0 * i));
    const Case cases[] = {
        { "inside the radius", { hill, moved(hill, 30, 299) }, 1 },
        { "just outside", { hill, moved(hill, 30, 301) }, 2 },
        // 5.8 km of take-offs 200 m apart: a site of each two, not one long one.
        { "a chain across the valley", chain, 15 },
        { "across the antimeridian", { { -16.5, 179.9995 }, { -16.5, -179.9995 }, moved({ -16.5, 179.9995 }, 135, 250) }, 1 },
        { "the antimeridian at 65 degrees", { { 65, -179.999 }, { 65, 179.999 } }, 1 },
        { "the two sides of the pole", { { 89.999, 0 }, { 89.999, 180 } }, 1 },
        { "the same place twice", { hill, hill }, 1 },
        { "no take-offs", {}, 0 },
        // A damaged row: a site of its own, and the others as they would be.
        { "a take-off that is no place", { hill, { NAN, NAN }, moved(hill, 0, 100), { NAN, 7 } }, 3 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SiteClusters clusters = clusterTakeoffs(c.takeoffs, {});
        EXPECT_EQ(clusters.centres.size(), c.sites);
        expectBounded(c.takeoffs, clusters, 0);
    }
}

TEST(Sites, TheSitesDependOnThePlacesNotOnTheOrderTheyCame)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> azimuth(-180, 180);
    std::uniform_real_distribution<double> spread(0, 700);
    std::vector<GeoPoint> takeoffs;
    // Twenty hills of fifteen take-offs each, some crowding each other, some at ±180°.
    for (int hill = 0; hill < 20; ++hill) {
        const GeoPoint centre { 46 + hill * 0.004, hill % 4 == 0 ? 179.999 : 7 + hill * 0.005 };
        for (int i = 0; i < 15; ++i)
            takeoffs.push_back(moved(centre, azimuth(random), spread(random)));
    }
    const std::vector<GeoPoint> named { moved(takeoffs[3], 0, 120), { 46.02, 7.05 } };
    const SiteClusters first = clusterTakeoffs(takeoffs, named);
    expectBounded(takeoffs, first, named.size());
    for (int round = 0; round < 5; ++round) {
        std::vector<std::size_t> order(takeoffs.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::shuffle(order.begin(), order.end(), random);
        std::vector<GeoPoint> shuffled;
        for (const std::size_t i : order)
            shuffled.push_back(takeoffs[i]);
        const SiteClusters again = clusterTakeoffs(shuffled, named);
        // Back in the first order: the same groups with the same centres.
        SiteClusters unshuffled { again.centres, std::vector<std::size_t>(takeoffs.size()) };
        for (std::size_t i = 0; i < order.size(); ++i)
            unshuffled.siteOf[order[i]] = again.siteOf[i];
        EXPECT_EQ(groups(unshuffled), groups(first));
        for (std::size_t i = 0; i < takeoffs.size(); ++i) {
            EXPECT_EQ(unshuffled.centres[unshuffled.siteOf[i]].latitude, first.centres[first.siteOf[i]].latitude);
            EXPECT_EQ(unshuffled.centres[unshuffled.siteOf[i]].longitude, first.centres[first.siteOf[i]].longitude);
        }
    }
}

TEST(Sites, ANamedSiteHoldsItsTakeoffsAndTheFlightsOwnWordWins)
{
    const GeoPoint hill { 45.9, 6.2 };
    const GeoPoint other { 46.3, 7.1 };
    const std::vector<LibraryFlight> flights {
        flightAt(1, moved(hill, 10, 50), 2000),
        flightAt(2, moved(hill, 200, 150), 1000),
        flightAt(3, other, 1500),
        flightAt(4, moved(hill, 90, 100), 3000, "Launch B"),
    };
    // Named at a point beside the take-offs: the site stays where it was named.
    const SiteBook book(flights, { SiteName { moved(hill, 0, 80), "Forclaz" } });
    ASSERT_EQ(book.sites().size(), 2u);
    const Site* first = book.site(1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->name, "Forclaz");
    EXPECT_EQ(first->flightIds, (std::vector<std::int64_t> { 1, 2, 4 }));
    EXPECT_EQ(first->flights, 3);
    EXPECT_EQ(first->seconds, 3 * 3600);
    EXPECT_EQ(first->first, 1000);
    EXPECT_EQ(first->last, 3000);
    EXPECT_EQ(book.site(2)->name, "");
    EXPECT_FALSE(book.site(3));
    EXPECT_FALSE(book.site(0));
    EXPECT_EQ(book.siteName(flights[0]), "Forclaz");
    EXPECT_EQ(book.siteName(flights[2]), "");
    EXPECT_EQ(book.siteName(flights[3]), "Launch B") << "the pilot's word for one flight wins";
    EXPECT_TRUE(sameSiteName("FORCLAZ", "forclaz"));
    EXPECT_FALSE(sameSiteName("Forclaz", "Forcla"));
}

// A name is kept in the journal: a rebuilt index keeps it, a flight imported later
// from the same hill carries it, and an empty name forgets it.
TEST(Sites, NamesSurviveARebuildAndReachLaterFlights)
{
    TemporaryFolder scratch;
    const std::string folder = scratch.path();
    auto opened = FlightLibrary::open(folder);
    ASSERT_TRUE(opened);
    auto library = std::move(*opened);
    const std::string source = std::string(CORVEX_TESTDATA_DIR "/igc/") + "20180427.igc";
    ASSERT_EQ(library->importFile(source).kind, ImportOutcome::Kind::Imported);
    ASSERT_EQ(library->importFile(std::string(CORVEX_TESTDATA_DIR "/igc/") + "654G6NG1.IGC").kind, ImportOutcome::Kind::Imported);
    auto book = readSiteBook(*library);
    ASSERT_TRUE(book);
    ASSERT_EQ(book->sites().size(), 2u);
    ASSERT_TRUE(nameSite(*library, *book->site(2), "Kobala"));
    EXPECT_NE(readAll(library->folder() + "/journal.tsv").find("site\t"), std::string::npos);

    ASSERT_TRUE(library->rebuild());
    book = readSiteBook(*library);
    ASSERT_TRUE(book);
    EXPECT_EQ(book->site(2)->name, "Kobala");

    // The same hill a year later: another file of the same take-off.
    std::string later = readAll(source);
    later.replace(later.find("HFDTEDATE:270418"), 16, "HFDTEDATE:270419");
    writeAll(folder + "/later.igc", later);
    const auto imported = library->importFile(folder + "/later.igc");
    ASSERT_EQ(imported.kind, ImportOutcome::Kind::Imported) << imported.message;
    book = readSiteBook(*library);
    ASSERT_TRUE(book);
    EXPECT_EQ(book->siteName(*imported.flight), "Kobala");
    EXPECT_EQ(book->siteOf(imported.flight->id)->flights, 2);

    ASSERT_TRUE(nameSite(*library, *book->siteOf(imported.flight->id), "Kobala North"));
    ASSERT_TRUE(nameSite(*library, *book->site(1), "Other"));
    ASSERT_TRUE(nameSite(*library, *book->site(1), ""));
    book = readSiteBook(*library);
    EXPECT_EQ(book->siteName(*imported.flight), "Kobala North") << "named again: the last name";
    EXPECT_EQ(book->site(1)->name, "") << "forgotten";
}

TEST(Sites, JournalSiteRecordsThatDoNotReadAreSkipped)
{
    TemporaryFolder scratch;
    writeAll(scratch.path() + "/journal.tsv",
        "site\t46.1000000\t7.2000000\tPlan\\tPraz\n"
        "site\t91.0000000\t7.2000000\tbeyond the pole\n"
        "site\t46.1\t-181\tbeyond the antimeridian\n"
        "site\tnorth\t7.2\tnot a number\n"
        "site\t46.1\t7.2\n"
        "site\t-12.5\t179.9999999\tEast end\n");
    corvex::testing::CapturingLogSink log;
    LibraryJournal journal(scratch.path(), &log);
    const auto names = journal.siteNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].name, "Plan\tPraz");
    EXPECT_EQ(names[1].centre.longitude, 179.9999999);
    for (const int line : { 2, 3, 4, 5 })
        EXPECT_TRUE(log.containsPrefix("Line " + std::to_string(line) + " of the library journal")) << line;
    // Read back and written again to the same text: naming again replaces.
    ASSERT_TRUE(journal.recordSiteName(names[0].centre, "Plan-Praz"));
    ASSERT_EQ(journal.siteNames().size(), 2u);
    EXPECT_EQ(journal.siteNames()[0].name, "Plan-Praz");
}

TEST(Sites, ThePlaceListIsReadWithBounds)
{
    TemporaryFolder scratch;
    const std::string sample = scratch.path() + "/Locations.xml";
    writeAll(sample, R"(<?xml version="1.0" encoding="utf-8"?>
<gweather format="1.0">
  <region><_name>Europe</_name>
    <country><_name>France</_name><iso-code>FR</iso-code>
      <location><name>Annecy-Meythet</name><code>LFLP</code><coordinates>45.93 6.10</coordinates></location>
      <city><_name>Annecy</_name><coordinates>45.899247 6.129384</coordinates></city>
      <state><_name>Haute-Savoie</_name>
        <city><name xml:lang="fr">Chamonix</name><coordinates>45.92 6.87</coordinates></city>
      </state>
      <city><_name>Nowhere</_name><coordinates>95 6.1</coordinates></city>
      <city><_name>Nameless</_name></city>
      <city><_name></_name><coordinates>45.9 6.2</coordinates></city>
    </country>
  </region>
</gweather>)");
    const PlaceList places = PlaceList::read(sample);
    ASSERT_EQ(places.places().size(), 2u) << "cities only, each with a name and coordinates in range";
    struct Case {
        GeoPoint site;
        const char* suggestion;
    };
    const Case cases[] = {
        { { 45.83, 6.22 }, "near Annecy" }, // Planfait, about 10 km
        { { 45.95, 6.85 }, "near Chamonix" },
        { { 45.92, 6.65 }, "near Chamonix" }, // 17 km, and 40 km from Annecy
        { { 46.30, 6.13 }, "" }, // 44 km: too far
    };
    for (const Case& c : cases)
        EXPECT_EQ(places.suggestion(c.site), c.suggestion) << c.site.latitude << " " << c.site.longitude;

    for (const char* hostile : { "not XML at all", "<gweather><city><_name>Cut" }) {
        writeAll(sample, hostile);
        EXPECT_TRUE(PlaceList::read(sample).places().empty()) << hostile;
    }
    EXPECT_TRUE(PlaceList::read(scratch.path() + "/missing.xml").places().empty());
    EXPECT_TRUE(PlaceList::read(scratch.path()).places().empty()) << "a folder";
    writeAll(sample, "<gweather>" + std::string(9u << 20, ' ') + "</gweather>");
    EXPECT_TRUE(PlaceList::read(sample).places().empty()) << "larger than the list can be";
}

TEST(Sites, TheTakeoffsLocalTime)
{
    struct Case {
        const char* header;
        std::optional<int> minutes;
    };
    const Case cases[] = {
        { "HFTZNTIMEZONE:11", 660 },
        { "HFTZNTIMEZONE:+5.50", 330 },
        { "HFTZNTIMEZONE:-3.5", -210 },
        { "HFTZN:+05:45", 345 },
        { "HFTZNTIMEZONE:UTC+1\r", 60 },
        { "HOTZNTIMEZONE:2", 120 },
        { "HFTZNTIMEZONE:25", std::nullopt },
        { "HFTZNTIMEZONE:", std::nullopt },
        { "HFTZNTIMEZONE:two", std::nullopt },
        { "HFTZNTIMEZONE:1:75", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(igcTimeZoneMinutes(std::string("AXXX001\nHFDTE010724\n") + c.header + "\nB1200004600000N00700000EA0100001000\n"),
            c.minutes)
            << c.header;
    EXPECT_EQ(igcTimeZoneMinutes("AXXX001\nB1200004600000N00700000EA0100001000\nHFTZNTIMEZONE:2\n"), std::nullopt)
        << "a header line after the fixes is no header";
    EXPECT_EQ(igcFileTimeZoneMinutes(CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc"), 330);
    EXPECT_EQ(igcFileTimeZoneMinutes(CORVEX_TESTDATA_DIR "/igc/20180427.igc"), std::nullopt);
    EXPECT_EQ(igcFileTimeZoneMinutes("/nonexistent/file.igc"), std::nullopt);
    // A named pipe in a flight's place never holds up a listing.
    TemporaryFolder scratch;
    const std::string pipe = scratch.path() + "/pipe.igc";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(igcFileTimeZoneMinutes(pipe), std::nullopt);

    EXPECT_EQ(localIsoTime(0, 330), "1970-01-01T05:30:00+05:30");
    EXPECT_EQ(localIsoTime(0, -210), "1969-12-31T20:30:00-03:30");
    // Without a header, the computer's zone on that date: summer and winter differ.
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    ::setenv("TZ", "Europe/Zurich", 1);
    ::tzset();
    EXPECT_EQ(localIsoTime(1719835200, std::nullopt), "2024-07-01T14:00:00+02:00");
    EXPECT_EQ(localIsoTime(1704110400, std::nullopt), "2024-01-01T13:00:00+01:00");
    if (saved)
        ::setenv("TZ", before.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
