// Pilot data: the instrument's one record, read and written in chunks with 0x0E.
#include "device/CorvexDevice.h"

#include "device/Protocol.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

using namespace protocol;

namespace {

constexpr std::uint16_t statusValue(PilotDataStatus status) { return static_cast<std::uint16_t>(status); }

} // namespace

PilotData CorvexDevice::downloadPilotData()
{
    auto record = readPilotData();
    return record ? *record : PilotData {};
}

DeviceResult<PilotData> CorvexDevice::readPilotData()
{
    if (!hasOpenLine()) {
        logLine(log(), "Fatal ERROR! deviceFile is nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "no open serial line");
    }
    logLine(log(), "Downloading pilot data");

    PilotData record;
    std::size_t writePosition = 0;
    std::uint64_t total = 0;
    Bytes request = encodePilotDataRequest(pilotDataDirectionRead, 0, 0, statusValue(PilotDataStatus::PILOT_DATA_STATUS_OK));
    // Every chunk but a last one carries at least one byte, so a record takes at most
    // 513 + 1 answers; more is an instrument that never finishes.
    for (std::size_t round = 1;; ++round) {
        if (round > PilotData::size + 1) {
            logLine(log(), "downloadPilotData: the instrument does not end the pilot data");
            return deviceFailure(DeviceErrorKind::BadAnswer, "the pilot data does not end");
        }
        if (!deviceWriteData(request)) {
            logLine(log(), "deviceWriteData devPilotDataReq failure");
            return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
        }
        auto answer = readAnswer(pilotDataResponseLength, std::nullopt);
        if (!answer) {
            logLine(log(), "readData is not of size DRV_DEV_PILOTDATA_RESPONSE");
            return Failure { answer.error() };
        }
        auto response = decodePilotDataResponse(*answer);
        if (!response) {
            logLine(log(), "readData is not of size DRV_DEV_PILOTDATA_RESPONSE");
            return deviceFailure(answer->empty() ? DeviceErrorKind::NoAnswer : DeviceErrorKind::ShortAnswer, "pilot data answer");
        }
        if (response->command != byte(Command::PilotData)) {
            logLine(log(), "downloadPilotData: response's readDevPilotData->command is not 14");
            return deviceFailure(DeviceErrorKind::BadAnswer, "pilot data answer of another command");
        }
        if (response->status == statusValue(PilotDataStatus::PILOT_DATA_STATUS_ERROR)) {
            logLine(log(), "pilotDataHeader.status == PILOT_DATA_STATUS_ERROR");
            return deviceFailure(DeviceErrorKind::Refused, "the instrument reported an error reading pilot data");
        }
        if (response->status == statusValue(PilotDataStatus::PILOT_DATA_STATUS_NO_DATA)) {
            logLine(log(), "pilotDataHeader.status == PILOT_DATA_STATUS_NO_DATA");
            return PilotData {}; // an instrument that holds none: not a failure
        }
        // Held to the record before a byte of the chunk is read, so a damaged length
        // field fails here instead of sizing a read.
        total += response->length;
        if (total > pilotDataRecordSize) {
            logLine(log(), "downloadPilotData: the returned chunk is larger than the whole buffer (struct PilotData). Something's not right");
            return deviceFailure(DeviceErrorKind::BadAnswer, "a pilot-data chunk beyond the record");
        }
        auto chunk = readAnswer(response->length, std::nullopt);
        if (!chunk) {
            logLine(log(), "readData is not of size DRV_DEV_PILOTDATA_RESPONSE");
            return Failure { chunk.error() };
        }
        // A chunk shorter than announced lost bytes on the line. Handing back the
        // record with a hole would show and, once saved, store damaged pilot data.
        if (chunk->size() < response->length) {
            logLine(log(), "downloadPilotData: the chunk is shorter than announced (%lu < %lu)",
                static_cast<unsigned long>(chunk->size()), static_cast<unsigned long>(response->length));
            return deviceFailure(DeviceErrorKind::ShortAnswer, "a pilot-data chunk shorter than announced");
        }
        std::copy(chunk->begin(), chunk->end(), record.bytes.begin() + static_cast<std::ptrdiff_t>(writePosition));
        writePosition += chunk->size();

        // The next request echoes the answer's offset and length as received.
        request = encodePilotDataRequest(pilotDataDirectionRead, response->offset, response->length,
            statusValue(PilotDataStatus::PILOT_DATA_STATUS_OK));
        if (response->status == statusValue(PilotDataStatus::PILOT_DATA_STATUS_END_OF_DATA))
            logLine(log(), "Met end of data marker");
        if (response->status != statusValue(PilotDataStatus::PILOT_DATA_STATUS_MORE_DATA))
            return record;
    }
}

DeviceResult<void> CorvexDevice::uploadPilotData(const PilotData& record)
{
    std::size_t remaining = PilotData::size;
    std::size_t position = 0;
    std::uint32_t offset = 0;
    while (remaining > 0) {
        const std::size_t chunkLength = std::min(remaining, pilotDataUploadChunkLength);
        const bool last = remaining <= pilotDataUploadChunkLength;
        const PilotDataStatus status
            = last ? PilotDataStatus::PILOT_DATA_STATUS_END_OF_DATA : PilotDataStatus::PILOT_DATA_STATUS_MORE_DATA;
        Bytes frame = encodePilotDataRequest(
            pilotDataDirectionWrite, offset, static_cast<std::uint32_t>(chunkLength), statusValue(status));
        frame.insert(frame.end(), record.bytes.begin() + static_cast<std::ptrdiff_t>(position),
            record.bytes.begin() + static_cast<std::ptrdiff_t>(position + chunkLength));

        auto answer = request(frame, pilotDataResponseLength);
        if (!answer)
            return Failure { answer.error() };
        if (answer->empty())
            return deviceFailure(DeviceErrorKind::NoAnswer, "pilot data write");
        auto response = decodePilotDataResponse(*answer);
        if (!response) {
            logLine(log(), "Device returned wrong amount of bytes :/ Shouldn't be here");
            return deviceFailure(DeviceErrorKind::ShortAnswer, "pilot data write answer");
        }
        if (response->command != byte(Command::PilotData)) {
            logLine(log(), "uploadPilotData: device returned invalid command");
            return deviceFailure(DeviceErrorKind::BadAnswer, "pilot data write answer of another command");
        }
        if (response->status != statusValue(PilotDataStatus::PILOT_DATA_STATUS_OK)) {
            logLine(log(), "uploadPilotData: device returned error when trying to upload pilot data");
            return deviceFailure(DeviceErrorKind::Refused, "the instrument refused the pilot data");
        }
        offset += response->length;
        position += chunkLength;
        remaining -= chunkLength;
    }
    logLine(log(), "Pilot data uploaded successfully");
    return {};
}

} // namespace corvex
