#pragma once

#include <cstddef>
#include <cstdint>

namespace corvex {

// The coastlines, national borders and land compiled into the program, made at build time
// from Debian's low-resolution shoreline data set (tools/geography-converter). A Land
// line is a closed ring (its last point joins its first) within one of the data set's
// bins, counterclockwise round land and clockwise round a lake: filled together by the
// nonzero rule they give the land. No line crosses ±180°.
struct OfflineGeographyLine {
    enum class Kind : std::uint8_t { Coastline, Border, Land };
    Kind kind;
    std::uint32_t firstPoint;
    std::uint32_t pointCount;
};

struct OfflineGeographyData {
    const OfflineGeographyLine* lines;
    std::size_t lineCount;
    // Longitude then latitude of each point, in hundredths of a degree.
    const std::int16_t* points;
    std::size_t pointCount;
};

OfflineGeographyData offlineGeographyData();

} // namespace corvex
