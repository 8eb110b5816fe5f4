#pragma once

#include "map/MapGeometry.h"

#include <QColor>
#include <QImage>
#include <QPoint>

#include <memory>
#include <vector>

namespace corvex::testing {

inline std::shared_ptr<const MapOverlay> makeOverlay(MapOverlay::Kind kind, std::vector<GeoPoint> coordinates)
{
    return std::make_shared<const MapOverlay>(kind, std::move(coordinates));
}

// A closed square ring from south-west to north-east, in degrees.
inline std::shared_ptr<const MapOverlay> makeSquare(MapOverlay::Kind kind, double south, double west, double north, double east)
{
    return makeOverlay(kind, { { south, west }, { north, west }, { north, east }, { south, east }, { south, west } });
}

inline QPoint pixelFor(MapPoint point, const MapRect& visible, const QImage& image)
{
    return { static_cast<int>((point.x - visible.x) * image.width() / visible.width),
        static_cast<int>((point.y - visible.y) * image.height() / visible.height) };
}

inline bool colorNear(QColor actual, QColor expected, int tolerance = 3)
{
    return std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance;
}

} // namespace corvex::testing
