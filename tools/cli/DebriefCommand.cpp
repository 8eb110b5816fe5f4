#include "Commands.h"
#include "DebriefOutput.h"
#include "LibraryAccess.h"

#include "analysis/FlightDebrief.h"
#include "base/Format.h"
#include "base/Units.h"
#include "flights/IgcFlight.h"
#include "library/TakeoffTime.h"

#include <cstdio>
#include <ostream>
#include <string>

namespace corvex::cli {

namespace {

std::string windText(const std::optional<analysis::WindEstimate>& wind, UnitSystem units)
{
    if (!wind)
        return "-";
    return quantityText(Quantity::Speed, wind->speedKmh / 3.6, units) + " from " + fixed(wind->fromDegrees, 0) + "° ("
        + fixed(wind->confidence, 2) + ")";
}

// Null wind fields when the circles gave no wind.
void addWind(const std::optional<analysis::WindEstimate>& wind, Json& phase)
{
    phase["wind_kmh"] = wind ? rounded(wind->speedKmh, 1) : Json(nullptr);
    phase["wind_from_deg"] = wind ? rounded(wind->fromDegrees, 0) : Json(nullptr);
    phase["wind_confidence"] = wind ? rounded(wind->confidence, 2) : Json(nullptr);
}

Json phaseJson(const analysis::CirclingPhase& phase)
{
    Json json { { "start", isoTime(phase.startTime) }, { "end", isoTime(phase.endTime) }, { "gain_m", rounded(phase.gainMetres, 0) },
        { "climb_ms", rounded(phase.climbMs, 2) }, { "best_climb_ms", rounded(phase.bestClimbMs, 2) },
        { "direction", analysis::directionName(phase.direction) } };
    addWind(phase.wind, json);
    json["circles"] = phase.circles;
    json["circle_s"] = rounded(phase.circleSeconds, 1);
    json["left_share"] = rounded(phase.leftShare, 2);
    json["latitude"] = rounded(phase.centre.latitude, 6);
    json["longitude"] = rounded(phase.centre.longitude, 6);
    return json;
}

Json debriefJson(const analysis::FlightDebrief& debrief)
{
    Json json { { "altitude_source", debrief.altitudeSource }, { "thermals", Json::array() }, { "failed_attempts", Json::array() },
        { "glides", Json::array() } };
    for (const auto& thermal : debrief.thermals)
        json["thermals"].push_back(phaseJson(thermal));
    for (const auto& attempt : debrief.failedAttempts)
        json["failed_attempts"].push_back(phaseJson(attempt));
    for (const auto& glide : debrief.glides)
        json["glides"].push_back(Json { { "start", isoTime(glide.startTime) }, { "end", isoTime(glide.endTime) },
            { "distance_km", rounded(glide.distanceMetres / 1000, 2) }, { "speed_kmh", rounded(glide.speedKmh, 1) },
            { "height_lost_m", rounded(glide.heightLostMetres, 0) },
            { "glide_ratio", glide.glideRatio ? rounded(*glide.glideRatio, 1) : Json(nullptr) } });
    json["totals"] = totalsJson(debrief.totals);
    json["wind"] = Json::array();
    for (const auto& sample : debrief.wind)
        json["wind"].push_back(Json { { "time", isoTime(sample.time) }, { "altitude_m", rounded(sample.altitude, 0) },
            { "wind_kmh", rounded(sample.wind.speedKmh, 1) }, { "wind_from_deg", rounded(sample.wind.fromDegrees, 0) },
            { "wind_confidence", rounded(sample.wind.confidence, 2) } });
    return json;
}

void printPhases(std::ostream& out, const char* title, const std::vector<analysis::CirclingPhase>& phases, const DebriefText& choice)
{
    if (phases.empty())
        return;
    out << "\n" << title << "\n";
    char line[256];
    std::snprintf(line, sizeof line, "  %-8s  %-8s  %6s  %8s  %9s  %9s  %-5s  %7s  %s\n", "start", "end", "time", "gain", "climb",
        "best", "turn", "circles", "wind");
    out << line;
    for (const auto& phase : phases) {
        std::snprintf(line, sizeof line, "  %-8s  %-8s  %6s  %8s  %9s  %9s  %-5s  %7d  %s\n", clockText(phase.startTime, choice).c_str(),
            clockText(phase.endTime, choice).c_str(), durationText(phase.durationSeconds()).c_str(),
            quantityText(Quantity::Altitude, phase.gainMetres, choice.units).c_str(),
            quantityText(Quantity::Vario, phase.climbMs, choice.units).c_str(),
            quantityText(Quantity::Vario, phase.bestClimbMs, choice.units).c_str(), analysis::directionName(phase.direction),
            phase.circles, windText(phase.wind, choice.units).c_str());
        out << line;
    }
}

void printDebrief(std::ostream& out, const analysis::FlightDebrief& debrief, const DebriefText& choice)
{
    const analysis::DebriefTotals& totals = debrief.totals;
    const UnitSystem units = choice.units;
    out << "altitude: " << debrief.altitudeSource << "\n";
    out << "times: " << clockName(choice) << "\n";
    out << "circling: " << percent(totals.circlingShare) << " of the flight, " << percent(totals.leftShare) << " of it to the left\n";
    out << "thermals: " << totals.thermals << ", average climb " << quantityText(Quantity::Vario, totals.avgClimbMs, units) << ", "
        << quantityText(Quantity::Altitude, totals.heightGainedMetres, units) << " gained\n";
    out << "failed attempts: " << totals.failedAttempts << "\n";
    out << "glides: " << debrief.glides.size() << ", average " << quantityText(Quantity::Speed, totals.avgGlideSpeedKmh / 3.6, units)
        << ", glide ratio " << (totals.avgGlideRatio ? fixed(*totals.avgGlideRatio, 1) : std::string("-")) << "\n";
    out << "height lost circling: " << percent(totals.circlingHeightLossShare) << "\n";
    printPhases(out, "thermals", debrief.thermals, choice);
    printPhases(out, "failed attempts", debrief.failedAttempts, choice);
    if (!debrief.glides.empty()) {
        out << "\nglides\n";
        char line[256];
        std::snprintf(line, sizeof line, "  %-8s  %-8s  %6s  %9s  %10s  %8s  %5s\n", "start", "end", "time", "distance", "speed", "lost",
            "ratio");
        out << line;
        for (const auto& glide : debrief.glides) {
            std::snprintf(line, sizeof line, "  %-8s  %-8s  %6s  %9s  %10s  %8s  %5s\n", clockText(glide.startTime, choice).c_str(),
                clockText(glide.endTime, choice).c_str(), durationText(glide.durationSeconds()).c_str(),
                quantityText(Quantity::Distance, glide.distanceMetres, units).c_str(),
                quantityText(Quantity::Speed, glide.speedKmh / 3.6, units).c_str(),
                quantityText(Quantity::Altitude, glide.heightLostMetres, units).c_str(),
                glide.glideRatio ? fixed(*glide.glideRatio, 1).c_str() : "-");
            out << line;
        }
    }
    if (!debrief.wind.empty()) {
        out << "\nwind\n";
        for (const auto& sample : debrief.wind)
            out << "  " << clockText(sample.time, choice) << "  " << quantityText(Quantity::Altitude, sample.altitude, units) << "  "
                << windText(sample.wind, units) << "\n";
    }
}

int runDebrief(CliContext& context)
{
    const auto path = flightFilePath(context);
    if (!path)
        return path.error();
    const auto flight = flights::readIgcFile(*path);
    if (!flight) {
        printError(context.err, flight.error());
        return FileError;
    }
    for (const auto& problem : flight->problems)
        context.err << "corvex: " << visibleText(*path) << ": line " << problem.line << ": " << visibleText(problem.message) << " (skipped)\n";
    const flights::FlightFigures figures = flights::computeFigures(*flight);
    const analysis::FlightDebrief debrief = analysis::debriefFlight(*flight, figures);
    if (context.option("json")) {
        context.out << jsonText(debriefJson(debrief), JsonLayout::ObjectLines) << "\n";
        return Success;
    }
    const TextChoice shown = textChoice(context);
    DebriefText choice;
    choice.units = shown.units;
    if (!shown.utc)
        choice.offsetMinutes = localOffsetMinutes(figures.takeoffTime, library::igcFileTimeZoneMinutes(*path));
    printDebrief(context.out, debrief, choice);
    return Success;
}

} // namespace

extern const CliCommand debriefCommand {
    .name = "debrief",
    .usage = "FILE.igc|ID [--json] [--library DIR]",
    .summary = "a flight's thermals, failed attempts, glides and wind",
    .options = {
        { "json", nullptr, "a JSON object instead of text (SI units, UTC)" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runDebrief,
};

} // namespace corvex::cli
