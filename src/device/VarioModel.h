#pragma once

#include "device/Protocol.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace corvex {

// The instrument's models, one per generation, in the order of their firmware.
enum class InstrumentGeneration { Lark, Wren };

// How a change of the log book's format at a firmware version shows in an update.
enum class LogBookFormatChange {
    // An update from before the version onto it or later erases the log book.
    erasedWhenCrossed,
    // Every update from a version later than it onto another later than it erases it.
    erasedBetweenLaterVersions,
};

// One model of the instrument: everything in which the models differ. The program, the
// command line, the update check and the virtual instrument ask the row rather than
// the model's name; a further model is one more row (and its generation above).
struct VarioModel {
    InstrumentGeneration generation;
    // "Lark": the status line, `corvex info`, the update check's log.
    const char* name;
    // "lark": the virtual instrument's --model and the lower-case log lines.
    const char* key;

    // The model's firmware versions begin here (thousandths): the instrument is the
    // model of the last row at or below its version.
    std::uint16_t firstFirmware;
    // From here the instrument writes the IGC text itself, and its track logs come in
    // the second format.
    std::uint16_t firstTextIgcFirmware;
    std::uint16_t firstAirspacesFirmware;
    // Later firmware (compared as text, within the same first digit) sends the file's
    // G lines among the data, so the IGC text's end block is dropped.
    std::string_view lastOlderIgcFirmware;
    // The log book changed its format here: a version text compared numerically part by
    // part ("2.4", under which 2.005 is later), with what that means for an update.
    std::string_view logBookFormatFirmware;
    LogBookFormatChange logBookFormatChange;

    // The command byte of a firmware line.
    protocol::Command firmwareLineCommand;

    // The model's entries in the vendor's versions feed.
    std::string_view releaseFirmwareProduct;
    std::string_view betaFirmwareProduct;
    // A release is offered whenever it differs from what runs (so a withdrawn version is
    // rolled back), or only when it is later.
    bool releaseOfferedWhenDifferent;
    // The update window's beta label begins "BETA Firmware update ...".
    bool betaLabelSaysBeta;
    // How the airspaces gate's log line begins when the firmware supports them.
    const char* airspacesEnabledLogLead;

    // What the virtual instrument reports as this model: the hardware version and the
    // recorder type of its IGC headers, and the firmware it runs unless told otherwise.
    std::uint16_t hardwareVersion;
    const char* recorderType;
    std::uint16_t typicalFirmware;
};

inline constexpr VarioModel varioModels[] = {
    {
        .generation = InstrumentGeneration::Lark,
        .name = "Lark",
        .key = "lark",
        .firstFirmware = 0,
        .firstTextIgcFirmware = 1356,
        .firstAirspacesFirmware = 1365,
        .lastOlderIgcFirmware = "1.375",
        .logBookFormatFirmware = "1.365",
        .logBookFormatChange = LogBookFormatChange::erasedWhenCrossed,
        .firmwareLineCommand = protocol::Command::FirmwareLine,
        .releaseFirmwareProduct = "larkfw_asp",
        .betaFirmwareProduct = "larkfwBeta",
        .releaseOfferedWhenDifferent = true,
        .betaLabelSaysBeta = true,
        .airspacesEnabledLogLead = "Enabling AIRSPACES, for Lark device",
        .hardwareVersion = 1,
        .recorderType = "CORVEX,VARIO LARK",
        .typicalFirmware = 1375,
    },
    {
        .generation = InstrumentGeneration::Wren,
        .name = "Wren",
        .key = "wren",
        .firstFirmware = 2000,
        .firstTextIgcFirmware = 2000,
        .firstAirspacesFirmware = 2401,
        .lastOlderIgcFirmware = "2.401",
        .logBookFormatFirmware = "2.4",
        .logBookFormatChange = LogBookFormatChange::erasedBetweenLaterVersions,
        .firmwareLineCommand = protocol::Command::FirmwareLineV2,
        .releaseFirmwareProduct = "wrenfw_asp",
        .betaFirmwareProduct = "wrenfwBeta",
        .releaseOfferedWhenDifferent = false,
        .betaLabelSaysBeta = false,
        .airspacesEnabledLogLead = "Enabling AIRSPACES for Wren device",
        .hardwareVersion = 2,
        .recorderType = "CORVEX,VARIO WREN",
        .typicalFirmware = 2405,
    },
};

inline constexpr std::size_t varioModelCount = std::size(varioModels);

// Where a model's results sit in arrays kept per row.
constexpr std::size_t varioModelIndex(InstrumentGeneration generation)
{
    return static_cast<std::size_t>(generation);
}

namespace detail {
// The rows stand in the order of their generations and of their firmware, and each
// version threshold lies within the row's own versions.
constexpr bool varioModelsAreOrdered()
{
    for (std::size_t i = 0; i < varioModelCount; ++i) {
        const VarioModel& row = varioModels[i];
        const std::uint32_t end = i + 1 < varioModelCount ? varioModels[i + 1].firstFirmware : 0x10000u;
        if (varioModelIndex(row.generation) != i || row.firstFirmware >= end)
            return false;
        for (std::uint32_t threshold : { row.firstTextIgcFirmware, row.firstAirspacesFirmware })
            if (threshold < row.firstFirmware || threshold >= end)
                return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::varioModelsAreOrdered(), "the model table is out of order");

const VarioModel& varioModel(InstrumentGeneration generation);
// The model that runs this firmware version (thousandths).
const VarioModel& varioModelOfFirmware(std::uint16_t thousandths);
// The row of a key ("lark"), or none.
const VarioModel* varioModelWithKey(std::string_view key);

} // namespace corvex
