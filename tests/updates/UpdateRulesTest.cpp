// The versions feed as the check reads it, and the rules that turn its entries into
// offered updates.
#include "CapturingLogSink.h"
#include "updates/FirmwareInstallation.h"
#include "updates/OfferedDownload.h"
#include "updates/UpdateCheck.h"
#include "updates/UpdateSignature.h"

#include <cstdlib>

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

AvailableUpdates check(const std::string& xml, const std::string& software, const std::string& firmware, bool wren = false)
{
    const auto parsed = VersionsFeed::parse(bytes(xml));
    EXPECT_TRUE(parsed.has_value());
    return availableUpdatesFromFeed(*parsed, software, firmware, wren);
}

TEST(UpdateRules, EachEntrySetsItsFlagByItsOwnRule)
{
    struct Case {
        const char* what;
        const char* id;
        const char* offered;
        bool AvailableUpdates::*flag;
        bool expected;
    };
    // The program runs 1.2, the instrument 1.365.
    const Case cases[] = {
        { "release firmware equal", "larkfw_asp", "1.365", &AvailableUpdates::firmwareUpdateAvailable, false },
        { "release firmware earlier is offered too", "larkfw_asp", "1.364", &AvailableUpdates::firmwareUpdateAvailable, true },
        { "release firmware later", "larkfw_asp", "1.400", &AvailableUpdates::firmwareUpdateAvailable, true },
        { "release software earlier is offered too", "larkswMac", "1.1", &AvailableUpdates::softwareUpdateAvailable, true },
        { "release software equal", "larkswMac", "1.2", &AvailableUpdates::softwareUpdateAvailable, false },
        { "beta software equal", "larkswMacBeta", "1.2", &AvailableUpdates::softwareBetaUpdateAvailable, false },
        { "beta software earlier", "larkswMacBeta", "1.1", &AvailableUpdates::softwareBetaUpdateAvailable, false },
        { "beta software later by number", "larkswMacBeta", "1.10", &AvailableUpdates::softwareBetaUpdateAvailable, true },
        { "beta firmware later", "larkfwBeta", "1.366", &AvailableUpdates::firmwareBetaUpdateAvailable, true },
        { "beta firmware earlier", "larkfwBeta", "1.360", &AvailableUpdates::firmwareBetaUpdateAvailable, false },
        { "wren release earlier is not offered", "wrenfw_asp", "1.364", &AvailableUpdates::firmwareUpdateAvailableV2, false },
        { "wren release later", "wrenfw_asp", "2.401", &AvailableUpdates::firmwareUpdateAvailableV2, true },
        { "wren beta later", "wrenfwBeta", "2.5", &AvailableUpdates::firmwareBetaUpdateAvailableV2, true },
        { "wren beta equal", "wrenfwBeta", "1.365", &AvailableUpdates::firmwareBetaUpdateAvailableV2, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AvailableUpdates updates = check(feed({ { c.id, c.offered } }), "1.2", "1.365");
        EXPECT_EQ(updates.*c.flag, c.expected);
        // No other flag moves.
        int flags = updates.softwareUpdateAvailable + updates.firmwareUpdateAvailable + updates.softwareBetaUpdateAvailable
            + updates.firmwareBetaUpdateAvailable + updates.firmwareUpdateAvailableV2 + updates.firmwareBetaUpdateAvailableV2;
        EXPECT_EQ(flags, c.expected ? 1 : 0);
        EXPECT_EQ(updates.currentSoftwareVersion, "1.2");
        EXPECT_EQ(updates.currentFirmwareVersion, "1.365");
    }
}

TEST(UpdateRules, AnyUpdatesCountsReleasesForTheConnectedModelOnly)
{
    // A Wren at 2.405: the Lark's release line differs, the Wren's is the same.
    const std::string xml = feed({ { "larkfw_asp", "1.400" }, { "wrenfw_asp", "2.405" }, { "wrenfwBeta", "2.500" },
        { "larkswMacBeta", "9.0" } });
    const AvailableUpdates wren = check(xml, "1.2", "2.405", true);
    EXPECT_TRUE(wren.firmwareUpdateAvailable);
    EXPECT_FALSE(wren.firmwareUpdateAvailableV2);
    EXPECT_TRUE(wren.firmwareBetaUpdateAvailableV2);
    EXPECT_TRUE(wren.softwareBetaUpdateAvailable);
    EXPECT_FALSE(wren.areThereAnyUpdatesAvailableAtAll());

    const AvailableUpdates lark = check(xml, "1.2", "2.405", false);
    EXPECT_TRUE(lark.areThereAnyUpdatesAvailableAtAll());
    AvailableUpdates software;
    software.softwareUpdateAvailable = true;
    software.theDeviceIsWren = true;
    EXPECT_TRUE(software.areThereAnyUpdatesAvailableAtAll());
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
    EXPECT_FALSE(updates.firmwareUrl);
    EXPECT_FALSE(updates.firmwareUpdateAvailable);
    // Present but empty: kept, and compared ("" is earlier than anything).
    EXPECT_EQ(updates.firmwareVersionV2, "");
    EXPECT_EQ(updates.firmwareUrlV2, "");
    EXPECT_FALSE(updates.firmwareUpdateAvailableV2);
    // The first matching entry wins; its sha256 and signature come along.
    EXPECT_EQ(updates.firmwareBetaVersion, "1.9");
    EXPECT_EQ(updates.firmwareBetaUrl, "http://h/b.s19");
    EXPECT_EQ(updates.firmwareBetaSha256, "ab12");
    EXPECT_EQ(updates.firmwareBetaSignature, "c2ln");
    EXPECT_EQ(offeredFirmware(updates, true).signature, "c2ln");
    EXPECT_FALSE(updates.firmwareSha256V2);
    EXPECT_FALSE(updates.firmwareSignatureV2);
    EXPECT_EQ(updates.firmwareBetaVersionV2, "2.9");
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
    AvailableUpdates updates = check(feed({ { "larkswMac", "1.3" }, { "wrenfw_asp", "2.500" } }), "1.2", "2.405", true);
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
