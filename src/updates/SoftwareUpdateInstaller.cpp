#include "updates/SoftwareUpdateInstaller.h"

#include "base/Sha256.h"
#include "platform/AlertPresenter.h"
#include "platform/LogSink.h"
#include "platform/ProcessLauncher.h"
#include "updates/ZipArchive.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace fs = std::filesystem;

namespace {

constexpr const char* installationErrorTitle = "Error installing software update";

// Writes through a temporary file in the same folder that replaces the target only
// once it is complete and on disk.
bool writeAtomically(const std::string& path, ByteView data)
{
    std::string temporary = path + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0)
        return false;
    bool written = true;
    for (std::size_t offset = 0; written && offset < data.size();) {
        const ssize_t done = ::write(descriptor, data.data() + offset, data.size() - offset);
        if (done < 0 && errno == EINTR)
            continue;
        written = done > 0;
        if (written)
            offset += static_cast<std::size_t>(done);
    }
    written = written && ::fsync(descriptor) == 0;
    written = ::close(descriptor) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Copies the installed helper next to the archive, through a fresh temporary file that
// replaces whatever the archive brought under the helper's name. Any failure stops the
// update: the helper that runs is the installed one or none.
Result<void, std::string> copyHelper(const std::string& source, const std::string& target)
{
    const int input = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0)
        return Failure<std::string> { "cannot open " + source + ": " + std::strerror(errno) };
    std::string temporary = target + ".XXXXXX";
    const int output = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (output < 0) {
        const std::string reason = std::strerror(errno);
        ::close(input);
        return Failure<std::string> { "cannot make a file beside " + target + ": " + reason };
    }
    bool copied = true;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            copied = got == 0;
            break;
        }
        for (ssize_t offset = 0; copied && offset < got;) {
            const ssize_t done = ::write(output, buffer + offset, static_cast<std::size_t>(got - offset));
            if (done < 0 && errno == EINTR)
                continue;
            copied = done > 0;
            offset += std::max<ssize_t>(done, 0);
        }
        if (!copied)
            break;
    }
    ::close(input);
    copied = ::fchmod(output, 0700) == 0 && copied;
    copied = ::close(output) == 0 && copied;
    // rename() replaces a file, never a folder: a folder of the helper's name stops here.
    if (!copied || ::rename(temporary.c_str(), target.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        return Failure<std::string> { "cannot copy " + source + " to " + target + ": " + reason };
    }
    return {};
}

} // namespace

SoftwarePackageKind softwarePackageKindOfUrl(std::string_view url)
{
    // The path: after the scheme and host, before the query and the fragment.
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
        url.remove_prefix(scheme + 3);
        const auto path = url.find_first_of("/?#");
        url.remove_prefix(path == std::string_view::npos ? url.size() : path);
    }
    url = url.substr(0, url.find_first_of("?#"));
    // A path's extension is that of its last component; trailing slashes do not count.
    while (!url.empty() && url.back() == '/')
        url.remove_suffix(1);
    const std::string_view last = url.substr(url.rfind('/') == std::string_view::npos ? 0 : url.rfind('/') + 1);
    const auto dot = last.rfind('.');
    const std::string_view extension = dot == std::string_view::npos || dot == 0 ? std::string_view {} : last.substr(dot + 1);
    if (extension == "zip")
        return SoftwarePackageKind::zipArchive;
    if (extension == "dmg")
        return SoftwarePackageKind::diskImage;
    return SoftwarePackageKind::neither;
}

SoftwareUpdateInstaller::SoftwareUpdateInstaller(SoftwareUpdateOptions options, ProgramFolder programFolder,
    std::string workingDirectory, OperationContext context)
    : m_options(std::move(options))
    , m_programFolder(std::move(programFolder))
    , m_workingDirectoryStem(std::move(workingDirectory))
    , m_context(std::move(context))
{
}

std::string SoftwareUpdateInstaller::defaultWorkingDirectory()
{
    const std::string name(ProgramFolder::workingDirectoryName);
    // Only absolute values count, as the base-directory rules say.
    const auto absolute = [](const char* value) { return value && value[0] == '/'; };
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); absolute(runtime))
        return std::string(runtime) + "/" + name;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); absolute(cache))
        return std::string(cache) + "/" + name;
    const char* home = std::getenv("HOME");
    return std::string(absolute(home) ? home : "") + "/.cache/" + name;
}

bool SoftwareUpdateInstaller::mayReplaceItself()
{
    switch (m_programFolder.selfUpdate) {
    case ProgramFolder::SelfUpdate::Allowed:
        return true;
    case ProgramFolder::SelfUpdate::PackageManager:
        logLine(m_context.log(), "Software update not installed: %s belongs to the package manager", m_programFolder.path.c_str());
        m_options.alerts->showAlert(Alert { "Corvex Vario was installed by the package manager",
            "Please update it through your system's package manager.", { "Close" }, Alert::Kind::Information });
        return false;
    case ProgramFolder::SelfUpdate::NotOwnFolder:
        break;
    }
    logLine(m_context.log(), "Software update not installed: %s is not a program folder of its own", m_programFolder.path.c_str());
    m_options.alerts->showAlert(Alert { "Corvex Vario cannot replace itself",
        formatString("It runs from %s, which is not a folder of its own named %s. Please install the new version the way you "
                     "installed this one.",
            m_programFolder.path.c_str(), std::string(ProgramFolder::programFolderName).c_str()),
        { "Close" } });
    return false;
}

void SoftwareUpdateInstaller::alertInstallationError(const std::string& text)
{
    m_options.alerts->showAlert(Alert { installationErrorTitle, text, { "Close" } });
}

bool SoftwareUpdateInstaller::unzipFile(const std::string& archivePath)
{
    // Off this thread: a large archive takes a while, and the window keeps painting
    // its bar meanwhile.
    std::optional<Result<ZipListing, std::string>> unpacked;
    m_context.runOffThread([&](const OperationContext& worker) {
        unpacked.emplace(extractZipArchive(archivePath, fs::path(archivePath).parent_path().string(), ZipLimits {}, &worker));
    });
    if (!*unpacked)
        logLine(m_context.log(), "Unzipping %s failed: %s", archivePath.c_str(), unpacked->error().c_str());
    return unpacked->hasValue();
}

void SoftwareUpdateInstaller::removeWorkingDirectory()
{
    if (m_workingDirectory.empty())
        return;
    std::error_code error;
    fs::remove_all(m_workingDirectory, error);
    if (error)
        logLine(m_context.log(), "Cannot remove %s: %s", m_workingDirectory.c_str(), error.message().c_str());
}

bool SoftwareUpdateInstaller::installSoftwareUpdateFromDataAndRelaunchApp(ByteView data, const std::optional<std::string>& expectedSha256)
{
    LogSink& log = m_context.log();
    if (!mayReplaceItself())
        return false;
    if (expectedSha256) {
        const std::string actual = Sha256::hexOf(data);
        if (!sameHexDigest(actual, *expectedSha256)) {
            logLine(log, "Software update refused: its SHA-256 %s differs from %s announced by the server", actual.c_str(),
                expectedSha256->c_str());
            alertInstallationError("The downloaded software update is damaged: its SHA-256 checksum differs from the one the "
                                   "server announced. Nothing was installed.");
            return false;
        }
    }

    // Step 0: a fresh, private working directory that this call made, so that neither
    // leftovers of an earlier attempt nor a folder another user planted under the same
    // name (a shared /tmp) ever hold what runs next.
    m_workingDirectory.clear();
    auto made = makeWorkingDirectory(m_workingDirectoryStem);
    if (!made) {
        logLine(log, "Step 0: createDirectoryAtPath failed: %s", made.error().c_str());
        alertInstallationError("createDirectoryAtPath returned error");
        return false;
    }
    m_workingDirectory = *made;
    // From here every failure takes the working directory away again.
    const auto fail = [this](const std::string& alert) {
        alertInstallationError(alert);
        removeWorkingDirectory();
        return false;
    };

    // Step 1: the archive, whole or not at all.
    const std::string archivePath = m_workingDirectory + "/update.zip";
    if (!writeAtomically(archivePath, data)) {
        logLine(log, "Step 1: writing %s failed: %s", archivePath.c_str(), std::strerror(errno));
        return fail("The software update cannot be saved in " + m_workingDirectory + ".");
    }

    // Step 2.
    m_context.beginStep("Unpacking the Corvex Vario Software update, please wait...");
    const bool unzipped = unzipFile(archivePath);
    m_context.finish();
    if (!unzipped) {
        logLine(log, "Unzipping error");
        return fail("Unzip returned error");
    }
    logLine(log, "Unzipped successfully");
    // The helper would find nothing to install and start the old version again, and the
    // user would take that for the new one: say so now, while the program still runs.
    const std::string unpacked = m_workingDirectory + "/" + m_programFolder.applicationName;
    if (!holdsProgram(unpacked)) {
        logLine(log, "The software update holds no program %s/%s", unpacked.c_str(), std::string(ProgramFolder::programPath).c_str());
        return fail(formatString("The downloaded software update holds no program folder %s with %s.",
            m_programFolder.applicationName.c_str(), std::string(ProgramFolder::programPath).c_str()));
    }

    // Step 3.
    const std::string helperCopy = m_workingDirectory + "/" + std::string(ProgramFolder::helperName);
    if (auto copied = copyHelper(m_programFolder.helperProgram, helperCopy); !copied) {
        logLine(log, "Step 3: copyItemAtPath failure");
        logLine(log, "%s", copied.error().c_str());
        return fail("copyItemAtPath returned error");
    }
    logLine(log, "CorvexVarioUpdateHelperTool successfully copied into tmp dir");

    // Step 4. The helper's two arguments come first; the folder to replace and the
    // process to wait for follow as options, because the helper runs from the working
    // directory and cannot find either by itself.
    const auto started = m_options.processes->startDetached(helperCopy,
        { m_workingDirectory, m_programFolder.applicationName, "--program-folder", m_programFolder.path, "--wait-for-process",
            std::to_string(m_options.processId) },
        m_workingDirectory);
    if (!started) {
        logLine(log, "Step 4: NSTask launchedTaskWithLaunchPath failure");
        logLine(log, "%s", started.error().c_str());
        return fail("NSTask launchedTaskWithLaunchPath returned error");
    }
    m_options.terminateApplication();
    return true;
}

} // namespace corvex
