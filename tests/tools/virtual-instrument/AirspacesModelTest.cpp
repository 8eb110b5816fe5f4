#include "InstrumentModel.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdlib.h>

using corvex::testing::TemporaryFolder;

using namespace corvex;
using namespace corvex::virtualinstrument;

namespace {

Bytes request(std::uint8_t operation, std::uint8_t scope, std::uint32_t length = 0)
{
    return Bytes { 0x0F, operation, scope, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24) };
}

Bytes answer(std::uint8_t status, std::uint32_t length = 0)
{
    return Bytes { 0x0F, status, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24) };
}

Bytes sampleSet(std::size_t size)
{
    Bytes set(size);
    for (std::size_t i = 0; i < size; ++i)
        set[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return set;
}

// Writes a set as the program does: 121-byte chunks, the first with operation 2, each
// header followed by the chunk padded to 121 bytes; then the conclusion.
void upload(InstrumentModel& model, const Bytes& set, bool conclude = true)
{
    for (std::size_t at = 0; at < set.size(); at += 121) {
        std::size_t length = std::min<std::size_t>(121, set.size() - at);
        auto writes = model.receive(request(at == 0 ? 2 : 3, 1, static_cast<std::uint32_t>(length)));
        ASSERT_TRUE(writes.empty()); // the payload is still to come
        Bytes payload(set.begin() + static_cast<std::ptrdiff_t>(at), set.begin() + static_cast<std::ptrdiff_t>(at + length));
        payload.resize(121, 0);
        writes = model.receive(payload);
        ASSERT_EQ(writes.size(), 1u);
        ASSERT_EQ(writes[0], answer(1));
    }
    if (conclude) {
        auto writes = model.receive(request(4, 1));
        ASSERT_EQ(writes.size(), 1u);
        ASSERT_EQ(writes[0], answer(1));
    }
}

// Reads as the program does: from the beginning, then on while status 2 says more.
Bytes download(InstrumentModel& model, bool metadataOnly, std::vector<Bytes>* answers = nullptr)
{
    Bytes data;
    bool first = true;
    for (int guard = 0; guard < 1000; ++guard) {
        auto writes = model.receive(request(first ? 0 : 1, metadataOnly ? 0 : 1));
        first = false;
        EXPECT_GE(writes.size(), 1u);
        if (writes.empty())
            break;
        if (answers)
            answers->push_back(writes[0]);
        std::uint32_t length = writes[0][2] | writes[0][3] << 8;
        Bytes payload = writes.size() > 1 ? writes[1] : Bytes {};
        EXPECT_EQ(payload.size(), length);
        data.insert(data.end(), payload.begin(), payload.end());
        if (writes[0][1] != 2)
            break;
    }
    return data;
}

} // namespace

TEST(AirspacesModel, NoSetGivesAnEmptyLastChunk)
{
    InstrumentModel model(InstrumentConfig {}, {});
    auto writes = model.receive(request(0, 0));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], answer(1, 0));
    EXPECT_TRUE(download(model, false).empty());
}

TEST(AirspacesModel, UploadReadBackAndKeep)
{
    TemporaryFolder folder("corvex-vi-airspaces");
    Bytes set = sampleSet(2400);
    {
        InstrumentModel model(InstrumentConfig {}, {}, StateStore(folder.path()));
        upload(model, set);
        std::vector<Bytes> answers;
        Bytes header = download(model, true, &answers);
        EXPECT_EQ(header, Bytes(set.begin(), set.begin() + 2300));
        // 256-byte chunks: eight with more to come, then the last 252 bytes.
        ASSERT_EQ(answers.size(), 9u);
        EXPECT_EQ(answers[0], answer(2, 256));
        EXPECT_EQ(answers[8], answer(1, 252));
        EXPECT_EQ(download(model, false), set);
    }
    InstrumentModel again(InstrumentConfig {}, {}, StateStore(folder.path()));
    EXPECT_EQ(download(again, false), set);

    // Reading from the beginning again in the middle of a read starts over.
    again.receive(request(0, 1));
    auto restarted = again.receive(request(0, 1));
    ASSERT_EQ(restarted.size(), 2u);
    EXPECT_EQ(restarted[1], Bytes(set.begin(), set.begin() + 256));

    // Erase: status 1, and the set is gone for good.
    EXPECT_EQ(again.receive(request(5, 0)), std::vector<Bytes> { answer(1) });
    EXPECT_TRUE(download(again, true).empty());
    InstrumentModel erased(InstrumentConfig {}, {}, StateStore(folder.path()));
    EXPECT_FALSE(erased.airspaces().has_value());
}

TEST(AirspacesModel, IncompleteOrMalformedWritesChangeNothing)
{
    Bytes stored = sampleSet(2500);
    InstrumentConfig config;
    config.initialAirspaces = stored;
    InstrumentModel model(config, {});
    // A write that is never concluded leaves the stored set alone.
    upload(model, sampleSet(300), false);
    EXPECT_EQ(model.airspaces(), stored);
    model.resetSession();
    // A next chunk without a first one, a chunk over 121 bytes, a conclusion without a
    // write: refused.
    Bytes frame = request(3, 1, 10);
    frame.resize(frame.size() + 121, 0);
    EXPECT_EQ(model.receive(frame), std::vector<Bytes> { answer(0) });
    frame = request(2, 1, 122);
    frame.resize(frame.size() + 121, 0);
    EXPECT_EQ(model.receive(frame), std::vector<Bytes> { answer(0) });
    EXPECT_EQ(model.receive(request(4, 1)), std::vector<Bytes> { answer(0) });
    EXPECT_EQ(model.airspaces(), stored);
    // A chunk of exactly 121 bytes is taken whole.
    upload(model, sampleSet(121));
    EXPECT_EQ(model.airspaces(), sampleSet(121));
}

TEST(AirspacesModel, FaultInjection)
{
    InstrumentConfig config;
    config.initialAirspaces = sampleSet(600);
    InstrumentModel model(config, {});
    EXPECT_FALSE(model.applyFaultCommand("airspaces-error"));
    EXPECT_EQ(model.receive(request(0, 1)), std::vector<Bytes> { answer(0) });
    EXPECT_EQ(model.receive(request(5, 0)), std::vector<Bytes> { answer(0) });
    EXPECT_EQ(model.airspaces(), sampleSet(600));

    EXPECT_FALSE(model.applyFaultCommand("none"));
    EXPECT_FALSE(model.applyFaultCommand("airspaces-status 5"));
    auto writes = model.receive(request(0, 1));
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], answer(5, 256));
    EXPECT_EQ(writes[1].size(), 256u);
    EXPECT_EQ(model.receive(request(5, 0)), std::vector<Bytes> { answer(5) });

    EXPECT_FALSE(model.applyFaultCommand("none"));
    upload(model, sampleSet(600));
    EXPECT_FALSE(model.applyFaultCommand("airspaces-short-payload"));
    writes = model.receive(request(0, 1));
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], answer(2, 256));
    EXPECT_EQ(writes[1].size(), 255u);

    EXPECT_TRUE(model.applyFaultCommand("airspaces-status"));
    EXPECT_TRUE(model.applyFaultCommand("airspaces-status 300"));
}
