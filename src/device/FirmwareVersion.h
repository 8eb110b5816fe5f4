#pragma once

#include "device/VarioModel.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace corvex {

// The firmware version the device-info command reports, in thousandths (1356 is
// 1.356), and what the instrument can do by it. Every rule that the version switches
// lives here, over the model table's rows, so the program, the command line and the
// virtual instrument agree.
class FirmwareVersion {
public:
    constexpr FirmwareVersion() = default;
    constexpr explicit FirmwareVersion(std::uint16_t thousandths)
        : m_thousandths(thousandths)
    {
    }

    constexpr std::uint16_t thousandths() const { return m_thousandths; }

    // The model that runs this version: its row of the model table.
    const VarioModel& model() const { return varioModelOfFirmware(m_thousandths); }
    InstrumentGeneration generation() const { return model().generation; }
    // A shorthand for the tests; the program asks the row.
    bool isWren() const { return generation() == InstrumentGeneration::Wren; }
    // "Lark" or "Wren".
    const char* modelName() const { return model().name; }

    // The version as the text "%0.3f" of thousandths / 1000 ("1.356").
    std::string text() const;

    // The instrument writes the IGC text itself, and its track logs come in the
    // second format.
    bool supportsAutomaticTextIgcGeneration() const;
    bool supportsAirspaces() const;
    // Firmware that sends the file's G lines among the data as well as in the end
    // block, so the end block is dropped rather than kept.
    bool isRecentIgcFirmware() const;

    // Whether installing the offered firmware (a version text of the versions feed or
    // of a firmware file) over this one erases the log book, so that the user must be
    // warned and the flights saved first: by any row's log-book format change (moving
    // onto 1.365 or later from before it, or from a version later than "2.4" to an
    // offered one later than "2.4"). Read by the numeric order of version texts, under
    // which 2.005 and 2.400 are both later than 2.4 and 2.004 is not.
    bool updateErasesLogBook(std::string_view offeredVersion) const;

    // Compare the text form with a decimal text ("2.401"). A version of the other
    // generation (another first digit) is never greater; a text that is not a
    // decimal number is neither equal nor greater.
    bool isGreaterThan(std::string_view version) const;
    bool isEqualTo(std::string_view version) const;

    friend constexpr bool operator==(FirmwareVersion, FirmwareVersion) = default;

private:
    std::uint16_t m_thousandths { 0 };
};

// The text "%0.3f" of version / 1000.
std::string firmwareVersionText(std::uint16_t version);

} // namespace corvex
