#include "updates/ProgramFolderReplacement.h"

#include "platform/LogSink.h"
#include "platform/OperationContext.h"
#include "platform/ProcessLauncher.h"
#include "updates/ProgramFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace fs = std::filesystem;

namespace {

// A process that has ended but not been reaped by its parent still answers kill(0);
// its state in /proc says it is a zombie.
bool processRunning(pid_t process)
{
    if (process <= 0)
        return false;
    if (::kill(process, 0) != 0 && errno == ESRCH)
        return false;
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto end = line.rfind(')');
    return end == std::string::npos || end + 2 >= line.size() || (line[end + 2] != 'Z' && line[end + 2] != 'X');
}

// Swaps two folder entries in one step where the file system allows it, so the
// program folder is never missing; else two renames.
bool exchange(const fs::path& first, const fs::path& second)
{
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    const fs::path parked = first.string() + ".swap";
    if (::rename(first.c_str(), parked.c_str()) != 0)
        return false;
    if (::rename(second.c_str(), first.c_str()) != 0) {
        ::rename(parked.c_str(), first.c_str());
        return false;
    }
    if (::rename(parked.c_str(), second.c_str()) != 0) {
        ::rename(first.c_str(), second.c_str());
        ::rename(parked.c_str(), first.c_str());
        return false;
    }
    return true;
}

class Replacement {
public:
    Replacement(const ProgramFolderReplacement& request, const ReplacementOptions& options, const OperationContext& context)
        : m_request(request)
        , m_options(options)
        , m_context(context)
        , m_installed(fs::path(request.programFolder).lexically_normal())
        , m_unpacked(fs::path(request.workingDirectory) / request.applicationName)
    {
        // Beside the installed folder, so that the swap is a rename on one file system.
        const std::string stem = "." + m_installed.filename().string() + ".update-" + std::to_string(::getpid());
        m_staged = m_installed.parent_path() / stem;
    }

    ReplacementOutcome run()
    {
        if (m_request.applicationName.empty() || m_request.applicationName == "." || m_request.applicationName == ".."
            || m_installed.filename() != m_request.applicationName) {
            logLine(m_context.log(), "Update helper: the application name %s does not name the program folder %s",
                m_request.applicationName.c_str(), m_installed.c_str());
            return ReplacementOutcome::NothingDone;
        }
        // Run by hand with other folders, the helper would remove the first and replace
        // the second: it acts only on a working directory the program made for it and
        // on a program folder that holds the program.
        if (auto working = checkWorkingDirectory(m_request.workingDirectory); !working) {
            logLine(m_context.log(), "Update helper: %s; nothing was touched", working.error().c_str());
            return ReplacementOutcome::NothingDone;
        }
        if (!m_installed.is_absolute() || !holdsProgram(m_installed)) {
            logLine(m_context.log(), "Update helper: %s is not a program folder holding %s; nothing was touched",
                m_installed.c_str(), std::string(ProgramFolder::programPath).c_str());
            return ReplacementOutcome::NothingDone;
        }
        if (!waitForProgramToEnd())
            return ReplacementOutcome::NothingDone;

        if (!holdsProgram(m_unpacked)) {
            logLine(m_context.log(), "Update helper: %s holds no program %s; the installed version stays",
                m_unpacked.c_str(), std::string(ProgramFolder::programPath).c_str());
            return keepOld();
        }
        if (!stage()) {
            removeQuietly(m_staged);
            return keepOld();
        }
        if (!exchange(m_installed, m_staged)) {
            logLine(m_context.log(), "Update helper: cannot move %s into %s: %s",
                m_staged.c_str(), m_installed.c_str(), std::strerror(errno));
            removeQuietly(m_staged);
            return keepOld();
        }
        // From here m_staged holds the old folder.
        if (!startProgram()) {
            if (exchange(m_installed, m_staged)) {
                logLine(m_context.log(), "Update helper: the old version of %s is back in place", m_installed.c_str());
                removeQuietly(m_staged);
            } else {
                logLine(m_context.log(), "Update helper: cannot put the old version back from %s: %s",
                    m_staged.c_str(), std::strerror(errno));
            }
            startProgram();
            cleanUp();
            return ReplacementOutcome::KeptOld;
        }
        logLine(m_context.log(), "Update helper: %s replaced and started again", m_installed.c_str());
        removeQuietly(m_staged);
        cleanUp();
        return ReplacementOutcome::Replaced;
    }

private:
    bool waitForProgramToEnd()
    {
        auto waited = std::chrono::milliseconds(0);
        constexpr auto step = std::chrono::milliseconds(50);
        while (processRunning(m_request.waitForProcess)) {
            if (waited >= m_options.exitLimit) {
                logLine(m_context.log(), "Update helper: the program (process %d) did not end; nothing was replaced",
                    static_cast<int>(m_request.waitForProcess));
                return false;
            }
            m_context.sleepFor(step);
            waited += step;
        }
        return true;
    }

    // Moves (or, across file systems, copies) the unpacked folder beside the installed
    // one.
    bool stage()
    {
        removeQuietly(m_staged);
        if (::rename(m_unpacked.c_str(), m_staged.c_str()) == 0)
            return true;
        if (errno != EXDEV) {
            logLine(m_context.log(), "Update helper: cannot move %s to %s: %s",
                m_unpacked.c_str(), m_staged.c_str(), std::strerror(errno));
            return false;
        }
        std::error_code error;
        fs::copy(m_unpacked, m_staged, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
        if (error) {
            logLine(m_context.log(), "Update helper: cannot copy %s to %s: %s",
                m_unpacked.c_str(), m_staged.c_str(), error.message().c_str());
            return false;
        }
        return true;
    }

    bool startProgram()
    {
        const std::string program = (m_installed / ProgramFolder::programPath).string();
        const auto started = m_options.processes->startDetached(program, {}, m_installed.string());
        if (!started)
            logLine(m_context.log(), "Update helper: %s", started.error().c_str());
        return started.hasValue();
    }

    ReplacementOutcome keepOld()
    {
        startProgram();
        cleanUp();
        return ReplacementOutcome::KeptOld;
    }

    void cleanUp() { removeQuietly(m_request.workingDirectory); }

    void removeQuietly(const fs::path& path)
    {
        std::error_code error;
        fs::remove_all(path, error);
        if (error)
            logLine(m_context.log(), "Update helper: cannot remove %s: %s", path.c_str(), error.message().c_str());
    }

    const ProgramFolderReplacement& m_request;
    const ReplacementOptions& m_options;
    const OperationContext& m_context;
    fs::path m_installed;
    fs::path m_unpacked;
    fs::path m_staged;
};

} // namespace

ReplacementOutcome replaceProgramFolder(
    const ProgramFolderReplacement& request, const ReplacementOptions& options, const OperationContext& context)
{
    return Replacement(request, options, context).run();
}

} // namespace corvex
