#include "InstrumentModel.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdlib.h>

using corvex::testing::TemporaryFolder;

using namespace corvex;
using namespace corvex::virtualinstrument;

namespace {

// A small firmware image: header naming version 2.406, two data records, the end.
const std::vector<std::string> wrenImage = {
    "S00D00005752454E20322E3430369C",
    "S1131000000102030405060708090A0B0C0D0E0F64",
    "S10B1010AAAAAAAAAAAAAAAA84",
    "S9031000EC",
};

Bytes frame(std::uint8_t command, std::uint16_t number, const std::string& line)
{
    Bytes bytes(line.size() + 4, 0);
    bytes[0] = command;
    bytes[1] = static_cast<std::uint8_t>(number >> 8);
    bytes[2] = static_cast<std::uint8_t>(number);
    std::copy(line.begin(), line.end(), bytes.begin() + 3);
    return bytes;
}

std::string rebootLine(std::string line)
{
    line[1] = 'E';
    return line;
}

InstrumentConfig wren()
{
    InstrumentConfig config;
    config.identity = { 0x00C0FFEE, 2405, 40, 0x08 };
    return config;
}

} // namespace

TEST(FirmwareLines, InstallationRebootsOnTheNewVersionAndKeepsIt)
{
    TemporaryFolder folder("corvex-vi-firmware");
    {
        InstrumentModel model(wren(), {}, StateStore(folder.path()));
        for (std::uint16_t number = 0; number < wrenImage.size(); ++number) {
            auto answer = model.receive(frame(0x11, number, wrenImage[number]));
            ASSERT_EQ(answer.size(), 1u);
            EXPECT_EQ(answer[0], (Bytes { 0x11, 0x00, static_cast<std::uint8_t>(number), 0x00 }));
        }
        EXPECT_FALSE(model.takeRebootRequest());
        // The reboot line gets no answer; the instrument restarts on 2.406.
        EXPECT_TRUE(model.receive(frame(0x11, 4, rebootLine(wrenImage.back()))).empty());
        EXPECT_TRUE(model.takeRebootRequest());
        EXPECT_FALSE(model.takeRebootRequest());
        EXPECT_EQ(model.firmwareVersion(), 2406);
        auto info = model.receive(Bytes { 0x01 });
        ASSERT_EQ(info.size(), 1u);
        EXPECT_EQ(info[0][7], 0x09);
        EXPECT_EQ(info[0][8], 0x66);
    }
    // The flashed version survives a restart, whatever the command line says.
    InstrumentModel again(wren(), {}, StateStore(folder.path()));
    EXPECT_EQ(again.firmwareVersion(), 2406);
}

TEST(FirmwareLines, RejectedLinesEndTheInstallationWithoutAReboot)
{
    InstrumentModel model(wren(), {});
    // A Lark frame to a Wren.
    EXPECT_EQ(model.receive(frame(0x0B, 0, wrenImage[0]))[0], (Bytes { 0x0B, 0x00, 0x00, 0x01 }));
    // A damaged checksum.
    model.receive(frame(0x11, 0, wrenImage[0]));
    EXPECT_EQ(model.receive(frame(0x11, 1, "S1131000000102030405060708090A0B0C0D0E0F65"))[0], (Bytes { 0x11, 0x00, 0x01, 0x02 }));
    // The installation is over: the next line is out of order, the reboot line after
    // the failure leaves the firmware as it was.
    EXPECT_EQ(model.receive(frame(0x11, 2, wrenImage[2]))[0], (Bytes { 0x11, 0x00, 0x02, 0x03 }));
    EXPECT_TRUE(model.receive(frame(0x11, 1, rebootLine(wrenImage[1]))).empty());
    EXPECT_FALSE(model.takeRebootRequest());
    EXPECT_EQ(model.firmwareVersion(), 2405);

    // A skipped line number.
    model.receive(frame(0x11, 0, wrenImage[0]));
    EXPECT_EQ(model.receive(frame(0x11, 2, wrenImage[2]))[0][3], 0x03);

    // The injected rejection of one line.
    EXPECT_FALSE(model.applyFaultCommand("firmware-reject 2"));
    EXPECT_EQ(model.receive(frame(0x11, 0, wrenImage[0]))[0][3], 0x00);
    EXPECT_EQ(model.receive(frame(0x11, 1, wrenImage[1]))[0][3], 0x00);
    EXPECT_EQ(model.receive(frame(0x11, 2, wrenImage[2]))[0][3], 0x01);
    EXPECT_TRUE(model.applyFaultCommand("firmware-reject x"));
    EXPECT_FALSE(model.applyFaultCommand("firmware-reject"));
    EXPECT_EQ(model.receive(frame(0x11, 0, wrenImage[0]))[0][3], 0x01);
}

TEST(FirmwareLines, FramesEndAtTheirNulWhateverTheLineNumberLooksLike)
{
    InstrumentModel model(wren(), {});
    model.receive(frame(0x11, 0, wrenImage[0]));
    // Line number 0x0103 holds the bytes of other commands' first bytes.
    Bytes odd = frame(0x11, 0x0103, wrenImage[1]);
    EXPECT_TRUE(model.receive(Bytes(odd.begin(), odd.begin() + 10)).empty());
    auto answer = model.receive(Bytes(odd.begin() + 10, odd.end()));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0], (Bytes { 0x11, 0x01, 0x03, 0x03 })); // out of order, and nothing else
    EXPECT_FALSE(model.hasPartialRequest());
}
