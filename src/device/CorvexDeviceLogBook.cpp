// Device info, the measurement-units bitfield, the flight list and the log-book erase.
#include "device/CorvexDevice.h"

#include "device/LogBookCodec.h"
#include "device/Protocol.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

using namespace protocol;

DeviceResult<DeviceInfo> CorvexDevice::getDeviceInfo()
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "no open serial line");
    }
    const std::uint8_t frame[] = { byte(Command::DeviceInfo) };
    DeviceError failure = DeviceError::of(DeviceErrorKind::NoAnswer, "no device info");
    for (int attempt = 1; attempt <= deviceInfoAttempts; ++attempt) {
        auto answer = request(frame, deviceInfoRequestLength);
        if (!answer && answer.error().kind == DeviceErrorKind::Unplugged)
            return Failure { answer.error() };
        std::optional<DeviceInfo> info = answer ? decodeDeviceInfo(*answer) : std::nullopt;
        if (info) {
            m_firmwareVersion = FirmwareVersion(static_cast<std::uint16_t>(info->firmwareVer));
            m_firmwareSupportsAutomaticTextIgcGeneration = m_firmwareVersion.supportsAutomaticTextIgcGeneration();
            logLine(log(), "firmwareSupportsAutomaticIgcGeneration: %s",
                m_firmwareSupportsAutomaticTextIgcGeneration ? "YES" : "NO");
            return *info;
        }
        failure = answer && !answer->empty() ? DeviceError::of(DeviceErrorKind::BadAnswer, "device info: " + describeBytes(*answer))
                                             : DeviceError::of(DeviceErrorKind::NoAnswer, "device info: no answer");
        logLine(log(), "getDeviceInfo: error, read bytes: %s", answer ? describeBytes(*answer).c_str() : "(null)");
        logLine(log(), "Reading device info attempt has failed. %s", attempt < deviceInfoAttempts ? "Trying again" : "Giving up");
    }
    return Failure { failure };
}

DeviceResult<std::uint8_t> CorvexDevice::readMeasurementUnitsBitfield()
{
    const std::uint8_t frame[] = { byte(Command::UnitsBitfield) };
    DeviceError failure = DeviceError::of(DeviceErrorKind::NoAnswer, "units: no answer");
    for (int attempt = 1; attempt <= unitsBitfieldAttempts; ++attempt) {
        auto answer = request(frame, unitsBitfieldLength);
        if (!answer && answer.error().kind == DeviceErrorKind::Unplugged)
            return Failure { answer.error() };
        if (auto bits = answer ? decodeUnitsBitfield(*answer) : std::nullopt)
            return *bits;
        if (answer && !answer->empty())
            failure = DeviceError::of(DeviceErrorKind::BadAnswer, "units: " + describeBytes(*answer));
        logLine(log(), "Reading measurements bitfield attempt has failed. %s",
            attempt < unitsBitfieldAttempts ? "Trying again" : "Giving up");
    }
    return Failure { failure };
}

std::uint8_t CorvexDevice::downloadMeasurementUnitsBitfield()
{
    auto bits = readMeasurementUnitsBitfield();
    return bits ? *bits : 0;
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

// The start both lists share: the units, which the full list applies and the short
// one reads only to keep the instrument's sequence, and which fail the list when they
// cannot be read (an instrument that does not answer them will not answer the list).
DeviceResult<std::uint8_t> CorvexDevice::beginFlightList()
{
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "no open serial line");
    }
    logLine(log(), "Getting unit measurement units");
    auto bitfield = readMeasurementUnitsBitfield();
    if (!bitfield)
        return bitfield;
    logLine(log(), "bitfield: %x", *bitfield);
    logLine(log(), "Downloading a list of flights");
    return bitfield;
}

DeviceResult<std::vector<FlightRecord>> CorvexDevice::listFlights(bool full)
{
    auto bitfield = beginFlightList();
    if (!bitfield)
        return Failure { bitfield.error() };

    std::vector<FlightRecord> flights;
    const std::uint8_t frame[] = { byte(Command::LogBook),
        byte(full ? LogBookOperation::NextRecordFull : LogBookOperation::NextRecordShort), 0x00, 0x00 };
    bool moreRecords = true;
    bool firstRequest = true;
    for (std::size_t answers = 1; moreRecords; ++answers) {
        if (!withinListTracksLimit(answers, log()))
            return deviceFailure(DeviceErrorKind::BadAnswer, "the flight list does not end");
        auto answer = request(frame, listTracksRecordSize);
        if (!answer) {
            logLine(log(), "listTracksData is nil");
            return Failure { answer.error() };
        }
        // An instrument with nothing to list after a firmware update answers nothing at
        // all. That is an empty log book only as the first answer; later in the
        // sequence it is a transfer that broke off, and the list would be incomplete.
        if (answer->empty()) {
            if (firstRequest) {
                logLine(log(), "DEV_DRV_LIST_TRACKS didn't return anything. Empty List after firmware update?");
                return std::vector<FlightRecord> {};
            }
            logLine(log(), "listTracksData is nil");
            return deviceFailure(DeviceErrorKind::NoAnswer, "the flight list broke off after " + std::to_string(answers - 1) + " records");
        }
        firstRequest = false;
        // A long log book takes seconds to list: the operation's sheet moves meanwhile.
        context().progress(std::nullopt);
        if (!full && answer->size() < listTracksRecordSize) {
            logLine(log(), "listTracksData has wrong size (%lu < %lu)", static_cast<unsigned long>(answer->size()),
                static_cast<unsigned long>(listTracksRecordSize));
            return deviceFailure(DeviceErrorKind::ShortAnswer, "a flight-list record of " + std::to_string(answer->size()) + " bytes");
        }
        if ((*answer)[0] != byte(Command::ListTracksRecord)) {
            logLine(log(), "listTracks->messageId is not 5, it is %d", (*answer)[0]);
            logLine(log(), "%s", describeBytes(*answer).c_str());
            return deviceFailure(DeviceErrorKind::BadAnswer, "a flight-list record starting with " + std::to_string((*answer)[0]));
        }
        auto header = decodeListTracksHeader(*answer);
        if (full && (answer->size() == listTracksLongEmptyRecord || answer->size() == listTracksShortEmptyRecord)) {
            logLine(log(), "Apparently this is an empty record");
            moreRecords = header && header->blockField != 0;
            continue;
        }
        auto record = full ? decodeFullFlightRecord(*answer) : decodeShortFlightRecord(*answer);
        if (!header || !record) {
            logLine(log(), "[listTracksData length] is less than (sizeof(struct DEV_DRV_LIST_TRACKS)-36-4)");
            logLine(log(), "%s", describeBytes(*answer).c_str());
            return deviceFailure(DeviceErrorKind::ShortAnswer, "a flight-list record of " + std::to_string(answer->size()) + " bytes");
        }
        moreRecords = header->blockField != 0;
        logLine(log(), "Just read block %x of size %d", header->blockField, header->size);
        if (full)
            applyUnitsBitfield(*record, *bitfield);
        if (record->flightNumber == 0) {
            logLine(log(), "%s", erasedRecordMessage);
            continue;
        }
        flights.push_back(*record);
    }
    if (full) {
        logLine(log(), "Sorting flights by flight date (direct order: most recent - last)");
        std::stable_sort(flights.begin(), flights.end(), launchedEarlier);
    } else {
        logLine(log(), "Sorting flights by flight date (inverse order: most recent - first)");
        std::stable_sort(flights.begin(), flights.end(),
            [](const FlightRecord& a, const FlightRecord& b) { return launchedEarlier(b, a); });
    }
    return flights;
}

DeviceResult<std::vector<FlightRecord>> CorvexDevice::listFlightsFull()
{
    return listFlights(true);
}

DeviceResult<std::vector<FlightRecord>> CorvexDevice::listFlightsShort()
{
    return listFlights(false);
}

DeviceResult<void> CorvexDevice::eraseAllLogs()
{
    const std::uint8_t frame[] = { byte(Command::LogBook), byte(LogBookOperation::EraseAll) };
    auto answer = request(frame, eraseAnswerLength);
    if (!answer)
        return Failure { answer.error() };
    // The instrument acknowledges the erase under the log-book command; silence or
    // another answer leaves the log book in an unknown state, and "erased" must not be
    // said of it.
    if (answer->empty()) {
        logLine(log(), "eraseAllLogs: the instrument did not acknowledge the erase");
        return deviceFailure(DeviceErrorKind::NoAnswer, "the erase was not acknowledged");
    }
    if ((*answer)[0] != byte(Command::LogBook)) {
        logLine(log(), "eraseAllLogs: unexpected answer %s", describeBytes(*answer).c_str());
        return deviceFailure(DeviceErrorKind::BadAnswer, "the erase was answered with " + describeBytes(*answer));
    }
    return {};
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
