#include "map/qt/LegendImage.h"

#include "map/MapTrack.h"
#include "map/qt/LegendLayer.h"

#include <QBuffer>
#include <QPainter>

namespace corvex {

QImage climbLegendImage(UnitSystem units)
{
    const TrackColorScale scale(TrackColoring::Climb, {});
    std::vector<LegendLayer::Entry> entries;
    for (std::size_t bucket = scale.bucketCount(); bucket-- > 0;) {
        std::string label = quantityNumber(Quantity::Vario, scale.valueOfBucket(bucket), units);
        if (scale.valueOfBucket(bucket) > 0)
            label = "+" + label;
        entries.push_back({ scale.colorOfBucket(bucket), std::move(label) });
    }
    LegendLayer legend;
    legend.setLegend("Climb (" + std::string(unitLabel(Quantity::Vario, units)) + ")", std::move(entries));

    // Painted as the map paints it, on a view wide enough for the largest swatches, then
    // cut to the box it drew.
    const QSize area(1000, 120);
    QImage canvas(area, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        legend.paint(painter, MapViewport(area.width(), area.height(), MapRect { 0, 0, 1, 1 }));
    }
    const QRect box = legend.lastBox().toAlignedRect().adjusted(0, 0, 1, 1).intersected(canvas.rect());
    return box.isEmpty() ? QImage() : canvas.copy(box);
}

QByteArray climbLegendPng(UnitSystem units)
{
    const QImage image = climbLegendImage(units);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

} // namespace corvex
