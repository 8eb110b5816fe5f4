// The flight-list answers and the decimal comparison of firmware versions on arbitrary
// bytes: records decode only from bytes that arrived, and the comparison is an order.
#include "device/LogBookCodec.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex;
    const ByteView answer(data, size);
    if (decodeListTracksHeader(answer) && size < 4)
        std::abort();
    if (decodeShortFlightRecord(answer) && size < 15)
        std::abort();
    if (auto record = decodeFullFlightRecord(answer)) {
        if (size < 53)
            std::abort();
        applyUnitsBitfield(*record, size > 0 ? data[0] : 0);
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t split = text.find('\n');
    const std::string_view left = text.substr(0, split);
    const std::string_view right = split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
    const auto forward = compareDecimalTexts(left, right);
    const auto backward = compareDecimalTexts(right, left);
    if (forward.has_value() != backward.has_value() || (forward && (*forward > 0) != (*backward < 0)))
        std::abort();
    if (forward && compareDecimalTexts(left, left) != 0)
        std::abort();
    return 0;
}
