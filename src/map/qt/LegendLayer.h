#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"

#include <QRectF>

#include <string>
#include <vector>

namespace corvex {

// What the colours of a line mean: a row of swatches along the map's bottom edge,
// right of the scale bar, the lowest value on the left, with their values under them
// and a title before them ("Altitude (m)", "Climb (m/s)"). It stays where it is as the
// map moves and fits nothing.
class LegendLayer final : public MapLayer {
    Q_OBJECT
public:
    struct Entry {
        MapColor color;
        std::string label; // may be empty: the swatch alone
    };

    // Where the row starts, clear of the scale bar, and its room above the view's edge.
    static constexpr double leftEdge = 140;
    static constexpr double bottomGap = 6;

    explicit LegendLayer(QObject* parent = nullptr);
    ~LegendLayer() override;

    // Entries from the highest value to the lowest.
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
