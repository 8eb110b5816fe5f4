#include "library/FlightScores.h"

#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
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
    if (const auto score = flights::scoreFlight(*flight, *flights::findContestRuleSet("xcontest"))) {
        stored.points = score->points;
        stored.type = std::string(flights::contestTypeName(score->type));
        stored.distanceMetres = score->distanceMetres;
    }
    return stored;
}

ScoreFillOutcome fillScores(FlightIndex& index, const std::string& folder, const ScoreFillOptions& options)
{
    ScoreFillOutcome outcome;
    const auto wanted = index.flightsToScore(currentScorerVersion);
    outcome.total = wanted.size();
    if (wanted.empty())
        return outcome;
    const auto cancelled = [&] { return options.cancel && options.cancel->load(); };

    struct Done {
        std::int64_t id;
        std::optional<StoredScore> score;
    };
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Done> done;
    std::atomic<std::size_t> next { 0 };
    std::atomic<bool> stop { false };
    std::size_t running = std::min<std::size_t>(
        options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency()), wanted.size());

    const auto work = [&] {
        for (std::size_t i; !stop && (i = next++) < wanted.size();) {
            auto score = scoreIgcFile((fs::path(folder) / wanted[i].second).string());
            std::lock_guard lock(mutex);
            done.push_back({ wanted[i].first, std::move(score) });
            ready.notify_one();
        }
        std::lock_guard lock(mutex);
        --running;
        ready.notify_one();
    };
    std::vector<std::thread> workers;
    const std::size_t count = running;
    for (std::size_t i = 0; i < count; ++i)
        workers.emplace_back(work);

    std::size_t handled = 0;
    std::vector<Done> batch;
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
    for (;;) {
        std::unique_lock lock(mutex);
        // Woken by a result or the last worker's end; the timeout is for a cancel.
        ready.wait_for(lock, std::chrono::milliseconds(100), [&] { return !done.empty() || running == 0; });
        std::deque<Done> arrived;
        arrived.swap(done);
        const bool finished = running == 0;
        lock.unlock();
        for (Done& each : arrived) {
            batch.push_back(std::move(each));
            ++handled;
            if (options.progress)
                options.progress(handled, wanted.size());
        }
        if (cancelled())
            stop = true;
        if (batch.size() >= batchSize || finished || stop)
            write();
        if (finished)
            break;
    }
    for (std::thread& worker : workers)
        worker.join();
    write();
    outcome.cancelled = stop && handled < wanted.size();
    return outcome;
}

} // namespace corvex::library
