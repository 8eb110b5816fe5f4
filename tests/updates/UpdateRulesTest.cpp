// The versions feed as the check reads it, and the rules that turn its entries into
// offered updates.
#include "CapturingLogSink.h"
#include "updates/FirmwareInstallation.h"
#include "updates/OfferedDownload.h"
#include "updates/UpdateCheck.h"
#include "updates/UpdateSignature.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

Bytes bytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

std::string feed(std::initializer_list<std::pair<const char*, const char*>> products)
{
    std::string text = "<?xml version=\"1.0\"?>\n<corvex><products>";
    for (const auto& [id, version] : products)
        text += std::string("<product id=\"") + id + "\" version=\"" + version + "\" url=\"http://h/" + id + "\"/>";
    return text + "</products></corvex>";
}

constexpr InstrumentGeneration lark = InstrumentGeneration::Lark;
constexpr InstrumentGeneration wren = InstrumentGeneration::Wren;

AvailableUpdates check(const std::string& xml, const std::string& software, const std::string& firmware,
    InstrumentGeneration model = lark)
{
    const auto parsed = VersionsFeed::parse(bytes(xml));
    EXPECT_TRUE(parsed.has_value());
    return availableUpdatesFromFeed(*parsed, software, firmware, model);
}

// Every flag of a check: the program's release and beta, then each model's release and
// beta, in the order of the model table.
enum Flag { softwareRelease, softwareBeta, larkRelease, larkBeta, wrenRelease, wrenBeta };
std::vector<bool> allFlags(const AvailableUpdates& updates)
{
    std::vector<bool> flags { updates.softwareUpdateAvailable, updates.softwareBetaUpdateAvailable };
    for (const ModelFirmwareOffers& offers : updates.firmwareByModel) {
        flags.push_back(offers.release.isUpdate);
        flags.push_back(offers.beta.isUpdate);
    }
    return flags;
}

TEST(UpdateRules, EachEntrySetsItsFlagByItsOwnRule)
{
    struct Case {
        const char* what;
        const char* id;
        const char* offered;
        Flag flag;
        bool expected;
    };
    // The program runs 1.2, the instrument 1.365.
    const Case cases[] = {
        { "release firmware equal", "larkfw_asp", "1.365", larkRelease, false },
        { "release firmware earlier is offered too", "larkfw_asp", "1.364", larkRelease, true },
        { "release firmware later", "larkfw_asp", "1.400", larkRelease, true },
        { "release software earlier is offered too", "larkswMac", "1.1", softwareRelease, true },
        { "release software equal", "larkswMac", "1.2", softwareRelease, false },
        { "beta software equal", "larkswMacBeta", "1.2", softwareBeta, false },
        { "beta software earlier", "larkswMacBeta", "1.1", softwareBeta, false },
        { "beta software later by number", "larkswMacBeta", "1.10", softwareBeta, true },
        { "beta firmware later", "larkfwBeta", "1.366", larkBeta, true },
        { "beta firmware earlier", "larkfwBeta", "1.360", larkBeta, false },
        { "wren release earlier is not offered", "wrenfw_asp", "1.364", wrenRelease, false },
        { "wren release later", "wrenfw_asp", "2.401", wrenRelease, true },
        { "wren beta later", "wrenfwBeta", "2.5", wrenBeta, true },
        { "wren beta equal", "wrenfwBeta", "1.365", wrenBeta, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AvailableUpdates updates = check(feed({ { c.id, c.offered } }), "1.2", "1.365");
        const std::vector<bool> flags = allFlags(updates);
        EXPECT_EQ(flags.at(c.flag), c.expected);
        // No other flag moves.
        EXPECT_EQ(std::count(flags.begin(), flags.end(), true), c.expected ? 1 : 0);
        EXPECT_EQ(updates.currentSoftwareVersion, "1.2");
        EXPECT_EQ(updates.currentFirmwareVersion, "1.365");
    }
}

TEST(UpdateRules, AnyUpdatesCountsReleasesForTheConnectedModelOnly)
{
    // A Wren at 2.405: the Lark's release line differs, the Wren's is the same.
    const std::string xml = feed({ { "larkfw_asp", "1.400" }, { "wrenfw_asp", "2.405" }, { "wrenfwBeta", "2.500" },
        { "larkswMacBeta", "9.0" } });
    const AvailableUpdates ofWren = check(xml, "1.2", "2.405", wren);
    EXPECT_TRUE(ofWren.firmwareOf(lark).release.isUpdate);
    EXPECT_FALSE(ofWren.firmwareOf(wren).release.isUpdate);
    EXPECT_TRUE(ofWren.firmwareOf(wren).beta.isUpdate);
    EXPECT_TRUE(ofWren.softwareBetaUpdateAvailable);
    EXPECT_FALSE(ofWren.areThereAnyUpdatesAvailableAtAll());

    const AvailableUpdates ofLark = check(xml, "1.2", "2.405", lark);
    EXPECT_TRUE(ofLark.areThereAnyUpdatesAvailableAtAll());
    AvailableUpdates software;
    software.softwareUpdateAvailable = true;
    software.deviceModel = wren;
    EXPECT_TRUE(software.areThereAnyUpdatesAvailableAtAll());
}

// Each model's two products land in its own row's results, never in another's, and
// are what the model is offered when it is connected.
TEST(UpdateRules, EachModelsEntriesLandInItsOwnRow)
{
    for (const VarioModel& row : varioModels) {
        SCOPED_TRACE(row.name);
        const std::string release(row.releaseFirmwareProduct);
        const std::string beta(row.betaFirmwareProduct);
        const AvailableUpdates updates
            = check(feed({ { release.c_str(), "9.1" }, { beta.c_str(), "9.2" } }), "1.0", "1.000", row.generation);
        for (const VarioModel& other : varioModels) {
            EXPECT_EQ(updates.firmwareOf(other.generation).release.version.has_value(), &other == &row) << other.name;
            EXPECT_EQ(updates.firmwareOf(other.generation).beta.version.has_value(), &other == &row) << other.name;
        }
        EXPECT_EQ(updates.offeredFirmware(false).version, "9.1");
        EXPECT_EQ(updates.offeredFirmware(true).version, "9.2");
        EXPECT_TRUE(updates.areThereAnyUpdatesAvailableAtAll());
        CapturingLogSink log;
        logAvailableUpdates(log, updates);
        EXPECT_TRUE(log.lines.back().ends_with(std::string("(device is ") + row.name + ")")) << log.lines.back();
    }
}

TEST(UpdateRules, AnEntryCountsOnlyWithVersionAndUrlAndEmptyTextIsPresent)
{
    const std::string xml = "<corvex><products>"
                            "<product id=\"larkswMac\" version=\"2.0\"/>"
                            "<product id=\"larkfw_asp\" url=\"http://h/fw.s19\"/>"
                            "<product id=\"wrenfw_asp\" version=\"\" url=\"\"/>"
                            "<product id=\"larkfwBeta\" version=\"1.9\" url=\"http://h/b.s19\" sha256=\"ab12\" signature=\"c2ln\"/>"
                            "<product id=\"larkfwBeta\" version=\"1.8\" url=\"http://h/second.s19\"/>"
                            "<product id=\"wrenfwBeta\" version=\"2.9\" url=\"http://h/w.s19\">ignored<x/></product>"
                            "<other id=\"larkswMacBeta\" version=\"9\" url=\"http://h/x\"/>"
                            "</products></corvex>";
    const AvailableUpdates updates = check(xml, "1.0", "1.500");
    EXPECT_FALSE(updates.softwareVersion);
    EXPECT_FALSE(updates.softwareUpdateAvailable);
    EXPECT_FALSE(updates.firmwareOf(lark).release.url);
    EXPECT_FALSE(updates.firmwareOf(lark).release.isUpdate);
    // Present but empty: kept, and compared ("" is earlier than anything).
    EXPECT_EQ(updates.firmwareOf(wren).release.version, "");
    EXPECT_EQ(updates.firmwareOf(wren).release.url, "");
    EXPECT_FALSE(updates.firmwareOf(wren).release.isUpdate);
    // The first matching entry wins; its sha256 and signature come along.
    EXPECT_EQ(updates.firmwareOf(lark).beta.version, "1.9");
    EXPECT_EQ(updates.firmwareOf(lark).beta.url, "http://h/b.s19");
    EXPECT_EQ(updates.firmwareOf(lark).beta.sha256, "ab12");
    EXPECT_EQ(updates.firmwareOf(lark).beta.signature, "c2ln");
    EXPECT_EQ(updates.offeredFirmware(true).signature, "c2ln");
    EXPECT_FALSE(updates.firmwareOf(wren).release.sha256);
    EXPECT_FALSE(updates.firmwareOf(wren).release.signature);
    EXPECT_EQ(updates.firmwareOf(wren).beta.version, "2.9");
    EXPECT_FALSE(updates.softwareBetaVersion);
    // Elements under another root are not the feed's.
    EXPECT_FALSE(check("<vendor><products><product id=\"larkswMac\" version=\"9\" url=\"u\"/></products></vendor>", "1.0",
        "1.0")
                     .softwareVersion);
}

TEST(UpdateRules, OnlyXmlIsAFeed)
{
    for (const char* text : { "", "<html><body>Bad gateway", "Not found\n", "\x89PNG\r\n" })
        EXPECT_FALSE(VersionsFeed::parse(bytes(text)).has_value()) << text;
    EXPECT_TRUE(VersionsFeed::parse(bytes("<corvex/>")).has_value());
}

TEST(UpdateRules, TheLogPrintsAbsentValuesAsNull)
{
    AvailableUpdates updates = check(feed({ { "larkswMac", "1.3" }, { "wrenfw_asp", "2.500" } }), "1.2", "2.405", wren);
    CapturingLogSink log;
    logAvailableUpdates(log, updates);
    ASSERT_EQ(log.lines.size(), 2U);
    EXPECT_EQ(log.lines[0], "Current software version: 1.2, newest software version: 1.3, newest beta software version: (null)");
    EXPECT_EQ(log.lines[1],
        "Current firmware version: 2.405, newest firmware version: (null), newest beta firmware version: (null), "
        "newest wren firmware: 2.500, newest wren beta firmware: (null) (device is Wren)");
}

} // namespace

// The keys come as comma-separated base64 of 32 raw bytes: anything else adds nothing and
// is named, so that a typing error in a preference is not a silent hole.
TEST(UpdateSigning, TrustedKeysAreExactlyTheWellFormedOnesOfEveryList)
{
    const std::string test = "ylGfWAyBKt0Afw5g+R7huNG4eN0MP4wnPhIoUWrIiZM=";
    struct Case {
        std::string list;
        std::size_t keysAfter; // the built-in key included
        std::vector<std::string> rejected;
    };
    const Case cases[] = {
        { "", 1, {} },
        { test, 2, {} },
        { " " + test + " , ,", 2, {} },
        { test + "," + test + "," + std::string(UpdateSigning::builtInPublicKey), 2, {} }, // no key twice
        { test.substr(0, 43), 1, { test.substr(0, 43) } }, // cut short
        { test.substr(0, 40) + "AAAA", 1, { test.substr(0, 40) + "AAAA" } }, // 33 bytes
        { "c2ln", 1, { "c2ln" } }, // 3 bytes
        { "ylGf WAyBKt0Afw5g+R7huNG4eN0MP4wnPhIoUWrIiZM", 1, { "ylGf WAyBKt0Afw5g+R7huNG4eN0MP4wnPhIoUWrIiZM" } },
        { "=" + test.substr(1), 1, { "=" + test.substr(1) } },
        { "not a key," + test, 2, { "not a key" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        TrustedUpdateKeys keys;
        EXPECT_EQ(keys.addList(c.list), c.rejected);
        EXPECT_EQ(keys.keys().size(), c.keysAfter);
    }

    // The preference's keys and the environment's add to the built-in one.
    ::setenv(std::string(UpdateSigning::environmentVariable).c_str(), test.c_str(), 1);
    EXPECT_EQ(TrustedUpdateKeys::resolve(std::nullopt).keys().size(), 2u);
    ::unsetenv(std::string(UpdateSigning::environmentVariable).c_str());
    EXPECT_EQ(TrustedUpdateKeys::resolve(std::nullopt).keys().size(), 1u);
    EXPECT_EQ(TrustedUpdateKeys::resolve(test).keys().size(), 2u);
}

// What goes to the browser: only https. What is fetched: https, and http from loopback
// or from the host of a plain http server the user set.
TEST(UpdateSigning, OnlySecureAddressesAreFetchedOrOpened)
{
    struct Case {
        const char* url;
        const char* server;
        bool fetched;
        bool opened;
    };
    const Case cases[] = {
        { "https://vendor.example/fw.s19", "https://vendor.example", true, true },
        { "HTTPS://vendor.example/fw.s19", "", true, true },
        { "http://vendor.example/fw.s19", "https://vendor.example", false, false },
        { "http://vendor.example/fw.s19", "http://vendor.example:8080", true, false },
        { "http://vendor.example.evil/fw.s19", "http://vendor.example", false, false },
        { "http://user@vendor.example/fw.s19", "http://other.example", false, false },
        { "http://127.0.0.1:8917/fw.s19", "https://vendor.example", true, false },
        { "http://localhost/fw.s19", "", true, false },
        { "http://[::1]:80/fw.s19", "", true, false },
        { "http://127.0.0.1.evil.example/fw.s19", "", false, false },
        { "file:///etc/passwd", "file:///etc", false, false },
        { "FILE:///etc/passwd", "", false, false },
        { "ftp://vendor.example/fw.s19", "", false, false },
        { "javascript:alert(1)", "", false, false },
        { "https:/vendor.example", "", false, false },
        { "/fw.s19", "", false, false },
        { "", "", false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(mayFetchOfferedAddress(c.url, c.server), c.fetched);
        EXPECT_EQ(isWebAddressForTheBrowser(c.url), c.opened);
    }
}
