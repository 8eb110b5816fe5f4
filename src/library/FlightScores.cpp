#include "library/FlightScores.h"

#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"

#include "platform/OffThread.h"

#include <filesystem>
#include <vector>

namespace corvex::library {

namespace fs = std::filesystem;

namespace {

// Scores written per transaction: one disk sync per batch, and the write lock held
// for a few milliseconds only.
constexpr std::size_t batchSize = 64;

} // namespace

std::optional<StoredScore> scoreIgcFile(const std::string& path)
{
    std::error_code code;
    if (!fs::is_regular_file(path, code))
        return std::nullopt;
    StoredScore stored;
    stored.scorerVersion = currentScorerVersion;
    const auto flight = flights::readIgcFile(path);
    if (!flight)
        return stored;
    if (const auto score = flights::scoreFlight(*flight, flights::ContestRules::XContest)) {
        stored.points = score->points;
        stored.type = std::string(flights::contestTypeName(score->type));
        stored.distanceMetres = score->distanceMetres;
    }
    return stored;
}

ScoreFillOutcome fillScores(FlightIndex& index, const std::string& folder, const OperationContext& context, const ScoreFillOptions& options)
{
    ScoreFillOutcome outcome;
    const auto wanted = index.flightsToScore(currentScorerVersion);
    outcome.total = wanted.size();
    if (wanted.empty())
        return outcome;

    struct Done {
        std::int64_t id;
        std::optional<StoredScore> score;
    };
    std::vector<Done> batch;
    std::size_t seen = 0;
    const auto write = [&] {
        if (batch.empty())
            return;
        std::size_t written = 0;
        FlightIndex::Transaction transaction(index);
        // Another connection writes for long (an import of many files): the batch
        // waits for the next round rather than each score waiting for the lock.
        if (!transaction.active())
            return;
        for (const Done& each : batch) {
            if (!each.score)
                ++outcome.unreadable;
            else if (index.setScore(each.id, *each.score))
                ++written;
        }
        if (transaction.commit()) {
            outcome.scored += written;
            if (options.recorded)
                options.recorded(written);
        }
        batch.clear();
    };
    const std::size_t handled = runOnWorkers(
        context, options.threads, wanted.size(),
        [&](std::size_t i) { return scoreIgcFile((fs::path(folder) / wanted[i].second).string()); },
        [&](std::size_t i, std::optional<StoredScore> score) {
            batch.push_back({ wanted[i].first, std::move(score) });
            if (options.progress)
                options.progress(++seen, wanted.size());
            if (batch.size() >= batchSize || context.isCancelled())
                write();
        });
    write();
    outcome.cancelled = handled < wanted.size();
    return outcome;
}

} // namespace corvex::library
