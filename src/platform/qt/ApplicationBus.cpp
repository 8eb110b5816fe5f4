#include "platform/qt/ApplicationBus.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

namespace corvex {

namespace {

const QString applicationInterface = QStringLiteral("org.freedesktop.Application");
const QString activationTokenKey = QStringLiteral("activation-token");
const QString startupIdKey = QStringLiteral("desktop-startup-id");

} // namespace

// The freedesktop application interface, as the bus sees it.
class ApplicationBusAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationBusAdaptor(ApplicationBus* bus)
        : QDBusAbstractAdaptor(bus)
        , m_bus(bus)
    {
    }

public slots:
    void Activate(const QVariantMap& platform_data) { m_bus->received(platform_data, QString()); }
    // The program opens no documents: opening is bringing it forward.
    void Open(const QStringList& uris, const QVariantMap& platform_data)
    {
        Q_UNUSED(uris);
        m_bus->received(platform_data, QString());
    }
    // None of the actions takes a parameter.
    void ActivateAction(const QString& action_name, const QVariantList& parameter, const QVariantMap& platform_data)
    {
        Q_UNUSED(parameter);
        m_bus->received(platform_data, action_name);
    }

private:
    ApplicationBus* m_bus;
};

ApplicationBus::ApplicationBus(const QString& applicationId, QObject* parent)
    : QObject(parent)
    , m_applicationId(applicationId)
{
    new ApplicationBusAdaptor(this);
}

ApplicationBus::~ApplicationBus()
{
    if (!m_exported)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(m_applicationId);
    bus.unregisterObject(objectPath(m_applicationId));
}

QString ApplicationBus::objectPath(const QString& applicationId)
{
    return QLatin1Char('/') + QString(applicationId).replace(QLatin1Char('.'), QLatin1Char('/'));
}

ApplicationBus::Claim ApplicationBus::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) {
        m_failure = bus.lastError().message();
        return Claim::NoBus;
    }
    // The object goes first, so that a request queued by the bus for the name finds it.
    const QString path = objectPath(m_applicationId);
    if (!bus.registerObject(path, this, QDBusConnection::ExportAdaptors)) {
        m_failure = QStringLiteral("cannot export %1").arg(path);
        return Claim::NoBus;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        m_applicationId, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_exported = true;
        return Claim::Claimed;
    }
    bus.unregisterObject(path);
    if (!reply.isValid()) {
        m_failure = reply.error().message();
        return Claim::NoBus;
    }
    return Claim::Taken;
}

void ApplicationBus::received(const QVariantMap& platformData, const QString& action)
{
    // Where the launcher says so, the window may take the focus: the Wayland plugin
    // spends XDG_ACTIVATION_TOKEN on the next activation request of a window.
    const QString token = platformData.value(activationTokenKey).toString();
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    QTimer::singleShot(0, this, [this, action] {
        if (!m_delegate)
            return;
        if (action.isEmpty())
            m_delegate->applicationActivated();
        else
            m_delegate->applicationActionActivated(action);
    });
}

bool ApplicationBus::send(const QString& applicationId, const Request& request, int timeoutMilliseconds)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // A launcher that ran this process handed it the right to take the focus; the
    // running program is the one that needs it.
    QVariantMap platformData;
    if (const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); !token.isEmpty())
        platformData.insert(activationTokenKey, token);
    if (const QString startupId = qEnvironmentVariable("DESKTOP_STARTUP_ID"); !startupId.isEmpty())
        platformData.insert(startupIdKey, startupId);
    const QString path = objectPath(applicationId);
    QDBusMessage call;
    if (request.action.isEmpty()) {
        call = QDBusMessage::createMethodCall(applicationId, path, applicationInterface, QStringLiteral("Activate"));
        call << platformData;
    } else {
        call = QDBusMessage::createMethodCall(applicationId, path, applicationInterface, QStringLiteral("ActivateAction"));
        call << request.action << QVariantList() << platformData;
    }
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMilliseconds);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace corvex

#include "ApplicationBus.moc"
