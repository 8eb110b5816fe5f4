#include "terrain/TerrainTiles.h"

#include "terrain/GdalAccess.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <list>
#include <mutex>
#include <unordered_map>

namespace corvex::terrain {

namespace {

// Posts of this value are holes in SRTM and in most GeoTIFF elevation models, whatever
// nodata value a file declares.
constexpr double voidPost = -32768.0;

struct TileInfo {
    std::string path;
    int width { 0 };
    int height { 0 };
    // GDAL's geotransform: the outer corner of the first post's cell and the step
    // between posts (latStep negative: rows run north to south). A post stands in the
    // middle of its cell.
    double originLon { 0 };
    double originLat { 0 };
    double lonStep { 0 };
    double latStep { 0 };
    std::optional<double> nodata;
    GeoBox extent;

    bool contains(double latitude, double longitude) const
    {
        return latitude >= extent.south && latitude <= extent.north && longitude >= extent.west && longitude <= extent.east;
    }
    // Where a place falls between the posts, in posts from the first.
    double column(double longitude) const { return (longitude - originLon) / lonStep - 0.5; }
    double row(double latitude) const { return (latitude - originLat) / latStep - 0.5; }
};

// A tile's posts, row by row from the north: 16-bit integers as SRTM stores them (half
// the memory of floats, so the bound holds twice the tiles), else floats.
struct TileData {
    std::vector<std::int16_t> shorts;
    std::vector<float> floats;

    std::size_t bytes() const { return shorts.size() * sizeof(std::int16_t) + floats.size() * sizeof(float); }
    // The post's height; NaN for a void.
    float at(std::size_t index) const
    {
        if (!shorts.empty())
            return shorts[index] == std::numeric_limits<std::int16_t>::min() ? std::numeric_limits<float>::quiet_NaN()
                                                                              : static_cast<float>(shorts[index]);
        return floats[index];
    }
};

std::string lowerExtension(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool looksLikeTile(const std::filesystem::path& path)
{
    const std::string extension = lowerExtension(path);
    return extension == ".hgt" || extension == ".tif" || extension == ".tiff";
}

struct DatasetCloser {
    void operator()(void* dataset) const
    {
        if (dataset)
            GDALClose(dataset);
    }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

Dataset openTile(const std::string& path)
{
    detail::ensureGdal();
    static const char* const drivers[] = { "SRTMHGT", "GTiff", nullptr };
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr));
}

// GDAL's message without the file's path, which it repeats ("/a/b.tif: /a/b.tif:Cannot
// read TIFF header"): the summary names the file already.
std::string withoutPath(std::string message, const std::string& path)
{
    for (std::size_t at; !path.empty() && (at = message.find(path)) != std::string::npos;) {
        std::size_t end = at + path.size();
        while (end < message.size() && (message[end] == ':' || message[end] == ',' || message[end] == ' '))
            ++end;
        message.erase(at, end - at);
    }
    return message;
}

// The georeference of one file, or why it cannot serve as a tile.
std::optional<TileInfo> describeTile(const std::string& path, std::string& reason)
{
    detail::QuietGdalErrors quiet;
    const Dataset dataset = openTile(path);
    if (!dataset) {
        reason = withoutPath(quiet.lastMessage("not an elevation tile GDAL reads"), path);
        return std::nullopt;
    }
    TileInfo tile;
    tile.path = path;
    tile.width = GDALGetRasterXSize(dataset.get());
    tile.height = GDALGetRasterYSize(dataset.get());
    std::array<double, 6> transform {};
    if (GDALGetRasterCount(dataset.get()) < 1 || tile.width < 2 || tile.height < 2) {
        reason = "holds no grid of heights";
        return std::nullopt;
    }
    if (GDALGetGeoTransform(dataset.get(), transform.data()) != CE_None) {
        reason = "has no georeference";
        return std::nullopt;
    }
    if (transform[2] != 0 || transform[4] != 0 || !(transform[1] > 0) || !(transform[5] < 0)) {
        reason = "is not a north-up grid";
        return std::nullopt;
    }
    if (OGRSpatialReferenceH reference = GDALGetSpatialRef(dataset.get()); reference && !OSRIsGeographic(reference)) {
        reason = "is not on latitude and longitude";
        return std::nullopt;
    }
    tile.originLon = transform[0];
    tile.originLat = transform[3];
    tile.lonStep = transform[1];
    tile.latStep = transform[5];
    tile.extent = GeoBox { tile.originLat + tile.latStep * tile.height, tile.originLon, tile.originLat,
        tile.originLon + tile.lonStep * tile.width };
    // A little beyond the world, for the half cell around the posts on its edges.
    const double margin = 0.01;
    if (tile.extent.south < -90 - margin || tile.extent.north > 90 + margin || tile.extent.west < -180 - margin
        || tile.extent.east > 180 + margin) {
        reason = "lies outside latitude and longitude";
        return std::nullopt;
    }
    int hasNodata = 0;
    const double nodata = GDALGetRasterNoDataValue(GDALGetRasterBand(dataset.get(), 1), &hasNodata);
    if (hasNodata)
        tile.nodata = nodata;
    return tile;
}

// The posts of a tile, or why they did not read.
std::shared_ptr<const TileData> readPosts(const TileInfo& tile, std::string& reason)
{
    detail::QuietGdalErrors quiet;
    const Dataset dataset = openTile(tile.path);
    if (!dataset || GDALGetRasterXSize(dataset.get()) != tile.width || GDALGetRasterYSize(dataset.get()) != tile.height) {
        reason = withoutPath(quiet.lastMessage("changed since the folder was scanned"), tile.path);
        return nullptr;
    }
    auto data = std::make_shared<TileData>();
    const std::size_t count = static_cast<std::size_t>(tile.width) * static_cast<std::size_t>(tile.height);
    GDALRasterBandH band = GDALGetRasterBand(dataset.get(), 1);
    // 16-bit posts stay so when every void is -32768 (SRTM's, and what a declared
    // nodata of that value says).
    const bool shorts = GDALGetRasterDataType(band) == GDT_Int16 && (!tile.nodata || *tile.nodata == voidPost);
    void* buffer = nullptr;
    if (shorts) {
        data->shorts.resize(count);
        buffer = data->shorts.data();
    } else {
        data->floats.resize(count);
        buffer = data->floats.data();
    }
    if (GDALRasterIO(band, GF_Read, 0, 0, tile.width, tile.height, buffer, tile.width, tile.height, shorts ? GDT_Int16 : GDT_Float32,
            0, 0)
        != CE_None) {
        reason = withoutPath(quiet.lastMessage("its heights do not read"), tile.path);
        return nullptr;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float& post : data->floats)
        if (post == static_cast<float>(voidPost) || (tile.nodata && post == static_cast<float>(*tile.nodata)) || !std::isfinite(post))
            post = nan;
    return data;
}

GeoBox unitedBoxes(const GeoBox& one, const GeoBox& other)
{
    return GeoBox { std::min(one.south, other.south), std::min(one.west, other.west), std::max(one.north, other.north),
        std::max(one.east, other.east) };
}

std::int64_t cellKey(int latitude, int longitude) { return (std::int64_t { latitude } + 1000) * 10000 + (longitude + 1000); }

} // namespace

struct TerrainTiles::State {
    std::size_t memoryLimit { 0 };
    TerrainSummary scanned;
    std::vector<TileInfo> tiles;
    // The tiles meeting each one-degree cell, by cellKey of its south-west corner.
    std::unordered_map<std::int64_t, std::vector<std::size_t>> cells;

    mutable std::mutex mutex;
    // Under the mutex: the held posts, most recently used first.
    struct Held {
        std::shared_ptr<const TileData> data;
        std::list<std::size_t>::iterator use;
    };
    mutable std::unordered_map<std::size_t, Held> held;
    mutable std::list<std::size_t> uses;
    mutable std::size_t heldBytes { 0 };
    // Set once a tile's posts did not read; read without the mutex.
    std::unique_ptr<std::atomic<bool>[]> failed;
    mutable std::vector<UnreadableTile> failedLater;

    void index(std::size_t tile)
    {
        const GeoBox& box = tiles[tile].extent;
        for (int latitude = static_cast<int>(std::floor(box.south)); latitude <= static_cast<int>(std::floor(box.north)); ++latitude)
            for (int longitude = static_cast<int>(std::floor(box.west)); longitude <= static_cast<int>(std::floor(box.east)); ++longitude)
                cells[cellKey(latitude, longitude)].push_back(tile);
    }

    const std::vector<std::size_t>* tilesNear(double latitude, double longitude) const
    {
        const auto found = cells.find(cellKey(static_cast<int>(std::floor(latitude)), static_cast<int>(std::floor(longitude))));
        return found == cells.end() ? nullptr : &found->second;
    }

    // The posts of a tile, read when they are not held; nothing when they do not read.
    std::shared_ptr<const TileData> posts(std::size_t tile) const
    {
        {
            const std::lock_guard lock(mutex);
            if (failed[tile])
                return nullptr;
            if (const auto found = held.find(tile); found != held.end()) {
                uses.splice(uses.begin(), uses, found->second.use);
                return found->second.data;
            }
        }
        // Read outside the lock, so that lookups in held tiles go on meanwhile; two
        // threads that want the same tile at once may both read it, and the first kept
        // serves.
        std::string reason;
        auto data = readPosts(tiles[tile], reason);
        const std::lock_guard lock(mutex);
        if (!data) {
            if (!failed[tile])
                failedLater.push_back({ tiles[tile].path, reason });
            failed[tile].store(true, std::memory_order_release);
            return nullptr;
        }
        if (const auto found = held.find(tile); found != held.end())
            return found->second.data;
        while (!uses.empty() && heldBytes + data->bytes() > memoryLimit) {
            const std::size_t oldest = uses.back();
            heldBytes -= held[oldest].data->bytes();
            held.erase(oldest);
            uses.pop_back();
        }
        uses.push_front(tile);
        held[tile] = Held { data, uses.begin() };
        heldBytes += data->bytes();
        return data;
    }

    // The tile whose cells hold the place, and its posts.
    std::optional<std::size_t> tileAt(double latitude, double longitude) const
    {
        if (const auto* near = tilesNear(latitude, longitude))
            for (std::size_t tile : *near)
                if (tiles[tile].contains(latitude, longitude) && !isFailed(tile))
                    return tile;
        return std::nullopt;
    }

    bool isFailed(std::size_t tile) const
    {
        return failed[tile].load(std::memory_order_acquire);
    }

    // A post outside the tile `from` looked up in the tile beside it: found only where
    // that tile has a post at the very place (NaN for a void), nothing where no tile
    // has, such as beside a tile of another spacing.
    std::optional<float> neighbourPost(const TileInfo& from, int column, int row) const
    {
        const std::optional<float> nothing;
        const double longitude = from.originLon + (column + 0.5) * from.lonStep;
        const double latitude = from.originLat + (row + 0.5) * from.latStep;
        const auto* near = tilesNear(latitude, longitude);
        if (!near)
            return nothing;
        for (std::size_t tile : *near) {
            const TileInfo& other = tiles[tile];
            if (&other == &from || !other.contains(latitude, longitude))
                continue;
            const double otherColumn = other.column(longitude);
            const double otherRow = other.row(latitude);
            const double nearestColumn = std::round(otherColumn);
            const double nearestRow = std::round(otherRow);
            if (std::abs(otherColumn - nearestColumn) > 0.01 || std::abs(otherRow - nearestRow) > 0.01 || nearestColumn < 0
                || nearestRow < 0 || nearestColumn > other.width - 1 || nearestRow > other.height - 1)
                continue;
            const auto data = posts(tile);
            if (!data)
                continue;
            return data->at(static_cast<std::size_t>(nearestRow) * static_cast<std::size_t>(other.width)
                + static_cast<std::size_t>(nearestColumn));
        }
        return nothing;
    }
};

TerrainTiles::TerrainTiles(const std::string& folder, std::size_t memoryLimitBytes)
    : m_state(std::make_unique<State>())
{
    State& state = *m_state;
    state.memoryLimit = memoryLimitBytes;
    state.scanned.folder = folder;
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        state.scanned.folderProblem = std::filesystem::exists(folder, error) ? "is not a folder" : "does not exist";
        return;
    }
    std::vector<std::string> candidates;
    for (std::filesystem::recursive_directory_iterator walk(folder, std::filesystem::directory_options::skip_permission_denied, error), end;
         !error && walk != end; walk.increment(error)) {
        if (walk->is_regular_file(error) && looksLikeTile(walk->path()))
            candidates.push_back(walk->path().string());
    }
    if (error && candidates.empty()) {
        state.scanned.folderProblem = "cannot be read: " + error.message();
        return;
    }
    // The same order on every machine, whatever the file system's.
    std::sort(candidates.begin(), candidates.end());
    for (const std::string& path : candidates) {
        std::string reason;
        if (auto tile = describeTile(path, reason))
            state.tiles.push_back(std::move(*tile));
        else
            state.scanned.unreadable.push_back({ path, reason });
    }
    state.failed = std::make_unique<std::atomic<bool>[]>(state.tiles.size());
    for (std::size_t tile = 0; tile < state.tiles.size(); ++tile) {
        state.index(tile);
        const GeoBox& box = state.tiles[tile].extent;
        state.scanned.covered = state.scanned.covered ? unitedBoxes(*state.scanned.covered, box) : box;
    }
    state.scanned.tiles = state.tiles.size();
}

TerrainTiles::~TerrainTiles() = default;

std::optional<double> TerrainTiles::elevationAt(GeoPoint place) const
{
    const State& state = *m_state;
    const double latitude = place.latitude;
    double longitude = place.longitude;
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::abs(latitude) > 90)
        return std::nullopt;
    if (longitude >= 180 || longitude < -180)
        longitude = std::remainder(longitude, 360.0);
    // A tile whose posts do not read is marked and passed over: another tile covering
    // the place may answer.
    std::optional<std::size_t> tile;
    std::shared_ptr<const TileData> data;
    while (!data && (tile = state.tileAt(latitude, longitude)))
        data = state.posts(*tile);
    if (!data)
        return std::nullopt;
    const TileInfo& info = state.tiles[*tile];
    double column = info.column(longitude);
    double row = info.row(latitude);
    // On the last post of a row or column the post beyond it counts for nothing: the
    // pair before it serves, so that a tile alone answers up to its edge.
    if (column == info.width - 1)
        column = info.width - 1 - 1e-12;
    if (row == info.height - 1)
        row = info.height - 1 - 1e-12;
    const int column0 = static_cast<int>(std::floor(column));
    const int row0 = static_cast<int>(std::floor(row));
    const auto own = [&](int c, int r) -> double {
        return data->at(static_cast<std::size_t>(r) * static_cast<std::size_t>(info.width) + static_cast<std::size_t>(c));
    };
    bool beyond = false;
    const auto post = [&](int c, int r) -> double {
        if (c >= 0 && r >= 0 && c < info.width && r < info.height)
            return own(c, r);
        const auto found = state.neighbourPost(info, c, r);
        beyond = beyond || !found;
        return found.value_or(0);
    };
    double northWest = post(column0, row0);
    double northEast = post(column0 + 1, row0);
    double southWest = post(column0, row0 + 1);
    double southEast = post(column0 + 1, row0 + 1);
    double across = column - column0;
    double down = row - row0;
    if (beyond) {
        // In the half cell beyond the tile's last posts with no tile beside it that has
        // posts there: the tile's edge posts hold on to its border.
        const int west = std::clamp(column0, 0, info.width - 2);
        const int north = std::clamp(row0, 0, info.height - 2);
        across = std::clamp(column - west, 0.0, 1.0);
        down = std::clamp(row - north, 0.0, 1.0);
        northWest = own(west, north);
        northEast = own(west + 1, north);
        southWest = own(west, north + 1);
        southEast = own(west + 1, north + 1);
    }
    if (std::isnan(northWest) || std::isnan(northEast) || std::isnan(southWest) || std::isnan(southEast))
        return std::nullopt;
    const double north = northWest + (northEast - northWest) * across;
    const double south = southWest + (southEast - southWest) * across;
    return north + (south - north) * down;
}

TerrainSummary TerrainTiles::summary() const
{
    const State& state = *m_state;
    TerrainSummary summary = state.scanned;
    const std::lock_guard lock(state.mutex);
    if (state.failedLater.empty())
        return summary;
    // A tile whose posts did not read counts as unreadable, not as covering its box.
    summary.unreadable.insert(summary.unreadable.end(), state.failedLater.begin(), state.failedLater.end());
    summary.tiles = 0;
    summary.covered.reset();
    for (std::size_t tile = 0; tile < state.tiles.size(); ++tile)
        if (!state.failed[tile]) {
            ++summary.tiles;
            summary.covered = summary.covered ? unitedBoxes(*summary.covered, state.tiles[tile].extent) : state.tiles[tile].extent;
        }
    return summary;
}

std::size_t TerrainTiles::loadedTiles() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->held.size();
}

std::size_t TerrainTiles::loadedBytes() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->heldBytes;
}

namespace {

// 45°N, 6.5°E: whole degrees where the edge is within a hundredth of one (a tile's
// cells reach half a post beyond its whole-degree posts).
std::string degreesText(double value, char positive, char negative)
{
    const double rounded = std::round(value);
    char text[32];
    if (std::abs(value - rounded) < 0.01)
        std::snprintf(text, sizeof text, "%.0f\u00b0%c", std::abs(rounded), rounded < 0 ? negative : positive);
    else
        std::snprintf(text, sizeof text, "%.2f\u00b0%c", std::abs(value), value < 0 ? negative : positive);
    return text;
}

} // namespace

std::string terrainSummaryText(const TerrainSummary& summary)
{
    if (summary.folderProblem)
        return summary.folder + " " + *summary.folderProblem;
    std::string text;
    if (summary.tiles == 0 || !summary.covered) {
        text = "no tiles in " + summary.folder;
    } else {
        const GeoBox& box = *summary.covered;
        text = std::to_string(summary.tiles) + (summary.tiles == 1 ? " tile" : " tiles") + " covering "
            + degreesText(box.south, 'N', 'S') + " to " + degreesText(box.north, 'N', 'S') + ", " + degreesText(box.west, 'E', 'W')
            + " to " + degreesText(box.east, 'E', 'W');
    }
    if (!summary.unreadable.empty()) {
        text += "; unreadable: ";
        for (std::size_t i = 0; i < summary.unreadable.size(); ++i) {
            const UnreadableTile& file = summary.unreadable[i];
            text += (i ? ", " : "") + std::filesystem::path(file.path).filename().string() + " (" + file.reason + ")";
        }
    }
    return text;
}

std::optional<std::string> terrainFolder(const TerrainFolderChoice& choice)
{
    const auto environment = choice.environment ? choice.environment : [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto given = [](const std::optional<std::string>& value) { return value && !value->empty(); };
    if (given(choice.commandLine))
        return choice.commandLine;
    if (auto variable = environment("CORVEX_TERRAIN"); given(variable))
        return variable;
    if (given(choice.preference))
        return choice.preference;
    return std::nullopt;
}

} // namespace corvex::terrain
