#include "library/ui/FlightWindow.h"

#include "analysis/AirspaceFileCheck.h"
#include "base/Format.h"
#include "flights/FlightWords.h"
#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/LibraryTable.h"
#include "library/TakeoffTime.h"
#include "library/ui/BarogramView.h"
#include "library/ui/FlightShow.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/ReplayBar.h"
#include "map/qt/ContestLayer.h"
#include "map/qt/GliderLayer.h"
#include "map/qt/LegendLayer.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/ReliefLayer.h"
#include "map/qt/TerrainSource.h"
#include "map/qt/TrackLayer.h"
#include "map/qt/WindLayer.h"
#include "map/qt/ZoneLayer.h"
#include "map/ui/MapView.h"
#include "terrain/Geoid.h"
#include "terrain/TerrainTiles.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex::library {

namespace {

// The ground under each fix in the barogram's datum, NaN where no tile covers. The
// tiles are above the geoid, as a GNSS altitude is meant to be: shown against GNSS
// altitudes they are taken as they are. Pressure altitude is on the standard
// atmosphere, off sea level by the day's pressure: the ground is moved by the median of
// pressure minus GNSS altitude over the fixes that have both, so that it stands under
// the pressure curve where it stands under the GNSS one.
std::vector<double> groundUnder(
    const flights::IgcFlight& igc, const terrain::TerrainTiles& tiles, bool pressure, const OperationContext& context)
{
    double shift = 0;
    if (pressure) {
        std::vector<int> differences;
        for (const flights::IgcFix& fix : igc.fixes)
            if (fix.valid && fix.gnssAltitude != 0)
                differences.push_back(fix.pressureAltitude - fix.gnssAltitude);
        if (!differences.empty()) {
            auto middle = differences.begin() + static_cast<std::ptrdiff_t>(differences.size() / 2);
            std::nth_element(differences.begin(), middle, differences.end());
            shift = *middle;
        }
    }
    std::vector<double> ground;
    ground.reserve(igc.fixes.size());
    for (const flights::IgcFix& fix : igc.fixes) {
        // Another terrain or a closed window: a cold lookup reads whole tiles.
        if (ground.size() % 1024 == 0 && context.isCancelled())
            return {};
        const auto elevation = tiles.elevationAt({ fix.latitude, fix.longitude });
        ground.push_back(elevation ? *elevation + shift : std::numeric_limits<double>::quiet_NaN());
    }
    return ground;
}

QString altitudeText(const std::optional<int>& value, UnitSystem units)
{
    return value ? QString::fromStdString(quantityText(Quantity::Altitude, *value, units)) : QStringLiteral("–");
}

QString positionText(double latitude, double longitude)
{
    return QString::asprintf("%.5f° %c, %.5f° %c", std::abs(latitude), latitude < 0 ? 'S' : 'N', std::abs(longitude),
        longitude < 0 ? 'W' : 'E');
}

QString clockText(std::int64_t utc) { return QString::fromStdString(utcTimeText(utc, "%H:%M:%S")); }

// "UTC", or the offset the window's clock shows local times at ("+05:30").
QString zoneText(const std::optional<int>& offsetMinutes)
{
    return offsetMinutes ? QString::fromStdString(utcOffsetText(*offsetMinutes)) : QStringLiteral("UTC");
}

// A contest distance keeps two decimals, as the contests publish them, in the pilot's unit.
QString scoreDistanceText(double metres, UnitSystem units)
{
    return QString::number(convertedValue(Quantity::Distance, metres, units), 'f', 2) + " " + unitLabel(Quantity::Distance, units);
}

QString contestTypeText(flights::ContestFlightType type)
{
    return QString::fromStdString(flights::contestTypeTitle(flights::contestTypeName(type)));
}

bool isTriangle(const flights::ContestScore& score) { return score.type != flights::ContestFlightType::FreeFlight; }

// A triangle's corners are 1, 2, 3; a free flight runs from S through 1, 2, 3 to F.
QString turnpointLabel(const flights::ContestScore& score, std::size_t i)
{
    if (isTriangle(score))
        return QString::number(i + 1);
    if (i == 0)
        return QStringLiteral("S");
    if (i + 1 == score.turnpoints.size())
        return QStringLiteral("F");
    return QString::number(i);
}

const QColor turnpointColour(150, 20, 150);

// The debrief's stretches: thermals green, failed attempts violet, glides blue, on the
// map, the barogram and the lists alike.
const QColor thermalColour(40, 160, 60);
const QColor attemptColour(150, 90, 190);
const QColor glideColour(40, 110, 200);

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

MapColor mapColour(const QColor& colour)
{
    return { colour.redF(), colour.greenF(), colour.blueF(), colour.alphaF() };
}

// "4:05", "1:02:10": a stretch lasts minutes more often than hours.
QString stretchDurationText(std::int64_t seconds)
{
    seconds = std::max<std::int64_t>(0, seconds);
    if (seconds >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return QString::asprintf("%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

// The lists sort by the figure a column shows, not by its text ("10:00" after "9:59").
constexpr int sortRole = Qt::UserRole + 1;
class StretchItem final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant mine = data(column, sortRole), theirs = other.data(column, sortRole);
        if (mine.isValid() && theirs.isValid())
            return mine.toDouble() < theirs.toDouble();
        return QTreeWidgetItem::operator<(other);
    }
};

// Airspaces by how they concern a pilot: controlled, restricted and dangerous ones red,
// the zones asking for a transponder or a radio blue, the rest grey.
MapColor airspaceStroke(const std::string& airspaceClass)
{
    static const char* const red[] = { "A", "B", "C", "D", "CTR", "R", "P", "Q", "DANGER", "PROHIBITED", "RESTRICTED" };
    static const char* const blue[] = { "TMZ", "RMZ", "E", "F", "G", "W" };
    for (const char* name : red)
        if (airspaceClass == name)
            return { 0.80, 0.12, 0.12, 1 };
    for (const char* name : blue)
        if (airspaceClass == name)
            return { 0.15, 0.35, 0.75, 1 };
    return { 0.40, 0.40, 0.45, 1 };
}

// "300 m above the floor, 1,200 m below the ceiling", each where known.
QString marginsText(const std::optional<double>& aboveFloor, const std::optional<double>& belowCeiling, UnitSystem units)
{
    QStringList parts;
    if (aboveFloor)
        parts << FlightWindow::tr("%1 above the floor").arg(QString::fromStdString(quantityText(Quantity::Altitude, *aboveFloor, units)));
    if (belowCeiling)
        parts << FlightWindow::tr("%1 below the ceiling").arg(QString::fromStdString(quantityText(Quantity::Altitude, *belowCeiling, units)));
    return parts.join(", ");
}

QString limitsText(const openair::Airspace& airspace)
{
    const auto text = [](const openair::Altitude& altitude) {
        return altitude.text.empty() ? QStringLiteral("?") : QString::fromStdString(altitude.text);
    };
    return text(airspace.floor) + "–" + text(airspace.ceiling);
}

FlightWindow::AirspaceFindings checkAgainstFile(const QString& path, const std::shared_ptr<const flights::IgcFlight>& flight,
    const FlightWindow::AirspaceCheckSettings& settings, std::shared_ptr<const terrain::TerrainTiles> shared)
{
    FlightWindow::AirspaceFindings findings;
    findings.path = path;
    analysis::AirspaceCheckOptions options;
    options.tolerance = settings.tolerance;
    // The program's tiles when they are of the same folder: their posts are read once
    // for the relief, the ground and every check, and held within one memory bound.
    std::shared_ptr<const terrain::TerrainTiles> tiles;
    if (settings.terrainFolder)
        tiles = shared ? std::move(shared) : std::make_shared<const terrain::TerrainTiles>(*settings.terrainFolder);
    options.terrain = tiles.get();
    // The geoid only for a recorder that says it writes above the ellipsoid.
    std::optional<terrain::Geoid> geoid;
    if (const auto datum = flight ? flight->headerValue("ALG") : std::nullopt; datum && datum->find("ELL") != std::string::npos)
        if (auto loaded = terrain::Geoid::load())
            geoid.emplace(std::move(*loaded));
    options.geoid = geoid ? &*geoid : nullptr;
    auto checked = analysis::checkAgainstOpenAirFile(path.toStdString(), flight.get(), FlightWindow::nearAirspaceMarginMetres, options);
    if (checked) {
        findings.parsed = std::move(checked->parsed);
        findings.check = std::move(checked->check);
        findings.near = std::move(checked->near);
        return findings;
    }
    const analysis::OpenAirFileError& error = checked.error();
    const QString name = QFileInfo(path).fileName();
    switch (error.kind) {
    case analysis::OpenAirFileError::Kind::Unreadable:
        findings.error = FlightWindow::tr("The airspace file %1 cannot be read: %2.").arg(name, QString::fromStdString(error.reason));
        break;
    case analysis::OpenAirFileError::Kind::TooLarge:
        findings.error = FlightWindow::tr("The file %1 is too large to be an OpenAir file (%2 MB).").arg(name).arg(error.size / (1024 * 1024));
        break;
    case analysis::OpenAirFileError::Kind::NoAirspace:
        findings.error = FlightWindow::tr("The file %1 holds no airspace.").arg(name);
        break;
    case analysis::OpenAirFileError::Kind::NotOpenAir:
        findings.error = FlightWindow::tr("The file %1 is not an OpenAir file: line %2: %3.")
                             .arg(name)
                             .arg(error.line)
                             .arg(QString::fromStdString(error.reason));
        break;
    }
    return findings;
}

} // namespace

FlightWindow::FlightWindow(FlightLibrary& library, const LibraryFlight& flight, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_track(std::make_shared<TrackPoints>())
    , m_flight(flight)
    , m_path(library.pathOf(flight))
{
    // At a quit the windows stay until the process ends: their searches must not run on
    // (or post to them) while it goes.
    if (auto* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            m_scoreWork.cancelAndWait();
            m_airspaceWork.cancelAndWait();
            m_debriefWork.cancelAndWait();
            m_groundWork.cancelAndWait();
        });
    m_liveRules = flights::findContestRuleSet(library.index().listedRuleSet());
    if (!m_liveRules)
        m_liveRules = &flights::contestRuleSets().front();
    m_part = static_cast<std::size_t>(std::max(0, flight.part));
    m_scoredTrack = flights::scoredTrackFromName(flight.scoredTrack);
    setWindowTitle(tr("Flight of %1").arg(takeoffText(flight.takeoff)));
    resize(1100, 800);

    auto igc = flights::readIgcFile(library.pathOf(flight));
    bool pressure = false;
    if (igc) {
        m_track = flightTrack(*igc, pressure);
        m_pressureAltitude = pressure;
        m_igc = std::make_shared<const flights::IgcFlight>(std::move(*igc));
    } else {
        m_loadError = QString::fromStdString(igc.error());
    }

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
    m_contestLayer = std::make_shared<ContestLayer>();
    m_nearAirspaces = std::make_shared<ZoneLayer>();
    m_nearAirspaces->setAreaParts(ZoneLayer::AreaParts::Outlines);
    m_airspaceLabels = std::make_shared<ZoneLayer>();
    m_airspaceLabels->setAreaParts(ZoneLayer::AreaParts::Labels);
    m_crossings = std::make_shared<ZoneLayer>();
    // The airspaces under the track; their names, the stays in them and the legs over
    // it; the symbols on top.
    m_highlight = std::make_shared<ZoneLayer>();
    m_wind = std::make_shared<WindLayer>();
    m_legend = std::make_shared<LegendLayer>();
    m_trackMapPoints = trackMapPoints(*m_track);
    m_relief = std::make_shared<ReliefLayer>();
    // The chosen stretch over the wind arrows: its name must read where they crowd.
    m_map->addLayer(m_relief);
    m_map->addLayer(m_nearAirspaces);
    m_map->addLayer(m_trackLayer);
    m_map->addLayer(m_airspaceLabels);
    m_map->addLayer(m_crossings);
    m_map->addLayer(m_contestLayer);
    m_map->addLayer(m_wind);
    m_map->addLayer(m_highlight);
    m_map->addLayer(m_markers);
    // The replay's glider over the track and its marks; hidden until the replay moves.
    m_gliders = std::make_shared<GliderLayer>();
    m_gliders->setGliders({ GliderLayer::Glider { m_track, QColor(220, 0, 150), {}, 0 } });
    m_gliders->setVisible(false);
    m_map->addLayer(m_gliders);
    m_map->addLayer(m_legend);
    // Pointing at a thermal names it.
    m_map->setMouseTracking(true);
    connect(m_map, &MapView::pointerMoved, this, [this](QPointF position) {
        const QString tip = stretchTipAt(position);
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(m_map->mapToGlobal(position.toPoint()), tip, m_map);
    });

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
        [this](int index) {
            m_trackLayer->setColoring(index == 1 ? TrackColoring::Climb : TrackColoring::Altitude);
            showLegend();
        });
    m_fixLabel = new QLabel;
    // Room for "2016-05-04 12:31:58 UTC" without the window jumping as the cursor moves.
    m_fixLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00 UTC  ")));
    m_fixLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The debrief's lists beside the map, one tab each.
    m_debriefTabs = new QTabWidget;
    m_debriefTabs->setAccessibleName(tr("Debrief"));
    const QStringList circlingColumns { tr("#"), tr("Start"), tr("Duration"), tr("Gain"), tr("Climb"), tr("Best 20 s"), tr("Turns"),
        tr("Wind from") };
    const QStringList glideColumns { tr("#"), tr("Start"), tr("Duration"), tr("Distance"), tr("Speed"), tr("Height lost"),
        tr("Glide ratio") };
    for (int kind = 0; kind < 3; ++kind) {
        auto* list = new QTreeWidget;
        list->setHeaderLabels(kind == 2 ? glideColumns : circlingColumns);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setSortingEnabled(true);
        list->sortByColumn(0, Qt::AscendingOrder);
        list->setAlternatingRowColors(true);
        connect(list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { showStretch(item); });
        m_stretchLists[kind] = list;
        m_debriefTabs->addTab(list, kind == 0 ? tr("Thermals") : kind == 1 ? tr("Failed attempts") : tr("Glides"));
    }
    m_debriefSummary = new QLabel(tr("Working out the debrief…"));
    m_debriefSummary->setWordWrap(true);
    m_debriefSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* debriefPanel = new QWidget;
    auto* debriefLayout = new QVBoxLayout(debriefPanel);
    debriefLayout->setContentsMargins(0, 0, 0, 0);
    debriefLayout->addWidget(m_debriefTabs, 1);
    debriefLayout->addWidget(m_debriefSummary);

    auto* mapAndBarogram = new QSplitter(Qt::Vertical);
    auto* mapAndDebrief = new QSplitter(Qt::Horizontal);
    mapAndBarogram->addWidget(mapAndDebrief);
    if (m_loadError.isEmpty()) {
        mapAndDebrief->addWidget(m_map);
    } else {
        auto* error = new QLabel(tr("The flight's file cannot be read: %1").arg(m_loadError));
        error->setWordWrap(true);
        error->setAlignment(Qt::AlignCenter);
        mapAndDebrief->addWidget(error);
        // Kept (the accessors hand it out) but not shown: owned by the window, so that
        // it goes with it.
        m_map->setParent(this);
        m_map->hide();
    }
    mapAndDebrief->addWidget(debriefPanel);
    mapAndDebrief->setStretchFactor(0, 3);
    mapAndDebrief->setStretchFactor(1, 2);
    mapAndDebrief->setSizes({ 600, 480 });

    // Over the barogram: which altitude it draws, and the small graph under it.
    m_altitudeKind = new QLabel(m_igc ? (pressure ? tr("Altitude: pressure") : tr("Altitude: GPS")) : QString());
    m_graphChoice = new QComboBox;
    m_graphChoice->addItems({ tr("Vario (20 s) below"), tr("Ground speed below"), tr("No graph below") });
    m_graphChoice->setAccessibleName(tr("Graph under the barogram"));
    connect(m_graphChoice, &QComboBox::currentIndexChanged, this, &FlightWindow::showGraph);
    auto* barogramPanel = new QWidget;
    auto* barogramLayout = new QVBoxLayout(barogramPanel);
    barogramLayout->setContentsMargins(0, 0, 0, 0);
    barogramLayout->setSpacing(2);
    auto* barogramBar = new QHBoxLayout;
    barogramBar->addWidget(m_altitudeKind);
    barogramBar->addWidget(m_graphChoice);
    barogramLayout->addLayout(barogramBar);
    barogramLayout->addWidget(m_barogram, 1);
    m_replayBar = new ReplayBar;
    m_replayBar->setAccessibleName(tr("Replay"));
    if (!m_track->empty()) {
        // Take-off to landing, as far as the track holds them; the whole track without.
        const std::int64_t first = m_track->front().time;
        const std::int64_t last = m_track->back().time;
        std::int64_t begin = std::clamp(flight.takeoff, first, last);
        std::int64_t end = std::clamp(flight.landing, first, last);
        if (flight.takeoff == 0 || flight.landing == 0 || end <= begin) {
            begin = first;
            end = last;
        }
        m_replayBar->setSpan(begin, end);
        m_replayBar->setTime(static_cast<double>(begin));
    }
    m_replayBar->setEnabled(!m_track->empty());
    // In the row over the barogram, between the map and the time axis it moves along.
    barogramBar->insertWidget(1, m_replayBar, 1);
    mapAndBarogram->addWidget(barogramPanel);
    mapAndBarogram->setStretchFactor(0, 3);
    mapAndBarogram->setStretchFactor(1, 1);
    m_barogram->setMinimumHeight(150);
    mapAndBarogram->setSizes({ 520, 260 });

    m_checkAirspaces = new QPushButton(tr("Check Against Airspaces…"));
    m_checkAirspaces->setEnabled(m_igc != nullptr);
    connect(m_checkAirspaces, &QPushButton::clicked, this, &FlightWindow::chooseAirspaceFile);
    chooseOpenAirFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("Check Against Airspaces"), QString(),
            tr("OpenAir files (*.txt *.air *.openair)") + ";;" + tr("All files (*)"));
    };
    m_airspaceStatus = new QLabel;
    m_airspaceStatus->setWordWrap(true);
    m_airspaceStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_airspaceStatus->hide();
    m_crossingsList = new QTreeWidget;
    m_crossingsList->setAccessibleName(tr("Airspaces entered"));
    m_crossingsList->setHeaderLabels({ tr("Airspace"), tr("Class"), tr("Inside (UTC)"), tr("Entered"), tr("Margins"),
        tr("Pressure altitude"), tr("GNSS altitude"), tr("Reason, altitudes compared") });
    m_crossingsList->setRootIsDecorated(false);
    m_crossingsList->header()->setStretchLastSection(true);
    m_crossingsList->hide();
    connect(m_crossingsList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item)
            showFix(item->data(0, Qt::UserRole).toULongLong());
    });

    auto* top = new QHBoxLayout;
    top->addWidget(figuresPanel(flight), 1);
    // The pilot's other rule sets, as the library's scoring pass stored them.
    if (const auto stored = library.index().scores(flight.id); stored)
        for (const RuleSetScore& each : *stored)
            if (const auto* rules = flights::findContestRuleSet(each.ruleSet); rules && rules != m_liveRules && each.score.points)
                m_scoreForm->addRow(QString::fromUtf8(rules->name.data(), static_cast<int>(rules->name.size())) + ":",
                    new QLabel(tr("%1 points, %2").arg(QString::number(*each.score.points, 'f', 2), scoreTypeText(each.score.type))));
    // The other loggers' recordings of this flight, kept under it.
    if (const auto others = library.index().recordingsOf(flight.id); others && !others->empty()) {
        QStringList names;
        for (const LibraryFlight& other : *others)
            names << QString::fromStdString(other.instrument().empty() ? other.file : other.instrument());
        m_flightForm->addRow(tr("Also recorded by:"), new QLabel(names.join(QStringLiteral(", "))));
    }
    m_editButton = new QPushButton(tr("Edit…"));
    m_editButton->setToolTip(tr("Glider, pilot, site, comment and the scored part of the track"));
    connect(m_editButton, &QPushButton::clicked, this, &FlightWindow::editRequested);
    auto* side = new QVBoxLayout;
    side->addWidget(m_coloring);
    side->addWidget(m_editButton);
    side->addWidget(m_checkAirspaces);
    side->addWidget(m_fixLabel);
    side->addStretch(1);
    top->addLayout(side);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_airspaceStatus);
    layout->addWidget(m_crossingsList);
    layout->addWidget(mapAndBarogram, 1);

    connect(m_barogram, &BarogramView::cursorMoved, this, &FlightWindow::showFix);
    connect(m_replayBar, &ReplayBar::timeChanged, this, &FlightWindow::showReplayTime);
    // Panning or zooming by the pilot stops the map following; the check box or the next
    // play brings it back.
    connect(m_map, &MapView::userMovedView, this, [this] { m_replayBar->setFollowing(false); });
    connect(m_replayBar, &ReplayBar::followingChanged, this, [this](bool following) {
        if (following && m_gliders->isVisible())
            if (const auto point = m_gliders->gliderMapPoint(0))
                m_map->keepInView(*point);
    });
    auto* playKey = new QShortcut(QKeySequence(Qt::Key_Space), this);
    playKey->setContext(Qt::WindowShortcut);
    connect(playKey, &QShortcut::activated, this, [this] {
        if (m_track->empty())
            return;
        m_replayBar->isPlaying() ? m_replayBar->pause() : m_replayBar->play();
    });
    connect(m_map, &MapView::mapClicked, this, [this](GeoPoint place) {
        if (const auto index = nearestFix(place.latitude, place.longitude))
            showFix(*index);
    });
    if (!m_track->empty())
        m_map->fitToLayer(*m_trackLayer);
    showLegend();
    startScoring();
    startDebrief();
    // Another terrain folder in the preferences reaches the open windows too.
    if (auto* terrain = TerrainSource::program())
        connect(terrain, &TerrainSource::tilesChanged, this, &FlightWindow::applyTerrain);
    applyTerrain();
}

void FlightWindow::applyTerrain()
{
    auto* source = TerrainSource::program();
    std::shared_ptr<const terrain::TerrainTiles> tiles = source ? source->tiles() : nullptr;
    m_relief->setTerrain(tiles);
    m_groundWork.cancelAndWait();
    m_findingGround = false;
    if (!tiles || !m_igc) {
        if (!m_barogram->ground().empty()) {
            m_barogram->setGround({});
            emit groundReady();
        }
        return;
    }
    // A cold lookup reads each tile under the track first: beside the window.
    m_findingGround = true;
    m_groundWork.start(OperationContext(m_workLog).withCancel(CancelToken()),
        [this, flight = m_igc, tiles, pressure = m_pressureAltitude](const OperationContext& context) {
            std::vector<double> ground = groundUnder(*flight, *tiles, pressure, context);
            if (context.isCancelled())
                return;
            QMetaObject::invokeMethod(
                this,
                [this, ground = std::move(ground)]() mutable {
                    m_findingGround = false;
                    m_barogram->setGround(std::move(ground));
                    emit groundReady();
                },
                Qt::QueuedConnection);
        });
}

FlightWindow::~FlightWindow()
{
    // Before the widgets go: the work's answers are posted to this window.
    m_scoreWork.cancelAndWait();
    m_airspaceWork.cancelAndWait();
    m_debriefWork.cancelAndWait();
    m_groundWork.cancelAndWait();
}

void FlightWindow::closeEvent(QCloseEvent* event)
{
    m_replayBar->pause();
    // A window that goes on close goes only when the event loop next turns (or never, at
    // a quit): its searches stop now, not a long flight's scoring later.
    if (testAttribute(Qt::WA_DeleteOnClose)) {
        m_scoreWork.cancel();
        m_airspaceWork.cancel();
        m_debriefWork.cancel();
        m_groundWork.cancel();
    }
    QWidget::closeEvent(event);
}

void FlightWindow::startScoring()
{
    if (!m_igc) {
        showScore(std::nullopt);
        return;
    }
    m_scoring = true;
    m_scoreType->setText(tr("Scoring…"));
    m_scoreWork.start(OperationContext(m_workLog).withCancel(CancelToken()), [this, flight = m_igc](const OperationContext& context) {
        auto score = flights::scoreFlight(*flight, *m_liveRules, m_part, m_scoredTrack, &context.cancelToken());
        if (context.isCancelled())
            return;
        QMetaObject::invokeMethod(this, [this, score = std::move(score)]() mutable { showScore(std::move(score)); }, Qt::QueuedConnection);
    });
}

void FlightWindow::showScore(std::optional<flights::ContestScore> score)
{
    m_scoring = false;
    m_score = std::move(score);
    if (!m_score) {
        m_scoreType->setText(tr("No score"));
        for (QLabel* label : { m_scoreDistance, m_scoreMultiplier, m_scorePoints, m_scoreGap, m_scoredPart })
            label->setText(QStringLiteral("–"));
        emit scoreReady();
        return;
    }
    const flights::ContestScore& shown = *m_score;
    m_scoreType->setText(contestTypeText(shown.type));
    m_scoreDistance->setText(scoreDistanceText(shown.distanceMetres, m_units));
    m_scoreMultiplier->setText(QStringLiteral("×") + QString::number(shown.multiplier, 'f', 1));
    m_scorePoints->setText(QString::number(shown.points, 'f', 2));
    const std::int64_t shift = std::int64_t { m_clockOffsetMinutes.value_or(0) } * 60;
    m_scoredPart->setText(tr("%1 to %2 %3, %4")
            .arg(QString::fromStdString(utcTimeText(shown.part.from + shift, "%H:%M")),
                QString::fromStdString(utcTimeText(shown.part.to + shift, "%H:%M")), zoneText(m_clockOffsetMinutes),
                shown.part.track == flights::ScoredTrack::Whole ? tr("the whole track") : tr("take-off to landing")));
    if (isTriangle(shown)) {
        const double perimeter = shown.distanceMetres + shown.closingMetres;
        m_scoreGap->setText(scoreDistanceText(shown.closingMetres, m_units)
            + (perimeter > 0 ? QString::asprintf(" (%.1f %% of the perimeter)", 100 * shown.closingMetres / perimeter) : QString()));
    } else {
        m_scoreGap->setText(QStringLiteral("–"));
    }

    ContestLayer::Route route;
    std::vector<BarogramView::Mark> marks;
    for (std::size_t i = 0; i < shown.turnpoints.size(); ++i) {
        const flights::ContestPoint& point = shown.turnpoints[i];
        const QString label = turnpointLabel(shown, i);
        route.points.push_back({ { point.latitude, point.longitude }, label.toStdString() });
        marks.push_back({ point.time, label, turnpointColour });
    }
    route.closed = isTriangle(shown);
    if (shown.closingStart && shown.closingEnd) {
        route.closingStart = GeoPoint { shown.closingStart->latitude, shown.closingStart->longitude };
        route.closingEnd = GeoPoint { shown.closingEnd->latitude, shown.closingEnd->longitude };
    }
    m_contestLayer->setRoute(std::move(route));
    m_barogram->setMarks(std::move(marks));
    emit scoreReady();
}

QString FlightWindow::scoreText() const
{
    QStringList lines;
    for (const QLabel* label : { m_scoreType, m_scoreDistance, m_scoreMultiplier, m_scorePoints, m_scoreGap, m_scoredPart })
        lines << label->text();
    return lines.join('\n');
}

void FlightWindow::chooseAirspaceFile()
{
    const QString path = chooseOpenAirFile ? chooseOpenAirFile() : QString();
    if (path.isEmpty())
        return;
    m_chosenAirspaceFile = path;
    setAirspaceFile(path);
}

void FlightWindow::setAirspaceFile(const QString& openAirPath)
{
    m_airspaceStatus->setText(tr("Checking against %1…").arg(QFileInfo(openAirPath).fileName()));
    m_airspaceStatus->show();
    m_checkingAirspaces = true;
    const std::uint64_t check = ++m_airspaceCheck;
    std::shared_ptr<const terrain::TerrainTiles> programTiles;
    if (const auto* source = TerrainSource::program(); source && m_airspaceSettings.terrainFolder && source->folder() == m_airspaceSettings.terrainFolder)
        programTiles = source->tiles();
    m_airspaceWork.start(OperationContext(m_workLog).withCancel(CancelToken()),
        [this, check, openAirPath, flight = m_igc, settings = m_airspaceSettings, programTiles](const OperationContext& context) {
            auto findings = checkAgainstFile(openAirPath, flight, settings, programTiles);
            if (context.isCancelled())
                return;
            QMetaObject::invokeMethod(
                this,
                [this, check, findings = std::move(findings)]() mutable {
                    if (check != m_airspaceCheck)
                        return;
                    m_checkingAirspaces = false;
                    const QString used = findings.error.isEmpty() ? findings.path : QString();
                    showAirspaceFindings(std::move(findings));
                    if (!used.isEmpty() && used == m_chosenAirspaceFile) {
                        m_chosenAirspaceFile.clear();
                        emit airspaceFileChosen(used);
                    }
                },
                Qt::QueuedConnection);
        });
}

void FlightWindow::showAirspaceFindings(AirspaceFindings findings)
{
    m_airspaceFindings = std::move(findings);
    const AirspaceFindings& found = *m_airspaceFindings;
    std::vector<ZoneLayer::Area> areas;
    std::vector<ZoneLayer::Stretch> stretches;
    std::vector<BarogramView::Band> bands;
    m_crossingsList->clear();
    m_crossingsList->headerItem()->setText(2, tr("Inside (%1)").arg(zoneText(m_clockOffsetMinutes)));

    for (const std::size_t i : found.near) {
        const openair::Airspace& airspace = found.parsed.airspaces[i];
        ZoneLayer::Area area;
        for (const openair::GeoPoint& point : airspace.outline)
            area.outline.push_back({ point.latitude, point.longitude });
        area.stroke = airspaceStroke(airspace.airspaceClass);
        area.fill = area.stroke;
        area.fill.alpha = 0.08;
        area.label = (QString::fromStdString(airspace.name) + "\n" + QString::fromStdString(airspace.airspaceClass) + ", "
            + limitsText(airspace))
                         .toStdString();
        areas.push_back(std::move(area));
    }
    for (const analysis::AirspaceCrossing& crossing : found.check.crossings) {
        const QString name = QString::fromStdString(crossing.name);
        // Sure stays red, possible ones orange: the pilot sees at once which to look at.
        const MapColor colour = crossing.certain ? MapColor { 0.85, 0.1, 0.1, 1 } : MapColor { 0.95, 0.55, 0.05, 1 };
        ZoneLayer::Stretch stretch;
        for (std::size_t fix = crossing.entryIndex; fix <= crossing.exitIndex && fix < m_track->size(); ++fix)
            stretch.line.push_back((*m_track)[fix].position);
        stretch.color = colour;
        if (crossing.deepestHorizontalIndex < m_track->size()) {
            stretch.mark = (*m_track)[crossing.deepestHorizontalIndex].position;
            stretch.markLabel = tr("%1 inside").arg(QString::fromStdString(quantityText(Quantity::Altitude, crossing.deepestHorizontalMetres, m_units))).toStdString();
            const QString vertical = marginsText(crossing.aboveFloorMetres, crossing.belowCeilingMetres, m_units);
            if (!vertical.isEmpty())
                stretch.markLabel += "\n" + vertical.toStdString();
        }
        stretches.push_back(std::move(stretch));
        bands.push_back({ crossing.entryTime, crossing.exitTime,
            QColor::fromRgbF(float(colour.red), float(colour.green), float(colour.blue), 0.22f), name });

        auto* item = new QTreeWidgetItem(m_crossingsList);
        item->setText(0, name);
        item->setText(1, QString::fromStdString(crossing.airspaceClass));
        const std::int64_t shift = std::int64_t { m_clockOffsetMinutes.value_or(0) } * 60;
        item->setText(2, clockText(crossing.entryTime + shift) + "–" + clockText(crossing.exitTime + shift));
        item->setText(3, crossing.certain ? tr("certainly") : tr("possibly"));
        QString margins = tr("%1 inside").arg(QString::fromStdString(quantityText(Quantity::Altitude, crossing.deepestHorizontalMetres, m_units)));
        if (const QString vertical = marginsText(crossing.aboveFloorMetres, crossing.belowCeilingMetres, m_units); !vertical.isEmpty())
            margins += ", " + vertical;
        item->setText(4, margins);
        // What each sensor alone says: a disagreement is in plain sight, whichever the
        // verdict went by.
        const auto sensorText = [&](const analysis::SensorStay& stay, analysis::AltitudeSource source) {
            if (!stay.inside)
                return tr("outside");
            QString text = clockText(stay.entryTime + shift) + "–" + clockText(stay.exitTime + shift);
            if (const QString vertical = marginsText(stay.aboveFloorMetres, stay.belowCeilingMetres, m_units); !vertical.isEmpty())
                text += ", " + vertical;
            if (crossing.altitudeSource == source)
                text += tr(" (used)");
            return text;
        };
        item->setText(5, sensorText(crossing.pressure, analysis::AltitudeSource::Pressure));
        item->setText(6, sensorText(crossing.gnss, analysis::AltitudeSource::Gnss));
        item->setText(7, QString::fromStdString(crossing.reason));
        item->setToolTip(7, QString::fromStdString(crossing.reason));
        item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(crossing.entryIndex));
    }
    std::vector<std::vector<GeoPoint>> stays;
    for (const ZoneLayer::Stretch& stretch : stretches)
        stays.push_back(stretch.line);
    m_airspaceLabels->setKeepClear(std::move(stays));
    m_airspaceLabels->setAreas(areas);
    m_nearAirspaces->setAreas(std::move(areas));
    m_crossings->setStretches(std::move(stretches));
    m_barogram->setBands(std::move(bands));

    const QString file = QFileInfo(found.path).fileName();
    QString status;
    if (!found.error.isEmpty()) {
        status = found.error;
    } else {
        // Airspaces, each once, and how often: what a pilot counts.
        const std::size_t entered = found.check.airspacesEntered(), times = found.check.crossings.size();
        const QString often = times == 1 ? tr("once") : tr("%1 times").arg(times);
        status = entered == 0 ? tr("No airspace of %1 entered").arg(file)
            : entered == 1    ? tr("1 airspace entered %1 (%2)").arg(often, file)
                              : tr("%1 airspaces entered %2 (%3)").arg(entered).arg(often, file);
        status += found.near.size() == 1 ? tr("; 1 airspace near the track shown on the map.")
                                         : tr("; %1 airspaces near the track shown on the map.").arg(found.near.size());
        if (found.parsed.errors.size() == 1)
            status += tr(" 1 line of the file could not be read: line %1.").arg(found.parsed.errors.front().line);
        else if (found.parsed.errors.size() > 1)
            status += tr(" %1 lines of the file could not be read, the first line %2.")
                          .arg(found.parsed.errors.size())
                          .arg(found.parsed.errors.front().line);
        for (const std::string& note : found.check.notes)
            status += "\n" + QString::fromStdString(note);
    }
    m_airspaceStatus->setText(status);
    m_airspaceStatus->setStyleSheet(found.error.isEmpty() ? QString() : QStringLiteral("color: #b00000;"));
    m_crossingsList->setVisible(!found.check.crossings.empty());
    for (int column = 0; column < 7; ++column)
        m_crossingsList->resizeColumnToContents(column);
    // As tall as its rows, up to five, so that the map keeps its room.
    const int rows = std::clamp(m_crossingsList->topLevelItemCount(), 1, 5);
    const int rowHeight = std::max(m_crossingsList->sizeHintForRow(0), fontMetrics().height() + 2);
    m_crossingsList->setFixedHeight(m_crossingsList->header()->sizeHint().height() + rows * rowHeight
        + 2 * m_crossingsList->frameWidth() + 2);
    emit airspaceCheckReady();
}

QWidget* FlightWindow::figuresPanel(const LibraryFlight& flight)
{
    auto* panel = new QWidget;
    auto* left = new QFormLayout;
    auto* right = new QFormLayout;
    const auto figure = [this](QFormLayout* form, const QString& title) {
        auto* label = new QLabel;
        form->addRow(title, label);
        m_figures.emplace_back(title, label);
    };
    figure(left, tr("Take-off:"));
    figure(left, tr("Landing:"));
    left->addRow(tr("Duration:"), new QLabel(durationText(flight.durationSeconds)));
    m_pilotValue = new QLabel;
    m_gliderValue = new QLabel;
    m_siteValue = new QLabel;
    left->addRow(tr("Pilot:"), m_pilotValue);
    left->addRow(tr("Glider:"), m_gliderValue);
    left->addRow(tr("Site:"), m_siteValue);
    m_flightForm = left;
    showEdited(flight);
    figure(right, tr("Altitude (pressure):"));
    figure(right, tr("Altitude (GPS):"));
    right->addRow(tr("Figures from:"), new QLabel(flight.altitudeSource == "pressure" ? tr("pressure altitude") : tr("GPS altitude")));
    figure(right, tr("Best climb / sink (20 s):"));
    figure(right, tr("Track:"));
    figure(right, tr("Take-off to landing:"));
    showFigures();
    right->addRow(tr("Instrument:"), new QLabel(QString::fromStdString(flight.instrument())));
    m_scoreForm = new QFormLayout;
    m_scoreType = new QLabel;
    m_scoreDistance = new QLabel;
    m_scoreMultiplier = new QLabel;
    m_scorePoints = new QLabel;
    m_scoreGap = new QLabel;
    m_scoredPart = new QLabel;
    m_scoreForm->addRow(tr("Contest (%1):").arg(QString::fromUtf8(m_liveRules->name.data(), static_cast<int>(m_liveRules->name.size()))),
        m_scoreType);
    m_scoreForm->addRow(tr("Distance:"), m_scoreDistance);
    m_scoreForm->addRow(tr("Multiplier:"), m_scoreMultiplier);
    m_scoreForm->addRow(tr("Points:"), m_scorePoints);
    m_scoreForm->addRow(tr("Closing gap:"), m_scoreGap);
    m_scoreForm->addRow(tr("Scored:"), m_scoredPart);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(left, 1);
    row->addLayout(right, 1);
    row->addLayout(m_scoreForm, 1);
    return panel;
}

void FlightWindow::setUnits(UnitSystem units, bool timesInUtc)
{
    m_units = units;
    m_clockOffsetMinutes.reset();
    if (!timesInUtc)
        m_clockOffsetMinutes = localOffsetMinutes(m_flight.takeoff, igcFileTimeZoneMinutes(m_path));
    showFigures();
    setWindowTitle(tr("Flight of %1").arg(timesInUtc ? takeoffText(m_flight.takeoff) : QString::fromStdString(localMinuteText(m_flight.takeoff, *m_clockOffsetMinutes))));
    // The score and the airspaces' list drawn again in the units and at the clock.
    if (!m_scoring && m_scoreType)
        showScore(m_score);
    if (m_airspaceFindings && !m_checkingAirspaces)
        showAirspaceFindings(std::move(*m_airspaceFindings));
    m_barogram->setUnits(units, m_clockOffsetMinutes.value_or(0));
    m_replayBar->setClockOffsetMinutes(m_clockOffsetMinutes.value_or(0));
    showLegend();
    if (m_debrief)
        fillStretchLists();
    if (m_barogram->cursorIndex())
        showFix(*m_barogram->cursorIndex());
}

QString FlightWindow::figureText(const QString& label) const
{
    for (const auto& [title, value] : m_figures)
        if (title == label)
            return value->text();
    return {};
}

void FlightWindow::showFigures()
{
    const LibraryFlight& flight = m_flight;
    const auto moment = [&](std::int64_t utc) {
        if (!m_clockOffsetMinutes)
            return takeoffText(utc) + QStringLiteral(" UTC");
        return QString::fromStdString(localMinuteText(utc, *m_clockOffsetMinutes));
    };
    const auto distance = [&](double metres) { return QString::fromStdString(quantityText(Quantity::Distance, metres, m_units)); };
    const QString texts[] = {
        moment(flight.takeoff) + ", " + positionText(flight.takeoffLatitude, flight.takeoffLongitude),
        moment(flight.landing) + ", " + positionText(flight.landingLatitude, flight.landingLongitude),
        altitudeText(flight.minPressureAltitude, m_units) + " – " + altitudeText(flight.maxPressureAltitude, m_units),
        altitudeText(flight.minGnssAltitude, m_units) + " – " + altitudeText(flight.maxGnssAltitude, m_units),
        varioText(flight.bestClimb, m_units) + " / " + varioText(flight.bestSink, m_units),
        distance(flight.trackMetres),
        distance(flight.distanceMetres),
    };
    static_assert(std::size(texts) == 7, "one text per figure");
    for (std::size_t i = 0; i < m_figures.size() && i < std::size(texts); ++i)
        m_figures[i].second->setText(texts[i]);
}

void FlightWindow::showEdited(const LibraryFlight& flight)
{
    m_pilotValue->setText(QString::fromStdString(flight.pilot));
    m_gliderValue->setText(QString::fromStdString(gliderName(flight.glider)));
    m_siteValue->setText(QString::fromStdString(flight.site));
    m_siteValue->setToolTip(QString::fromStdString(flight.comment));
}

void FlightWindow::showFix(std::size_t index)
{
    if (index >= m_track->size())
        return;
    m_barogram->setCursorIndex(index);
    m_markers->setCursorIndex(index);
    showFixLabel(index, std::nullopt);
}

QString FlightWindow::fixText() const
{
    return m_fixLabel->text();
}

void FlightWindow::showFixLabel(std::size_t index, std::optional<GliderState> replayed)
{
    const TrackPoint& point = (*m_track)[index];
    const int offset = m_clockOffsetMinutes.value_or(0);
    const QString zone = m_clockOffsetMinutes ? QString::fromStdString(" " + utcOffsetText(offset)) : QStringLiteral(" UTC");
    if (!replayed) {
        m_fixLabel->setText(QString::fromStdString(utcTimeText(point.time + std::int64_t { offset } * 60, "%Y-%m-%d %H:%M:%S")) + zone
            + QLatin1Char('\n') + QString::fromStdString(quantityText(Quantity::Altitude, point.altitude, m_units)) + ", "
            + varioText(point.vario, m_units));
        return;
    }
    // The replay's glider between its fixes: its own altitude, climb and ground speed,
    // and the height above the ground under the fix where the barogram has it.
    const auto seconds = static_cast<std::int64_t>(std::floor(m_replayBar->time()));
    QString text = QString::fromStdString(utcTimeText(seconds + std::int64_t { offset } * 60, "%Y-%m-%d %H:%M:%S")) + zone
        + QLatin1Char('\n') + QString::fromStdString(quantityText(Quantity::Altitude, replayed->altitude, m_units)) + ", "
        + varioText(replayed->varioMs, m_units) + ", "
        + QString::fromStdString(quantityText(Quantity::Speed, replayed->groundSpeedKmh / 3.6, m_units));
    const std::vector<double>& ground = m_barogram->ground();
    if (index < ground.size() && std::isfinite(ground[index]))
        text += QStringLiteral("\nAGL ")
            + QString::fromStdString(quantityText(Quantity::Altitude, std::lround(replayed->altitude - ground[index]), m_units));
    m_fixLabel->setText(text);
}

void FlightWindow::showReplayTime(double time)
{
    m_gliders->setVisible(true);
    m_gliders->setTime(time);
    const std::optional<GliderState> state = m_gliders->gliderState(0);
    if (!state)
        return;
    // While it plays, the glider is the cursor: the ring would trail behind it.
    m_markers->setCursorIndex(std::nullopt);
    m_barogram->setCursorIndex(state->fixIndex);
    showFixLabel(state->fixIndex, state);
    if (m_replayBar->isFollowing())
        if (const auto point = m_gliders->gliderMapPoint(0))
            m_map->keepInView(*point);
}

std::optional<std::size_t> FlightWindow::nearestFix(double latitude, double longitude) const
{
    std::optional<std::size_t> nearest;
    double best = std::numeric_limits<double>::max();
    const double shrink = std::cos(geo::radians(latitude));
    for (std::size_t i = 0; i < m_track->size(); ++i) {
        const GeoPoint& position = (*m_track)[i].position;
        const double north = position.latitude - latitude;
        const double east = (position.longitude - longitude) * shrink;
        if (const double distance = north * north + east * east; distance < best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

void FlightWindow::startDebrief()
{
    if (!m_igc) {
        m_debriefSummary->setText(tr("No debrief: the flight's file cannot be read."));
        return;
    }
    m_debriefing = true;
    m_debriefWork.start(OperationContext(m_workLog).withCancel(CancelToken()),
        [this, flight = m_igc, part = m_part](const OperationContext& context) {
            std::optional<analysis::FlightDebrief> debrief;
            analysis::FlightSeries series;
            try {
                const auto parts = flights::computeFlights(*flight);
                const flights::FlightFigures figures = part < parts.size() ? parts[part] : flights::computeFigures(*flight);
                debrief = analysis::debriefFlight(*flight, figures);
                series = analysis::flightSeries(*flight);
            } catch (const std::exception&) {
                // Said in the window below; the flight view stays usable without it.
            }
            if (context.isCancelled())
                return;
            QMetaObject::invokeMethod(
                this,
                [this, debrief = std::move(debrief), series = std::move(series)]() mutable {
                    m_debriefing = false;
                    if (!debrief) {
                        m_debriefSummary->setText(tr("The debrief could not be worked out for this flight."));
                        emit debriefReady();
                        return;
                    }
                    showDebrief(std::move(*debrief), std::move(series));
                },
                Qt::QueuedConnection);
        });
}

void FlightWindow::showDebrief(analysis::FlightDebrief debrief, analysis::FlightSeries series)
{
    m_debrief = std::move(debrief);
    m_series = std::move(series);
    std::vector<BarogramView::Band> bands;
    for (const analysis::CirclingPhase& thermal : m_debrief->thermals)
        bands.push_back({ thermal.startTime, thermal.endTime, withAlpha(thermalColour, 55), {} });
    for (const analysis::CirclingPhase& attempt : m_debrief->failedAttempts)
        bands.push_back({ attempt.startTime, attempt.endTime, withAlpha(attemptColour, 55), {} });
    m_barogram->setPhaseBands(std::move(bands));
    std::vector<std::int64_t> starts;
    for (const analysis::CirclingPhase& thermal : m_debrief->thermals)
        starts.push_back(thermal.startTime);
    m_replayBar->setThermalStarts(std::move(starts));
    showGraph();
    fillStretchLists();
    emit debriefReady();
}

void FlightWindow::fillStretchLists()
{
    if (!m_debrief)
        return;
    const analysis::FlightDebrief& debrief = *m_debrief;
    const int offset = m_clockOffsetMinutes.value_or(0);
    const auto start = [&](std::int64_t utc) {
        return QString::fromStdString(utcTimeText(utc + std::int64_t { offset } * 60, "%H:%M:%S"));
    };
    const auto speed = [&](double kmh) { return QString::fromStdString(quantityText(Quantity::Speed, kmh / 3.6, m_units)); };
    const QString zone = m_clockOffsetMinutes ? QString::fromStdString(utcOffsetText(offset)) : QStringLiteral("UTC");

    for (int kind = 0; kind < 3; ++kind) {
        QTreeWidget* list = m_stretchLists[kind];
        // Refilled in other units, the chosen row stays chosen without moving the cursor.
        std::optional<qulonglong> chosen;
        if (list->currentItem())
            chosen = list->currentItem()->data(1, Qt::UserRole).toULongLong();
        const QSignalBlocker quiet(list);
        list->setSortingEnabled(false);
        list->clear();
        list->headerItem()->setText(1, tr("Start (%1)").arg(zone));
        const auto row = [&](std::size_t index, std::int64_t from, std::int64_t seconds) {
            auto* item = new StretchItem(list);
            item->setData(0, Qt::UserRole, kind);
            item->setData(1, Qt::UserRole, QVariant::fromValue<qulonglong>(index));
            item->setText(0, QString::number(index + 1));
            item->setData(0, sortRole, double(index));
            item->setText(1, start(from));
            item->setData(1, sortRole, double(from));
            item->setText(2, stretchDurationText(seconds));
            item->setData(2, sortRole, double(seconds));
            for (int column = 3; column < list->columnCount(); ++column)
                item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
            return item;
        };
        if (kind < 2) {
            const auto& phases = kind == 0 ? debrief.thermals : debrief.failedAttempts;
            for (std::size_t i = 0; i < phases.size(); ++i) {
                const analysis::CirclingPhase& phase = phases[i];
                QTreeWidgetItem* item = row(i, phase.startTime, phase.durationSeconds());
                item->setText(3, signedAltitudeText(phase.gainMetres, m_units));
                item->setData(3, sortRole, phase.gainMetres);
                item->setText(4, varioText(phase.climbMs, m_units));
                item->setData(4, sortRole, phase.climbMs);
                item->setText(5, varioText(phase.bestClimbMs, m_units));
                item->setData(5, sortRole, phase.bestClimbMs);
                item->setText(6,
                    QStringLiteral("%1 ×%2").arg(QString::fromLatin1(analysis::directionName(phase.direction))).arg(phase.circles));
                item->setData(6, sortRole, double(phase.circles));
                if (phase.wind) {
                    const long from = std::lround(phase.wind->fromDegrees) % 360;
                    item->setText(7, QStringLiteral("%1° %2").arg(from, 3, 10, QLatin1Char('0')).arg(speed(phase.wind->speedKmh)));
                    item->setData(7, sortRole, phase.wind->speedKmh);
                    item->setToolTip(7,
                        tr("From %1°, %2, over %3 circles").arg(from).arg(speed(phase.wind->speedKmh)).arg(phase.wind->circles));
                } else {
                    item->setText(7, QStringLiteral("–"));
                    item->setData(7, sortRole, -1.0);
                }
            }
        } else {
            for (std::size_t i = 0; i < debrief.glides.size(); ++i) {
                const analysis::Glide& glide = debrief.glides[i];
                QTreeWidgetItem* item = row(i, glide.startTime, glide.durationSeconds());
                item->setText(3, QString::fromStdString(quantityText(Quantity::Distance, glide.distanceMetres, m_units)));
                item->setData(3, sortRole, glide.distanceMetres);
                item->setText(4, speed(glide.speedKmh));
                item->setData(4, sortRole, glide.speedKmh);
                item->setText(5, QString::fromStdString(quantityText(Quantity::Altitude, glide.heightLostMetres, m_units)));
                item->setData(5, sortRole, glide.heightLostMetres);
                item->setText(6, glide.glideRatio ? QString::number(*glide.glideRatio, 'f', 1) : QStringLiteral("–"));
                item->setData(6, sortRole, glide.glideRatio.value_or(1e9));
            }
        }
        list->setSortingEnabled(true);
        for (int column = 0; column < list->columnCount(); ++column)
            list->resizeColumnToContents(column);
        if (chosen)
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                if (list->topLevelItem(i)->data(1, Qt::UserRole).toULongLong() == *chosen)
                    list->setCurrentItem(list->topLevelItem(i));
    }
    m_debriefTabs->setTabText(0, tr("Thermals (%1)").arg(debrief.thermals.size()));
    m_debriefTabs->setTabText(1, tr("Failed attempts (%1)").arg(debrief.failedAttempts.size()));
    m_debriefTabs->setTabText(2, tr("Glides (%1)").arg(debrief.glides.size()));

    // The wind where the air went: each arrow points downwind, its speed written at its tail.
    std::vector<WindLayer::Arrow> arrows;
    for (const analysis::CirclingPhase& thermal : debrief.thermals)
        if (thermal.wind)
            arrows.push_back({ thermal.centre, std::fmod(thermal.wind->fromDegrees + 180, 360), thermal.wind->speedKmh,
                speed(thermal.wind->speedKmh).toStdString(), thermal.wind->confidence });
    m_wind->setArrows(std::move(arrows));

    const analysis::DebriefTotals& totals = debrief.totals;
    QString summary = tr("Circling %1 % of the time, %2 % of it to the left; average climb %3, %4 gained in thermals.")
                          .arg(std::lround(100 * totals.circlingShare))
                          .arg(std::lround(100 * totals.leftShare))
                          .arg(varioText(totals.avgClimbMs, m_units))
                          .arg(QString::fromStdString(quantityText(Quantity::Altitude, totals.heightGainedMetres, m_units)));
    summary += QLatin1Char(' ')
        + tr("Glides at %1%2; %3 % of the height lost was lost circling.")
              .arg(speed(totals.avgGlideSpeedKmh))
              .arg(totals.avgGlideRatio ? tr(", glide ratio %1").arg(*totals.avgGlideRatio, 0, 'f', 1) : QString())
              .arg(std::lround(100 * totals.circlingHeightLossShare));
    summary += QLatin1Char(' ') + tr("Heights from %1 altitude.").arg(debrief.altitudeSource == "pressure" ? tr("pressure") : tr("GPS"));
    m_debriefSummary->setText(summary);
}

void FlightWindow::showStretch(QTreeWidgetItem* item)
{
    if (!item || !m_debrief) {
        m_highlight->setStretches({});
        m_barogram->setHighlight(std::nullopt);
        return;
    }
    const auto kind = static_cast<StretchKind>(item->data(0, Qt::UserRole).toInt());
    const auto index = static_cast<std::size_t>(item->data(1, Qt::UserRole).toULongLong());
    std::size_t first = 0, last = 0;
    std::int64_t begin = 0, end = 0;
    QColor colour = glideColour;
    if (kind == StretchKind::Glide) {
        if (index >= m_debrief->glides.size())
            return;
        const analysis::Glide& glide = m_debrief->glides[index];
        first = glide.startIndex, last = glide.endIndex, begin = glide.startTime, end = glide.endTime;
    } else {
        const auto& phases = kind == StretchKind::Thermal ? m_debrief->thermals : m_debrief->failedAttempts;
        if (index >= phases.size())
            return;
        first = phases[index].startIndex, last = phases[index].endIndex, begin = phases[index].startTime, end = phases[index].endTime;
        colour = kind == StretchKind::Thermal ? thermalColour : attemptColour;
    }
    ZoneLayer::Stretch stretch;
    for (std::size_t fix = first; fix <= last && fix < m_track->size(); ++fix)
        stretch.line.push_back((*m_track)[fix].position);
    // Darker than the bands: it must stand out of a track coloured green or blue too.
    stretch.color = mapColour(colour.darker(150));
    // A thermal is a dot in a whole flight's view: its marked and named middle finds it.
    if (!stretch.line.empty()) {
        stretch.mark = stretch.line[stretch.line.size() / 2];
        stretch.markLabel = (kind == StretchKind::Thermal ? tr("Thermal %1")
                : kind == StretchKind::FailedAttempt      ? tr("Failed attempt %1")
                                                          : tr("Glide %1"))
                                .arg(index + 1)
                                .toStdString();
    }
    m_highlight->setStretches({ std::move(stretch) });
    m_barogram->setHighlight(BarogramView::Band { begin, end, withAlpha(colour, 70), {} });
    showFix(first);
    // The replay goes on from the chosen stretch: a playing one jumps there, a paused one
    // starts there at the next play while the ring stays the cursor.
    if (m_replayBar->isPlaying()) {
        m_replayBar->setTime(static_cast<double>(begin));
    } else {
        const QSignalBlocker quiet(m_replayBar);
        m_replayBar->setTime(static_cast<double>(begin));
    }
}

void FlightWindow::selectStretch(StretchKind kind, std::size_t index)
{
    QTreeWidget* list = m_stretchLists[static_cast<int>(kind)];
    m_debriefTabs->setCurrentWidget(list);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->data(1, Qt::UserRole).toULongLong() == index)
            list->setCurrentItem(list->topLevelItem(i));
}

void FlightWindow::showLegend()
{
    if (m_track->empty()) {
        m_legend->setLegend({}, {});
        return;
    }
    const TrackColorScale& scale = m_trackLayer->colorScale();
    const bool climb = scale.coloring() == TrackColoring::Climb;
    const Quantity quantity = climb ? Quantity::Vario : Quantity::Altitude;
    std::vector<LegendLayer::Entry> entries;
    // Every climb step is labelled; of the altitude's sixteen, every third from the top.
    for (std::size_t bucket = scale.bucketCount(); bucket-- > 0;) {
        std::string label;
        if (climb || (scale.bucketCount() - 1 - bucket) % 3 == 0) {
            label = quantityNumber(quantity, scale.valueOfBucket(bucket), m_units);
            if (climb && scale.valueOfBucket(bucket) > 0)
                label = "+" + label;
        }
        entries.push_back({ scale.colorOfBucket(bucket), std::move(label) });
    }
    const std::string title
        = (climb ? tr("Climb (%1)") : tr("Altitude (%1)")).arg(QString::fromLatin1(unitLabel(quantity, m_units))).toStdString();
    m_legend->setLegend(title, std::move(entries));
}

void FlightWindow::showGraph()
{
    const int choice = m_graphChoice->currentIndex();
    if (choice == 0 && m_series.vario20Ms.size() == m_track->size())
        m_barogram->setGraph(BarogramView::Graph::Vario, m_series.vario20Ms);
    else if (choice == 1 && m_series.groundSpeedKmh.size() == m_track->size())
        m_barogram->setGraph(BarogramView::Graph::GroundSpeed, m_series.groundSpeedKmh);
    else
        m_barogram->setGraph(BarogramView::Graph::None, {});
}

QString FlightWindow::stretchTip(StretchKind kind, std::size_t index) const
{
    const analysis::CirclingPhase& phase = kind == StretchKind::Thermal ? m_debrief->thermals[index] : m_debrief->failedAttempts[index];
    return (kind == StretchKind::Thermal ? tr("Thermal %1: %2, %3, %4") : tr("Failed attempt %1: %2, %3, %4"))
        .arg(index + 1)
        .arg(signedAltitudeText(phase.gainMetres, m_units))
        .arg(QString::fromStdString(quantityText(Quantity::Vario, phase.climbMs, m_units)))
        .arg(QString::fromLatin1(analysis::directionName(phase.direction)));
}

QString FlightWindow::stretchTipAt(QPointF mapPixel) const
{
    const MapViewport viewport = m_map->viewport();
    if (!m_debrief || !viewport.isValid())
        return {};
    std::vector<TrackStretch> stretches;
    for (const auto* phases : { &m_debrief->thermals, &m_debrief->failedAttempts })
        for (const analysis::CirclingPhase& phase : *phases)
            stretches.push_back({ phase.startIndex, phase.endIndex });
    constexpr double tolerancePixels = 6;
    const auto found = stretchNearMapPoint(m_trackMapPoints, stretches, viewport.mapPointAt({ mapPixel.x(), mapPixel.y() }),
        tolerancePixels / viewport.scaleX());
    if (!found)
        return {};
    if (*found < m_debrief->thermals.size())
        return stretchTip(StretchKind::Thermal, *found);
    return stretchTip(StretchKind::FailedAttempt, *found - m_debrief->thermals.size());
}

} // namespace corvex::library
