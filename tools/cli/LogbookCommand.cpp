#include "Commands.h"

#include "export/ExportFiles.h"
#include "export/TrackLogExport.h"

#include <ostream>

namespace corvex::cli {

namespace {

int runLogbook(CliContext& context)
{
    const std::string path = context.option("out").value_or(std::string(logBookFileName) + ".csv");
    if (path.empty()) {
        printError(context.err, "--out needs a file name");
        return UsageError;
    }
    if (!prepareFolderOfFile(path, context.err))
        return FileError;
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    StderrAlertPresenter alerts;
    const auto csv = TrackLogExport(session.device(), TrackLogExportOptions { &alerts, CORVEX_VERSION },
        OperationContext(session.log()))
                         .downloadLogbookText();
    if (!csv)
        return InstrumentFailed;
    if (!writeTextFile(path, *csv, FileWriteMode::Atomic)) {
        printError(context.err, "cannot write " + path);
        return FileError;
    }
    context.out << visibleText(path) << "\n";
    return Success;
}

} // namespace

extern const CliCommand logbookCommand {
    .name = "logbook",
    .usage = "[--out FILE]",
    .summary = "save the log book as a CSV file",
    .options = { { "out", "FILE", "the CSV file to write (default: \"Corvex Log Book.csv\")" } },
    .run = runLogbook,
};

} // namespace corvex::cli
