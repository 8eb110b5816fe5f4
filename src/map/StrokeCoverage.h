#pragma once

#include "map/MapGeometry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace corvex {

// The antialiased pixels of a thin stroke (a line width over one and up to two pixels),
// drawn without a general path stroker. The map's overlays are outlines of thousands
// of points, most of a segment or two per pixel at the scales that show a whole set;
// stroking them as a path (outline with joins, then that outline filled with exact
// area coverage) costs several times what the pixels need.
//
// Each pixel takes the coverage of its centre's distance to the polyline: full within
// half the width less half a pixel, none beyond half the width plus half a pixel, a
// linear ramp between. That is a pixel's exact area coverage for an edge along a pixel
// row or column and within a few hundredths of it at other angles. A polyline's
// coverage is the largest of its segments', so that its segments, which overlap at
// every join, are blended once, as one filled stroke outline is. Joins are mitred up to
// the painter's limit and cut beyond it, as the painter's are; the ends of an open
// polyline are flat.
//
// Coordinates are device pixels with the origin at the top left corner of the mask's
// pixel (0, 0); the pixel (x, y) covers [x, x + 1) × [y, y + 1).
class StrokeCoverage {
public:
    // Lines of a pixel or less are the painter's fast path already; beyond two pixels
    // the approximations of the corners would show.
    static constexpr double minimumWidth = 1.0;
    static constexpr double maximumWidth = 2.0;

    // A mask over the device pixels [left, left + width) × [top, top + height): strokes
    // are clipped to it.
    StrokeCoverage(int left, int top, int width, int height);
    // Another clip for the same mask, which keeps its memory.
    void reset(int left, int top, int width, int height);

    // Whether a stroke of this width (device pixels) is drawn here.
    static bool handlesWidth(double width) { return width > minimumWidth && width <= maximumWidth; }

    enum class Ends { Open, Closed };
    // Adds a polyline's stroke to the mask. A closed one also runs from its last point
    // back to the first, with joins at every point; an open one ends flat at both ends.
    // Zero-length segments are passed over; a polyline with no segment adds nothing.
    // The points are taken as they are: simplify() them first.
    void addPolyline(std::span<const MapPoint> points, double width, Ends ends);

    // Blends colour (premultiplied 0xAARRGGBB) with each pixel's coverage over the
    // pixels (premultiplied ARGB32 rows of bytesPerLine bytes, whose pixel (0, 0) is
    // the device pixel (0, 0)), source over, and clears the mask for the next stroke.
    void blendInto(std::uint32_t* pixels, std::size_t bytesPerLine, std::uint32_t premultipliedColor);

    // How far (pixels) a stroke may pass from a point simplify() leaves out: the stroke
    // moves by less than its antialiasing shows, and an aliased fill under it changes
    // only pixels whose centres lie within that of its edge, which the stroke covers
    // whole.
    static constexpr double simplification = 0.1;
    // The points of a polyline worth stroking (indices, the first and the last always
    // among them): a point is left out when the segment that replaces it passes within
    // tolerance (pixels) of it. Detailed outlines hold several points a pixel at the
    // scales that show a set whole.
    static std::vector<std::size_t> simplify(std::span<const MapPoint> points, double tolerance = simplification);

    // The coverage (0 to 255) of a device pixel, 0 outside the mask; for tests.
    int coverageAt(int x, int y) const;
    // How many pixels have a coverage now.
    std::size_t coveredPixelCount() const;

private:
    // Segments shorter than this (pixels) between two joins are drawn by their box:
    // the most of an outline at the scales that show a set whole.
    static constexpr double shortSegment = 4;

    // The painter's default: a mitre reaches at most this many half widths from its
    // joint, or the corner is cut (addJoin says how).
    static constexpr double miterLimit = 2;

    // A segment's pixels beside it, and half a pixel past a flat end; beyond an end
    // that joins another segment, addJoin() draws.
    void addSegment(MapPoint from, MapPoint to, double halfWidth, bool flatStart, bool flatEnd);
    // The outer corner where two segments meet (the inner one lies beside both).
    void addJoin(MapPoint before, MapPoint joint, MapPoint after, double halfWidth);
    // The coverage by distance from the stroke, for a stroke that reaches this far (half
    // its width and half a pixel): a table by squared distance, without a square root
    // per pixel.
    void setReach(double reach);
    int levelAt(double distanceSquared) const
    {
        const auto index = static_cast<std::size_t>(distanceSquared * m_levelScale);
        return index < m_levels.size() ? m_levels[index] : 0;
    }
    void addShortSegment(MapPoint from, MapPoint to, double length, double reach);
    std::uint8_t* maskRow(int y) { return m_mask.data() + static_cast<std::size_t>(y - m_top) * static_cast<std::size_t>(m_width); }
    // Raises the coverage of the pixel (x, y) of a mask row to level.
    void cover(std::uint8_t* row, int x, int y, int level)
    {
        std::uint8_t& cell = row[x - m_left];
        if (level <= cell)
            return;
        if (cell == 0)
            m_touched.push_back(static_cast<std::uint64_t>(y - m_top) << 32 | static_cast<std::uint32_t>(x - m_left));
        cell = static_cast<std::uint8_t>(level);
    }

    int m_left { 0 };
    int m_top { 0 };
    int m_width { 0 };
    int m_height { 0 };
    std::vector<std::uint8_t> m_mask;
    double m_reach { 0 };
    double m_levelScale { 0 };
    std::array<std::uint8_t, 4096> m_levels {};
    std::vector<std::pair<std::size_t, std::size_t>> m_segmentEnds;
    // The cells that hold a coverage (row << 32 | column), so that blending and clearing
    // visit only those, however large the polyline's bounds.
    std::vector<std::uint64_t> m_touched;
};

} // namespace corvex
