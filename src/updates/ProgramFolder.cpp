#include "updates/ProgramFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace fs = std::filesystem;

ProgramFolder ProgramFolder::ofExecutable(const std::string& executablePath)
{
    const fs::path executable = fs::path(executablePath).lexically_normal();
    const fs::path folder = executable.parent_path();
    ProgramFolder result;
    if (folder.filename() != "bin") {
        // A build folder: the helper is built beside the program.
        result.path = folder.string();
        result.applicationName = folder.filename().string();
        result.helperProgram = (folder / helperName).string();
        result.selfUpdate = SelfUpdate::NotOwnFolder;
        return result;
    }
    const fs::path prefix = folder.parent_path();
    result.path = prefix.string();
    result.applicationName = prefix.filename().string();
    result.helperProgram = (prefix / helperPath).string();

    const std::string text = prefix.string();
    // Replacing the folder means renaming it, so its parent must be writable as well.
    const bool writable = ::access(text.c_str(), W_OK) == 0 && ::access(prefix.parent_path().c_str(), W_OK) == 0;
    if (text == "/usr" || text.starts_with("/usr/") || !writable)
        result.selfUpdate = SelfUpdate::PackageManager;
    else if (result.applicationName != programFolderName)
        result.selfUpdate = SelfUpdate::NotOwnFolder;
    else
        result.selfUpdate = SelfUpdate::Allowed;
    return result;
}

namespace {

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool writeMarker(int folder)
{
    const int descriptor = ::openat(folder, std::string(ProgramFolder::workingDirectoryMarker).c_str(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return false;
    const std::string_view text = ProgramFolder::workingDirectoryMarkerText;
    const bool written = ::write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(descriptor) == 0 && written;
}

} // namespace

Result<std::string, std::string> makeWorkingDirectory(const std::string& stem)
{
    const fs::path parent = fs::path(stem).parent_path();
    if (!fs::path(stem).is_absolute() || parent.empty())
        return Failure<std::string> { "the working directory " + stem + " is not an absolute path" };
    std::error_code error;
    fs::create_directories(parent, error);
    struct stat above;
    if (::stat(parent.c_str(), &above) != 0)
        return Failure<std::string> { systemError("cannot use the folder", parent.string()) };
    if (!S_ISDIR(above.st_mode))
        return Failure<std::string> { parent.string() + " is not a folder" };
    if (above.st_uid != ::getuid() && above.st_uid != 0)
        return Failure<std::string> { parent.string() + " belongs to another user" };
    if ((above.st_mode & (S_IWGRP | S_IWOTH)) && !(above.st_mode & S_ISVTX))
        return Failure<std::string> { "others may replace what is in " + parent.string() };

    // mkdtemp makes the folder itself (never one that is there already), mode 0700.
    std::string path = stem + ".XXXXXX";
    if (!::mkdtemp(path.data()))
        return Failure<std::string> { systemError("cannot make a folder in", parent.string()) };
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat made;
    const bool sound = folder >= 0 && ::fstat(folder, &made) == 0 && made.st_uid == ::getuid() && (made.st_mode & 07777) == 0700
        && writeMarker(folder);
    if (folder >= 0)
        ::close(folder);
    if (!sound) {
        fs::remove_all(path, error);
        return Failure<std::string> { "cannot prepare the folder " + path };
    }
    return path;
}

Result<void, std::string> checkWorkingDirectory(const std::string& path)
{
    if (!fs::path(path).is_absolute())
        return Failure<std::string> { path + " is not an absolute path" };
    struct stat folder;
    if (::lstat(path.c_str(), &folder) != 0)
        return Failure<std::string> { systemError("cannot find", path) };
    if (!S_ISDIR(folder.st_mode))
        return Failure<std::string> { path + " is not a folder" };
    if (folder.st_uid != ::getuid() || (folder.st_mode & 077) != 0)
        return Failure<std::string> { path + " is not a private folder of this user" };
    const std::string marker = path + "/" + std::string(ProgramFolder::workingDirectoryMarker);
    const int descriptor = ::open(marker.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    std::string text(ProgramFolder::workingDirectoryMarkerText.size() + 1, '\0');
    struct stat status;
    const bool marked = descriptor >= 0 && ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)
        && status.st_uid == ::getuid() && ::read(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size() - 1);
    if (descriptor >= 0)
        ::close(descriptor);
    if (!marked || std::string_view(text).substr(0, text.size() - 1) != ProgramFolder::workingDirectoryMarkerText)
        return Failure<std::string> { path + " was not made by Corvex Vario for an update" };
    return {};
}

bool holdsProgram(const std::string& folder)
{
    struct stat status;
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    const std::string program = folder + "/" + std::string(ProgramFolder::programPath);
    return ::stat(program.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(program.c_str(), X_OK) == 0;
}

} // namespace corvex
