#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace corvex {

class AlertPresenter;
class CorvexDevice;
class OperationContext;

// What a backup needs besides its operation context.
struct LogBookBackupOptions {
    // Tells the user where the flights went (and the export's own per-flight alerts).
    AlertPresenter* alerts { nullptr };
    std::string programVersion; // in the IGC files' comment lines
    // Where the backups go; empty: <user data folder>/Corvex/backups.
    std::string backupsRoot;
    // Asked when not every flight could be saved, with how many would be lost (nothing
    // when the flight list itself could not be read). True erases anyway; empty: no.
    std::function<bool(std::optional<std::size_t> flightsLost)> confirmEraseWithoutBackup;
};

// What a backup of the whole log book saved.
struct LogBookBackupResult {
    std::optional<std::string> folder; // made, with at least one flight in it
    std::size_t flightsSaved { 0 };
    // Flights that could not be saved; nothing when the list could not be read.
    std::optional<std::size_t> flightsNotSaved { 0 };
    // Every flight is saved (an empty log book included).
    bool complete() const { return flightsNotSaved == std::size_t { 0 }; }
};

struct LogBookEraseResult {
    bool erased { false };
    std::optional<std::string> backupFolder; // made, even when some flights failed
    std::size_t flightsSaved { 0 };
    // Flights that could not be saved; nothing when the list could not be read.
    std::optional<std::size_t> flightsNotSaved { 0 };
};

// <root>/<serial>/<local date and time>, e.g. .../backups/C0FFEE/2026-03-04_05-06-07.
std::string logBookBackupFolder(const std::string& root, const std::string& serial,
    std::chrono::system_clock::time_point moment);
// <user data folder>/Corvex/backups.
std::string defaultLogBookBackupsRoot();

// Saves every flight of the instrument as an IGC file into a fresh backup folder
// (none when there is nothing to save) and logs the outcome. Asks nothing. Each flight
// is a part of the context's progress; the folder is named after its clock, and the
// progress is finished when the backup is over.
LogBookBackupResult backUpLogBook(CorvexDevice& device, const std::string& serial, const LogBookBackupOptions& options,
    const OperationContext& context);
// "3 flights were saved as IGC files in FOLDER", "the log book holds no flights", or
// what was not saved, for the user.
std::string describeLogBookBackup(const LogBookBackupResult& backup);

// backUpLogBook, then erases the log book only when all of them were saved; otherwise erases only when the
// user confirms the loss. An empty log book is erased without a folder.
LogBookEraseResult backUpAndEraseLogBook(CorvexDevice& device, const std::string& serial,
    const LogBookBackupOptions& options, const OperationContext& context);

} // namespace corvex
