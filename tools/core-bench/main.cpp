// core-bench export FLIGHT.igc --out DIR [--seconds S] [--gpsbabel PROGRAM] [--gpsbabel-runs N]
// core-bench openair FILE [--seconds S]
// core-bench flights FOLDER [--seconds S]
// core-bench terrain SCRATCH-FOLDER [--fixes N] (TerrainBench.cpp)
// core-bench airspace-check OPENAIR --flight FLIGHT.igc [--seconds S]
// core-bench airspace-hostile CASE --flight FLIGHT.igc [--fixes N]
// core-bench debrief FLIGHT.igc [--fixes N] [--seconds S]
// core-bench scorer-worst CASE [--rules ID]
//
// The program's file work without a window or an instrument, for scripts/bench:
//   export   the flight as the instrument's track-log sectors (the first format, as a
//            Lark below 1.356 sends it), joined and decoded, then written as IGC and
//            KML files, as `corvex download` does; CPU time per 10,000 fixes. With
//            --gpsbabel, the same IGC file converted to KML by that program, run in the
//            same process tree, and the ratio of the two.
//   openair  the local conversion of an OpenAir file into the instrument's format, in
//            MB/s of the file's bytes, by CPU time and by elapsed time.
//   flights  every IGC file under the folder read from disk, parsed and its figures
//            computed, as the flight library imports; time per pass, per fix, and
//            projected to the 640,890 fixes of the library's largest import.
//   airspace-check  a flight checked against every airspace of an OpenAir file (read
//            once, before timing): the flight resampled to 36,000 fixes (ten hours at
//            a fix a second) along its own track, and a made 36,000-fix zig-zag over
//            the whole file's box, the worst case for the track's own box; with
//            --terrain, the first again over 1" tiles written into that folder.
//   airspace-hostile  outlines no real file has, made in memory, against the flight
//            resampled to N fixes (36,000 by default), timed once, the index included:
//            outline-100k and outline-1m, a jagged ring of 100,000 or 1,000,000 points
//            around the middle of the flight, whose box holds the whole track and whose
//            edge the track crosses, and circles-1000,
//            1,000 circles of 300 NM read from OpenAir text, their centres spread over
//            20° of latitude and 28° of longitude around the flight (a quarter of them
//            hold it). One case a process, so that its peak memory is its own.
//   debrief  the debrief of a flight resampled to N fixes (36,000 by default: ten hours
//            at a fix a second) along its own track, its figures computed once before
//            timing; then the barogram's series of the same fixes.
// Each case repeats until it has taken S seconds of CPU (2 by default, at least 5
//   scorer-worst  the contest score of a made track that is no flight, the worst for
//            the scorer's search, under every rule set (or the one named), once each:
//            time, points and whether the search proved them best. CASE is one of
//            jitter (a logger left on the ground 3 h at 1 Hz, wandering a few metres),
//            zigzag (10,000 fixes back and forth between two points 10 km apart),
//            cloud (200,000 random fixes in a 50 km box), straight-6s (20 h at 1 Hz
//            along 6 deg S), equator (200,000 fixes along the equator), largest (1.8
//            million random fixes, about the largest IGC file the library takes).
// Except scorer-worst, each case repeats until it has taken S seconds of CPU (2 by default, at least 5
// times) and prints medians; the encoding of the sectors is done once, before timing.
// Every case ends with the process's peak resident memory.
#include "FlightLibrary.h"
#include "TerrainBench.h"
#include "TrackLogFrames.h"
#include "airspaces/OpenAirConverter.h"
#include "airspaces/OpenAirParser.h"
#include "analysis/AirspaceCheck.h"
#include "analysis/FlightDebrief.h"
#include "analysis/NearAirspaces.h"
#include "terrain/TerrainTiles.h"
#include "base/FileRead.h"
#include "device/TrackLogCodec.h"
#include "export/ExportFiles.h"
#include "export/IgcWriter.h"
#include "export/KmlWriter.h"
#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"
#include "geo/GeoPoint.h"
#include "platform/LogSink.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

using namespace corvex;
namespace vi = corvex::virtualinstrument;

namespace {

class SilentLog final : public LogSink {
public:
    void writeLine(std::string_view) override { }
};

double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double megabytes(long kilobytes) { return static_cast<double>(kilobytes) / 1024.0; }

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return megabytes(usage.ru_maxrss);
}

struct Timings {
    std::vector<double> cpu;
    std::vector<double> elapsed;
};

// Runs the work until it has taken `seconds` of CPU, and at least five times; the
// first run (cold caches, first allocations) is not counted.
Timings repeat(double seconds, const std::function<void()>& work)
{
    work();
    Timings timings;
    const double start = cpuSeconds();
    while (timings.cpu.size() < 5 || cpuSeconds() - start < seconds) {
        const double cpu = cpuSeconds();
        const auto wall = std::chrono::steady_clock::now();
        work();
        timings.elapsed.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count());
        timings.cpu.push_back(cpuSeconds() - cpu);
    }
    return timings;
}

// One run of another program, its output thrown away: CPU seconds (user + system) and
// peak resident memory from wait4. False when it could not be started or failed.
bool runChild(const std::vector<std::string>& arguments, double& cpu, double& peak)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return false;
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    peak = megabytes(usage.ru_maxrss);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int benchExport(const std::string& path, const std::string& outDir, double seconds, const std::string& gpsbabel, int gpsbabelRuns)
{
    const auto text = flights::readIgcText(path);
    if (!text) {
        std::fprintf(stderr, "%s\n", text.error().c_str());
        return 1;
    }
    const auto read = vi::flightFromText(*text, 1, path);
    if (!read) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), read.error().c_str());
        return 1;
    }
    const vi::Flight& flight = *read;
    const vi::RecorderInfo recorder { 0x12345, 1350, 1, "" };
    const Bytes flightData = vi::encodeFlightData(flight, vi::TrackLogFormat::First, recorder);
    std::vector<std::vector<Bytes>> sectors;
    for (std::size_t i = 0; i < vi::sectorCount(flightData.size()); ++i)
        sectors.push_back(vi::encodeSector(flightData, i));

    SilentLog log;
    const WriterStamp stamp { "0.1.0", std::chrono::system_clock::now() };
    const std::string igcPath = pathInFolder(outDir, "flight.igc");
    const std::string kmlPath = pathInFolder(outDir, "flight.kml");
    std::size_t fixes = 0;
    bool ok = true;
    const Timings timings = repeat(seconds, [&] {
        // What the device code does with the sectors: the valid bytes of each, joined.
        Bytes joined;
        for (const auto& sector : sectors)
            joined.insert(joined.end(), sector[1].begin(), sector[1].begin() + sector[0][3]);
        const auto walk = walkTrackLog(joined, TrackLogFormat::First, log);
        if (!walk || !walk->hRecord || !walk->gRecord) {
            ok = false;
            return;
        }
        fixes = walk->samples.size();
        const PilotData pilot;
        ok = writeTextFile(igcPath, generateIgcFileForSamples(walk->samples, pilot, *walk->hRecord, *walk->gRecord, stamp), FileWriteMode::Atomic)
            && writeTextFile(kmlPath, generateKmlFileForSamples(walk->samples, pilot, *walk->hRecord, *walk->gRecord), FileWriteMode::Atomic)
            && ok;
    });
    if (!ok || fixes == 0) {
        std::fprintf(stderr, "the track log of %s did not decode or its files were not written\n", path.c_str());
        return 1;
    }
    const double per10k = 1e4 / static_cast<double>(fixes);
    const double ours = median(timings.cpu);
    std::printf("export: %zu fixes, %zu sector bytes, %zu runs; CPU %.2f ms a flight, %.2f ms per 10000 fixes; peak RSS %.1f MB\n",
        fixes, flightData.size(), timings.cpu.size(), ours * 1e3, ours * per10k * 1e3, peakMegabytes());
    if (gpsbabel.empty())
        return 0;

    std::vector<double> cpu;
    double peak = 0;
    for (int i = 0; i < gpsbabelRuns; ++i) {
        double runCpu = 0, runPeak = 0;
        if (!runChild({ gpsbabel, "-i", "igc", "-f", path, "-o", "kml", "-F", pathInFolder(outDir, "gpsbabel.kml") }, runCpu, runPeak)) {
            std::fprintf(stderr, "%s failed on %s\n", gpsbabel.c_str(), path.c_str());
            return 1;
        }
        cpu.push_back(runCpu);
        peak = std::max(peak, runPeak);
    }
    const double theirs = median(cpu);
    std::printf("gpsbabel: %d runs; CPU %.2f ms a flight, %.2f ms per 10000 fixes; peak RSS %.1f MB\n", gpsbabelRuns,
        theirs * 1e3, theirs * per10k * 1e3, peak);
    std::printf("gpsbabel/ours CPU: %.1f\n", theirs / ours);
    return 0;
}

int benchOpenAir(const std::string& path, double seconds)
{
    const auto read = readFileWhole(path, FileKind::OpenAir);
    if (!read || read->empty()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::string& bytes = *read;
    SilentLog log;
    OpenAirConverter converter(nullptr, log, [] { return std::chrono::sys_seconds {}; });
    std::size_t setBytes = 0;
    const Timings timings = repeat(seconds, [&] {
        converter.convert("benchmark", bytes, path, [&](std::optional<ConvertedAirspaces> converted) {
            setBytes = converted ? converted->bytes.size() : 0;
        });
    });
    if (setBytes == 0) {
        std::fprintf(stderr, "%s did not convert\n", path.c_str());
        return 1;
    }
    const double mb = static_cast<double>(bytes.size()) / 1e6;
    std::printf("openair: %zu bytes into a %zu-byte set, %zu runs; %.2f ms CPU, %.2f ms elapsed; %.1f MB/s CPU, %.1f MB/s "
                "elapsed; peak RSS %.1f MB\n",
        bytes.size(), setBytes, timings.cpu.size(), median(timings.cpu) * 1e3, median(timings.elapsed) * 1e3,
        mb / median(timings.cpu), mb / median(timings.elapsed), peakMegabytes());
    return 0;
}

int benchFlights(const std::string& folder, double seconds)
{
    std::vector<std::string> paths;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
        if (extension == ".igc" && it->is_regular_file())
            paths.push_back(it->path().string());
    }
    if (paths.empty()) {
        std::fprintf(stderr, "no IGC file under %s\n", folder.c_str());
        return 1;
    }
    std::size_t fixes = 0, refused = 0, bytes = 0;
    double checksum = 0;
    const Timings timings = repeat(seconds, [&] {
        fixes = refused = 0;
        checksum = 0;
        for (const std::string& path : paths) {
            const auto flight = flights::readIgcFile(path);
            if (!flight) {
                ++refused;
                continue;
            }
            fixes += flight->fixes.size();
            checksum += flights::computeFigures(*flight).trackLengthMetres;
        }
    });
    for (const std::string& path : paths)
        bytes += static_cast<std::size_t>(std::filesystem::file_size(path, error));
    const double cpu = median(timings.cpu), elapsed = median(timings.elapsed);
    std::printf("flights: %zu files (%zu refused), %zu fixes, %.1f MB, %zu runs; %.1f ms CPU, %.1f ms elapsed a pass; "
                "%.0f ns CPU a fix; 640890 fixes in %.3f s CPU; peak RSS %.1f MB (track sum %.0f m)\n",
        paths.size(), refused, fixes, static_cast<double>(bytes) / 1e6, timings.cpu.size(), cpu * 1e3, elapsed * 1e3,
        cpu / static_cast<double>(fixes) * 1e9, cpu / static_cast<double>(fixes) * 640890, peakMegabytes(), checksum);
    return fixes > 0 ? 0 : 1;
}

// The flight's fixes interpolated to `count` fixes a second apart.
flights::IgcFlight resampled(const flights::IgcFlight& flight, std::size_t count)
{
    flights::IgcFlight result;
    const auto& fixes = flight.fixes;
    for (std::size_t i = 0; i < count; ++i) {
        const double at = static_cast<double>(i) * static_cast<double>(fixes.size() - 1) / static_cast<double>(count - 1);
        const std::size_t k = std::min(static_cast<std::size_t>(at), fixes.size() - 2);
        const double t = at - static_cast<double>(k);
        flights::IgcFix fix = fixes[k];
        fix.time = fixes.front().time + static_cast<std::int64_t>(i);
        fix.latitude += t * (fixes[k + 1].latitude - fix.latitude);
        fix.longitude += t * (fixes[k + 1].longitude - fix.longitude);
        fix.pressureAltitude += static_cast<int>(t * (fixes[k + 1].pressureAltitude - fix.pressureAltitude));
        fix.gnssAltitude += static_cast<int>(t * (fixes[k + 1].gnssAltitude - fix.gnssAltitude));
        result.fixes.push_back(fix);
    }
    return result;
}

int benchDebrief(const std::string& flightPath, std::size_t fixCount, double seconds)
{
    const auto flight = flights::readIgcFile(flightPath);
    if (!flight || flight->fixes.size() < 2 || fixCount < 2) {
        std::fprintf(stderr, "cannot read %s\n", flightPath.c_str());
        return 1;
    }
    const flights::IgcFlight track = resampled(*flight, fixCount);
    const flights::FlightFigures figures = flights::computeFigures(track);
    analysis::FlightDebrief debrief;
    const Timings timings = repeat(seconds, [&] { debrief = analysis::debriefFlight(track, figures); });
    std::printf("debrief: %zu fixes, %lld s airborne, %zu thermals, %zu failed attempts, %zu glides, %zu runs; %.1f ms CPU, "
                "%.1f ms elapsed; peak RSS %.1f MB\n",
        track.fixes.size(), static_cast<long long>(figures.durationSeconds), debrief.thermals.size(), debrief.failedAttempts.size(),
        debrief.glides.size(), timings.cpu.size(), median(timings.cpu) * 1e3, median(timings.elapsed) * 1e3, peakMegabytes());
    std::size_t values = 0;
    const Timings series = repeat(seconds, [&] { values = analysis::flightSeries(track).vario20Ms.size(); });
    std::printf("debrief series: %zu values, %zu runs; %.1f ms CPU, %.1f ms elapsed; peak RSS %.1f MB\n", values, series.cpu.size(),
        median(series.cpu) * 1e3, median(series.elapsed) * 1e3, peakMegabytes());
    return 0;
}

int benchAirspaceCheck(const std::string& openAirPath, const std::string& flightPath, double seconds, const std::string& terrainFolder)
{
    const std::string bytes = readFileWhole(openAirPath, FileKind::OpenAir).value_or(std::string());
    const auto flight = flights::readIgcFile(flightPath);
    if (bytes.empty() || !flight || flight->fixes.size() < 2) {
        std::fprintf(stderr, "cannot read %s or %s\n", openAirPath.c_str(), flightPath.c_str());
        return 1;
    }
    const auto parsed = openair::parse(openair::decodeFileText(bytes));
    constexpr std::size_t fixCount = 36000;
    const flights::IgcFlight alongTrack = resampled(*flight, fixCount);
    // Forty legs north and south across the file's box, from 500 m to 4,000 m and back.
    double south = 90, north = -90, west = 180, east = -180;
    for (const auto& airspace : parsed.airspaces)
        for (const auto& point : airspace.outline) {
            south = std::min(south, point.latitude);
            north = std::max(north, point.latitude);
            west = std::min(west, point.longitude);
            east = std::max(east, point.longitude);
        }
    flights::IgcFlight zigzag;
    for (std::size_t i = 0; i < fixCount; ++i) {
        const double along = static_cast<double>(i) / static_cast<double>(fixCount - 1);
        const double leg = along * 40;
        const double up = std::fmod(leg, 2.0) < 1 ? std::fmod(leg, 1.0) : 1 - std::fmod(leg, 1.0);
        flights::IgcFix fix;
        fix.time = static_cast<std::int64_t>(i);
        fix.latitude = south + up * (north - south);
        fix.longitude = west + along * (east - west);
        fix.gnssAltitude = fix.pressureAltitude = 500 + static_cast<int>(3500 * (0.5 - 0.5 * std::cos(along * 12 * geo::pi)));
        zigzag.fixes.push_back(fix);
    }
    for (const flights::IgcFlight* run : std::initializer_list<const flights::IgcFlight*> { &alongTrack, &zigzag }) {
        std::size_t crossings = 0;
        const Timings timings = repeat(seconds, [&] {
            const analysis::AirspaceIndex index(parsed.airspaces);
            crossings = analysis::checkAirspaces(*run, index).crossings.size();
        });
        std::printf("airspace-check %s: %zu airspaces, %zu fixes, %zu crossings, %zu runs; %.1f ms CPU, %.1f ms elapsed "
                    "(index included); peak RSS %.1f MB\n",
            run == &alongTrack ? "along the flight" : "zig-zag over the file", parsed.airspaces.size(), run->fixes.size(),
            crossings, timings.cpu.size(), median(timings.cpu) * 1e3, median(timings.elapsed) * 1e3, peakMegabytes());
    }
    if (terrainFolder.empty())
        return 0;
    // With terrain: 1" tiles made under the flight, the first check reading them from
    // disk (timed once, as a pilot's first check), then with the tiles held.
    const auto box = analysis::trackBox(alongTrack);
    if (!box) {
        std::fprintf(stderr, "the flight has no valid fix to lay tiles under\n");
        return 1;
    }
    std::filesystem::create_directories(terrainFolder);
    int tileCount = 0;
    for (int lat = static_cast<int>(std::floor(box->south)); lat <= static_cast<int>(std::floor(box->north)); ++lat)
        for (int lon = static_cast<int>(std::floor(box->west)); lon <= static_cast<int>(std::floor(box->east)); ++lon, ++tileCount)
            bench::writeBenchTile(terrainFolder, lat, lon);
    const terrain::TerrainTiles tiles(terrainFolder);
    analysis::AirspaceCheckOptions options;
    options.terrain = &tiles;
    std::size_t crossings = 0;
    const auto coldStart = std::chrono::steady_clock::now();
    crossings = analysis::checkAirspaces(alongTrack, analysis::AirspaceIndex(parsed.airspaces), options).crossings.size();
    const double cold = std::chrono::duration<double>(std::chrono::steady_clock::now() - coldStart).count();
    const Timings timings = repeat(seconds, [&] {
        const analysis::AirspaceIndex index(parsed.airspaces);
        crossings = analysis::checkAirspaces(alongTrack, index, options).crossings.size();
    });
    std::printf("airspace-check along the flight with terrain: %d tiles, %zu fixes, %zu crossings; first run %.1f ms elapsed "
                "(tiles read); %zu runs; %.1f ms CPU, %.1f ms elapsed; peak RSS %.1f MB\n",
        tileCount, alongTrack.fixes.size(), crossings, cold * 1e3, timings.cpu.size(), median(timings.cpu) * 1e3,
        median(timings.elapsed) * 1e3, peakMegabytes());
    return 0;
}

// Degrees as OpenAir writes them: "45:03:00 N 005:03:00 E".
std::string openAirCoordinate(double latitude, double longitude)
{
    const auto part = [](double degrees, int width, char positive, char negative) {
        const long seconds = std::lround(std::abs(degrees) * 3600);
        char text[32];
        std::snprintf(text, sizeof text, "%0*ld:%02ld:%02ld %c", width, seconds / 3600, seconds / 60 % 60, seconds % 60,
            degrees < 0 ? negative : positive);
        return std::string(text);
    };
    return part(latitude, 2, 'N', 'S') + " " + part(longitude, 3, 'E', 'W');
}

int benchHostileAirspaces(const std::string& which, const std::string& flightPath, std::size_t fixCount)
{
    const auto flight = flights::readIgcFile(flightPath);
    if (!flight || flight->fixes.size() < 2 || fixCount < 2) {
        std::fprintf(stderr, "cannot read %s\n", flightPath.c_str());
        return 1;
    }
    const flights::IgcFlight track = resampled(*flight, fixCount);
    const auto box = analysis::trackBox(track);
    if (!box) {
        std::fprintf(stderr, "%s has no valid fix\n", flightPath.c_str());
        return 1;
    }
    const auto [south, west, north, east] = *box;
    const double middleLatitude = (south + north) / 2, middleLongitude = (west + east) / 2;
    const double metresPerDegree = geo::meanEarthRadiusMetres * geo::pi / 180;
    const double cosine = std::cos(geo::radians(middleLatitude));

    std::vector<openair::Airspace> airspaces;
    if (which == "outline-100k" || which == "outline-1m") {
        // Teeth 3 % deep all round a ring a little wider than the track's box: every fix
        // is inside the ring's box, the track crosses its edge, and the fixes inside are
        // inside for a while.
        const std::size_t points = which == "outline-1m" ? 1000000 : 100000;
        const double radius = 0.6 * std::max((north - south) * metresPerDegree, (east - west) * metresPerDegree * cosine);
        openair::Airspace ring;
        ring.airspaceClass = "R";
        ring.name = "JAGGED";
        ring.floor = { openair::Altitude::Reference::Ground, 0, "SFC" };
        ring.ceiling = { openair::Altitude::Reference::Unlimited, 0, "UNL" };
        for (std::size_t i = 0; i < points; ++i) {
            const double angle = 2 * geo::pi * static_cast<double>(i) / static_cast<double>(points);
            const double r = radius * (i % 2 ? 0.97 : 1.0);
            ring.outline.push_back({ middleLatitude + r * std::cos(angle) / metresPerDegree,
                middleLongitude + r * std::sin(angle) / (metresPerDegree * cosine) });
        }
        airspaces.push_back(std::move(ring));
    } else if (which == "circles-1000") {
        std::string text;
        std::uint32_t state = 12345;
        const auto uniform = [&] {
            state = state * 1664525u + 1013904223u;
            return static_cast<double>(state >> 8) / 16777216.0;
        };
        for (int i = 0; i < 1000; ++i) {
            const double latitude = std::clamp(middleLatitude + (uniform() - 0.5) * 20, -84.0, 84.0);
            const double longitude = middleLongitude + (uniform() - 0.5) * 28;
            text += "AC R\nAN CIRCLE " + std::to_string(i) + "\nAL SFC\nAH FL195\nV X=" + openAirCoordinate(latitude, longitude)
                + "\nDC 300\n";
        }
        auto parsed = openair::parse(text);
        if (!parsed.errors.empty()) {
            std::fprintf(stderr, "line %zu: %s\n", parsed.errors.front().line, parsed.errors.front().message.c_str());
            return 1;
        }
        airspaces = std::move(parsed.airspaces);
    } else {
        std::fprintf(stderr, "no hostile case %s (outline-100k, outline-1m, circles-1000)\n", which.c_str());
        return 2;
    }
    std::size_t points = 0;
    for (const auto& airspace : airspaces)
        points += airspace.outline.size();

    const double cpu = cpuSeconds();
    const auto wall = std::chrono::steady_clock::now();
    const analysis::AirspaceIndex index(airspaces);
    const auto check = analysis::checkAirspaces(track, index);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    std::printf("airspace-check %s: %zu airspaces, %zu points, %zu fixes, %zu crossings; %.2f s CPU, %.2f s elapsed "
                "(index included); peak RSS %.1f MB\n",
        which.c_str(), airspaces.size(), points, track.fixes.size(), check.crossings.size(), cpuSeconds() - cpu, elapsed,
        peakMegabytes());
    return 0;
}

// The worst tracks for the contest scorer, a fix a second, positions on the IGC file's own
// grid (a thousandth of a minute). Nothing when the name is none of them.
std::optional<flights::IgcFlight> scorerWorstTrack(const std::string& name)
{
    std::mt19937 random(11);
    flights::IgcFlight flight;
    auto add = [&](double latitude, double longitude, int altitude) {
        flights::IgcFix fix;
        fix.time = 1700000000 + static_cast<std::int64_t>(flight.fixes.size());
        fix.rawLatitude = static_cast<std::int32_t>(std::lround(latitude * 60000)) * 10;
        fix.rawLongitude = static_cast<std::int32_t>(std::lround(longitude * 60000)) * 10;
        fix.latitude = fix.rawLatitude / 600000.0;
        fix.longitude = fix.rawLongitude / 600000.0;
        fix.pressureAltitude = fix.gnssAltitude = altitude;
        flight.fixes.push_back(fix);
    };
    constexpr double metre = 1 / 111195.0; // of latitude, in degrees
    std::uniform_int_distribution<int> step(-1, 1), noise(-4, 4);
    std::uniform_real_distribution<double> unit(0, 1);
    if (name == "jitter") {
        // A few thousandths of a minute around one place, the altimeter wandering too.
        int north = 0, east = 0;
        for (int i = 0; i < 3 * 3600; ++i) {
            north = std::clamp(north + step(random), -3, 3);
            east = std::clamp(east + step(random), -3, 3);
            add(46.5 + north / 60000.0, 7.0 + east / 60000.0, 1000 + noise(random));
        }
    } else if (name == "zigzag") {
        // Back and forth on a meridian, a fix every 500 m.
        for (int i = 0; i < 10000; ++i) {
            const int along = i % 40 < 20 ? i % 40 : 40 - i % 40;
            add(46.0 + along * 500 * metre, 7.0, 1500);
        }
    } else if (name == "cloud" || name == "largest") {
        const int count = name == "cloud" ? 200000 : 1800000;
        for (int i = 0; i < count; ++i)
            add(46.0 + 50000 * metre * unit(random), 7.0 + 50000 * metre / std::cos(46.2 * M_PI / 180) * unit(random),
                500 + static_cast<int>(3000 * unit(random)));
    } else if (name == "straight-6s") {
        // 20 hours east along the parallel at 10 m/s, slowly sinking.
        for (int i = 0; i < 20 * 3600; ++i)
            add(-6.0, 30.0 + i * 10 * metre / std::cos(6 * M_PI / 180), 3000 - i / 30);
    } else if (name == "equator") {
        for (int i = 0; i < 200000; ++i)
            add(0.0, -10.0 + i * 10 * metre, 2000);
    } else {
        return std::nullopt;
    }
    return flight;
}

int benchScorerWorst(const std::string& name, const std::string& rulesId)
{
    const auto flight = scorerWorstTrack(name);
    if (!flight) {
        std::fprintf(stderr, "core-bench: no such case: %s\n", name.c_str());
        return 2;
    }
    int failed = 0;
    for (const flights::ContestRuleSet& rules : flights::contestRuleSets()) {
        if (!rulesId.empty() && rules.id != rulesId)
            continue;
        const double cpu = cpuSeconds();
        const auto wall = std::chrono::steady_clock::now();
        const auto score = flights::scoreFlight(*flight, rules);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        if (!score)
            ++failed;
        std::printf("scorer-worst %s, %s: %zu fixes; %.2f s CPU, %.2f s elapsed; %s %.3f points%s; peak RSS %.1f MB\n", name.c_str(),
            std::string(rules.id).c_str(), flight->fixes.size(), cpuSeconds() - cpu, elapsed,
            score ? std::string(flights::contestTypeName(score->type)).c_str() : "no score", score ? score->points : 0.0,
            score && !score->optimal ? " (not proven best)" : "", peakMegabytes());
        std::fflush(stdout);
    }
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string outDir, gpsbabel, flightPath, rulesId, terrainFolder;
    double seconds = 2;
    int gpsbabelRuns = 5;
    std::size_t fixes = 36000;
    bool ok = arguments.size() >= 2;
    for (std::size_t i = 2; ok && i < arguments.size(); i += 2) {
        ok = i + 1 < arguments.size();
        if (!ok)
            break;
        const std::string& value = arguments[i + 1];
        if (arguments[i] == "--out")
            outDir = value;
        else if (arguments[i] == "--seconds")
            seconds = std::atof(value.c_str());
        else if (arguments[i] == "--flight")
            flightPath = value;
        else if (arguments[i] == "--fixes")
            fixes = static_cast<std::size_t>(std::max(2L, std::atol(value.c_str())));
        else if (arguments[i] == "--gpsbabel")
            gpsbabel = value;
        else if (arguments[i] == "--rules")
            rulesId = value;
        else if (arguments[i] == "--terrain")
            terrainFolder = value;
        else if (arguments[i] == "--gpsbabel-runs")
            gpsbabelRuns = std::max(1, std::atoi(value.c_str()));
        else
            ok = false;
    }
    if (ok && arguments[0] == "terrain")
        return bench::benchTerrain(arguments[1], fixes);
    if (ok && arguments[0] == "export" && !outDir.empty())
        return benchExport(arguments[1], outDir, seconds, gpsbabel, gpsbabelRuns);
    if (ok && arguments[0] == "openair")
        return benchOpenAir(arguments[1], seconds);
    if (ok && arguments[0] == "flights")
        return benchFlights(arguments[1], seconds);
    if (ok && arguments[0] == "airspace-check" && !flightPath.empty())
        return benchAirspaceCheck(arguments[1], flightPath, seconds, terrainFolder);
    if (ok && arguments[0] == "airspace-hostile" && !flightPath.empty())
        return benchHostileAirspaces(arguments[1], flightPath, fixes);
    if (ok && arguments[0] == "debrief")
        return benchDebrief(arguments[1], fixes, seconds);
    if (ok && arguments[0] == "scorer-worst")
        return benchScorerWorst(arguments[1], rulesId);
    std::fprintf(stderr,
        "usage: core-bench export FLIGHT.igc --out DIR [--seconds S] [--gpsbabel PROGRAM] [--gpsbabel-runs N]\n"
        "       core-bench openair FILE [--seconds S]\n"
        "       core-bench terrain SCRATCH-FOLDER [--fixes N]\n"
        "       core-bench flights FOLDER [--seconds S]\n"
        "       core-bench airspace-check OPENAIR --flight FLIGHT.igc [--seconds S] [--terrain SCRATCH-FOLDER]\n"
        "       core-bench airspace-hostile outline-100k|outline-1m|circles-1000 --flight FLIGHT.igc [--fixes N]\n"
        "       core-bench debrief FLIGHT.igc [--fixes N] [--seconds S]\n"
        "       core-bench scorer-worst jitter|zigzag|cloud|straight-6s|equator|largest [--rules ID]\n");
    return 2;
}
