// The serial line on a real pty: silence reads as nothing, a line whose other end is
// gone (the cable pulled) as a failure, never as silence; an open line is held against
// every other open, and an open that fails says why.
#include "platform/FileLock.h"
#include "platform/PosixSerialLine.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>

namespace {

TEST(PosixSerialLine, SilenceIsNothingButAHungUpLineIsAFailure)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    auto opened = corvex::PosixSerialPortOpener().open(::ptsname(master));
    ASSERT_TRUE(opened) << opened.error().detail;
    auto& line = *opened;
    line->configureRaw115200();
    std::array<std::uint8_t, 8> buffer {};

    const auto silent = line->readSome(buffer);
    ASSERT_TRUE(std::holds_alternative<std::size_t>(silent));
    EXPECT_EQ(std::get<std::size_t>(silent), 0u);

    ASSERT_EQ(::write(master, "ab", 2), 2);
    const auto answered = line->readSomeWithin(buffer, std::chrono::milliseconds(500));
    ASSERT_TRUE(std::holds_alternative<std::size_t>(answered));
    EXPECT_EQ(std::get<std::size_t>(answered), 2u);

    ::close(master);
    for (auto failed : { line->readSome(buffer), line->readSomeWithin(buffer, std::chrono::milliseconds(500)) })
        EXPECT_TRUE(std::holds_alternative<corvex::LineError>(failed) && std::get<corvex::LineError>(failed).hungUp);
    const auto written = line->writeAll(corvex::Bytes { 0x01 });
    ASSERT_TRUE(std::holds_alternative<corvex::LineError>(written));
    EXPECT_EQ(std::get<corvex::LineError>(written).systemError, EIO) << "what a pulled USB cable gives";
}

// Root, who runs these tests, passes the terminal's own exclusion, and so does a
// second open in one process: the lock binds both, through a virtual instrument's
// symlink too, and names the holder (other processes: the corvex tests). A program
// lock file holds the same way. Without permission (tried as "nobody" in a child, as
// root opens anything) the open fails with EACCES.
TEST(PosixSerialLine, AnOpenLineIsHeldAgainstEveryOtherOpenAndAFailedOpenSaysWhy)
{
    corvex::testing::TemporaryFolder folder("serial-open");
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string device = ::ptsname(master), link = folder.path() + "/instrument";
    ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
    const std::string self = corvex::processDescription(::getpid());
    for (const std::string& first : { device, link }) {
        auto held = corvex::PosixSerialPortOpener().open(first);
        ASSERT_TRUE(held) << held.error().detail;
        auto refused = corvex::PosixSerialPortOpener().open(device);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().systemError, EBUSY);
        EXPECT_EQ(refused.error().holder, self);
    }
    EXPECT_TRUE(corvex::PosixSerialPortOpener().open(link)) << "a closed line lets the device go";
    {
        corvex::FileLock first(folder.path() + "/program.lock"), second(folder.path() + "/program.lock");
        EXPECT_EQ(first.state(), corvex::FileLock::State::Held);
        EXPECT_EQ(second.state(), corvex::FileLock::State::Taken);
        EXPECT_EQ(second.holder(), self);
    }
    EXPECT_EQ(corvex::FileLock(folder.path() + "/program.lock").state(), corvex::FileLock::State::Held);

    ASSERT_EQ(::chmod(device.c_str(), 0600), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::getuid() == 0 ? ::setgid(65534) == 0 && ::setuid(65534) == 0 : ::chmod(device.c_str(), 0) == 0;
        auto denied = corvex::PosixSerialPortOpener().open(device);
        ::_exit(!dropped ? 2 : !denied && denied.error().systemError == EACCES ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused with EACCES; 2: the permission could not be dropped";
    ::close(master);
}

} // namespace
