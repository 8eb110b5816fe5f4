#include "platform/InstrumentDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

std::optional<std::string> nonEmptyVariable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> ownedRuntimeFolder()
{
    std::string folder = "/run/user/" + std::to_string(getuid());
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != getuid())
        return std::nullopt;
    return folder;
}

std::string homeFolder(const InstrumentDirectoryInputs& inputs)
{
    if (auto home = inputs.environment("HOME"))
        return *home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return ".";
}

} // namespace

std::string runtimeFolderPath(const InstrumentDirectoryInputs& inputs)
{
    if (auto runtime = inputs.environment("XDG_RUNTIME_DIR"))
        return *runtime + "/corvex";
    if (auto runtime = inputs.userRuntimeFolder())
        return *runtime + "/corvex";
    std::string cache = inputs.environment("XDG_CACHE_HOME").value_or(homeFolder(inputs) + "/.cache");
    return cache + "/corvex";
}

std::string runtimeFolderPath()
{
    return runtimeFolderPath({ nonEmptyVariable, ownedRuntimeFolder });
}

std::string instrumentDirectoryPath(const InstrumentDirectoryInputs& inputs)
{
    if (auto explicitFolder = inputs.environment("CORVEX_INSTRUMENT_DIR"))
        return *explicitFolder;
    return runtimeFolderPath(inputs) + "/instruments";
}

std::string instrumentDirectoryPath()
{
    return instrumentDirectoryPath({ nonEmptyVariable, ownedRuntimeFolder });
}

std::string userDataHomePath(const std::function<std::optional<std::string>(const char* name)>& environment)
{
    // A relative value is to be ignored: it would land wherever the program was started.
    if (auto data = environment("XDG_DATA_HOME"); data && data->front() == '/')
        return *data;
    return homeFolder({ environment, {} }) + "/.local/share";
}

std::string userDataHomePath()
{
    return userDataHomePath(nonEmptyVariable);
}

bool ensurePrivateDirectory(const std::string& path, std::string* error)
{
    const auto fail = [error](std::string text) {
        if (error)
            *error = std::move(text);
        return false;
    };
    const auto makeFolder = [&](const std::string& folder) {
        if (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
            return true;
        const int failure = errno;
        return fail("mkdir " + folder + ": " + std::strerror(failure));
    };
    if (path.empty())
        return fail("empty path");
    // Create each missing component in turn, like mkdir -p -m 0700.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (!makeFolder(path.substr(0, slash)))
            return false;
    }
    if (!makeFolder(path))
        return false;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return fail(path + " is not a folder");
    return true;
}

std::uint32_t registryHandleForPath(std::string_view path)
{
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (unsigned char c : path) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash ? hash : 1;
}

} // namespace corvex
