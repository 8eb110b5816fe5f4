// map-bench SET [--mode N] [--size WxH] [--redraws N] [--pan N] [--zoom N] [--stroker coverage|painter]
//           [--terrain DIR [--out FILE.png]]
// map-bench SET --compare [--mode N] [--size WxH] [--out FILE.png]
// map-bench --track FILE.igc [--points N] [--coloring altitude|climb] [--out FILE.png] [--size WxH] [--redraws N]
//           [--pan N] [--zoom N] [--terrain DIR] [--flights N]
//
// Draws a scene offscreen with the map's painter, as a map view's paint event does, and
// prints per case the median, 95th percentile and largest frame time, the median and
// 95th percentile of the CPU time per frame (on a crowded machine the elapsed time waits
// for a core), then the peak resident memory.
//
// With SET, an airspaces set (in the instrument's format) as the airspaces window draws
// it:
//   redraw        the fitted view, overlays drawn anew every frame
//   redraw-cached the fitted view again, the overlay layer's image reused
//   pan           the view moved by 20 pixels per frame, round a square, as a drag does
//   zoom          the view scaled by 1.1 per frame, in then back out
// With --track, a flight's track (the IGC file's fixes resampled evenly in time to
// --points fixes, 36,000 by default: ten hours at one a second) coloured by altitude or
// by climb, with its take-off, landing and cursor markers:
//   redraw        the fitted view, the cursor moved by ten fixes every frame
//   highlight     the fitted view, another stretch chosen every frame as the flight
//                 view's debrief list does (a thermal of 300 fixes or a glide of 1,500
//                 drawn strongly over the track, the cursor at its start), with wind
//                 arrows at 30 places and the colour legend
//   replay        --flights copies of the track (1 by default), each moved a few
//                 kilometres and started a few minutes after the one before, replayed
//                 at ×50 as the flight view's timer does (1.5 s of flight a frame of
//                 30 ms) at eight times the fitted scale: every track, every glider
//                 with its trail, the view following the first glider (re-centred when
//                 it leaves the middle of the view, as MapView::keepInView does)
//   pan, zoom     as above (a zoom thins the track anew every frame)
// --out saves the fitted view as an image, to look at (and the replay's last frame
// beside it, FILE-replay.png).
//
// --terrain DIR lays the relief of the tiles in DIR under the set or the track, as the
// windows do: its shading is computed once for the first view (timed apart: a window
// computes it beside its thread once the view settles), and every frame after draws
// the image kept, moved and scaled under a pan or a zoom. The set is then shown over
// the tiles' box rather than whole.
//
// --stroker painter draws the overlays' lines between one and two pixels wide with the
// painter's general stroker, as the map did before it stroked them itself (coverage, the
// default), so that one build times both. --compare draws the set's fitted view, and
// the view four and sixteen times closer about its most detailed overlay, both ways and
// prints how the pixels differ: how many, the largest channel difference, and how many
// of them lie away from any edge (those would be more than antialiasing); --out then
// saves the differences of the fitted view, amplified, to look at.
#include "AirspacesRender.h"

#include "base/FileRead.h"
#include "map/ImageDifference.h"
#include "map/MapTrack.h"
#include "map/Replay.h"
#include "map/qt/GliderLayer.h"
#include "map/qt/LegendLayer.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/ReliefLayer.h"
#include "map/qt/TrackLayer.h"
#include "map/qt/WindLayer.h"
#include "map/qt/ZoneLayer.h"
#include "platform/LogSink.h"
#include "terrain/TerrainTiles.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace corvex;

namespace {

class SilentLog final : public LogSink {
public:
    void writeLine(std::string_view) override { }
};

struct Settings {
    QString setPath;
    QString trackPath;
    QString imagePath;
    QString terrainPath;
    int mode { 0 };
    bool compare { false };
    OverlayLayer::WideLineStroking stroking { OverlayLayer::WideLineStroking::Coverage };
    int trackPoints { 36000 };
    TrackColoring coloring { TrackColoring::Altitude };
    QSize size { 1280, 800 };
    int redraws { 50 };
    int panSteps { 100 };
    int zoomSteps { 30 };
    int flights { 1 };
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    // Nearest rank: the smallest value with at least this fraction at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// Elapsed time per frame, and the process's CPU time per frame: on a crowded machine
// the first is the machine's as much as ours.
struct Frames {
    std::vector<double> elapsed;
    std::vector<double> cpu;
};

double cpuMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

void report(const char* name, const Frames& frames, const std::string& drawn)
{
    const std::vector<double>& milliseconds = frames.elapsed;
    std::printf("%-14s frames %4zu  median %7.2f ms  p95 %7.2f ms  max %7.2f ms  CPU median %7.2f ms  p95 %7.2f ms  "
                "%s\n",
        name, milliseconds.size(), percentile(milliseconds, 0.5), percentile(milliseconds, 0.95),
        *std::max_element(milliseconds.begin(), milliseconds.end()), percentile(frames.cpu, 0.5),
        percentile(frames.cpu, 0.95), drawn.c_str());
}

// One frame as a widget's paint event makes it: a new QPainter on the target, one paint.
// cached: as a map view paints, the layers under a live one kept as an image.
void timeFrame(const std::vector<MapLayer*>& layers, MapPainter& painter, QImage& target, const MapRect& visible,
    Frames& frames, bool cached = false)
{
    const double cpu = cpuMilliseconds();
    const auto start = std::chrono::steady_clock::now();
    QPainter framePainter(&target);
    if (cached)
        painter.paintCached(framePainter, target.size(), 1.0, visible, layers);
    else
        painter.paint(framePainter, target.size(), visible, layers);
    framePainter.end();
    frames.elapsed.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    frames.cpu.push_back(cpuMilliseconds() - cpu);
}

MapRect scaledAboutCentre(const MapRect& rect, double factor)
{
    const double centreX = rect.x + rect.width / 2;
    const double centreY = rect.y + rect.height / 2;
    return { centreX - rect.width * factor / 2, centreY - rect.height * factor / 2, rect.width * factor, rect.height * factor };
}

// The relief of --terrain under the scene, shaded for view: false when the folder
// holds no tile.
bool prepareRelief(const Settings& settings, ReliefLayer& relief, const MapRect& view)
{
    const auto tiles = std::make_shared<const terrain::TerrainTiles>(settings.terrainPath.toStdString());
    if (tiles->summary().tiles == 0) {
        std::fprintf(stderr, "no terrain tile in %s\n", qPrintable(settings.terrainPath));
        return false;
    }
    relief.setTerrain(tiles);
    const MapViewport viewport(settings.size.width(), settings.size.height(), view);
    const auto start = std::chrono::steady_clock::now();
    relief.prepare(viewport);
    std::printf("relief: %s shaded for %dx%d in %.1f ms (once, beside the window's thread)\n",
        terrain::terrainSummaryText(tiles->summary()).c_str(), settings.size.width(), settings.size.height(),
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    return true;
}

// The view of a set over the terrain's box, for the relief under it.
MapRect terrainView(const Settings& settings)
{
    const auto covered = terrain::TerrainTiles(settings.terrainPath.toStdString()).summary().covered;
    if (!covered)
        return MapRect::null();
    const MapPoint northWest = mapPointForCoordinate({ covered->north, covered->west });
    const MapPoint southEast = mapPointForCoordinate({ covered->south, covered->east });
    return mapRectFitting({ northWest.x, northWest.y, southEast.x - northWest.x, southEast.y - northWest.y }, settings.size.width(),
        settings.size.height(), 0, 1, mapWorldSize / 128.0);
}

// The pan and zoom cases, shared by both scenes; drawn() describes what the last frame
// drew.
void panAndZoom(const Settings& settings, const std::vector<MapLayer*>& layers, MapPainter& painter, QImage& target,
    const MapRect& fitted, const std::function<std::string()>& drawn)
{
    // Round a square: right, down, left, up, so the view stays over the scene. A drag
    // moves the view by whole pixels: 20 per frame.
    Frames frames;
    const double step = 20 * fitted.width / settings.size.width();
    MapRect view = fitted;
    for (int i = 0; i < settings.panSteps; ++i) {
        const int side = (i * 4 / settings.panSteps) % 4;
        view.x += side == 0 ? step : side == 2 ? -step : 0;
        view.y += side == 1 ? step : side == 3 ? -step : 0;
        timeFrame(layers, painter, target, view, frames);
    }
    report("pan", frames, drawn());

    frames = {};
    view = fitted;
    for (int i = 0; i < settings.zoomSteps; ++i) {
        view = scaledAboutCentre(view, i < settings.zoomSteps / 2 ? 1 / 1.1 : 1.1);
        timeFrame(layers, painter, target, view, frames);
    }
    report("zoom", frames, drawn());
}

// The set drawn both ways, in one view: the pixels of the overlays alone, and of the
// whole map (which the overlays are drawn over).
ImageDifference compareView(
    cli::AirspacesScene& scene, const Settings& settings, const MapRect& visible, const char* name, QImage* differences)
{
    MapPainter painter;
    OverlayLayer& layer = scene.layer();
    layer.setWideLineStroking(OverlayLayer::WideLineStroking::Painter);
    const QImage reference = cli::renderScene(scene, painter, settings.size, visible, nullptr);
    layer.setWideLineStroking(OverlayLayer::WideLineStroking::Coverage);
    const QImage candidate = cli::renderScene(scene, painter, settings.size, visible, nullptr);
    const auto* referencePixels = reinterpret_cast<const std::uint32_t*>(reference.constBits());
    const auto* candidatePixels = reinterpret_cast<const std::uint32_t*>(candidate.constBits());
    const ImageDifference difference = compareImages(referencePixels, candidatePixels, reference.width(), reference.height(),
        static_cast<std::size_t>(reference.bytesPerLine()) / 4);
    std::printf("mode %d, %-10s %7zu of %zu pixels differ (%.2f %%), largest channel difference %3d (at %d,%d); "
                "away from edges %zu, by at most %d\n",
        settings.mode, name, difference.differingPixels, difference.pixels,
        100.0 * static_cast<double>(difference.differingPixels) / static_cast<double>(difference.pixels),
        difference.largestChannelDifference, difference.largestX, difference.largestY, difference.differingAwayFromEdges,
        difference.largestAwayFromEdges);
    if (differences) {
        // White where equal; the larger a channel's difference, the darker.
        *differences = QImage(reference.size(), QImage::Format_RGB32);
        for (int y = 0; y < reference.height(); ++y) {
            for (int x = 0; x < reference.width(); ++x) {
                const QRgb was = reference.pixel(x, y);
                const QRgb is = candidate.pixel(x, y);
                const int largest = std::max({ std::abs(qRed(was) - qRed(is)), std::abs(qGreen(was) - qGreen(is)),
                    std::abs(qBlue(was) - qBlue(is)), std::abs(qAlpha(was) - qAlpha(is)) });
                const int shade = 255 - std::min(255, largest * 4);
                differences->setPixel(x, y, qRgb(shade, shade, shade));
            }
        }
    }
    return difference;
}

int compareStrokers(const Settings& settings, const Airspaces& set)
{
    cli::AirspacesScene scene(set, settings.mode);
    const MapRect fitted = cli::visibleMapRectFitting(scene.fittedMapRect(), settings.size);
    // The most detailed overlay: arcs and circles, where a stroke turns most.
    const MapOverlay* detailed = nullptr;
    for (const auto& overlay : scene.overlays()) {
        if (!detailed || overlay->points().size() > detailed->points().size())
            detailed = overlay.get();
    }
    QImage differences;
    compareView(scene, settings, fitted, "fitted", settings.imagePath.isEmpty() ? nullptr : &differences);
    if (detailed) {
        const MapRect bounds = detailed->boundingMapRect();
        for (const double closer : { 4.0, 16.0 }) {
            MapRect view = scaledAboutCentre(fitted, 1 / closer);
            view.x = bounds.x + bounds.width / 2 - view.width / 2;
            view.y = bounds.y + bounds.height / 2 - view.height / 2;
            compareView(scene, settings, view, closer == 4 ? "4x closer" : "16x closer", nullptr);
        }
    }
    if (!settings.imagePath.isEmpty() && !differences.save(settings.imagePath)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(settings.imagePath));
        return 1;
    }
    return 0;
}

int runAirspaces(const Settings& settings)
{
    const auto contents = readFileWhole(QFile::encodeName(settings.setPath).toStdString(), FileKind::AirspaceSet);
    if (!contents) {
        std::fprintf(stderr, "%s\n", contents.error().message().c_str());
        return 1;
    }
    SilentLog log;
    auto set = Airspaces::initWithDataInInternalFormat(Bytes(contents->begin(), contents->end()), log);
    if (!set) {
        std::fprintf(stderr, "%s is not an airspaces set\n", qPrintable(settings.setPath));
        return 1;
    }

    if (settings.compare)
        return compareStrokers(settings, *set);

    const auto buildStart = std::chrono::steady_clock::now();
    cli::AirspacesScene scene(*set, settings.mode);
    scene.layer().setWideLineStroking(settings.stroking);
    const double buildMilliseconds
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - buildStart).count();
    std::size_t points = 0;
    for (const auto& overlay : scene.overlays())
        points += overlay->points().size();
    std::printf("set %s: %lld bytes, %zu overlays, %zu points; mode %d, %dx%d; overlays built in %.2f ms\n",
        qPrintable(settings.setPath), static_cast<long long>(contents->size()), scene.overlays().size(), points, settings.mode,
        settings.size.width(), settings.size.height(), buildMilliseconds);

    QImage target(settings.size, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::white);
    MapPainter painter;
    OverlayLayer& layer = scene.layer();
    ReliefLayer relief;
    std::vector<MapLayer*> layers { &layer };
    MapRect fitted = cli::visibleMapRectFitting(scene.fittedMapRect(), settings.size);
    if (!settings.terrainPath.isEmpty()) {
        fitted = terrainView(settings);
        if (fitted.isNull() || !prepareRelief(settings, relief, fitted))
            return 1;
        layers.insert(layers.begin(), &relief);
    }
    const auto drawn = [&] { return "overlays drawn (last) " + std::to_string(layer.lastDrawnOverlayCount()); };

    // The first frame pays for fonts and caches; it is not counted.
    Frames frames;
    timeFrame(layers, painter, target, fitted, frames);
    if (!settings.imagePath.isEmpty() && !target.save(settings.imagePath)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(settings.imagePath));
        return 1;
    }
    frames = {};
    for (int i = 0; i < settings.redraws; ++i) {
        layer.restyle();
        timeFrame(layers, painter, target, fitted, frames);
    }
    report("redraw", frames, drawn());

    frames = {};
    for (int i = 0; i < settings.redraws; ++i)
        timeFrame(layers, painter, target, fitted, frames);
    report("redraw-cached", frames, drawn());

    panAndZoom(settings, layers, painter, target, fitted, drawn);
    return 0;
}

// The IGC file's B records: time, latitude, longitude and altitude (GNSS, or pressure
// where the GNSS altitude is zero). Only what the benchmark needs; lines that do not
// parse are passed over.
TrackPoints readIgcFixes(const QByteArray& contents)
{
    TrackPoints fixes;
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.size() < 35 || line[0] != 'B')
            continue;
        bool ok = true;
        const auto number = [&](int from, int length) {
            bool fieldOk = false;
            const int value = line.mid(from, length).toInt(&fieldOk);
            ok = ok && fieldOk;
            return value;
        };
        const int seconds = number(1, 2) * 3600 + number(3, 2) * 60 + number(5, 2);
        double latitude = number(7, 2) + number(9, 5) / 60000.0;
        double longitude = number(15, 3) + number(18, 5) / 60000.0;
        const int pressure = number(25, 5);
        const int gnss = number(30, 5);
        if (!ok)
            continue;
        if (line[14] == 'S')
            latitude = -latitude;
        if (line[23] == 'W')
            longitude = -longitude;
        std::int64_t time = seconds;
        // A flight past midnight UTC goes on counting.
        while (!fixes.empty() && time < fixes.back().time)
            time += 86400;
        fixes.push_back({ { latitude, longitude }, static_cast<double>(gnss != 0 ? gnss : pressure), time, 0 });
    }
    return fixes;
}

// count fixes evenly spread over the flight's time, between the recorded ones, with the
// climb over nine of them (a vario's few seconds).
TrackPoints resample(const TrackPoints& fixes, int count)
{
    TrackPoints track;
    if (fixes.size() < 2 || count < 2)
        return fixes;
    const double first = static_cast<double>(fixes.front().time);
    const double last = static_cast<double>(fixes.back().time);
    std::size_t segment = 0;
    for (int i = 0; i < count; ++i) {
        const double time = first + (last - first) * i / (count - 1);
        while (segment + 2 < fixes.size() && static_cast<double>(fixes[segment + 1].time) < time)
            ++segment;
        const TrackPoint& a = fixes[segment];
        const TrackPoint& b = fixes[segment + 1];
        const double span = static_cast<double>(b.time - a.time);
        const double mix = span > 0 ? std::clamp((time - static_cast<double>(a.time)) / span, 0.0, 1.0) : 0;
        track.push_back({ { a.position.latitude + (b.position.latitude - a.position.latitude) * mix,
                              a.position.longitude + (b.position.longitude - a.position.longitude) * mix },
            a.altitude + (b.altitude - a.altitude) * mix, static_cast<std::int64_t>(std::llround(time)), 0 });
    }
    constexpr std::size_t half = 4;
    for (std::size_t i = 0; i < track.size(); ++i) {
        const std::size_t from = i >= half ? i - half : 0;
        const std::size_t to = std::min(track.size() - 1, i + half);
        const double seconds = static_cast<double>(track[to].time - track[from].time);
        track[i].vario = seconds > 0 ? (track[to].altitude - track[from].altitude) / seconds : 0;
    }
    return track;
}

// The replay row: several gliders over their tracks, the view following the first.
void replay(const Settings& settings, const std::shared_ptr<const TrackPoints>& track, QImage& target,
    const MapRect& fitted, ReliefLayer* relief)
{
    constexpr double speed = 50;
    constexpr double tickSeconds = 0.03;
    constexpr std::int64_t startGap = 180; // seconds between the copies' starts
    const QColor colours[] = { QColor(20, 20, 160), QColor(200, 30, 30), QColor(20, 140, 40), QColor(150, 40, 170),
        QColor(230, 120, 0), QColor(0, 150, 160) };
    std::vector<std::unique_ptr<TrackLayer>> tracks;
    std::vector<GliderLayer::Glider> gliders;
    for (int copy = 0; copy < settings.flights; ++copy) {
        // A few kilometres apart: 0.03° of latitude and 0.04° of longitude a copy.
        auto moved = std::make_shared<TrackPoints>(*track);
        for (TrackPoint& point : *moved) {
            point.position.latitude += 0.03 * copy;
            point.position.longitude += 0.04 * copy;
            point.time += startGap * copy;
        }
        auto layer = std::make_unique<TrackLayer>();
        layer->setColoring(settings.coloring);
        layer->setTrack(moved);
        tracks.push_back(std::move(layer));
        gliders.push_back({ moved, colours[static_cast<std::size_t>(copy) % std::size(colours)],
            QStringLiteral("Pilot %1").arg(copy + 1), 0 });
    }
    GliderLayer gliderLayer;
    gliderLayer.setGliders(std::move(gliders));
    std::vector<MapLayer*> layers;
    if (relief)
        layers.push_back(relief);
    for (const auto& layer : tracks)
        layers.push_back(layer.get());
    layers.push_back(&gliderLayer);

    // Once every copy flies, at eight times the fitted scale (a few kilometres across),
    // centred on the first glider.
    double time = static_cast<double>(track->front().time + startGap * settings.flights);
    gliderLayer.setTime(time);
    MapRect view = scaledAboutCentre(fitted, 0.125);
    if (const auto first = gliderLayer.gliderMapPoint(0)) {
        view.x = first->x - view.width / 2;
        view.y = first->y - view.height / 2;
    }
    MapPainter replayPainter;
    Frames frames;
    timeFrame(layers, replayPainter, target, view, frames, true);
    frames = {};
    int recentred = 0;
    int renewed = 0;
    for (int i = 0; i < settings.redraws; ++i) {
        const double cpu = cpuMilliseconds();
        const auto start = std::chrono::steady_clock::now();
        time += speed * tickSeconds;
        if (time > static_cast<double>(track->back().time))
            time = static_cast<double>(track->front().time + startGap * settings.flights);
        gliderLayer.setTime(time);
        if (const auto first = gliderLayer.gliderMapPoint(0))
            if (const auto centre = followingCentre(view, *first)) {
                view.x = centre->x - view.width / 2;
                view.y = centre->y - view.height / 2;
                ++recentred;
            }
        const double stepping = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const double steppingCpu = cpuMilliseconds() - cpu;
        timeFrame(layers, replayPainter, target, view, frames, true);
        renewed += replayPainter.lastPaintRenewedCache();
        frames.elapsed.back() += stepping;
        frames.cpu.back() += steppingCpu;
    }
    if (!settings.imagePath.isEmpty()) {
        // The last frame beside the fitted view's image, to look at.
        QString path = settings.imagePath;
        path.insert(path.endsWith(".png") ? path.size() - 4 : path.size(), "-replay");
        target.save(path);
    }
    std::size_t kept = 0;
    for (const auto& layer : tracks)
        kept += layer->thinnedTrack().indices.size();
    report("replay", frames,
        "flights " + std::to_string(settings.flights) + ", fixes kept " + std::to_string(kept) + ", re-centred "
            + std::to_string(recentred) + " times, tracks drawn anew " + std::to_string(renewed) + " times");
}

int runTrack(const Settings& settings)
{
    const auto contents = readFileWhole(QFile::encodeName(settings.trackPath).toStdString(), FileKind::IgcFlight);
    if (!contents) {
        std::fprintf(stderr, "%s\n", contents.error().message().c_str());
        return 1;
    }
    const TrackPoints fixes = readIgcFixes(QByteArray::fromStdString(*contents));
    if (fixes.size() < 2) {
        std::fprintf(stderr, "%s holds fewer than two fixes\n", qPrintable(settings.trackPath));
        return 1;
    }
    auto track = std::make_shared<const TrackPoints>(resample(fixes, settings.trackPoints));

    const auto buildStart = std::chrono::steady_clock::now();
    TrackLayer trackLayer;
    trackLayer.setColoring(settings.coloring);
    trackLayer.setTrack(track);
    const double buildMilliseconds
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - buildStart).count();
    MarkersLayer markers;
    markers.setTakeOff(track->front().position);
    markers.setLanding(track->back().position);
    markers.setCursorTrack(track);
    std::size_t cursor = track->size() / 2;
    markers.setCursorIndex(cursor);
    std::printf("track %s: %zu fixes resampled to %zu, by %s; %dx%d; projected in %.2f ms\n", qPrintable(settings.trackPath),
        fixes.size(), track->size(), settings.coloring == TrackColoring::Altitude ? "altitude" : "climb",
        settings.size.width(), settings.size.height(), buildMilliseconds);

    QImage target(settings.size, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::white);
    MapPainter painter;
    std::vector<MapLayer*> layers { &trackLayer, &markers };
    const MapRect fitted = mapRectFitting(trackLayer.boundingMapRect(), settings.size.width(), settings.size.height(), 24, 1,
        mapWorldSize / 128.0);
    ReliefLayer relief;
    if (!settings.terrainPath.isEmpty()) {
        if (!prepareRelief(settings, relief, fitted))
            return 1;
        layers.insert(layers.begin(), &relief);
    }
    const auto drawn = [&] {
        return "fixes kept " + std::to_string(trackLayer.thinnedTrack().indices.size()) + ", polylines "
            + std::to_string(trackLayer.lastPolylineCount());
    };

    Frames frames;
    timeFrame(layers, painter, target, fitted, frames);
    if (!settings.imagePath.isEmpty() && !target.save(settings.imagePath)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(settings.imagePath));
        return 1;
    }
    frames = {};
    for (int i = 0; i < settings.redraws; ++i) {
        cursor = (cursor + 10) % track->size();
        markers.setCursorIndex(cursor);
        timeFrame(layers, painter, target, fitted, frames);
    }
    report("redraw", frames, drawn());

    // The debrief's layers over the same track: thirty thermals' winds, the legend, and
    // the chosen stretch, alternately a thermal and the glide after it.
    ZoneLayer highlight;
    WindLayer wind;
    LegendLayer legend;
    std::vector<WindLayer::Arrow> arrows;
    for (std::size_t i = 0; i < 30; ++i)
        arrows.push_back(
            { (*track)[track->size() * i / 30].position, double(i * 12), 10.0 + double(i), std::to_string(10 + i) + " km/h", 0.8 });
    wind.setArrows(std::move(arrows));
    const TrackColorScale& scale = trackLayer.colorScale();
    std::vector<LegendLayer::Entry> entries;
    for (std::size_t bucket = scale.bucketCount(); bucket-- > 0;)
        entries.push_back({ scale.colorOfBucket(bucket), bucket % 3 == 0 ? std::to_string(std::lround(scale.valueOfBucket(bucket))) : "" });
    legend.setLegend("Altitude (m)", std::move(entries));
    std::vector<MapLayer*> debriefLayers { &trackLayer, &highlight, &wind, &markers, &legend };
    if (!settings.terrainPath.isEmpty())
        debriefLayers.insert(debriefLayers.begin(), &relief);
    frames = {};
    for (int i = 0; i < settings.redraws; ++i) {
        const std::size_t length = i % 2 == 0 ? 300 : 1500;
        const std::size_t first = (track->size() - length - 1) * static_cast<std::size_t>(i) / static_cast<std::size_t>(settings.redraws);
        const auto frameStart = std::chrono::steady_clock::now();
        ZoneLayer::Stretch stretch;
        stretch.line.reserve(length);
        for (std::size_t fix = first; fix < first + length; ++fix)
            stretch.line.push_back((*track)[fix].position);
        stretch.color = { 0.16, 0.63, 0.24, 1 };
        highlight.setStretches({ std::move(stretch) });
        markers.setCursorIndex(first);
        // The stretch is gathered in the frame: choosing a row costs both.
        const double gathering = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - frameStart).count();
        timeFrame(debriefLayers, painter, target, fitted, frames);
        frames.elapsed.back() += gathering;
    }
    report("highlight", frames, drawn());
    replay(settings, track, target, fitted, settings.terrainPath.isEmpty() ? nullptr : &relief);
    panAndZoom(settings, layers, painter, target, fitted, drawn);
    return 0;
}

bool parseArguments(const QStringList& arguments, Settings& settings)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        bool ok = true;
        if (argument == "--mode" && hasValue)
            settings.mode = arguments[++i].toInt(&ok);
        else if (argument == "--compare")
            settings.compare = true;
        else if (argument == "--stroker" && hasValue) {
            const QString stroker = arguments[++i];
            ok = stroker == "coverage" || stroker == "painter";
            settings.stroking = stroker == "painter" ? OverlayLayer::WideLineStroking::Painter
                                                    : OverlayLayer::WideLineStroking::Coverage;
        }
        else if (argument == "--track" && hasValue)
            settings.trackPath = arguments[++i];
        else if (argument == "--terrain" && hasValue)
            settings.terrainPath = arguments[++i];
        else if (argument == "--out" && hasValue)
            settings.imagePath = arguments[++i];
        else if (argument == "--points" && hasValue)
            settings.trackPoints = arguments[++i].toInt(&ok);
        else if (argument == "--coloring" && hasValue) {
            const QString coloring = arguments[++i];
            ok = coloring == "altitude" || coloring == "climb";
            settings.coloring = coloring == "climb" ? TrackColoring::Climb : TrackColoring::Altitude;
        } else if (argument == "--redraws" && hasValue)
            settings.redraws = arguments[++i].toInt(&ok);
        else if (argument == "--pan" && hasValue)
            settings.panSteps = arguments[++i].toInt(&ok);
        else if (argument == "--zoom" && hasValue)
            settings.zoomSteps = arguments[++i].toInt(&ok);
        else if (argument == "--flights" && hasValue)
            settings.flights = arguments[++i].toInt(&ok);
        else if (argument == "--size" && hasValue) {
            const QStringList parts = arguments[++i].split('x');
            bool heightOk = false;
            settings.size = parts.size() == 2 ? QSize(parts[0].toInt(&ok), parts[1].toInt(&heightOk)) : QSize();
            ok = ok && heightOk && !settings.size.isEmpty();
        } else if (!argument.startsWith("--") && settings.setPath.isEmpty())
            settings.setPath = argument;
        else
            ok = false;
        if (!ok)
            return false;
    }
    return settings.setPath.isEmpty() != settings.trackPath.isEmpty() && settings.trackPoints >= 2 && settings.redraws > 0
        && settings.panSteps > 0 && settings.zoomSteps > 0 && settings.flights > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    Settings settings;
    if (!parseArguments(QGuiApplication::arguments(), settings)) {
        std::fprintf(stderr,
            "usage: map-bench SET [--mode N] [--size WxH] [--redraws N] [--pan N] [--zoom N] [--stroker coverage|painter]\n"
            "                 [--terrain DIR [--out FILE.png]]\n"
            "       map-bench SET --compare [--mode N] [--size WxH] [--out FILE.png]\n"
            "       map-bench --track FILE.igc [--points N] [--coloring altitude|climb] [--out FILE.png] [--size WxH] "
            "[--redraws N] [--pan N] [--zoom N] [--terrain DIR] [--flights N]\n");
        return 1;
    }
    const int result = settings.trackPath.isEmpty() ? runAirspaces(settings) : runTrack(settings);
    if (result != 0)
        return result;

    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
