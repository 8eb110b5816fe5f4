// The preference defaults' property-list reader on arbitrary text.
#include "platform/qt/PreferencesStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (auto dictionary = corvex::parsePropertyListDictionary(xml)) {
        for (auto it = dictionary->cbegin(); it != dictionary->cend(); ++it)
            (void)it.value().toString();
    }
    return 0;
}
