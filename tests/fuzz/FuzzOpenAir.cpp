// The OpenAir reader and the conversion on arbitrary text; whatever converts must
// parse back as a set.
#include "airspaces/Airspaces.h"
#include "airspaces/OpenAirConversion.h"
#include "platform/LogSink.h"

#include <cstdlib>

namespace {
class NullLog final : public corvex::LogSink {
public:
    void writeLine(std::string_view) override { }
};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = corvex::openair::decodeFileText(std::string_view(reinterpret_cast<const char*>(data), size));
    auto converted = corvex::openair::convertToInternalFormat(text, { "fuzz.txt", "fuzz", {} });
    if (auto* bytes = std::get_if<corvex::Bytes>(&converted)) {
        NullLog log;
        if (!corvex::Airspaces::initWithDataInInternalFormat(*bytes, log))
            std::abort(); // the converter wrote something the program rejects
    }
    return 0;
}
