#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>

namespace corvex {

class OperationContext;
class ProcessLauncher;

// What the update helper is told: the working directory holding the unpacked program
// folder, the application name (the folder's name, in the working directory and where
// it is installed), the installed folder and the program's process to wait for.
struct ProgramFolderReplacement {
    std::string workingDirectory;
    std::string applicationName;
    std::string programFolder;
    pid_t waitForProcess { 0 };
};

// What the replacement needs besides its operation context (its log, and the sleeps
// while it waits for the program to end).
struct ReplacementOptions {
    ProcessLauncher* processes { nullptr };
    // How long the program may take to end before the helper gives up and changes
    // nothing.
    std::chrono::milliseconds exitLimit { std::chrono::seconds(60) };
};

enum class ReplacementOutcome {
    // The new folder is in place and its program was started.
    Replaced,
    // Nothing was replaced (or the old folder was put back) and the old program was
    // started again.
    KeptOld,
    // The program did not end, or the request makes no sense: nothing was touched.
    NothingDone,
};

// Waits for the program to end, swaps the unpacked folder in when it holds the
// program, starts the program, and removes the old folder and the working directory.
// When anything fails after the swap, the old folder is put back and started.
ReplacementOutcome replaceProgramFolder(
    const ProgramFolderReplacement& request, const ReplacementOptions& options, const OperationContext& context);

} // namespace corvex
