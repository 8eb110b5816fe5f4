#pragma once

#include <string>
#include <string_view>

namespace corvex {

// What stands for the application bundle on Linux: a program folder of its own, the
// install prefix of a self-contained installation such as /opt/corvex-vario or
// ~/Applications/corvex-vario, holding bin/corvex-vario, the helper in libexec/ and the
// shared files in share/. The software package is a zip archive holding one such
// folder, named `programFolderName`; the application name handed to the helper is the
// installed folder's last component, so the two must match.
//
// Only a folder of the program's own may be replaced as a whole: a prefix shared with
// other programs (~/.local, /usr/local) or a build folder never is, and a folder the
// user cannot write (anything under /usr, installed by the package manager) is updated
// by the package manager.
struct ProgramFolder {
    static constexpr std::string_view programFolderName = "corvex-vario";
    static constexpr std::string_view programPath = "bin/corvex-vario";
    static constexpr std::string_view helperName = "CorvexVarioUpdateHelperTool";
    static constexpr std::string_view helperPath = "libexec/CorvexVarioUpdateHelperTool";
    // The working directory's name under the per-user runtime or cache folder.
    static constexpr std::string_view workingDirectoryName = "CorvexVarioUpdaterTmpDirectory";

    enum class SelfUpdate {
        // The folder is the program's own and the user may replace it.
        Allowed,
        // Under /usr, or a folder the user cannot write: the package manager's.
        PackageManager,
        // A prefix shared with other programs, or not an installation at all.
        NotOwnFolder,
    };

    // The installed folder (the install prefix), empty when the program does not run
    // from a bin/ folder.
    std::string path;
    // Its last component: the application name the helper receives.
    std::string applicationName;
    // Where the helper is: libexec/ of the folder, or beside the program in a build
    // folder.
    std::string helperProgram;
    SelfUpdate selfUpdate { SelfUpdate::NotOwnFolder };

    // Describes the installation that `executablePath` (the running program, links
    // resolved) belongs to.
    static ProgramFolder ofExecutable(const std::string& executablePath);
};

} // namespace corvex
