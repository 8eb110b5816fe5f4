#include "updates/LogBookBackup.h"

#include "base/Format.h"
#include "device/CorvexDevice.h"
#include "export/TrackLogExport.h"
#include "platform/AlertPresenter.h"
#include "platform/InstrumentDirectory.h"
#include "platform/LocalTime.h"
#include "platform/LogSink.h"
#include "platform/OperationContext.h"

#include <algorithm>
#include <sys/stat.h>

namespace corvex {

namespace {

bool exists(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

void tell(const LogBookBackupOptions& options, const std::string& message, const std::string& text)
{
    if (options.alerts)
        options.alerts->showAlert(Alert { message, text, { "Ok" }, Alert::Kind::Information });
}

// How many flights the full list finds, or nothing when it fails. The short list,
// which the export walks, takes a transfer that broke off (silence or a short answer
// after the first record) for an empty log book; the full list fails instead. Before
// an erase that would lose every flight, an empty short list is asked again this way.
std::optional<std::size_t> flightsInTheFullList(CorvexDevice& device)
{
    const auto flights = device.listFlightsFull();
    if (!flights)
        return std::nullopt;
    return flights->size();
}

} // namespace

std::string logBookBackupFolder(const std::string& root, const std::string& serial,
    std::chrono::system_clock::time_point moment)
{
    std::string stamp = localTimeText(moment);
    std::replace(stamp.begin(), stamp.end(), ' ', '_');
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    return root + "/" + serial + "/" + stamp;
}

std::string defaultLogBookBackupsRoot()
{
    return userDataHomePath() + "/Corvex/backups";
}

LogBookBackupResult backUpLogBook(CorvexDevice& device, const std::string& serial, const LogBookBackupOptions& options,
    const OperationContext& context)
{
    LogBookBackupResult result;
    LogSink& log = context.log();
    const auto now = context.now();
    const std::string root = options.backupsRoot.empty() ? defaultLogBookBackupsRoot() : options.backupsRoot;

    // A second backup within the same second gets a folder of its own.
    std::string folder = logBookBackupFolder(root, serial, now);
    for (int suffix = 2; exists(folder); ++suffix)
        folder = logBookBackupFolder(root, serial, now) + "-" + std::to_string(suffix);

    std::string error;
    if (!ensurePrivateDirectory(folder, &error)) {
        logLine(log, "Log book backup: cannot create %s (%s)", folder.c_str(), error.c_str());
        // The count is still worth knowing for the question.
        if (auto flights = device.listFlightsShort())
            result.flightsNotSaved = flights->empty() ? flightsInTheFullList(device) : flights->size();
        else
            result.flightsNotSaved.reset();
    } else {
        TrackLogExport exporter(device, TrackLogExportOptions { options.alerts, options.programVersion }, context);
        const AllTracklogsOutcome outcome
            = exporter.downloadAllTracklogsIntoFolder(folder, [] { return TrackLogFileFormat::Igc; });
        result.flightsSaved = outcome.writtenFiles.size();
        if (!outcome.flightListRead)
            result.flightsNotSaved.reset();
        else
            result.flightsNotSaved = outcome.failedFlights.size() + outcome.unwritableFiles.size();
        const bool listedNoFlights
            = outcome.writtenFiles.empty() && outcome.failedFlights.empty() && outcome.unwritableFiles.empty();
        if (outcome.flightListRead && listedNoFlights)
            result.flightsNotSaved = flightsInTheFullList(device);
        if (result.flightsSaved > 0)
            result.folder = folder;
        else
            rmdir(folder.c_str()); // nothing in it: no empty folders to puzzle over
    }

    context.finish();
    if (result.complete()) {
        if (result.folder) {
            logLine(log, "Log book backup: %lu flights saved in %s", static_cast<unsigned long>(result.flightsSaved),
                folder.c_str());
        } else {
            logLine(log, "Log book backup: the log book holds no flights");
        }
    } else if (result.flightsNotSaved) {
        logLine(log, "Log book backup failed: %lu of the flights could not be saved",
            static_cast<unsigned long>(*result.flightsNotSaved));
    } else {
        logLine(log, "Log book backup failed: the flight list could not be read");
    }
    return result;
}

std::string describeLogBookBackup(const LogBookBackupResult& backup)
{
    const auto flights = [](std::size_t count) {
        return count == 1 ? std::string("1 flight was") : formatString("%lu flights were", static_cast<unsigned long>(count));
    };
    std::string text;
    if (backup.folder)
        text = flights(backup.flightsSaved) + " saved as IGC files in " + *backup.folder;
    if (!backup.flightsNotSaved)
        return text + (text.empty() ? "" : "; ") + "the flight list could not be read";
    if (*backup.flightsNotSaved > 0)
        return text + (text.empty() ? "" : "; ") + flights(*backup.flightsNotSaved) + " not saved";
    return text.empty() ? std::string("the log book holds no flights") : text;
}

LogBookEraseResult backUpAndEraseLogBook(CorvexDevice& device, const std::string& serial,
    const LogBookBackupOptions& options, const OperationContext& context)
{
    LogBookEraseResult result;
    LogSink& log = context.log();
    const LogBookBackupResult backup = backUpLogBook(device, serial, options, context);
    result.backupFolder = backup.folder;
    result.flightsSaved = backup.flightsSaved;
    result.flightsNotSaved = backup.flightsNotSaved;
    const std::string folder = backup.folder.value_or(std::string());

    if (!backup.complete()) {
        const bool eraseAnyway
            = options.confirmEraseWithoutBackup && options.confirmEraseWithoutBackup(result.flightsNotSaved);
        if (!eraseAnyway) {
            logLine(log, "Log book not erased: not every flight was saved");
            return result;
        }
    }

    logLine(log, "Erasing the log book");
    result.erased = device.eraseAllLogs().hasValue();
    if (!result.erased)
        logLine(log, "Log book erase failed");
    // Only a completed erase is worth telling here; the caller reports a failed one,
    // with the folder, so the user never reads both "erased" and "not erased".
    if (result.backupFolder && result.erased) {
        tell(options, "The log book was saved",
            formatString("%s saved as IGC files in %s before the log book was erased.",
                result.flightsSaved == 1 ? "1 flight was" : formatString("%lu flights were", static_cast<unsigned long>(result.flightsSaved)).c_str(),
                folder.c_str()));
    }
    return result;
}

} // namespace corvex
