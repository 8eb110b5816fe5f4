// Device info, the measurement-units bitfield, the flight list and the log-book erase.
#include "device/CorvexDevice.h"

#include "device/LogBookCodec.h"
#include "device/Protocol.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

using namespace protocol;

std::optional<DeviceInfo> CorvexDevice::getDeviceInfo()
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return std::nullopt;
    }
    const std::uint8_t request[] = { byte(Command::DeviceInfo) };
    for (int attempt = 1; attempt <= deviceInfoAttempts; ++attempt) {
        auto answer = exchange(request, deviceInfoRequestLength);
        std::optional<DeviceInfo> info = answer ? decodeDeviceInfo(*answer) : std::nullopt;
        if (info) {
            m_firmwareVersion = FirmwareVersion(static_cast<std::uint16_t>(info->firmwareVer));
            m_firmwareSupportsAutomaticTextIgcGeneration = m_firmwareVersion.supportsAutomaticTextIgcGeneration();
            logLine(log(), "firmwareSupportsAutomaticIgcGeneration: %s",
                m_firmwareSupportsAutomaticTextIgcGeneration ? "YES" : "NO");
            return info;
        }
        logLine(log(), "getDeviceInfo: error, read bytes: %s", answer ? describeBytes(*answer).c_str() : "(null)");
        logLine(log(), "Reading device info attempt has failed. %s", attempt < deviceInfoAttempts ? "Trying again" : "Giving up");
    }
    return std::nullopt;
}

std::uint8_t CorvexDevice::downloadMeasurementUnitsBitfield()
{
    const std::uint8_t request[] = { byte(Command::UnitsBitfield) };
    for (int attempt = 1; attempt <= unitsBitfieldAttempts; ++attempt) {
        auto answer = exchange(request, unitsBitfieldLength);
        if (auto bits = answer ? decodeUnitsBitfield(*answer) : std::nullopt)
            return *bits;
        logLine(log(), "Reading measurements bitfield attempt has failed. %s",
            attempt < unitsBitfieldAttempts ? "Trying again" : "Giving up");
    }
    return 0;
}

namespace {

const char* const erasedRecordMessage
    = "Detected a flight record with the flight number 0, apparently this is an erased record, skipping it";

bool launchedEarlier(const FlightRecord& a, const FlightRecord& b)
{
    auto launchA = a.launchMinutesSince2000();
    auto launchB = b.launchMinutesSince2000();
    if (launchA != launchB)
        return launchA < launchB;
    return a.flightNumber < b.flightNumber;
}

// An instrument whose every record says that more follow would hold the main loop
// for ever; the list fails instead, as any list that breaks off does.
bool withinListTracksLimit(std::size_t answers, LogSink& log)
{
    if (answers <= listTracksAnswerLimit)
        return true;
    logLine(log, "the instrument does not end the flight list (more than %lu records)",
        static_cast<unsigned long>(listTracksAnswerLimit));
    return false;
}

} // namespace

std::optional<std::vector<FlightRecord>> CorvexDevice::listFlightsFull()
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return std::nullopt;
    }
    logLine(log(), "Getting unit measurement units");
    const std::uint8_t bitfield = downloadMeasurementUnitsBitfield();
    logLine(log(), "bitfield: %x", bitfield);
    logLine(log(), "Downloading a list of flights");

    std::vector<FlightRecord> flights;
    const std::uint8_t request[] = { byte(Command::LogBook), byte(LogBookOperation::NextRecordFull), 0x00, 0x00 };
    bool moreRecords = true;
    bool firstRequest = true;
    for (std::size_t answers = 1; moreRecords; ++answers) {
        if (!withinListTracksLimit(answers, log()))
            return std::nullopt;
        auto answer = exchange(request, listTracksRecordSize);
        if (!answer) {
            logLine(log(), "listTracksData is nil");
            return std::nullopt;
        }
        // An instrument with nothing to list after a firmware update answers nothing at
        // all. That is an empty log book only as the first answer; later in the
        // sequence it is a transfer that broke off, and the list would be incomplete.
        if (answer->empty()) {
            if (firstRequest) {
                logLine(log(), "DEV_DRV_LIST_TRACKS didn't return anything. Empty List after firmware update?");
                return flights;
            }
            logLine(log(), "listTracksData is nil");
            return std::nullopt;
        }
        firstRequest = false;
        if ((*answer)[0] != byte(Command::ListTracksRecord)) {
            logLine(log(), "listTracks->messageId is not 5, it is %d", (*answer)[0]);
            logLine(log(), "%s", describeBytes(*answer).c_str());
            return std::nullopt;
        }
        auto header = decodeListTracksHeader(*answer);
        if (answer->size() == listTracksLongEmptyRecord || answer->size() == listTracksShortEmptyRecord) {
            logLine(log(), "Apparently this is an empty record");
            moreRecords = header && header->blockField != 0;
            continue;
        }
        auto record = decodeFullFlightRecord(*answer);
        if (!header || !record) {
            logLine(log(), "[listTracksData length] is less than (sizeof(struct DEV_DRV_LIST_TRACKS)-36-4)");
            logLine(log(), "%s", describeBytes(*answer).c_str());
            return std::nullopt;
        }
        moreRecords = header->blockField != 0;
        logLine(log(), "Just read block %x of size %d", header->blockField, header->size);
        applyUnitsBitfield(*record, bitfield);
        if (record->flightNumber == 0) {
            logLine(log(), "%s", erasedRecordMessage);
            continue;
        }
        flights.push_back(*record);
    }
    logLine(log(), "Sorting flights by flight date (direct order: most recent - last)");
    std::stable_sort(flights.begin(), flights.end(), launchedEarlier);
    return flights;
}

std::optional<std::vector<FlightRecord>> CorvexDevice::listFlightsShort()
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return std::nullopt;
    }
    logLine(log(), "Getting unit measurement units");
    const std::uint8_t bitfield = downloadMeasurementUnitsBitfield();
    logLine(log(), "bitfield: %x", bitfield);
    logLine(log(), "Downloading a list of flights");

    std::vector<FlightRecord> flights;
    const std::uint8_t request[] = { byte(Command::LogBook), byte(LogBookOperation::NextRecordShort), 0x00, 0x00 };
    bool moreRecords = true;
    for (std::size_t answers = 1; moreRecords; ++answers) {
        if (!withinListTracksLimit(answers, log()))
            return std::nullopt;
        auto answer = exchange(request, listTracksRecordSize);
        if (!answer) {
            logLine(log(), "listTracksData is nil");
            return std::nullopt;
        }
        if (answer->empty()) {
            logLine(log(), "DEV_DRV_LIST_TRACKS didn't return anything. Empty List after firmware update?");
            return std::vector<FlightRecord> {};
        }
        if (answer->size() < listTracksRecordSize) {
            logLine(log(), "listTracksData has wrong size (%lu < %lu)", static_cast<unsigned long>(answer->size()),
                static_cast<unsigned long>(listTracksRecordSize));
            return std::vector<FlightRecord> {};
        }
        if ((*answer)[0] != byte(Command::ListTracksRecord)) {
            logLine(log(), "listTracks->messageId is not 5, it is %d", (*answer)[0]);
            logLine(log(), "%s", describeBytes(*answer).c_str());
            return std::nullopt;
        }
        auto header = decodeListTracksHeader(*answer);
        auto record = decodeShortFlightRecord(*answer);
        moreRecords = header->blockField != 0;
        logLine(log(), "Just read block %x of size %d", header->blockField, header->size);
        if (record->flightNumber == 0) {
            logLine(log(), "%s", erasedRecordMessage);
            continue;
        }
        flights.push_back(*record);
    }
    logLine(log(), "Sorting flights by flight date (inverse order: most recent - first)");
    std::stable_sort(flights.begin(), flights.end(),
        [](const FlightRecord& a, const FlightRecord& b) { return launchedEarlier(b, a); });
    return flights;
}

bool CorvexDevice::eraseAllLogs()
{
    const std::uint8_t request[] = { byte(Command::LogBook), byte(LogBookOperation::EraseAll) };
    exchange(request, eraseAnswerLength);
    return true;
}

bool CorvexDevice::isCurrentFwVersionEqualTo(std::string_view version) const
{
    return m_firmwareVersion.isEqualTo(version);
}

bool CorvexDevice::isCurrentFwVersionGreaterThan(std::string_view version) const
{
    return m_firmwareVersion.isGreaterThan(version);
}

} // namespace corvex
