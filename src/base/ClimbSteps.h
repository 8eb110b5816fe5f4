#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

// The steps a track is coloured in by climb, shared by the map's track and the 3D
// export so that a colour means the same climb on the screen and in a globe: one step
// per metre per second from `climbStepLimit` of sink to as much climb, zero in the
// middle, blue through yellow to red.
namespace corvex {

struct ClimbStepColour {
    double red { 0 };
    double green { 0 };
    double blue { 0 };
};

inline constexpr double climbStepLimit = 5.0;
inline constexpr std::size_t climbStepCount = 2 * static_cast<std::size_t>(climbStepLimit) + 1;

// Rounded to the nearest metre per second: a level glide (±0.5) is the middle, as is a
// fix without a climb rate.
inline std::size_t climbStepOf(double metresPerSecond)
{
    if (!std::isfinite(metresPerSecond))
        return static_cast<std::size_t>(climbStepLimit);
    return static_cast<std::size_t>(std::round(std::clamp(metresPerSecond, -climbStepLimit, climbStepLimit)) + climbStepLimit);
}

// The climb a step stands for, metres per second.
inline double climbOfStep(std::size_t step)
{
    return static_cast<double>(std::min(step, climbStepCount - 1)) - climbStepLimit;
}

inline ClimbStepColour climbStepColour(std::size_t step)
{
    constexpr std::array<ClimbStepColour, 3> anchors { {
        { 0.12, 0.26, 0.86 }, // sink: blue
        { 0.95, 0.85, 0.25 }, // level: yellow
        { 0.86, 0.06, 0.10 }, // climb: red
    } };
    const double fraction = static_cast<double>(std::min(step, climbStepCount - 1)) / static_cast<double>(climbStepCount - 1);
    const double position = fraction * (anchors.size() - 1);
    const std::size_t below = std::min(static_cast<std::size_t>(position), anchors.size() - 2);
    const double mix = position - static_cast<double>(below);
    const ClimbStepColour& a = anchors[below];
    const ClimbStepColour& b = anchors[below + 1];
    return { a.red + (b.red - a.red) * mix, a.green + (b.green - a.green) * mix, a.blue + (b.blue - a.blue) * mix };
}

} // namespace corvex
