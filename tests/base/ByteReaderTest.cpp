#include "base/ByteReader.h"
#include "base/Format.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(ByteReader, ReadsBothByteOrdersAndFailsCleanlyAtTheEnd)
{
    const std::uint8_t frame[] = { 0x12, 0x34, 0x56, 0x78, 0xff, 0xfe, 'A', 'B', 0x00, 'C' };
    ByteReader reader(frame);
    EXPECT_EQ(reader.u16be(), 0x1234);
    EXPECT_EQ(reader.u16le(), 0x7856);
    EXPECT_EQ(reader.i16be(), -2);
    EXPECT_EQ(reader.text(4), "AB");
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_FALSE(reader.u8());
    EXPECT_TRUE(reader.failed());
    // Once failed, the reader stays failed even for reads that would fit.
    EXPECT_FALSE(reader.seek(0));
}

TEST(ByteReader, ThirtyTwoBitFieldsAndShortBuffers)
{
    const std::uint8_t frame[] = { 0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03 };
    ByteReader reader(frame);
    EXPECT_EQ(reader.u32be(), 0x01020304u);
    EXPECT_FALSE(reader.u32le()); // only 3 bytes left
    ByteReader second(frame);
    EXPECT_EQ(second.u32le(), 0x04030201u);
    // A text slot that is filled has no terminator.
    const std::uint8_t full[] = { 'X', 'C', 'V' };
    ByteReader third(full);
    EXPECT_EQ(third.text(3), "XCV");
}

TEST(Bytes, HexadecimalFormsForFileNamesAndLogs)
{
    const std::uint8_t bytes[] = { 0x00, 0xab, 0x0f, 0x10, 0xff };
    EXPECT_EQ(hexadecimalString(bytes), "00ab0f10ff");
    EXPECT_EQ(hexadecimalString({}), "");
    EXPECT_EQ(describeBytes(bytes), "<00ab0f10 ff>");
    EXPECT_EQ(describeBytes({}), "<>");

    // Decoding takes either case and refuses what is not whole digit pairs.
    EXPECT_EQ(bytesFromHexadecimal("00AB0f10Ff"), Bytes(std::begin(bytes), std::end(bytes)));
    EXPECT_EQ(bytesFromHexadecimal(""), Bytes {});
    for (const char* refused : { "0", "abc", "0g", "g0", " 0a", "0a ", "0x0a", "\xc3\xa9" })
        EXPECT_EQ(bytesFromHexadecimal(refused), std::nullopt) << refused;
}

// A server's body as it goes into a log line: cut short, with nothing that a terminal
// or a log reader would take as a line break or an escape.
TEST(Bytes, LogExcerptsAreShortAndFreeOfControlCharacters)
{
    EXPECT_EQ(logExcerpt("<html>Not found</html>"), "<html>Not found</html>");
    EXPECT_EQ(logExcerpt("a\nb\r\x1b[2Jc\\"), "a\\x0Ab\\x0D\\x1B[2Jc\\x5C");
    EXPECT_EQ(logExcerpt(std::string_view("\0\x7f\xc3\xa9", 4)), "\\x00\\x7F\\xC3\\xA9");
    EXPECT_EQ(logExcerpt(std::string(600, 'x')), std::string(512, 'x') + "... (600 bytes in all)");
    EXPECT_EQ(logExcerpt("abcdef", 3), "abc... (6 bytes in all)");
    EXPECT_EQ(logExcerpt(""), "");
}

// A text from a file for a terminal: controls, escapes and broken bytes visible, any
// script kept; tab and line feed kept only in a block.
TEST(Bytes, VisibleTextHidesNoControlFromTheReader)
{
    using namespace std::string_view_literals;
    const std::string_view cases[][3] = { // text, as a cell, as a block
        { "S\xc3\xbc" "d \xe6\x9d\xb1 \\", "S\xc3\xbc" "d \xe6\x9d\xb1 \\", "S\xc3\xbc" "d \xe6\x9d\xb1 \\" },
        { "\x1b]0;x\x07\x1b[2J", "\\x1B]0;x\\x07\\x1B[2J", "\\x1B]0;x\\x07\\x1B[2J" },
        { "a\tb\nc\r\0\x7f"sv, "a\\x09b\\x0Ac\\x0D\\x00\\x7F", "a\tb\nc\\x0D\\x00\\x7F" },
        { "\xc2\x9b" "2J \xc2\xa0 \xe9t\xe9 \xe2\x82", "\\xC2\\x9B2J \xc2\xa0 \\xE9t\\xE9 \\xE2\\x82", "\\xC2\\x9B2J \xc2\xa0 \\xE9t\\xE9 \\xE2\\x82" },
    };
    for (const auto& [text, cell, block] : cases) {
        EXPECT_EQ(visibleText(text), cell) << logExcerpt(text);
        EXPECT_EQ(visibleText(text, LineBreaks::Kept), block) << logExcerpt(text);
    }
}
