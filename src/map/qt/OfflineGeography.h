#pragma once

#include "map/MapGeometry.h"

#include <QSize>

class QPainter;

namespace corvex {

// The map's geography without any network: the sea, the land filled in a colour of its
// own, a graticule labelled in degrees, and the coastlines and national borders compiled
// into the program, so that a map never shows a blank canvas. The world repeats east and
// west: a view across ±180° shows both sides.
void paintOfflineGeography(QPainter& painter, QSize size, const MapRect& visible);

} // namespace corvex
