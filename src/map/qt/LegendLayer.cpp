#include "map/qt/LegendLayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>

#include <algorithm>

namespace corvex {

LegendLayer::LegendLayer(QObject* parent)
    : MapLayer(parent)
{
}

LegendLayer::~LegendLayer() = default;

void LegendLayer::setLegend(std::string title, std::vector<Entry> entries)
{
    m_title = std::move(title);
    m_entries = std::move(entries);
    emit changed();
}

void LegendLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    m_lastBox = {};
    if (m_entries.empty())
        return;
    // One row along the bottom, right of the scale bar: a view fitted to its content
    // keeps that strip free, so the legend covers none of the track there.
    const QFontMetricsF metrics(painter.font());
    const QString title = QString::fromStdString(m_title);
    const double titleWidth = metrics.horizontalAdvance(title);
    const double count = double(m_entries.size());
    const double swatch = std::clamp((viewport.width() - leftEdge - titleWidth - 60) / count, 4.0, 16.0);
    const double height = 8 + metrics.height() + 10;
    const QRectF box(leftEdge, viewport.height() - bottomGap - height, titleWidth + 26 + swatch * count + 14, height);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0, 0, 0, 70));
    painter.setBrush(QColor(255, 255, 255, 215));
    painter.drawRect(box);
    painter.setPen(QColor(20, 20, 20));
    painter.drawText(QRectF(box.left() + 6, box.top(), titleWidth + 2, box.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    // The lowest value on the left; a label that would run into the last one written is
    // left out.
    double x = box.left() + titleWidth + 22;
    double labelsEnd = -1e9;
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        const QRectF cell(x, box.top() + 4, swatch, 8);
        painter.fillRect(cell, QColor::fromRgbF(float(entry->color.red), float(entry->color.green), float(entry->color.blue), 1.0f));
        if (!entry->label.empty()) {
            const QString text = QString::fromStdString(entry->label);
            const double width = metrics.horizontalAdvance(text);
            const QRectF place(cell.center().x() - width / 2, cell.bottom() + 1, width, metrics.height());
            if (place.left() > labelsEnd + 3) {
                painter.drawText(place, Qt::AlignCenter, text);
                labelsEnd = place.right();
            }
        }
        x += swatch;
    }
    m_lastBox = box;
}

} // namespace corvex
