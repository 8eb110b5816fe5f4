#pragma once

#include "map/MapGeometry.h"

#include <QWidget>

#include <cstddef>
#include <memory>
#include <optional>

namespace corvex {

class MapView;
class MapBaseLayer;

// Says how each overlay is drawn. Asked when an overlay is first drawn after it was
// added or after redraw(), not on every frame.
class MapViewDelegate {
public:
    virtual ~MapViewDelegate() = default;
    virtual MapOverlayStyle rendererForOverlay(const MapView& mapView, const MapOverlay& overlay) = 0;
};

// A slippy map in Web Mercator with ordered overlays. It knows nothing of airspaces or
// flights: callers add polylines and polygons, and a delegate styles them. Panning by
// dragging, zoom by the wheel and by its + and - buttons, a scale bar, and the base
// layer's attribution where tiles are shown.
class MapView : public QWidget {
    Q_OBJECT
public:
    explicit MapView(QWidget* parent = nullptr);
    ~MapView() override;

    void setDelegate(MapViewDelegate* delegate);

    // The overlays in drawing order; added overlays are appended in list order.
    const MapOverlays& overlays() const;
    std::optional<std::size_t> indexOfOverlay(const MapOverlay& overlay) const;
    void addOverlays(const MapOverlays& overlays);
    void removeOverlays(const MapOverlays& overlays);
    void removeAllOverlays();

    // The shown part of the plane. Setting it fits the rectangle into the view, keeping
    // its centre; animated moves there over a short time. The null rectangle is
    // ignored.
    MapRect visibleMapRect() const;
    void setVisibleMapRect(const MapRect& rect, bool animated);

    MapType mapType() const;
    void setMapType(MapType type);

    // Tiles and the offline geography under the overlays; without one, the offline
    // geography alone.
    void setBaseLayer(std::shared_ptr<MapBaseLayer> baseLayer);

    // Forget the overlays' styles and draw again (the delegate is asked anew).
    void redraw();

    void zoomIn();
    void zoomOut();

signals:
    void visibleMapRectChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace corvex
