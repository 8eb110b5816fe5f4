#include "airspaces/ui/AirspaceHoverInfo.h"

#include "airspaces/Airspaces.h"
#include "base/FileRead.h"
#include "base/Sha256.h"
#include "map/MapHitTest.h"
#include "map/ui/MapView.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

QByteArray setDigest(const Airspaces& set)
{
    if (!set.internalData())
        return {};
    return QByteArray::fromStdString(Sha256::hexOf(*set.internalData()));
}

} // namespace

AirspaceHoverInfo::AirspaceHoverInfo(MapView& map, std::function<const Airspaces*()> currentSet, QString cacheFolder, QObject* parent)
    : QObject(parent)
    , m_map(map)
    , m_currentSet(std::move(currentSet))
    , m_cacheFolder(std::move(cacheFolder))
{
    m_label = new QLabel(&m_map);
    m_label->setObjectName(QStringLiteral("airspaceInfoLabel"));
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_label->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 225); color: black; border: 1px solid #888; "
                                          "border-radius: 3px; padding: 2px 5px;"));
    m_label->hide();
    m_map.setMouseTracking(true);
    connect(&m_map, &MapView::pointerMoved, this, &AirspaceHoverInfo::showAtPointer);
    connect(&m_map, &MapView::mapClicked, this, [this](GeoPoint coordinate) {
        const MapViewport viewport = m_map.viewport();
        const PixelPoint pixel = viewport.pixelFor(coordinate);
        showAtPointer({ pixel.x, pixel.y });
    });
    connect(&m_map, &MapView::visibleMapRectChanged, this, [this] {
        if (m_pointer)
            showAtPointer(*m_pointer);
    });
    connect(&m_map, &MapView::pointerLeft, this, [this] {
        m_pointer.reset();
        m_label->hide();
    });
}

void AirspaceHoverInfo::showAtPointer(QPointF position)
{
    m_pointer = position;
    const MapViewport viewport = m_map.viewport();
    if (!viewport.isValid())
        return;
    const double unitsPerPixel = viewport.visible().width / viewport.width();
    showAt(viewport.mapPointAt({ position.x(), position.y() }), tolerancePixels * unitsPerPixel, position);
}

QString AirspaceHoverInfo::sourcePath(const QByteArray& digest) const
{
    return QStringLiteral("%1/openair/%2.txt").arg(m_cacheFolder, QString::fromLatin1(digest));
}

void AirspaceHoverInfo::rememberOpenAirSource(const Airspaces& set, const QByteArray& openAir)
{
    m_details = AirspaceDetails::forSet(set, std::string_view(openAir.constData(), static_cast<std::size_t>(openAir.size())));
    m_detailsSet = set.internalData().get();
    const QByteArray digest = setDigest(set);
    if (digest.isEmpty() || m_cacheFolder.isEmpty() || !QDir().mkpath(m_cacheFolder + QStringLiteral("/openair")))
        return;
    QSaveFile file(sourcePath(digest));
    if (file.open(QIODevice::WriteOnly) && file.write(openAir) == openAir.size())
        file.commit();
}

const AirspaceDetails* AirspaceHoverInfo::detailsForCurrentSet()
{
    const Airspaces* set = m_currentSet ? m_currentSet() : nullptr;
    if (!set || !set->internalData())
        return nullptr;
    if (m_detailsSet != set->internalData().get()) {
        m_detailsSet = set->internalData().get();
        m_details.reset();
        if (!m_cacheFolder.isEmpty()) {
            if (const auto openAir = readFileWhole(QFile::encodeName(sourcePath(setDigest(*set))).toStdString(), FileKind::OpenAir))
                m_details = AirspaceDetails::forSet(*set, *openAir);
        }
    }
    return m_details && m_details->matched() > 0 ? &*m_details : nullptr;
}

QString AirspaceHoverInfo::textAt(MapPoint point, double tolerance)
{
    const Airspaces* set = m_currentSet ? m_currentSet() : nullptr;
    const MapOverlays& overlays = m_map.overlays();
    // The overlays are the set's polylines, one each, in order; anything else is not
    // this set's map.
    if (!set || overlays.size() != set->globalPolylines().size())
        return {};
    // A view that shows the world more than once points into another copy of it.
    point.x -= std::floor(point.x / mapWorldSize) * mapWorldSize;
    const std::optional<std::size_t> index = overlayAtMapPoint(
        overlays, point, tolerance, [set](std::size_t at) { return set->globalPolylines()[at].closed; });
    if (!index)
        return {};
    const AirspaceDetails* details = detailsForCurrentSet();
    if (!details)
        return QStringLiteral("No details for this set");
    const std::optional<std::string> text = details->describe(*index);
    return text ? QString::fromStdString(*text) : QStringLiteral("No details for this airspace");
}

void AirspaceHoverInfo::showAt(MapPoint point, double tolerance, QPointF position)
{
    const QString text = textAt(point, tolerance);
    if (text.isEmpty()) {
        m_label->hide();
        return;
    }
    m_label->setText(text);
    m_label->adjustSize();
    // Below and to the right of the pointer, clear of the cursor, kept inside the map.
    const int offset = 16;
    const int x = std::clamp(static_cast<int>(position.x()) + offset, 0, std::max(0, m_map.width() - m_label->width()));
    int y = static_cast<int>(position.y()) + offset;
    if (y + m_label->height() > m_map.height())
        y = static_cast<int>(position.y()) - offset - m_label->height();
    m_label->move(x, std::max(0, y));
    m_label->show();
    m_label->raise();
}

QString AirspaceHoverInfo::shownText() const { return m_label->isHidden() ? QString() : m_label->text(); }

} // namespace corvex
