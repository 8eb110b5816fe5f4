#include "airspaces/AirspacesTransferService.h"
#include "device/CorvexDevice.h"
#include "platform/EventLoop.h"

#include "support/DeviceTestRig.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

Bytes answer(std::uint8_t status, std::uint32_t length = 0)
{
    return { 0x0f, status, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24) };
}

// An instrument that answers the airspaces requests by their operation byte and keeps
// what it was sent.
struct ScriptedAirspacesInstrument {
    bool holdsSet { false };
    std::optional<std::size_t> refusedChunk; // counted from 1
    std::uint8_t eraseStatus { 1 };
    std::uint8_t concludeStatus { 1 };

    std::vector<std::uint8_t> operations; // of every request, in order
    std::vector<std::uint32_t> chunkLengths; // the length field of every chunk request

    Bytes respond(const Bytes& request)
    {
        if (request.size() != 7) // a chunk's padded payload: the write's answer comes now
            return answer(refusedChunk == chunkLengths.size() ? 0 : 1);
        operations.push_back(request[1]);
        switch (request[1]) {
        case 0: {
            if (!holdsSet)
                return answer(1, 0);
            Bytes reply = answer(1, 2300);
            reply.resize(reply.size() + 2300, 0);
            return reply;
        }
        case 2:
        case 3:
            chunkLengths.push_back(static_cast<std::uint32_t>(request[3] | request[4] << 8 | request[5] << 16 | request[6] << 24));
            return {};
        case 4:
            return answer(concludeStatus);
        case 5:
            return answer(eraseStatus);
        }
        return {};
    }
};

struct TransferRig : DeviceTestRig {
    TransferRig() { connect([this](const Bytes& request) { return instrument.respond(request); }); }

    ScriptedAirspacesInstrument instrument;
};

// A set with no segments is the smallest the instrument's format allows; all zero
// bytes past the header read as such a set.
std::shared_ptr<const Bytes> setOfSize(std::size_t size)
{
    return std::make_shared<const Bytes>(size, 0);
}

} // namespace

TEST(AirspacesTransferService, ChunksAreViewsOfAtMostTheChunkSize)
{
    struct Case {
        std::size_t size;
        std::vector<std::size_t> lengths;
    };
    const Case cases[] = {
        { 0, { 0 } }, // at least one chunk, empty
        { 1, { 1 } },
        { 121, { 121 } },
        { 122, { 121, 1 } },
        { 242, { 121, 121 } },
    };
    for (const Case& c : cases) {
        const Bytes bytes(c.size, 7);
        const auto chunks = splitDataIntoChunksWithoutCopying(bytes, 121);
        ASSERT_EQ(chunks.size(), c.lengths.size()) << c.size << " bytes";
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].size(), c.lengths[i]) << c.size << " bytes, chunk " << i;
            EXPECT_EQ(chunks[i].data(), bytes.data() + i * 121) << "a view into the bytes, not a copy";
        }
    }
}

TEST(AirspacesTransferService, UploadErasesOnlyAnExistingSetThenWritesEveryChunk)
{
    for (const bool holdsSet : { false, true }) {
        SCOPED_TRACE(holdsSet ? "instrument holds a set" : "instrument is empty");
        TransferRig rig;
        rig.instrument.holdsSet = holdsSet;
        std::size_t eraseSteps = 0;
        std::vector<std::pair<std::size_t, std::size_t>> written;
        AirspacesTransferObserver observer;
        observer.eraseProgress = [&](float) { ++eraseSteps; };
        observer.chunkWritten = [&](std::size_t n, std::size_t count) { written.emplace_back(n, count); };

        const auto uploaded = AirspacesTransferService(*rig.device).upload(setOfSize(2421), observer);
        ASSERT_TRUE(uploaded);
        EXPECT_EQ(uploaded->byteCount, 2421u);
        EXPECT_EQ(uploaded->chunkCount, 21u);
        EXPECT_EQ(uploaded->erasedFirst, holdsSet);
        EXPECT_EQ(eraseSteps, holdsSet ? 210u : 0u);

        // Header read, the erase when a set is there, first chunk, 20 next chunks, conclusion.
        std::vector<std::uint8_t> expected { 0 };
        if (holdsSet)
            expected.push_back(5);
        expected.push_back(2);
        expected.insert(expected.end(), 20, 3);
        expected.push_back(4);
        EXPECT_EQ(rig.instrument.operations, expected);
        std::vector<std::uint32_t> lengths(20, 121);
        lengths.push_back(1);
        EXPECT_EQ(rig.instrument.chunkLengths, lengths);
        ASSERT_EQ(written.size(), 21u);
        EXPECT_EQ(written.front(), std::make_pair(std::size_t { 1 }, std::size_t { 21 }));
        EXPECT_EQ(written.back(), std::make_pair(std::size_t { 21 }, std::size_t { 21 }));
    }
}

TEST(AirspacesTransferService, UploadFailuresStopAndSayWhy)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::function<void(ScriptedAirspacesInstrument&)> script;
        std::optional<std::size_t> cancelBeforeChunk;
        AirspacesTransferError reason;
        std::size_t chunk;
        std::size_t chunkCount;
        std::optional<DeviceErrorKind> kind; // what the instrument did, when it caused it
        std::vector<std::uint8_t> operations;
    };
    const std::vector<std::uint8_t> fiveChunks { 0, 2, 3, 3, 3, 3 };
    std::vector<std::uint8_t> twentyChunksConcluded { 0, 2 };
    twentyChunksConcluded.insert(twentyChunksConcluded.end(), 19, 3);
    twentyChunksConcluded.push_back(4);
    const Case cases[] = {
        { "not a set", 2347, {}, {}, AirspacesTransferError::NotASet, 0, 0, {}, {} },
        { "erase not confirmed", 2420, [](auto& i) { i.holdsSet = true; i.eraseStatus = 2; }, {},
            AirspacesTransferError::EraseFailed, 0, 0, DeviceErrorKind::Refused, { 0, 5 } },
        { "chunk 5 of 20 refused", 2420, [](auto& i) { i.refusedChunk = 5; }, {}, AirspacesTransferError::ChunkRefused, 5,
            20, DeviceErrorKind::Refused, fiveChunks },
        { "cancelled before chunk 6", 2420, {}, 6, AirspacesTransferError::Cancelled, 6, 20, {}, fiveChunks },
        { "conclusion not confirmed", 2420, [](auto& i) { i.concludeStatus = 0; }, {}, AirspacesTransferError::ConcludeFailed, 0,
            0, DeviceErrorKind::Refused, twentyChunksConcluded },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferRig rig;
        if (c.script)
            c.script(rig.instrument);
        std::size_t chunksWritten = 0;
        AirspacesTransferObserver observer;
        observer.chunkWritten = [&](std::size_t, std::size_t) { ++chunksWritten; };
        observer.isCancelled = [&] { return c.cancelBeforeChunk == chunksWritten + 1; };

        const auto uploaded = AirspacesTransferService(*rig.device).upload(setOfSize(c.size), observer);
        ASSERT_FALSE(uploaded);
        EXPECT_EQ(uploaded.error().reason, c.reason);
        EXPECT_EQ(uploaded.error().chunk, c.chunk);
        EXPECT_EQ(uploaded.error().chunkCount, c.chunkCount);
        EXPECT_EQ(uploaded.error().device ? std::optional(uploaded.error().device->kind) : std::nullopt, c.kind);
        // Nothing is concluded after a refused or cancelled chunk, and nothing at all is
        // sent for bytes that are not a set.
        EXPECT_EQ(rig.instrument.operations, c.operations);
    }
}

TEST(AirspacesTransferService, WholeReadAndClear)
{
    TransferRig empty;
    const auto nothing = AirspacesTransferService(*empty.device).readWholeSet();
    ASSERT_TRUE(nothing);
    EXPECT_TRUE(nothing->empty());

    TransferRig silent;
    silent.ports.state->responder = [](const Bytes&) { return Bytes {}; };
    AirspacesTransferService transfers(*silent.device);
    const auto failed = transfers.readWholeSet();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().reason, AirspacesTransferError::ReadFailed);
    const auto notCleared = transfers.clear();
    ASSERT_FALSE(notCleared);
    EXPECT_EQ(notCleared.error().reason, AirspacesTransferError::EraseFailed);

    TransferRig holding;
    holding.instrument.holdsSet = true;
    AirspacesTransferService service(*holding.device);
    EXPECT_TRUE(service.instrumentHoldsASet().value_or(false));
    EXPECT_TRUE(service.clear());
    EXPECT_EQ(holding.instrument.operations, (std::vector<std::uint8_t> { 0, 5 }));
}
