#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"

#include <QRectF>

#include <optional>
#include <string>
#include <vector>

namespace corvex {

// Zones and what a line did in them: labelled areas (the airspaces near a flight, with
// their limits), and stretches of a line drawn strongly with one marked point each
// (where the flight was inside one, and its deepest point). A window shows the areas'
// outlines under a track, and their labels and the stretches over it, as two layers.
class ZoneLayer final : public MapLayer {
    Q_OBJECT
public:
    enum class AreaParts { OutlinesAndLabels, Outlines, Labels };

    struct Area {
        std::vector<GeoPoint> outline; // a closed ring
        MapColor stroke;
        MapColor fill;
        std::string label; // may hold several lines
    };
    struct Stretch {
        std::vector<GeoPoint> line;
        MapColor color;
        std::optional<GeoPoint> mark;
        std::string markLabel;
    };

    static constexpr double stretchWidth = 5.0;

    explicit ZoneLayer(QObject* parent = nullptr);
    ~ZoneLayer() override;

    void setAreas(std::vector<Area> areas);
    const std::vector<Area>& areas() const { return m_areas; }
    void setAreaParts(AreaParts parts);
    // Lines the areas' labels keep off where their area leaves room (the stays drawn
    // by another layer over this one).
    void setKeepClear(std::vector<std::vector<GeoPoint>> lines);
    void setStretches(std::vector<Stretch> stretches);
    const std::vector<Stretch>& stretches() const { return m_stretches; }

    void paint(QPainter& painter, const MapViewport& viewport) override;
    MapRect boundingMapRect() const override;

    // Where the last paint wrote the areas' labels, by area (an empty rectangle for a
    // label left out because it would cover another or its area is out of view).
    const std::vector<QRectF>& lastLabelBoxes() const { return m_lastLabelBoxes; }

private:
    std::vector<Area> m_areas;
    AreaParts m_areaParts { AreaParts::OutlinesAndLabels };
    std::vector<std::vector<GeoPoint>> m_keepClear;
    std::vector<MapRect> m_areaBounds;
    std::vector<Stretch> m_stretches;
    std::vector<QRectF> m_lastLabelBoxes;
};

} // namespace corvex
