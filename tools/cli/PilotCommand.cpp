#include "Commands.h"

#include "base/Format.h"
#include "export/PilotDataForm.h"

#include <ostream>

namespace corvex::cli {

namespace {

void printPilotData(std::ostream& out, const PilotData& data)
{
    // The instrument keeps whatever bytes were written to it.
    out << "Pilot: " << visibleText(data.pilot()) << "\n"
        << "Flight recorder serial: " << visibleText(data.flightRecorderSerial()) << "\n"
        << "Glider type: " << visibleText(data.gliderType()) << "\n"
        << "Glider id: " << visibleText(data.gliderId()) << "\n"
        << "Competition class: " << visibleText(data.competitionClass()) << "\n"
        << "Competition id: " << visibleText(data.competitionId()) << "\n"
        << "Site: " << visibleText(data.site()) << "\n"
        << "Pilot info: " << visibleText(data.pilotInfo()) << "\n";
}

std::string settableFieldNames()
{
    std::string names;
    for (const PilotDataFormField& field : pilotDataFormFields()) {
        if (field.field == PilotDataField::FlightRecorderSerial)
            continue;
        names += names.empty() ? "" : ", ";
        names += field.name;
    }
    return names;
}

struct FieldEdit {
    PilotDataField field;
    std::string value;
};

// Every --set FIELD=VALUE, checked against the same limits as the pilot-data sheet
// before the instrument is touched.
std::optional<std::vector<FieldEdit>> parseEdits(const std::vector<std::string>& assignments, std::ostream& err)
{
    std::vector<FieldEdit> edits;
    for (const std::string& assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos) {
            printError(err, "--set needs FIELD=VALUE, not " + assignment);
            return std::nullopt;
        }
        const std::string name = assignment.substr(0, equals);
        const std::string value = assignment.substr(equals + 1);
        const auto field = pilotDataFieldNamed(name);
        if (field == PilotDataField::FlightRecorderSerial) {
            printError(err, "the flight recorder serial is the instrument's own and cannot be set");
            return std::nullopt;
        }
        if (!field) {
            printError(err, "unknown pilot data field " + name + " (fields: " + settableFieldNames() + ")");
            return std::nullopt;
        }
        const std::size_t longest = longestPilotDataText(*field);
        if (!pilotDataTextFits(value, std::string::npos)) {
            printError(err, "the value of " + name + " must be plain ASCII text");
            return std::nullopt;
        }
        if (!pilotDataTextFits(value, longest)) {
            printError(err, "the value of " + name + " is " + std::to_string(value.size()) + " characters long; at most "
                    + std::to_string(longest) + " fit");
            return std::nullopt;
        }
        edits.push_back({ *field, value });
    }
    return edits;
}

int runPilot(CliContext& context)
{
    const auto edits = parseEdits(context.optionValues("set"), context.err);
    if (!edits)
        return UsageError;
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    // An instrument without pilot data prints as empty fields; a failed read is not
    // taken for that: edited and sent back, it would wipe every field not edited.
    const DeviceResult<PilotData> read = session.device().readPilotData();
    if (!read)
        return reportDeviceFailure(context.err,
            "the instrument at " + session.portPath() + " did not send its pilot data; nothing was changed", read.error());
    const PilotData& asRead = *read;
    if (edits->empty()) {
        printPilotData(context.out, asRead);
        return Success;
    }

    PilotDataForm form = PilotDataForm::fromPilotData(asRead);
    for (const FieldEdit& edit : *edits)
        form.text(edit.field) = edit.value;
    const PilotData sent = pilotDataFromForm(form, asRead);
    if (auto written = session.device().uploadPilotData(sent); !written)
        return reportDeviceFailure(context.err, "the instrument at " + session.portPath() + " did not take the pilot data", written.error());
    // What the instrument holds now is what counts, as in the pilot-data sheet.
    const PilotData readBack = session.device().downloadPilotData();
    printPilotData(context.out, readBack);
    for (const FieldEdit& edit : *edits) {
        if (readBack.text(edit.field) != edit.value) {
            printError(context.err, "the instrument did not keep the new pilot data");
            return InstrumentFailed;
        }
    }
    return Success;
}

} // namespace

extern const CliCommand pilotCommand {
    .name = "pilot",
    .usage = "[--set FIELD=VALUE]...",
    .summary = "show the pilot data stored in the instrument, or change fields of it",
    .options = { { "set", "FIELD=VALUE", "change one field (pilot, glider-type, ...); may be repeated" } },
    .run = runPilot,
};

} // namespace corvex::cli
