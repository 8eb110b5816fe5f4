#include "library/ui/FlightWindow.h"

#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/ui/BarogramView.h"
#include "library/ui/LibraryTableModel.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/TrackLayer.h"
#include "map/ui/MapView.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace corvex::library {

namespace {

// The climb shown on the track: over a few seconds, so that one noisy fix does not
// paint a thermal.
constexpr std::int64_t climbWindowSeconds = 8;

std::shared_ptr<TrackPoints> trackOf(const flights::IgcFlight& igc)
{
    auto track = std::make_shared<TrackPoints>();
    track->reserve(igc.fixes.size());
    bool pressure = false;
    for (const flights::IgcFix& fix : igc.fixes)
        pressure |= fix.pressureAltitude != 0;
    for (const flights::IgcFix& fix : igc.fixes) {
        TrackPoint point;
        point.position = { fix.latitude, fix.longitude };
        point.altitude = pressure ? fix.pressureAltitude : fix.gnssAltitude;
        point.time = fix.time;
        track->push_back(point);
    }
    std::size_t back = 0;
    for (std::size_t i = 0; i < track->size(); ++i) {
        TrackPoint& point = (*track)[i];
        while (back + 1 < i && point.time - (*track)[back + 1].time >= climbWindowSeconds)
            ++back;
        const std::int64_t span = point.time - (*track)[back].time;
        point.vario = span > 0 ? (point.altitude - (*track)[back].altitude) / double(span) : 0.0;
    }
    return track;
}

QString altitudeText(const std::optional<int>& value) { return value ? QString::number(*value) + " m" : QStringLiteral("–"); }

QString positionText(double latitude, double longitude)
{
    return QString::asprintf("%.5f° %c, %.5f° %c", std::abs(latitude), latitude < 0 ? 'S' : 'N', std::abs(longitude),
        longitude < 0 ? 'W' : 'E');
}

} // namespace

FlightWindow::FlightWindow(FlightLibrary& library, const LibraryFlight& flight, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_track(std::make_shared<TrackPoints>())
{
    setWindowTitle(tr("Flight of %1").arg(takeoffText(flight.takeoff)));
    resize(1100, 800);

    const auto igc = flights::readIgcFile(library.pathOf(flight));
    if (igc)
        m_track = trackOf(*igc);
    else
        m_loadError = QString::fromStdString(igc.error());

    m_map = new MapView;
    m_map->setAccessibleName(tr("Map of the flight"));
    m_trackLayer = std::make_shared<TrackLayer>();
    m_trackLayer->setTrack(m_track);
    m_markers = std::make_shared<MarkersLayer>();
    if (!m_track->empty()) {
        m_markers->setTakeOff(m_track->front().position);
        m_markers->setLanding(m_track->back().position);
    }
    m_markers->setCursorTrack(m_track);
    m_map->addLayer(m_trackLayer);
    m_map->addLayer(m_markers);

    m_barogram = new BarogramView;
    std::vector<BarogramView::Sample> samples;
    samples.reserve(m_track->size());
    for (const TrackPoint& point : *m_track)
        samples.push_back({ point.time, static_cast<int>(std::lround(point.altitude)) });
    m_barogram->setSamples(std::move(samples));

    m_coloring = new QComboBox;
    m_coloring->addItems({ tr("Colour by altitude"), tr("Colour by climb") });
    m_coloring->setAccessibleName(tr("Track colour"));
    connect(m_coloring, &QComboBox::currentIndexChanged, this,
        [this](int index) { m_trackLayer->setColoring(index == 1 ? TrackColoring::Climb : TrackColoring::Altitude); });
    m_fixLabel = new QLabel;
    // Room for "2016-05-04 12:31:58 UTC" without the window jumping as the cursor moves.
    m_fixLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00 UTC  ")));
    m_fixLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* mapAndBarogram = new QSplitter(Qt::Vertical);
    if (m_loadError.isEmpty()) {
        mapAndBarogram->addWidget(m_map);
    } else {
        auto* error = new QLabel(tr("The flight's file cannot be read: %1").arg(m_loadError));
        error->setWordWrap(true);
        error->setAlignment(Qt::AlignCenter);
        mapAndBarogram->addWidget(error);
        m_map->hide();
    }
    mapAndBarogram->addWidget(m_barogram);
    mapAndBarogram->setStretchFactor(0, 3);
    mapAndBarogram->setStretchFactor(1, 1);
    m_barogram->setMinimumHeight(150);
    mapAndBarogram->setSizes({ 560, 200 });

    auto* top = new QHBoxLayout;
    top->addWidget(figuresPanel(flight), 1);
    auto* side = new QVBoxLayout;
    side->addWidget(m_coloring);
    side->addWidget(m_fixLabel);
    side->addStretch(1);
    top->addLayout(side);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(mapAndBarogram, 1);

    connect(m_barogram, &BarogramView::cursorMoved, this, &FlightWindow::showFix);
    connect(m_map, &MapView::mapClicked, this, [this](Coordinate place) {
        if (const auto index = nearestFix(place.latitude, place.longitude))
            showFix(*index);
    });
    if (!m_track->empty())
        m_map->fitToLayer(*m_trackLayer);
}

FlightWindow::~FlightWindow() = default;

QWidget* FlightWindow::figuresPanel(const LibraryFlight& flight)
{
    auto* panel = new QWidget;
    auto* left = new QFormLayout;
    auto* right = new QFormLayout;
    left->addRow(tr("Take-off:"), new QLabel(takeoffText(flight.takeoff) + " UTC, "
                                      + positionText(flight.takeoffLatitude, flight.takeoffLongitude)));
    left->addRow(tr("Landing:"), new QLabel(takeoffText(flight.landing) + " UTC, "
                                     + positionText(flight.landingLatitude, flight.landingLongitude)));
    left->addRow(tr("Duration:"), new QLabel(durationText(flight.durationSeconds)));
    left->addRow(tr("Pilot:"), new QLabel(QString::fromStdString(flight.pilot)));
    left->addRow(tr("Glider:"), new QLabel(QString::fromStdString(flight.glider)));
    right->addRow(tr("Altitude (pressure):"),
        new QLabel(altitudeText(flight.minPressureAltitude) + " – " + altitudeText(flight.maxPressureAltitude)));
    right->addRow(tr("Altitude (GPS):"), new QLabel(altitudeText(flight.minGnssAltitude) + " – " + altitudeText(flight.maxGnssAltitude)));
    right->addRow(tr("Best climb / sink (20 s):"),
        new QLabel(QString::asprintf("%+.1f / %+.1f m/s", flight.bestClimb, flight.bestSink)));
    right->addRow(tr("Track:"), new QLabel(QString::number(flight.trackMetres / 1000, 'f', 1) + " km"));
    right->addRow(tr("Take-off to landing:"), new QLabel(QString::number(flight.distanceMetres / 1000, 'f', 1) + " km"));
    right->addRow(tr("Instrument:"), new QLabel(QString::fromStdString(flight.instrument())));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(left, 1);
    row->addLayout(right, 1);
    return panel;
}

void FlightWindow::showFix(std::size_t index)
{
    if (index >= m_track->size())
        return;
    m_barogram->setCursorIndex(index);
    m_markers->setCursorIndex(index);
    const TrackPoint& point = (*m_track)[index];
    m_fixLabel->setText(takeoffText(point.time) + QString::asprintf(":%02d UTC\n%.0f m, %+.1f m/s", int(point.time % 60),
                                                       point.altitude, point.vario));
}

std::optional<std::size_t> FlightWindow::nearestFix(double latitude, double longitude) const
{
    std::optional<std::size_t> nearest;
    double best = std::numeric_limits<double>::max();
    const double shrink = std::cos(latitude * M_PI / 180);
    for (std::size_t i = 0; i < m_track->size(); ++i) {
        const Coordinate& position = (*m_track)[i].position;
        const double north = position.latitude - latitude;
        const double east = (position.longitude - longitude) * shrink;
        if (const double distance = north * north + east * east; distance < best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

} // namespace corvex::library
