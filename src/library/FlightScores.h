#pragma once

#include "library/FlightIndex.h"
#include "platform/OperationContext.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace corvex::library {

// Which solver made a stored score. A solver that finds better scores raises it; the
// flights scored by an older one count as unscored and are scored again.
constexpr int currentScorerVersion = 1;

// The XContest score of one IGC file as the index keeps it. Nothing when the file
// cannot be read now (it may be back later); a file that reads but has no score gives
// a score without points, so that it is not tried again.
std::optional<StoredScore> scoreIgcFile(const std::string& path);

struct ScoreFillOptions {
    // After each flight, on the calling thread.
    std::function<void(std::size_t done, std::size_t total)> progress;
    // Flights scored at once; 0: one per processor.
    unsigned threads { 0 };
    // After each batch of scores is written, with how many there were.
    std::function<void(std::size_t written)> recorded;
};

struct ScoreFillOutcome {
    std::size_t total { 0 }; // flights that lacked a score
    std::size_t scored { 0 }; // written, with or without points
    std::size_t unreadable { 0 }; // left for a later pass
    bool cancelled { false };
};

// Scores every flight of the index that has no score of the current scorer, the files
// found under `folder`. The scoring runs on worker threads; the index is written only
// from the calling thread, in short transactions, so a window reading the same file
// through another connection is never held up for long. The context's cancel stops it
// between flights.
ScoreFillOutcome fillScores(FlightIndex& index, const std::string& folder, const OperationContext& context, const ScoreFillOptions& options = {});

} // namespace corvex::library
