#pragma once

#include "analysis/AirspaceCheck.h"
#include "base/FileRead.h"
#include "base/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A flight checked against the airspaces of an OpenAir file on disk: the sequence the
// flight view and `corvex airspace-check` share, with the one limit on what is read.
namespace corvex::analysis {

// The largest files of whole continents are a few megabytes: anything far larger was
// chosen by mistake, and reading it whole could exhaust the memory.
constexpr std::uintmax_t largestOpenAirFileBytes = largestFileBytes(FileKind::OpenAir);

struct OpenAirFileError {
    enum class Kind {
        Unreadable, // missing, not a regular file, or the read failed: `reason` says why
        TooLarge, // over largestOpenAirFileBytes: `size` says how large
        NoAirspace, // nothing in it, not even a line that failed to read
        NotOpenAir, // no airspace read; `line` and `reason` are the first line that did not
    };
    Kind kind;
    std::string reason;
    std::uintmax_t size { 0 };
    std::size_t line { 0 };
};

struct AirspaceFileCheck {
    // What the file held; a line that did not read is among its errors, and the check
    // went on with the rest.
    openair::ParseResult parsed;
    AirspaceCheck check;
    // The airspaces near the track (airspacesNearTrack), when a margin was asked for.
    std::vector<std::size_t> near;
};

// Reads the file and, with a flight, checks it against the airspaces; without one, the
// reading alone. A file that holds no airspace is a failure. `options` bring terrain,
// the geoid and the pilot's tolerances to the check.
Result<AirspaceFileCheck, OpenAirFileError> checkAgainstOpenAirFile(const std::string& path,
    const flights::IgcFlight* flight, std::optional<double> nearMarginMetres = std::nullopt,
    const AirspaceCheckOptions& options = {});

} // namespace corvex::analysis
