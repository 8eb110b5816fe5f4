#include "base/FileRead.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

namespace fs = std::filesystem;
using Kind = FileReadError::Kind;

// Every way a named file can fail to be read whole, and the two that must pass; a FIFO
// with no writer must be refused at once rather than wait for one.
TEST(FileRead, RefusesWhatIsNoRegularFileWithinItsLimitBeforeReading)
{
    testing::TemporaryFolder folder;
    const std::string dir = folder.path();
    std::ofstream(dir + "/flight.igc", std::ios::binary) << "AXXX\nB1\n";
    std::ofstream(dir + "/empty.igc", std::ios::binary).flush();
    std::ofstream(dir + "/large.txt", std::ios::binary) << std::string(101, 'x');
    std::ofstream(dir + "/secret.txt", std::ios::binary) << "secret";
    ::chmod((dir + "/secret.txt").c_str(), 0);
    fs::create_symlink(dir + "/flight.igc", dir + "/link.igc");
    fs::create_symlink(dir + "/gone.igc", dir + "/dangling.igc");
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);

    struct Case {
        std::string name;
        std::size_t limit;
        std::optional<Kind> kind; // nothing: read, with the text below
        std::string text; // the contents read, or a part of the message
    };
    const Case cases[] = {
        { "flight.igc", 100, std::nullopt, "AXXX\nB1\n" },
        { "link.igc", 100, std::nullopt, "AXXX\nB1\n" },
        { "empty.igc", 100, std::nullopt, "" },
        { "large.txt", 101, std::nullopt, std::string(101, 'x') },
        { "missing.igc", 100, Kind::Missing, "cannot read " + dir + "/missing.igc: no such file" },
        { "dangling.igc", 100, Kind::Missing, "no such file" },
        { "flight.igc/below", 100, Kind::Missing, "no such file" },
        { "", 100, Kind::NotRegularFile, "cannot read " + dir + "/: it is a folder, not a file" },
        { "pipe", 100, Kind::NotRegularFile, "it is a named pipe, not a file" },
        { "large.txt", 100, Kind::TooLarge, dir + "/large.txt is 101 bytes, too large for this (at most 100 bytes)" },
        { "secret.txt", 100, Kind::Unreadable, "cannot read " + dir + "/secret.txt: Permission denied" },
    };
    for (const Case& c : cases) {
        const std::string path = dir + "/" + c.name;
        SCOPED_TRACE(path);
        if (c.name == "secret.txt" && ::geteuid() == 0) {
            // Permissions do not hold back root.
            continue;
        }
        const auto started = std::chrono::steady_clock::now();
        const auto read = readFileWhole(path, c.limit);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        if (!c.kind) {
            ASSERT_TRUE(read) << read.error().message();
            EXPECT_EQ(*read, c.text);
            continue;
        }
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().kind, *c.kind);
        EXPECT_NE(read.error().message().find(c.text), std::string::npos) << read.error().message();
    }

    // A device that never ends has no size to refuse by; it is no regular file either.
    const auto zero = readFileWhole("/dev/zero", FileKind::Firmware);
    ASSERT_FALSE(zero);
    EXPECT_EQ(zero.error().message(), "cannot read /dev/zero: it is a device, not a file");
}

TEST(FileRead, EachPurposeNamesItsLimit)
{
    EXPECT_EQ(largestFileBytes(FileKind::IgcFlight), 64u << 20);
    EXPECT_EQ(largestFileBytes(FileKind::Firmware), 32u << 20);
    testing::TemporaryFolder folder;
    const std::string path = folder.path() + "/huge.igc";
    std::ofstream(path, std::ios::binary) << "A";
    fs::resize_file(path, (std::uintmax_t { 64 } << 20) + (std::uintmax_t { 3 } << 20)); // sparse
    const auto read = readFileWhole(path, FileKind::IgcFlight);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().message(), path + " is 67 MiB, too large for an IGC flight file (at most 64 MiB)");
}

} // namespace
} // namespace corvex
