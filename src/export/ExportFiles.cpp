#include "export/ExportFiles.h"

#include "device/TrackLogCodec.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

constexpr std::size_t longestName = 200;

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

mode_t newFileMode()
{
    // mkstemp makes 0600; the file should get what any other new file of the user gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

std::string safeFileName(std::string_view name)
{
    std::string safe;
    for (const char character : name) {
        const auto c = static_cast<unsigned char>(character);
        safe += (c < 0x20 || c >= 0x7F || c == '/' || c == '\\') ? '_' : character;
    }
    for (std::size_t at = safe.find(".."); at != std::string::npos; at = safe.find("..", at))
        safe.replace(at, 2, "__");
    if (!safe.empty() && safe.front() == '.')
        safe.front() = '_';
    if (safe.size() > longestName)
        safe.resize(longestName);
    if (safe.find_first_not_of("_ ") == std::string::npos)
        return {};
    return safe;
}

std::string ExportNameBook::claim(std::string_view base, std::string_view extension, std::int64_t flightNumber)
{
    const std::string dotExtension = extension.empty() ? std::string {} : "." + std::string(extension);
    std::string name = std::string(base) + dotExtension;
    if (m_taken.insert(name).second)
        return name;
    const std::string numbered = std::string(base) + "-" + std::to_string(flightNumber);
    name = numbered + dotExtension;
    for (int copy = 2; !m_taken.insert(name).second; ++copy)
        name = numbered + "-" + std::to_string(copy) + dotExtension;
    return name;
}

std::string asciiText(std::string_view text)
{
    std::string ascii;
    ascii.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ascii += text[i++];
            continue;
        }
        // One '?' for a whole UTF-8 character, one per byte for anything else.
        const std::size_t length = (lead >> 5) == 0x06 ? 2 : (lead >> 4) == 0x0E ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
        std::size_t taken = 1;
        if (length > 1 && i + length <= text.size() && utf8Characters(text.substr(i, length)))
            taken = length;
        ascii += '?';
        i += taken;
    }
    return ascii;
}

std::string pathInFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool writeTextFile(const std::string& path, std::string_view text, FileWriteMode mode)
{
    const std::string ascii = asciiText(text);
    if (mode == FileWriteMode::InPlace) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            return false;
        const bool written = writeAll(fd, ascii);
        return ::close(fd) == 0 && written;
    }

    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool written = writeAll(fd, ascii) && ::fchmod(fd, newFileMode()) == 0 && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace corvex
