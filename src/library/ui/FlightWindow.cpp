#include "library/ui/FlightWindow.h"

#include "analysis/AirspaceFileCheck.h"
#include "base/Format.h"
#include "flights/FlightWords.h"
#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/LibraryTable.h"
#include "library/TakeoffTime.h"
#include "library/ui/BarogramView.h"
#include "library/ui/LibraryTableModel.h"
#include "map/qt/ContestLayer.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/TrackLayer.h"
#include "map/qt/ZoneLayer.h"
#include "map/ui/MapView.h"

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
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
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

QString altitudeText(const std::optional<int>& value, UnitSystem units)
{
    return value ? QString::fromStdString(quantityText(Quantity::Altitude, *value, units)) : QStringLiteral("–");
}

// "+1.2 m/s", "+236 ft/min": a climb or a sink with its sign.
QString varioText(double metresPerSecond, UnitSystem units)
{
    const std::string number = quantityNumber(Quantity::Vario, metresPerSecond, units);
    return QString::fromStdString((number.front() == '-' ? "" : "+") + number + " " + unitLabel(Quantity::Vario, units));
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

QString limitsText(const openair::Airspace& airspace)
{
    const auto text = [](const openair::Altitude& altitude) {
        return altitude.text.empty() ? QStringLiteral("?") : QString::fromStdString(altitude.text);
    };
    return text(airspace.floor) + "–" + text(airspace.ceiling);
}

FlightWindow::AirspaceFindings checkAgainstFile(const QString& path, const std::shared_ptr<const flights::IgcFlight>& flight)
{
    FlightWindow::AirspaceFindings findings;
    findings.path = path;
    auto checked = analysis::checkAgainstOpenAirFile(path.toStdString(), flight.get(), FlightWindow::nearAirspaceMarginMetres);
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
        });
    m_liveRules = flights::findContestRuleSet(library.index().listedRuleSet());
    if (!m_liveRules)
        m_liveRules = &flights::contestRuleSets().front();
    m_part = static_cast<std::size_t>(std::max(0, flight.part));
    m_scoredTrack = flights::scoredTrackFromName(flight.scoredTrack);
    setWindowTitle(tr("Flight of %1").arg(takeoffText(flight.takeoff)));
    resize(1100, 800);

    auto igc = flights::readIgcFile(library.pathOf(flight));
    if (igc) {
        m_track = trackOf(*igc);
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
    m_map->addLayer(m_nearAirspaces);
    m_map->addLayer(m_trackLayer);
    m_map->addLayer(m_airspaceLabels);
    m_map->addLayer(m_crossings);
    m_map->addLayer(m_contestLayer);
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
        // Kept (the accessors hand it out) but not shown: owned by the window, so that
        // it goes with it.
        m_map->setParent(this);
        m_map->hide();
    }
    mapAndBarogram->addWidget(m_barogram);
    mapAndBarogram->setStretchFactor(0, 3);
    mapAndBarogram->setStretchFactor(1, 1);
    m_barogram->setMinimumHeight(150);
    mapAndBarogram->setSizes({ 560, 200 });

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
    m_crossingsList->setHeaderLabels({ tr("Airspace"), tr("Class"), tr("Inside (UTC)"), tr("Entered"), tr("Reason, altitudes compared") });
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
    connect(m_map, &MapView::mapClicked, this, [this](GeoPoint place) {
        if (const auto index = nearestFix(place.latitude, place.longitude))
            showFix(*index);
    });
    if (!m_track->empty())
        m_map->fitToLayer(*m_trackLayer);
    startScoring();
}

FlightWindow::~FlightWindow()
{
    // Before the widgets go: the work's answers are posted to this window.
    m_scoreWork.cancelAndWait();
    m_airspaceWork.cancelAndWait();
}

void FlightWindow::closeEvent(QCloseEvent* event)
{
    // A window that goes on close goes only when the event loop next turns (or never, at
    // a quit): its searches stop now, not a long flight's scoring later.
    if (testAttribute(Qt::WA_DeleteOnClose)) {
        m_scoreWork.cancel();
        m_airspaceWork.cancel();
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
    m_airspaceWork.start(OperationContext(m_workLog).withCancel(CancelToken()),
        [this, check, openAirPath, flight = m_igc](const OperationContext& context) {
            auto findings = checkAgainstFile(openAirPath, flight);
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
        item->setText(4, QString::fromStdString(crossing.reason));
        item->setToolTip(4, QString::fromStdString(crossing.reason));
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
        const std::size_t entered = found.check.crossings.size();
        status = entered == 0 ? tr("No airspace of %1 entered").arg(file)
            : entered == 1    ? tr("1 airspace entered (%1)").arg(file)
                              : tr("%1 airspaces entered (%2)").arg(entered).arg(file);
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
    for (int column = 0; column < 4; ++column)
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
    const TrackPoint& point = (*m_track)[index];
    const int offset = m_clockOffsetMinutes.value_or(0);
    const QString zone = m_clockOffsetMinutes ? QString::fromStdString(" " + utcOffsetText(offset)) : QStringLiteral(" UTC");
    m_fixLabel->setText(QString::fromStdString(utcTimeText(point.time + std::int64_t { offset } * 60, "%Y-%m-%d %H:%M:%S")) + zone
        + QLatin1Char('\n') + QString::fromStdString(quantityText(Quantity::Altitude, point.altitude, m_units)) + ", "
        + varioText(point.vario, m_units));
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

} // namespace corvex::library
