// The internal-format parser on arbitrary bytes: it must never read outside the data.
#include "airspaces/Airspaces.h"
#include "platform/LogSink.h"

#include <cstddef>
#include <cstdint>

namespace {
class NullLog final : public corvex::LogSink {
public:
    void writeLine(std::string_view) override { }
};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    NullLog log;
    auto set = corvex::Airspaces::initWithDataInInternalFormat(corvex::Bytes(data, data + size), log);
    if (set) {
        (void)set->description();
        (void)set->buildCacheFilename();
    }
    (void)corvex::buildCacheFilenameFromHeader(corvex::ByteView(data, size));
    return 0;
}
