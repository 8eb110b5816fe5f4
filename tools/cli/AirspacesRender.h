#pragma once

#include "airspaces/Airspaces.h"
#include "map/MapGeometry.h"
#include "map/qt/MapPainter.h"
#include "map/qt/OverlayLayer.h"

#include <QImage>
#include <QSize>

#include <chrono>

namespace corvex {
class MapBaseLayer;
}

namespace corvex::cli {

// One set ready to draw, as the airspaces window draws it: an overlay layer with its
// overlays for a display mode, styled as the window's delegate styles them, and the
// fitted rectangle. `corvex airspaces render` and the map benchmark share it.
class AirspacesScene {
public:
    AirspacesScene(const Airspaces& airspaces, int displayAirspacesAs);

    const MapOverlays& overlays() const { return m_layer.overlays(); }
    OverlayLayer& layer() { return m_layer; }
    // The null rectangle for a set without points.
    const MapRect& fittedMapRect() const { return m_fitted; }

private:
    OverlayLayer m_layer;
    MapRect m_fitted;
};

// What an image of this size shows of rect as the map view shows it: the centre kept, one
// scale for both sides, the larger of the two. The whole world for the null rectangle.
MapRect visibleMapRectFitting(const MapRect& rect, QSize size);

// Paints once so that the base layer asks for the tiles of the view, then turns the
// event loop until they have all come or the time is up. Whether every tile came.
bool waitForTiles(MapBaseLayer& layer, QSize size, const MapRect& visible, std::chrono::milliseconds timeLimit);

// Draws the scene over the offline geography (and the base layer's tiles, when given)
// into a new image of this size.
QImage renderScene(AirspacesScene& scene, MapPainter& painter, QSize size, const MapRect& visible, MapBaseLayer* baseLayer);

} // namespace corvex::cli
