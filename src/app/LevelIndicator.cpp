#include "app/LevelIndicator.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace corvex {

LevelIndicator::LevelIndicator(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LevelIndicator::setMaxValue(double maxValue)
{
    m_maxValue = maxValue;
    update();
}

void LevelIndicator::setDoubleValue(double value)
{
    m_value = value;
    update();
}

double LevelIndicator::fraction() const
{
    if (!(m_maxValue > 0) || std::isnan(m_value))
        return 0;
    return std::clamp(m_value / m_maxValue, 0.0, 1.0);
}

QSize LevelIndicator::sizeHint() const
{
    return { 96, 24 };
}

QSize LevelIndicator::minimumSizeHint() const
{
    return { 48, 16 };
}

void LevelIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const qreal capWidth = std::max<qreal>(3, height() / 6.0);
    const QRectF body(1.5, 1.5, width() - capWidth - 3, height() - 3);
    const QRectF cap(body.right(), body.center().y() - body.height() / 4, capWidth, body.height() / 2);

    const bool active = isEnabled();
    const QColor outline = active ? QColor(40, 52, 66) : QColor(120, 124, 130);
    painter.setPen(QPen(outline, 1.5));
    painter.setBrush(QColor(255, 255, 255, active ? 200 : 120));
    painter.drawRoundedRect(body, 4, 4);
    painter.setBrush(outline);
    painter.drawRoundedRect(cap, 1.5, 1.5);

    const double share = fraction();
    if (share <= 0)
        return;
    QColor fill;
    if (!active)
        fill = QColor(150, 154, 160);
    else if (share < 0.2)
        fill = QColor(214, 64, 52);
    else if (share < 0.45)
        fill = QColor(232, 170, 36);
    else
        fill = QColor(64, 168, 82);
    const QRectF inner = body.adjusted(3, 3, -3, -3);
    QRectF level = inner;
    level.setWidth(inner.width() * share);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(level, 2, 2);
}

} // namespace corvex
