#pragma once

#include "map/MapGeometry.h"
#include "map/MapProjection.h"
#include "map/Replay.h"

#include <QPointF>
#include <QWidget>

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class MapView;
class MapBaseLayer;
class MapLayer;

// Says how each overlay is drawn. Asked when an overlay is first drawn after it was
// added or after redraw(), not on every frame.
class MapViewDelegate {
public:
    virtual ~MapViewDelegate() = default;
    virtual MapOverlayStyle rendererForOverlay(const MapView& mapView, const MapOverlay& overlay) = 0;
};

// A slippy map in Web Mercator drawn as a stack of layers: the base layer's tiles (over
// the offline geography), the view's own ordered overlays (polylines and polygons a
// delegate styles), then the layers added, in order (a flight's track, its markers). It
// knows nothing of airspaces or flights. Panning by dragging, zoom by the wheel and by
// its + and - buttons, a scale bar, the base layer's attribution where tiles are shown,
// and a click on the map reported with its coordinate.
class MapView : public QWidget {
    Q_OBJECT
public:
    // The room fitToLayer leaves around a layer's content by default, in pixels: enough
    // to keep it clear of the zoom buttons (8 + 28 px from the right) and of the scale bar
    // (about 34 px from the bottom), so that no outline at the edge is cut or covered.
    static constexpr int defaultFitMargin = 44;

    explicit MapView(QWidget* parent = nullptr);
    ~MapView() override;

    void setDelegate(MapViewDelegate* delegate);

    // The overlays in drawing order; added overlays are appended in list order.
    const MapOverlays& overlays() const;
    std::optional<std::size_t> indexOfOverlay(const MapOverlay& overlay) const;
    void addOverlays(const MapOverlays& overlays);
    void removeOverlays(const MapOverlays& overlays);
    void removeAllOverlays();

    // The layers above the overlays, bottom first. A layer added again moves to the top.
    // The view paints again whenever one of them says it changed.
    const std::vector<std::shared_ptr<MapLayer>>& layers() const;
    void addLayer(std::shared_ptr<MapLayer> layer);
    void removeLayer(const std::shared_ptr<MapLayer>& layer);

    // The shown part of the plane. Setting it fits the rectangle into the view, keeping
    // its centre; animated moves there over a short time. The null rectangle is
    // ignored.
    MapRect visibleMapRect() const;
    void setVisibleMapRect(const MapRect& rect, bool animated);
    // Fits rect into the view with marginPixels left free on every side (as far as the
    // closest zoom allows); kept through resizes until the user moves the map, as
    // setVisibleMapRect is.
    void fitMapRect(const MapRect& rect, int marginPixels, bool animated);
    // Fits the view to a layer's content (its boundingMapRect); nothing for a layer
    // without content.
    void fitToLayer(const MapLayer& layer, int marginPixels = defaultFitMargin, bool animated = false);

    // What the widget shows, as the layers are handed it, and the coordinate under a
    // position in the widget.
    MapViewport viewport() const;
    GeoPoint coordinateAt(QPointF position) const;

    MapType mapType() const;
    void setMapType(MapType type);

    // Tiles under the overlays, over the offline geography; without one, the offline
    // geography alone.
    void setBaseLayer(std::shared_ptr<MapBaseLayer> baseLayer);

    // A layer between the base layer's tiles and the overlays (the relief under an
    // airspace set); null: none.
    void setGroundLayer(std::shared_ptr<MapLayer> layer);

    // Forget the overlays' styles and draw again (the delegate is asked anew).
    void redraw();

    void zoomIn();
    void zoomOut();

    // Keeps a map point in view: re-centres on it when it leaves the middle of the view
    // (not every frame, so the drawn layers are reused). Not a move by the user: a fitted
    // rectangle is forgotten, and userMovedView is not emitted.
    void keepInView(MapPoint point);

signals:
    // A drag or a wheel by the user, or a click on the zoom buttons (not a program's
    // move): a replay stops following its glider.
    void userMovedView();
    void visibleMapRectChanged();
    // The left button was pressed and released on the map without dragging it: the
    // coordinate under the release (a flight's view finds its nearest fix).
    void mapClicked(corvex::GeoPoint coordinate);
    // The pointer moved over the map with no button held (only while the view tracks
    // the mouse: setMouseTracking), at that position in the widget; and left the view.
    void pointerMoved(QPointF position);
    void pointerLeft();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // A layer said it changed: paint again, anew unless only a live layer changed.
    void layerChanged();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace corvex
