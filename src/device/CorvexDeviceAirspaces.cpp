// The airspaces transfer commands (0x0F): read a chunk, write a chunk, conclude a
// write, erase.
#include "device/CorvexDevice.h"

#include "base/ByteReader.h"
#include "device/Protocol.h"
#include "platform/LogSink.h"

#include <array>

namespace corvex {

using namespace protocol;

namespace {

std::array<std::uint8_t, airspacesRequestLength> airspacesRequest(
    AirspacesOperation operation, std::uint8_t scope, std::uint32_t length = 0)
{
    return { byte(Command::Airspaces), byte(operation), scope, static_cast<std::uint8_t>(length),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 24) };
}

struct AirspacesAnswer {
    std::uint8_t status { 0 };
    std::uint32_t payloadLength { 0 };
};

// Exactly 6 bytes, or nothing.
std::optional<AirspacesAnswer> decodeAirspacesAnswer(const std::optional<Bytes>& answer)
{
    if (!answer || answer->size() != airspacesAnswerLength)
        return std::nullopt;
    ByteReader reader(*answer);
    reader.skip(1);
    AirspacesAnswer decoded;
    decoded.status = reader.u8().value_or(0);
    decoded.payloadLength = reader.u32le().value_or(0);
    return decoded;
}

// Why a 6-byte answer did not come whole: the line failed, nothing came, or less.
Failure<DeviceError> airspacesAnswerFailure(const std::optional<Bytes>& answer)
{
    if (!answer)
        return deviceFailure(DeviceErrorKind::Unplugged, "the line failed");
    if (answer->empty())
        return deviceFailure(DeviceErrorKind::NoAnswer, "no airspaces answer");
    return deviceFailure(answer->size() < airspacesAnswerLength ? DeviceErrorKind::ShortAnswer : DeviceErrorKind::BadAnswer,
        "an airspaces answer of " + std::to_string(answer->size()) + " bytes");
}

} // namespace

DeviceResult<Bytes> CorvexDevice::readAirspacesChunkFromBeginning(
    AirspacesReadPosition position, AirspacesReadScope scope, bool* isMoreDataAvailableOutFlag)
{
    const auto request = airspacesRequest(
        position == AirspacesReadPosition::FromBeginning ? AirspacesOperation::ReadFromBeginning : AirspacesOperation::ReadNext,
        scope == AirspacesReadScope::MetadataOnly ? 0 : 1);
    if (!deviceWriteData(request)) {
        logLine(log(), "readAirspacesChunk: deviceWriteData returned NO");
        return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
    }
    const auto raw = deviceReadDataOfLength(airspacesAnswerLength);
    auto answer = decodeAirspacesAnswer(raw);
    if (!answer) {
        logLine(log(), "readAirspacesChunk: device response length is incorrect");
        return airspacesAnswerFailure(raw);
    }
    if (answer->status == AIRSPACES_STATUS_ERROR) {
        logLine(log(), "readAirspacesChunk: response AIRSPACES_STATUS_ERROR status");
        return deviceFailure(DeviceErrorKind::Refused, "the instrument answered AIRSPACES_STATUS_ERROR");
    }
    if (isMoreDataAvailableOutFlag) {
        if (answer->status == airspacesStatusMoreData)
            *isMoreDataAvailableOutFlag = true;
        else if (answer->status == airspacesStatusLastData)
            *isMoreDataAvailableOutFlag = false;
    }
    if (answer->payloadLength == 0)
        return Bytes {};
    if (answer->payloadLength > airspacesReadPayloadLimit) {
        logLine(log(), "readAirspacesChunk: impossible length %lu announced by the device",
            static_cast<unsigned long>(answer->payloadLength));
        return deviceFailure(DeviceErrorKind::BadAnswer, "an impossible chunk length");
    }
    auto payload = deviceReadDataOfLength(answer->payloadLength);
    if (!payload || payload->size() != answer->payloadLength) {
        logLine(log(), "readAirspacesChunk: device returned payload length is incorrect");
        if (!payload)
            return deviceFailure(DeviceErrorKind::Unplugged, "the line failed");
        return deviceFailure(DeviceErrorKind::ShortAnswer, "a chunk shorter than announced");
    }
    return std::move(*payload);
}

DeviceResult<void> CorvexDevice::writeAirspacesChunk(ByteView chunk, AirspacesWritePosition position)
{
    if (chunk.size() > airspacesChunkPayloadLength) {
        logLine(log(), "writeAirspacesChunk: a single airspaces data chunk can't be larger than 121 bytes, but you are trying to send %ld",
            static_cast<long>(chunk.size()));
        return deviceFailure(DeviceErrorKind::Refused, "a chunk larger than 121 bytes");
    }
    std::array<std::uint8_t, airspacesChunkPayloadLength> payload {};
    std::copy(chunk.begin(), chunk.end(), payload.begin());

    const auto request = airspacesRequest(
        position == AirspacesWritePosition::FirstChunk ? AirspacesOperation::WriteFirst : AirspacesOperation::WriteNext, 1,
        static_cast<std::uint32_t>(chunk.size()));
    if (!deviceWriteData(request)) {
        logLine(log(), "writeAirspacesChunk: deviceWriteData returned NO (when sending the header)");
        return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
    }
    if (!deviceWriteData(payload)) {
        logLine(log(), "writeAirspacesChunk: deviceWriteData returned NO (when sending the payload)");
        return deviceFailure(DeviceErrorKind::Unplugged, "the chunk could not be written");
    }
    const auto raw = deviceReadDataOfLength(airspacesAnswerLength);
    auto answer = decodeAirspacesAnswer(raw);
    if (!answer) {
        logLine(log(), "writeAirspacesChunk: device response length is incorrect");
        return airspacesAnswerFailure(raw);
    }
    if (answer->status == AIRSPACES_STATUS_ERROR) {
        logLine(log(), "writeAirspacesChunk: response AIRSPACES_STATUS_ERROR status");
        return deviceFailure(DeviceErrorKind::Refused, "the instrument answered AIRSPACES_STATUS_ERROR");
    }
    return {};
}

DeviceResult<void> CorvexDevice::concludeWritingAirspacesData()
{
    if (!deviceWriteData(airspacesRequest(AirspacesOperation::ConcludeWrite, 1))) {
        logLine(log(), "concludeWritingAirspacesData: deviceWriteData returned NO (when sending the header)");
        return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
    }
    const auto raw = deviceReadDataOfLength(airspacesAnswerLength);
    auto answer = decodeAirspacesAnswer(raw);
    if (!answer) {
        logLine(log(), "concludeWritingAirspacesData: device response length is incorrect");
        return airspacesAnswerFailure(raw);
    }
    if (answer->status == AIRSPACES_STATUS_ERROR) {
        logLine(log(), "concludeWritingAirspacesData: response AIRSPACES_STATUS_ERROR status");
        return deviceFailure(DeviceErrorKind::Refused, "the instrument answered AIRSPACES_STATUS_ERROR");
    }
    return {};
}

DeviceResult<void> CorvexDevice::eraseAirspacesDataWithFakeProgressBlock(const std::function<void(float)>& progress)
{
    if (!deviceWriteData(airspacesRequest(AirspacesOperation::Erase, 0))) {
        logLine(log(), "eraseAirspaceData: deviceWriteData returned nil");
        return deviceFailure(DeviceErrorKind::Unplugged, "the request could not be written");
    }
    // The instrument answers when the erase is done and gives no progress of its own;
    // the answer stays on the line until the wait is over.
    for (int step = 0; step < airspacesEraseWaitSteps; ++step) {
        const float fraction = static_cast<float>(step) / static_cast<float>(airspacesEraseWaitSteps);
        if (progress)
            progress(fraction);
        context().progress(fraction);
        context().sleepFor(std::chrono::milliseconds(static_cast<int>(airspacesEraseWaitStepSeconds * 1000)));
    }
    const auto raw = deviceReadDataOfLength(airspacesAnswerLength);
    auto answer = decodeAirspacesAnswer(raw);
    if (!answer) {
        logLine(log(), "eraseAirspaceData: device response length is incorrect");
        return airspacesAnswerFailure(raw);
    }
    if (answer->status != airspacesStatusLastData) {
        logLine(log(), "eraseAirspaceData: response erroneous status %d", answer->status);
        return Failure { DeviceError::of(DeviceErrorKind::Refused, "the erase was answered with status " + std::to_string(answer->status)) };
    }
    return {};
}

DeviceResult<Bytes> CorvexDevice::readWholeAirspacesSet(AirspacesReadScope scope)
{
    // Far above any set an instrument can hold; an instrument that never clears the
    // more-data flag would otherwise keep the program reading for ever.
    constexpr int maximumChunks = 65536;
    Bytes set;
    bool more = true;
    auto position = AirspacesReadPosition::FromBeginning;
    for (int chunks = 0; more; ++chunks) {
        if (chunks == maximumChunks) {
            logLine(log(), "readWholeAirspacesSet: the instrument does not end the set (more than %d chunks)", maximumChunks);
            return deviceFailure(DeviceErrorKind::BadAnswer, "the instrument does not end its set");
        }
        auto chunk = readAirspacesChunkFromBeginning(position, scope, &more);
        if (!chunk)
            return Failure { chunk.error() };
        set.insert(set.end(), chunk->begin(), chunk->end());
        position = AirspacesReadPosition::Next;
    }
    return set;
}

} // namespace corvex
