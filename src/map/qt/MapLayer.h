#pragma once

#include "map/MapGeometry.h"
#include "map/MapProjection.h"

#include <QObject>
#include <QString>

class QPainter;

namespace corvex {

// One layer of a map: the tiles, the airspaces' outlines, a flight's track, its markers.
// MapPainter draws a stack of them, bottom first, over the offline geography; the map
// view keeps its stack and paints again whenever one of them says it changed.
class MapLayer : public QObject {
    Q_OBJECT
public:
    explicit MapLayer(QObject* parent = nullptr);
    ~MapLayer() override;

    // Draws the layer over what lies below. The painter's device coordinates are the
    // viewport's pixels; the painter's state is saved before and restored after the
    // call. Only called with a valid viewport.
    virtual void paint(QPainter& painter, const MapViewport& viewport) = 0;

    // The part of the plane the layer's content covers, where it lies (a piece unwrapped
    // across ±180° may reach beyond the world's edge), for fitting a view to it and for
    // choosing the copies of the world it is drawn in; the null rectangle when it has
    // none.
    virtual MapRect boundingMapRect() const { return MapRect::null(); }

    // A text the map must show because of what the last paint drew (a tile server's
    // licence asks for its name wherever its tiles show); empty when none.
    virtual QString shownAttribution() const { return {}; }

    // A live layer changes on every frame (a replay's gliders): the painter keeps the
    // layers under it as an image and draws only the live ones anew over it
    // (MapPainter::paintCached).
    virtual bool isLive() const { return false; }

    // A hidden layer is skipped by the painter and keeps its content.
    bool isVisible() const { return m_visible; }
    void setVisible(bool visible);

signals:
    // The content or the look changed: whoever shows the layer paints again.
    void changed();

private:
    bool m_visible { true };
};

} // namespace corvex
