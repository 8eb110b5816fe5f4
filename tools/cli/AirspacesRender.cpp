#include "AirspacesRender.h"

#include "airspaces/AirspacesMap.h"

#include "map/qt/MapBaseLayer.h"

#include <QEventLoop>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace corvex::cli {

AirspacesScene::AirspacesScene(const Airspaces& airspaces, int displayAirspacesAs)
{
    const MapOverlays overlays = generateMapkitPolylines(airspaces, displayAirspacesAs);
    m_fitted = fittingMapRect(overlays);
    m_layer.addOverlays(overlays);
    m_layer.setStyleAt([this, displayAirspacesAs](std::size_t index) {
        return airspacesOverlayStyle(*m_layer.overlays()[index], index, displayAirspacesAs);
    });
}

MapRect visibleMapRectFitting(const MapRect& rect, QSize size)
{
    const MapRect shown = rect.isNull() ? MapRect { 0, 0, mapWorldSize, mapWorldSize } : rect;
    const double width = std::max(1, size.width());
    const double height = std::max(1, size.height());
    // The map view's closest zoom, so that a single point still gets a view around it.
    const double unitsPerPixel = std::max({ shown.width / width, shown.height / height, 1.0 });
    const double centreX = shown.x + shown.width / 2;
    const double centreY = shown.y + shown.height / 2;
    return { centreX - width * unitsPerPixel / 2, centreY - height * unitsPerPixel / 2, width * unitsPerPixel,
        height * unitsPerPixel };
}

bool waitForTiles(MapBaseLayer& layer, QSize size, const MapRect& visible, std::chrono::milliseconds timeLimit)
{
    QImage scratch(size, QImage::Format_ARGB32_Premultiplied);
    const MapViewport viewport(size.width(), size.height(), visible);
    auto askForMissing = [&] {
        QPainter painter(&scratch);
        layer.paint(painter, viewport);
    };
    int arrived = 0;
    askForMissing();
    if (layer.requestsSent() == 0)
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Each arrival may let the layer send the next of its queued requests; painting
    // again asks for whatever is still missing.
    QObject::connect(&layer, &MapLayer::changed, &loop, [&] {
        ++arrived;
        askForMissing();
        if (arrived >= layer.requestsSent())
            loop.quit();
    });
    deadline.start(timeLimit);
    loop.exec();
    return arrived >= layer.requestsSent();
}

QImage renderScene(AirspacesScene& scene, MapPainter& painter, QSize size, const MapRect& visible, MapBaseLayer* baseLayer)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter imagePainter(&image);
    painter.paint(imagePainter, size, visible, { baseLayer, &scene.layer() });
    imagePainter.end();
    return image;
}

} // namespace corvex::cli
