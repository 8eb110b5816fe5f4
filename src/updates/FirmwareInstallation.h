#pragma once

#include "base/Bytes.h"
#include "updates/AvailableUpdates.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

class AlertPresenter;
class CorvexDevice;
class EventLoopTurner;
class LogSink;

// What the installation needs around it. The update window puts its update sheet
// behind the three sheet callbacks; the command line a progress bar on the terminal.
// Any callback may be empty.
struct FirmwareInstallationEnvironment {
    LogSink* log { nullptr };
    AlertPresenter* alerts { nullptr };
    // Turned for 0.01 s after each progress step so that windows repaint and device
    // removals are noticed; without one the loop runs straight through.
    EventLoopTurner* eventLoop { nullptr };
    std::function<void(const std::string& text, bool enableCancel)> showSheet;
    std::function<void()> hideSheet;
    // The sheet's progress bar (0 to 100), set and redrawn at once.
    std::function<void(int percent)> setProgress;
};

enum class FirmwareInstallationOutcome {
    NotStarted, // no data or no instrument: nothing said, nothing sent
    FileRefused, // the file is not firmware or is damaged: alerted, nothing sent
    Failed, // a line was rejected or not answered: alerted, reboot line sent
    Installed, // every line accepted; the instrument restarts and the link is closed
};

struct FirmwareInstallationResult {
    FirmwareInstallationOutcome outcome { FirmwareInstallationOutcome::NotStarted };
    std::size_t linesSent { 0 }; // accepted lines
    std::size_t totalLines { 0 };
};

// Writes a firmware file into the connected instrument line by line. The whole file is
// checked first; then each line is sent and its verdict awaited, the progress reported
// every hundredth of the lines (after every line when there are fewer than 100), and
// the reboot line sent last. On success the device is told its serial device went away,
// since the instrument restarts and leaves the bus.
FirmwareInstallationResult installFirmwareFromData(
    CorvexDevice& device, ByteView data, const FirmwareInstallationEnvironment& environment);

// Whether installing the offered firmware version over the current one erases the log
// book, so that the user must be warned: moving onto 1.365 or later from before it, or
// from a current version later than "2.4" to an offered one later than "2.4" (by the
// numeric comparison, under which 2.005 and 2.400 are both later than 2.4).
bool firmwareUpdateErasesLogBook(std::string_view currentVersion, std::string_view offeredVersion);

// The firmware a check offers the connected model in the window's mode, with the
// digest the feed gives for its file (when it gives one).
struct OfferedFirmware {
    std::optional<std::string> url;
    std::optional<std::string> version;
    std::optional<std::string> sha256;
    // Whether the check found it newer (or, for a release, different).
    bool isUpdate { false };
};
OfferedFirmware offeredFirmware(const AvailableUpdates& updates, bool beta);

// The texts of the installation, shared by the window and the command line.
inline constexpr const char* installingFirmwareSheetText = "Installing an Corvex Vario Firmware, DO NOT DISCONNECT the device";
inline constexpr const char* logBookWarningTitle = "Warning!";
inline constexpr const char* logBookWarningText
    = "Before upgrading to the new firmware version the log book and all your track logs will be erased. Do you want to continue?";

} // namespace corvex
