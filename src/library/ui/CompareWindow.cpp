#include "library/ui/CompareWindow.h"

#include "base/Format.h"
#include "library/LibraryTable.h"
#include "library/TakeoffTime.h"
#include "library/ui/BarogramView.h"
#include "library/ui/FlightShow.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/ReplayBar.h"
#include "map/qt/GliderLayer.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/TrackLayer.h"
#include "map/ui/MapView.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex::library {

namespace {

const QString none = QStringLiteral("–");

} // namespace

const std::array<QColor, CompareWindow::maxFlights>& CompareWindow::palette()
{
    // Strong hues far apart first: two or three flights never get two blues.
    static const std::array<QColor, maxFlights> colours {
        QColor(215, 40, 40), // red
        QColor(30, 100, 220), // blue
        QColor(30, 160, 60), // green
        QColor(235, 140, 0), // orange
        QColor(150, 50, 190), // violet
        QColor(0, 170, 180), // teal
        QColor(220, 60, 160), // magenta
        QColor(120, 80, 30), // brown
        QColor(90, 90, 90), // grey
        QColor(160, 170, 0), // olive
    };
    return colours;
}

CompareWindow::CompareWindow(std::vector<Source> sources, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    if (auto* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] { m_debriefWork.cancelAndWait(); });
    if (sources.size() > maxFlights)
        sources.resize(maxFlights);
    setWindowTitle(tr("Comparison of %1 flights").arg(sources.size()));
    resize(1280, 900);

    // Each file read once here: the figures are a take-off search, quick beside the debrief.
    bool leadFound = false;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        Compared compared;
        compared.source = std::move(sources[i]);
        compared.colour = palette()[i];
        compared.track = std::make_shared<const TrackPoints>();
        auto igc = flights::readIgcFile(compared.source.path);
        if (igc) {
            const auto parts = flights::computeFlights(*igc);
            const std::size_t part = compared.source.stored ? static_cast<std::size_t>(std::max(0, compared.source.stored->part)) : 0;
            compared.figures = part < parts.size() ? parts[part] : flights::computeFigures(*igc);
            bool pressure = false;
            compared.track = flightTrack(*igc, pressure);
            compared.igc = std::make_shared<const flights::IgcFlight>(std::move(*igc));
            if (!leadFound && !compared.track->empty()) {
                m_lead = i;
                leadFound = true;
            }
        } else {
            compared.loadError = QString::fromStdString(igc.error());
        }
        const std::string pilot = compared.source.stored ? compared.source.stored->pilot : compared.figures.pilot;
        const std::string glider = compared.source.stored ? compared.source.stored->glider : compared.figures.glider;
        compared.pilot = pilot.empty() ? tr("Flight %1").arg(i + 1) : QString::fromStdString(pilot);
        compared.glider = QString::fromStdString(gliderName(glider));
        m_flights.push_back(std::move(compared));
    }

    m_map = new MapView;
    m_map->setAccessibleName(tr("Map of the flights"));
    for (const Compared& compared : m_flights) {
        auto layer = std::make_shared<TrackLayer>();
        layer->setTrack(compared.track);
        layer->setSingleColour(compared.colour);
        layer->setLineWidth(2.5);
        auto markers = std::make_shared<MarkersLayer>();
        if (compared.igc && !compared.track->empty()) {
            markers->setTakeOff(compared.figures.takeoff);
            markers->setLanding(compared.figures.landing);
            m_tracksBounds = m_tracksBounds.isNull() ? layer->boundingMapRect() : m_tracksBounds.unitedAcrossWorld(layer->boundingMapRect());
        }
        m_map->addLayer(layer);
        m_trackLayers.push_back(std::move(layer));
        m_markers.push_back(std::move(markers));
    }
    for (const auto& markers : m_markers)
        m_map->addLayer(markers);
    m_gliders = std::make_shared<GliderLayer>();
    m_map->addLayer(m_gliders);

    m_legend = new QLabel;
    m_legend->setAccessibleName(tr("Pilots"));
    m_legend->setTextFormat(Qt::RichText);
    m_legend->setWordWrap(true);
    QStringList entries;
    for (const Compared& compared : m_flights)
        entries << QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;<b>%2</b>%3")
                       .arg(compared.colour.name(), compared.pilot.toHtmlEscaped(),
                           compared.glider.isEmpty() ? QString() : QStringLiteral(", ") + compared.glider.toHtmlEscaped());
    m_legend->setText(entries.join(QStringLiteral("&nbsp;&nbsp;&nbsp; ")));

    m_barogram = new BarogramView;
    m_align = new QComboBox;
    m_align->setAccessibleName(tr("Align"));
    m_align->addItems({ tr("Align: clock time"), tr("Align: take-off") });
    connect(m_align, &QComboBox::currentIndexChanged, this,
        [this](int index) { setAlignment(index == 1 ? Alignment::Takeoff : Alignment::ClockTime); });
    m_exportKmz = new QPushButton(tr("Export KMZ…"));
    m_exportKmz->setEnabled(false);
    m_exportKmz->setToolTip(tr("The flights in 3D in one file for a globe program"));
    connect(m_exportKmz, &QPushButton::clicked, this, [this] {
        if (m_exportKmzHook)
            m_exportKmzHook(*this);
    });
    m_replay = new ReplayBar;
    connect(m_replay, &ReplayBar::timeChanged, this, &CompareWindow::setReplayTime);
    // The map follows the lead glider until the pilot moves it (the bar turns it back on).
    connect(m_map, &MapView::userMovedView, m_replay, [this] { m_replay->setFollowing(false); });
    connect(m_replay, &ReplayBar::followingChanged, this, [this](bool following) {
        if (following && m_map->isVisible())
            if (const auto point = m_gliders->gliderMapPoint(0))
                m_map->keepInView(*point);
    });

    m_figuresTable = new QTableWidget(figureCount, static_cast<int>(m_flights.size()));
    m_figuresTable->setAccessibleName(tr("Figures"));
    m_figuresTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_figuresTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Every figure without scrolling: the rows are few.
    m_figuresTable->setMinimumHeight(m_figuresTable->horizontalHeader()->sizeHint().height()
        + figureCount * m_figuresTable->verticalHeader()->defaultSectionSize() + 2 * m_figuresTable->frameWidth() + 2);
    m_sharedTable = new QTableWidget;
    m_sharedTable->setAccessibleName(tr("Shared thermals"));
    m_sharedTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_sharedTable->verticalHeader()->hide();
    m_sharedTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_sharedTable->horizontalHeader()->setStretchLastSection(true);
    m_status = new QLabel(tr("Working out the debriefs…") + loadErrors());
    m_status->setWordWrap(true);
    auto* tables = new QWidget;
    auto* tablesLayout = new QVBoxLayout(tables);
    tablesLayout->setContentsMargins(0, 0, 0, 0);
    tablesLayout->addWidget(m_figuresTable, 3);
    tablesLayout->addWidget(new QLabel(tr("Thermals climbed together")));
    tablesLayout->addWidget(m_sharedTable, 2);
    tablesLayout->addWidget(m_status);

    auto* mapPanel = new QWidget;
    auto* mapLayout = new QVBoxLayout(mapPanel);
    mapLayout->setContentsMargins(0, 0, 0, 0);
    mapLayout->addWidget(m_legend);
    mapLayout->addWidget(m_map, 1);
    auto* mapAndTables = new QSplitter(Qt::Horizontal);
    mapAndTables->addWidget(mapPanel);
    mapAndTables->addWidget(tables);
    mapAndTables->setStretchFactor(0, 3);
    mapAndTables->setStretchFactor(1, 2);
    mapAndTables->setSizes({ 760, 520 });
    auto* barogramPanel = new QWidget;
    auto* barogramLayout = new QVBoxLayout(barogramPanel);
    barogramLayout->setContentsMargins(0, 0, 0, 0);
    auto* controls = new QHBoxLayout;
    controls->addWidget(m_align);
    controls->addStretch(1);
    controls->addWidget(m_exportKmz);
    barogramLayout->addLayout(controls);
    barogramLayout->addWidget(m_barogram, 1);
    auto* vertical = new QSplitter(Qt::Vertical);
    vertical->addWidget(mapAndTables);
    vertical->addWidget(barogramPanel);
    vertical->setStretchFactor(0, 3);
    vertical->setStretchFactor(1, 1);
    vertical->setSizes({ 600, 220 });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_replay);
    layout->addWidget(vertical, 1);

    connect(m_barogram, &BarogramView::cursorMoved, this, [this](std::size_t index) {
        const TrackPoints& track = *m_flights[m_lead].track;
        if (index < track.size())
            m_replay->setTime(double(track[index].time + timeShift(m_lead)));
    });

    fitTracks();
    setAlignment(Alignment::ClockTime);
    fillFiguresTable();
    fillSharedTable();
    startDebriefs();
}

CompareWindow::~CompareWindow()
{
    // Before the widgets go: the answers are posted to this window.
    m_debriefWork.cancelAndWait();
}

void CompareWindow::closeEvent(QCloseEvent* event)
{
    if (testAttribute(Qt::WA_DeleteOnClose))
        m_debriefWork.cancel();
    QWidget::closeEvent(event);
}

QString CompareWindow::loadErrors() const
{
    QString text;
    for (const Compared& compared : m_flights)
        if (!compared.loadError.isEmpty())
            text += QLatin1Char(' ') + tr("%1 is left out: %2.").arg(QFileInfo(QString::fromStdString(compared.source.path)).fileName(), compared.loadError);
    return text;
}

void CompareWindow::fitTracks()
{
    if (!m_tracksBounds.isNull())
        m_map->fitMapRect(m_tracksBounds, MapView::defaultFitMargin, false);
}

void CompareWindow::setExportKmz(std::function<void(CompareWindow&)> exportKmz)
{
    m_exportKmzHook = std::move(exportKmz);
    m_exportKmz->setEnabled(static_cast<bool>(m_exportKmzHook));
}

std::int64_t CompareWindow::timeShift(std::size_t index) const
{
    if (m_alignment == Alignment::ClockTime || index >= m_flights.size() || !m_flights[index].igc || m_flights.empty()
        || !m_flights[m_lead].igc)
        return 0;
    return m_flights[m_lead].figures.takeoffTime - m_flights[index].figures.takeoffTime;
}

std::optional<int> CompareWindow::clockOffset() const
{
    if (m_timesInUtc || m_flights.empty() || !m_flights[m_lead].igc)
        return std::nullopt;
    return localOffsetMinutes(m_flights[m_lead].figures.takeoffTime, igcFileTimeZoneMinutes(m_flights[m_lead].source.path));
}

void CompareWindow::setAlignment(Alignment alignment)
{
    m_alignment = alignment;
    if (m_align->currentIndex() != (alignment == Alignment::Takeoff ? 1 : 0))
        m_align->setCurrentIndex(alignment == Alignment::Takeoff ? 1 : 0);
    showBarograms();

    // The replay runs on the window's time axis; each glider reads its own track at
    // that time less its shift.
    std::vector<GliderLayer::Glider> gliders;
    std::int64_t begin = std::numeric_limits<std::int64_t>::max(), end = std::numeric_limits<std::int64_t>::min();
    std::vector<std::int64_t> starts;
    for (std::size_t i = 0; i < m_flights.size(); ++i) {
        const Compared& compared = m_flights[i];
        if (!compared.igc || compared.track->empty())
            continue;
        const std::int64_t shift = timeShift(i);
        gliders.push_back({ compared.track, compared.colour, compared.pilot, -double(shift) });
        begin = std::min(begin, compared.figures.takeoffTime + shift);
        end = std::max(end, compared.figures.landingTime + shift);
        if (compared.debrief)
            for (const analysis::CirclingPhase& thermal : compared.debrief->thermals)
                starts.push_back(thermal.startTime + shift);
    }
    m_gliders->setGliders(std::move(gliders));
    if (begin > end)
        return;
    const double was = m_replay->time();
    m_replay->setSpan(begin, end);
    m_replay->setThermalStarts(std::move(starts));
    m_replay->setClockOffsetMinutes(clockOffset().value_or(0));
    m_replay->setTime(std::clamp(was, double(begin), double(end)));
    setReplayTime(m_replay->time());
}

void CompareWindow::setReplayTime(double time)
{
    m_gliders->setTime(time);
    if (m_flights.empty())
        return;
    // The barogram's cursor on the lead flight's fix at that moment.
    const TrackPoints& track = *m_flights[m_lead].track;
    if (!track.empty()) {
        const double own = time - double(timeShift(m_lead));
        const auto after = std::lower_bound(
            track.begin(), track.end(), own, [](const TrackPoint& point, double t) { return double(point.time) < t; });
        const std::size_t index = after == track.end() ? track.size() - 1 : static_cast<std::size_t>(after - track.begin());
        if (m_barogram->cursorIndex() != index)
            m_barogram->setCursorIndex(index);
    }
    // Not before the window shows: the view has no size to keep anything in yet.
    if (m_replay->isFollowing() && m_map->isVisible())
        if (const auto point = m_gliders->gliderMapPoint(0))
            m_map->keepInView(*point);
}

void CompareWindow::showBarograms()
{
    if (m_flights.empty())
        return;
    const auto samplesOf = [this](std::size_t i) {
        std::vector<BarogramView::Sample> samples;
        const std::int64_t shift = timeShift(i);
        samples.reserve(m_flights[i].track->size());
        for (const TrackPoint& point : *m_flights[i].track)
            samples.push_back({ point.time + shift, static_cast<int>(std::lround(point.altitude)) });
        return samples;
    };
    m_barogram->setSamples(samplesOf(m_lead));
    std::vector<BarogramView::Series> series;
    for (std::size_t i = 0; i < m_flights.size(); ++i)
        if (!m_flights[i].track->empty())
            series.push_back({ samplesOf(i), m_flights[i].colour, m_flights[i].pilot });
    m_barogram->setOverlaySeries(std::move(series));
    m_barogram->setUnits(m_units, clockOffset().value_or(0));
}

void CompareWindow::setUnits(UnitSystem units, bool timesInUtc)
{
    m_units = units;
    m_timesInUtc = timesInUtc;
    m_barogram->setUnits(units, clockOffset().value_or(0));
    m_replay->setClockOffsetMinutes(clockOffset().value_or(0));
    fillFiguresTable();
    fillSharedTable();
}

void CompareWindow::startDebriefs()
{
    struct Job {
        std::size_t index;
        std::shared_ptr<const flights::IgcFlight> igc;
        flights::FlightFigures figures;
    };
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < m_flights.size(); ++i)
        if (m_flights[i].igc)
            jobs.push_back({ i, m_flights[i].igc, m_flights[i].figures });
    m_debriefing = true;
    // One flight after the other: each shows in the table as it comes, and a close
    // stops the pass between two flights.
    m_debriefWork.start(OperationContext(m_workLog).withCancel(CancelToken()), [this, jobs = std::move(jobs)](const OperationContext& context) {
        for (const Job& job : jobs) {
            if (context.isCancelled())
                return;
            std::optional<analysis::FlightDebrief> debrief;
            try {
                debrief = analysis::debriefFlight(*job.igc, job.figures);
            } catch (const std::exception&) {
                // That flight's column says it has none; the others go on.
            }
            if (context.isCancelled())
                return;
            QMetaObject::invokeMethod(
                this,
                [this, index = job.index, debrief = std::move(debrief)]() mutable {
                    m_flights[index].debrief = std::move(debrief);
                    fillFiguresTable();
                },
                Qt::QueuedConnection);
        }
        if (context.isCancelled())
            return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_debriefing = false;
                std::vector<const analysis::FlightDebrief*> debriefs;
                for (const Compared& compared : m_flights)
                    debriefs.push_back(compared.debrief ? &*compared.debrief : nullptr);
                m_shared = analysis::findSharedThermals(debriefs);
                m_status->setText((m_shared.size() == 1 ? tr("1 thermal climbed by two or more of the flights.")
                                                          : tr("%1 thermals climbed by two or more of the flights.").arg(m_shared.size()))
                    + loadErrors());
                fillFiguresTable();
                fillSharedTable();
                // The thermal starts for the replay's steps.
                setAlignment(m_alignment);
                emit debriefsReady();
            },
            Qt::QueuedConnection);
    });
}

QString CompareWindow::figureCell(Figure figure, std::size_t index) const
{
    if (index >= m_flights.size())
        return {};
    const Compared& compared = m_flights[index];
    if (!compared.igc)
        return none;
    const flights::FlightFigures& figures = compared.figures;
    switch (figure) {
    case Figure::Duration:
        return durationText(figures.durationSeconds);
    case Figure::TrackDistance:
        return figureText(Quantity::Distance, figures.trackLengthMetres, m_units);
    case Figure::MaxAltitude: {
        const std::optional<int> highest = figures.altitudeSource == "pressure" ? figures.maxPressureAltitude : figures.maxGnssAltitude;
        return highest ? figureText(Quantity::Altitude, *highest, m_units) : none;
    }
    case Figure::Score:
        // As the library stored it; a file from outside it was never scored here.
        if (compared.source.stored && compared.source.stored->scorePoints)
            return tr("%1 (%2)").arg(scoreText(*compared.source.stored), scoreTypeText(compared.source.stored->scoreType));
        return none;
    default:
        break;
    }
    if (!compared.debrief)
        return none;
    const analysis::DebriefTotals& totals = compared.debrief->totals;
    switch (figure) {
    case Figure::Thermals:
        return QString::number(totals.thermals);
    case Figure::FailedAttempts:
        return QString::number(totals.failedAttempts);
    case Figure::AvgClimb:
        return varioText(totals.avgClimbMs, m_units);
    case Figure::HeightGained:
        return figureText(Quantity::Altitude, totals.heightGainedMetres, m_units);
    case Figure::Circling:
        return QStringLiteral("%1 %").arg(std::lround(100 * totals.circlingShare));
    case Figure::Left:
        return QStringLiteral("%1 %").arg(std::lround(100 * totals.leftShare));
    case Figure::GlideSpeed:
        return figureText(Quantity::Speed, totals.avgGlideSpeedKmh / 3.6, m_units);
    case Figure::GlideRatio:
        return totals.avgGlideRatio ? QString::number(*totals.avgGlideRatio, 'f', 1) : none;
    default:
        return none;
    }
}

void CompareWindow::fillFiguresTable()
{
    static const char* const titles[figureCount] = {
        QT_TR_NOOP("Duration"),
        QT_TR_NOOP("Track distance"),
        QT_TR_NOOP("Max altitude"),
        QT_TR_NOOP("Thermals"),
        QT_TR_NOOP("Failed attempts"),
        QT_TR_NOOP("Avg climb"),
        QT_TR_NOOP("Height gained"),
        QT_TR_NOOP("Circling"),
        QT_TR_NOOP("Circling left"),
        QT_TR_NOOP("Glide speed"),
        QT_TR_NOOP("Glide ratio"),
        QT_TR_NOOP("Score"),
    };
    for (int row = 0; row < figureCount; ++row)
        m_figuresTable->setVerticalHeaderItem(row, new QTableWidgetItem(tr(titles[row])));
    for (std::size_t column = 0; column < m_flights.size(); ++column) {
        const Compared& compared = m_flights[column];
        auto* header = new QTableWidgetItem(compared.pilot);
        header->setForeground(compared.colour);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
        header->setToolTip(compared.loadError.isEmpty() ? QFileInfo(QString::fromStdString(compared.source.path)).fileName()
                                                        : compared.loadError);
        m_figuresTable->setHorizontalHeaderItem(static_cast<int>(column), header);
        for (int row = 0; row < figureCount; ++row) {
            auto* item = new QTableWidgetItem(figureCell(static_cast<Figure>(row), column));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_figuresTable->setItem(row, static_cast<int>(column), item);
        }
    }
}

void CompareWindow::fillSharedTable()
{
    const int flights = static_cast<int>(m_flights.size());
    m_sharedTable->clear();
    m_sharedTable->setColumnCount(flights + 2);
    m_sharedTable->setRowCount(static_cast<int>(m_shared.size()));
    m_sharedTable->setHorizontalHeaderItem(0, new QTableWidgetItem(tr("Start")));
    for (int i = 0; i < flights; ++i) {
        auto* header = new QTableWidgetItem(m_flights[static_cast<std::size_t>(i)].pilot);
        header->setForeground(m_flights[static_cast<std::size_t>(i)].colour);
        m_sharedTable->setHorizontalHeaderItem(i + 1, header);
    }
    m_sharedTable->setHorizontalHeaderItem(flights + 1, new QTableWidgetItem(tr("Faster")));
    const int offset = clockOffset().value_or(0);
    for (std::size_t row = 0; row < m_shared.size(); ++row) {
        const analysis::SharedThermal& shared = m_shared[row];
        const int r = static_cast<int>(row);
        m_sharedTable->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(utcTimeText(shared.start + std::int64_t { offset } * 60, "%H:%M:%S"))));
        const auto faster = analysis::fasterClimb(shared);
        for (std::size_t i = 0; i < shared.flights.size() && i < m_flights.size(); ++i) {
            const auto& part = shared.flights[i];
            auto* item = new QTableWidgetItem(part ? varioText(part->climbMs, m_units) + " / " + signedAltitudeText(part->gainMetres, m_units) : none);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (faster && faster->flight == i) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setForeground(m_flights[i].colour);
                item->setText(QStringLiteral("▲ ") + item->text());
            }
            m_sharedTable->setItem(r, static_cast<int>(i) + 1, item);
        }
        QString verdict;
        if (faster) {
            verdict = m_flights[faster->flight].pilot + QStringLiteral(" ") + varioText(faster->differenceMs, m_units);
            if (faster->differencePercent)
                verdict += QStringLiteral(" (%1 %)").arg(std::lround(*faster->differencePercent));
        }
        m_sharedTable->setItem(r, flights + 1, new QTableWidgetItem(verdict));
    }
}

} // namespace corvex::library
