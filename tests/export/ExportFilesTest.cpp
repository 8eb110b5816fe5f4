// File names from the instrument, the all-flights name book and the file writes.
#include "export/ExportFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace corvex;
namespace fs = std::filesystem;

// The one rule for every name from outside: the export's suggested names, the IGC
// text's proposed names and the airspaces cache's names.
TEST(SafeFileName, NothingLeavesTheFolder)
{
    struct Case {
        std::string name;
        std::string safe;
    };
    const Case cases[] = {
        { "2014-7-5-XCV-12345-23", "2014-7-5-XCV-12345-23" },
        { "FLIGHT 01.v2", "FLIGHT 01.v2" },
        // Separators, whichever way they lean.
        { "../../etc/passwd", "______etc_passwd" },
        { "/", "" },
        { "C:\\flights\\x", "C:_flights_x" },
        // Dots: nothing hidden, no "." or "..".
        { "..", "" },
        { ".", "" },
        { ".hidden", "_hidden" },
        { "a..b", "a__b" },
        { "v1...", "v1__." },
        // NUL, C0 controls, DEL and C1 controls.
        { std::string("tab\there\nnul") + '\0' + "x\x7f", "tab_here_nul_x_" },
        { "esc\x1b[2Jx\xc2\x9b", "esc_[2Jx_" },
        // Well-formed UTF-8 stays; each byte that is not becomes '_'.
        { "caf\xc3\xa9", "caf\xc3\xa9" },
        { "\xc3\x96sterreich.as", "\xc3\x96sterreich.as" },
        { "caf\xe9", "caf_" },
        { "x\xc0\xaf", "x__" },
        { "\xed\xa0\x80x", "___x" },
        // Empty, or nothing usable left.
        { "", "" },
        { "_ _", "" },
        { "/.", "" },
        // Overlong: cut at 200 bytes, never inside a character.
        { std::string(300, 'n'), std::string(200, 'n') },
        { std::string(199, 'n') + "\xc3\xa9", std::string(199, 'n') },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(safeFileName(c.name), c.safe) << c.name;
        EXPECT_EQ(safeFileName(c.safe), c.safe) << "applied twice: " << c.name;
    }
    EXPECT_EQ(safeFileName(std::string(300, 'n'), 255).size(), 255u);
}

TEST(ExportNameBook, ALaterFlightNeverTakesAnEarlierName)
{
    ExportNameBook names;
    EXPECT_EQ(names.claim("2013-7-5-XCV-ABC-05", "igc", 5), "2013-7-5-XCV-ABC-05.igc");
    EXPECT_EQ(names.claim("2013-7-5-XCV-ABC-05", "igc", 105), "2013-7-5-XCV-ABC-05-105.igc");
    EXPECT_EQ(names.claim("2013-7-5-XCV-ABC-05", "igc", 105), "2013-7-5-XCV-ABC-05-105-2.igc");
    EXPECT_EQ(names.claim("2013-7-5-XCV-ABC-05", "kml", 205), "2013-7-5-XCV-ABC-05.kml");
    // A name that happens to look like a suffixed one is still kept apart.
    EXPECT_EQ(names.claim("2013-7-5-XCV-ABC-05-105", "igc", 7), "2013-7-5-XCV-ABC-05-105-7.igc");
}

TEST(AsciiText, EveryCharacterOutside7BitTextBecomesOneQuestionMark)
{
    EXPECT_EQ(asciiText("B1011124612345N\r\n"), "B1011124612345N\r\n");
    EXPECT_EQ(asciiText("Z\xc3\xbcrich"), "Z?rich");
    EXPECT_EQ(asciiText("\xe2\x82\xac 5"), "? 5");
    EXPECT_EQ(asciiText("\xff\xfe"), "??");
    EXPECT_EQ(asciiText("\xc3"), "?");
}

class FileWrites : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corvex-export-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    static std::string contents(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path folder;
};

TEST_F(FileWrites, BothModesWriteAsciiAndReplaceTheOldFile)
{
    const fs::path atomic = folder / "book.csv";
    ASSERT_TRUE(writeTextFile(atomic, "old\n", FileWriteMode::Atomic));
    ASSERT_TRUE(writeTextFile(atomic, "Z\xc3\xbcrich\n", FileWriteMode::Atomic));
    EXPECT_EQ(contents(atomic), "Z?rich\n");
    // No temporary file is left beside it, and it has the mode of any new file.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    struct stat status {};
    ASSERT_EQ(::stat(atomic.c_str(), &status), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);

    const fs::path inPlace = folder / "flight.igc";
    ASSERT_TRUE(writeTextFile(inPlace, "a long old text\r\n", FileWriteMode::InPlace));
    ASSERT_TRUE(writeTextFile(inPlace, "B\r\n", FileWriteMode::InPlace));
    EXPECT_EQ(contents(inPlace), "B\r\n");
}

TEST_F(FileWrites, FailuresAreReportedAndFollowNoLink)
{
    EXPECT_FALSE(writeTextFile(folder / "missing" / "x.igc", "x", FileWriteMode::Atomic));
    EXPECT_FALSE(writeTextFile(folder / "missing" / "x.igc", "x", FileWriteMode::InPlace));

    const fs::path outside = folder / "outside.txt";
    { std::ofstream(outside) << "keep"; }
    fs::create_symlink(outside, folder / "link.igc");
    EXPECT_FALSE(writeTextFile(folder / "link.igc", "overwritten", FileWriteMode::InPlace));
    EXPECT_EQ(contents(outside), "keep");
    EXPECT_EQ(pathInFolder("/a/b", "c.igc"), "/a/b/c.igc");
    EXPECT_EQ(pathInFolder("/a/b/", "c.igc"), "/a/b/c.igc");
}
