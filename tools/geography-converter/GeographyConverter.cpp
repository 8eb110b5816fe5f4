// Turns the binned coastline and border files of the low-resolution shoreline data set
// (Debian's gmt-gshhg-low, netCDF-4) into a C++ source with the lines the map draws when
// it has no tiles. Runs once at build time:
//
//   corvex-geography-converter COASTLINES.nc BORDERS.nc OUTPUT.cpp
//
// The data set cuts its lines into bins of a fixed size in degrees; each piece of a line
// is a segment of points stored as 16-bit fractions of the bin, from the bin's south-west
// corner. Pieces are kept as they are: drawn side by side they make the whole line.
//
// The pieces are not closed land polygons: a shoreline leaves a bin at one edge and
// enters the next, and a bin wholly inside a continent holds none. So the land to fill is
// built bin by bin (landRings): the pieces that cross the bin, joined by the bin's edges
// between them, and the rings wholly inside it. Each bin lies on one side of ±180° and
// the bins at the south pole are whole land, so neither Antarctica nor the land on both
// sides of the antimeridian needs a ring that wraps round the world.

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The kinds of line, as the map's OfflineGeographyData numbers them.
constexpr int coastlineKind = 0;
constexpr int borderKind = 1;
constexpr int landKind = 2;

// How far, in degrees, a simplified line may stray from the data set's: the map shows
// this geography only when no tiles are at hand, and at the zooms where a whole country
// or more is in view this is under a pixel. It keeps the compiled-in data small.
constexpr double toleranceDegrees = 0.05;
// Islands and lakes smaller than this across are left out for the same reason: they
// are a few pixels wide at most where this geography is all there is to see.
constexpr double minimumExtentDegrees = 0.2;

struct Point {
    double longitude;
    double latitude;
};

// Keeps the points that the line cannot lose without straying more than the tolerance
// (recursive halving at the farthest point).
void simplify(const std::vector<Point>& points, std::size_t first, std::size_t last, std::vector<bool>& keep)
{
    if (last <= first + 1)
        return;
    const Point& a = points[first];
    const Point& b = points[last];
    const double dx = b.longitude - a.longitude;
    const double dy = b.latitude - a.latitude;
    const double length = std::hypot(dx, dy);
    double farthest = -1;
    std::size_t farthestIndex = first;
    for (std::size_t index = first + 1; index < last; ++index) {
        const Point& p = points[index];
        const double distance = length > 0
            ? std::abs(dx * (a.latitude - p.latitude) - dy * (a.longitude - p.longitude)) / length
            : std::hypot(p.longitude - a.longitude, p.latitude - a.latitude);
        if (distance > farthest) {
            farthest = distance;
            farthestIndex = index;
        }
    }
    if (farthest <= toleranceDegrees)
        return;
    keep[farthestIndex] = true;
    simplify(points, first, farthestIndex, keep);
    simplify(points, farthestIndex, last, keep);
}

double extent(const std::vector<Point>& points)
{
    double west = points.front().longitude;
    double east = west;
    double south = points.front().latitude;
    double north = south;
    for (const Point& point : points) {
        west = std::min(west, point.longitude);
        east = std::max(east, point.longitude);
        south = std::min(south, point.latitude);
        north = std::max(north, point.latitude);
    }
    return std::max(east - west, north - south);
}

struct Line {
    int kind;
    std::vector<std::int16_t> points; // longitude, latitude in hundredths of a degree
};

class NetCdfFile {
public:
    explicit NetCdfFile(const std::string& path)
        : m_path(path)
    {
        check(nc_open(path.c_str(), NC_NOWRITE, &m_id), "open");
    }
    ~NetCdfFile() { nc_close(m_id); }
    NetCdfFile(const NetCdfFile&) = delete;
    NetCdfFile& operator=(const NetCdfFile&) = delete;

    bool has(const char* name) const
    {
        int variable = 0;
        return nc_inq_varid(m_id, name, &variable) == NC_NOERR;
    }

    template<typename T>
    std::vector<T> read(const char* name) const
    {
        int variable = 0;
        check(nc_inq_varid(m_id, name, &variable), name);
        int dimension = 0;
        check(nc_inq_vardimid(m_id, variable, &dimension), name);
        std::size_t length = 0;
        check(nc_inq_dimlen(m_id, dimension, &length), name);
        std::vector<T> values(length);
        if constexpr (sizeof(T) == 2)
            check(nc_get_var_short(m_id, variable, reinterpret_cast<short*>(values.data())), name);
        else
            check(nc_get_var_int(m_id, variable, values.data()), name);
        return values;
    }

    int scalar(const char* name) const { return read<int>(name).at(0); }

private:
    void check(int status, const char* what) const
    {
        if (status != NC_NOERR) {
            std::fprintf(stderr, "%s: %s: %s\n", m_path.c_str(), what, nc_strerror(status));
            std::exit(1);
        }
    }

    std::string m_path;
    int m_id { -1 };
};

std::int16_t hundredths(double degrees)
{
    return static_cast<std::int16_t>(std::lround(degrees * 100));
}

// keepLevel says which of the data set's levels (land, lake, national border, ...) to
// keep.
void readBinnedLines(const std::string& path, int kind, bool (*keepLevel)(int), std::vector<Line>& lines)
{
    const NetCdfFile file(path);
    const double binDegrees = file.scalar("Bin_size_in_minutes") / 60.0;
    const int binsAround = file.scalar("N_bins_in_360_longitude_range");
    const auto firstSegment = file.read<int>("Id_of_first_segment_in_a_bin");
    const auto segmentsInBin = file.read<std::int16_t>("N_segments_in_a_bin");
    const auto firstPoint = file.read<int>("Id_of_first_point_in_a_segment");
    const auto longitudes = file.read<std::uint16_t>("Relative_longitude_from_SW_corner_of_bin");
    const auto latitudes = file.read<std::uint16_t>("Relative_latitude_from_SW_corner_of_bin");

    // The coastline file packs each segment's point count and level into one word (count
    // above bit 9, level in bits 6 to 8); the border file has them apart.
    std::vector<int> pointCounts;
    std::vector<int> levels;
    if (file.has("Embedded_npts_levels_exit_entry_for_a_segment")) {
        for (const int packed : file.read<int>("Embedded_npts_levels_exit_entry_for_a_segment")) {
            pointCounts.push_back(packed >> 9);
            levels.push_back((packed >> 6) & 7);
        }
    } else {
        for (const std::int16_t count : file.read<std::int16_t>("N_points_for_a_segment"))
            pointCounts.push_back(static_cast<std::uint16_t>(count));
        for (const std::int16_t level : file.read<std::int16_t>("Hierarchial_level_of_a_segment"))
            levels.push_back(level);
    }

    for (std::size_t bin = 0; bin < firstSegment.size(); ++bin) {
        // Bins run west to east from 0°, rows north to south from 90°.
        const double west = static_cast<double>(bin % static_cast<std::size_t>(binsAround)) * binDegrees;
        const double south = 90.0 - static_cast<double>(bin / static_cast<std::size_t>(binsAround) + 1) * binDegrees;
        for (int index = 0; index < segmentsInBin[bin]; ++index) {
            const std::size_t segment = static_cast<std::size_t>(firstSegment[bin] + index);
            if (!keepLevel(levels.at(segment)))
                continue;
            std::vector<Point> points;
            for (int point = 0; point < pointCounts.at(segment); ++point) {
                const std::size_t at = static_cast<std::size_t>(firstPoint.at(segment) + point);
                double longitude = west + longitudes.at(at) / 65535.0 * binDegrees;
                // The map's longitudes run from -180° to 180°; a bin lies wholly on one side.
                if (west >= 180.0)
                    longitude -= 360.0;
                points.push_back({ longitude, south + latitudes.at(at) / 65535.0 * binDegrees });
            }
            if (points.size() < 2 || extent(points) < minimumExtentDegrees)
                continue;
            std::vector<bool> keep(points.size(), false);
            keep.front() = keep.back() = true;
            simplify(points, 0, points.size() - 1, keep);
            Line line { kind, {} };
            for (std::size_t kept = 0; kept < points.size(); ++kept) {
                if (!keep[kept])
                    continue;
                line.points.push_back(hundredths(points[kept].longitude));
                line.points.push_back(hundredths(points[kept].latitude));
            }
            if (line.points.size() >= 4)
                lines.push_back(std::move(line));
        }
    }
}

// Where a point of a bin's edge lies on the way round it, counterclockwise from the
// south-west corner: 0 to 1 along the south edge, to 2 up the east edge, to 3 back along
// the north edge and to 4 down the west edge. x and y are fractions of the bin.
double perimeterPosition(double x, double y)
{
    constexpr double onEdge = 1e-9;
    if (y <= onEdge)
        return x;
    if (x >= 1 - onEdge)
        return 1 + y;
    if (y >= 1 - onEdge)
        return 2 + (1 - x);
    return 3 + (1 - y);
}

bool onBinEdge(double x, double y)
{
    constexpr double onEdge = 1e-9;
    return x <= onEdge || y <= onEdge || x >= 1 - onEdge || y >= 1 - onEdge;
}

// Twice the signed area: positive when the ring runs counterclockwise (east, then north).
double signedArea(const std::vector<Point>& ring)
{
    double area = 0;
    for (std::size_t index = 0; index < ring.size(); ++index) {
        const Point& a = ring[index];
        const Point& b = ring[(index + 1) % ring.size()];
        area += a.longitude * b.latitude - b.longitude * a.latitude;
    }
    return area;
}

// points in fractions of a bin binDegrees wide: the tolerance is in degrees.
std::vector<Point> simplified(const std::vector<Point>& points, double binDegrees)
{
    std::vector<Point> scaled;
    for (const Point& point : points)
        scaled.push_back({ point.longitude * binDegrees, point.latitude * binDegrees });
    std::vector<bool> keep(points.size(), false);
    keep.front() = keep.back() = true;
    simplify(scaled, 0, points.size() - 1, keep);
    std::vector<Point> kept;
    for (std::size_t index = 0; index < points.size(); ++index) {
        if (keep[index])
            kept.push_back(points[index]);
    }
    return kept;
}

// The land of each bin as closed rings: counterclockwise round land, clockwise round a
// lake, so that a fill by the nonzero rule paints land and leaves lakes open.
//
// Every shoreline, whatever its level (land, lake, island in a lake, pond), turns land
// into water or back as one crosses it, so the bin's south-west corner (whose level the
// data set gives) and the pieces' ends on the edge say which stretches of the edge are
// land. A ring runs counterclockwise along a land stretch to the next piece's end, in
// along that piece to its other end, and on along the edge from there, until it is back:
// land always on its left. Antarctica's grounding line (level 6) is left out: the ice
// shelves count as land, as the coastline drawn over them does.
void readLandRings(const std::string& path, std::vector<Line>& lines)
{
    const NetCdfFile file(path);
    const double binDegrees = file.scalar("Bin_size_in_minutes") / 60.0;
    const int binsAround = file.scalar("N_bins_in_360_longitude_range");
    const auto firstSegment = file.read<int>("Id_of_first_segment_in_a_bin");
    const auto segmentsInBin = file.read<std::int16_t>("N_segments_in_a_bin");
    const auto nodeLevels = file.read<std::int16_t>("Embedded_node_levels_in_a_bin");
    const auto packed = file.read<int>("Embedded_npts_levels_exit_entry_for_a_segment");
    const auto firstPoint = file.read<int>("Id_of_first_point_in_a_segment");
    const auto longitudes = file.read<std::uint16_t>("Relative_longitude_from_SW_corner_of_bin");
    const auto latitudes = file.read<std::uint16_t>("Relative_latitude_from_SW_corner_of_bin");
    constexpr int groundingLineLevel = 6;

    std::size_t brokenBins = 0;
    for (std::size_t bin = 0; bin < firstSegment.size(); ++bin) {
        const double west = static_cast<double>(bin % static_cast<std::size_t>(binsAround)) * binDegrees;
        const double south = 90.0 - static_cast<double>(bin / static_cast<std::size_t>(binsAround) + 1) * binDegrees;
        // Points in fractions of the bin while the rings are built.
        std::vector<std::vector<Point>> crossing;
        std::vector<Line> rings;
        const auto addRing = [&](const std::vector<Point>& ring) {
            Line line { landKind, {} };
            for (const Point& point : ring) {
                double longitude = west + point.longitude * binDegrees;
                // As for the lines: the map's longitudes run from -180° to 180°.
                if (west >= 180.0)
                    longitude -= 360.0;
                line.points.push_back(hundredths(longitude));
                line.points.push_back(hundredths(south + point.latitude * binDegrees));
            }
            rings.push_back(std::move(line));
        };
        for (int index = 0; index < segmentsInBin[bin]; ++index) {
            const std::size_t segment = static_cast<std::size_t>(firstSegment[bin] + index);
            const int level = (packed.at(segment) >> 6) & 7;
            if (level == groundingLineLevel)
                continue;
            std::vector<Point> points;
            for (int point = 0; point < (packed.at(segment) >> 9); ++point) {
                const std::size_t at = static_cast<std::size_t>(firstPoint.at(segment) + point);
                points.push_back({ longitudes.at(at) / 65535.0, latitudes.at(at) / 65535.0 });
            }
            if (points.size() < 2)
                continue;
            const bool closed = points.front().longitude == points.back().longitude
                && points.front().latitude == points.back().latitude;
            if (!closed) {
                crossing.push_back(points);
                continue;
            }
            if (extent(points) * binDegrees < minimumExtentDegrees)
                continue;
            std::vector<Point> ring = simplified(points, binDegrees);
            ring.pop_back();
            if (ring.size() < 3)
                continue;
            const bool land = level % 2 == 1;
            if ((signedArea(ring) > 0) != land)
                std::reverse(ring.begin(), ring.end());
            addRing(ring);
        }

        const bool landAtCorner = ((nodeLevels[bin] >> 9) & 7) % 2 == 1;
        if (crossing.empty()) {
            if (landAtCorner)
                addRing({ { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } });
            lines.insert(lines.end(), rings.begin(), rings.end());
            continue;
        }

        struct End {
            double position;
            std::size_t piece;
            bool atStart;
        };
        std::vector<End> ends;
        bool broken = false;
        for (std::size_t piece = 0; piece < crossing.size(); ++piece) {
            const Point& first = crossing[piece].front();
            const Point& last = crossing[piece].back();
            if (!onBinEdge(first.longitude, first.latitude) || !onBinEdge(last.longitude, last.latitude))
                broken = true;
            ends.push_back({ perimeterPosition(first.longitude, first.latitude), piece, true });
            ends.push_back({ perimeterPosition(last.longitude, last.latitude), piece, false });
            crossing[piece] = simplified(crossing[piece], binDegrees);
        }
        std::stable_sort(ends.begin(), ends.end(), [](const End& a, const End& b) { return a.position < b.position; });
        std::vector<std::size_t> startAt(crossing.size());
        std::vector<std::size_t> endAt(crossing.size());
        for (std::size_t at = 0; at < ends.size(); ++at)
            (ends[at].atStart ? startAt : endAt)[ends[at].piece] = at;
        // The stretch of edge after the end at that place, towards the next one.
        const auto landAfter = [&](std::size_t at) { return landAtCorner != ((at + 1) % 2 == 1); };
        const Point corners[4] = { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } };

        std::vector<bool> used(ends.size(), false);
        for (std::size_t start = 0; start < ends.size() && !broken; ++start) {
            if (used[start] || !landAfter(start))
                continue;
            std::vector<Point> ring;
            std::size_t at = start;
            for (std::size_t steps = 0; steps <= ends.size(); ++steps) {
                used[at] = true;
                const std::size_t next = (at + 1) % ends.size();
                double to = ends[next].position;
                if (to < ends[at].position)
                    to += 4;
                for (int corner = static_cast<int>(std::floor(ends[at].position)) + 1; corner < to; ++corner)
                    ring.push_back(corners[corner % 4]);
                const End& arrival = ends[next];
                const std::vector<Point>& piece = crossing[arrival.piece];
                if (arrival.atStart) {
                    ring.insert(ring.end(), piece.begin(), piece.end());
                    at = endAt[arrival.piece];
                } else {
                    ring.insert(ring.end(), piece.rbegin(), piece.rend());
                    at = startAt[arrival.piece];
                }
                if (at == start)
                    break;
                if (used[at] || !landAfter(at)) {
                    broken = true;
                    break;
                }
            }
            if (at != start)
                broken = true;
            if (!broken)
                addRing(ring);
        }
        if (broken) {
            // Pieces that do not join up would fill the wrong side: the bin keeps its
            // coastlines and stays unfilled.
            ++brokenBins;
            continue;
        }
        lines.insert(lines.end(), rings.begin(), rings.end());
    }
    if (brokenBins > 0)
        std::fprintf(stderr, "%s: %zu bins whose shorelines do not join up are left unfilled\n", path.c_str(), brokenBins);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s COASTLINES.nc BORDERS.nc OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    std::vector<Line> lines;
    // Shorelines of land and of lakes; level 5 is Antarctica's ice front (6, its grounding
    // line, would draw the continent twice).
    readBinnedLines(argv[1], coastlineKind, [](int level) { return level == 1 || level == 2 || level == 5; }, lines);
    // National borders only.
    readBinnedLines(argv[2], borderKind, [](int level) { return level == 1; }, lines);
    readLandRings(argv[1], lines);

    std::ofstream out(argv[3]);
    out << "// Generated by corvex-geography-converter from the shoreline data set; not edited.\n"
           "#include \"map/qt/OfflineGeographyData.h\"\n\n"
           "#include <iterator>\n\n"
           "namespace corvex {\n\nnamespace {\n\n"
           "constexpr std::int16_t points[] = {\n";
    std::size_t pointCount = 0;
    for (const Line& line : lines) {
        for (std::size_t index = 0; index < line.points.size(); ++index)
            out << line.points[index] << (index % 16 == 15 ? ",\n" : ",");
        out << '\n';
        pointCount += line.points.size() / 2;
    }
    out << "};\n\nconstexpr OfflineGeographyLine lines[] = {\n";
    std::size_t first = 0;
    for (const Line& line : lines) {
        const std::size_t count = line.points.size() / 2;
        const char* kind = line.kind == coastlineKind ? "Coastline" : line.kind == borderKind ? "Border" : "Land";
        out << "{OfflineGeographyLine::Kind::" << kind << "," << first << "," << count << "},\n";
        first += count;
    }
    out << "};\n\n} // namespace\n\n"
           "OfflineGeographyData offlineGeographyData()\n{\n"
           "    return { lines, std::size(lines), points, std::size(points) / 2 };\n}\n\n"
           "} // namespace corvex\n";
    if (!out) {
        std::fprintf(stderr, "%s: cannot write\n", argv[3]);
        return 1;
    }
    std::printf("offline geography: %zu lines, %zu points\n", lines.size(), pointCount);
    return 0;
}
