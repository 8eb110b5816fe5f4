#include "Commands.h"

#include "export/ExportFiles.h"
#include "export/TrackLogExport.h"

#include <ostream>

namespace corvex::cli {

namespace {

int runLogbook(CliContext& context)
{
    std::string path = std::string(logBookFileName) + ".csv";
    const auto& arguments = context.arguments;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--out" && i + 1 < arguments.size()) {
            path = arguments[++i];
        } else if (arguments[i].starts_with("--out=")) {
            path = arguments[i].substr(6);
        } else {
            printError(context.err, "unexpected argument " + arguments[i] + " (usage: corvex logbook [--out FILE])");
            return UsageError;
        }
    }
    if (path.empty()) {
        printError(context.err, "--out needs a file name");
        return UsageError;
    }
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    StderrAlertPresenter alerts;
    TrackLogExportEnvironment environment;
    environment.log = &session.device().log();
    environment.alerts = &alerts;
    environment.programVersion = CORVEX_VERSION;
    const auto csv = TrackLogExport(session.device(), environment).downloadLogbookText();
    if (!csv)
        return InstrumentFailed;
    if (!writeTextFile(path, *csv, FileWriteMode::Atomic)) {
        printError(context.err, "cannot write " + path);
        return FileError;
    }
    context.out << path << "\n";
    return Success;
}

} // namespace

extern const CliCommand logbookCommand { "logbook", "[--out FILE]", "save the log book as a CSV file", runLogbook };

} // namespace corvex::cli
