#pragma once

#include <cstddef>
#include <cstdint>

namespace corvex {

// The coastlines and national borders compiled into the program, made at build time from
// Debian's low-resolution shoreline data set (tools/geography-converter).
struct OfflineGeographyLine {
    enum class Kind : std::uint8_t { Coastline, Border };
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
