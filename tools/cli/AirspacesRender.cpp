#include "AirspacesRender.h"

#include "airspaces/AirspacesMap.h"

#include "map/qt/MapBaseLayer.h"

#include <QEventLoop>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace corvex::cli {

AirspacesScene::AirspacesScene(const Airspaces& airspaces, int displayAirspacesAs)
    : m_mode(displayAirspacesAs)
    , m_overlays(generateMapkitPolylines(airspaces, displayAirspacesAs))
    , m_fitted(fittingMapRect(m_overlays))
    , m_styles(m_overlays.size())
{
}

MapPainter::StyleAt AirspacesScene::styleAt()
{
    return [this](std::size_t index) {
        std::optional<MapOverlayStyle>& style = m_styles[index];
        if (!style)
            style = airspacesOverlayStyle(*m_overlays[index], index, m_mode);
        return *style;
    };
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
    auto askForMissing = [&] {
        QPainter painter(&scratch);
        layer.paint(painter, size, visible);
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
    QObject::connect(&layer, &MapBaseLayer::repaintNeeded, &loop, [&] {
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
    painter.paint(imagePainter, size, visible, scene.overlays(), scene.styleAt(), baseLayer);
    imagePainter.end();
    return image;
}

} // namespace corvex::cli
