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

bool AirspacesTransferService::instrumentHoldsASet()
{
    const auto header = m_device.readWholeAirspacesSet(AirspacesReadScope::MetadataOnly);
    return header && header->size() == airspacesFormat::headerSize;
}

Result<Bytes, AirspacesTransferFailure> AirspacesTransferService::readWholeSet(
    const std::function<void(std::size_t bytesRead)>& chunkRead)
{
    if (!chunkRead) {
        auto set = m_device.readWholeAirspacesSet(AirspacesReadScope::WholeData);
        if (!set)
            return Failure { AirspacesTransferFailure { AirspacesTransferError::ReadFailed } };
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
            return Failure { AirspacesTransferFailure { AirspacesTransferError::ReadFailed } };
        set.insert(set.end(), chunk->begin(), chunk->end());
        position = AirspacesReadPosition::Next;
        chunkRead(set.size());
    }
    return set;
}

Result<void, AirspacesTransferFailure> AirspacesTransferService::clear(const std::function<void(float)>& progress)
{
    if (!m_device.eraseAirspacesDataWithFakeProgressBlock(progress))
        return Failure { AirspacesTransferFailure { AirspacesTransferError::EraseFailed } };
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

    const bool erasedFirst = instrumentHoldsASet();
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
        if (!m_device.writeAirspacesChunk(chunks[n - 1], position))
            return Failure { AirspacesTransferFailure { AirspacesTransferError::ChunkRefused, n, count } };
        if (observer.chunkWritten)
            observer.chunkWritten(n, count);
    }
    if (!m_device.concludeWritingAirspacesData())
        return Failure { AirspacesTransferFailure { AirspacesTransferError::ConcludeFailed } };
    return AirspacesUpload { std::move(*set), data->size(), count, erasedFirst };
}

} // namespace corvex
