#include "InstrumentModel.h"
#include "TrackLogFrames.h"

#include "support/TinyFlight.h"

#include <gtest/gtest.h>

#include <map>

using namespace corvex;
using namespace corvex::virtualinstrument;
using namespace corvex::testing;

namespace {

const std::string igcFolder = CORVEX_TESTDATA_DIR "/igc";

const RecorderInfo wren { 0x00C0FFEE, 2405, 2, "CORVEX,VARIO WREN" };

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string textAt(const Bytes& bytes, std::size_t from, std::size_t slot)
{
    std::string text;
    for (std::size_t i = from; i < from + slot && bytes[i] != 0; ++i)
        text.push_back(static_cast<char>(bytes[i]));
    return text;
}

// A walk over flight data written here from the record table, independent of the
// instrument's encoder: counts what it finds.
struct Walk {
    std::size_t locations { 0 };
    std::size_t timeRecords { 0 };
    std::size_t unknownBytes { 0 };
    bool hRecord { false };
    bool gRecord { false };
    bool gAfterLastLocation { false };
    std::vector<int> gpsElevations;
};

Walk walk(const Bytes& data, TrackLogFormat format)
{
    Walk result;
    bool second = format == TrackLogFormat::Second;
    std::size_t position = second ? static_cast<std::size_t>(data[11] | data[12] << 8) : 9;
    bool extension = second && data[10] == 1;
    std::size_t recordSize = second ? 16 : 15;
    while (position < data.size()) {
        std::size_t left = data.size() - position;
        std::uint8_t type = data[position];
        if (type == 0xFE && left >= 7) {
            ++result.timeRecords;
            position += 7;
        } else if (type >= 0xF8 && type <= 0xFB && left >= recordSize) {
            ++result.locations;
            auto field = static_cast<std::uint16_t>(data[position + 13] << 8 | data[position + 14]);
            if (extension)
                field = static_cast<std::uint16_t>(field + data[position + 15]);
            result.gpsElevations.push_back(static_cast<std::int16_t>(field));
            result.gAfterLastLocation = false;
            position += recordSize;
        } else if (type == 0xF5 && left >= 166) {
            result.hRecord = true;
            position += 166;
        } else if (type == 0xF6 && left >= 35) {
            result.gRecord = true;
            result.gAfterLastLocation = true;
            position += 35;
        } else {
            ++result.unknownBytes;
            ++position;
        }
    }
    return result;
}

// Joins the sectors as the program does: header, then the payload's first n bytes.
Bytes joinSectors(const std::vector<std::vector<Bytes>>& sectors)
{
    Bytes data;
    for (const auto& writes : sectors) {
        std::size_t valid = writes[0][3] ? writes[0][3] : writes[1].size();
        data.insert(data.end(), writes[1].begin(), writes[1].begin() + static_cast<std::ptrdiff_t>(valid));
    }
    return data;
}

} // namespace

TEST(TrackLogFrames, FirstFormatOfAHandMadeFlight)
{
    Bytes data = encodeFlightData(flightFromIgc(tinyIgc, 1), TrackLogFormat::First, wren);
    ASSERT_EQ(data.size(), 9u + 7 + 166 + 4 * 15 + 35);
    EXPECT_EQ(slice(data, 0, 9), (Bytes { 0xFE, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00 }));
    EXPECT_EQ(slice(data, 9, 7), (Bytes { 0xFE, 10, 0, 0, 5, 7, 14 }));

    Bytes h = slice(data, 16, 166);
    EXPECT_EQ(h[0], 0xF5);
    EXPECT_EQ(textAt(h, 2, 16), "XCV123");
    EXPECT_EQ(slice(h, 18, 3), (Bytes { 5, 7, 14 }));
    EXPECT_EQ(slice(h, 22, 2), (Bytes { 35, 0 })); // fix accuracy, little-endian
    EXPECT_EQ(textAt(h, 24, 10), "WGS-1984");
    EXPECT_EQ(slice(h, 34, 4), (Bytes { 0x09, 0x65, 0x00, 0x02 })); // firmware 2405, hardware 2
    EXPECT_EQ(textAt(h, 38, 32), "CORVEX,VARIO WREN");
    EXPECT_EQ(textAt(h, 70, 48), "GENERIC");
    EXPECT_EQ(textAt(h, 118, 48), "GENERIC");

    // 0xFA: north and east; seconds; 4612 2500 / 712 0; baro 1000; GPS 1050.
    EXPECT_EQ(slice(data, 182, 15),
        (Bytes { 0xFA, 0x00, 0x00, 0x12, 0x04, 0x09, 0xC4, 0x02, 0xC8, 0x00, 0x00, 0x03, 0xE8, 0x04, 0x1A }));
    EXPECT_EQ(slice(data, 197, 15),
        (Bytes { 0xFA, 0x00, 0x0A, 0x12, 0x04, 0x0B, 0xB8, 0x02, 0xC8, 0x03, 0xE8, 0x03, 0xFC, 0x04, 0x2E }));
    EXPECT_EQ(slice(data, 227, 15),
        (Bytes { 0xFA, 0x00, 0x1E, 0x12, 0x04, 0x13, 0x88, 0x02, 0xC8, 0x0F, 0xA0, 0x03, 0xDE, 0x04, 0x10 }));
    EXPECT_EQ(data[242], 0xF6);

    // 277 bytes: a full sector with one to follow, then 22 valid bytes padded.
    ASSERT_EQ(sectorCount(data.size()), 2u);
    auto first = encodeSector(data, 0);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], (Bytes { 0x04, 0x00, 0x01, 0xFF }));
    EXPECT_EQ(first[1], slice(data, 0, 255));
    auto last = encodeSector(data, 1);
    EXPECT_EQ(last[0], (Bytes { 0x04, 0x00, 0x00, 22 }));
    ASSERT_EQ(last[1].size(), 255u);
    EXPECT_EQ(slice(last[1], 0, 22), slice(data, 255, 22));
    EXPECT_EQ(last[1][22], 0xFF);
}

TEST(TrackLogFrames, SecondFormatWithTheElevationExtension)
{
    // Even flight numbers split the GPS elevation into field + extension byte.
    Bytes data = encodeFlightData(flightFromIgc(tinyIgc, 2), TrackLogFormat::Second, wren);
    ASSERT_EQ(data.size(), 32u + 7 + 4 * 16 + 166 + 35);
    EXPECT_EQ(slice(data, 9, 4), (Bytes { 0x02, 0x01, 0x20, 0x00 })); // flag 1, dataOffset 32
    EXPECT_EQ(slice(data, 32, 7), (Bytes { 0xFE, 10, 0, 0, 5, 7, 14 }));
    EXPECT_EQ(slice(data, 39, 16),
        (Bytes { 0xFA, 0x00, 0x00, 0x12, 0x04, 0x09, 0xC4, 0x02, 0xC8, 0x00, 0x00, 0x03, 0xE8, 0x04, 0x1A, 0x00 }));
    // 1070 m sent as 1069 + 1.
    EXPECT_EQ(slice(data, 55, 16),
        (Bytes { 0xFA, 0x00, 0x0A, 0x12, 0x04, 0x0B, 0xB8, 0x02, 0xC8, 0x03, 0xE8, 0x03, 0xFC, 0x04, 0x2D, 0x01 }));
    // H and G close the data, where the walk stops.
    EXPECT_EQ(data[39 + 64], 0xF5);
    EXPECT_EQ(data[39 + 64 + 166], 0xF6);

    Bytes odd = encodeFlightData(flightFromIgc(tinyIgc, 3), TrackLogFormat::Second, wren);
    EXPECT_EQ(odd[10], 0x00);
    EXPECT_EQ(slice(odd, 55 + 13, 3), (Bytes { 0x04, 0x2E, 0x00 }));
}

TEST(TrackLogFrames, TimeRecordsAtMidnightAndLongGaps)
{
    // 28 February 2016 (a leap year) into 29 February, then a gap of over 18 hours.
    Flight flight = flightFromIgc("AXCV001\n"
                               "HFDTE280216\n"
                               "B2359504612250S00712000WA0100001050\n"
                               "B0000104612250S00712000WA0100001050\n"
                               "B1900204612250S00712000WA0100001050\n",
        1);
    Bytes data = encodeFlightData(flight, TrackLogFormat::First, wren);
    std::size_t at = 9;
    EXPECT_EQ(slice(data, at, 7), (Bytes { 0xFE, 23, 59, 50, 28, 2, 16 }));
    at += 7 + 166;
    EXPECT_EQ(slice(data, at, 3), (Bytes { 0xF9, 0x00, 0x00 })); // south and west
    at += 15;
    EXPECT_EQ(slice(data, at, 7), (Bytes { 0xFE, 0, 0, 10, 29, 2, 16 }));
    at += 7;
    EXPECT_EQ(slice(data, at, 3), (Bytes { 0xF9, 0x00, 0x00 }));
    at += 15;
    // 68410 s would not fit 16 bits.
    EXPECT_EQ(slice(data, at, 7), (Bytes { 0xFE, 19, 0, 20, 29, 2, 16 }));
}

TEST(TrackLogFrames, EverySharedFlightWalksCompletely)
{
    auto flights = loadFlights(igcFolder);
    ASSERT_EQ(flights.size(), 6u);
    for (const Flight& flight : flights) {
        for (TrackLogFormat format : { TrackLogFormat::First, TrackLogFormat::Second }) {
            SCOPED_TRACE(flight.fileName + (format == TrackLogFormat::First ? " first" : " second"));
            Bytes data = encodeFlightData(flight, format, wren);
            std::vector<std::vector<Bytes>> sectors;
            for (std::size_t i = 0; i < sectorCount(data.size()); ++i) {
                sectors.push_back(encodeSector(data, i));
                std::uint16_t block = static_cast<std::uint16_t>(sectors.back()[0][1] << 8 | sectors.back()[0][2]);
                EXPECT_EQ(block == 0, i + 1 == sectorCount(data.size()));
            }
            ASSERT_EQ(joinSectors(sectors), data);
            Walk result = walk(data, format);
            EXPECT_EQ(result.locations, flight.igc.fixes.size());
            EXPECT_EQ(result.unknownBytes, 0u);
            EXPECT_TRUE(result.hRecord);
            EXPECT_TRUE(result.gRecord);
            EXPECT_TRUE(result.gAfterLastLocation);
            ASSERT_EQ(result.gpsElevations.size(), flight.igc.fixes.size());
            for (std::size_t i = 0; i < flight.igc.fixes.size(); i += 97)
                EXPECT_EQ(result.gpsElevations[i], flight.igc.fixes[i].gnssAltitude);
        }
    }
    // The flight over midnight carries the next day's date after 00:00.
    Bytes overMidnight = encodeFlightData(flights[1], TrackLogFormat::First, wren);
    EXPECT_EQ(walk(overMidnight, TrackLogFormat::First).timeRecords, 2u);
}

TEST(TrackLogFrames, HRecordFromTheFilesHeader)
{
    auto flights = loadFlights(igcFolder);
    ASSERT_EQ(flights.size(), 6u);
    Bytes h = encodeHRecord(flights[0], wren); // 0asljd01.igc, an LX8000F
    EXPECT_EQ(textAt(h, 2, 16), "LXNJD0FLIGHT");
    EXPECT_EQ(slice(h, 18, 3), (Bytes { 28, 10, 10 }));
    EXPECT_EQ(slice(h, 22, 2), (Bytes { 15, 0 }));
    EXPECT_EQ(textAt(h, 38, 32), "LXNAV,LX8000F");
    EXPECT_EQ(textAt(h, 70, 48), "uBLOX LEA-4S-2,16,max9000m");
    EXPECT_EQ(textAt(h, 118, 48), "INTERSEMA,MS5534A,max10000m");
    EXPECT_EQ(igcFileName(flights[3], 0xC0FFEE), "2024-10-7-XCV-004-04.IGC");
    EXPECT_EQ(igcFileName(flights[4], 0xC0FFEE), "2016-5-4-XCV-6NG-05.IGC");
}

namespace {

// The program's assembly of the IGC text, from its transfer rules: split each block at
// LF dropping empty pieces, end every piece with CR LF; recent firmware ends at the
// end block without its text, older firmware keeps it.
std::string assemble(const std::vector<IgcTextBlock>& blocks, bool recent, std::string* fileName)
{
    std::string text;
    for (const IgcTextBlock& block : blocks) {
        if (block.state == 1) {
            *fileName = block.text;
            continue;
        }
        if (block.state >= 5 && recent)
            break;
        if (block.text.find('\n') == std::string::npos) {
            text += block.text + "\r\n";
        } else {
            std::size_t start = 0;
            while (start < block.text.size()) {
                std::size_t end = block.text.find('\n', start);
                if (end == std::string::npos)
                    end = block.text.size();
                if (end > start)
                    text += block.text.substr(start, end - start) + "\r\n";
                start = end + 1;
            }
        }
        if (block.state >= 5)
            break;
    }
    return text;
}

std::string originalText(const Flight& flight)
{
    std::string text;
    for (const std::string& line : flight.lines)
        if (!line.empty())
            text += line + "\r\n";
    return text;
}

} // namespace

TEST(IgcTextFrames, BlocksCarryTheWholeFileUnderBothFirmwareRules)
{
    auto flights = loadFlights(igcFolder);
    ASSERT_EQ(flights.size(), 6u);
    // Files whose security lines stand at the end, as recorders write them.
    for (std::size_t index : { 0u, 1u, 3u, 4u, 5u }) {
        const Flight& flight = flights[index];
        for (std::uint16_t firmware : { 2405, 2401, 1375, 1376 }) {
            SCOPED_TRACE(flight.fileName + " firmware " + std::to_string(firmware));
            auto blocks = igcTextBlocks(flight, firmware, 0xC0FFEE);
            ASSERT_GE(blocks.size(), 4u);
            EXPECT_EQ(blocks.front().state, 1);
            EXPECT_EQ(blocks.back().state, igcTextEndState);
            EXPECT_EQ(blocks.back().text.front(), 'G');
            std::size_t fourBlocks = 0, singleLines = 0, multiLines = 0;
            for (std::size_t i = 1; i + 1 < blocks.size(); ++i) {
                const IgcTextBlock& block = blocks[i];
                EXPECT_LE(block.text.size(), igcTextBlockMaximum);
                EXPECT_TRUE(block.state == 2 || block.state == 3 || block.state == 4);
                if (block.state == 4) {
                    ++fourBlocks;
                    EXPECT_EQ(block.text.front(), 'B');
                    EXPECT_EQ(blocks[i - 1].state == 2 || blocks[i - 1].state == 1, true);
                }
                bool hasLineFeed = block.text.find('\n') != std::string::npos;
                (hasLineFeed ? multiLines : singleLines) += 1;
            }
            EXPECT_EQ(fourBlocks, 1u);
            EXPECT_GT(singleLines, 0u);
            EXPECT_GT(multiLines, 0u);
            std::string name;
            EXPECT_EQ(assemble(blocks, isRecentIgcFirmware(firmware), &name), originalText(flight));
            EXPECT_EQ(name, igcFileName(flight, 0xC0FFEE));
        }
    }
    EXPECT_TRUE(isRecentIgcFirmware(2402));
    EXPECT_FALSE(isRecentIgcFirmware(2401));
    EXPECT_TRUE(isRecentIgcFirmware(1376));
    EXPECT_FALSE(isRecentIgcFirmware(1375));
}

TEST(IgcTextFrames, FileWithoutSecurityLineGetsTheInstrumentsOwn)
{
    auto flights = loadFlights(igcFolder);
    ASSERT_EQ(flights.size(), 6u);
    const Flight& gpsDump = flights[2]; // 20180427.igc has no G record
    for (std::uint16_t firmware : { 2405, 1370 }) {
        auto blocks = igcTextBlocks(gpsDump, firmware, 0xC0FFEE);
        std::string name;
        std::string text = assemble(blocks, isRecentIgcFirmware(firmware), &name);
        std::string expected = originalText(gpsDump) + blocks.back().text + "\r\n";
        EXPECT_EQ(text, expected);
        ASSERT_EQ(blocks.back().text.size(), 1u + 2 * 34);
    }
}

TEST(IgcTextFrames, BlockEncoding)
{
    auto padded = [](Bytes bytes) {
        bytes.resize(300, 0);
        return bytes;
    };
    EXPECT_EQ(encodeIgcTextBlock({ 3, "AB\n" }), padded({ 0x03, 0x03, 0x03, 'A', 'B', '\n' }));
    EXPECT_EQ(encodeIgcTextBlock({ 1, "F.IGC" }), padded({ 0x03, 0x01, 0x05, 'F', '.', 'I', 'G', 'C' }));
    EXPECT_EQ(encodeIgcTextBlock({ 5, "" }), padded({ 0x03, 0x05, 0x00 }));
    Bytes longest = encodeIgcTextBlock({ 3, std::string(400, 'L') });
    EXPECT_EQ(longest.size(), 300u);
    EXPECT_EQ(longest[3 + 254], 'L');
    EXPECT_EQ(longest[3 + 255], 0);
    EXPECT_EQ(longest[2], 255);
}
