#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace corvex {

// Hears what the desktop asks of the running program through its well-known name.
class ApplicationBusDelegate {
public:
    virtual ~ApplicationBusDelegate() = default;
    // Bring the program's window to the front.
    virtual void applicationActivated() = 0;
    // A launcher action of the desktop entry, by its name.
    virtual void applicationActionActivated(const QString& name) = 0;
};

// One running program per user, through the desktop's own mechanism: the program's id
// as its name on the session bus, with the freedesktop application interface (Activate,
// Open, ActivateAction) on the path made from the id. Launchers and a second start of
// the program reach the running one through it.
class ApplicationBus final : public QObject {
    Q_OBJECT

public:
    // How claiming the name went.
    enum class Claim {
        Claimed, // this process owns the name now
        Taken, // another process owns it: hand the request over with send()
        NoBus, // no session bus: a second program cannot be kept out
    };

    // What to ask of the program that owns the name.
    struct Request {
        QString action; // empty: just bring it forward
    };

    explicit ApplicationBus(const QString& applicationId, QObject* parent = nullptr);
    ~ApplicationBus() override;

    // Exports the interface and asks for the name without queueing behind its owner.
    Claim claim();
    const QString& failure() const { return m_failure; }

    void setDelegate(ApplicationBusDelegate* delegate) { m_delegate = delegate; }

    // Hands the request to the program that owns the name, with this process's
    // activation token or startup id (from a launcher) so that the desktop lets it take
    // the focus. Whether it answered within the time.
    static bool send(const QString& applicationId, const Request& request, int timeoutMilliseconds = 3000);

    // "org.corvex.Vario" -> "/org/corvex/Vario".
    static QString objectPath(const QString& applicationId);

private:
    friend class ApplicationBusAdaptor;
    // Called back from the bus: the requests are answered at once and acted on from the
    // event loop, so that the caller's wait never covers a dialog the request opens.
    void received(const QVariantMap& platformData, const QString& action);

    QString m_applicationId;
    QString m_failure;
    bool m_exported { false };
    ApplicationBusDelegate* m_delegate { nullptr };
};

} // namespace corvex
