#include "platform/qt/PreferencesStore.h"

#include <QFile>
#include <QXmlStreamReader>

namespace corvex {

PreferencesStore::PreferencesStore(QObject* parent)
    : QObject(parent)
    , m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organizationName, applicationName))
{
}

PreferencesStore::PreferencesStore(const QString& settingsFile, QObject* parent)
    : QObject(parent)
    , m_settings(std::make_unique<QSettings>(settingsFile, QSettings::IniFormat))
{
}

PreferencesStore::~PreferencesStore() = default;

QVariant PreferencesStore::value(const QString& key) const
{
    if (m_settings->contains(key))
        return m_settings->value(key);
    return m_defaults.value(key);
}

bool PreferencesStore::hasUserValue(const QString& key) const
{
    return m_settings->contains(key);
}

void PreferencesStore::setValue(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
    emit changed();
}

void PreferencesStore::removeValue(const QString& key)
{
    m_settings->remove(key);
    m_settings->sync();
    emit changed();
}

void PreferencesStore::registerDefaults(const QVariantMap& defaults)
{
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_defaults.insert(it.key(), it.value());
    emit changed();
}

bool PreferencesStore::registerDefaultsFromPropertyList(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    auto defaults = parsePropertyListDictionary(file.readAll());
    if (!defaults)
        return false;
    registerDefaults(*defaults);
    return true;
}

VendorEndpoints PreferencesStore::vendorEndpoints() const
{
    const QString key = QString::fromUtf8(VendorEndpoints::preferenceKey.data(),
        static_cast<qsizetype>(VendorEndpoints::preferenceKey.size()));
    const QVariant preference = value(key);
    return VendorEndpoints::resolve(preference.isValid() ? std::optional(preference.toString().toStdString()) : std::nullopt);
}

QString PreferencesStore::settingsFileName() const
{
    return m_settings->fileName();
}

namespace {

std::optional<QVariant> readValue(QXmlStreamReader& reader);

// Reader positioned on <dict>'s start; ends on its end element.
std::optional<QVariantMap> readDictionary(QXmlStreamReader& reader)
{
    QVariantMap map;
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("key"))
            return std::nullopt;
        const QString key = reader.readElementText();
        if (reader.hasError() || !reader.readNextStartElement())
            return std::nullopt;
        auto value = readValue(reader);
        if (!value)
            return std::nullopt;
        map.insert(key, *value);
    }
    if (reader.hasError())
        return std::nullopt;
    return map;
}

// Reader positioned on a value's start element; ends on its end element.
std::optional<QVariant> readValue(QXmlStreamReader& reader)
{
    const auto name = reader.name();
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        const bool value = name == QLatin1String("true");
        reader.skipCurrentElement();
        return QVariant(value);
    }
    if (name == QLatin1String("string"))
        return QVariant(reader.readElementText());
    if (name == QLatin1String("integer")) {
        bool ok = false;
        const qlonglong value = reader.readElementText().trimmed().toLongLong(&ok);
        return ok ? std::optional<QVariant>(QVariant(value)) : std::nullopt;
    }
    if (name == QLatin1String("real")) {
        bool ok = false;
        const double value = reader.readElementText().trimmed().toDouble(&ok);
        return ok ? std::optional<QVariant>(QVariant(value)) : std::nullopt;
    }
    if (name == QLatin1String("dict")) {
        auto map = readDictionary(reader);
        return map ? std::optional<QVariant>(QVariant(*map)) : std::nullopt;
    }
    if (name == QLatin1String("array")) {
        QVariantList list;
        while (reader.readNextStartElement()) {
            auto value = readValue(reader);
            if (!value)
                return std::nullopt;
            list.append(*value);
        }
        if (reader.hasError())
            return std::nullopt;
        return QVariant(list);
    }
    return std::nullopt;
}

} // namespace

std::optional<QVariantMap> parsePropertyListDictionary(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("plist"))
        return std::nullopt;
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("dict"))
        return std::nullopt;
    auto map = readDictionary(reader);
    if (!map)
        return std::nullopt;
    // Nothing but the closing </plist> may follow the dictionary.
    if (reader.readNextStartElement() || reader.hasError())
        return std::nullopt;
    return map;
}

} // namespace corvex
