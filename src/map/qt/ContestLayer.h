#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"

#include <optional>
#include <string>
#include <vector>

namespace corvex {

// The legs of a scored flight: straight lines between its numbered turnpoints, drawn
// over the track so that the route shows whatever the track's colours; a triangle's
// closing gap as a dashed line between the two fixes that close it.
class ContestLayer final : public MapLayer {
    Q_OBJECT
public:
    struct Point {
        GeoPoint position;
        std::string label; // "1", "2", …; written in the point's disc
    };
    struct Route {
        std::vector<Point> points; // in flying order
        // A triangle: a leg also joins the last point to the first.
        bool closed { false };
        // The closing gap of a triangle, when it has one.
        std::optional<GeoPoint> closingStart, closingEnd;
    };

    static constexpr double lineWidth = 2.5;
    static constexpr double pointRadius = 8.0;

    explicit ContestLayer(QObject* parent = nullptr);
    ~ContestLayer() override;

    // An empty route draws nothing.
    void setRoute(Route route);
    const Route& route() const { return m_route; }
    // The straight legs drawn, in order (the closing gap not counted).
    std::vector<std::pair<GeoPoint, GeoPoint>> legs() const;

    void paint(QPainter& painter, const MapViewport& viewport) override;
    MapRect boundingMapRect() const override;

private:
    Route m_route;
};

} // namespace corvex
