#include "base/FileNames.h"

#include "base/Utf8.h"

#include <algorithm>

namespace corvex {

std::string safeFileName(std::string_view name, std::size_t longest)
{
    std::string safe;
    safe.reserve(name.size());
    while (!name.empty()) {
        const auto lead = static_cast<unsigned char>(name.front());
        const std::size_t length = utf8CharacterLength(name);
        const bool c1Control = length == 2 && lead == 0xc2 && static_cast<unsigned char>(name[1]) < 0xa0;
        if (length == 0 || c1Control || lead < 0x20 || lead == 0x7f || lead == '/' || lead == '\\') {
            safe += '_';
            name.remove_prefix(std::max<std::size_t>(1, length));
        } else {
            safe += name.substr(0, length);
            name.remove_prefix(length);
        }
    }
    for (std::size_t at = safe.find(".."); at != std::string::npos; at = safe.find("..", at))
        safe.replace(at, 2, "__");
    if (!safe.empty() && safe.front() == '.')
        safe.front() = '_';
    safe.resize(utf8Prefix(safe, longest).size());
    if (safe.find_first_not_of("_ .") == std::string::npos)
        return {};
    return safe;
}

} // namespace corvex
