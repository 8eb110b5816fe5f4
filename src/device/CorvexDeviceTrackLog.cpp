// Track-log download: the sectors of one flight, joined and walked into samples.
#include "device/CorvexDevice.h"

#include "device/Protocol.h"
#include "device/TrackLogCodec.h"
#include "platform/LogSink.h"

namespace corvex {

using namespace protocol;

std::optional<Bytes> CorvexDevice::downloadFlightData(TrackLogFormat format, std::int64_t flightNumber)
{
    const LogBookOperation sectorOperation
        = format == TrackLogFormat::First ? LogBookOperation::TrackLogSector : LogBookOperation::TrackLogSectorV2;
    if (!hasOpenLine()) {
        logLine(log(), "deviceFile is nil");
        return std::nullopt;
    }
    // The same request for every sector: the instrument answers each with its next one.
    const auto number = static_cast<std::uint16_t>(flightNumber);
    const std::uint8_t request[] = { byte(Command::LogBook), byte(sectorOperation),
        static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number & 0xFF) };

    Bytes flightData;
    for (std::size_t sectors = 1;; ++sectors) {
        if (sectors > uploadSectorLimit) {
            logLine(log(), "the instrument does not end the track log (more than %lu sectors)",
                static_cast<unsigned long>(uploadSectorLimit));
            return std::nullopt;
        }
        auto header = exchange(request, uploadSectorHeaderLength);
        if (!header || header->size() != uploadSectorHeaderLength) {
            logLine(log(), "uploadSectorHeaderData is nil or has a wrong length");
            return std::nullopt;
        }
        if ((*header)[0] != byte(Command::UploadSector)) {
            logLine(log(), "This is not a DEV_DRV_UPLOAD_SECTOR");
            return std::nullopt;
        }
        const std::uint16_t blockField = static_cast<std::uint16_t>((*header)[1] << 8 | (*header)[2]);
        const std::uint8_t validLength = (*header)[3];

        auto payload = deviceReadDataOfLength(uploadSectorPayloadLength);
        if (!payload) {
            logLine(log(), "response is nil!");
            return std::nullopt;
        }
        // A payload shorter than its header announces means the line lost bytes; a
        // flight joined from it would be cut or shifted, so the download fails rather
        // than hand back a damaged track as if it were whole.
        if (validLength != 0 && payload->size() < validLength) {
            logLine(log(), "sector payload is shorter than its header announces (%lu < %u)",
                static_cast<unsigned long>(payload->size()), static_cast<unsigned>(validLength));
            return std::nullopt;
        }
        const std::size_t used = validLength == 0 ? payload->size() : validLength;
        flightData.insert(flightData.end(), payload->begin(), payload->begin() + static_cast<std::ptrdiff_t>(used));
        if (blockField == 0)
            return flightData;
    }
}

std::optional<std::vector<LocationSample>> CorvexDevice::downloadLocationSamplesForFlightNumber(
    std::int64_t flightNumber, HRecord* hRecord, GRecord* gRecord)
{
    auto flightData = downloadFlightData(TrackLogFormat::First, flightNumber);
    if (!flightData)
        return std::nullopt;
    auto walk = walkTrackLog(*flightData, TrackLogFormat::First, log());
    if (!walk)
        return std::nullopt;
    if (hRecord && walk->hRecord)
        *hRecord = *walk->hRecord;
    if (gRecord && walk->gRecord)
        *gRecord = *walk->gRecord;
    return std::move(walk->samples);
}

std::optional<std::vector<LocationSample>> CorvexDevice::downloadLocationSamplesV2ForFlightNumber(
    std::int64_t flightNumber, HRecord* hRecord, GRecord* gRecord, std::string* suggestedFilename)
{
    auto flightData = downloadFlightData(TrackLogFormat::Second, flightNumber);
    if (!flightData)
        return std::nullopt;
    auto walk = walkTrackLog(*flightData, TrackLogFormat::Second, log());
    if (!walk)
        return std::nullopt;
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
