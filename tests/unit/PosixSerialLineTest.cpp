// The serial line on a real pty: silence reads as nothing, a line whose other end is
// gone (the cable pulled) as a failure, never as silence.
#include "platform/PosixSerialLine.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <variant>

namespace {

TEST(PosixSerialLine, SilenceIsNothingButAHungUpLineIsAFailure)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    std::string error;
    auto line = corvex::PosixSerialPortOpener().open(::ptsname(master), error);
    ASSERT_TRUE(line) << error;
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
    EXPECT_TRUE(std::holds_alternative<corvex::LineError>(line->readSome(buffer)));
    EXPECT_TRUE(std::holds_alternative<corvex::LineError>(line->readSomeWithin(buffer, std::chrono::milliseconds(500))));
}

} // namespace
