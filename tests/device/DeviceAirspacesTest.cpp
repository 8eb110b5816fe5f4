#include "device/CorvexDevice.h"
#include "device/Protocol.h"

#include "support/DeviceTestRig.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

// A device whose line is open on an instrument giving these answers in order.
struct AirspacesRig : DeviceTestRig {
    explicit AirspacesRig(std::vector<Bytes> answers)
        : DeviceTestRig(scriptedAnswers(std::move(answers)))
    {
    }
};

Bytes answer(std::uint8_t status, std::uint32_t length = 0)
{
    return { 0x0f, status, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24) };
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes counting(std::size_t length)
{
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i + 1);
    return bytes;
}

} // namespace

TEST(DeviceAirspaces, ReadingChunksAndTheMoreDataFlag)
{
    const Bytes payload = counting(300);
    AirspacesRig rig({ concat(answer(2, 300), payload), answer(2, 0), concat(answer(1, 3), { 7, 8, 9 }),
        concat(answer(5, 2), { 1, 2 }) });
    bool more = false;
    EXPECT_EQ(rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::FromBeginning, AirspacesReadScope::WholeData, &more),
        payload);
    EXPECT_TRUE(more);
    more = false;
    // Status 2 with nothing announced: an empty chunk, more to come.
    EXPECT_EQ(rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::Next, AirspacesReadScope::WholeData, &more), Bytes {});
    EXPECT_TRUE(more);
    EXPECT_EQ(rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::Next, AirspacesReadScope::MetadataOnly, &more),
        (Bytes { 7, 8, 9 }));
    EXPECT_FALSE(more);
    // Any other non-error status keeps the payload and leaves the flag alone.
    more = true;
    EXPECT_EQ(rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::Next, AirspacesReadScope::WholeData, &more),
        (Bytes { 1, 2 }));
    EXPECT_TRUE(more);

    ASSERT_EQ(rig.line().written.size(), 4u);
    EXPECT_EQ(rig.line().written[0], hexBytes("0f 00 01 00000000"));
    EXPECT_EQ(rig.line().written[1], hexBytes("0f 01 01 00000000"));
    EXPECT_EQ(rig.line().written[2], hexBytes("0f 01 00 00000000"));
    EXPECT_TRUE(rig.log.lines.empty());
}

TEST(DeviceAirspaces, ReadFailures)
{
    struct Case {
        Bytes reply;
        const char* line;
    };
    const Case cases[] = {
        { answer(0, 4), "readAirspacesChunk: response AIRSPACES_STATUS_ERROR status" },
        { {}, "readAirspacesChunk: device response length is incorrect" },
        { { 0x0f, 0x01, 0x00 }, "readAirspacesChunk: device response length is incorrect" },
        { concat(answer(1, 10), { 1, 2, 3 }), "readAirspacesChunk: device returned payload length is incorrect" },
    };
    for (const auto& c : cases) {
        AirspacesRig rig({ c.reply });
        bool more = true;
        EXPECT_FALSE(rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::FromBeginning, AirspacesReadScope::WholeData, &more));
        EXPECT_EQ(rig.log.lines, std::vector<std::string> { c.line });
    }
    AirspacesRig failingWrite({});
    failingWrite.line().failWrites = true;
    EXPECT_FALSE(failingWrite.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::Next, AirspacesReadScope::WholeData));
    EXPECT_TRUE(failingWrite.log.contains("readAirspacesChunk: deviceWriteData returned NO"));
}

TEST(DeviceAirspaces, WritingChunksIsPaddedTo121Bytes)
{
    AirspacesRig rig({ {}, answer(1), {}, answer(2), {}, answer(1) });
    const Bytes full = counting(121);
    EXPECT_TRUE(rig.device->writeAirspacesChunk(full, AirspacesWritePosition::FirstChunk));
    EXPECT_TRUE(rig.device->writeAirspacesChunk(Bytes { 0xaa }, AirspacesWritePosition::NextChunk));
    EXPECT_TRUE(rig.device->writeAirspacesChunk(Bytes {}, AirspacesWritePosition::NextChunk));

    const auto& written = rig.line().written;
    ASSERT_EQ(written.size(), 6u);
    EXPECT_EQ(written[0], hexBytes("0f 02 01 79000000"));
    EXPECT_EQ(written[1], full);
    EXPECT_EQ(written[2], hexBytes("0f 03 01 01000000"));
    Bytes padded(121, 0);
    padded[0] = 0xaa;
    EXPECT_EQ(written[3], padded);
    EXPECT_EQ(written[4], hexBytes("0f 03 01 00000000"));
    EXPECT_EQ(written[5], Bytes(121, 0));

    AirspacesRig refused({ answer(1) });
    EXPECT_FALSE(refused.device->writeAirspacesChunk(counting(122), AirspacesWritePosition::FirstChunk));
    EXPECT_TRUE(refused.line().written.empty());
    EXPECT_TRUE(refused.log.contains(
        "writeAirspacesChunk: a single airspaces data chunk can't be larger than 121 bytes, but you are trying to send 122"));
}

TEST(DeviceAirspaces, WriteAndConcludeStatuses)
{
    AirspacesRig rig({ {}, answer(0), {}, answer(7), answer(2), answer(0), {} });
    EXPECT_FALSE(rig.device->writeAirspacesChunk(Bytes { 1 }, AirspacesWritePosition::FirstChunk));
    EXPECT_TRUE(rig.log.contains("writeAirspacesChunk: response AIRSPACES_STATUS_ERROR status"));
    EXPECT_TRUE(rig.device->writeAirspacesChunk(Bytes { 1 }, AirspacesWritePosition::NextChunk));
    EXPECT_TRUE(rig.device->concludeWritingAirspacesData());
    EXPECT_EQ(rig.line().written.back(), hexBytes("0f 04 01 00000000"));
    EXPECT_FALSE(rig.device->concludeWritingAirspacesData());
    EXPECT_TRUE(rig.log.contains("concludeWritingAirspacesData: response AIRSPACES_STATUS_ERROR status"));
    EXPECT_FALSE(rig.device->concludeWritingAirspacesData());
    EXPECT_TRUE(rig.log.contains("concludeWritingAirspacesData: device response length is incorrect"));

    // The payload is a write of its own and can fail by itself.
    AirspacesRig payloadFails({ {}, answer(1) });
    payloadFails.line().failAfterBytes = 7;
    EXPECT_FALSE(payloadFails.device->writeAirspacesChunk(Bytes { 1 }, AirspacesWritePosition::FirstChunk));
    EXPECT_TRUE(payloadFails.log.contains("writeAirspacesChunk: deviceWriteData returned NO (when sending the payload)"));
    AirspacesRig headerFails({});
    headerFails.line().failWrites = true;
    EXPECT_FALSE(headerFails.device->writeAirspacesChunk(Bytes { 1 }, AirspacesWritePosition::FirstChunk));
    EXPECT_TRUE(headerFails.log.contains("writeAirspacesChunk: deviceWriteData returned NO (when sending the header)"));
    EXPECT_FALSE(headerFails.device->concludeWritingAirspacesData());
    EXPECT_TRUE(headerFails.log.contains("concludeWritingAirspacesData: deviceWriteData returned NO (when sending the header)"));
}

TEST(DeviceAirspaces, EraseWaitsTwoHundredTenTurnsBeforeReading)
{
    AirspacesRig rig({ answer(1) });
    std::vector<float> progress;
    std::size_t readsDuringWait = 0;
    rig.onPause = [&] { readsDuringWait += rig.line().pending.size() == 6 ? 0 : 1; };
    EXPECT_TRUE(rig.device->eraseAirspacesDataWithFakeProgressBlock([&](float value) { progress.push_back(value); }));
    EXPECT_EQ(rig.line().written, std::vector<Bytes> { hexBytes("0f 05 00 00000000") });
    ASSERT_EQ(progress.size(), 210u);
    EXPECT_EQ(progress.front(), 0.0f);
    EXPECT_EQ(progress.back(), 209.0f / 210.0f);
    EXPECT_LT(progress.back(), 1.0f);
    EXPECT_EQ(rig.pauses, std::vector<std::chrono::milliseconds>(210, std::chrono::milliseconds(100)));
    EXPECT_EQ(readsDuringWait, 0u); // the answer stays on the line until the wait is over
    EXPECT_TRUE(rig.log.lines.empty());

    // Without a callback the wait is the same; an operation's context that the device
    // runs in gets the progress, and its sleeps are the waits (a window turns its loop).
    AirspacesRig quiet({ answer(1) });
    RecordingProgress shown;
    int sleeps = 0;
    const OperationContext window = quiet.context().withProgress(&shown).withSleep([&](std::chrono::milliseconds) { ++sleeps; });
    const CorvexDevice::OperationScope scope(*quiet.device, window);
    EXPECT_TRUE(quiet.device->eraseAirspacesDataWithFakeProgressBlock());
    EXPECT_EQ(sleeps, 210);
    EXPECT_TRUE(quiet.pauses.empty());
    ASSERT_EQ(shown.perMille.size(), 210u);
    EXPECT_EQ(shown.perMille.back(), 995);
}

TEST(DeviceAirspaces, EraseFailures)
{
    AirspacesRig more({ answer(2) });
    EXPECT_FALSE(more.device->eraseAirspacesDataWithFakeProgressBlock());
    EXPECT_TRUE(more.log.contains("eraseAirspaceData: response erroneous status 2"));

    AirspacesRig silent({});
    EXPECT_FALSE(silent.device->eraseAirspacesDataWithFakeProgressBlock());
    EXPECT_TRUE(silent.log.contains("eraseAirspaceData: device response length is incorrect"));

    AirspacesRig writeFails({ answer(1) });
    writeFails.line().failWrites = true;
    int calls = 0;
    EXPECT_FALSE(writeFails.device->eraseAirspacesDataWithFakeProgressBlock([&](float) { ++calls; }));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(writeFails.pauses.empty());
    EXPECT_TRUE(writeFails.log.contains("eraseAirspaceData: deviceWriteData returned nil"));
}

TEST(DeviceAirspaces, WithoutAnOpenLineEveryOperationFailsOnTheAnswer)
{
    CapturingLogSink log;
    CorvexDevice device(nullptr, CorvexDeviceEnvironment {}, instantContext(log));
    EXPECT_FALSE(device.readAirspacesChunkFromBeginning(AirspacesReadPosition::FromBeginning, AirspacesReadScope::MetadataOnly));
    EXPECT_FALSE(device.writeAirspacesChunk(Bytes { 1 }, AirspacesWritePosition::FirstChunk));
    EXPECT_FALSE(device.concludeWritingAirspacesData());
    EXPECT_FALSE(device.eraseAirspacesDataWithFakeProgressBlock());
    EXPECT_EQ(log.lines, (std::vector<std::string> { "readAirspacesChunk: device response length is incorrect",
                             "writeAirspacesChunk: device response length is incorrect",
                             "concludeWritingAirspacesData: device response length is incorrect",
                             "eraseAirspaceData: device response length is incorrect" }));
}

// The line drops at every byte of each exchange: each must fail cleanly, never report
// a partial chunk or an unconfirmed write as success.
TEST(DeviceAirspaces, FaultSweep)
{
    const Bytes payload = counting(40);
    const std::size_t readTotal = 7 + 6 + payload.size();
    for (std::size_t failAt = 0; failAt < readTotal; ++failAt) {
        AirspacesRig rig({ concat(answer(1, 40), payload) });
        rig.line().failAfterBytes = failAt;
        bool more = true;
        EXPECT_FALSE(rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::FromBeginning, AirspacesReadScope::WholeData, &more))
            << "read, line dropped after " << failAt << " bytes";
        ASSERT_FALSE(rig.log.lines.empty());
        EXPECT_TRUE(rig.log.lines.back().starts_with("readAirspacesChunk: ")) << rig.log.lines.back();
    }
    const std::size_t writeTotal = 7 + 121 + 6;
    for (std::size_t failAt = 0; failAt < writeTotal; ++failAt) {
        AirspacesRig rig({ {}, answer(1) });
        rig.line().failAfterBytes = failAt;
        EXPECT_FALSE(rig.device->writeAirspacesChunk(payload, AirspacesWritePosition::FirstChunk))
            << "write, line dropped after " << failAt << " bytes";
    }
    for (std::size_t failAt = 0; failAt < 7 + 6; ++failAt) {
        AirspacesRig conclude({ answer(1) });
        conclude.line().failAfterBytes = failAt;
        EXPECT_FALSE(conclude.device->concludeWritingAirspacesData()) << "conclude, dropped after " << failAt;
        AirspacesRig erase({ answer(1) });
        erase.line().failAfterBytes = failAt;
        EXPECT_FALSE(erase.device->eraseAirspacesDataWithFakeProgressBlock()) << "erase, dropped after " << failAt;
    }
}

TEST(DeviceAirspaces, WholeSetJoinsChunksAndStopsAnInstrumentThatNeverEnds)
{
    AirspacesRig rig({ concat(answer(2, 3), { 1, 2, 3 }), concat(answer(1, 2), { 4, 5 }) });
    EXPECT_EQ(rig.device->readWholeAirspacesSet(AirspacesReadScope::WholeData), (Bytes { 1, 2, 3, 4, 5 }));

    // Always "more data", never a last chunk: the read gives up instead of looping.
    AirspacesRig endless({});
    endless.line().responder = [](const Bytes&) { return answer(2, 0); };
    EXPECT_FALSE(endless.device->readWholeAirspacesSet(AirspacesReadScope::MetadataOnly));
    EXPECT_TRUE(endless.log.contains("readWholeAirspacesSet: the instrument does not end the set (more than 65536 chunks)"));

    AirspacesRig failing({ concat(answer(2, 3), { 1, 2, 3 }) });
    EXPECT_FALSE(failing.device->readWholeAirspacesSet(AirspacesReadScope::WholeData)) << "nothing partial on a failed chunk";
}

// The payload length comes from the instrument: lengths up to the most a chunk may
// carry are read, longer ones fail before a byte of the payload is read or a buffer
// of their size is asked for.
TEST(DeviceAirspaces, AnnouncedPayloadLengthIsBoundedBeforeReading)
{
    struct Case {
        std::uint32_t length;
        bool legal;
    };
    for (const Case c : { Case { 0, true }, Case { protocol::airspacesReadPayloadLimit, true },
             Case { protocol::airspacesReadPayloadLimit + 1, false }, Case { 0xFFFFFFFFu, false } }) {
        // As much payload as a legal length needs; an impossible one gets the limit's worth.
        const Bytes payload = counting(std::min<std::size_t>(c.length, protocol::airspacesReadPayloadLimit));
        AirspacesRig rig({ concat(answer(1, c.length), payload) });
        auto chunk = rig.device->readAirspacesChunkFromBeginning(AirspacesReadPosition::FromBeginning, AirspacesReadScope::WholeData);
        if (c.legal) {
            EXPECT_EQ(chunk, payload) << c.length;
            EXPECT_TRUE(rig.log.lines.empty()) << c.length;
        } else {
            EXPECT_FALSE(chunk) << c.length;
            EXPECT_EQ(rig.log.lines,
                std::vector<std::string> { "readAirspacesChunk: impossible length " + std::to_string(c.length) + " announced by the device" });
            EXPECT_EQ(rig.line().pending.size(), payload.size()) << "no payload byte read for " << c.length;
        }
        EXPECT_LE(rig.line().largestReadBuffer, 4096u) << c.length;
    }
}
