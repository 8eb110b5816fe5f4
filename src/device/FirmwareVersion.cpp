#include "device/FirmwareVersion.h"

#include "base/VersionComparison.h"
#include "device/LogBookCodec.h"

#include <cstdio>

namespace corvex {

namespace {

constexpr std::uint16_t firstWren = 2000;
constexpr std::uint16_t firstTextIgc = 1356;
constexpr std::uint16_t firstLarkAirspaces = 1365;
constexpr std::uint16_t firstWrenAirspaces = 2401;
// The recent-IGC rule compares the version's text within each generation, so its
// limits are texts.
constexpr std::string_view lastOlderIgcLark = "1.375";
constexpr std::string_view lastOlderIgcWren = "2.401";
// The log book changed its format with these: an update across one erases it. They are
// version texts compared numerically part by part, not thousandths.
constexpr std::string_view newLogBookLark = "1.365";
constexpr std::string_view newLogBookWren = "2.4";

} // namespace

std::string firmwareVersionText(std::uint16_t version)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0.3f", version / 1000.0);
    return text;
}

InstrumentGeneration FirmwareVersion::generation() const
{
    return m_thousandths >= firstWren ? InstrumentGeneration::Wren : InstrumentGeneration::Lark;
}

const char* FirmwareVersion::modelName() const { return isWren() ? "Wren" : "Lark"; }

std::string FirmwareVersion::text() const { return firmwareVersionText(m_thousandths); }

bool FirmwareVersion::supportsAutomaticTextIgcGeneration() const { return m_thousandths >= firstTextIgc; }

bool FirmwareVersion::supportsAirspaces() const
{
    return m_thousandths >= (isWren() ? firstWrenAirspaces : firstLarkAirspaces);
}

bool FirmwareVersion::isRecentIgcFirmware() const
{
    return isGreaterThan(lastOlderIgcWren) || isGreaterThan(lastOlderIgcLark);
}

bool FirmwareVersion::updateErasesLogBook(std::string_view offeredVersion) const
{
    const std::string current = text();
    if (isEarlier(current, newLogBookLark) && !isEarlier(offeredVersion, newLogBookLark))
        return true;
    return isLater(current, newLogBookWren) && isLater(offeredVersion, newLogBookWren);
}

bool FirmwareVersion::isGreaterThan(std::string_view version) const
{
    const std::string current = text();
    if (version.empty() || version.front() != current.front())
        return false;
    auto order = compareDecimalTexts(current, version);
    return order && *order > 0;
}

bool FirmwareVersion::isEqualTo(std::string_view version) const
{
    auto order = compareDecimalTexts(text(), version);
    return order && *order == 0;
}

} // namespace corvex
