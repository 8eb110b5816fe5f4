#pragma once

#include "base/Result.h"

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
    // The working directory's name under the per-user runtime or cache folder; each
    // installation makes a fresh one with a random suffix.
    static constexpr std::string_view workingDirectoryName = "CorvexVarioUpdaterTmpDirectory";
    // The file by which the helper knows a working directory the program made, with
    // its one line of text: the helper removes no other folder.
    static constexpr std::string_view workingDirectoryMarker = ".corvex-vario-update";
    static constexpr std::string_view workingDirectoryMarkerText = "a working directory of a Corvex Vario software update\n";

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

// Makes a fresh working directory `stem`.XXXXXX (random, made by this call, owned by
// the user, 0700, holding the marker) and answers its path, or why it cannot. The
// folder above must not let another user swap what is in it: it belongs to the user
// or to root, and when others may write it, its sticky bit is set (a shared /tmp).
Result<std::string, std::string> makeWorkingDirectory(const std::string& stem);

// Why `path` is not a working directory that makeWorkingDirectory made for this user
// (a real folder, not a link, owned by the user, closed to others, holding the
// marker); nothing when it is one.
Result<void, std::string> checkWorkingDirectory(const std::string& path);

// Whether `folder` is a program folder: a real folder (not a link) holding an
// executable bin/corvex-vario.
bool holdsProgram(const std::string& folder);

} // namespace corvex
