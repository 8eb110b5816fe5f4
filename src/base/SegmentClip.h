#pragma once

#include <algorithm>

namespace corvex {

// Whether the segment from (ax, ay) to (bx, by) meets the axis-aligned rectangle
// [left, right] × [low, high] (Liang–Barsky clipping). Used on screen points and on
// longitude/latitude alike.
inline bool segmentMeetsRectangle(double ax, double ay, double bx, double by, double left, double right, double low, double high)
{
    const double dx = bx - ax, dy = by - ay;
    const double p[] = { -dx, dx, -dy, dy };
    const double q[] = { ax - left, right - ax, ay - low, high - ay };
    double enter = 0, leave = 1;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
        if (enter > leave)
            return false;
    }
    return true;
}

} // namespace corvex
