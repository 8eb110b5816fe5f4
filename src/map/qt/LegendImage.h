#pragma once

#include "base/Units.h"

#include <QByteArray>
#include <QImage>

namespace corvex {

// The climb legend as the map shows it under a track coloured by climb (LegendLayer's
// row of swatches, every step labelled, "Climb (m/s)"), alone on a clear image cut to
// the legend's box: for a file that carries the legend without the map, such as a KMZ.
QImage climbLegendImage(UnitSystem units = UnitSystem::Metric);
// The same as PNG bytes.
QByteArray climbLegendPng(UnitSystem units = UnitSystem::Metric);

} // namespace corvex
