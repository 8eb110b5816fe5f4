#include "map/ImageDifference.h"

#include <algorithm>
#include <cstdlib>

namespace corvex {

namespace {

int channelDifference(std::uint32_t first, std::uint32_t second)
{
    int largest = 0;
    for (int shift = 0; shift < 32; shift += 8)
        largest = std::max(largest, std::abs(static_cast<int>((first >> shift) & 0xff) - static_cast<int>((second >> shift) & 0xff)));
    return largest;
}

} // namespace

ImageDifference compareImages(
    const std::uint32_t* reference, const std::uint32_t* candidate, int width, int height, std::size_t pixelsPerLine)
{
    ImageDifference difference;
    difference.pixels = static_cast<std::size_t>(std::max(0, width)) * static_cast<std::size_t>(std::max(0, height));
    const auto at = [&](const std::uint32_t* image, int x, int y) {
        return image[static_cast<std::size_t>(y) * pixelsPerLine + static_cast<std::size_t>(x)];
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t was = at(reference, x, y);
            const std::uint32_t is = at(candidate, x, y);
            if (was == is)
                continue;
            ++difference.differingPixels;
            const int channel = channelDifference(was, is);
            if (channel > difference.largestChannelDifference) {
                difference.largestChannelDifference = channel;
                difference.largestX = x;
                difference.largestY = y;
            }
            bool uniform = true;
            for (int row = std::max(0, y - 1); row <= std::min(height - 1, y + 1) && uniform; ++row) {
                for (int column = std::max(0, x - 1); column <= std::min(width - 1, x + 1); ++column) {
                    if (at(reference, column, row) != was) {
                        uniform = false;
                        break;
                    }
                }
            }
            if (uniform) {
                ++difference.differingAwayFromEdges;
                difference.largestAwayFromEdges = std::max(difference.largestAwayFromEdges, channel);
            }
        }
    }
    return difference;
}

} // namespace corvex
