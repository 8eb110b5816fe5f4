#include "platform/qt/DesktopNotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusMessage>
#include <QDBusReply>
#include <QHash>
#include <QStringList>
#include <QVariantMap>

namespace corvex {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

bool serviceAnswers(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(service))
        return true;
    // Notification daemons are usually started on demand by the bus.
    QDBusReply<QStringList> activatable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(service);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_available = serviceAnswers(bus);
    if (!m_available)
        return;
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
        SLOT(notificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::post(const DesktopNotification& notification)
{
    if (!m_available)
        return;
    if (m_delegate && !m_delegate->shouldPresentNotification(notification))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QCoreApplication::applicationName() << uint(0) << QString() << notification.title
         << notification.informativeText << QStringList { defaultAction, tr("Show") } << QVariantMap() << int(-1);
    // Asynchronous, so that a slow notification daemon never stalls the main loop.
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, notification](QDBusPendingCallWatcher* finished) {
        QDBusPendingReply<uint> reply = *finished;
        if (reply.isValid())
            m_shown.insert(reply.value(), notification);
        finished->deleteLater();
    });
}

void DesktopNotifier::actionInvoked(uint id, const QString& actionKey)
{
    auto it = m_shown.find(id);
    if (it == m_shown.end() || actionKey != defaultAction)
        return;
    const DesktopNotification notification = it.value();
    if (m_delegate)
        m_delegate->didActivateNotification(notification);
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/)
{
    m_shown.remove(id);
}

} // namespace corvex
