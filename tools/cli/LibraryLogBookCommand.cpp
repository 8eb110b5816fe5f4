// `corvex library logbook`: the printable log book as A4 PDF pages.
#include "Commands.h"
#include "LibraryAccess.h"

#include "library/FlightLibrary.h"
#include "library/Sites.h"
#include "library/TakeoffTime.h"
#include "library/qt/LogBookPdf.h"

#include <QString>

#include <charconv>
#include <optional>
#include <string>

namespace corvex::cli {

namespace {

int runLogBook(CliContext& context)
{
    std::optional<int> year;
    if (const auto text = context.option("year")) {
        int value = 0;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
        if (error != std::errc {} || end != text->data() + text->size() || value < 1900 || value > 9999) {
            printError(context.err, "--year is a year such as 2024, not " + *text);
            return UsageError;
        }
        year = value;
    }
    const std::string out = context.option("out").value_or("");
    if (out.empty()) {
        printError(context.err, "--out names the PDF file to write");
        return UsageError;
    }
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    auto listed = flights->index().flights();
    if (!listed) {
        printError(context.err, "the flights cannot be listed: " + listed.error().message);
        return exitCodeFor(listed.error().kind);
    }
    const auto sites = library::readSiteBook(*flights);
    if (!sites) {
        printError(context.err, "the sites cannot be read: " + sites.error().message);
        return exitCodeFor(sites.error().kind);
    }
    for (library::LibraryFlight& flight : *listed)
        flight.site = sites->siteName(flight);
    // As the library's list shows them: the pilot's units, each date the take-off's own.
    const TextChoice shown = textChoice(context);
    library::LogBookChoice choice { shown.units, {} };
    if (!shown.utc)
        choice.takeoffOffset = [&](const library::LibraryFlight& flight) {
            return localOffsetMinutes(flight.takeoff, library::igcFileTimeZoneMinutes(flights->pathOf(flight)));
        };
    const auto pages = library::writeLogBookPdf(QString::fromStdString(out), *listed, year, choice);
    if (!pages) {
        printError(context.err, pages.error().message);
        return FileError;
    }
    context.out << "wrote " << out << " (" << *pages << (*pages == 1 ? " page" : " pages") << ")\n";
    return Success;
}

} // namespace

extern const CliCommand libraryLogBookSubcommand {
    .name = "logbook",
    .usage = "--out FILE.pdf [--year Y] [--library DIR]",
    .summary = "the log book as A4 PDF pages: one line a flight, totals carried from page to page",
    .options = {
        { "out", "FILE", "the PDF file to write", true },
        { "year", "Y", "only the flights of that year (numbered on from the years before)" },
        libraryOption,
    },
    .run = runLogBook,
};

} // namespace corvex::cli
