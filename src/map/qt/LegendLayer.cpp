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
    const QFontMetricsF metrics(painter.font());
    const QString title = QString::fromStdString(m_title);
    // Swatches no taller than the view allows: a 16-step ramp fits a small window too.
    const double swatch = std::clamp((viewport.height() - 3 * metrics.height() - 24) / double(m_entries.size()), 4.0,
        metrics.height());
    double labelWidth = 0;
    for (const Entry& entry : m_entries)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(QString::fromStdString(entry.label)));
    const double width = std::max(metrics.horizontalAdvance(title), 14 + 6 + labelWidth) + 12;
    const double height = metrics.height() + 4 + swatch * double(m_entries.size()) + 10;
    const QRectF box(8, 8, width, height);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0, 0, 0, 70));
    painter.setBrush(QColor(255, 255, 255, 215));
    painter.drawRect(box);
    painter.setPen(QColor(20, 20, 20));
    painter.drawText(QRectF(box.left() + 6, box.top() + 3, width - 12, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    double y = box.top() + metrics.height() + 6;
    for (const Entry& entry : m_entries) {
        const QRectF cell(box.left() + 6, y, 14, swatch);
        painter.fillRect(cell, QColor::fromRgbF(float(entry.color.red), float(entry.color.green), float(entry.color.blue), 1.0f));
        if (!entry.label.empty())
            painter.drawText(QRectF(cell.right() + 6, cell.center().y() - metrics.height() / 2, labelWidth + 2, metrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(entry.label));
        y += swatch;
    }
    m_lastBox = box;
}

} // namespace corvex
