// The preference store: the plist defaults layer, the user's values over it, the one
// change signal, and where the settings file lives.
#include "app/Resources.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/PreferencesStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvex;

namespace {

QByteArray plist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
        + body + "\n</plist>\n";
}

TEST(PropertyList, ReadsEveryValueKindOfTheTopLevelDictionary)
{
    auto map = parsePropertyListDictionary(plist("<dict>"
                                                 "<key>yes</key><true/>"
                                                 "<key>no</key><false/>"
                                                 "<key>text</key><string>a &amp; b</string>"
                                                 "<key>count</key><integer> -42 </integer>"
                                                 "<key>ratio</key><real>2.5</real>"
                                                 "<key>nested</key><dict><key>inner</key><integer>1</integer></dict>"
                                                 "<key>list</key><array><string>x</string><true/></array>"
                                                 "<key>empty</key><string></string>"
                                                 "</dict>"));
    ASSERT_TRUE(map);
    EXPECT_EQ(map->value("yes"), QVariant(true));
    EXPECT_EQ(map->value("no"), QVariant(false));
    EXPECT_EQ(map->value("text").toString(), "a & b");
    EXPECT_EQ(map->value("count").toLongLong(), -42);
    EXPECT_EQ(map->value("ratio").toDouble(), 2.5);
    EXPECT_EQ(map->value("nested").toMap().value("inner").toInt(), 1);
    EXPECT_EQ(map->value("list").toList().size(), 2);
    EXPECT_TRUE(map->contains("empty"));
    EXPECT_EQ(map->value("empty").toString(), "");
}

TEST(PropertyList, RejectsWhatIsNotAWellFormedDictionary)
{
    const QByteArray broken[] = {
        "",
        "<dict><key>a</key><true/></dict>", // no plist element
        plist("<array><true/></array>"), // not a dictionary
        plist("<dict><key>a</key></dict>"), // key without value
        plist("<dict><true/></dict>"), // value without key
        plist("<dict><key>a</key><integer>seven</integer></dict>"),
        plist("<dict><key>a</key><real>1.2.3</real></dict>"),
        plist("<dict><key>a</key><date>2013-07-05T09:03:00Z</date></dict>"), // unsupported kind
        plist("<dict><key>a</key><true/>"), // truncated
        plist("<dict></dict><dict></dict>"),
    };
    for (const QByteArray& text : broken)
        EXPECT_FALSE(parsePropertyListDictionary(text)) << text.constData();
}

TEST(PreferencesStore, ShippedDefaultsAreRegisteredUnderTheUsersValues)
{
    initializeResources();
    QTemporaryDir folder;
    PreferencesStore store(folder.filePath("settings.conf"));
    store.setValue("NotifyWhenUpdatesAvailable", false);

    QSignalSpy changes(&store, &PreferencesStore::changed);
    ASSERT_TRUE(store.registerDefaultsFromPropertyList(":/InitialDefaults.plist"));
    EXPECT_EQ(changes.count(), 1);

    EXPECT_FALSE(store.boolValue("logCommunications"));
    EXPECT_TRUE(store.value("logCommunications").isValid());
    EXPECT_FALSE(store.boolValue("NotifyWhenUpdatesAvailable")); // the user's value wins
    EXPECT_TRUE(store.registeredDefaults().value("NotifyWhenUpdatesAvailable").toBool());
    EXPECT_TRUE(store.stringValue("vendorServerURL").startsWith("https://"));
    for (const char* key : { "airspacesMapType", "displayAirspacesAs", "openAirEnabled" })
        EXPECT_TRUE(store.value(key).isValid()) << key;

    // The defaults are not written out as the user's values.
    PreferencesStore reopened(folder.filePath("settings.conf"));
    EXPECT_FALSE(reopened.hasUserValue("logCommunications"));
    EXPECT_TRUE(reopened.hasUserValue("NotifyWhenUpdatesAvailable"));
}

TEST(PreferencesStore, EveryWriteEmitsOneChangeAndPersists)
{
    QTemporaryDir folder;
    PreferencesStore store(folder.filePath("settings.conf"));
    QSignalSpy changes(&store, &PreferencesStore::changed);
    store.setValue("logCommunications", true);
    store.setValue("logCommunications", true);
    store.setValue("airspacesMapType", 2);
    EXPECT_EQ(changes.count(), 3);
    store.removeValue("airspacesMapType");
    EXPECT_EQ(changes.count(), 4);

    PreferencesStore reopened(folder.filePath("settings.conf"));
    EXPECT_TRUE(reopened.boolValue("logCommunications"));
    EXPECT_FALSE(reopened.value("airspacesMapType").isValid());
    EXPECT_FALSE(store.registerDefaultsFromPropertyList(folder.filePath("missing.plist")));
    EXPECT_EQ(changes.count(), 4);
}

TEST(PreferencesStore, UserStoreLivesUnderTheConfigurationFolder)
{
    // The test main points XDG_CONFIG_HOME into a temporary folder.
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(configHome.isEmpty());
    PreferencesStore store;
    EXPECT_EQ(store.settingsFileName(), configHome + "/Corvex/CorvexVario.conf");
}

TEST(PreferencesStore, VendorUrlFromTheEnvironmentOverridesThePreference)
{
    QTemporaryDir folder;
    PreferencesStore store(folder.filePath("settings.conf"));
    store.registerDefaults({ { "vendorServerURL", "https://vendor.example/" } });
    EXPECT_EQ(store.vendorEndpoints().baseUrl(), "https://vendor.example");
    setenv("CORVEX_VENDOR_URL", "http://127.0.0.1:8089/", 1);
    EXPECT_EQ(store.vendorEndpoints().baseUrl(), "http://127.0.0.1:8089");
    unsetenv("CORVEX_VENDOR_URL");
    EXPECT_EQ(store.vendorEndpoints().baseUrl(), "https://vendor.example");
}

TEST(PreferencesStore, VendorEndpointsFollowThePreferenceLayers)
{
    QTemporaryDir folder;
    PreferencesStore store(folder.filePath("settings.conf"));
    EXPECT_EQ(store.vendorEndpoints().baseUrl(), VendorEndpoints::fallbackBaseUrl);
    initializeResources();
    ASSERT_TRUE(store.registerDefaultsFromPropertyList(QStringLiteral(":/InitialDefaults.plist")));
    EXPECT_EQ(store.vendorEndpoints().airspacesServiceUrl(), "https://vendor.example/api/Airspaces.svc");
    store.setValue("vendorServerURL", "http://127.0.0.1:8089/");
    EXPECT_EQ(store.vendorEndpoints().versionsFeedUrl(), "http://127.0.0.1:8089/versions.xml");
    setenv("CORVEX_VENDOR_URL", "http://127.0.0.1:9999", 1);
    EXPECT_EQ(store.vendorEndpoints().baseUrl(), "http://127.0.0.1:9999");
    unsetenv("CORVEX_VENDOR_URL");
}

} // namespace
