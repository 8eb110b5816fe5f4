#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"

#include <string>
#include <vector>

namespace corvex {

// Arrows at places of the map, such as the wind found at each thermal of a flight:
// each points where the air moves to, its length grows with the speed, and its label
// (the speed) is written at its tail.
class WindLayer final : public MapLayer {
    Q_OBJECT
public:
    struct Arrow {
        GeoPoint position;
        double towardsDegrees { 0 }; // degrees true, where the arrow points
        double speedKmh { 0 };
        std::string label;
        // 0..1: a doubtful estimate is drawn faint.
        double confidence { 1 };
    };

    // Arrows grow from shortestPixels at calm to longestPixels at longestAtKmh and more.
    static constexpr double shortestPixels = 14;
    static constexpr double longestPixels = 56;
    static constexpr double longestAtKmh = 40;
    static double lengthPixels(double speedKmh);

    explicit WindLayer(QObject* parent = nullptr);
    ~WindLayer() override;

    void setArrows(std::vector<Arrow> arrows);
    const std::vector<Arrow>& arrows() const { return m_arrows; }

    void paint(QPainter& painter, const MapViewport& viewport) override;
    MapRect boundingMapRect() const override;

private:
    std::vector<Arrow> m_arrows;
};

} // namespace corvex
