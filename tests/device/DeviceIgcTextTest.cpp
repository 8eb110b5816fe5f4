#include "support/DeviceTestRig.h"

#include <gtest/gtest.h>

#include <ctime>

namespace corvex {
namespace {

using testing::hexBytes;
using testing::scriptedAnswers;
using testing::DeviceTestRig;

// An answer: 0x03, the block's state, the text's length, the text.
Bytes block(std::uint8_t state, std::string_view text)
{
    Bytes answer(3 + text.size());
    answer[0] = 0x03;
    answer[1] = state;
    answer[2] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), answer.begin() + 3);
    return answer;
}

struct IgcRig : DeviceTestRig {
    IgcRig(std::uint16_t firmware, std::vector<Bytes> answers)
        : DeviceTestRig(scriptedAnswers(std::move(answers)))
    {
        device->setCurrentFirmwareVersion(firmware);
    }

    // The two comment lines with the rig's version and clock, in local time.
    std::string comment() const
    {
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        std::tm local {};
        localtime_r(&seconds, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        return std::string("LXCV HUB version Mac 1.2.3\r\nLXCV Downloaded ") + text + "\r\n";
    }
};

// The text, or nothing when the download failed.
std::optional<std::string> text(const DeviceResult<std::string>& igc)
{
    return igc ? std::optional(*igc) : std::nullopt;
}

constexpr std::uint16_t recent = 2405;
constexpr std::uint16_t older = 1370;

TEST(DeviceIgcText, JoinsBlocksIntoCrLfLines)
{
    IgcRig rig(recent, { block(0, "AXCV001\nHFDTE050714\n"), block(2, "HFPLT:X"), block(3, ""), block(2, "\n\nB1\r\n"), block(5, "") });
    auto igc = rig.device->downloadTextIgcFromTheDevice(7, nullptr);
    ASSERT_TRUE(igc);
    // Empty pieces between line feeds go; a carriage return the text carried stays.
    EXPECT_EQ(*igc, "AXCV001\r\nHFDTE050714\r\nHFPLT:X\r\n\r\nB1\r\r\n");
    EXPECT_FALSE(rig.log.contains("Adding comment")) << "no state-4 block, no comment lines";
}

TEST(DeviceIgcText, EchoesTheStateOfTheLastAnswer)
{
    IgcRig rig(recent, { block(1, "F.IGC"), block(0, "A"), block(4, "B"), block(3, "C"), block(6, "") });
    std::optional<std::string> name;
    ASSERT_TRUE(rig.device->downloadTextIgcFromTheDevice(0x0102, &name));
    const std::vector<Bytes> expected = { hexBytes("03 08 01 02 00"), hexBytes("03 08 01 02 01"), hexBytes("03 08 01 02 00"),
        hexBytes("03 08 01 02 04"), hexBytes("03 08 01 02 03") };
    EXPECT_EQ(rig.line().written, expected);
}

TEST(DeviceIgcText, RecentFirmwarePutsTheCommentBeforeTheFirstStateFourBlockAndDropsTheEndBlock)
{
    IgcRig rig(recent, { block(0, "AXCV\n"), block(4, "LXCV first\n"), block(4, "LXCV second\n"), block(5, "GEND\n") });
    auto igc = rig.device->downloadTextIgcFromTheDevice(1, nullptr);
    ASSERT_TRUE(igc);
    EXPECT_EQ(*igc, "AXCV\r\n" + rig.comment() + "LXCV first\r\nLXCV second\r\n");
    EXPECT_EQ(rig.log.count("Adding comment"), 1u);
    EXPECT_TRUE(rig.log.contains("Reading data block, state is 04"));
}

TEST(DeviceIgcText, OlderFirmwarePutsTheCommentAfterTheStateFourBlockAndKeepsTheEndBlock)
{
    IgcRig rig(older, { block(0, "AXCV\n"), block(4, "LXCV first\n"), block(4, "LXCV second\n"), block(5, "GEND\n") });
    auto igc = rig.device->downloadTextIgcFromTheDevice(1, nullptr);
    ASSERT_TRUE(igc);
    EXPECT_EQ(*igc, "AXCV\r\nLXCV first\r\n" + rig.comment() + "LXCV second\r\nGEND\r\n");
    EXPECT_EQ(rig.log.count("Adding comment"), 1u);
}

TEST(DeviceIgcText, FirmwareRuleComparesWithinTheGeneration)
{
    // 1.375 and 2.401 themselves are not recent; the end block's text then counts.
    for (std::uint16_t firmware : { 1375, 2401, 1356 }) {
        IgcRig rig(firmware, { block(5, "GEND") });
        EXPECT_EQ(text(rig.device->downloadTextIgcFromTheDevice(1, nullptr)), "GEND\r\n") << firmware;
    }
    for (std::uint16_t firmware : { 1376, 2402 }) {
        IgcRig rig(firmware, { block(5, "GEND") });
        EXPECT_EQ(text(rig.device->downloadTextIgcFromTheDevice(1, nullptr)), "") << firmware;
    }
}

TEST(DeviceIgcText, FileNameBlock)
{
    // The length byte is not applied to the name: it runs to the first NUL.
    Bytes nameBlock = hexBytes("03 01 02");
    const std::string proposed = "FLIGHT01.IGC";
    nameBlock.insert(nameBlock.end(), proposed.begin(), proposed.end());
    nameBlock.push_back(0);
    nameBlock.push_back('X');
    IgcRig rig(recent, { nameBlock, block(5, "") });
    std::optional<std::string> name;
    auto igc = rig.device->downloadTextIgcFromTheDevice(1, &name);
    ASSERT_TRUE(igc);
    EXPECT_EQ(*igc, "");
    EXPECT_EQ(name, "FLIGHT01");
    EXPECT_TRUE(rig.log.contains("Just Read filename: (FLIGHT01.IGC) (FLIGHT01.IGC) (<464c4947 48543031 2e494743>)"));

    // Only the last extension goes; a name without one stays; no name block, no name.
    const std::vector<std::pair<std::string, std::string>> names
        = { { "2014-07-05.XCV.IGC", "2014-07-05.XCV" }, { "FLIGHT", "FLIGHT" }, { "a/b.IGC", "a_b" } };
    for (const auto& [sent, kept] : names) {
        IgcRig named(recent, { block(1, sent), block(5, "") });
        ASSERT_TRUE(named.device->downloadTextIgcFromTheDevice(1, &name));
        EXPECT_EQ(name, kept) << sent;
    }
    IgcRig nameless(recent, { block(5, "") });
    name = "stale";
    ASSERT_TRUE(nameless.device->downloadTextIgcFromTheDevice(1, &name));
    EXPECT_FALSE(name);
}

// Instruments that pad every answer to 300 bytes, to 258, or not at all give the same
// file; padding, even padding that looks like a block header, is never read as the
// next answer, nor is NUL padding still on its way when the next request goes out.
TEST(DeviceIgcText, PaddedAndUnpaddedAnswersGiveTheSameFile)
{
    const std::vector<Bytes> blocks = { block(1, "F.IGC"), block(0, "AXCV\n"), block(4, "B1\nB2\n"), block(3, "B3"), block(5, "G1\n") };
    const Bytes headerLike = { 0x00, 0x03, 0x05, 0x00 };
    struct Case {
        const char* what;
        Bytes filler;
        std::size_t paddedLength;
        std::size_t lateNuls; // padding of the last answer that comes after the next request
    };
    const Case cases[] = {
        { "unpadded", {}, 0, 0 },
        { "NULs to 300", { 0x00 }, 300, 0 },
        { "NULs to 258", { 0x00 }, 258, 0 },
        { "header-like filler to 300", headerLike, 300, 0 },
        { "NULs to 258, 40 of them late", { 0x00 }, 258, 40 },
        { "NULs to 300, all of them late", { 0x00 }, 300, 300 },
    };
    for (const Case& c : cases) {
        std::vector<Bytes> answers;
        std::size_t late = 0;
        for (Bytes answer : blocks) {
            Bytes padding;
            for (std::size_t i = 0; !c.filler.empty() && answer.size() + padding.size() < c.paddedLength; ++i)
                padding.push_back(c.filler[i % c.filler.size()]);
            // The part of the last answer's padding that is still on its way.
            Bytes sent(late, 0x00);
            late = std::min(c.lateNuls, padding.size());
            sent.insert(sent.end(), answer.begin(), answer.end());
            sent.insert(sent.end(), padding.begin(), padding.end() - static_cast<std::ptrdiff_t>(late));
            answers.push_back(sent);
        }
        IgcRig rig(recent, answers);
        std::optional<std::string> name;
        EXPECT_EQ(text(rig.device->downloadTextIgcFromTheDevice(1, &name)), "AXCV\r\n" + rig.comment() + "B1\r\nB2\r\nB3\r\n")
            << c.what;
        EXPECT_EQ(name, "F") << c.what;
        EXPECT_EQ(rig.line().written.size(), blocks.size()) << c.what;
        EXPECT_TRUE(rig.line().pending.empty()) << "the last answer's padding is read too; " << c.what;
        if (c.filler != headerLike) {
            EXPECT_FALSE(rig.log.containsPrefix("Discarded")) << "NUL padding is not news; " << c.what;
        }
    }
}

TEST(DeviceIgcText, ShortAnswers)
{
    // Cut before its length and without a NUL: bytes were lost. The transfer is asked
    // for again from its start, three times, then fails as an answer that broke off.
    Bytes cut = block(0, "AXCV");
    cut[2] = 10;
    DeviceTestRig lost([&](const Bytes&) { return cut; });
    lost.device->setCurrentFirmwareVersion(recent);
    auto failed = lost.device->downloadTextIgcFromTheDevice(1, nullptr);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, DeviceErrorKind::ShortAnswer);
    EXPECT_EQ(lost.log.count("deviceReadDataOfLength: failure inside downloadTextIgcFromTheDevice"), 4u);
    EXPECT_EQ(lost.line().written.size(), 4u);
    EXPECT_TRUE(lost.log.contains("downloadTextIgcFromTheDevice: the instrument's answer broke off (the text broke off before "
                                  "its announced length), asking for flight 1 again from its start (3 of 3)"));

    // Broken once: the second transfer, from state 0, gives the whole file.
    IgcRig once(recent, { block(1, "F.IGC"), cut, block(1, "F.IGC"), block(0, "AXCV\n"), block(5, "") });
    std::optional<std::string> name;
    EXPECT_EQ(text(once.device->downloadTextIgcFromTheDevice(1, &name)), "AXCV\r\n");
    EXPECT_EQ(name, "F");
    ASSERT_EQ(once.line().written.size(), 5u);
    EXPECT_EQ(once.line().written[2], hexBytes("03 08 00 01 00")) << "asked again from its start";

    // A NUL ends the text before the announced length: the text is whole.
    Bytes ended = block(0, std::string("AXCV\0", 5));
    ended[2] = 10;
    IgcRig whole(recent, { ended, block(5, "") });
    EXPECT_EQ(text(whole.device->downloadTextIgcFromTheDevice(1, nullptr)), "AXCV\r\n");
}

TEST(DeviceIgcText, FailuresReturnNothingWithTheirMessage)
{
    struct Case {
        const char* what;
        std::vector<Bytes> answers;
        const char* line;
        DeviceErrorKind kind;
        std::size_t requests; // 4: asked again three times
    };
    const std::vector<Case> cases = {
        { "silence", {}, "deviceReadDataOfLength: failure inside downloadTextIgcFromTheDevice", DeviceErrorKind::NoAnswer, 4 },
        { "wrong first byte", { hexBytes("04 00 00") }, "deviceReadDataOfLength: failure inside downloadTextIgcFromTheDevice",
            DeviceErrorKind::NoAnswer, 4 },
        { "no state byte", { hexBytes("03") }, "deviceReadDataOfLength: failure inside downloadTextIgcFromTheDevice",
            DeviceErrorKind::NoAnswer, 4 },
        { "error state after data", { block(0, "AXCV"), block(0xFF, "") }, "IGC_READ_STATE_ERROR", DeviceErrorKind::Refused, 2 },
    };
    for (const Case& c : cases) {
        IgcRig rig(recent, c.answers);
        std::optional<std::string> name = "kept";
        auto igc = rig.device->downloadTextIgcFromTheDevice(1, &name);
        ASSERT_FALSE(igc) << c.what;
        EXPECT_EQ(igc.error().kind, c.kind) << c.what;
        EXPECT_TRUE(rig.log.contains(c.line)) << c.what;
        EXPECT_EQ(name, "kept") << c.what;
        EXPECT_EQ(rig.line().written.size(), c.requests) << c.what;
    }

    IgcRig refused(recent, { block(5, "") });
    refused.line().failWrites = true;
    auto unwritten = refused.device->downloadTextIgcFromTheDevice(1, nullptr);
    ASSERT_FALSE(unwritten);
    EXPECT_EQ(unwritten.error().kind, DeviceErrorKind::Unplugged);
    EXPECT_TRUE(refused.log.contains("deviceWriteData devReadTracklogReq failure"));
}

TEST(DeviceIgcText, AnInstrumentThatNeverEndsTheFileIsStopped)
{
    DeviceTestRig rig([](const Bytes&) { return block(3, "B1"); });
    rig.device->setCurrentFirmwareVersion(recent);
    EXPECT_FALSE(rig.device->downloadTextIgcFromTheDevice(1, nullptr));
    EXPECT_TRUE(rig.log.contains("downloadTextIgcFromTheDevice: the instrument does not end the file (more than 65536 blocks)"));
    EXPECT_EQ(rig.line().written.size(), 65536u) << "not asked for again";
}

TEST(DeviceIgcText, FaultSweepNeverReportsAPartialFile)
{
    for (std::uint16_t firmware : { recent, older }) {
        const std::vector<Bytes> answers
            = { block(1, "F.IGC"), block(0, "AXCV\nHFDTE050714\n"), block(4, "LXCV x\n"), block(5, "GEND\n") };
        std::size_t total = 0;
        for (const Bytes& answer : answers)
            total += 5 + answer.size();
        for (std::size_t cut = 0; cut < total; ++cut) {
            IgcRig rig(firmware, answers);
            rig.line().failAfterBytes = cut;
            auto igc = rig.device->downloadTextIgcFromTheDevice(1, nullptr);
            // With recent firmware the end block's text is not used, so a cut after
            // its header still gives the whole file.
            if (igc) {
                EXPECT_EQ(firmware, recent) << "cut at " << cut;
                EXPECT_GE(cut, total - 5) << "cut at " << cut;
            }
        }
    }
}

} // namespace
} // namespace corvex
