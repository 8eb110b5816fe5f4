#pragma once

#include "device/PilotData.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The pilot-data form without its widgets: the eight texts shown, their limits, and the
// record sent back to the instrument. The sheet and `corvex pilot --set` share it.
namespace corvex {

struct PilotDataFormField {
    PilotDataField field;
    const char* name; // on the command line: "pilot", "glider-type", ...
    std::size_t longestText; // in characters; all ASCII, so in bytes too
};

// The eight fields in form order.
const std::array<PilotDataFormField, 8>& pilotDataFormFields();
std::size_t longestPilotDataText(PilotDataField field);
std::optional<PilotDataField> pilotDataFieldNamed(std::string_view name);

// Whether a field can hold the text: at most the longest text and only 7-bit characters
// (NUL excluded: it would end the text early in the instrument).
bool pilotDataTextFits(std::string_view text, std::size_t longestText);

struct PilotDataForm {
    std::array<std::string, 8> texts; // in the order of pilotDataFormFields()

    // Every field as the record holds it: up to its first zero byte, or the whole slot.
    static PilotDataForm fromPilotData(const PilotData& record);

    std::string& text(PilotDataField field);
    const std::string& text(PilotDataField field) const;
};

// The record to send: zero throughout, the leading byte 0, each text copied into its
// slot (at most the slot's size, the rest zero). The flight-recorder serial number is the
// instrument's own and goes back exactly as it was read, so an edit never blanks it.
PilotData pilotDataFromForm(const PilotDataForm& form, const PilotData& asRead);

} // namespace corvex
