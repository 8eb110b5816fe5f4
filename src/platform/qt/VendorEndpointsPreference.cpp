#include "platform/qt/VendorEndpointsPreference.h"

#include "platform/qt/PreferencesStore.h"

namespace corvex {

VendorEndpoints vendorEndpoints(const PreferencesStore& preferences)
{
    const QString key = QString::fromUtf8(VendorEndpoints::preferenceKey.data(),
        static_cast<qsizetype>(VendorEndpoints::preferenceKey.size()));
    const QVariant value = preferences.value(key);
    return VendorEndpoints::resolve(value.isValid() ? std::optional(value.toString().toStdString()) : std::nullopt);
}

} // namespace corvex
