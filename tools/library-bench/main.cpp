// library-bench make DIR --flights N | long SOURCE OUT | list-window DIR [--statistics] | flight FILE [--frames N]
//     [--airspaces OPENAIR] [--terrain DIR] [--shot PNG] | score DIR [--threads N] | debrief DIR [--threads N]
//     | sites [--takeoffs N] | compare FILE FILE... [--at FRACTION] [--shot PNG] [--table-shot PNG]
//
// The flight library's speed with many flights and with a long one, by hand
// (scripts/bench); no test runs it.
//   make         N synthetic flights (two minutes of fixes each, over ten years, eight
//                gliders, most in summer, from 40 hills of which 20 are named sites) written into the
//                library at DIR and indexed, as an import would; prints how long that took.
//   long         a real flight (SOURCE, an IGC file) filled in to a fix a second, as OUT.
//   list-window  the library window on DIR: from the start of the program to the table
//                filled and painted, and the peak resident memory; --statistics opens
//                the statistics chart under the table too (--chart-shot PNG: its picture).
//   score        the scoring pass over every flight of DIR without a score (as after
//                a rebuild), on N threads (default: one per processor); its time
//                per flight and in all.
//   debrief      the debrief pass over every flight of DIR (scored first, untimed), as
//                after an index made before the library kept debriefs: its time.
//   sites        N take-offs (10,000) on 400 hills of the Alps, some crowding each other,
//                and a few on the antimeridian, made into sites (with 40 of them named):
//                the median of five runs and the sites found.
//   flight       the flight view of one IGC file: from the file to the window painted,
//                then frames of the map (pan, zoom) and of the shared cursor moving
//                along the barogram, then of choosing each thermal of the debrief in
//                turn (map and barogram repainted), median and 95th percentile; peak
//                memory. With --airspaces the flight is checked against an OpenAir
//                file first; --shot waits for the score, the check and the debrief
//                and chooses the thermal that gained most before its picture
//                (demo-airspaces.txt beside this file goes with 20180427.igc). With
//                --terrain the map shows the relief of the tiles in DIR and the barogram
//                the ground (scripts/make-relief-tiles makes some up); --shot waits for
//                both.
//   compare      the comparison window of IGC files (not imported): from the files to
//                the window painted and to every debrief in; then the replay paused at
//                FRACTION (0.5) of the span from the first take-off to the last landing,
//                --shot its picture, --table-shot the figures and shared thermals alone.
#include "base/Format.h"
#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/Sites.h"
#include "library/qt/LibraryDebrief.h"
#include "library/ui/BarogramView.h"
#include "library/ui/CompareWindow.h"
#include "library/ui/ReplayBar.h"
#include "library/ui/FlightWindow.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/StatisticsChart.h"
#include "library/ui/LibraryWindow.h"
#include "map/qt/ReliefLayer.h"
#include "map/qt/TerrainSource.h"
#include "map/ui/MapView.h"

#include <QApplication>
#include <QPushButton>
#include <QDir>
#include <QElapsedTimer>
#include <QTableView>
#include <QTableWidget>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace corvex;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

void report(const char* name, const std::vector<double>& frames)
{
    std::printf("%-8s frames %4zu  median %6.2f ms  p95 %6.2f ms  max %6.2f ms\n", name, frames.size(), percentile(frames, 0.5),
        percentile(frames, 0.95), *std::max_element(frames.begin(), frames.end()));
}

// A flight of `fixes` seconds from a start time: a slow climbing circle, enough for
// every figure to have a value.
std::string syntheticIgc(std::int64_t start, int fixes, const std::string& glider, const std::string& pilot, int serial, GeoPoint hill)
{
    std::string igc;
    igc.reserve(static_cast<std::size_t>(fixes) * 37 + 400);
    char line[128];
    std::snprintf(line, sizeof line, "AXBN%06d\r\nHFDTE%s\r\n", serial, utcTimeText(start, "%d%m%y").c_str());
    igc += line;
    igc += "HFPLTPILOTINCHARGE:" + pilot + "\r\nHFGTYGLIDERTYPE:" + glider + "\r\n";
    for (int i = 0; i < fixes; ++i) {
        const std::int64_t t = start + i;
        const int secondOfDay = static_cast<int>(((t % 86400) + 86400) % 86400);
        const double angle = i / 60.0;
        const double latitude = hill.latitude + 0.01 * std::sin(angle) + i * 2e-6;
        const double longitude = hill.longitude + 0.015 * std::cos(angle) + i * 3e-6;
        const int latMinutes = static_cast<int>(std::lround(latitude * 60000));
        const int lonMinutes = static_cast<int>(std::lround(longitude * 60000));
        const int altitude = 1200 + static_cast<int>(800 * std::sin(i / 3000.0)) + (i % 600) / 3;
        std::snprintf(line, sizeof line, "B%02d%02d%02d%02d%05dN%03d%05dEA%05d%05d\r\n", secondOfDay / 3600, secondOfDay / 60 % 60,
            secondOfDay % 60, latMinutes / 60000, latMinutes % 60000, lonMinutes / 60000, lonMinutes % 60000, altitude, altitude + 30);
        igc += line;
    }
    return igc;
}

// A real flight made denser: every second between two fixes filled in on the straight
// line, so that a 10-hour flight logged every 4 s has the 36,000 fixes of one logged
// every second, with the real flight's turns, thermals and extent.
int longFlight(const std::string& source, const std::string& out)
{
    const auto flight = flights::readIgcFile(source);
    if (!flight) {
        std::fprintf(stderr, "%s\n", flight.error().c_str());
        return 1;
    }
    std::string igc = "A" + flight->loggerId + "\r\n";
    const auto date = flight->date();
    char line[128];
    if (date) {
        std::snprintf(line, sizeof line, "HFDTE%02d%02d%02d\r\n", date->day, date->month, date->year % 100);
        igc += line;
    }
    igc += "HFPLTPILOTINCHARGE:" + flight->pilot() + "\r\nHFGTYGLIDERTYPE:" + flight->glider() + "\r\n";
    std::size_t fixes = 0;
    const auto& all = flight->fixes;
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        const auto& a = all[i];
        const auto& b = all[i + 1];
        const std::int64_t span = std::max<std::int64_t>(1, b.time - a.time);
        for (std::int64_t t = 0; t < span; ++t, ++fixes) {
            const double f = double(t) / double(span);
            const auto mix = [f](double x, double y) { return x + (y - x) * f; };
            const std::int64_t time = a.time + t;
            const int secondOfDay = static_cast<int>(((time % 86400) + 86400) % 86400);
            const double latitude = mix(a.latitude, b.latitude), longitude = mix(a.longitude, b.longitude);
            const long latMilli = std::lround(std::abs(latitude) * 60000), lonMilli = std::lround(std::abs(longitude) * 60000);
            std::snprintf(line, sizeof line, "B%02d%02d%02d%02ld%05ld%c%03ld%05ld%cA%05d%05d\r\n", secondOfDay / 3600,
                secondOfDay / 60 % 60, secondOfDay % 60, latMilli / 60000, latMilli % 60000, latitude < 0 ? 'S' : 'N',
                lonMilli / 60000, lonMilli % 60000, longitude < 0 ? 'W' : 'E',
                static_cast<int>(std::lround(mix(a.pressureAltitude, b.pressureAltitude))),
                static_cast<int>(std::lround(mix(a.gnssAltitude, b.gnssAltitude))));
            igc += line;
        }
    }
    std::ofstream(out, std::ios::binary) << igc;
    std::printf("long: %zu fixes from %zu of %s\n", fixes, all.size(), source.c_str());
    return 0;
}

int makeLibrary(const std::string& folder, int flights)
{
    const char* gliders[] = { "Alpha 6", "Bravo 3", "Cirrus", "Delta 4", "Echo RS", "Foxtrot", "Golf X", "Hotel 2" };
    const char* pilots[] = { "Ann Example", "Bob Sample", "Cem Probe", "Dee Trial" };
    const auto start = Clock::now();
    std::vector<std::string> paths;
    const std::string incoming = folder + ".incoming";
    std::filesystem::create_directories(incoming);
    for (int i = 0; i < flights; ++i) {
        // Ten years of flights, as many in each, most of them in the summer months (the
        // year's share p spread by p + 0.7 sin(2 pi p) / 2 pi: flights crowd where it climbs
        // slowest, at midyear), so that the statistics chart shows a season.
        const int perYear = std::max(1, flights / 10);
        const double p = static_cast<double>(i % perYear) / perYear;
        const double season = p + 0.7 * std::sin(2 * M_PI * p) / (2 * M_PI);
        const std::int64_t takeoff = 1420070400 + static_cast<std::int64_t>(i / perYear) * 31557600
            + static_cast<std::int64_t>(season * 31557600) + (i % 7) * 3600;
        const std::string path = incoming + "/" + std::to_string(i) + ".igc";
        // Forty hills a few kilometres apart along the Alps.
        const GeoPoint hill { 46.5 + 0.05 * (i % 40 % 5), 7.5 + 0.1 * (i % 40 / 5) };
        std::ofstream(path, std::ios::binary) << syntheticIgc(takeoff, 120, gliders[i % 8], pilots[i % 4], i % 3, hill);
        paths.push_back(path);
    }
    auto library = library::FlightLibrary::open(folder);
    if (!library) {
        std::fprintf(stderr, "%s\n", library.error().message.c_str());
        return 1;
    }
    const auto importStart = Clock::now();
    library::ImportTally tally;
    for (const auto& outcome : (*library)->importPaths({ incoming }))
        tally.count(outcome);
    std::filesystem::remove_all(incoming);
    std::printf("make: %zu flights imported in %.0f ms (%.0f ms with writing the files), %zu refused\n", tally.imported,
        millisecondsSince(importStart), millisecondsSince(start), tally.refused);
    // Half the hills named, as a pilot names the sites flown most.
    const auto sites = library::readSiteBook(**library);
    if (!sites) {
        std::fprintf(stderr, "%s\n", sites.error().message.c_str());
        return 1;
    }
    for (std::size_t i = 0; i < sites->sites().size() && i < 20; ++i)
        if (const auto named = library::nameSite(**library, sites->sites()[i], "Hill " + std::to_string(i + 1)); !named) {
            std::fprintf(stderr, "%s\n", named.error().message.c_str());
            return 1;
        }
    std::printf("make: %zu sites, %zu named\n", sites->sites().size(), std::min<std::size_t>(sites->sites().size(), 20));
    return tally.refused == 0 ? 0 : 1;
}

int scoreLibrary(const std::string& folder, unsigned threads)
{
    auto library = library::FlightLibrary::open(folder);
    if (!library) {
        std::fprintf(stderr, "%s\n", library.error().message.c_str());
        return 1;
    }
    const auto start = Clock::now();
    library::ScoreFillOptions options;
    options.threads = threads;
    const auto filled = (*library)->fillScores(options);
    if (!filled) {
        std::fprintf(stderr, "%s\n", filled.error().message.c_str());
        return 1;
    }
    const auto& outcome = *filled;
    const double milliseconds = millisecondsSince(start);
    std::printf("score: %zu of %zu flights scored in %.0f ms (%.2f ms a flight, %u threads), %zu unreadable\n", outcome.scored,
        outcome.total, milliseconds, outcome.total ? milliseconds / static_cast<double>(outcome.total) : 0.0,
        threads ? threads : std::max(1u, std::thread::hardware_concurrency()), outcome.unreadable);
    return 0;
}

// The background pass's debrief of every flight of DIR, as after an index that had none:
// the scores are filled first and not timed, then every debrief is forgotten and made
// again on N threads.
int debriefLibrary(const std::string& folder, unsigned threads)
{
    auto library = library::FlightLibrary::open(folder);
    if (!library) {
        std::fprintf(stderr, "%s\n", library.error().message.c_str());
        return 1;
    }
    library::ScoreFillOptions options;
    options.threads = threads;
    if (const auto scored = (*library)->fillScores(options); !scored) {
        std::fprintf(stderr, "%s\n", scored.error().message.c_str());
        return 1;
    }
    if (const auto forgotten = (*library)->index().forgetDebriefs(); !forgotten) {
        std::fprintf(stderr, "%s\n", forgotten.error().message.c_str());
        return 1;
    }
    options.debrief = library::libraryDebriefMaker();
    const auto start = Clock::now();
    const auto filled = (*library)->fillScores(options);
    if (!filled) {
        std::fprintf(stderr, "%s\n", filled.error().message.c_str());
        return 1;
    }
    const auto& outcome = *filled;
    const double milliseconds = millisecondsSince(start);
    std::printf("debrief: %zu of %zu flights analysed in %.0f ms (%.2f ms a flight, %u threads), %zu unreadable\n",
        outcome.debriefed, outcome.total, milliseconds,
        outcome.total ? milliseconds / static_cast<double>(outcome.total) : 0.0,
        threads ? threads : std::max(1u, std::thread::hardware_concurrency()), outcome.unreadable);
    return outcome.debriefed == outcome.total ? 0 : 1;
}

int listWindow(const std::chrono::steady_clock::time_point programStart, const std::string& folder, const QString& shot,
    bool statistics, const QString& chartShot)
{
    auto library = library::FlightLibrary::open(folder);
    if (!library) {
        std::fprintf(stderr, "%s\n", library.error().message.c_str());
        return 1;
    }
    library::LibraryWindow window(**library);
    if (statistics)
        window.statisticsButton().setChecked(true);
    window.show();
    QApplication::processEvents();
    window.repaint();
    std::printf("list-window: %d flights shown%s, %.0f ms from the program's start, peak %.1f MB\n",
        window.model().rowCount(), statistics ? " with the statistics chart" : "", millisecondsSince(programStart), peakMegabytes());
    if (!shot.isEmpty())
        window.grab().save(shot);
    if (!chartShot.isEmpty()) {
        // The months of the last year: a season, rather than ten equal years.
        if (const auto& years = window.statisticsChart().statistics().years(); !years.empty())
            window.statisticsChart().setYear(years.back().year);
        window.statisticsChart().grab().save(chartShot);
    }
    return 0;
}

// Turns the event loop until done() or the time is up; false then.
bool waitFor(const std::function<bool()>& done, int milliseconds = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

int compareView(const QStringList& files, double at, const QString& shot, const QString& tableShot)
{
    std::vector<library::CompareWindow::Source> sources;
    for (const QString& file : files)
        sources.push_back({ file.toStdString(), std::nullopt });
    const auto opening = Clock::now();
    library::CompareWindow window(std::move(sources));
    window.resize(1400, 950);
    window.show();
    QApplication::processEvents();
    window.repaint();
    std::printf("compare: %zu flights, window painted %.1f ms after the files were opened\n", window.flightCount(),
        millisecondsSince(opening));
    if (!waitFor([&] { return !window.isDebriefing(); })) {
        std::fprintf(stderr, "compare: the debriefs took more than a minute\n");
        return 1;
    }
    std::printf("compare: debriefed %.1f ms after the files were opened, %zu shared thermals\n", millisecondsSince(opening),
        window.sharedThermals().size());
    library::ReplayBar& replay = window.replayBar();
    // Every glider in the picture: the whole day's tracks, not the lead's glider.
    replay.setFollowing(false);
    window.fitTracks();
    replay.setTime(double(replay.spanBegin()) + std::clamp(at, 0.0, 1.0) * double(replay.spanEnd() - replay.spanBegin()));
    QApplication::processEvents();
    if (!shot.isEmpty())
        window.grab().save(shot);
    if (!tableShot.isEmpty()) {
        // Wide enough for the shared thermals' verdicts on one line.
        window.resize(1700, 950);
        QApplication::processEvents();
        window.figuresTable().parentWidget()->grab().save(tableShot);
    }
    return 0;
}

int flightView(const std::string& file, int frames, const QString& shot, const QString& airspaces, const QString& terrainFolder)
{
    TerrainSource terrain;
    TerrainSource::setProgram(&terrain);
    if (!terrainFolder.isEmpty()) {
        terrain.setFolder(terrainFolder.toStdString());
        if (!waitFor([&] { return !terrain.isLoading(); }) || !terrain.tiles()) {
            std::fprintf(stderr, "flight: no terrain tile in %s\n", qPrintable(terrainFolder));
            return 1;
        }
    }
    const std::string folder = QDir::tempPath().toStdString() + "/library-bench-" + std::to_string(::getpid());
    auto library = library::FlightLibrary::open(folder);
    if (!library) {
        std::fprintf(stderr, "%s\n", library.error().message.c_str());
        return 1;
    }
    const auto imported = (*library)->importFile(file);
    if (!imported.flight) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), imported.message.c_str());
        return 1;
    }
    const auto opening = Clock::now();
    library::FlightWindow window(**library, *imported.flight);
    window.resize(1280, 900);
    window.show();
    QApplication::processEvents();
    window.repaint();
    std::printf("flight: %zu fixes, window painted %.1f ms after the file was opened\n", window.track().size(),
        millisecondsSince(opening));
    if (!airspaces.isEmpty()) {
        // The verdict over the same tiles as the relief, as the program gives it.
        if (!terrainFolder.isEmpty())
            window.setAirspaceCheckSettings({ terrainFolder.toStdString(), {} });
        window.setAirspaceFile(airspaces);
    }

    if (!shot.isEmpty()) {
        if (!waitFor([&] { return !window.isScoring() && !window.isCheckingAirspaces() && !window.isDebriefing() && !window.isFindingGround(); })) {
            std::fprintf(stderr, "flight: no score, airspace check or debrief within a minute\n");
            return 1;
        }
        std::printf("flight: scored and debriefed %.1f ms after the file was opened\n", millisecondsSince(opening));
        QApplication::processEvents();
        window.showFix(window.track().size() * 2 / 5);
        if (window.debrief() && !window.debrief()->thermals.empty()) {
            const auto& thermals = window.debrief()->thermals;
            const auto best = std::max_element(thermals.begin(), thermals.end(),
                [](const auto& a, const auto& b) { return a.gainMetres < b.gainMetres; });
            window.selectStretch(library::FlightWindow::StretchKind::Thermal, static_cast<std::size_t>(best - thermals.begin()));
        }
        QApplication::processEvents();
        if (terrain.tiles()) {
            // The relief of the view as it settled.
            window.grab();
            waitFor([&] { return window.reliefLayer().isPreparedFor(window.map().viewport()); }, 10000);
        }
        window.grab().save(shot);
    }
    MapView& map = window.map();
    std::vector<double> pan, zoom, cursor;
    const MapRect fitted = map.visibleMapRect();
    for (int i = 0; i < frames; ++i) {
        MapRect moved = fitted;
        const double step = fitted.width * 0.02;
        moved.x += step * ((i / 25) % 2 ? -1 : 1) * (i % 25);
        moved.y += step * ((i / 50) % 2 ? -1 : 1) * (i % 25) * 0.5;
        const auto start = Clock::now();
        map.setVisibleMapRect(moved, false);
        map.repaint();
        pan.push_back(millisecondsSince(start));
    }
    for (int i = 0; i < frames; ++i) {
        // Ten steps in, ten out, around the fitted view: where a pilot zooms.
        const double factor = (i / 10) % 2 == 0 ? 1 / 1.1 : 1.1;
        MapRect rect = map.visibleMapRect();
        const double cx = rect.x + rect.width / 2, cy = rect.y + rect.height / 2;
        rect = { cx - rect.width * factor / 2, cy - rect.height * factor / 2, rect.width * factor, rect.height * factor };
        const auto start = Clock::now();
        map.setVisibleMapRect(rect, false);
        map.repaint();
        zoom.push_back(millisecondsSince(start));
    }
    map.setVisibleMapRect(fitted, false);
    const std::size_t fixes = window.track().size();
    for (int i = 0; i < frames && fixes > 0; ++i) {
        const auto start = Clock::now();
        window.showFix(fixes * static_cast<std::size_t>(i) / static_cast<std::size_t>(frames));
        map.repaint();
        window.barogram().repaint();
        cursor.push_back(millisecondsSince(start));
    }
    std::vector<double> choose;
    if (waitFor([&] { return !window.isDebriefing(); }) && window.debrief() && !window.debrief()->thermals.empty()) {
        const std::size_t thermals = window.debrief()->thermals.size();
        std::printf("flight: %zu thermals, %zu failed attempts, %zu glides\n", thermals, window.debrief()->failedAttempts.size(),
            window.debrief()->glides.size());
        for (int i = 0; i < frames; ++i) {
            const auto start = Clock::now();
            window.selectStretch(library::FlightWindow::StretchKind::Thermal, static_cast<std::size_t>(i) % thermals);
            map.repaint();
            window.barogram().repaint();
            choose.push_back(millisecondsSince(start));
        }
    }
    report("pan", pan);
    report("zoom", zoom);
    report("cursor", cursor);
    if (!choose.empty())
        report("thermal", choose);
    std::printf("flight: peak %.1f MB\n", peakMegabytes());
    std::filesystem::remove_all(folder);
    return 0;
}

int sitesOfTakeoffs(int count)
{
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> latitude(45.0, 47.5), longitude(6.0, 14.0), offset(-0.004, 0.004);
    std::vector<GeoPoint> hills(400);
    for (std::size_t i = 0; i < hills.size(); ++i)
        hills[i] = i % 50 == 0 ? GeoPoint { -16.5 + 0.01 * static_cast<double>(i), 179.9995 } : GeoPoint { latitude(random), longitude(random) };
    std::vector<library::LibraryFlight> flights(static_cast<std::size_t>(std::max(0, count)));
    for (std::size_t i = 0; i < flights.size(); ++i) {
        const GeoPoint hill = hills[i % hills.size()];
        flights[i].id = static_cast<std::int64_t>(i + 1);
        flights[i].takeoff = 1'500'000'000 + static_cast<std::int64_t>(i) * 86400;
        flights[i].takeoffLatitude = hill.latitude + offset(random);
        flights[i].takeoffLongitude = hill.longitude + offset(random);
    }
    std::vector<library::SiteName> names;
    for (std::size_t i = 0; i < 40; ++i)
        names.push_back({ hills[i * 10], "hill " + std::to_string(i) });
    std::vector<double> times;
    std::size_t sites = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        const library::SiteBook book(flights, names);
        times.push_back(millisecondsSince(start));
        sites = book.sites().size();
    }
    std::sort(times.begin(), times.end());
    std::printf("sites: %zu take-offs into %zu sites, median of 5 %.1f ms, max %.1f ms\n", flights.size(), sites, times[2], times[4]);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const auto programStart = Clock::now();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() >= 3 && arguments[1] == "make") {
        int flights = 10000;
        if (arguments.size() >= 5 && arguments[3] == "--flights")
            flights = arguments[4].toInt();
        return makeLibrary(arguments[2].toStdString(), flights);
    }
    if (arguments.size() >= 3 && arguments[1] == "score") {
        const unsigned threads = arguments.size() >= 5 && arguments[3] == "--threads" ? arguments[4].toUInt() : 0;
        return scoreLibrary(arguments[2].toStdString(), threads);
    }
    if (arguments.size() >= 3 && arguments[1] == "debrief") {
        const unsigned threads = arguments.size() >= 5 && arguments[3] == "--threads" ? arguments[4].toUInt() : 0;
        return debriefLibrary(arguments[2].toStdString(), threads);
    }
    if (arguments.size() >= 2 && arguments[1] == "sites")
        return sitesOfTakeoffs(arguments.size() >= 4 && arguments[2] == "--takeoffs" ? arguments[3].toInt() : 10000);
    if (arguments.size() >= 4 && arguments[1] == "long")
        return longFlight(arguments[2].toStdString(), arguments[3].toStdString());
    // --shot PNG, anywhere after the mode: a picture of the window as it opened.
    const qsizetype shotAt = arguments.indexOf("--shot");
    const QString shot = shotAt > 0 && shotAt + 1 < arguments.size() ? arguments[shotAt + 1] : QString();
    if (arguments.size() >= 3 && arguments[1] == "list-window")
    {
        const qsizetype chartAt = arguments.indexOf("--chart-shot");
        return listWindow(programStart, arguments[2].toStdString(), shot, arguments.contains("--statistics"),
            chartAt > 0 && chartAt + 1 < arguments.size() ? arguments[chartAt + 1] : QString());
    }
    if (arguments.size() >= 4 && arguments[1] == "compare") {
        QStringList files;
        for (qsizetype i = 2; i < arguments.size() && !arguments[i].startsWith("--"); ++i)
            files << arguments[i];
        const qsizetype atAt = arguments.indexOf("--at");
        const qsizetype tableAt = arguments.indexOf("--table-shot");
        return compareView(files, atAt > 0 && atAt + 1 < arguments.size() ? arguments[atAt + 1].toDouble() : 0.5, shot,
            tableAt > 0 && tableAt + 1 < arguments.size() ? arguments[tableAt + 1] : QString());
    }
    if (arguments.size() >= 3 && arguments[1] == "flight") {
        const int frames = arguments.size() >= 5 && arguments[3] == "--frames" ? arguments[4].toInt() : 100;
        const qsizetype airspacesAt = arguments.indexOf("--airspaces");
        const QString airspaces = airspacesAt > 0 && airspacesAt + 1 < arguments.size() ? arguments[airspacesAt + 1] : QString();
        const qsizetype terrainAt = arguments.indexOf("--terrain");
        const QString terrainFolder = terrainAt > 0 && terrainAt + 1 < arguments.size() ? arguments[terrainAt + 1] : QString();
        return flightView(arguments[2].toStdString(), std::max(10, frames), shot, airspaces, terrainFolder);
    }
    std::fprintf(stderr, "usage: library-bench make DIR [--flights N] | long SOURCE OUT | list-window DIR [--statistics] [--shot PNG] [--chart-shot PNG] | flight FILE [--frames N] [--airspaces OPENAIR] [--terrain DIR] [--shot PNG] | score DIR [--threads N] | debrief DIR [--threads N] | sites [--takeoffs N] | compare FILE FILE... [--at FRACTION] [--shot PNG] [--table-shot PNG]\n");
    return 2;
}
