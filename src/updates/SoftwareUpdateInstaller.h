#pragma once

#include "base/Bytes.h"
#include "platform/OperationContext.h"
#include "updates/ProgramFolder.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace corvex {

class AlertPresenter;
class ProcessLauncher;

// What the feed's package address offers, by the extension of its path, compared
// case-sensitively: a zip archive is installed by the program, a disk image is handed
// to the browser, anything else is refused.
enum class SoftwarePackageKind {
    zipArchive,
    diskImage,
    neither,
};
SoftwarePackageKind softwarePackageKindOfUrl(std::string_view url);

// What the installation needs besides its operation context (whose log it writes to).
struct SoftwareUpdateOptions {
    AlertPresenter* alerts { nullptr };
    ProcessLauncher* processes { nullptr };
    // Ends the program the normal way once the helper runs; the helper waits for
    // `processId` to be gone before it touches the program folder.
    std::function<void()> terminateApplication;
    pid_t processId { 0 };
};

// Installs a downloaded software package: checks it, unpacks it into a fresh private
// working directory, copies the helper there and starts it, then ends the program.
class SoftwareUpdateInstaller {
public:
    // `workingDirectory` is the stem of the working directories: each installation
    // makes a fresh one named after it with a random suffix.
    SoftwareUpdateInstaller(SoftwareUpdateOptions options, ProgramFolder programFolder, std::string workingDirectory,
        OperationContext context);

    // Where the working directories go: per user and private, under $XDG_RUNTIME_DIR
    // when it is set, else under the user's cache folder; never the shared /tmp. Each
    // installation makes a fresh folder of this name with a random suffix.
    static std::string defaultWorkingDirectory();

    // The folder the last installation made; empty before one made any. It is gone
    // again when the installation failed.
    const std::string& workingDirectory() const { return m_workingDirectory; }
    const ProgramFolder& programFolder() const { return m_programFolder; }

    // Tells the user why this installation cannot replace itself and answers false, or
    // answers true without a word.
    bool mayReplaceItself();

    // Unpacks the archive into its own folder, off the calling thread, with the share
    // done as the context's progress; logs why when it refuses or fails.
    bool unzipFile(const std::string& archivePath);

    // Answers true when the helper was started and the program asked to end.
    // `expectedSha256` is the digest the versions feed announced, if any.
    bool installSoftwareUpdateFromDataAndRelaunchApp(ByteView data, const std::optional<std::string>& expectedSha256 = std::nullopt);

private:
    void alertInstallationError(const std::string& text);
    void removeWorkingDirectory();

    SoftwareUpdateOptions m_options;
    ProgramFolder m_programFolder;
    std::string m_workingDirectoryStem;
    std::string m_workingDirectory;
    OperationContext m_context;
};

} // namespace corvex
