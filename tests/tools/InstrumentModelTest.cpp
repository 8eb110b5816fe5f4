#include "InstrumentModel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdlib.h>

using namespace corvex;
using namespace corvex::virtualinstrument;

namespace {

// Four fixes ten seconds apart, climbing 2 m/s and then sinking.
const char* const tinyIgc = "AXCV123 test\r\n"
                            "HFDTE050714\r\n"
                            "HFFXA035\r\n"
                            "I013638FXA\r\n"
                            "B1000004612250N00712000EA0100001050035\r\n"
                            "B1000104612300N00712100EA0102001070035\r\n"
                            "B1000204612400N00712300EA0101501060035\r\n"
                            "B1000304612500N00712400EA0099001040035\r\n";

Flight tinyFlight(std::uint16_t number)
{
    Flight flight;
    flight.flightNumber = number;
    flight.fileName = "tiny.igc";
    flight.igc = *parseIgc(tinyIgc);
    flight.entry = summarizeFlight(flight.igc, number);
    return flight;
}

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

class TemporaryFolder {
public:
    TemporaryFolder()
    {
        char name[] = "/tmp/corvex-vi-model-XXXXXX";
        m_path = ::mkdtemp(name) ? name : "";
    }
    ~TemporaryFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

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
    TemporaryFolder folder;
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
