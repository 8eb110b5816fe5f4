#include "export/ExportFiles.h"

#include "base/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

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
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ascii += text[i++];
            continue;
        }
        // One '?' for a whole UTF-8 character, one per byte for anything else.
        ascii += '?';
        i += std::max<std::size_t>(1, utf8CharacterLength(text.substr(i)));
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

    const auto temporary = writeTemporaryFile(path + ".XXXXXX", ascii);
    if (!temporary)
        return false;
    if (std::rename(temporary->c_str(), path.c_str()) != 0) {
        ::unlink(temporary->c_str());
        return false;
    }
    return true;
}

std::optional<std::string> writeTemporaryFile(const std::string& pattern, std::string_view bytes)
{
    std::string temporary = pattern;
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return std::nullopt;
    bool written = writeAll(fd, bytes) && ::fchmod(fd, newFileMode()) == 0 && ::fsync(fd) == 0;
    const int writeError = errno;
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(temporary.c_str());
        errno = writeError ? writeError : EIO;
        return std::nullopt;
    }
    return temporary;
}

} // namespace corvex
