// The serial line on a real pty: silence reads as nothing, a line whose other end is
// gone (the cable pulled) as a failure, never as silence; and the opening of a line,
// which holds it against every other open and says why it could not.
#include "platform/PosixSerialLine.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>

namespace {

// A pty whose master end this test keeps; the slave is the "instrument's" device.
struct Pty {
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = ::ptsname(master);
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    int master { -1 };
    std::string slave;
};

std::string processName(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Runs the body in a child process and gives its exit status; the parent goes on
// once the child has written a byte into the pipe (or ended).
struct Child {
    template<typename Body>
    explicit Child(Body body)
    {
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(ends[0]);
            ::_exit(body(ends[1]));
        }
        ::close(ends[1]);
        char byte;
        (void)::read(ends[0], &byte, 1);
        ::close(ends[0]);
    }
    int wait()
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t pid { -1 };
};

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
    for (auto failed : { line->readSome(buffer), line->readSomeWithin(buffer, std::chrono::milliseconds(500)) }) {
        ASSERT_TRUE(std::holds_alternative<corvex::LineError>(failed));
        EXPECT_TRUE(std::get<corvex::LineError>(failed).hungUp) << std::get<corvex::LineError>(failed).message;
    }
    // A write into the hung-up line fails with the errno a pulled USB cable gives.
    const auto written = line->writeAll(corvex::Bytes { 0x01 });
    ASSERT_TRUE(std::holds_alternative<corvex::LineError>(written));
    EXPECT_EQ(std::get<corvex::LineError>(written).systemError, EIO);
    EXPECT_TRUE(std::get<corvex::LineError>(written).hungUp);
}

// One open holds the device against every other: of this process, of another one, of
// root (whom the terminal's own exclusion lets through, and who runs these tests), and
// through the symlink a virtual instrument publishes. The refusal names the holder.
TEST(PosixSerialLine, AnOpenLineIsRefusedToEveryOtherOpenWithItsHolderNamed)
{
    corvex::testing::TemporaryFolder folder("serial-open");
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    const std::string link = folder.path() + "/instrument";
    ASSERT_EQ(::symlink(pty.slave.c_str(), link.c_str()), 0);
    const std::string self = processName(::getpid()) + " (process " + std::to_string(::getpid()) + ")";

    struct Case {
        const char* name;
        std::string firstPath, secondPath;
    };
    const Case cases[] = {
        { "the device twice", pty.slave, pty.slave },
        { "the symlink, then the device", link, pty.slave },
        { "the device, then the symlink", pty.slave, link },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto first = corvex::PosixSerialPortOpener().open(c.firstPath);
            ASSERT_TRUE(first) << first.error().detail;
            auto second = corvex::PosixSerialPortOpener().open(c.secondPath);
            ASSERT_FALSE(second);
            EXPECT_EQ(second.error().systemError, EBUSY) << second.error().detail;
            EXPECT_EQ(second.error().holder, self);
        }
        auto again = corvex::PosixSerialPortOpener().open(c.secondPath);
        EXPECT_TRUE(again) << "closing the line lets the device go";
    }

    // Another process holds it: named by its own name and process id.
    Child holder([&](int ready) {
        ::prctl(PR_SET_NAME, "line-holder");
        auto line = corvex::PosixSerialPortOpener().open(link);
        (void)::write(ready, "x", 1);
        if (!line)
            return 1;
        ::pause();
        return 0;
    });
    ASSERT_GT(holder.pid, 0);
    auto refused = corvex::PosixSerialPortOpener().open(link);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().systemError, EBUSY);
    EXPECT_EQ(refused.error().holder, "line-holder (process " + std::to_string(holder.pid) + ")");
    ::kill(holder.pid, SIGTERM);
    holder.wait();
    EXPECT_TRUE(corvex::PosixSerialPortOpener().open(link)) << "a holder's end lets the device go";
}

// The reasons a device cannot be opened at all, with their errno: a missing device, and
// a missing permission, tried as an unprivileged user (root opens a device of mode 000
// anyway, so these tests, which run as root, drop to "nobody" in a child for it).
TEST(PosixSerialLine, AnOpenThatFailsSaysWhy)
{
    corvex::testing::TemporaryFolder folder("serial-open");
    auto missing = corvex::PosixSerialPortOpener().open(folder.path() + "/no-such-port");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().systemError, ENOENT);
    EXPECT_EQ(missing.error().detail, folder.path() + "/no-such-port: No such file or directory");
    EXPECT_TRUE(missing.error().holder.empty());

    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    ASSERT_EQ(::chmod(pty.slave.c_str(), 0600), 0);
    Child unprivileged([&](int ready) {
        if (::getuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 2;
        } else if (::chmod(pty.slave.c_str(), 0) != 0) {
            return 3;
        }
        auto denied = corvex::PosixSerialPortOpener().open(pty.slave);
        (void)::write(ready, "x", 1);
        return !denied && denied.error().systemError == EACCES ? 0 : 1;
    });
    EXPECT_EQ(unprivileged.wait(), 0) << "1: the open did not fail with EACCES; 2, 3: the test could not drop the permission";
}

} // namespace
