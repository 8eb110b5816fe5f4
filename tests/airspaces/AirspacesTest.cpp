#include "airspaces/Airspaces.h"
#include "base/Utf8.h"

#include "support/CapturingLogSink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

using namespace corvex;
using corvex::testing::CapturingLogSink;

namespace {

void putU16(Bytes& bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void appendU16(Bytes& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void appendI32(Bytes& bytes, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i)));
}

Bytes header(std::uint32_t segments, const std::string& name = "alps.txt", std::uint8_t keyByte = 0xa5,
    std::uint32_t uploadDate = 1700000000, const std::string& description = "Alps 2026")
{
    Bytes bytes(airspacesFormat::headerSize, 0);
    putU32(bytes, 0, 0xdeadbeef);
    putU32(bytes, 4, segments);
    putU32(bytes, 8, uploadDate);
    std::memcpy(bytes.data() + 12, name.data(), std::min<std::size_t>(name.size(), 256));
    for (std::size_t i = 0; i < 32; ++i)
        bytes[268 + i] = static_cast<std::uint8_t>(keyByte + i);
    std::memcpy(bytes.data() + 300, description.data(), std::min<std::size_t>(description.size(), 2000));
    return bytes;
}

struct Segment {
    std::vector<Point2d> points {};
    std::vector<std::uint16_t> endIndices {};
    std::uint16_t recordPairs { 0 };
    std::uint16_t floor { 0 };
    std::uint16_t ceiling { 0 };
    std::optional<std::uint32_t> declaredSize {}; // the sound size when absent
};

void appendSegment(Bytes& bytes, const Segment& segment)
{
    const std::size_t start = bytes.size();
    bytes.resize(start + 48, 0x77); // the opaque bytes are never read
    const std::size_t size = 48 + 2 * segment.endIndices.size() + 24 * segment.recordPairs + 8 * segment.points.size();
    putU32(bytes, start, segment.declaredSize.value_or(static_cast<std::uint32_t>(size)));
    putU16(bytes, start + 28, segment.floor);
    putU16(bytes, start + 30, segment.ceiling);
    putU16(bytes, start + 42, static_cast<std::uint16_t>(segment.points.size()));
    putU16(bytes, start + 44, static_cast<std::uint16_t>(segment.endIndices.size()));
    putU16(bytes, start + 46, segment.recordPairs);
    for (auto index : segment.endIndices)
        appendU16(bytes, index);
    bytes.resize(bytes.size() + 24u * segment.recordPairs, 0x55);
    for (auto point : segment.points) {
        appendI32(bytes, point.x);
        appendI32(bytes, point.y);
    }
}

std::vector<Point2d> somePoints(int count)
{
    std::vector<Point2d> points {};
    for (int i = 0; i < count; ++i)
        points.push_back({ 8388608 + i * 1000, 5000000 - i * 77 });
    return points;
}

Bytes setOf(const std::vector<Segment>& segments)
{
    Bytes bytes = header(static_cast<std::uint32_t>(segments.size()));
    for (const auto& segment : segments)
        appendSegment(bytes, segment);
    return bytes;
}

const char* const tooShort = "Airspaces initWithDataInInternalFormat: the input data is too short to be considered an "
                             "Airspaces. Can't build an object";

} // namespace

TEST(Airspaces, LengthThresholdAndEmptySet)
{
    CapturingLogSink log;
    EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(std::shared_ptr<const Bytes> {}, log));
    EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(Bytes(2347, 0), log));
    EXPECT_EQ(log.count(tooShort), 2u);

    CapturingLogSink accepted;
    Bytes empty = header(0);
    empty.resize(2348, 0);
    auto set = Airspaces::initWithDataInInternalFormat(empty, accepted);
    ASSERT_TRUE(set);
    EXPECT_TRUE(set->globalPolylines().empty());
    EXPECT_EQ(accepted.lines, (std::vector<std::string> { "Number of segments: 0",
                                  "After flattening, globalPolylines array contains 0 polylines" }));
    EXPECT_EQ(set->internalData()->size(), 2348u);
}

TEST(Airspaces, SmallestDrawableSetIsAClosedRingAndKeepsItsHeader)
{
    CapturingLogSink log;
    Segment triangle { .points = somePoints(3), .floor = 1500, .ceiling = 9500 };
    Bytes bytes = setOf({ triangle });
    ASSERT_EQ(bytes.size(), 2372u);
    auto set = Airspaces::initWithDataInInternalFormat(bytes, log);
    ASSERT_TRUE(set);
    ASSERT_EQ(set->globalPolylines().size(), 1u);
    const auto& ring = set->globalPolylines()[0];
    EXPECT_TRUE(ring.closed);
    EXPECT_EQ(ring.points, (std::vector<Point2d> { triangle.points[0], triangle.points[1], triangle.points[2], triangle.points[0] }));
    EXPECT_EQ(ring.floor, 1500);
    EXPECT_EQ(ring.ceiling, 9500);
    EXPECT_EQ(set->airspacesFilename(), "alps.txt");
    EXPECT_EQ(set->airspacesDescription(), "Alps 2026");
    EXPECT_EQ(set->numberOfSegments(), 1);
    EXPECT_EQ(set->airspacesUploadDate().time_since_epoch().count(), 1700000000);
    EXPECT_EQ(set->description(),
        "<Airspaces object> Filename: 'alps.txt', Description: 'Alps 2026', Upload date: '2023-11-14 22:13:20 +0000'");
    EXPECT_EQ(*set->internalData(), bytes);
    EXPECT_EQ(set->floors(), std::vector<int> { 1500 });
    EXPECT_EQ(set->ceilings(), std::vector<int> { 9500 });
}

TEST(Airspaces, EndIndicesSplitPointsIntoOpenPolylines)
{
    CapturingLogSink log;
    const auto six = somePoints(6);
    const auto three = somePoints(3);
    auto set = Airspaces::initWithDataInInternalFormat(
        setOf({
            Segment { .floor = 1, .ceiling = 2 }, // nothing to draw
            Segment { .points = three, .endIndices = { 2, 1 }, .recordPairs = 1, .floor = 3, .ceiling = 4 }, // points 0-2, then an empty polyline
            Segment { .points = six, .endIndices = { 1, 3 }, .recordPairs = 2, .floor = 5, .ceiling = 6 }, // points 4 and 5 belong to no polyline
        }),
        log);
    ASSERT_TRUE(set);
    const auto& lines = set->globalPolylines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].points, three);
    EXPECT_FALSE(lines[0].closed);
    EXPECT_TRUE(lines[1].points.empty());
    EXPECT_EQ(lines[1].floor, 3);
    EXPECT_EQ(lines[2].points, (std::vector<Point2d> { six[0], six[1] }));
    EXPECT_EQ(lines[3].points, (std::vector<Point2d> { six[2], six[3] }));
    EXPECT_EQ(lines[3].ceiling, 6);
    EXPECT_EQ(set->floors(), (std::vector<int> { 1, 3, 5 }));
    EXPECT_TRUE(log.contains("After flattening, globalPolylines array contains 4 polylines"));
}

TEST(Airspaces, RejectsAWrongDeclaredSizeAfterSoundSegments)
{
    CapturingLogSink log;
    Segment sound { .points = somePoints(3) };
    Segment wrong { .points = somePoints(4), .declaredSize = 99 };
    Bytes bytes = setOf({ sound, sound, wrong });
    EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(bytes, log));
    EXPECT_TRUE(log.contains("Airspaces 2 segment's actual size (80) does not match its declared size (99). Sanity check "
                             "failed. Wrong format/corrupted airspaces data?"));
    EXPECT_FALSE(log.containsPrefix("After flattening"));
}

TEST(Airspaces, NeverReadsOutsideTheDataOrTheSegment)
{
    // A segment count beyond the segments present.
    {
        CapturingLogSink log;
        Bytes bytes = setOf({ Segment { .points = somePoints(3) } });
        putU32(bytes, 4, 2);
        EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(bytes, log));
        EXPECT_TRUE(log.containsPrefix("Airspaces 1 segment's header runs past the end of the data (0 bytes left)"));
    }
    // A sound-looking segment whose points are cut off.
    {
        CapturingLogSink log;
        Bytes bytes = setOf({ Segment { .points = somePoints(40) } });
        bytes.resize(bytes.size() - 5);
        EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(bytes, log));
        EXPECT_TRUE(log.containsPrefix("Airspaces 0 segment's size (368) runs past the end of the data (363 bytes left)"));
    }
    // An end index at N.
    {
        CapturingLogSink log;
        EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(setOf({ Segment { .points = somePoints(4), .endIndices = { 1, 4 } } }), log));
        EXPECT_TRUE(log.containsPrefix("Airspaces 0 segment's polyline end index 4 is outside its 4 points."));
    }
    // End indices without points.
    {
        CapturingLogSink log;
        EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(setOf({ Segment { .endIndices = { 0 } } }), log));
    }
    // The largest counts the header fields allow, declared consistently, over a short buffer.
    {
        CapturingLogSink log;
        Bytes bytes = header(1);
        bytes.resize(airspacesFormat::headerSize + 48, 0);
        const std::uint32_t size = 48 + 2 * 65535u + 24 * 65535u + 8 * 65535u;
        putU32(bytes, 2300, size);
        putU16(bytes, 2300 + 42, 65535);
        putU16(bytes, 2300 + 44, 65535);
        putU16(bytes, 2300 + 46, 65535);
        EXPECT_FALSE(Airspaces::initWithDataInInternalFormat(bytes, log));
    }
}

TEST(Airspaces, TextFieldsAndCacheFileNames)
{
    CapturingLogSink log;
    Bytes bytes = header(0, std::string("bad\xff\xfe name", 10), 0x00, 0, std::string(2000, 'd'));
    bytes.resize(2348, 0);
    auto set = Airspaces::initWithDataInInternalFormat(bytes, log);
    ASSERT_TRUE(set);
    EXPECT_FALSE(set->airspacesFilename()); // not UTF-8, still accepted
    EXPECT_EQ(set->airspacesDescription(), std::string(2000, 'd')); // fills its slot, no terminator
    EXPECT_EQ(set->description(),
        "<Airspaces object> Filename: '(null)', Description: '" + std::string(2000, 'd')
            + "', Upload date: '1970-01-01 00:00:00 +0000'");

    Bytes first = header(0, "Germany.txt", 0x00);
    Bytes second = header(0, "Germany.txt", 0x10);
    first.resize(2348, 0);
    second.resize(2348, 0);
    auto a = Airspaces::initWithDataInInternalFormat(first, log);
    auto b = Airspaces::initWithDataInInternalFormat(second, log);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->buildCacheFilename(), "Germany.txt000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f.as");
    EXPECT_NE(a->buildCacheFilename(), b->buildCacheFilename());
    // The bare header from the instrument gives the same name.
    EXPECT_EQ(buildCacheFilenameFromHeader(ByteView(first).first(2300)), a->buildCacheFilename());
    EXPECT_FALSE(buildCacheFilenameFromHeader(ByteView(first).first(299)));

    // The window tells the shown set from the instrument's by the header alone.
    const auto bare = readAirspacesSetHeader(ByteView(first).first(2300));
    ASSERT_TRUE(bare && bare->fileName == "Germany.txt" && bare->bytes == readAirspacesSetHeader(first)->bytes);
    EXPECT_NE(bare->bytes, readAirspacesSetHeader(second)->bytes); // another unique key
    EXPECT_FALSE(readAirspacesSetHeader(ByteView(first).first(2299)));

    Bytes sneaky = header(0, "../../.bashrc");
    EXPECT_EQ(buildCacheFilenameFromHeader(sneaky)->find('/'), std::string::npos);
}

// The one UTF-8 walk (src/base): the instrument's texts, the exported files' ASCII,
// the OpenAir files and the service's replies, the sets' name slots.
TEST(Utf8, OneWalkForValidationCharactersAndPrefixes)
{
    struct Case {
        std::string text;
        bool valid;
        std::size_t characters; // when valid
        std::size_t prefixOf4; // bytes utf8Prefix keeps of at most 4
    };
    const Case cases[] = {
        { "", true, 0, 0 },
        { "Oca\xc3\xb1" "a", true, 5, 3 }, // the ñ does not fit the fourth byte
        { "\xf0\x9f\x98\x80", true, 1, 4 },
        { std::string("a\0b", 3), true, 3, 3 },
        { "ab\xe2\x82\xac", true, 3, 2 },
        { "\xc3", false, 0, 1 }, // cut off
        { "\xc0\xaf", false, 0, 2 }, // overlong slash
        { "\xe0\x80\xaf", false, 0, 3 }, // overlong in three bytes
        { "\xed\xa0\x80", false, 0, 3 }, // surrogate
        { "\xf4\x90\x80\x80", false, 0, 4 }, // above U+10FFFF
        { "\xb4", false, 0, 1 }, // stray continuation byte
        { "ab\xc3(", false, 0, 4 }, // a lead byte without its continuation
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.text;
        const auto characters = utf8Characters(c.text);
        EXPECT_EQ(characters.has_value(), c.valid) << c.text;
        EXPECT_EQ(characters ? characters->size() : 0, c.characters) << c.text;
        EXPECT_EQ(utf8Prefix(c.text, 4).size(), c.prefixOf4) << c.text;
    }
    EXPECT_EQ(utf8CharacterLength("\xe2\x82\xac 5"), 3u);
    EXPECT_EQ(utf8CharacterLength("\xe2\x82"), 0u);
    EXPECT_EQ(latin1ToUtf8("M\xfc" "nchen \xb4"), "M\xc3\xbc" "nchen \xc2\xb4");

    // The library's search ignores case beyond ASCII; what is not UTF-8 stays as it is.
    const std::pair<std::string, std::string> folds[] = {
        { "S\xc3\x9c" "D", "s\xc3\xbc" "d" }, // SÜD
        { "\xc3\x89" "COLE \xc3\x97 \xc3\x9f", "\xc3\xa9" "cole \xc3\x97 \xc3\x9f" }, // ÉCOLE × ß: the sign and ß stay
        { "\xc5\x81\xc3\x93" "D\xc5\xb9", "\xc5\x82\xc3\xb3" "d\xc5\xba" }, // ŁÓDŹ
        { "\xc5\xb8 \xc4\xb0 \xc8\x98", "\xc3\xbf i \xc8\x99" }, // Ÿ İ Ș
        { "\xce\x91\xce\xa3 \xd0\x81\xd0\xaf", "\xce\xb1\xcf\x83 \xd1\x91\xd1\x8f" }, // ΑΣ ЁЯ
        { "\xe1\xba\xa0 \xf0\x9f\x98\x80", "\xe1\xba\xa1 \xf0\x9f\x98\x80" }, // Ạ and an emoji
        { "AB\xc3(\xff", "ab\xc3(\xff" },
    };
    for (const auto& [text, folded] : folds)
        EXPECT_EQ(foldCase(text), folded) << text;
}
