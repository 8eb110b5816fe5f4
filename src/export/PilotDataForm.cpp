#include "export/PilotDataForm.h"

#include <algorithm>

namespace corvex {

namespace {

std::size_t indexOf(PilotDataField field)
{
    const auto& fields = pilotDataFormFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].field == field)
            return i;
    }
    return 0;
}

} // namespace

const std::array<PilotDataFormField, 8>& pilotDataFormFields()
{
    // One character less than the slot, for the terminating zero; the serial number's
    // three characters are what the recorder's serial is.
    static const std::array<PilotDataFormField, 8> fields { {
        { PilotDataField::Pilot, "pilot", 63 },
        { PilotDataField::FlightRecorderSerial, "fr-serial", 3 },
        { PilotDataField::GliderType, "glider-type", 31 },
        { PilotDataField::GliderId, "glider-id", 31 },
        { PilotDataField::CompetitionClass, "competition-class", 31 },
        { PilotDataField::CompetitionId, "competition-id", 31 },
        { PilotDataField::Site, "site", 31 },
        { PilotDataField::PilotInfo, "pilot-info", 255 },
    } };
    return fields;
}

std::size_t longestPilotDataText(PilotDataField field)
{
    return pilotDataFormFields()[indexOf(field)].longestText;
}

std::optional<PilotDataField> pilotDataFieldNamed(std::string_view name)
{
    for (const PilotDataFormField& field : pilotDataFormFields()) {
        if (name == field.name)
            return field.field;
    }
    return std::nullopt;
}

bool pilotDataTextFits(std::string_view text, std::size_t longestText)
{
    return text.size() <= longestText && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0 && byte < 0x80;
    });
}

PilotDataForm PilotDataForm::fromPilotData(const PilotData& record)
{
    PilotDataForm form;
    for (const PilotDataFormField& field : pilotDataFormFields())
        form.text(field.field) = record.text(field.field);
    return form;
}

std::string& PilotDataForm::text(PilotDataField field) { return texts[indexOf(field)]; }
const std::string& PilotDataForm::text(PilotDataField field) const { return texts[indexOf(field)]; }

PilotData pilotDataFromForm(const PilotDataForm& form, const PilotData& asRead)
{
    PilotData record;
    const PilotDataSlot serial = pilotDataSlot(PilotDataField::FlightRecorderSerial);
    std::copy_n(asRead.bytes.begin() + static_cast<std::ptrdiff_t>(serial.offset), serial.size,
        record.bytes.begin() + static_cast<std::ptrdiff_t>(serial.offset));
    for (const PilotDataFormField& field : pilotDataFormFields()) {
        if (field.field != PilotDataField::FlightRecorderSerial)
            record.setText(field.field, form.text(field.field));
    }
    return record;
}

} // namespace corvex
