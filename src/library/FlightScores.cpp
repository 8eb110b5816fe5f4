#include "library/FlightScores.h"

#include "flights/ContestRules.h"
#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"
#include "library/LibraryTable.h"

#include "platform/OffThread.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <vector>

namespace corvex::library {

namespace fs = std::filesystem;

namespace {

// Scores written per transaction: one disk sync per batch, and the write lock held
// for a few milliseconds only.
constexpr std::size_t batchSize = 64;

// What a worker made of one flight: nothing when its file cannot be read now (it may
// be back later); a file that reads but has no score gives scores without points, so
// that it is not tried again.
struct FlightWork {
    std::optional<LibraryFlight> figures;
    std::vector<RuleSetScore> scores;
    // Analysed: the debrief below is stored, nothing in it for a file without one.
    bool analysed { false };
    std::optional<StoredDebrief> debrief;
    bool unreadable { false };
    bool cancelled { false }; // stopped inside its search: nothing of it is written
};

StoredScore scoreUnder(const flights::IgcFlight& flight, const std::vector<flights::FlightFigures>& parts,
    const std::string& ruleSet, int part, const std::string& scoredTrack, const CancelToken* cancel = nullptr)
{
    StoredScore stored;
    stored.version = figuresVersion;
    const flights::ContestRuleSet* rules = flights::findContestRuleSet(ruleSet);
    if (!rules || part < 0 || static_cast<std::size_t>(part) >= parts.size())
        return stored;
    // A recorder that never left the ground (switched on in the car, left on in the
    // harness for an afternoon) has no flight: a search over its jitter costs the most of
    // any track and finds points nobody flew. It is scored as a flight without points.
    if (!parts[static_cast<std::size_t>(part)].movementDetected)
        return stored;
    const auto scored = flights::scoredPart(
        flight, parts, static_cast<std::size_t>(part), flights::trackToScore(*rules, flights::scoredTrackFromName(scoredTrack)));
    if (!scored)
        return stored;
    stored.from = scored->from;
    stored.to = scored->to;
    if (const auto score = flights::scoreFixes(flight.fixes, scored->first, scored->last, *rules, cancel)) {
        stored.points = score->points;
        stored.type = std::string(flights::contestTypeName(score->type));
        stored.distanceMetres = score->distanceMetres;
    }
    return stored;
}

// A debrief the analysis could not make is "nothing", stored so that the file is not
// analysed again at every pass.
std::optional<StoredDebrief> debriefOf(
    const DebriefMaker& maker, const flights::IgcFlight& flight, const flights::FlightFigures& figures)
{
    try {
        return maker(flight, figures);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

FlightWork workOn(const std::string& path, const FlightToScore& wanted, const DebriefMaker& maker, const CancelToken& cancel)
{
    const bool analyse = wanted.debrief && maker;
    FlightWork work;
    std::error_code code;
    if (!fs::is_regular_file(path, code)) {
        work.unreadable = true;
        return work;
    }
    const auto flight = flights::readIgcFile(path);
    if (!flight) {
        // Nothing to compute figures from: the old ones stay, for a later pass to try
        // again. Current figures with a file that no longer reads: no score.
        work.unreadable = wanted.figures;
        for (const std::string& ruleSet : wanted.ruleSets)
            work.scores.push_back({ ruleSet, StoredScore { std::nullopt, {}, std::nullopt, figuresVersion } });
        work.analysed = analyse && !wanted.figures;
        return work;
    }
    // The figures and scores of the row's own flight of the file. A file that no
    // longer holds that many flights is left for the library to sort out (a rebuild).
    const std::vector<flights::FlightFigures> parts = flights::computeFlights(*flight);
    if (wanted.part < 0 || static_cast<std::size_t>(wanted.part) >= parts.size()) {
        work.unreadable = true;
        return work;
    }
    if (wanted.figures) {
        LibraryFlight figures;
        figures.id = wanted.id;
        fillFigures(figures, *flight, parts[static_cast<std::size_t>(wanted.part)]);
        work.figures = std::move(figures);
    }
    for (const std::string& ruleSet : wanted.ruleSets)
        work.scores.push_back({ ruleSet, scoreUnder(*flight, parts, ruleSet, wanted.part, wanted.scoredTrack, &cancel) });
    if (analyse) {
        work.analysed = true;
        work.debrief = debriefOf(maker, *flight, parts[static_cast<std::size_t>(wanted.part)]);
    }
    // A search stopped by a cancel has no score to keep: not even "none", which would
    // never be tried again. The flight waits for the next pass whole.
    if (cancel.isCancelled()) {
        work.figures.reset();
        work.scores.clear();
        work.analysed = false;
        work.cancelled = true;
    }
    return work;
}

} // namespace

void fillFigures(LibraryFlight& flight, const flights::IgcFlight& igc, const flights::FlightFigures& figures)
{
    flight.takeoff = figures.takeoffTime;
    flight.landing = figures.landingTime;
    flight.durationSeconds = figures.durationSeconds;
    flight.takeoffLatitude = figures.takeoff.latitude;
    flight.takeoffLongitude = figures.takeoff.longitude;
    flight.landingLatitude = figures.landing.latitude;
    flight.landingLongitude = figures.landing.longitude;
    flight.maxPressureAltitude = figures.maxPressureAltitude;
    flight.minPressureAltitude = figures.minPressureAltitude;
    flight.maxGnssAltitude = figures.maxGnssAltitude;
    flight.minGnssAltitude = figures.minGnssAltitude;
    flight.bestClimb = figures.bestClimb;
    flight.bestSink = figures.bestSink;
    flight.trackMetres = figures.trackLengthMetres;
    flight.distanceMetres = figures.takeoffToLandingMetres;
    flight.pilot = figures.pilot;
    flight.glider = gliderName(figures.glider);
    flight.fixes = static_cast<std::int64_t>(igc.fixes.size());
    flight.altitudeSource = figures.altitudeSource;
    flight.figuresMadeBy = figuresVersion;
}

std::vector<std::string> contestRuleSetList(std::string_view preference)
{
    std::vector<std::string> ruleSets;
    std::string id;
    const auto take = [&] {
        if (!id.empty() && std::find(ruleSets.begin(), ruleSets.end(), id) == ruleSets.end())
            ruleSets.push_back(id);
        id.clear();
    };
    for (const char c : preference) {
        if (c == ',' || std::isspace(static_cast<unsigned char>(c)))
            take();
        else
            id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    take();
    if (ruleSets.empty())
        ruleSets.push_back(defaultContestRuleSet);
    return ruleSets;
}

std::string contestRuleSetName(const std::string& ruleSet)
{
    const flights::ContestRuleSet* rules = flights::findContestRuleSet(ruleSet);
    return rules ? std::string(rules->name) : ruleSet;
}

bool isKnownRuleSet(const std::string& ruleSet) { return flights::findContestRuleSet(ruleSet) != nullptr; }

StoredScore scoreUnderRuleSet(const flights::IgcFlight& flight, const std::string& ruleSet, int part, const std::string& scoredTrack)
{
    return scoreUnder(flight, flights::computeFlights(flight), ruleSet, part, scoredTrack);
}

LibraryResult<ScoreFillOutcome> fillScores(
    FlightIndex& index, const std::string& folder, const OperationContext& context, const ScoreFillOptions& options)
{
    ScoreFillOutcome outcome;
    std::vector<std::string> ruleSets;
    for (const std::string& ruleSet : options.ruleSets)
        if (isKnownRuleSet(ruleSet) && std::find(ruleSets.begin(), ruleSets.end(), ruleSet) == ruleSets.end())
            ruleSets.push_back(ruleSet);
    if (options.ruleSets.empty())
        ruleSets.push_back(defaultContestRuleSet);
    auto found = index.flightsToScore(
        ruleSets, figuresVersion, options.debrief ? std::optional<int>(debriefVersion) : std::nullopt);
    if (!found)
        return Failure { found.error() };
    const std::vector<FlightToScore>& wanted = *found;
    outcome.total = wanted.size();
    if (wanted.empty())
        return outcome;

    struct Done {
        std::int64_t id;
        FlightWork work;
    };
    std::vector<Done> batch;
    std::size_t seen = 0;
    const auto write = [&] {
        if (batch.empty())
            return;
        std::size_t written = 0, refigured = 0, debriefed = 0;
        FlightIndex::Transaction transaction(index);
        // Another connection writes for long (an import of many files): the batch
        // waits for the next round rather than each score waiting for the lock.
        if (!transaction.active())
            return;
        for (const Done& each : batch) {
            if (each.work.cancelled)
                continue;
            if (each.work.unreadable) {
                ++outcome.unreadable;
                continue;
            }
            bool stored = true;
            if (each.work.figures) {
                stored = index.setFigures(*each.work.figures).hasValue();
                refigured += stored;
            }
            for (const RuleSetScore& score : each.work.scores)
                stored = index.setScore(each.id, score.ruleSet, score.score).hasValue() && stored;
            if (each.work.analysed) {
                const bool kept = index.setDebrief(each.id, each.work.debrief, debriefVersion).hasValue();
                debriefed += kept;
                stored = kept && stored;
            }
            written += stored;
        }
        if (transaction.commit()) {
            outcome.scored += written;
            outcome.refigured += refigured;
            outcome.debriefed += debriefed;
            if (options.recorded)
                options.recorded(written);
        }
        batch.clear();
    };
    const std::size_t handled = runOnWorkers(
        context, options.threads, wanted.size(),
        [&](std::size_t i) {
            return workOn((fs::path(folder) / wanted[i].file).string(), wanted[i], options.debrief, context.cancelToken());
        },
        [&](std::size_t i, FlightWork made) {
            batch.push_back({ wanted[i].id, std::move(made) });
            if (options.progress)
                options.progress(++seen, wanted.size());
            if (batch.size() >= batchSize || context.isCancelled())
                write();
        });
    write();
    // The last round could not have the lock either: what it holds is not in the index,
    // which a caller must hear rather than take the pass for done.
    for (const Done& each : batch)
        outcome.unwritten += !each.work.cancelled && !each.work.unreadable;
    outcome.cancelled = handled < wanted.size() || context.isCancelled();
    return outcome;
}

} // namespace corvex::library
