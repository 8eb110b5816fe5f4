#pragma once

#include "map/MapGeometry.h"

#include <cstddef>
#include <cstdint>
#include <span>
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
// every join, are blended once, as one filled stroke outline is. Joins come out round
// and the ends of an open polyline flat: at these widths a round join differs from a
// mitred one by less than a pixel's area at its outer corner.
//
// Coordinates are device pixels with the origin at the top left corner of the mask's
// pixel (0, 0); the pixel (x, y) covers [x, x + 1) × [y, y + 1).
class StrokeCoverage {
public:
    // Lines of a pixel or less are the painter's fast path already; beyond two pixels a
    // round join would differ from a mitred one by more than antialiasing.
    static constexpr double minimumWidth = 1.0;
    static constexpr double maximumWidth = 2.0;

    // A mask over the device pixels [left, left + width) × [top, top + height): strokes
    // are clipped to it.
    StrokeCoverage(int left, int top, int width, int height);

    // Whether a stroke of this width (device pixels) is drawn here.
    static bool handlesWidth(double width) { return width > minimumWidth && width <= maximumWidth; }

    enum class Ends { Open, Closed };
    // Adds a polyline's stroke to the mask. A closed one also runs from its last point
    // back to the first, with joins at every point; an open one ends flat at both ends.
    // Zero-length segments are passed over; a polyline with no segment adds nothing.
    void addPolyline(std::span<const MapPoint> points, double width, Ends ends);

    // Blends colour (premultiplied 0xAARRGGBB) with each pixel's coverage over the
    // pixels (premultiplied ARGB32 rows of bytesPerLine bytes, whose pixel (0, 0) is
    // the device pixel (0, 0)), source over, and clears the mask for the next stroke.
    void blendInto(std::uint32_t* pixels, std::size_t bytesPerLine, std::uint32_t premultipliedColor);

    // The points of a polyline that its stroke follows (indices, the first and the last
    // always among them): a point is left out when the segment that replaces it passes
    // within tolerance (pixels) of it. Detailed outlines hold several points a pixel at
    // the scales that show a set whole; the stroke moves by less than its antialiasing
    // shows.
    static std::vector<std::size_t> strokedPoints(std::span<const MapPoint> points, double tolerance);

    // The coverage (0 to 255) of a device pixel, 0 outside the mask; for tests.
    int coverageAt(int x, int y) const;
    // How many pixels have a coverage now.
    std::size_t coveredPixelCount() const;

private:
    // The mask is cut into tiles of this many pixels a side; blending and clearing visit
    // only the tiles a stroke marked, however large the polyline's bounds.
    static constexpr int tileSize = 16;
    // Segments shorter than this (pixels) between two round joins are drawn by their box:
    // the most of an outline at the scales that show a set whole.
    static constexpr double shortSegment = 4;
    // How far (pixels) a stroke may pass from a point it leaves out.
    static constexpr double simplification = 0.1;

    void addSegment(MapPoint from, MapPoint to, double halfWidth, bool flatStart, bool flatEnd);
    void addShortSegment(MapPoint from, MapPoint to, double length, double reach);
    // Marks the tiles of mask columns [columnFrom, columnTo] in mask rows [rowFrom, rowTo].
    void markTiles(int columnFrom, int columnTo, int rowFrom, int rowTo);
    std::uint8_t* maskRow(int y) { return m_mask.data() + static_cast<std::size_t>(y - m_top) * static_cast<std::size_t>(m_width); }

    int m_left;
    int m_top;
    int m_width;
    int m_height;
    int m_tileColumns;
    std::vector<std::uint8_t> m_mask;
    std::vector<std::uint8_t> m_tileMarked;
    std::vector<std::uint32_t> m_markedTiles;
};

} // namespace corvex
