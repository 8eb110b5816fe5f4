#include "app/LibraryController.h"

#include "base/Sha256.h"
#include "export/TrackLogExport.h"
#include "library/FlightLibrary.h"
#include "library/FlightScores.h"
#include "library/FlightSync.h"
#include "library/qt/LibraryDebrief.h"
#include "library/LibraryFolder.h"
#include "library/ui/LibraryWindow.h"
#include "map/qt/MapBaseLayer.h"
#include "platform/AlertPresenter.h"
#include "platform/LogSink.h"
#include "platform/qt/PreferencesStore.h"
#include "terrain/TerrainTiles.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <ctime>
#include <string_view>
#include <utility>

namespace corvex {

namespace {

const QString syncKey = QStringLiteral("syncFlightsOnConnection");
const QString folderKey = QStringLiteral("flightLibraryFolder");
const QString ruleSetsKey = QStringLiteral("contestRuleSets");
const QString unitsKey = QStringLiteral("units");
const QString timesInUtcKey = QStringLiteral("timesInUtc");

// Per-flight alerts would stop a sync nobody asked for at every flight; the summary
// says what failed instead.
class SilentAlerts final : public AlertPresenter {
public:
    int showAlert(const Alert&) override { return 0; }
};

} // namespace

QString syncSummary(const library::SyncOutcome& outcome)
{
    if (outcome.listFailure)
        return QObject::tr("The flights could not be saved into the library: %1")
            .arg(QString::fromStdString(deviceErrorSummary(*outcome.listFailure)));
    const std::size_t added = outcome.added.size(), already = outcome.alreadyInLibrary, failed = outcome.failed.size();
    QString text = added == 0 ? QObject::tr("No new flights; %1 already in the library").arg(already)
        : added == 1          ? QObject::tr("1 new flight saved into the library")
                              : QObject::tr("%1 new flights saved into the library").arg(added);
    if (failed > 0)
        text += (failed == 1 ? QObject::tr("; 1 could not be read") : QObject::tr("; %1 could not be read").arg(failed))
            + QObject::tr(" (plug the instrument in again to retry)");
    return text;
}

LibraryController::LibraryController(
    PreferencesStore& preferences, LogSink& log, AlertPresenter& alerts, HttpClient* mapTiles, QObject* parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_log(log)
    , m_alerts(alerts)
    , m_mapTiles(mapTiles)
{
    connect(&m_preferences, &PreferencesStore::changed, this, &LibraryController::preferencesChanged);
    if (auto* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &LibraryController::stopScoring);
}

LibraryController::~LibraryController()
{
    stopScoring();
    delete m_window;
}

void LibraryController::keepConvertedOpenAir(const QString& path, const QByteArray& openAir, const Bytes& set)
{
    auto* flights = library();
    if (!flights)
        return;
    const auto kept = flights->airspaces().keep(std::string_view(openAir.constData(), static_cast<std::size_t>(openAir.size())),
        path.toStdString(), library::AirspaceUse::Converted, std::time(nullptr), Sha256::hexOf(set));
    if (!kept)
        logLine(m_log, "The OpenAir file %s was not kept in the flight library: %s", path.toUtf8().constData(),
            kept.error().message.c_str());
}

void LibraryController::recordAirspacesUpload(const Bytes& set, const std::string& serial)
{
    auto* flights = library();
    if (!flights || serial.empty())
        return;
    const auto source = flights->airspaces().recordUpload(Sha256::hexOf(set), serial, std::time(nullptr));
    if (!source)
        logLine(m_log, "The flight library cannot record the upload: %s", source.error().message.c_str());
    else if (*source)
        logLine(m_log, "The flight library records %s as the airspaces of instrument %s", (*source)->name.c_str(), serial.c_str());
}

void LibraryController::scoreMissingFlights()
{
    // A library that cannot be written keeps the scores it has.
    if (!m_library || m_library->readOnly())
        return;
    if (m_scoring.started()) {
        m_scoreAgain = true;
        return;
    }
    m_scoredSinceReload = 0;
    const std::string indexPath = m_library->indexPath();
    const std::string folder = m_library->folder();
    // Not the window's connection: SQLite's WAL lets this one write while the window
    // reads, and the window's thread never waits for a score. The pass logs nothing,
    // so its context needs no log that is safe on its thread.
    const std::uint64_t pass = ++m_scoringPass;
    m_scoring.start(OperationContext(m_scoringLog).withCancel(CancelToken()),
        [this, pass, indexPath, folder, ruleSets = m_ruleSets](const OperationContext& context) {
        std::size_t scored = 0;
        bool cancelled = false;
        std::string failure;
        auto opened = library::FlightIndex::open(indexPath);
        if (!opened) {
            failure = opened.error().message;
        } else {
            library::ScoreFillOptions options;
            options.ruleSets = ruleSets;
            options.debrief = library::libraryDebriefMaker();
            // One processor stays with the window.
            const unsigned processors = std::thread::hardware_concurrency();
            options.threads = processors > 1 ? processors - 1 : 1;
            options.progress = [this](std::size_t done, std::size_t total) {
                QMetaObject::invokeMethod(this, [this, done, total] { scoringProgressed(done, total); }, Qt::QueuedConnection);
            };
            const auto outcome = library::fillScores(**opened, folder, context, options);
            if (outcome) {
                scored = outcome->scored;
                cancelled = outcome->cancelled;
                if (outcome->unwritten > 0)
                    failure = std::to_string(outcome->unwritten) + " scores were not written, the index being busy; the next pass scores them";
            } else {
                failure = outcome.error().message;
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, pass, scored, cancelled, failure] {
                if (!failure.empty())
                    logLine(m_log, "The flights of the library cannot be scored: %s", failure.c_str());
                scoringEnded(pass, scored, cancelled);
            },
            Qt::QueuedConnection);
    });
}

void LibraryController::stopScoring()
{
    if (!m_scoring.started())
        return;
    m_scoring.cancelAndWait();
    m_scoreAgain = false;
}

void LibraryController::scoringProgressed(std::size_t done, std::size_t total)
{
    if (!m_window)
        return;
    m_window->showStatus(tr("Analysing flights: %1 of %2…").arg(done).arg(total));
    // The table follows in steps, not at every flight: a reload reads the whole index.
    if (++m_scoredSinceReload >= 50) {
        m_scoredSinceReload = 0;
        m_window->reload();
        m_window->showStatus(tr("Analysing flights: %1 of %2…").arg(done).arg(total));
    }
}

void LibraryController::scoringEnded(std::uint64_t pass, std::size_t scored, bool cancelled)
{
    if (pass != m_scoringPass || cancelled)
        return;
    m_scoring.wait();
    if (m_window && scored > 0) {
        m_window->reload();
        logLine(m_log, "%zu flights of the library were scored", scored);
    }
    emit scoringFinished(scored);
    if (std::exchange(m_scoreAgain, false))
        scoreMissingFlights();
}

bool LibraryController::syncsOnConnection() const { return m_preferences.boolValue(syncKey); }

void LibraryController::setSaveNewFlightsAvailable(bool available, const QString& why)
{
    m_saveNewFlightsAvailable = available;
    m_saveNewFlightsUnavailable = why;
    if (m_window)
        m_window->setSaveNewFlightsAvailable(available, why);
}

library::FlightLibrary* LibraryController::library()
{
    if (m_library)
        return m_library.get();
    library::LibraryFolderChoice choice;
    choice.preference = m_preferences.stringValue(folderKey).toStdString();
    const std::string folder = library::libraryFolder(choice);
    auto opened = library::FlightLibrary::open(folder, &m_log);
    if (!opened) {
        logLine(m_log, "%s", opened.error().message.c_str());
        m_alerts.showAlert(Alert { "The flight library cannot be opened",
            opened.error().message + ". Choose another folder for it in the preferences." });
        return nullptr;
    }
    m_library = std::move(*opened);
    m_openFolder = folder;
    m_ruleSets = library::contestRuleSetList(m_preferences.stringValue(ruleSetsKey).toStdString());
    m_library->index().setListedRuleSet(m_ruleSets.front());
    if (const auto reconciled = m_library->reconcile(); !reconciled) {
        logLine(m_log, "The flight library cannot be brought up to date: %s", reconciled.error().message.c_str());
        m_alerts.showAlert(Alert { "The flight library cannot be brought up to date with its folder",
            reconciled.error().message + "." });
    }
    if (m_library->readOnly())
        logLine(m_log, "%s: it is shown as it is", m_library->readOnlyError().message.c_str());
    // Flights of an older index, or that came while the program was away.
    scoreMissingFlights();
    return m_library.get();
}

void LibraryController::applyUnits()
{
    if (!m_window)
        return;
    const auto units = parseUnitSystem(m_preferences.stringValue(unitsKey).toStdString()).value_or(UnitSystem::Metric);
    m_window->setUnits(units, m_preferences.boolValue(timesInUtcKey));
    // The airspace checks' terrain ($CORVEX_TERRAIN over the preference) and tolerances.
    library::FlightWindow::AirspaceCheckSettings airspaces;
    terrain::TerrainFolderChoice terrain;
    terrain.preference = m_preferences.stringValue(QStringLiteral("terrainFolder")).toStdString();
    airspaces.terrainFolder = terrain::terrainFolder(terrain);
    airspaces.tolerance.horizontalMetres = std::max(0.0, m_preferences.value(QStringLiteral("airspaceToleranceHorizontal")).toDouble());
    airspaces.tolerance.verticalMetres = std::max(0.0, m_preferences.value(QStringLiteral("airspaceToleranceVertical")).toDouble());
    m_window->setAirspaceCheckSettings(airspaces);
}

void LibraryController::preferencesChanged()
{
    if (!m_library)
        return;
    applyUnits();
    library::LibraryFolderChoice choice;
    choice.preference = m_preferences.stringValue(folderKey).toStdString();
    if (library::libraryFolder(choice) == m_openFolder) {
        // Other rule sets: the table shows the first one's scores, the pass scores them all.
        auto ruleSets = library::contestRuleSetList(m_preferences.stringValue(ruleSetsKey).toStdString());
        if (ruleSets == m_ruleSets)
            return;
        m_ruleSets = std::move(ruleSets);
        m_library->index().setListedRuleSet(m_ruleSets.front());
        if (m_window)
            m_window->reload();
        scoreMissingFlights();
        return;
    }
    // Another folder: the window shows the old one's flights no more.
    stopScoring();
    delete m_window;
    m_library.reset();
}

void LibraryController::showWindow()
{
    auto* flights = library();
    if (!flights)
        return;
    if (!m_window) {
        m_window = new library::LibraryWindow(*flights);
        m_window->flightsAdded = [this] { scoreMissingFlights(); };
        m_window->saveNewFlights = [this] { emit saveNewFlightsRequested(); };
        m_window->setSaveNewFlightsAvailable(m_saveNewFlightsAvailable, m_saveNewFlightsUnavailable);
        applyUnits();
        if (m_mapTiles)
            m_window->mapBaseLayer = [this] {
                if (!m_mapBaseLayer) {
                    MapBaseLayer::Options tiles;
                    tiles.userAgent = MapBaseLayer::userAgentFor(QCoreApplication::applicationVersion());
                    m_mapBaseLayer = std::make_shared<MapBaseLayer>(*m_mapTiles, m_preferences, tiles);
                }
                return m_mapBaseLayer;
            };
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QString LibraryController::sync(InstrumentSession::Lease& lease, const std::string& programVersion, const OperationContext& context)
{
    auto* flights = library();
    if (!flights)
        return tr("The flight library cannot be opened");
    // Nothing would be saved: say so once instead of a failure per flight.
    if (flights->readOnly()) {
        QString summary = QString::fromStdString(flights->readOnlyError().message);
        summary[0] = summary[0].toUpper();
        logLine(m_log, "No flight was saved: %s", flights->readOnlyError().message.c_str());
        if (m_window)
            m_window->showStatus(summary + ".");
        return summary;
    }
    SilentAlerts alerts;
    library::SyncHooks hooks;
    hooks.added = [this](const library::ImportOutcome&) {
        if (m_window)
            m_window->reload();
    };
    const library::SyncOutcome outcome = library::syncInstrument(lease.device(), *flights,
        TrackLogExportOptions { &alerts, programVersion }, context, hooks);
    for (const auto& failed : outcome.failed)
        logLine(m_log, "Flight %lld was not saved into the library: %s", static_cast<long long>(failed.flightNumber),
            failed.reason.c_str());
    const QString summary = syncSummary(outcome);
    if (m_window) {
        m_window->reload();
        m_window->showStatus(summary + ".");
    }
    if (!outcome.added.empty())
        scoreMissingFlights();
    logLine(m_log, "%s", summary.toUtf8().constData());
    return summary;
}

} // namespace corvex
