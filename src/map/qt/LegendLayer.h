#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"

#include <QRectF>

#include <string>
#include <vector>

namespace corvex {

// What the colours of a line mean: a column of swatches in the map's top left corner,
// each with its value, under a title ("Altitude (m)", "Climb (m/s)"). It stays where it
// is as the map moves and fits nothing.
class LegendLayer final : public MapLayer {
    Q_OBJECT
public:
    struct Entry {
        MapColor color;
        std::string label; // may be empty: the swatch alone
    };

    explicit LegendLayer(QObject* parent = nullptr);
    ~LegendLayer() override;

    // Entries top first.
    void setLegend(std::string title, std::vector<Entry> entries);
    const std::string& title() const { return m_title; }
    const std::vector<Entry>& entries() const { return m_entries; }

    void paint(QPainter& painter, const MapViewport& viewport) override;
    // Where the last paint drew the legend, in the view's pixels; empty before.
    const QRectF& lastBox() const { return m_lastBox; }

private:
    std::string m_title;
    std::vector<Entry> m_entries;
    QRectF m_lastBox;
};

} // namespace corvex
