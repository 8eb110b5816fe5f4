#pragma once

#include "terrain/TerrainTiles.h"

#include <cstdint>
#include <vector>

namespace corvex::terrain {

// Relief as light and shade, for a map to lay under its content: one byte of grey a
// pixel (0 black, 255 white), row by row from the north, and beside it whether the
// pixel is drawn at all (255) or left clear (0) because no tile covers it.
struct ReliefImage {
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> grey;
    std::vector<std::uint8_t> alpha;
};

// The standard hillshade (light from azimuth 315°, the north-west, 45° above the
// horizon; slopes by Horn's 3x3 differences) of the ground in `box`, drawn on a grid of
// width x height pixels equally spaced in latitude and longitude, each pixel the ground
// at its middle. Flat ground is 180 of 255 grey.
ReliefImage hillshade(const TerrainTiles& terrain, const GeoBox& box, int width, int height);

} // namespace corvex::terrain
