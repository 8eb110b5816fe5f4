#include "DiscoveryRecorder.h"

#include "CapturingLogSink.h"
#include "platform/InstrumentDirectory.h"
#include "platform/qt/InstrumentDirectoryWatcher.h"
#include "platform/qt/SystemDiscovery.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvex;
using corvex::testing::DiscoveryRecorder;

namespace {

class InstrumentDirectoryWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temporary.isValid());
        folder = m_temporary.path().toStdString() + "/instruments";
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }

    std::string entry(const std::string& name) const { return folder + "/" + name; }
    void symlinkEntry(const std::string& name, const std::string& target) const
    {
        ASSERT_EQ(symlink(target.c_str(), entry(name).c_str()), 0);
    }
    void fileEntry(const std::string& name) const
    {
        int fd = open(entry(name).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        close(fd);
    }

    std::string folder;

private:
    QTemporaryDir m_temporary;
};

TEST_F(InstrumentDirectoryWatcherTest, EntriesPresentAtStartAreReportedBeforeStartReturnsInNameOrder)
{
    symlinkEntry("vario-b", "/dev/null");
    fileEntry("vario-a");
    fileEntry(".vario-being-published");

    InstrumentDirectoryWatcher watcher(folder);
    DiscoveryRecorder recorder;
    recorder.start(watcher);

    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + entry("vario-a"), "+" + entry("vario-b") }));
    ASSERT_EQ(recorder.handles.size(), 2u);
    EXPECT_NE(recorder.handles[0], 0u);
    EXPECT_NE(recorder.handles[0], recorder.handles[1]);
}

TEST_F(InstrumentDirectoryWatcherTest, MissingFolderIsCreatedPrivatelyAndWatched)
{
    std::string nested = folder + "/corvex/instruments";
    InstrumentDirectoryWatcher watcher(nested + "/");
    DiscoveryRecorder recorder;
    recorder.start(watcher);

    struct stat status {};
    ASSERT_EQ(stat(nested.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(watcher.directory(), nested);

    ASSERT_EQ(symlink("/dev/null", (nested + "/vario").c_str()), 0);
    ASSERT_TRUE(recorder.waitForEvents(1));
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + nested + "/vario" }));
}

TEST_F(InstrumentDirectoryWatcherTest, LaterSymlinkIsReportedByItsOwnPathAndSoIsItsRemoval)
{
    InstrumentDirectoryWatcher watcher(folder);
    DiscoveryRecorder recorder;
    recorder.start(watcher);
    EXPECT_TRUE(recorder.events.empty());

    symlinkEntry("vario", "/dev/null");
    ASSERT_TRUE(recorder.waitForEvents(1));
    EXPECT_EQ(recorder.events.back(), "+" + entry("vario"));

    ASSERT_EQ(unlink(entry("vario").c_str()), 0);
    ASSERT_TRUE(recorder.waitForEvents(2));
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + entry("vario"), "-" + entry("vario") }));
}

// Unplugged and plugged in again before the event loop turned: the scan finds the
// same name, but it is another entry, so the old instrument is closed and the new one
// opened.
TEST_F(InstrumentDirectoryWatcherTest, EntryPutBackUnderItsNameBetweenTwoScansIsARemovalAndAnArrival)
{
    InstrumentDirectoryWatcher watcher(folder);
    DiscoveryRecorder recorder;
    symlinkEntry("vario", "/dev/null");
    recorder.start(watcher);
    ASSERT_EQ(recorder.events.size(), 1u);

    ASSERT_EQ(unlink(entry("vario").c_str()), 0);
    symlinkEntry("vario", "/dev/null");
    ASSERT_TRUE(recorder.waitForEvents(3));
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + entry("vario"), "-" + entry("vario"), "+" + entry("vario") }));
}

TEST_F(InstrumentDirectoryWatcherTest, SymlinkWhoseTargetIsGoneIsStillReported)
{
    symlinkEntry("stale", folder + "/../no-such-pty");
    InstrumentDirectoryWatcher watcher(folder);
    DiscoveryRecorder recorder;
    recorder.start(watcher);
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + entry("stale") }));
}

TEST_F(InstrumentDirectoryWatcherTest, HiddenEntriesAreNeverReportedAndARenameIntoPlaceIsAnArrival)
{
    InstrumentDirectoryWatcher watcher(folder);
    DiscoveryRecorder recorder;
    recorder.start(watcher);

    fileEntry(".scratch");
    ASSERT_EQ(unlink(entry(".scratch").c_str()), 0);
    symlinkEntry(".vario.tmp", "/dev/null");
    ASSERT_EQ(rename(entry(".vario.tmp").c_str(), entry("vario").c_str()), 0);
    ASSERT_TRUE(recorder.waitForEvents(1));
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + entry("vario") }));
}

TEST_F(InstrumentDirectoryWatcherTest, ChangeDuringACallbackIsReportedAfterItInOrder)
{
    // The device's arrival handling turns the event loop (opening the line, reading
    // the device info); a removal seen meanwhile must not overtake an arrival that is
    // still to be reported.
    fileEntry("a");
    fileEntry("b");
    InstrumentDirectoryWatcher watcher(folder);
    std::vector<std::string> events;
    watcher.start(
        [&](const std::string& path, std::uint32_t) {
            events.push_back("+" + path);
            if (path == entry("a")) {
                unlink(entry("b").c_str());
                QTest::qWait(200);
            }
        },
        [&](const std::string& path) { events.push_back("-" + path); });

    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= 3; }, 5000));
    EXPECT_EQ(events, (std::vector<std::string> { "+" + entry("a"), "+" + entry("b"), "-" + entry("b") }));
}

TEST_F(InstrumentDirectoryWatcherTest, RemovedFolderIsRecreatedAndWatchedAgain)
{
    InstrumentDirectoryWatcher watcher(folder);
    DiscoveryRecorder recorder;
    recorder.start(watcher);
    symlinkEntry("vario", "/dev/null");
    ASSERT_TRUE(recorder.waitForEvents(1));

    std::filesystem::remove_all(folder);
    ASSERT_TRUE(recorder.waitForEvents(2));
    EXPECT_EQ(recorder.events.back(), "-" + entry("vario"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::is_directory(folder); }, 5000));

    symlinkEntry("vario2", "/dev/null");
    ASSERT_TRUE(recorder.waitForEvents(3));
    EXPECT_EQ(recorder.events.back(), "+" + entry("vario2"));
}

TEST_F(InstrumentDirectoryWatcherTest, SystemDiscoveryWithoutUdevWatchesTheConfiguredFolder)
{
    fileEntry("vario");
    setenv("CORVEX_NO_UDEV", "1", 1);
    setenv("CORVEX_INSTRUMENT_DIR", folder.c_str(), 1);
    corvex::testing::CapturingLogSink log;
    auto discovery = makeSystemDiscovery(log);
    DiscoveryRecorder recorder;
    recorder.start(*discovery);
    unsetenv("CORVEX_INSTRUMENT_DIR");
    unsetenv("CORVEX_NO_UDEV");
    EXPECT_EQ(recorder.events, (std::vector<std::string> { "+" + entry("vario") }));
}

TEST(InstrumentDirectoryPath, ExplicitFolderThenRuntimeFolderThenCache)
{
    std::map<std::string, std::string> variables;
    std::optional<std::string> runtimeFolder;
    InstrumentDirectoryInputs inputs {
        [&](const char* name) -> std::optional<std::string> {
            auto found = variables.find(name);
            return found == variables.end() ? std::nullopt : std::optional(found->second);
        },
        [&] { return runtimeFolder; },
    };

    variables["HOME"] = "/home/pilot";
    EXPECT_EQ(instrumentDirectoryPath(inputs), "/home/pilot/.cache/corvex/instruments");
    variables["XDG_CACHE_HOME"] = "/var/cache/pilot";
    EXPECT_EQ(instrumentDirectoryPath(inputs), "/var/cache/pilot/corvex/instruments");
    runtimeFolder = "/run/user/1000";
    EXPECT_EQ(instrumentDirectoryPath(inputs), "/run/user/1000/corvex/instruments");
    variables["XDG_RUNTIME_DIR"] = "/run/user/1234";
    EXPECT_EQ(instrumentDirectoryPath(inputs), "/run/user/1234/corvex/instruments");
    variables["CORVEX_INSTRUMENT_DIR"] = "/srv/instruments";
    EXPECT_EQ(instrumentDirectoryPath(inputs), "/srv/instruments");
}

TEST(PrivateDirectory, CreatesMissingParentsPrivatelyAndNamesTheStepThatFailed)
{
    QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const std::string root = temporary.path().toStdString();
    std::string error;
    ASSERT_TRUE(ensurePrivateDirectory(root + "/a/b/", &error)) << error;
    for (const char* folder : { "/a", "/a/b" }) {
        struct stat status {};
        ASSERT_EQ(stat((root + folder).c_str(), &status), 0) << folder;
        EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_TRUE(ensurePrivateDirectory(root + "/a/b"));

    const std::string file = root + "/file";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    struct Case {
        std::string path;
        std::string error;
    };
    for (const Case& c : { Case { file, file + " is not a folder" },
             Case { file + "/below", "mkdir " + file + "/below: Not a directory" }, Case { "", "empty path" } }) {
        error.clear();
        EXPECT_FALSE(ensurePrivateDirectory(c.path, &error)) << c.path;
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(ensurePrivateDirectory(c.path)) << c.path;
    }
}

} // namespace
