// Track-log download: the sectors of one flight, joined and walked into samples.
#include "device/CorvexDevice.h"

#include "device/Protocol.h"
#include "device/TrackLogCodec.h"
#include "platform/LogSink.h"

#include <map>

namespace corvex {

using namespace protocol;

namespace {

// One sector as it came: its block field (the sectors still to follow) and the bytes
// that count.
struct Sector {
    std::uint16_t following { 0 };
    Bytes data;
};

} // namespace

DeviceResult<Bytes> CorvexDevice::downloadFlightData(TrackLogFormat format, std::int64_t flightNumber)
{
    const LogBookOperation sectorOperation
        = format == TrackLogFormat::First ? LogBookOperation::TrackLogSector : LogBookOperation::TrackLogSectorV2;
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "no instrument is connected");
    }
    // The same request for every sector: the instrument answers each with its next one,
    // and starts again from the first after the last.
    const auto number = static_cast<std::uint16_t>(flightNumber);
    const std::uint8_t request[] = { byte(Command::LogBook), byte(sectorOperation),
        static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number & 0xFF) };

    // The block field of the sector whose answer broke off, when its header came; -1
    // when it did not.
    int brokenSector = -1;
    const auto readSector = [&]() -> DeviceResult<Sector> {
        brokenSector = -1;
        auto header = exchange(request, uploadSectorHeaderLength);
        if (!header || header->size() != uploadSectorHeaderLength) {
            logLine(log(), "uploadSectorHeaderData is nil or has a wrong length");
            if (!header)
                return deviceFailure(DeviceErrorKind::Unplugged, "the line failed");
            return deviceFailure(header->empty() ? DeviceErrorKind::NoAnswer : DeviceErrorKind::ShortAnswer,
                "the sector's header did not arrive whole");
        }
        if ((*header)[0] != byte(Command::UploadSector)) {
            logLine(log(), "This is not a DEV_DRV_UPLOAD_SECTOR");
            return deviceFailure(DeviceErrorKind::BadAnswer, "the answer is not a track-log sector");
        }
        Sector sector;
        sector.following = static_cast<std::uint16_t>((*header)[1] << 8 | (*header)[2]);
        const std::uint8_t validLength = (*header)[3];

        auto payload = deviceReadDataOfLength(uploadSectorPayloadLength);
        if (!payload) {
            logLine(log(), "response is nil!");
            return deviceFailure(DeviceErrorKind::Unplugged, "the line failed");
        }
        // A payload shorter than its header announces means the line lost bytes; a
        // flight joined from it would be cut or shifted, so the sector is not taken.
        if (validLength != 0 && payload->size() < validLength) {
            logLine(log(), "sector payload is shorter than its header announces (%lu < %u)",
                static_cast<unsigned long>(payload->size()), static_cast<unsigned>(validLength));
            brokenSector = sector.following;
            return deviceFailure(DeviceErrorKind::ShortAnswer, "a sector broke off");
        }
        const std::size_t used = validLength == 0 ? payload->size() : validLength;
        sector.data.assign(payload->begin(), payload->begin() + static_cast<std::ptrdiff_t>(used));
        return sector;
    };

    // Sectors are kept by their block field. One that broke off cannot be asked for on
    // its own: the download reads on, and the instrument's next pass over the flight
    // brings it again. Only a sector that comes in new resets the count of failures.
    std::map<std::uint16_t, Bytes> sectors;
    std::size_t bytesReceived = 0;
    const std::uint64_t connection = m_connection;
    std::optional<std::size_t> sectorTotal;
    bool passStarts = true; // the next answer is the flight's first sector
    int failuresInARow = 0;
    for (std::size_t answers = 1;; ++answers) {
        if (answers > uploadSectorLimit) {
            logLine(log(), "the instrument does not end the track log (more than %lu sectors)",
                static_cast<unsigned long>(uploadSectorLimit));
            return deviceFailure(DeviceErrorKind::BadAnswer, "the instrument does not end the track log");
        }
        auto sector = readSector();
        if (!sector) {
            if (!isWorthAnotherTry(sector.error()) || failuresInARow >= transferRetries)
                return Failure { sector.error() };
            ++failuresInARow;
            logLine(log(), "track log of flight %lld: %s, asking again (%d of %d)", static_cast<long long>(flightNumber),
                deviceErrorSummary(sector.error()).c_str(), failuresInARow, transferRetries);
            // What is left of the broken answer passes before the next request.
            drainLine(std::chrono::milliseconds(transferRetryQuietMilliseconds));
            // After the last sector the instrument starts again; after a header that
            // never came nobody knows where it stands.
            passStarts = brokenSector == 0;
            continue;
        }
        if (passStarts && !sectorTotal)
            sectorTotal = static_cast<std::size_t>(sector->following) + 1;
        if (sectorTotal && sector->following >= *sectorTotal) {
            logLine(log(), "the instrument sent sector %u of a track log of %lu", static_cast<unsigned>(sector->following),
                static_cast<unsigned long>(*sectorTotal));
            return deviceFailure(DeviceErrorKind::BadAnswer, "the track log changed while it was read");
        }
        const std::size_t sectorBytes = sector->data.size();
        if (sectors.emplace(sector->following, std::move(sector->data)).second) {
            failuresInARow = 0;
            bytesReceived += sectorBytes;
            const std::optional<double> fraction = sectorTotal
                ? std::optional(static_cast<double>(sectors.size()) / static_cast<double>(*sectorTotal))
                : std::nullopt;
            if (auto stop = reportTransferStep(connection, bytesReceived, fraction))
                return Failure { std::move(*stop) };
        }
        passStarts = sector->following == 0;
        if (passStarts && sectorTotal && sectors.size() == *sectorTotal)
            break;
    }
    Bytes flightData;
    for (auto it = sectors.rbegin(); it != sectors.rend(); ++it)
        flightData.insert(flightData.end(), it->second.begin(), it->second.end());
    return flightData;
}

DeviceResult<std::vector<LocationSample>> CorvexDevice::downloadLocationSamplesForFlightNumber(
    std::int64_t flightNumber, HRecord* hRecord, GRecord* gRecord)
{
    auto flightData = downloadFlightData(TrackLogFormat::First, flightNumber);
    if (!flightData)
        return Failure { flightData.error() };
    auto walk = walkTrackLog(*flightData, TrackLogFormat::First, log());
    if (!walk)
        return deviceFailure(DeviceErrorKind::BadAnswer, "the track log does not decode");
    if (hRecord && walk->hRecord)
        *hRecord = *walk->hRecord;
    if (gRecord && walk->gRecord)
        *gRecord = *walk->gRecord;
    return std::move(walk->samples);
}

DeviceResult<std::vector<LocationSample>> CorvexDevice::downloadLocationSamplesV2ForFlightNumber(
    std::int64_t flightNumber, HRecord* hRecord, GRecord* gRecord, std::string* suggestedFilename)
{
    auto flightData = downloadFlightData(TrackLogFormat::Second, flightNumber);
    if (!flightData)
        return Failure { flightData.error() };
    auto walk = walkTrackLog(*flightData, TrackLogFormat::Second, log());
    if (!walk)
        return deviceFailure(DeviceErrorKind::BadAnswer, "the track log does not decode");
    if (hRecord && walk->hRecord)
        *hRecord = *walk->hRecord;
    if (gRecord && walk->gRecord)
        *gRecord = *walk->gRecord;
    if (suggestedFilename) {
        // The name comes from the caller's H record buffer after the walk: the record
        // found, or what the caller put there when the flight carried none.
        const HRecord* named = hRecord ? hRecord : (walk->hRecord ? &*walk->hRecord : nullptr);
        *suggestedFilename = suggestedTrackLogFilename(named, walk->latestTime, flightNumber);
    }
    return std::move(walk->samples);
}

} // namespace corvex
