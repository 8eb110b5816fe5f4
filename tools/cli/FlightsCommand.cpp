#include "Commands.h"

#include "export/FlightRecordText.h"

#include <cstdio>
#include <ostream>

namespace corvex::cli {

namespace {

std::string durationText(double seconds)
{
    long total = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

int runFlights(CliContext& context)
{
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    auto flights = session.device().listFlightsShort();
    if (!flights)
        return reportDeviceFailure(context.err, "the instrument at " + session.portPath() + " did not send its flight list", flights.error());
    for (const FlightRecord& flight : *flights)
        context.out << recordStringTitle(flight) << "    " << durationText(flight.duration) << "\n";
    return Success;
}

} // namespace

extern const CliCommand flightsCommand {
    .name = "flights",
    .usage = "",
    .summary = "the flights in the instrument's log book, newest first",
    .options = {},
    .run = runFlights,
};

} // namespace corvex::cli
