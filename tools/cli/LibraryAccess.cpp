#include "LibraryAccess.h"

#include "base/Format.h"
#include "library/LibraryFolder.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/PreferencesStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace corvex::cli {

extern const CliOption libraryOption { "library", "DIR",
    "the flight library's folder (default: $CORVEX_LIBRARY, the preferences, or ~/.local/share/Corvex/Flights)" };

std::unique_ptr<library::FlightLibrary> openLibrary(CliContext& context, LogSink* log)
{
    // A damaged index is set aside and rebuilt; that goes into the system log.
    static SystemLogSink systemLog;
    if (!log)
        log = &systemLog;
    library::LibraryFolderChoice choice;
    choice.commandLine = context.option("library");
    if (!choice.commandLine) {
        PreferencesStore preferences;
        if (const QString folder = preferences.stringValue("flightLibraryFolder"); !folder.isEmpty())
            choice.preference = folder.toStdString();
    }
    auto opened = library::FlightLibrary::open(library::libraryFolder(choice), log);
    if (!opened) {
        printError(context.err, opened.error().message);
        return nullptr;
    }
    (*opened)->index().setListedRuleSet(pilotRuleSets().front());
    return std::move(*opened);
}

std::vector<std::string> pilotRuleSets()
{
    PreferencesStore preferences;
    return library::contestRuleSetList(preferences.stringValue("contestRuleSets").toStdString());
}

std::optional<std::string> flightFilePath(CliContext& context)
{
    const std::string& argument = context.arguments.front();
    std::error_code error;
    if (std::filesystem::exists(argument, error))
        return argument;
    const bool number = !argument.empty() && argument.size() < 19
        && argument.find_first_not_of("0123456789") == std::string::npos;
    if (!number) {
        printError(context.err, "cannot read " + argument + ": no such file (nor a flight number of the library)");
        return std::nullopt;
    }
    auto flights = openLibrary(context);
    if (!flights)
        return std::nullopt;
    const auto flight = flights->index().flight(std::stoll(argument));
    if (!flight) {
        printError(context.err, flight.error().kind == library::LibraryErrorKind::NotFound
                ? "the library has no flight " + argument + " (see corvex library list)"
                : flight.error().message);
        return std::nullopt;
    }
    return flights->pathOf(*flight);
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
    return text;
}

} // namespace corvex::cli
