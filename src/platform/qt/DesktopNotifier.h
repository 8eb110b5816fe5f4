#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>

namespace corvex {

struct DesktopNotification {
    QString title;
    QString informativeText;
};

// Decides whether a notification is shown and hears about clicks on one.
class DesktopNotifierDelegate {
public:
    virtual ~DesktopNotifierDelegate() = default;
    virtual bool shouldPresentNotification(const DesktopNotification& notification) = 0;
    virtual void didActivateNotification(const DesktopNotification& notification) = 0;
};

// Desktop notifications through the freedesktop notification service on the session
// bus. Where no such service answers (a headless session, the tests) it is not
// available and posting does nothing.
class DesktopNotifier final : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    ~DesktopNotifier() override;

    bool isAvailable() const { return m_available; }
    void setDelegate(DesktopNotifierDelegate* delegate) { m_delegate = delegate; }
    DesktopNotifierDelegate* delegate() const { return m_delegate; }

    // Shows the notification unless the delegate declines it; a click on it (its
    // default action) reaches the delegate's didActivateNotification.
    void post(const DesktopNotification& notification);

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    bool m_available { false };
    DesktopNotifierDelegate* m_delegate { nullptr };
    // Notifications on screen, by the service's id.
    QHash<uint, DesktopNotification> m_shown;
};

} // namespace corvex
