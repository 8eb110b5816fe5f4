// CorvexVarioUpdateHelperTool WORKING-DIRECTORY APPLICATION-NAME
//     --program-folder FOLDER --wait-for-process PID
//
// Started by the program from its private working directory once a software update is
// unpacked there; the program ends right after. The helper waits for it to end, puts
// WORKING-DIRECTORY/APPLICATION-NAME in place of FOLDER, starts the program again and
// cleans up. The two arguments come first as they always have; the options follow
// because a copy running from the working directory cannot find the installed folder
// or the program's process by itself.

#include "platform/OperationContext.h"
#include "platform/ProcessLauncher.h"
#include "platform/SystemLogSink.h"
#include "updates/ProgramFolderReplacement.h"

#include <charconv>
#include <string_view>

int main(int argc, char** argv)
{
    using namespace corvex;
    SystemLogSink log;
    if (argc < 3) {
        logLine(log, "Update helper: expected the working directory and the application name");
        return 2;
    }
    ProgramFolderReplacement request;
    request.workingDirectory = argv[1];
    request.applicationName = argv[2];
    bool waitGiven = false;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string_view option = argv[i];
        const std::string_view value = argv[i + 1];
        if (option == "--program-folder") {
            request.programFolder = value;
        } else if (option == "--wait-for-process") {
            int process = -1;
            const auto parsed = std::from_chars(value.data(), value.data() + value.size(), process);
            if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || process < 0) {
                logLine(log, "Update helper: --wait-for-process needs a process number, not %s", argv[i + 1]);
                return 2;
            }
            request.waitForProcess = process;
            waitGiven = true;
        } else {
            logLine(log, "Update helper: unknown option %s", argv[i]);
            return 2;
        }
    }
    // Swapping the folder under a program that still runs would break it: without the
    // process to wait for, nothing is replaced.
    if (!waitGiven) {
        logLine(log, "Update helper: no --wait-for-process given; nothing to replace");
        return 2;
    }
    if (request.programFolder.empty()) {
        logLine(log, "Update helper: no --program-folder given; nothing to replace");
        return 2;
    }
    logLine(log, "Update helper: installing %s/%s into %s", request.workingDirectory.c_str(), request.applicationName.c_str(),
        request.programFolder.c_str());

    PosixProcessLauncher processes;
    ReplacementOptions options;
    options.processes = &processes;
    switch (replaceProgramFolder(request, options, OperationContext(log))) {
    case ReplacementOutcome::Replaced:
        return 0;
    case ReplacementOutcome::KeptOld:
        return 1;
    case ReplacementOutcome::NothingDone:
        break;
    }
    return 2;
}
