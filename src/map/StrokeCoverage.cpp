#include "map/StrokeCoverage.h"

#include <algorithm>
#include <cmath>

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
{
    reset(left, top, width, height);
}

void StrokeCoverage::reset(int left, int top, int width, int height)
{
    // The mask is all clear but for the touched cells, and stays as large as it was.
    for (const std::uint64_t touched : m_touched)
        m_mask[(touched >> 32) * static_cast<std::size_t>(m_width) + (touched & 0xffffffffu)] = 0;
    m_touched.clear();
    m_left = left;
    m_top = top;
    m_width = std::max(0, width);
    m_height = std::max(0, height);
    const std::size_t cells = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height);
    if (m_mask.size() < cells)
        m_mask.resize(cells, 0);
}

std::vector<std::size_t> StrokeCoverage::simplify(std::span<const MapPoint> points, double tolerance)
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
    double farthestSquared = 0;
    // Whether the point lies nearer the anchor than the farthest one since it, by more
    // than the tolerance: the line has turned back.
    const auto turnedBack = [&](double distanceSquared) {
        return distanceSquared < farthestSquared && std::sqrt(distanceSquared) < std::sqrt(farthestSquared) - tolerance;
    };
    for (std::size_t index = 1; index < points.size(); ++index) {
        double vectorX = points[index].x - points[anchor].x;
        double vectorY = points[index].y - points[anchor].y;
        double distanceSquared = vectorX * vectorX + vectorY * vectorY;
        if (distanceSquared <= toleranceSquared)
            continue;
        // Out of the wedge, or turned back: the line from the anchor would pass too far
        // from a point left out. The previous point becomes the anchor.
        const bool outside = open
            && (leftX * vectorY - leftY * vectorX < 0 || rightX * vectorY - rightY * vectorX > 0
                || turnedBack(distanceSquared));
        if (outside && index - 1 != anchor) {
            anchor = index - 1;
            kept.push_back(anchor);
            open = false;
            vectorX = points[index].x - points[anchor].x;
            vectorY = points[index].y - points[anchor].y;
            distanceSquared = vectorX * vectorX + vectorY * vectorY;
            if (distanceSquared <= toleranceSquared)
                continue;
        }
        // The two tangents from the anchor to the circle of the tolerance round the
        // point: its direction turned either way by the angle whose sine is tolerance /
        // distance, both lengthened by the distance (only their directions count).
        const double root = std::sqrt(distanceSquared - toleranceSquared);
        const double towardsLeftX = vectorX * root + vectorY * tolerance;
        const double towardsLeftY = vectorY * root - vectorX * tolerance;
        const double towardsRightX = vectorX * root - vectorY * tolerance;
        const double towardsRightY = vectorY * root + vectorX * tolerance;
        if (!open) {
            leftX = towardsLeftX;
            leftY = towardsLeftY;
            rightX = towardsRightX;
            rightY = towardsRightY;
            farthestSquared = distanceSquared;
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
        farthestSquared = std::max(farthestSquared, distanceSquared);
    }
    if (kept.back() != points.size() - 1)
        kept.push_back(points.size() - 1);
    return kept;
}

void StrokeCoverage::addPolyline(std::span<const MapPoint> points, double width, Ends ends)
{
    const double halfWidth = width / 2;
    setReach(halfWidth + 0.5);
    const bool open = ends == Ends::Open;
    // The segments of non-zero length, as the indices of their ends.
    m_segmentEnds.clear();
    std::size_t previous = 0;
    for (std::size_t index = 1; index < points.size(); ++index) {
        if (points[index].x == points[previous].x && points[index].y == points[previous].y)
            continue;
        m_segmentEnds.push_back({ previous, index });
        previous = index;
    }
    if (!open && !points.empty() && (points[previous].x != points.front().x || points[previous].y != points.front().y))
        m_segmentEnds.push_back({ previous, 0 });
    const std::size_t count = m_segmentEnds.size();
    for (std::size_t segment = 0; segment < count; ++segment) {
        const auto [from, to] = m_segmentEnds[segment];
        addSegment(points[from], points[to], halfWidth, open && segment == 0, open && segment + 1 == count);
        // The join at the segment's start, with the segment before it (for a closed
        // polyline the last one joins the first).
        if (segment > 0 || (!open && count > 1)) {
            const auto [before, joint] = m_segmentEnds[segment > 0 ? segment - 1 : count - 1];
            addJoin(points[before], points[joint], points[to], halfWidth);
        }
    }
}

void StrokeCoverage::setReach(double reach)
{
    if (reach == m_reach)
        return;
    m_reach = reach;
    m_levelScale = static_cast<double>(m_levels.size()) / (reach * reach);
    for (std::size_t index = 0; index < m_levels.size(); ++index) {
        const double distance = std::sqrt((static_cast<double>(index) + 0.5) / m_levelScale);
        m_levels[index] = static_cast<std::uint8_t>(clampUnit(reach - distance) * 255 + 0.5);
    }
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
    // that may cover pixels: up to a join, or half a pixel beyond a flat end (the ramp
    // of its edge).
    const double startS = flatStart ? -0.5 : 0;
    const double endS = flatEnd ? length + 0.5 : length;

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
        std::uint8_t* const row = maskRow(y);
        for (int x = static_cast<int>(columnFrom); x <= static_cast<int>(columnTo); ++x) {
            const double offsetX = x + 0.5 - from.x;
            const double s = offsetX * unitX + offsetY * unitY;
            double coverage = clampUnit(reach - std::abs(offsetY * unitX - offsetX * unitY));
            if (flatStart)
                coverage *= clampUnit(s + 0.5);
            if (flatEnd)
                coverage *= clampUnit(length - s + 0.5);
            const int level = static_cast<int>(coverage * 255 + 0.5);
            if (level > 0)
                cover(row, x, y, level);
        }
    }
}

void StrokeCoverage::addShortSegment(MapPoint from, MapPoint to, double length, double reach)
{
    // Every pixel of the box around the part beside the segment (a rectangle as long as
    // the segment, reach to either side), by its centre's distance to the segment.
    const double alongX = to.x - from.x;
    const double alongY = to.y - from.y;
    const double sideX = std::abs(alongY) / length * reach;
    const double sideY = std::abs(alongX) / length * reach;
    const double rowFrom = std::max(std::ceil(std::min(from.y, to.y) - sideY - 0.5), static_cast<double>(m_top));
    const double rowTo = std::min(std::floor(std::max(from.y, to.y) + sideY - 0.5), static_cast<double>(m_top + m_height - 1));
    const double columnFrom = std::max(std::ceil(std::min(from.x, to.x) - sideX - 0.5), static_cast<double>(m_left));
    const double columnTo = std::min(std::floor(std::max(from.x, to.x) + sideX - 0.5), static_cast<double>(m_left + m_width - 1));
    if (!(rowFrom <= rowTo && columnFrom <= columnTo))
        return;
    const double inverseSquared = 1 / (length * length);
    const double reachSquared = reach * reach;
    for (int y = static_cast<int>(rowFrom); y <= static_cast<int>(rowTo); ++y) {
        const double offsetY = y + 0.5 - from.y;
        std::uint8_t* const row = maskRow(y);
        for (int x = static_cast<int>(columnFrom); x <= static_cast<int>(columnTo); ++x) {
            const double offsetX = x + 0.5 - from.x;
            // Beside the segment only: beyond its ends the joins draw.
            const double t = (offsetX * alongX + offsetY * alongY) * inverseSquared;
            if (t < 0 || t > 1)
                continue;
            const double nearX = offsetX - t * alongX;
            const double nearY = offsetY - t * alongY;
            const double distanceSquared = nearX * nearX + nearY * nearY;
            if (distanceSquared < reachSquared)
                cover(row, x, y, levelAt(distanceSquared));
        }
    }
}

void StrokeCoverage::addJoin(MapPoint before, MapPoint joint, MapPoint after, double halfWidth)
{
    const double inX = joint.x - before.x;
    const double inY = joint.y - before.y;
    const double outX = after.x - joint.x;
    const double outY = after.y - joint.y;
    const double inLength = std::sqrt(inX * inX + inY * inY);
    const double outLength = std::sqrt(outX * outX + outY * outY);
    if (!(inLength > 0 && outLength > 0) || !std::isfinite(inLength + outLength))
        return;
    const double turn = inX * outY - inY * outX;
    // The outer side's normals of both segments: the one of the segment before points
    // away from the segment after, and the other way round.
    const double sign = turn > 0 ? -1 : 1;
    const double normalInX = -inY / inLength * sign;
    const double normalInY = inX / inLength * sign;
    const double normalOutX = -outY / outLength * sign;
    const double normalOutY = outX / outLength * sign;
    // cos of half the angle between the normals: the mitre reaches halfWidth / that
    // from the joint. Past the limit the painter runs both sides of the stroke on by the
    // limit times the width and cuts the corner straight between their ends.
    double bisectorX = normalInX + normalOutX;
    double bisectorY = normalInY + normalOutY;
    const double bisectorLength = std::sqrt(bisectorX * bisectorX + bisectorY * bisectorY);
    const double halfAngleCosine = bisectorLength / 2;
    const bool mitred = halfAngleCosine * miterLimit >= 1;
    if (bisectorLength > 1e-9) {
        bisectorX /= bisectorLength;
        bisectorY /= bisectorLength;
    } else {
        // Straight back: the corner is cut at the joint.
        bisectorX = inX / inLength;
        bisectorY = inY / inLength;
    }
    const double halfAngleSine = std::sqrt(std::max(0.0, 1 - halfAngleCosine * halfAngleCosine));
    const double cut = halfWidth * halfAngleCosine + 2 * halfWidth * miterLimit * halfAngleSine;
    // (The distance of that cut from the joint, along the bisector.)
    const double tip = mitred ? halfWidth / halfAngleCosine : std::max(cut, halfWidth * miterLimit);
    // The corner lies within the joint, the ends of both sides and the tip; its edge's
    // ramp half a pixel beyond.
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
    for (const auto& [cornerX, cornerY] : { std::pair { normalInX * halfWidth, normalInY * halfWidth },
             std::pair { normalOutX * halfWidth, normalOutY * halfWidth }, std::pair { bisectorX * tip, bisectorY * tip } }) {
        left = std::min(left, cornerX);
        right = std::max(right, cornerX);
        top = std::min(top, cornerY);
        bottom = std::max(bottom, cornerY);
    }
    const double rowFrom = std::max(std::ceil(joint.y + top - 1), static_cast<double>(m_top));
    const double rowTo = std::min(std::floor(joint.y + bottom), static_cast<double>(m_top + m_height - 1));
    const double columnFrom = std::max(std::ceil(joint.x + left - 1), static_cast<double>(m_left));
    const double columnTo = std::min(std::floor(joint.x + right), static_cast<double>(m_left + m_width - 1));
    if (!(rowFrom <= rowTo && columnFrom <= columnTo))
        return;
    for (int y = static_cast<int>(rowFrom); y <= static_cast<int>(rowTo); ++y) {
        const double offsetY = y + 0.5 - joint.y;
        std::uint8_t* const row = maskRow(y);
        for (int x = static_cast<int>(columnFrom); x <= static_cast<int>(columnTo); ++x) {
            const double offsetX = x + 0.5 - joint.x;
            // Only the corner outside both segments' ends: beside them, they drew.
            if (offsetX * inX + offsetY * inY < 0 || offsetX * outX + offsetY * outY > 0)
                continue;
            double beyond = std::max(offsetX * normalInX + offsetY * normalInY, offsetX * normalOutX + offsetY * normalOutY)
                - halfWidth;
            if (!mitred)
                beyond = std::max(beyond, offsetX * bisectorX + offsetY * bisectorY - cut);
            const int level = static_cast<int>(clampUnit(0.5 - beyond) * 255 + 0.5);
            if (level > 0)
                cover(row, x, y, level);
        }
    }
}

void StrokeCoverage::blendInto(std::uint32_t* pixels, std::size_t bytesPerLine, std::uint32_t premultipliedColor)
{
    const bool opaque = (premultipliedColor >> 24) == 0xff;
    auto* bytes = reinterpret_cast<unsigned char*>(pixels);
    for (const std::uint64_t touched : m_touched) {
        const auto row = static_cast<std::size_t>(touched >> 32);
        const auto column = static_cast<std::size_t>(touched & 0xffffffffu);
        std::uint8_t& cell = m_mask[row * static_cast<std::size_t>(m_width) + column];
        const std::uint32_t coverage = cell;
        cell = 0;
        std::uint32_t& pixel = reinterpret_cast<std::uint32_t*>(
            bytes + (row + static_cast<std::size_t>(m_top)) * bytesPerLine)[column + static_cast<std::size_t>(m_left)];
        if (coverage == 255 && opaque) {
            pixel = premultipliedColor;
            continue;
        }
        const std::uint32_t source = coverage == 255 ? premultipliedColor : byteMultiply(premultipliedColor, coverage);
        pixel = source + byteMultiply(pixel, 255 - (source >> 24));
    }
    m_touched.clear();
}

int StrokeCoverage::coverageAt(int x, int y) const
{
    if (x < m_left || y < m_top || x >= m_left + m_width || y >= m_top + m_height)
        return 0;
    return m_mask[static_cast<std::size_t>(y - m_top) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x - m_left)];
}

std::size_t StrokeCoverage::coveredPixelCount() const
{
    return m_touched.size();
}

} // namespace corvex
