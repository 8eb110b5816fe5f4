#include "LibraryAccess.h"

#include "base/Format.h"
#include "library/LibraryFolder.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/PreferencesStore.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace corvex::cli {

extern const CliOption libraryOption { "library", "DIR",
    "the flight library's folder (default: $CORVEX_LIBRARY, the preferences, or ~/.local/share/Corvex/Flights)" };

namespace {

// The index FlightLibrary keeps in the library's folder.
constexpr const char* indexFileName = "library.sqlite";

bool isIgcName(const std::filesystem::path& path)
{
    std::string suffix = path.extension().string();
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return suffix == ".igc";
}

bool holdsIgcFile(const std::filesystem::path& folder)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (isIgcName(entry->path()) && entry->is_regular_file(error))
            return true;
    return false;
}

OpenedLibrary openFolder(CliContext& context, const std::string& folder, LogSink* log, LibraryUse use)
{
    namespace fs = std::filesystem;
    // A damaged index is set aside and rebuilt; that goes into the system log.
    static SystemLogSink systemLog;
    std::error_code error;
    const bool indexLost = !fs::exists(fs::symlink_status(fs::path(folder) / indexFileName, error));
    auto opened = library::FlightLibrary::open(folder, log ? log : &systemLog);
    if (!opened) {
        printError(context.err, opened.error().message);
        return { nullptr, exitCodeFor(opened.error().kind) };
    }
    library::FlightLibrary& flights = **opened;
    if (flights.readOnly() && use == LibraryUse::Change) {
        printError(context.err, flights.readOnlyError().message);
        return { nullptr, FileError };
    }
    // What every command lists is what the folders hold, as the desktop program's window
    // shows it: files that came while no index was told (a kill, a lock held). A change
    // needs them known first: a file a killed import left is no "_2" copy of itself later.
    const auto reconciled = use == LibraryUse::Inspect ? library::LibraryResult<std::size_t> { std::size_t { 0 } } : flights.reconcile();
    if (!reconciled) {
        const std::string why = "the flights of " + folder + " cannot be indexed: " + reconciled.error().message;
        // An index made anew knows none of the files yet; a change needs every file known.
        if (indexLost || use == LibraryUse::Change) {
            printError(context.err, why);
            return { nullptr, exitCodeFor(reconciled.error().kind) };
        }
        context.err << "corvex: warning: " << why << "\n";
    }
    for (const std::string& unreadable : flights.unreadableFolders())
        context.err << "corvex: warning: cannot read the folder " << unreadable << " of the library at " << folder
                    << ": its flights are listed as the index last knew them\n";
    flights.index().setListedRuleSet(pilotRuleSets().front());
    return { std::move(*opened), Success };
}

} // namespace

std::string chosenLibraryFolder(const CliContext& context)
{
    library::LibraryFolderChoice choice;
    choice.commandLine = context.option("library");
    if (!choice.commandLine) {
        PreferencesStore preferences;
        if (const QString folder = preferences.stringValue("flightLibraryFolder"); !folder.isEmpty())
            choice.preference = folder.toStdString();
    }
    return library::libraryFolder(choice);
}

bool holdsLibrary(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_regular_file(fs::path(folder) / indexFileName, error))
        return true;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::error_code kind;
        if (name.size() == 4 && name.find_first_not_of("0123456789") == std::string::npos && entry->is_directory(kind)
            && holdsIgcFile(entry->path()))
            return true;
    }
    return false;
}

OpenedLibrary openLibrary(CliContext& context, LogSink* log)
{
    return openFolder(context, chosenLibraryFolder(context), log, LibraryUse::Change);
}

OpenedLibrary openExistingLibrary(CliContext& context, LogSink* log, LibraryUse use)
{
    const std::string folder = chosenLibraryFolder(context);
    if (!holdsLibrary(folder)) {
        printError(context.err, "no library at " + folder + " (corvex library import FILES or corvex sync make one)");
        return { nullptr, NoLibrary };
    }
    return openFolder(context, folder, log, use);
}

OpenedLibrary libraryToRecordIn(CliContext& context, const std::string& what)
{
    const std::string folder = chosenLibraryFolder(context);
    if (holdsLibrary(folder)) {
        auto opened = openFolder(context, folder, nullptr, LibraryUse::Read);
        if (opened && opened->readOnly()) {
            context.err << "corvex: note: " << what << " was not recorded: the library at " << folder << " is read-only\n";
            return { nullptr, FileError };
        }
        return opened;
    }
    if (context.option("library"))
        context.err << "corvex: note: " << visibleText(what) << " was not recorded: no library at " << visibleText(folder) << "\n";
    return { nullptr, NoLibrary };
}

ExitCode exitCodeFor(library::LibraryErrorKind kind)
{
    switch (kind) {
    case library::LibraryErrorKind::NotFound:
        return NoSuchFlight;
    case library::LibraryErrorKind::Damaged:
    case library::LibraryErrorKind::Unusable:
    case library::LibraryErrorKind::Io:
    case library::LibraryErrorKind::Busy:
        return FileError;
    }
    return FileError;
}

ExitCode reportFlightLookupFailure(CliContext& context, std::int64_t id, const library::LibraryError& error)
{
    printError(context.err, error.kind == library::LibraryErrorKind::NotFound
            ? "the library has no flight " + std::to_string(id) + " (see corvex library list)"
            : error.message);
    return exitCodeFor(error.kind);
}

std::vector<std::string> pilotRuleSets()
{
    PreferencesStore preferences;
    return library::contestRuleSetList(preferences.stringValue("contestRuleSets").toStdString());
}

Result<std::string, ExitCode> flightFilePath(CliContext& context)
{
    auto given = givenFlight(context, context.arguments.front());
    if (!given)
        return Failure { given.error() };
    return std::move(given->path);
}

Result<GivenFlight, ExitCode> givenFlight(CliContext& context, const std::string& argument)
{
    std::error_code error;
    if (std::filesystem::exists(argument, error))
        return GivenFlight { argument, std::nullopt };
    const bool number = !argument.empty() && argument.size() < 19
        && argument.find_first_not_of("0123456789") == std::string::npos;
    if (!number) {
        printError(context.err, "cannot read " + argument + ": no such file (nor a flight number of the library)");
        return Failure { FileError };
    }
    auto flights = openExistingLibrary(context);
    if (!flights)
        return Failure { flights.failure };
    const std::int64_t id = std::stoll(argument);
    const auto flight = flights->index().flight(id);
    if (!flight)
        return Failure { reportFlightLookupFailure(context, id, flight.error()) };
    return GivenFlight { flights->pathOf(*flight), *flight };
}

TextChoice textChoice(const CliContext& context)
{
    TextChoice choice;
    const PreferencesStore preferences;
    choice.units = context.units ? *context.units
                                 : parseUnitSystem(preferences.stringValue("units").toStdString()).value_or(UnitSystem::Metric);
    choice.utc = context.utc || preferences.boolValue("timesInUtc");
    return choice;
}

std::string isoTime(std::int64_t utc)
{
    return utcTimeText(utc, "%Y-%m-%dT%H:%M:%SZ");
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

Json rounded(double value, int decimals)
{
    if (!std::isfinite(value))
        return nullptr;
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

namespace {

void appendJson(std::string& out, const Json& value, JsonLayout layout)
{
    if (value.is_object()) {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : value.items()) {
            out += first ? "" : ", ";
            first = false;
            out += Json(key).dump(-1, ' ', false, Json::error_handler_t::replace);
            out += ": ";
            appendJson(out, item, layout);
        }
        out += '}';
        return;
    }
    if (value.is_array()) {
        const bool objects = layout == JsonLayout::ObjectLines && !value.empty() && std::all_of(value.begin(), value.end(), [](const Json& item) { return item.is_object(); });
        out += '[';
        bool first = true;
        for (const Json& item : value) {
            out += objects ? (first ? "\n " : ",\n ") : (first ? "" : ", ");
            first = false;
            appendJson(out, item, layout);
        }
        out += objects ? "\n]" : "]";
        return;
    }
    out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string jsonText(const Json& value, JsonLayout layout)
{
    std::string text;
    appendJson(text, value, layout);
    // The JSON writer escapes the C0 controls only; DEL and the C1 controls (which some
    // terminals obey) are escaped here. Outside strings the document holds only ASCII,
    // so each such byte is inside a string.
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0x7F) {
            escaped += "\\u007f";
        } else if (byte == 0xC2 && next >= 0x80 && next < 0xA0) {
            escaped += formatString("\\u%04x", next);
            ++i;
        } else {
            escaped += text[i];
        }
    }
    return escaped;
}

} // namespace corvex::cli
