#pragma once

#include "Commands.h"

#include "base/Result.h"
#include "base/Units.h"
#include "library/FlightLibrary.h"
#include "platform/LogSink.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::cli {

// --library DIR, as every command that reads the flight library takes it.
extern const CliOption libraryOption;

// The library a command works on, or the exit code of why there is none (the reason
// already printed on stderr). Used as the pointer it holds.
struct OpenedLibrary {
    std::unique_ptr<library::FlightLibrary> library;
    ExitCode failure { Success };

    explicit operator bool() const { return library != nullptr; }
    library::FlightLibrary* operator->() const { return library.get(); }
    library::FlightLibrary& operator*() const { return *library; }
};

// The folder --library, $CORVEX_LIBRARY, the preferences or the default name.
std::string chosenLibraryFolder(const CliContext& context);

// Whether the folder holds a flight library: its index, or year folders of IGC files
// (a library whose index was lost and is made again).
bool holdsLibrary(const std::string& folder);

// What a command does with the library once open. Read and Change first index the
// files its folders hold that the index does not know, and forget rows whose file is
// gone, as the desktop program does; Change refuses a read-only library ("the library
// at DIR is read-only: changes are not possible"). Inspect takes the index as it is
// (library check reports the differences itself).
enum class LibraryUse { Read, Change, Inspect };

// For the commands that bring flights in (sync, import): the library, the folder made
// when it is not there yet. The system log by default.
OpenedLibrary openLibrary(CliContext& context, LogSink* log = nullptr);
// For every other command: a folder that holds no library is left untouched, the
// command says "no library at PATH" and fails with NoLibrary, so that a mistyped
// --library never shows an empty library.
OpenedLibrary openExistingLibrary(CliContext& context, LogSink* log = nullptr, LibraryUse use = LibraryUse::Read);

// For the commands that record into the library beside their own work (airspaces
// convert and upload): the library when the folder holds one; else nothing, with a note
// that WHAT was not recorded when --library named the folder.
OpenedLibrary libraryToRecordIn(CliContext& context, const std::string& what);

// The one exit code of each kind of library failure: NoSuchFlight for a flight that is
// not there, FileError for an index that cannot be read or written.
ExitCode exitCodeFor(library::LibraryErrorKind kind);

// The contest rule sets the pilot cares about (the "contestRuleSets" preference), the
// first the one whose score the flights' lists show.
std::vector<std::string> pilotRuleSets();

// The flight a command is given: the argument itself when it is a file, else the
// library's flight with that number. Prints the reason and gives its exit code otherwise.
Result<std::string, ExitCode> flightFilePath(CliContext& context);
// The same for any argument, with the library's row when the argument was its number.
struct GivenFlight {
    std::string path;
    std::optional<library::LibraryFlight> row;
};
Result<GivenFlight, ExitCode> givenFlight(CliContext& context, const std::string& argument);

// "the library has no flight 12 (see corvex library list)", or the index's own reason,
// printed; gives the exit code of the failure.
ExitCode reportFlightLookupFailure(CliContext& context, std::int64_t id, const library::LibraryError& error);

// How the text shows figures and times: --units and --utc, else the preferences.
struct TextChoice {
    UnitSystem units { UnitSystem::Metric };
    bool utc { false };
};
TextChoice textChoice(const CliContext& context);

// What the flight commands print: "2024-10-07T06:27:33Z", a number with its decimals.
std::string isoTime(std::int64_t utc);
std::string fixed(double value, int decimals);

// The commands' JSON: keys in the order they were set.
using Json = nlohmann::ordered_json;
// A measure to the decimals the text output shows; null when it is no number.
Json rounded(double value, int decimals);
// The document as the commands print it: ", " and ": " between items, on one line; with
// objectLines, an array of objects has each object on a line of its own (lists that
// people read and scripts grep). A text that is not UTF-8 has its bad bytes replaced
// instead of failing the command.
enum class JsonLayout { OneLine, ObjectLines };
std::string jsonText(const Json& value, JsonLayout layout = JsonLayout::OneLine);

} // namespace corvex::cli
