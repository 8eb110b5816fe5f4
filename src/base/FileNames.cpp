#include "base/FileNames.h"

#include "base/Utf8.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

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

std::string pathOutsideFolder(const std::string& folder, std::string_view relative)
{
    namespace fs = std::filesystem;
    if (relative.empty())
        return "it is empty";
    if (relative.front() == '/')
        return "it is not relative to the folder";
    for (const char c : relative)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "it holds a control character";
    for (std::size_t start = 0; start <= relative.size();) {
        const auto slash = std::min(relative.find('/', start), relative.size());
        const std::string_view part = relative.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return "it is not a plain name inside the folder";
        start = slash + 1;
    }
    std::error_code code;
    const fs::path root = fs::weakly_canonical(fs::path(folder), code);
    if (code)
        return "the folder cannot be resolved: " + code.message();
    const fs::path parent = fs::weakly_canonical(root / fs::path(relative).parent_path(), code);
    if (code)
        return "its folder cannot be resolved: " + code.message();
    const auto [rootEnd, parentAt] = std::mismatch(root.begin(), root.end(), parent.begin(), parent.end());
    if (rootEnd != root.end())
        return "a symbolic link on its way leads out of the folder";
    return {};
}

} // namespace corvex
