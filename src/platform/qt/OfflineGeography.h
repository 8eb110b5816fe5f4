#pragma once

#include "platform/MapGeometry.h"

#include <QSize>

class QPainter;

namespace corvex {

// The map's geography without any network: the sea, and a graticule labelled in
// degrees, so that a map never shows a blank canvas.
void paintOfflineGeography(QPainter& painter, QSize size, const MapRect& visible);

} // namespace corvex
