#pragma once

#include "platform/VendorEndpoints.h"

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace corvex {

// The per-user preferences: the user's own values in QSettings (organisation "Corvex",
// so ~/.config/Corvex/CorvexVario.conf, or under $XDG_CONFIG_HOME), over a layer of
// registered defaults that is never written to disk. Every write, and every
// registration of defaults, emits changed() once; listeners re-read what they use,
// whichever key changed.
//
// The program makes one store and hands it to every window that reads preferences, so
// that one write reaches every listener.
class PreferencesStore final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* organizationName = "Corvex";
    static constexpr const char* applicationName = "CorvexVario";

    explicit PreferencesStore(QObject* parent = nullptr);
    // A store on an explicit settings file (tests, tools).
    explicit PreferencesStore(const QString& settingsFile, QObject* parent = nullptr);
    ~PreferencesStore() override;

    // The user's value, else the registered default, else an invalid QVariant.
    QVariant value(const QString& key) const;
    bool boolValue(const QString& key) const { return value(key).toBool(); }
    QString stringValue(const QString& key) const { return value(key).toString(); }
    bool hasUserValue(const QString& key) const;

    void setValue(const QString& key, const QVariant& value);
    void removeValue(const QString& key);

    // Registers (merges) default values under the user's values.
    void registerDefaults(const QVariantMap& defaults);
    // Reads a property-list file or resource (":/InitialDefaults.plist") and registers
    // its top-level dictionary. False, and nothing registered, when it cannot be read.
    bool registerDefaultsFromPropertyList(const QString& path);
    const QVariantMap& registeredDefaults() const { return m_defaults; }

    // The vendor server's endpoints as the program uses them: CORVEX_VENDOR_URL (the
    // stand-in server of the demo and the tests), else the "vendorServerURL"
    // preference (the user's value over the registered default), else the fallback.
    // Resolve at the moment a request is made, not once at start-up: the defaults are
    // registered last, and the user may change the preference meanwhile.
    VendorEndpoints vendorEndpoints() const;

    QString settingsFileName() const;

signals:
    void changed();

private:
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_defaults;
};

// The top-level <dict> of a property-list XML text: <key> followed by <true/>,
// <false/>, <string>, <integer>, <real>, or nested <dict> / <array>. Nothing when the
// text is not a well-formed property list.
std::optional<QVariantMap> parsePropertyListDictionary(const QByteArray& xml);

} // namespace corvex
