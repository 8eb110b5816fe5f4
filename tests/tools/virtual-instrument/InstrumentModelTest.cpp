#include "InstrumentModel.h"
#include "TemporaryFolder.h"

#include "support/TinyFlight.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdlib.h>

using corvex::testing::TemporaryFolder;

using namespace corvex;
using namespace corvex::virtualinstrument;
using namespace corvex::testing;

namespace {

InstrumentConfig config(std::uint8_t units = 0x08)
{
    InstrumentConfig result;
    result.identity = { 0x00C0FFEE, 2405, 41, units };
    return result;
}

Bytes request(std::initializer_list<std::uint8_t> bytes)
{
    return Bytes(bytes);
}

// The one answer a request gets, joined when it came as several writes.
Bytes ask(InstrumentModel& model, const Bytes& bytes)
{
    Bytes joined;
    for (const Bytes& write : model.receive(bytes))
        joined.insert(joined.end(), write.begin(), write.end());
    return joined;
}

const Bytes fullList = { 0x03, 0x06, 0x00, 0x00 };
const Bytes shortList = { 0x03, 0x05, 0x00, 0x00 };

// The 89-byte DEV_DRV_LIST_TRACKS record of the tiny flight, field by field.
Bytes tinyRecord(std::uint16_t flightNumber, std::uint16_t block)
{
    Bytes record = {
        0x05, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block), 89, // id, block, size
        0x00, 0x00, static_cast<std::uint8_t>(flightNumber >> 8), static_cast<std::uint8_t>(flightNumber),
        10, 0, 5, 7, 14, // 10:00, 5 July 2014
        0x00, 30, // 30 s
        0x03, 0xE8, 0x03, 0xDE, 0x03, 0xFC, // start 1000 m, end 990 m, max 1020 m
        0x00, 69, // 0.69 km from launch at the last fix
        0x00, 20, 0x00, 20, 0xFF, 0xE7, // +2.0, +2.0 (one climbing span), -2.5 m/s
        49, 47, // 9 °C and 8 °C (standard atmosphere at 990 m and 1020 m) in Fahrenheit
        0x12, 0x04, 0x09, 0xC4, 0x02, 0xC8, 0x00, 0x00, 0x00, // launch 4612 2500, 712 0
        0x12, 0x04, 0x13, 0x88, 0x02, 0xC8, 0x0F, 0xA0, 0x00, // landing 4612 5000, 712 4000
        0x04, 0x73, 0x00, 0x00, // 113.9 km/h, no wind
    };
    record.resize(89, 0);
    return record;
}

} // namespace

TEST(InstrumentModel, IdentityAnswers)
{
    InstrumentModel model(config(0x2D), {});
    EXPECT_EQ(ask(model, request({ 0x01 })),
        (Bytes { 0x02, 0x00, 0xC0, 0xFF, 0xEE, 0x00, 0x00, 0x09, 0x65, 41, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            0, 0, 0 }));
    EXPECT_EQ(ask(model, request({ 0x0D })), (Bytes { 0x0D, 0x2D }));
}

TEST(InstrumentModel, LogBookRecordOfAHandMadeFlight)
{
    InstrumentModel model(config(), { tinyFlight(1) });
    EXPECT_EQ(ask(model, fullList), tinyRecord(1, 0));
    // With units bit 0 set the temperatures go out as they are kept, in Celsius.
    InstrumentModel celsius(config(0x09), { tinyFlight(1) });
    Bytes record = ask(celsius, fullList);
    ASSERT_EQ(record.size(), 89u);
    EXPECT_EQ(record[29], 9);
    EXPECT_EQ(record[30], 8);
}

TEST(InstrumentModel, FahrenheitSurvivesTheProgramsTruncation)
{
    // The program turns a stored v into trunc((5v - 160) / 9).
    for (int celsius = -17; celsius <= 60; ++celsius) {
        int stored = encodeTemperature(celsius, 0x00);
        int decoded = (5 * stored - 160) / 9;
        EXPECT_EQ(decoded, celsius) << "stored " << stored;
    }
}

TEST(InstrumentModel, SequencesEndAtBlockZeroAndStartOver)
{
    InstrumentModel model(config(), { tinyFlight(1), tinyFlight(2), tinyFlight(3) });
    EXPECT_EQ(ask(model, fullList), tinyRecord(1, 2));
    EXPECT_EQ(ask(model, fullList), tinyRecord(2, 1));
    EXPECT_EQ(ask(model, fullList), tinyRecord(3, 0));
    // After the last record the next request starts a new pass.
    EXPECT_EQ(ask(model, fullList), tinyRecord(1, 2));
    // A request for the other list starts that list's own pass.
    EXPECT_EQ(ask(model, shortList), tinyRecord(1, 2));
    EXPECT_EQ(ask(model, shortList), tinyRecord(2, 1));
    // Plugged in again: the pass in progress is forgotten.
    model.resetSession();
    EXPECT_EQ(ask(model, shortList), tinyRecord(1, 2));
}

TEST(InstrumentModel, EmptyLogBook)
{
    InstrumentModel model(config(), {});
    EXPECT_TRUE(model.receive(shortList).empty());
    EXPECT_EQ(ask(model, fullList), (Bytes { 0x05, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00 }));
    EXPECT_EQ(ask(model, fullList), (Bytes { 0x05, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00 }));
}

TEST(InstrumentModel, EmptyAndErasedRecordsAmongTheFlights)
{
    InstrumentConfig withEmpties = config();
    withEmpties.emptyRecords = true;
    InstrumentModel model(withEmpties, { tinyFlight(1), tinyFlight(2) });
    std::vector<Bytes> full;
    for (int i = 0; i < 5; ++i)
        full.push_back(ask(model, fullList));
    EXPECT_EQ(full[0], tinyRecord(1, 4));
    Bytes erased(89, 0);
    erased[0] = 0x05;
    erased[2] = 3;
    erased[3] = 89;
    EXPECT_EQ(full[1], erased);
    Bytes long49(49, 0);
    long49[0] = 0x05;
    long49[2] = 2;
    long49[3] = 49;
    EXPECT_EQ(full[2], long49);
    EXPECT_EQ(full[3], (Bytes { 0x05, 0x00, 0x01, 0x08, 0, 0, 0, 0 }));
    EXPECT_EQ(full[4], tinyRecord(2, 0));
    // The short list takes 89-byte records only: the erased one stays, the short
    // empty records are left out.
    EXPECT_EQ(ask(model, shortList), tinyRecord(1, 2));
    erased[2] = 1;
    EXPECT_EQ(ask(model, shortList), erased);
    EXPECT_EQ(ask(model, shortList), tinyRecord(2, 0));
}

TEST(InstrumentModel, EraseEmptiesTheLogBookForGood)
{
    TemporaryFolder folder("corvex-vi-model");
    {
        InstrumentModel model(config(), { tinyFlight(1) }, StateStore(folder.path()));
        Bytes ack = ask(model, request({ 0x03, 0x02 }));
        EXPECT_EQ(ack.size(), 28u);
        EXPECT_EQ(ack[0], 0x03);
        EXPECT_TRUE(model.flights().empty());
        EXPECT_TRUE(model.receive(shortList).empty());
    }
    // Powered up again on the same state folder.
    InstrumentModel again(config(), { tinyFlight(1) }, StateStore(folder.path()));
    EXPECT_TRUE(again.flights().empty());
    EXPECT_EQ(ask(again, fullList).size(), 8u);
}

TEST(InstrumentModel, RequestsSplitJoinedAndGarbled)
{
    InstrumentModel model(config(), { tinyFlight(1) });
    // A request arriving in pieces is answered once complete.
    EXPECT_TRUE(model.receive(request({ 0x03 })).empty());
    EXPECT_TRUE(model.hasPartialRequest());
    EXPECT_TRUE(model.receive(request({ 0x06, 0x00 })).empty());
    EXPECT_EQ(ask(model, request({ 0x00 })), tinyRecord(1, 0));
    // Two requests in one read, with bytes no request starts with in front.
    auto writes = model.receive(request({ 0x77, 0xFF, 0x01, 0x0D }));
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 28u);
    EXPECT_EQ(writes[1], (Bytes { 0x0D, 0x08 }));
    // An unknown log-book operation is dropped byte by byte.
    EXPECT_TRUE(model.receive(request({ 0x03, 0x44 })).empty());
    EXPECT_FALSE(model.hasPartialRequest());
    // A request cut off halfway is dropped when the line goes quiet.
    model.receive(request({ 0x03, 0x06 }));
    model.discardPartialRequest();
    EXPECT_EQ(ask(model, request({ 0x0D })), (Bytes { 0x0D, 0x08 }));
}

TEST(InstrumentModel, FaultInjection)
{
    InstrumentModel model(config(), { tinyFlight(1), tinyFlight(2) });
    EXPECT_FALSE(model.applyFaultCommand("short 5"));
    EXPECT_EQ(ask(model, fullList), (Bytes { 0x05, 0x00, 0x01, 89, 0x00 }));
    EXPECT_FALSE(model.applyFaultCommand("none"));
    EXPECT_FALSE(model.applyFaultCommand("wrong-first-byte"));
    EXPECT_EQ(ask(model, request({ 0x0D })), (Bytes { 0xF2, 0x08 }));
    EXPECT_FALSE(model.applyFaultCommand("none"));
    EXPECT_FALSE(model.applyFaultCommand("silent"));
    EXPECT_TRUE(model.receive(fullList).empty());
    EXPECT_TRUE(model.receive(request({ 0x01 })).empty());
    EXPECT_FALSE(model.applyFaultCommand("none"));
    // What a silent instrument heard did not move its log-book pass on.
    EXPECT_EQ(ask(model, fullList), tinyRecord(2, 0));

    EXPECT_TRUE(model.applyFaultCommand("short"));
    EXPECT_TRUE(model.applyFaultCommand("short x"));
    EXPECT_TRUE(model.applyFaultCommand("silent 3"));
    EXPECT_TRUE(model.applyFaultCommand("loud"));
    EXPECT_FALSE(model.faults().any());
}

namespace {

Bytes pilotRead(std::uint32_t offset, std::uint32_t length)
{
    Bytes frame { 0x0E, 0x00 };
    for (std::uint32_t value : { offset, length })
        for (int i = 0; i < 4; ++i)
            frame.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    frame.push_back(0x01);
    frame.push_back(0x00);
    return frame;
}

Bytes pilotWrite(std::uint32_t offset, const Bytes& chunk, std::uint16_t status)
{
    Bytes frame { 0x0E, 0x01 };
    auto length = static_cast<std::uint32_t>(chunk.size());
    for (std::uint32_t value : { offset, length })
        for (int i = 0; i < 4; ++i)
            frame.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    frame.push_back(static_cast<std::uint8_t>(status));
    frame.push_back(0x00);
    frame.insert(frame.end(), chunk.begin(), chunk.end());
    return frame;
}

Bytes samplePilotRecord()
{
    Bytes record(513, 0);
    for (std::size_t i = 1; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>('A' + i % 26);
    return record;
}

} // namespace

TEST(InstrumentModel, PilotDataReadInTwoChunks)
{
    const Bytes record = samplePilotRecord();
    InstrumentConfig withPilot = config();
    withPilot.initialPilotData = record;
    InstrumentModel model(withPilot, {});
    auto first = model.receive(pilotRead(0, 0));
    ASSERT_EQ(first.size(), 2u);
    // Offset 0, 300 bytes, PILOT_DATA_STATUS_MORE_DATA; the bytes as a second write.
    EXPECT_EQ(first[0], (Bytes { 0x0E, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0x02, 0x00 }));
    EXPECT_EQ(first[1], Bytes(record.begin(), record.begin() + 300));
    // The program echoes offset and length; the rest comes with END_OF_DATA.
    auto second = model.receive(pilotRead(0, 300));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], (Bytes { 0x0E, 0x2C, 0x01, 0, 0, 0xD5, 0, 0, 0, 0x03, 0x00 }));
    EXPECT_EQ(second[1], Bytes(record.begin() + 300, record.end()));

    EXPECT_FALSE(model.applyFaultCommand("pilot-no-data"));
    EXPECT_EQ(ask(model, pilotRead(0, 0)), (Bytes { 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x00 }));
    EXPECT_FALSE(model.applyFaultCommand("none"));
    EXPECT_FALSE(model.applyFaultCommand("pilot-error"));
    EXPECT_EQ(ask(model, pilotRead(0, 0)), (Bytes { 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00 }));

    InstrumentModel empty(config(), {});
    EXPECT_EQ(ask(empty, pilotRead(0, 0)), (Bytes { 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x00 }));
}

TEST(InstrumentModel, PilotDataWrittenAsTheProgramDoesAndKept)
{
    TemporaryFolder folder("corvex-vi-model");
    Bytes record = samplePilotRecord();
    {
        InstrumentModel model(config(), {}, StateStore(folder.path()));
        // 278 bytes with status 2, then 235 with status 3; the frame may arrive in pieces.
        Bytes firstFrame = pilotWrite(0, Bytes(record.begin(), record.begin() + 278), 2);
        EXPECT_TRUE(model.receive(Bytes(firstFrame.begin(), firstFrame.begin() + 100)).empty());
        EXPECT_EQ(ask(model, Bytes(firstFrame.begin() + 100, firstFrame.end())),
            (Bytes { 0x0E, 0, 0, 0, 0, 0x16, 0x01, 0, 0, 0x01, 0x00 }));
        EXPECT_FALSE(model.pilotData().has_value());
        EXPECT_EQ(ask(model, pilotWrite(278, Bytes(record.begin() + 278, record.end()), 3)),
            (Bytes { 0x0E, 0x16, 0x01, 0, 0, 0xEB, 0, 0, 0, 0x01, 0x00 }));
        EXPECT_EQ(model.pilotData(), record);
    }
    InstrumentModel again(config(), {}, StateStore(folder.path()));
    EXPECT_EQ(again.pilotData(), record);
    auto chunk = again.receive(pilotRead(0, 0));
    ASSERT_EQ(chunk.size(), 2u);
    EXPECT_EQ(chunk[1], Bytes(record.begin(), record.begin() + 300));

    // A chunk reaching past the record is refused, and so is a write that fails.
    EXPECT_EQ(ask(again, pilotWrite(500, Bytes(20, 'x'), 3)), (Bytes { 0x0E, 0xF4, 0x01, 0, 0, 0, 0, 0, 0, 0x00, 0x00 }));
    EXPECT_FALSE(again.applyFaultCommand("pilot-error"));
    EXPECT_EQ(ask(again, pilotWrite(0, Bytes(278, 'y'), 2))[9], 0x00);
    EXPECT_EQ(again.pilotData(), record);
}

TEST(InstrumentModel, TrackLogSectorsInSequence)
{
    InstrumentModel model(config(), { tinyFlight(1), tinyFlight(2) });
    const Bytes sector1 { 0x03, 0x03, 0x00, 0x01 };
    auto first = model.receive(sector1);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], (Bytes { 0x04, 0x00, 0x01, 0xFF }));
    EXPECT_EQ(first[1].size(), 255u);
    EXPECT_EQ(first[1][0], 0xFE);
    auto second = model.receive(sector1);
    EXPECT_EQ(second[0], (Bytes { 0x04, 0x00, 0x00, 22 }));
    // After the last sector the download starts again.
    EXPECT_EQ(model.receive(sector1)[0], first[0]);
    // Another flight or format starts its own download.
    auto v2 = model.receive(Bytes { 0x03, 0x07, 0x00, 0x02 });
    ASSERT_EQ(v2.size(), 2u);
    EXPECT_EQ(v2[1][10], 0x01); // flight 2: GPS elevation extension on
    // No such flight: silence.
    EXPECT_TRUE(model.receive(Bytes { 0x03, 0x03, 0x00, 0x09 }).empty());
    // Erased: no track logs either.
    model.receive(Bytes { 0x03, 0x02 });
    EXPECT_TRUE(model.receive(sector1).empty());
}

TEST(InstrumentModel, IgcTextTransfer)
{
    InstrumentModel model(config(), { tinyFlight(1) });
    auto block = [&](std::uint8_t state) { return ask(model, Bytes { 0x03, 0x08, 0x00, 0x01, state }); };
    Bytes name = block(0);
    std::string expectedName = "2014-7-5-XCV-123-01.IGC";
    ASSERT_EQ(name.size(), 300u);
    EXPECT_EQ((Bytes(name.begin(), name.begin() + 3)), (Bytes { 0x03, 0x01, static_cast<std::uint8_t>(expectedName.size()) }));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.data() + 3)), expectedName);
    std::vector<std::uint8_t> states;
    std::uint8_t state = 1;
    while (state < 5) {
        Bytes answer = block(state);
        ASSERT_GE(answer.size(), 3u);
        ASSERT_EQ(answer[0], 0x03);
        ASSERT_EQ(answer.size(), 300u);
        state = answer[1];
        states.push_back(state);
        ASSERT_LT(states.size(), 20u);
    }
    // The header lines, the block that starts the B records (all four fit), the end.
    EXPECT_EQ(states, (std::vector<std::uint8_t> { 2, 4, 5 }));
    // State 0 starts over, in the middle of a transfer too.
    block(0);
    EXPECT_EQ(block(1)[1], 2);
    EXPECT_EQ(block(0)[1], 1);

    Bytes igcError(300, 0);
    igcError[0] = 0x03;
    igcError[1] = 0xFF;
    EXPECT_EQ(ask(model, Bytes { 0x03, 0x08, 0x00, 0x07, 0x00 }), igcError);
    EXPECT_FALSE(model.applyFaultCommand("igc-error"));
    EXPECT_EQ(block(0), igcError);

    // Without padding every answer is its header and text; padded to 258 it is NUL-
    // padded that far; the same bytes otherwise.
    InstrumentConfig unpaddedConfig = config();
    unpaddedConfig.igcTextPaddedLength = 0;
    InstrumentConfig shortPaddingConfig = config();
    shortPaddingConfig.igcTextPaddedLength = 258;
    InstrumentModel padded(config(), { tinyFlight(1) });
    InstrumentModel unpadded(unpaddedConfig, { tinyFlight(1) });
    InstrumentModel shortPadding(shortPaddingConfig, { tinyFlight(1) });
    for (std::uint8_t next = 0; next < 5;) {
        const Bytes request = { 0x03, 0x08, 0x00, 0x01, next };
        const Bytes full = ask(padded, request);
        const Bytes cut = ask(unpadded, request);
        const Bytes to258 = ask(shortPadding, request);
        ASSERT_EQ(full.size(), 300u);
        ASSERT_EQ(cut.size(), 3u + full[2]);
        ASSERT_EQ(to258.size(), 258u);
        EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));
        EXPECT_TRUE(std::equal(to258.begin(), to258.end(), full.begin()));
        next = full[1];
    }
    EXPECT_EQ(ask(unpadded, Bytes { 0x03, 0x08, 0x00, 0x07, 0x00 }), (Bytes { 0x03, 0xFF, 0x00 }));

    InstrumentConfig old = config();
    old.identity.firmwareVersion = 1355;
    InstrumentModel oldFirmware(old, { tinyFlight(1) });
    EXPECT_TRUE(oldFirmware.receive(Bytes { 0x03, 0x08, 0x00, 0x01, 0x00 }).empty());
}
