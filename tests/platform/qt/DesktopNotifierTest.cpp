// Desktop notifications over the session bus, against a stand-in notification service
// registered by the test itself: on the session's bus where one answers, otherwise on a
// private one.
#include "platform/qt/DesktopNotifier.h"

#include "AppTestSupport.h"
#include "PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <optional>

namespace {

class StandInNotificationService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString summary;
        QString body;
        QStringList actions;
    };
    std::vector<Shown> shown;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap&, int)
    {
        shown.push_back({ summary, body, actions });
        return 41 + static_cast<uint>(shown.size());
    }
};

struct RecordingNotifierDelegate final : corvex::DesktopNotifierDelegate {
    bool present { true };
    int asked { 0 };
    std::vector<QString> activated;
    bool shouldPresentNotification(const corvex::DesktopNotification&) override
    {
        ++asked;
        return present;
    }
    void didActivateNotification(const corvex::DesktopNotification& notification) override
    {
        activated.push_back(notification.title);
    }
};

void emitServiceSignal(const QString& name, const QVariantList& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), name);
    signal.setArguments(arguments);
    QDBusConnection::sessionBus().send(signal);
}

TEST(DesktopNotifier, PostsThroughTheServiceAndReportsClicks)
{
    // Probed by its address: asking for "the session bus" would fix the address for the
    // whole process, before a private bus could take its place. (The test main gives
    // the process a runtime folder of its own, so only the variable can name a bus.)
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString probe = QStringLiteral("corvex-probe");
    const bool sessionBusAnswers = !address.isEmpty() && QDBusConnection::connectToBus(address, probe).isConnected();
    QDBusConnection::disconnectFromBus(probe);
    std::optional<corvex::testing::PrivateSessionBus> privateBus;
    if (!sessionBusAnswers) {
        privateBus.emplace();
        ASSERT_TRUE(privateBus->isRunning()) << "cannot start dbus-daemon";
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    if (bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")))
        GTEST_SKIP() << "a real notification service is running";

    {
        corvex::DesktopNotifier absent;
        EXPECT_FALSE(absent.isAvailable());
        absent.post({ "nobody listens", "" });
    }

    StandInNotificationService service;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    corvex::DesktopNotifier notifier;
    ASSERT_TRUE(notifier.isAvailable());
    RecordingNotifierDelegate delegate;
    notifier.setDelegate(&delegate);

    delegate.present = false;
    notifier.post({ "declined", "" });
    EXPECT_EQ(delegate.asked, 1);

    delegate.present = true;
    notifier.post({ "Update available", "Corvex Vario 9.9 can be installed" });
    ASSERT_TRUE(corvex::testing::waitUntil([&] { return service.shown.size() == 1; }));
    EXPECT_EQ(service.shown[0].summary, "Update available");
    EXPECT_EQ(service.shown[0].body, "Corvex Vario 9.9 can be installed");
    EXPECT_TRUE(service.shown[0].actions.contains("default"));
    // Let the reply with the notification's id (42) arrive before the click.
    corvex::testing::waitUntil([] { return false; }, 200);

    emitServiceSignal(QStringLiteral("ActionInvoked"), { 99u, QStringLiteral("default") }); // someone else's
    emitServiceSignal(QStringLiteral("ActionInvoked"), { 42u, QStringLiteral("default") });
    ASSERT_TRUE(corvex::testing::waitUntil([&] { return !delegate.activated.empty(); }));
    EXPECT_EQ(delegate.activated, std::vector<QString> { "Update available" });

    // Once closed, a late action for it is ignored.
    emitServiceSignal(QStringLiteral("NotificationClosed"), { 42u, 2u });
    corvex::testing::waitUntil([] { return false; }, 200);
    emitServiceSignal(QStringLiteral("ActionInvoked"), { 42u, QStringLiteral("default") });
    corvex::testing::waitUntil([] { return false; }, 200);
    EXPECT_EQ(delegate.activated.size(), 1u);

    bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}

} // namespace

#include "DesktopNotifierTest.moc"
