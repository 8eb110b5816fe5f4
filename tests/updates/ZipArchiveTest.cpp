#include "updates/ZipArchive.h"

#include "TemporaryFolder.h"
#include "ZipWriting.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

using testing::ZipTestEntry;
using testing::zipFolder;
using testing::zipLink;

struct RefusedArchive {
    const char* what;
    std::vector<ZipTestEntry> entries;
    std::vector<std::pair<std::string, std::string>> renames;
    const char* reason;
};

// Each archive starts with harmless entries, so "nothing written" means the check ran
// over every entry before the first one was unpacked.
std::vector<RefusedArchive> refusedArchives()
{
    const ZipTestEntry harmless { "corvex-vario/bin/corvex-vario", "#!/bin/sh\n", S_IFREG | 0755 };
    return {
        { "absolute path", { harmless, { "/tmp/corvex-zip-escape", "x" } }, {}, "absolute path" },
        { "parent step", { harmless, { "../escape", "x" } }, {}, "leaves the target folder" },
        { "parent steps inside", { harmless, { "a/../../escape", "x" } }, {}, "leaves the target folder" },
        { "backslash parent step", { harmless, { "..\\escape", "x" } }, {}, "leaves the target folder" },
        { "link to an absolute path", { harmless, zipLink("corvex-vario/etc", "/etc") }, {}, "points outside" },
        { "link up and out", { harmless, zipLink("corvex-vario/lib/up", "../../..") }, {}, "points outside" },
        // "s/l2" -> "../l1/.." looks inside by its text, but l1 is ".", so it is the
        // target folder's parent.
        { "link through a link", { harmless, zipLink("l1", "."), zipLink("s/l2", "../l1/..") }, {}, "points outside" },
        { "entry behind a link", { harmless, zipLink("l", "corvex-vario"), { "l/x", "x" } }, {}, "behind a link" },
        { "entry below a file", { harmless, { "f", "x" }, { "f/x", "x" } }, {}, "below a file" },
        { "same name twice", { harmless, { "corvex-vario/bin/corvex-variX", "evil" } },
            { { "corvex-vario/bin/corvex-variX", "corvex-vario/bin/corvex-vario" } }, "twice" },
        { "same path twice by another spelling", { harmless, { "./corvex-vario//bin/corvex-vario", "evil" } }, {}, "twice" },
        { "a device node", { harmless, { "node", "", S_IFCHR | 0644 } }, {}, "neither a file" },
        { "no name", { harmless, { "./", "" } }, {}, "names no file" },
    };
}

TEST(ZipArchive, RefusesEscapesDuplicatesAndOddEntriesBeforeWritingAnything)
{
    for (const RefusedArchive& refused : refusedArchives()) {
        SCOPED_TRACE(refused.what);
        testing::TemporaryFolder folder("corvex-zip");
        const std::string archive = folder.path() + "/update.zip";
        ASSERT_TRUE(testing::writeZip(archive, refused.entries, refused.renames));
        const std::string target = folder.path() + "/target";
        ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);

        const auto listed = listZipArchive(archive);
        const auto extracted = extractZipArchive(archive, target);
        ASSERT_FALSE(listed);
        ASSERT_FALSE(extracted);
        EXPECT_NE(extracted.error().find(refused.reason), std::string::npos) << extracted.error();
        EXPECT_EQ(testing::filesBelow(target), std::vector<std::string> {});
        EXPECT_EQ(testing::filesBelow(folder.path()), (std::vector<std::string> { "target", "update.zip" }));
    }
    EXPECT_FALSE(std::filesystem::exists("/tmp/corvex-zip-escape"));
}

TEST(ZipArchive, RefusesWhatWouldUnpackBeyondTheLimitsOrIsNoArchive)
{
    testing::TemporaryFolder folder("corvex-zip");
    const std::string archive = folder.path() + "/big.zip";
    // Ten thousand zeros deflate to a few dozen bytes: only the declared size tells.
    ASSERT_TRUE(testing::writeZip(archive, { { "small", "x" }, { "zeros", std::string(10000, '\0') } }));
    EXPECT_TRUE(extractZipArchive(archive, folder.path(), ZipLimits { 10001, 10 }));
    const auto tooLarge = listZipArchive(archive, ZipLimits { 10000, 10 });
    ASSERT_FALSE(tooLarge);
    EXPECT_NE(tooLarge.error().find("more than 10000 bytes"), std::string::npos);
    EXPECT_FALSE(listZipArchive(archive, ZipLimits { 1 << 20, 1 }));

    const std::string garbage = folder.path() + "/garbage.zip";
    std::ofstream(garbage) << "<html>Not found</html>";
    const auto notAnArchive = extractZipArchive(garbage, folder.path());
    ASSERT_FALSE(notAnArchive);
    EXPECT_NE(notAnArchive.error().find("cannot be opened"), std::string::npos);
}

TEST(ZipArchive, UnpacksFoldersFilesAndLinksWithTheirPermissions)
{
    testing::TemporaryFolder folder("corvex-zip");
    const std::string archive = folder.path() + "/update.zip";
    ASSERT_TRUE(testing::writeZip(archive,
        {
            zipFolder("corvex-vario/"),
            // No entry for bin/: it is made on the way.
            { "corvex-vario/bin/corvex-vario", "#!/bin/sh\necho new\n", S_IFREG | 0755 },
            { "corvex-vario/bin/set-id", "x", S_IFREG | 04755 },
            { "corvex-vario/share/readme", "hello", S_IFREG | 0644 },
            { "corvex-vario/share/private", "p", S_IFREG | 0600 },
            // A read-only folder still receives its files, which are listed after it.
            zipFolder("corvex-vario/doc/", 0555),
            { "corvex-vario/doc/notes", "n", S_IFREG | 0444 },
            zipLink("corvex-vario/lib/libcorvex.so", "libcorvex.so.1"),
            zipLink("corvex-vario/share/program", "../bin/corvex-vario"),
            { "corvex-vario/lib/libcorvex.so.1", "elf", 0 }, // permissions not recorded
        }));

    const auto extracted = extractZipArchive(archive, folder.path());
    ASSERT_TRUE(extracted) << extracted.error();
    EXPECT_EQ(extracted->entries.size(), 10u);

    const auto modeOf = [&](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(::lstat((folder.path() + "/corvex-vario/" + path).c_str(), &status), 0) << path;
        return status.st_mode;
    };
    EXPECT_EQ(modeOf("bin/corvex-vario"), S_IFREG | 0755u);
    EXPECT_EQ(modeOf("bin/set-id"), S_IFREG | 0755u);
    EXPECT_EQ(modeOf("share/readme"), S_IFREG | 0644u);
    EXPECT_EQ(modeOf("share/private"), S_IFREG | 0600u);
    EXPECT_EQ(modeOf("lib/libcorvex.so.1"), S_IFREG | 0644u);
    // The owner keeps the right to replace what an update brought.
    EXPECT_EQ(modeOf("doc"), S_IFDIR | 0755u);
    EXPECT_EQ(modeOf("doc/notes"), S_IFREG | 0644u);
    EXPECT_EQ(modeOf("bin"), S_IFDIR | 0700u);
    EXPECT_TRUE(S_ISLNK(modeOf("lib/libcorvex.so")));
    EXPECT_EQ(std::filesystem::read_symlink(folder.path() + "/corvex-vario/lib/libcorvex.so"), "libcorvex.so.1");

    std::ifstream program(folder.path() + "/corvex-vario/share/program");
    std::string text((std::istreambuf_iterator<char>(program)), {});
    EXPECT_EQ(text, "#!/bin/sh\necho new\n");

    // Unpacking again over what is there overwrites nothing.
    const auto again = extractZipArchive(archive, folder.path());
    ASSERT_FALSE(again);
    EXPECT_NE(again.error().find("cannot create"), std::string::npos) << again.error();
}

} // namespace
} // namespace corvex
