#pragma once

#include <cstddef>
#include <cstdint>

namespace corvex {

// How two renderings of one scene differ, pixel by pixel: what a change of how the map
// draws is checked with, against the pixels it drew before.
struct ImageDifference {
    std::size_t pixels { 0 };
    std::size_t differingPixels { 0 };
    // The largest difference of one channel (alpha, red, green or blue, 0 to 255).
    int largestChannelDifference { 0 };
    // Differing pixels whose 3×3 neighbourhood in the reference is one colour: away from
    // any edge there, so not a difference of antialiasing.
    std::size_t differingAwayFromEdges { 0 };
    int largestAwayFromEdges { 0 };
    // Where the largest channel difference was found first.
    int largestX { -1 };
    int largestY { -1 };
};

// Both images are rows of 32-bit pixels, pixelsPerLine apart, of the same size.
ImageDifference compareImages(
    const std::uint32_t* reference, const std::uint32_t* candidate, int width, int height, std::size_t pixelsPerLine);

} // namespace corvex
