#pragma once

#include "base/Bytes.h"
#include "device/InstrumentSession.h"
#include "device/DeviceError.h"
#include "device/FirmwareVersion.h"
#include "platform/AlertPresenter.h"
#include "updates/AvailableUpdates.h"
#include "updates/FirmwareFile.h"
#include "updates/LogBookBackup.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

class CorvexDevice;
class InstrumentSession;
class LogSink;
class OperationContext;

// What the versions feed offered a downloaded firmware file as: the version its entry
// names, and the model whose entry it is.
struct FirmwareOffer {
    std::string version;
    InstrumentGeneration model { InstrumentGeneration::Lark };
};

// How a sound firmware file stands to the instrument it is to go into, and to what the
// versions feed offered it as. A vendor's signature says who made a file, not which
// model it is for nor which version the feed meant: the S0 header says that.
enum class FirmwareFit {
    Fits, // the instrument's model, a later version (or the file names none), as offered
    SameVersion, // the version the instrument runs: installed again, as before
    Downgrade, // an older version of the instrument's model: only when the pilot asks for it
    OtherModel, // the firmware of another model: never
    NotAsOffered, // not the version or the model the feed offered it as: never
};

struct FirmwareMatch {
    FirmwareFit fit { FirmwareFit::Fits };
    // What the file's header says: its version ("2.300"), and its model, by the name it
    // gives or else by the version's row; nothing when it says neither.
    std::optional<std::string> fileVersion;
    const VarioModel* fileModel { nullptr };
    // What the instrument runs, and the offer the file came with.
    FirmwareVersion running;
    std::optional<FirmwareOffer> offer;

    bool refused(bool allowDowngrade) const
    {
        return fit == FirmwareFit::OtherModel || fit == FirmwareFit::NotAsOffered
            || (fit == FirmwareFit::Downgrade && !allowDowngrade);
    }
};

// Compares the file with the instrument's model and version and with the offer. The
// model first: another model's firmware is refused whatever was offered. A file whose
// header names no version cannot be compared: it fits unless it came with an offer.
FirmwareMatch matchFirmware(const FirmwareFile& file, FirmwareVersion running, const std::optional<FirmwareOffer>& offer);

// One sentence on how the file stands, without its full stop, for a refusal or the
// question before a downgrade: "the file is Lark firmware 1.400, and the instrument is
// a Wren". Empty when it fits.
std::string describeFirmwareMatch(const FirmwareMatch& match);

// The alert that refuses a file (another model's, or not what was offered, or an older
// version the pilot did not ask for), ending "Nothing was sent to the instrument."
Alert firmwareRefusalAlert(const FirmwareMatch& match);

// What the installation needs besides its operation context.
struct FirmwareInstallationOptions {
    AlertPresenter* alerts { nullptr };
    // What the versions feed offered the file as, for a download; nothing for a file
    // the pilot chose.
    std::optional<FirmwareOffer> offer;
    // The pilot asked for an older version than the instrument runs (the command line's
    // --allow-downgrade, or the window's question answered).
    bool allowDowngrade { false };
    // The backup before an installation that erases the log book: its folder and the
    // IGC files' program version. Its alerts are the installation's own; its question
    // is never asked (a short backup installs nothing).
    LogBookBackupOptions backup;
};

enum class FirmwareInstallationOutcome {
    NotStarted, // no instrument, or it is busy with another operation: alerted, nothing sent
    FileRefused, // the file is empty, not firmware or damaged: alerted, nothing sent
    WrongFirmware, // another model's, not what was offered, or an older version unasked: alerted, nothing sent
    BackupFailed, // the log book could not be saved before an erasing update: alerted, nothing sent
    Failed, // a line was refused or not answered, or the instrument went away: alerted, reboot line sent
    Installed, // every line accepted; the instrument restarts and the link is closed
};

struct FirmwareInstallationResult {
    FirmwareInstallationOutcome outcome { FirmwareInstallationOutcome::NotStarted };
    std::size_t linesSent { 0 }; // accepted lines
    std::size_t totalLines { 0 };
    // Why it did not start (Unplugged, Busy) or why it failed (Refused with the
    // instrument's verdict, NoAnswer, ShortAnswer, Unplugged).
    std::optional<DeviceError> error;
    // The backup made before the first line of an installation that erases the log
    // book, whether or not it was complete.
    std::optional<LogBookBackupResult> backup;
    bool erasesLogBook { false };
    // What the instrument ran before, and what the file's header says it will run.
    FirmwareVersion versionBefore;
    std::optional<std::string> versionInFile;
    // How the file stood to the instrument and the offer, once the instrument was held.
    std::optional<FirmwareMatch> match;
};

// Writes a firmware file into the connected instrument line by line, holding the
// instrument for the whole length ("installing firmware"). The file is checked first,
// before anything is asked of the instrument or shown; then, with the instrument held,
// its model and version against the instrument's and the offer (matchFirmware): a file
// refused there sends nothing and saves nothing. When the installation erases
// the log book, every flight is then saved as IGC (LogBookBackup), and a backup that
// falls short installs nothing. Then each line is sent and its verdict awaited, the
// progress reported every hundredth of the lines (after every line when there are
// fewer than 100), and the reboot line sent last. On success the device is told its
// serial device went away, since the instrument restarts and leaves the bus.
//
// What the context's progress sees: a step "Saving a backup of the log book before the
// firmware update..." with the backup's flights as its parts, finished when the backup
// is over; then, once the file, the instrument and the backup are known to be good, the
// step installingFirmwareSheetText with the share of the lines sent, finished right
// before the reboot line. The window shows both (the status line tells what the
// instrument is busy with); the command line prints them.
FirmwareInstallationResult installFirmware(InstrumentSession& session, ByteView data, bool erasesLogBook,
    const FirmwareInstallationOptions& options, const OperationContext& context);

// Whether the instrument, back from its restart, runs the installed firmware. Back on
// its unchanged old version while the file named another, the installation did not
// take (the reboot line or the image was lost): the old firmware, and the log book it
// reads, are still there. A version that changed at all counts as installed, whatever
// the header says; a file that names no version cannot be told apart and counts too.
bool firmwareInstallationTook(const FirmwareInstallationResult& installation, FirmwareVersion running);

struct FirmwareRestartResult {
    bool took { false };
    bool eraseAttempted { false };
    bool erased { false };
};

// What follows the restart of an installed instrument, on its refreshed device info:
// the check that the installation took and, when it took and erases the log book, the
// erase (the flights were saved before the first line; the new firmware cannot read
// them). Holds the instrument for the erase.
FirmwareRestartResult finishFirmwareInstallation(
    InstrumentSession& session, const FirmwareInstallationResult& installation, LogSink& log);
// The same within an operation that already holds the instrument (the connect
// sequence that finds the instrument back after its restart).
FirmwareRestartResult finishFirmwareInstallation(
    InstrumentSession::Lease& lease, const FirmwareInstallationResult& installation, LogSink& log);

// One sentence for the user on an installation that did not install, without its
// full stop: "the instrument refused line 17 of 40; it keeps its old firmware".
std::string describeFirmwareInstallationFailure(const FirmwareInstallationResult& result);

// The texts of the installation, shared by the window and the command line.
inline constexpr const char* backupBeforeFirmwareText = "Saving a backup of the log book before the firmware update...";
inline constexpr const char* installingFirmwareSheetText = "Installing an Corvex Vario Firmware, DO NOT DISCONNECT the device";
inline constexpr const char* logBookWarningTitle = "Warning!";
inline constexpr const char* logBookWarningText
    = "Before upgrading to the new firmware version the log book and all your track logs will be erased. Do you want to continue?";

} // namespace corvex
