#include "map/StrokeCoverage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvex {

namespace {

// Each channel of a premultiplied pixel times alpha / 255, rounded, two channels at a
// time: the blend the raster painter uses, so that an opaque run of a stroke gives the
// same bytes as the painter's.
std::uint32_t byteMultiply(std::uint32_t pixel, std::uint32_t alpha)
{
    std::uint32_t redBlue = (pixel & 0xff00ffu) * alpha;
    redBlue = (redBlue + ((redBlue >> 8) & 0xff00ffu) + 0x800080u) >> 8;
    redBlue &= 0xff00ffu;
    std::uint32_t alphaGreen = ((pixel >> 8) & 0xff00ffu) * alpha;
    alphaGreen = alphaGreen + ((alphaGreen >> 8) & 0xff00ffu) + 0x800080u;
    alphaGreen &= 0xff00ff00u;
    return redBlue | alphaGreen;
}

double clampUnit(double value)
{
    return value <= 0 ? 0 : value >= 1 ? 1 : value;
}

// The coverage (0 to 255) of a pixel whose centre lies distanceSquared from a round
// end; the square root only on the ramp.
int roundEndLevel(double distanceSquared, double reach)
{
    if (distanceSquared >= reach * reach)
        return 0;
    const double inner = reach - 1;
    if (inner > 0 && distanceSquared <= inner * inner)
        return 255;
    return static_cast<int>(clampUnit(reach - std::sqrt(distanceSquared)) * 255 + 0.5);
}

// Narrows [from, to] to the x of a row where a*x + b lies within [low, high] (empty when
// from > to); inverse is 1 / a, or 0 where a is too small to divide by.
void limitRange(double inverse, double b, double low, double high, double& from, double& to)
{
    if (inverse == 0) {
        if (b < low || b > high) {
            from = HUGE_VAL;
            to = -HUGE_VAL;
        }
        return;
    }
    double first = (low - b) * inverse;
    double second = (high - b) * inverse;
    if (first > second)
        std::swap(first, second);
    from = std::max(from, first);
    to = std::min(to, second);
}

} // namespace

StrokeCoverage::StrokeCoverage(int left, int top, int width, int height)
    : m_left(left)
    , m_top(top)
    , m_width(std::max(0, width))
    , m_height(std::max(0, height))
    , m_tileColumns((m_width + tileSize - 1) / tileSize)
    , m_mask(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0)
    , m_tileMarked(static_cast<std::size_t>(m_tileColumns) * static_cast<std::size_t>((m_height + tileSize - 1) / tileSize), 0)
{
}

void StrokeCoverage::markTiles(int columnFrom, int columnTo, int rowFrom, int rowTo)
{
    for (int tileRow = (rowFrom - m_top) / tileSize; tileRow <= (rowTo - m_top) / tileSize; ++tileRow) {
        for (int tileColumn = (columnFrom - m_left) / tileSize; tileColumn <= (columnTo - m_left) / tileSize; ++tileColumn) {
            const auto tile = static_cast<std::uint32_t>(tileRow * m_tileColumns + tileColumn);
            if (!m_tileMarked[tile]) {
                m_tileMarked[tile] = 1;
                m_markedTiles.push_back(tile);
            }
        }
    }
}

std::vector<std::size_t> StrokeCoverage::strokedPoints(std::span<const MapPoint> points, double tolerance)
{
    std::vector<std::size_t> kept;
    if (points.empty())
        return kept;
    kept.push_back(0);
    const double toleranceSquared = tolerance * tolerance;
    std::size_t anchor = 0;
    // The directions from the anchor that pass within the tolerance of every point since
    // it, as the wedge between two vectors (none yet while open is false).
    bool open = false;
    double leftX = 0;
    double leftY = 0;
    double rightX = 0;
    double rightY = 0;
    double farthest = 0;
    for (std::size_t index = 1; index < points.size(); ++index) {
        double vectorX = points[index].x - points[anchor].x;
        double vectorY = points[index].y - points[anchor].y;
        double distanceSquared = vectorX * vectorX + vectorY * vectorY;
        if (distanceSquared <= toleranceSquared)
            continue;
        double distance = std::sqrt(distanceSquared);
        // Out of the wedge, or turned back by more than the tolerance: the line from the
        // anchor would pass too far from a point left out. The previous point becomes
        // the anchor.
        const bool outside = open
            && (leftX * vectorY - leftY * vectorX < 0 || rightX * vectorY - rightY * vectorX > 0
                || distance < farthest - tolerance);
        if (outside && index - 1 != anchor) {
            anchor = index - 1;
            kept.push_back(anchor);
            open = false;
            vectorX = points[index].x - points[anchor].x;
            vectorY = points[index].y - points[anchor].y;
            distanceSquared = vectorX * vectorX + vectorY * vectorY;
            if (distanceSquared <= toleranceSquared)
                continue;
            distance = std::sqrt(distanceSquared);
        }
        // The two tangents from the anchor to the circle of the tolerance round the
        // point, turned from its direction by the angle whose sine is tolerance / distance.
        const double sine = tolerance / distance;
        const double cosine = std::sqrt(1 - sine * sine);
        const double towardsLeftX = vectorX * cosine + vectorY * sine;
        const double towardsLeftY = vectorY * cosine - vectorX * sine;
        const double towardsRightX = vectorX * cosine - vectorY * sine;
        const double towardsRightY = vectorY * cosine + vectorX * sine;
        if (!open) {
            leftX = towardsLeftX;
            leftY = towardsLeftY;
            rightX = towardsRightX;
            rightY = towardsRightY;
            farthest = distance;
            open = true;
            continue;
        }
        // Narrow the wedge to the part both allow.
        if (leftX * towardsLeftY - leftY * towardsLeftX > 0) {
            leftX = towardsLeftX;
            leftY = towardsLeftY;
        }
        if (rightX * towardsRightY - rightY * towardsRightX < 0) {
            rightX = towardsRightX;
            rightY = towardsRightY;
        }
        farthest = std::max(farthest, distance);
    }
    if (kept.back() != points.size() - 1)
        kept.push_back(points.size() - 1);
    return kept;
}

void StrokeCoverage::addPolyline(std::span<const MapPoint> points, double width, Ends ends)
{
    const double halfWidth = width / 2;
    const std::vector<std::size_t> stroked = strokedPoints(points, simplification);
    // The segments of non-zero length, as indices of their first points.
    std::vector<std::size_t> starts;
    std::vector<std::size_t> endings;
    std::size_t last = stroked.empty() ? 0 : stroked.front();
    for (const std::size_t index : stroked) {
        if (points[index].x == points[last].x && points[index].y == points[last].y)
            continue;
        starts.push_back(last);
        endings.push_back(index);
        last = index;
    }
    if (ends == Ends::Closed && !points.empty()
        && (points[last].x != points.front().x || points[last].y != points.front().y)) {
        starts.push_back(last);
        endings.push_back(0);
    }
    const bool open = ends == Ends::Open;
    for (std::size_t segment = 0; segment < starts.size(); ++segment)
        addSegment(points[starts[segment]], points[endings[segment]], halfWidth, open && segment == 0,
            open && segment + 1 == starts.size());
}

void StrokeCoverage::addSegment(MapPoint from, MapPoint to, double halfWidth, bool flatStart, bool flatEnd)
{
    const double length = std::sqrt((to.x - from.x) * (to.x - from.x) + (to.y - from.y) * (to.y - from.y));
    if (!(length > 0) || !std::isfinite(length))
        return;
    // Beyond this distance from the segment a pixel's centre gets nothing.
    const double reach = halfWidth + 0.5;
    if (!flatStart && !flatEnd && length < shortSegment) {
        addShortSegment(from, to, length, reach);
        return;
    }
    const double unitX = (to.x - from.x) / length;
    const double unitY = (to.y - from.y) / length;
    const double inverseX = std::abs(unitX) < 1e-12 ? 0 : 1 / unitX;
    const double inverseY = std::abs(unitY) < 1e-12 ? 0 : 1 / unitY;
    // Along the segment (s, from the start) and across it (p, to its left), the part
    // that may cover pixels: a round end reaches as far as the stroke's side, a flat
    // one half a pixel (the ramp of its edge).
    const double startS = flatStart ? -0.5 : -reach;
    const double endS = flatEnd ? length + 0.5 : length + reach;

    double minimumY = from.y;
    double maximumY = from.y;
    for (const double s : { startS, endS }) {
        for (const double p : { -reach, reach }) {
            const double y = from.y + s * unitY + p * unitX;
            minimumY = std::min(minimumY, y);
            maximumY = std::max(maximumY, y);
        }
    }
    // The rows whose centres lie within that part, clipped to the mask.
    const double rowFrom = std::max(std::ceil(minimumY - 0.5), static_cast<double>(m_top));
    const double rowTo = std::min(std::floor(maximumY - 0.5), static_cast<double>(m_top + m_height - 1));
    if (!(rowFrom <= rowTo))
        return;
    const double maskLeft = m_left;
    const double maskRight = m_left + m_width - 1;
    for (int y = static_cast<int>(rowFrom); y <= static_cast<int>(rowTo); ++y) {
        const double centreY = y + 0.5;
        const double offsetY = centreY - from.y;
        // s(x) = (x - from.x) * unitX + offsetY * unitY, p(x) = offsetY * unitX - (x - from.x) * unitY.
        double spanFrom = -1e300;
        double spanTo = 1e300;
        limitRange(inverseX, offsetY * unitY - from.x * unitX, startS, endS, spanFrom, spanTo);
        limitRange(-inverseY, offsetY * unitX + from.x * unitY, -reach, reach, spanFrom, spanTo);
        if (!(spanFrom <= spanTo))
            continue;
        const double columnFrom = std::max(std::ceil(spanFrom - 0.5), maskLeft);
        const double columnTo = std::min(std::floor(spanTo - 0.5), maskRight);
        if (!(columnFrom <= columnTo))
            continue;
        markTiles(static_cast<int>(columnFrom), static_cast<int>(columnTo), y, y);
        std::uint8_t* const row = maskRow(y) - m_left;
        for (int x = static_cast<int>(columnFrom); x <= static_cast<int>(columnTo); ++x) {
            const double offsetX = x + 0.5 - from.x;
            const double s = offsetX * unitX + offsetY * unitY;
            int level;
            if (s < 0 && !flatStart) {
                level = roundEndLevel(offsetX * offsetX + offsetY * offsetY, reach);
            } else if (s > length && !flatEnd) {
                const double endX = x + 0.5 - to.x;
                const double endY = centreY - to.y;
                level = roundEndLevel(endX * endX + endY * endY, reach);
            } else {
                double coverage = clampUnit(reach - std::abs(offsetY * unitX - offsetX * unitY));
                if (flatStart)
                    coverage *= clampUnit(s + 0.5);
                if (flatEnd)
                    coverage *= clampUnit(length - s + 0.5);
                level = static_cast<int>(coverage * 255 + 0.5);
            }
            row[x] = std::max(row[x], static_cast<std::uint8_t>(level));
        }
    }
}

void StrokeCoverage::addShortSegment(MapPoint from, MapPoint to, double length, double reach)
{
    // Every pixel of the box around the segment and its round ends, by its centre's
    // distance to the nearest point of the segment.
    const double rowFrom = std::max(std::ceil(std::min(from.y, to.y) - reach - 0.5), static_cast<double>(m_top));
    const double rowTo = std::min(std::floor(std::max(from.y, to.y) + reach - 0.5), static_cast<double>(m_top + m_height - 1));
    const double columnFrom = std::max(std::ceil(std::min(from.x, to.x) - reach - 0.5), static_cast<double>(m_left));
    const double columnTo = std::min(std::floor(std::max(from.x, to.x) + reach - 0.5), static_cast<double>(m_left + m_width - 1));
    if (!(rowFrom <= rowTo && columnFrom <= columnTo))
        return;
    const double alongX = to.x - from.x;
    const double alongY = to.y - from.y;
    const double inverseSquared = 1 / (length * length);
    markTiles(static_cast<int>(columnFrom), static_cast<int>(columnTo), static_cast<int>(rowFrom), static_cast<int>(rowTo));
    for (int y = static_cast<int>(rowFrom); y <= static_cast<int>(rowTo); ++y) {
        const double offsetY = y + 0.5 - from.y;
        std::uint8_t* const row = maskRow(y) - m_left;
        for (int x = static_cast<int>(columnFrom); x <= static_cast<int>(columnTo); ++x) {
            const double offsetX = x + 0.5 - from.x;
            const double t = clampUnit((offsetX * alongX + offsetY * alongY) * inverseSquared);
            const double nearX = offsetX - t * alongX;
            const double nearY = offsetY - t * alongY;
            const int level = roundEndLevel(nearX * nearX + nearY * nearY, reach);
            row[x] = std::max(row[x], static_cast<std::uint8_t>(level));
        }
    }
}

void StrokeCoverage::blendInto(std::uint32_t* pixels, std::size_t bytesPerLine, std::uint32_t premultipliedColor)
{
    const bool opaque = (premultipliedColor >> 24) == 0xff;
    auto* bytes = reinterpret_cast<unsigned char*>(pixels);
    for (const std::uint32_t tile : m_markedTiles) {
        m_tileMarked[tile] = 0;
        const int tileLeft = static_cast<int>(tile) % m_tileColumns * tileSize;
        const int tileTop = static_cast<int>(tile) / m_tileColumns * tileSize;
        const int columns = std::min(tileSize, m_width - tileLeft);
        const int rows = std::min(tileSize, m_height - tileTop);
        for (int y = tileTop; y < tileTop + rows; ++y) {
            std::uint8_t* const cells = m_mask.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + tileLeft;
            auto* const line = reinterpret_cast<std::uint32_t*>(bytes + static_cast<std::size_t>(y + m_top) * bytesPerLine)
                + m_left + tileLeft;
            for (int x = 0; x < columns; ++x) {
                // Most of a tile is empty: skip eight empty cells at a time.
                if ((x & 7) == 0 && x + 8 <= columns) {
                    std::uint64_t eight;
                    std::memcpy(&eight, cells + x, sizeof eight);
                    if (eight == 0) {
                        x += 7;
                        continue;
                    }
                }
                const std::uint32_t coverage = cells[x];
                if (coverage == 0)
                    continue;
                cells[x] = 0;
                if (coverage == 255 && opaque) {
                    line[x] = premultipliedColor;
                    continue;
                }
                const std::uint32_t source = coverage == 255 ? premultipliedColor : byteMultiply(premultipliedColor, coverage);
                line[x] = source + byteMultiply(line[x], 255 - (source >> 24));
            }
        }
    }
    m_markedTiles.clear();
}

int StrokeCoverage::coverageAt(int x, int y) const
{
    if (x < m_left || y < m_top || x >= m_left + m_width || y >= m_top + m_height)
        return 0;
    return m_mask[static_cast<std::size_t>(y - m_top) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x - m_left)];
}

std::size_t StrokeCoverage::coveredPixelCount() const
{
    return static_cast<std::size_t>(std::count_if(m_mask.begin(), m_mask.end(), [](std::uint8_t cell) { return cell != 0; }));
}

} // namespace corvex
