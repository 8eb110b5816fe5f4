#pragma once

#include "map/MapGeometry.h"
#include "map/MapProjection.h"

#include <QImage>
#include <QPointF>
#include <QSize>
#include <QStringList>

#include <vector>

class QPainter;

namespace corvex {

class MapLayer;

// Draws one map scene onto any QPainter: the map view's widget, or a QImage offscreen
// (`corvex airspaces render`, the benchmark). No widgets, so the command line links it.
//
// Bottom to top: the sea, the graticule and the offline geography (always, so that a map
// never shows a blank canvas), the layers in the order given (the tiles, the overlays, a
// flight's track, its markers, ...), the scale bar, and the attributions the layers'
// paints call for (a tile server's licence).
class MapPainter {
public:
    // visible is the part of the Web Mercator plane shown in a painting area of the given
    // size (the painter's device coordinates, origin at the top left). Null layers and
    // hidden ones are skipped. A layer may ask for data it lacks while it paints (tiles)
    // and say changed() when it comes, for another paint.
    void paint(QPainter& painter, QSize size, const MapRect& visible, const std::vector<MapLayer*>& layers);

    // The same scene, with the layers that are not live (MapLayer::isLive) taken from an
    // image of them kept since the last call of the same size, ratio and visible part,
    // and the live ones drawn over it: a replay's frame costs its gliders and one image.
    // invalidateCache() after any of the others changed. Without a visible live layer,
    // paint() itself.
    void paintCached(QPainter& painter, QSize size, double devicePixelRatio, const MapRect& visible,
        const std::vector<MapLayer*>& layers);
    void invalidateCache() { m_cacheValid = false; }
    // Whether the last paintCached drew the kept image anew, for tests and the benchmark.
    bool lastPaintRenewedCache() const { return m_cacheRenewed; }

private:
    void paintLayers(QPainter& painter, const MapViewport& viewport, const std::vector<MapLayer*>& layers,
        QStringList* attributions);

    QImage m_cache;
    MapRect m_cacheRect;
    QStringList m_cacheAttributions;
    bool m_cacheValid { false };
    bool m_cacheRenewed { false };
};

// The points in the painting area's pixels, without those closer than half a pixel to
// the last one kept: at low zoom most of a detailed outline falls within one pixel. The
// last point is always kept, so that a line still ends where it should.
void mapPointsToPixels(const std::vector<MapPoint>& points, QSize size, const MapRect& visible, std::vector<QPointF>& out);

// The scale bar's length: the longest of 1, 2 or 5 times a power of ten metres that
// fits in maximumPixels, for metresPerPixel. Its length in pixels is the result divided
// by metresPerPixel.
double scaleBarMetres(double metresPerPixel, double maximumPixels);

// The graticule's spacing in degrees for a view that shows degreesPerPixel: 1, 5, 10
// or 30, the finest that keeps the lines at least minimumPixels apart.
double graticuleStep(double degreesPerPixel, double minimumPixels);
// The graticule's lines between low and high: the multiples of step, so that the
// equator and the prime meridian are always among them.
std::vector<double> graticuleValues(double low, double high, double step);

} // namespace corvex
