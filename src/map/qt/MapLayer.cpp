#include "map/qt/MapLayer.h"

namespace corvex {

MapLayer::MapLayer(QObject* parent)
    : QObject(parent)
{
}

MapLayer::~MapLayer() = default;

void MapLayer::setVisible(bool visible)
{
    if (visible == m_visible)
        return;
    m_visible = visible;
    emit changed();
}

} // namespace corvex
