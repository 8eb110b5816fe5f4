// The update check over real HTTP against the stand-in vendor server, with a products
// folder made at test time.
#include "CapturingLogSink.h"
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "platform/qt/QtEventLoopTurner.h"
#include "platform/qt/QtHttpClient.h"
#include "support/QtTestHelpers.h"
#include "updates/URLConnection.h"
#include "updates/UpdateCheck.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

constexpr InstrumentGeneration lark = InstrumentGeneration::Lark;
constexpr InstrumentGeneration wren = InstrumentGeneration::Wren;

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString(); }

    std::string base() const { return server.baseUrl().toStdString(); }
    std::string feedUrl() const { return base() + "/versions.xml"; }

    UpdateProducts makeProducts(const std::vector<UpdateProducts::Entry>& entries)
    {
        return UpdateProducts::make(server.productsDirectory().toStdString(), base(), entries);
    }

    void writeFeed(const std::string& text)
    {
        QFile file(server.productsDirectory() + "/versions.xml");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    // Runs the check as every connection does and waits for its outcome.
    std::optional<UpdateCheckResult> runCheck(const std::string& url, const std::string& software,
        const std::string& firmware, InstrumentGeneration model)
    {
        UpdateChecker checker(http, log, url);
        std::optional<UpdateCheckResult> outcome;
        int calls = 0;
        checker.checkUpdates(software, firmware, model, [&](const UpdateCheckResult& result) {
            outcome = result;
            ++calls;
        });
        EXPECT_TRUE(waitUntil([&] { return calls > 0; }, 15000));
        runEventLoopFor(50);
        EXPECT_EQ(calls, 1);
        return outcome;
    }

    VendorServerProcess server;
    QtHttpClient http;
    CapturingLogSink log;
};

TEST_F(UpdateCheckTest, ReleaseAndBetaEntriesComeWithAddressesAndHashesOfTheServedFiles)
{
    const UpdateProducts products = makeProducts({
        UpdateProducts::software("larkswMac", "9.9.0"),
        UpdateProducts::software("larkswMacBeta", "10.0.0"),
        UpdateProducts::firmware("larkfw_asp", "1.400"),
        UpdateProducts::firmware("larkfwBeta", "1.500"),
        UpdateProducts::firmware("wrenfw_asp", "2.500"),
        UpdateProducts::firmware("wrenfwBeta", "2.600"),
    });
    const auto outcome = runCheck(feedUrl(), "1.0.0", "1.365", lark);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->failure, UpdateCheckResult::Failure::none);
    const AvailableUpdates& updates = outcome->updates;
    EXPECT_TRUE(updates.softwareUpdateAvailable && updates.softwareBetaUpdateAvailable);
    EXPECT_TRUE(updates.firmwareOf(lark).release.isUpdate && updates.firmwareOf(lark).beta.isUpdate);
    // The Wren's lines are compared with the Lark's firmware all the same.
    EXPECT_TRUE(updates.firmwareOf(wren).release.isUpdate && updates.firmwareOf(wren).beta.isUpdate);
    EXPECT_TRUE(updates.areThereAnyUpdatesAvailableAtAll());

    const std::pair<std::optional<std::string>, const char*> addresses[] = {
        { updates.softwareUrl, "larkswMac" }, { updates.softwareBetaUrl, "larkswMacBeta" },
        { updates.firmwareOf(lark).release.url, "larkfw_asp" }, { updates.firmwareOf(lark).beta.url, "larkfwBeta" },
        { updates.firmwareOf(wren).release.url, "wrenfw_asp" }, { updates.firmwareOf(wren).beta.url, "wrenfwBeta" },
    };
    for (const auto& [url, id] : addresses)
        EXPECT_EQ(url, products.product(id).url) << id;
    EXPECT_EQ(updates.softwareVersion, "9.9.0");
    EXPECT_EQ(updates.firmwareOf(wren).beta.version, "2.600");

    // The hash the feed gives is the hash of what the server sends.
    ASSERT_TRUE(updates.firmwareOf(wren).release.sha256);
    std::optional<Bytes> served;
    URLConnection::asyncConnectionWithURLString(
        http, *updates.firmwareOf(wren).release.url, [&](std::optional<Bytes> data, std::optional<URLResponse>) { served = data; },
        [](const URLError&) {});
    ASSERT_TRUE(waitUntil([&] { return served.has_value(); }));
    EXPECT_EQ(sha256Hex(*served), *updates.firmwareOf(wren).release.sha256);
    const std::string text(served->begin(), served->end());
    EXPECT_TRUE(text.starts_with("S0")) << text.substr(0, 40);

    EXPECT_TRUE(log.contains("Checking for updates"));
    EXPECT_TRUE(log.contains(
        "Current software version: 1.0.0, newest software version: 9.9.0, newest beta software version: 10.0.0"));
    EXPECT_TRUE(log.contains("Current firmware version: 1.365, newest firmware version: 1.400, newest beta firmware "
                             "version: 1.500, newest wren firmware: 2.500, newest wren beta firmware: 2.600 (device is Lark)"));
}

TEST_F(UpdateCheckTest, AFeedThatCannotBeReadOffersNothingAndSaysWhy)
{
    struct Case {
        const char* what;
        std::string feed; // written as versions.xml
        std::string url;
        UpdateCheckResult::Failure failure;
        const char* logged; // a line, or the start of one
    };
    const Case cases[] = {
        { "an error page", "<html><body>Bad gateway<br></body>", feedUrl(), UpdateCheckResult::Failure::notXml,
            "Unable to check for an update. Non XML response?" },
        { "an empty answer", "", feedUrl(), UpdateCheckResult::Failure::notXml,
            "Unable to check for an update. Non XML response?" },
        { "a missing feed", "<corvex/>", base() + "/elsewhere/versions.xml", UpdateCheckResult::Failure::notXml,
            "Unable to check for an update. Non XML response?" },
        { "nobody listening", "<corvex/>", "http://127.0.0.1:1/versions.xml", UpdateCheckResult::Failure::transport,
            "URLConnection error: " },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log.lines.clear();
        writeFeed(c.feed);
        const auto outcome = runCheck(c.url, "1.0.0", "2.405", wren);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->failure, c.failure);
        EXPECT_TRUE(log.containsPrefix(c.logged));
        // Only the model survives.
        const AvailableUpdates& updates = outcome->updates;
        EXPECT_TRUE(updates.theDeviceIsWren());
        EXPECT_FALSE(updates.currentSoftwareVersion || updates.softwareVersion || updates.firmwareOf(wren).release.version);
        EXPECT_FALSE(updates.areThereAnyUpdatesAvailableAtAll());
        EXPECT_TRUE(log.contains("Current software version: (null), newest software version: (null), newest beta "
                                 "software version: (null)"));
    }
}

TEST_F(UpdateCheckTest, AnEntryWithoutItsAddressIsLeftOutAndTheOthersServe)
{
    auto software = UpdateProducts::software("larkswMac", "9.9.0");
    software.withUrl = false;
    makeProducts({ software, UpdateProducts::firmware("wrenfw_asp", "2.500") });
    const auto outcome = runCheck(feedUrl(), "1.0.0", "2.405", wren);
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->updates.softwareVersion);
    EXPECT_FALSE(outcome->updates.softwareUpdateAvailable);
    EXPECT_TRUE(outcome->updates.firmwareOf(wren).release.isUpdate);
    EXPECT_TRUE(outcome->updates.areThereAnyUpdatesAvailableAtAll());
}

TEST_F(UpdateCheckTest, ACheckerThatGoesAwayMidRequestReportsNothing)
{
    int calls = 0;
    {
        UpdateChecker checker(http, log, base() + "/test/stall");
        checker.checkUpdates("1.0", "1.365", lark, [&](const UpdateCheckResult&) { ++calls; });
        runEventLoopFor(200);
    }
    runEventLoopFor(300);
    EXPECT_EQ(calls, 0);
}

TEST_F(UpdateCheckTest, TheSynchronousCheckAnswersWhetherItWorkedAndFillsOnlyNewerVersions)
{
    QtEventLoopTurner eventLoop;
    const std::string release = "<corvex><products>"
                                "<product id=\"larkswMac\" version=\"9.9.0\" url=\"http://h/sw.zip\"/>"
                                "<product id=\"larkfw\" version=\"1.400\" url=\"http://h/fw.s19\"/>"
                                "</products></corvex>";
    const std::string onlyAsp = "<corvex><products>"
                                "<product id=\"larkswMac\" version=\"9.9.0\"/>"
                                "<product id=\"larkfw_asp\" version=\"1.400\" url=\"http://h/fw.s19\"/>"
                                "</products></corvex>";
    struct Case {
        const char* what;
        std::string feed;
        std::string url;
        bool firmware;
        const char* current;
        bool answer;
        const char* newUrl; // "untouched" when it stays
        const char* logged; // nullptr: nothing
    };
    const Case cases[] = {
        { "newer software", release, feedUrl(), false, "1.0", true, "http://h/sw.zip", nullptr },
        { "same software", release, feedUrl(), false, "9.9.0", true, "untouched", nullptr },
        { "newer firmware", release, feedUrl(), true, "1.365", true, "http://h/fw.s19", nullptr },
        { "later firmware", release, feedUrl(), true, "1.500", true, "untouched", nullptr },
        { "software without url", onlyAsp, feedUrl(), false, "1.0", false, "untouched",
            "Unable to check for an update. Mac Software product XML entry not found" },
        { "firmware only under its new name", onlyAsp, feedUrl(), true, "1.0", false, "untouched",
            "Unable to check for an update. Firmware product XML entry not found" },
        { "not XML", "Service unavailable", feedUrl(), true, "1.0", false, "untouched",
            "Unable to check for an update. Non XML response?" },
        { "nobody listening", release, "http://127.0.0.1:1/versions.xml", false, "1.0", false, "untouched",
            "Unable to check for an update. Connection Error?" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log.lines.clear();
        writeFeed(c.feed);
        UpdateWindowController controller(http, log, eventLoop, c.url);
        std::string url = "untouched";
        std::string version = "untouched";
        const bool answer = c.firmware ? controller.areUpdatesAvailableForCurrentFwVer(c.current, &url, &version)
                                       : controller.areUpdatesAvailableForCurrentSwVer(c.current, &url, &version);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(url, c.newUrl);
        if (std::string(c.newUrl) != "untouched") {
            EXPECT_EQ(version, c.firmware ? "1.400" : "9.9.0");
        }
        const std::vector<std::string> expectedLog = c.logged ? std::vector<std::string> { c.logged } : std::vector<std::string> {};
        EXPECT_EQ(log.lines, expectedLog);
    }
}

} // namespace
