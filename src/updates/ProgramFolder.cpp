#include "updates/ProgramFolder.h"

#include <filesystem>
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

} // namespace corvex
