#include "updates/ZipArchive.h"

#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "TemporaryFolder.h"
#include "ZipWriting.h"
#include "platform/OperationContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

using testing::ZipTestEntry;
using testing::zipFolder;
using testing::zipLink;

// "a/a/.../" with `depth` folders.
std::string deepPath(std::size_t depth)
{
    std::string path;
    for (std::size_t i = 0; i < depth; ++i)
        path += "a/";
    return path;
}

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
        { "entry below a file listed after it", { harmless, { "f/x", "x" }, { "f", "x" } }, {}, "below a file" },
        { "entry behind a link listed after it", { harmless, { "l/x", "x" }, zipLink("l", "corvex-vario") }, {}, "behind a link" },
        { "a name longer than a folder takes", { harmless, { "corvex-vario/" + std::string(256, 'n'), "x" } }, {}, "longer than 255 bytes" },
        { "a path longer than the kernel takes", { harmless, { deepPath(2048) + "f", "x" } }, {}, "longer than 4095 bytes" },
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

    // Sizes are added without wrapping round: nearly 2^64 declared beside 100 bytes.
    const std::string wrapping = folder.path() + "/wrapping.zip";
    ASSERT_TRUE(testing::writeRawZip(wrapping,
        { { "corvex-vario/small", std::string(100, 's'), 100 }, { "corvex-vario/huge", "zeros", ~std::uint64_t { 0 } - 49, true } }));
    const auto wrapped = listZipArchive(wrapping);
    ASSERT_FALSE(wrapped);
    EXPECT_NE(wrapped.error().find("more than 1073741824 bytes"), std::string::npos) << wrapped.error();

    // Within the limits but more than the disk has free: refused before a byte is written.
    const std::string petabyte = folder.path() + "/petabyte.zip";
    ASSERT_TRUE(testing::writeRawZip(petabyte, { { "corvex-vario/huge", "zeros", std::uint64_t { 1 } << 50, true } }));
    const std::string target = folder.path() + "/target";
    std::filesystem::create_directory(target);
    const auto tooLargeForTheDisk = extractZipArchive(petabyte, target, ZipLimits { std::uint64_t { 1 } << 62, 10 });
    ASSERT_FALSE(tooLargeForTheDisk);
    EXPECT_NE(tooLargeForTheDisk.error().find("bytes free in"), std::string::npos) << tooLargeForTheDisk.error();
    EXPECT_EQ(testing::filesBelow(target), std::vector<std::string> {});

    // Folders made on the way count as entries.
    ASSERT_TRUE(testing::writeZip(archive, { { deepPath(20) + "f", "x" } }));
    const auto tooManyFolders = listZipArchive(archive, ZipLimits { 1 << 20, 20 });
    ASSERT_FALSE(tooManyFolders);
    EXPECT_NE(tooManyFolders.error().find("more than 20 files and folders"), std::string::npos) << tooManyFolders.error();
    EXPECT_TRUE(listZipArchive(archive, ZipLimits { 1 << 20, 21 }));

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
            // Nobody else may change what the program runs.
            { "corvex-vario/bin/world-writable", "x", S_IFREG | 0777 },
            { "corvex-vario/bin/group-writable", "x", S_IFREG | 02775 },
            zipFolder("corvex-vario/open/", 01777),
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
    EXPECT_EQ(extracted->entries.size(), 13u);

    const auto modeOf = [&](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(::lstat((folder.path() + "/corvex-vario/" + path).c_str(), &status), 0) << path;
        return status.st_mode;
    };
    EXPECT_EQ(modeOf("bin/corvex-vario"), S_IFREG | 0755u);
    EXPECT_EQ(modeOf("bin/set-id"), S_IFREG | 0755u);
    EXPECT_EQ(modeOf("bin/world-writable"), S_IFREG | 0755u);
    EXPECT_EQ(modeOf("bin/group-writable"), S_IFREG | 0755u);
    EXPECT_EQ(modeOf("open"), S_IFDIR | 0755u);
    EXPECT_EQ(modeOf("share/readme"), S_IFREG | 0644u);
    EXPECT_EQ(modeOf("share/private"), S_IFREG | 0600u);
    EXPECT_EQ(modeOf("lib/libcorvex.so.1"), S_IFREG | 0644u);
    // The owner keeps the right to replace what an update brought.
    EXPECT_EQ(modeOf("doc"), S_IFDIR | 0755u);
    EXPECT_EQ(modeOf("doc/notes"), S_IFREG | 0644u);
    const mode_t umask = ::umask(022);
    ::umask(umask);
    EXPECT_EQ(modeOf("bin"), S_IFDIR | (0755u & ~umask));
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

// An entry whose data does not match what the archive declares fails while it is
// written; what was unpacked before it is removed again.
TEST(ZipArchive, AFailureHalfwayLeavesNothingBehind)
{
    struct Case {
        const char* what;
        std::string contents;
        std::uint64_t declared;
    };
    const Case cases[] = {
        { "more data than declared", std::string(200, 'm'), 100 },
        { "less data than declared", std::string(100, 'l'), 200 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TemporaryFolder folder("corvex-zip");
        const std::string archive = folder.path() + "/update.zip";
        ASSERT_TRUE(testing::writeRawZip(archive,
            { { "corvex-vario/bin/corvex-vario", "#!/bin/sh\n", 10, false, S_IFREG | 0755 }, { "corvex-vario/share/a/b/c", "c", 1 },
                { "top", "t", 1 }, { "corvex-vario/share/d/odd", c.contents, c.declared } }));
        const std::string target = folder.path() + "/target";
        ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
        const auto extracted = extractZipArchive(archive, target);
        ASSERT_FALSE(extracted);
        EXPECT_NE(extracted.error().find("corvex-vario/share/d/odd"), std::string::npos) << extracted.error();
        EXPECT_EQ(testing::filesBelow(target), std::vector<std::string> {});
    }
}

TEST(ZipArchive, ReportsProgressAndStopsWhenCancelled)
{
    testing::TemporaryFolder folder("corvex-zip");
    const std::string archive = folder.path() + "/update.zip";
    ASSERT_TRUE(testing::writeZip(archive,
        { { "corvex-vario/bin/corvex-vario", std::string(3 << 20, 'p'), S_IFREG | 0755 }, { "corvex-vario/share/data", std::string(2 << 20, 'd') } }));
    testing::CapturingLogSink log;
    testing::RecordingProgress progress;
    OperationContext context(log);
    context.withProgress(&progress);
    const std::string target = folder.path() + "/target";
    std::filesystem::create_directory(target);
    ASSERT_TRUE(extractZipArchive(archive, target, ZipLimits {}, &context));
    // About every megabyte, rising to the whole.
    ASSERT_GE(progress.perMille.size(), 4u);
    EXPECT_TRUE(std::is_sorted(progress.perMille.begin(), progress.perMille.end()));
    EXPECT_EQ(progress.perMille.back(), 1000);

    std::filesystem::remove_all(target);
    std::filesystem::create_directory(target);
    const CancelToken cancel;
    cancel.cancel();
    context.withCancel(cancel);
    const auto cancelled = extractZipArchive(archive, target, ZipLimits {}, &context);
    ASSERT_FALSE(cancelled);
    EXPECT_NE(cancelled.error().find("cancelled"), std::string::npos);
    EXPECT_EQ(testing::filesBelow(target), std::vector<std::string> {});
}

// Each name is checked once and each folder made once: an archive of a deep chain of
// folders unpacks in a moment, where checking every path's every parent took minutes.
TEST(ZipArchive, DeepPathsUnpackInTimeLinearInTheirLength)
{
    testing::TemporaryFolder folder("corvex-zip");
    const std::string archive = folder.path() + "/deep.zip";
    std::vector<ZipTestEntry> entries;
    for (std::size_t depth = 1; depth <= 1000; ++depth)
        entries.push_back({ deepPath(depth) + "f", "x" });
    ASSERT_TRUE(testing::writeZip(archive, entries));
    const std::string target = folder.path() + "/target";
    std::filesystem::create_directory(target);
    const auto start = std::chrono::steady_clock::now();
    const auto extracted = extractZipArchive(archive, target);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(extracted) << extracted.error();
    EXPECT_LT(took, std::chrono::seconds(20));
    std::ifstream deepest(target + "/" + deepPath(1000) + "f");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(deepest)), {}), "x");
}

TEST(ZipArchive, UnpacksWhatInfoZipPacked)
{
    testing::TemporaryFolder folder("corvex-zip");
    const std::string source = folder.path() + "/source/corvex-vario";
    std::filesystem::create_directories(source + "/bin");
    std::ofstream(source + "/bin/corvex-vario") << "#!/bin/sh\n";
    std::filesystem::permissions(source + "/bin/corvex-vario", std::filesystem::perms(0755));
    std::filesystem::create_symlink("bin/corvex-vario", source + "/program");
    // -y keeps the link as a link.
    const std::string command = "cd '" + folder.path() + "/source' && zip -qry ../packed.zip corvex-vario";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string target = folder.path() + "/target";
    std::filesystem::create_directory(target);

    const auto extracted = extractZipArchive(folder.path() + "/packed.zip", target);
    ASSERT_TRUE(extracted) << extracted.error();
    EXPECT_EQ(testing::filesBelow(target),
        (std::vector<std::string> { "corvex-vario", "corvex-vario/bin", "corvex-vario/bin/corvex-vario", "corvex-vario/program" }));
    EXPECT_EQ(std::filesystem::status(target + "/corvex-vario/bin/corvex-vario").permissions(), std::filesystem::perms(0755));
    EXPECT_EQ(std::filesystem::read_symlink(target + "/corvex-vario/program"), "bin/corvex-vario");
}

} // namespace
} // namespace corvex
