#include "device/FirmwareVersion.h"

#include "base/VersionComparison.h"
#include "device/LogBookCodec.h"

#include <cstdio>

namespace corvex {

std::string firmwareVersionText(std::uint16_t version)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0.3f", version / 1000.0);
    return text;
}

std::string FirmwareVersion::text() const { return firmwareVersionText(m_thousandths); }

bool FirmwareVersion::supportsAutomaticTextIgcGeneration() const
{
    return m_thousandths >= model().firstTextIgcFirmware;
}

bool FirmwareVersion::supportsAirspaces() const { return m_thousandths >= model().firstAirspacesFirmware; }

bool FirmwareVersion::isRecentIgcFirmware() const
{
    // Every row's limit is asked: the text comparison keeps to the version's first
    // digit, so a limit speaks only to the versions that share it ("10.000" shares the
    // Lark's "1").
    for (const VarioModel& row : varioModels)
        if (isGreaterThan(row.lastOlderIgcFirmware))
            return true;
    return false;
}

bool FirmwareVersion::updateErasesLogBook(std::string_view offeredVersion) const
{
    const std::string current = text();
    for (const VarioModel& row : varioModels) {
        const std::string_view changed = row.logBookFormatFirmware;
        switch (row.logBookFormatChange) {
        case LogBookFormatChange::erasedWhenCrossed:
            if (isEarlier(current, changed) && !isEarlier(offeredVersion, changed))
                return true;
            break;
        case LogBookFormatChange::erasedBetweenLaterVersions:
            if (isLater(current, changed) && isLater(offeredVersion, changed))
                return true;
            break;
        }
    }
    return false;
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
