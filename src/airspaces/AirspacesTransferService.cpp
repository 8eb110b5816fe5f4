#include "airspaces/AirspacesTransferService.h"

#include "device/CorvexDevice.h"
#include "device/Protocol.h"

#include <algorithm>
#include <cassert>

namespace corvex {

std::vector<ByteView> splitDataIntoChunksWithoutCopying(ByteView bytes, std::size_t chunkSize)
{
    assert(chunkSize > 0);
    std::vector<ByteView> chunks;
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(chunkSize, bytes.size() - offset);
        chunks.push_back(bytes.subspan(offset, length));
        offset += length;
    } while (offset < bytes.size());
    return chunks;
}

AirspacesTransferService::AirspacesTransferService(CorvexDevice& device)
    : m_device(device)
{
}

DeviceResult<bool> AirspacesTransferService::instrumentHoldsASet()
{
    const auto header = m_device.readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
    if (!header)
        return Failure { header.error() };
    return header->size() == airspacesFormat::headerSize;
}

namespace {

Failure<AirspacesTransferFailure> transferFailure(
    AirspacesTransferError reason, const DeviceError& error, std::size_t chunk = 0, std::size_t chunkCount = 0)
{
    return Failure { AirspacesTransferFailure { reason, chunk, chunkCount, error } };
}

} // namespace

Result<Bytes, AirspacesTransferFailure> AirspacesTransferService::readWholeSet(
    const std::function<void(std::size_t bytesRead)>& chunkRead)
{
    if (!chunkRead) {
        auto set = m_device.readWholeAirspacesSet(AirspacesReadScope::WholeData);
        if (!set)
            return transferFailure(AirspacesTransferError::ReadFailed, set.error());
        return std::move(*set);
    }
    // The device's whole read, chunk by chunk, to tell how far it got.
    constexpr int maximumChunks = 65536;
    Bytes set;
    bool more = true;
    auto position = AirspacesReadPosition::FromBeginning;
    for (int chunks = 0; more; ++chunks) {
        if (chunks == maximumChunks)
            return Failure { AirspacesTransferFailure { AirspacesTransferError::ReadFailed } };
        auto chunk = m_device.readAirspacesChunkFromBeginning(position, AirspacesReadScope::WholeData, &more);
        if (!chunk)
            return transferFailure(AirspacesTransferError::ReadFailed, chunk.error());
        set.insert(set.end(), chunk->begin(), chunk->end());
        position = AirspacesReadPosition::Next;
        chunkRead(set.size());
    }
    return set;
}

Result<void, AirspacesTransferFailure> AirspacesTransferService::clear(const std::function<void(float)>& progress)
{
    if (auto erased = m_device.eraseAirspacesDataWithFakeProgressBlock(progress); !erased)
        return transferFailure(AirspacesTransferError::EraseFailed, erased.error());
    return {};
}

Result<AirspacesUpload, AirspacesTransferFailure> AirspacesTransferService::upload(
    std::shared_ptr<const Bytes> data, const AirspacesTransferObserver& observer)
{
    // The instrument takes whatever it is sent: refuse bytes that are not a set before
    // its current set is erased.
    auto set = Airspaces::initWithDataInInternalFormat(data, m_device.log());
    if (!set)
        return Failure { AirspacesTransferFailure { AirspacesTransferError::NotASet } };

    // A header that did not come says nothing of the set: the instrument is erased as
    // if it held one, so that the new set is never written over an old one. A line
    // that is gone ends the upload before anything is erased.
    const auto holdsASet = instrumentHoldsASet();
    if (!holdsASet && holdsASet.error().kind == DeviceErrorKind::Unplugged)
        return transferFailure(AirspacesTransferError::ReadFailed, holdsASet.error());
    const bool erasedFirst = !holdsASet || *holdsASet;
    if (erasedFirst) {
        if (auto cleared = clear(observer.eraseProgress); !cleared)
            return Failure { cleared.error() };
    }

    const std::vector<ByteView> chunks = splitDataIntoChunksWithoutCopying(*data, protocol::airspacesChunkPayloadLength);
    const std::size_t count = chunks.size();
    for (std::size_t n = 1; n <= count; ++n) {
        if (observer.isCancelled && observer.isCancelled())
            return Failure { AirspacesTransferFailure { AirspacesTransferError::Cancelled, n, count } };
        // Only the first chunk tells the instrument to start the set afresh.
        const auto position = n == 1 ? AirspacesWritePosition::FirstChunk : AirspacesWritePosition::NextChunk;
        if (auto written = m_device.writeAirspacesChunk(chunks[n - 1], position); !written)
            return transferFailure(AirspacesTransferError::ChunkRefused, written.error(), n, count);
        if (observer.chunkWritten)
            observer.chunkWritten(n, count);
    }
    if (auto concluded = m_device.concludeWritingAirspacesData(); !concluded)
        return transferFailure(AirspacesTransferError::ConcludeFailed, concluded.error());
    return AirspacesUpload { std::move(*set), data->size(), count, erasedFirst };
}

} // namespace corvex
