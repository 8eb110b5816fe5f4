#include "updates/FirmwareInstallation.h"

#include "base/Format.h"
#include "device/CorvexDevice.h"
#include "platform/AlertPresenter.h"
#include "platform/EventLoop.h"
#include "platform/LogSink.h"
#include "updates/FirmwareFile.h"
#include "updates/VersionComparison.h"

#include <algorithm>

namespace corvex {

namespace {

constexpr const char* fileNotCorrectTitle = "The firmware file is not correct";
constexpr double progressTurnSeconds = 0.01;

// What the user reads when the file is refused. A file that is not text keeps the
// bare alert; the others say why, since the file may well be a download cut short.
std::string refusalText(const FirmwareFile& file)
{
    switch (*file.problem) {
    case FirmwareFileProblem::NotAscii:
        return " ";
    case FirmwareFileProblem::NoFirmwareLines:
        return "The file holds no firmware: none of its lines is an S-record. Nothing was sent to the instrument.";
    case FirmwareFileProblem::DamagedLine:
        return formatString("Line %lu of the firmware is damaged (not a valid S-record). Nothing was sent to the instrument.",
            static_cast<unsigned long>(file.damagedLine + 1));
    case FirmwareFileProblem::NoTermination:
        return "The firmware ends without its closing record: the file is incomplete. Nothing was sent to the instrument.";
    }
    return " ";
}

} // namespace

FirmwareInstallationResult installFirmwareFromData(
    CorvexDevice& device, ByteView data, const FirmwareInstallationEnvironment& environment)
{
    FirmwareInstallationResult result;
    if (data.empty() || !device.deviceIsConnected())
        return result;

    const FirmwareFile file = readFirmwareFile(data);
    if (file.problem) {
        if (*file.problem != FirmwareFileProblem::NotAscii)
            logLine(*environment.log, "Firmware file refused: %s", refusalText(file).c_str());
        result.outcome = FirmwareInstallationOutcome::FileRefused;
        if (environment.alerts)
            environment.alerts->showAlert(Alert { fileNotCorrectTitle, refusalText(file), { "Ok" } });
        return result;
    }

    if (environment.showSheet)
        environment.showSheet(installingFirmwareSheetText, false);

    const std::vector<std::string>& lines = file.lines;
    const std::size_t total = lines.size();
    result.totalLines = total;
    // Every hundredth line; a file of fewer than 100 lines reports after every line.
    const std::size_t step = std::max<std::size_t>(1, total / 100);
    std::size_t count = 0;
    bool failed = false;
    for (const std::string& line : lines) {
        if (device.uploadFirmwareLine(line, count) != 0) {
            failed = true;
            break;
        }
        ++count;
        if (count % step == 0) {
            const long progress = static_cast<long>(static_cast<double>(count) / static_cast<double>(total) * 100.0);
            logLine(*environment.log, "Firmware upload progress %ld", progress);
            if (environment.setProgress)
                environment.setProgress(static_cast<int>(progress));
            if (environment.eventLoop)
                environment.eventLoop->runEventLoopFor(progressTurnSeconds);
        }
    }
    result.linesSent = count;

    if (environment.hideSheet)
        environment.hideSheet();

    // The last line handled, its record type turned into "E": the instrument takes it
    // as the order to restart.
    std::string rebootLine = failed ? lines[count] : lines.back();
    rebootLine[1] = 'E';
    logLine(*environment.log, "Reboot line #%d: %s", static_cast<int>(count), rebootLine.c_str());
    device.rebootDeviceAfterFirmwareUpdate(rebootLine, count);

    if (failed) {
        result.outcome = FirmwareInstallationOutcome::Failed;
        if (environment.alerts)
            environment.alerts->showAlert(Alert { "Oops!", "Firmware updating error!", { "Ok" } });
        return result;
    }
    result.outcome = FirmwareInstallationOutcome::Installed;
    device.corvexDeviceTerminatedAtBsdPath(device.deviceBsdPath());
    return result;
}

bool firmwareUpdateErasesLogBook(std::string_view currentVersion, std::string_view offeredVersion)
{
    if (isEarlier(currentVersion, "1.365") && !isEarlier(offeredVersion, "1.365"))
        return true;
    return isLater(currentVersion, "2.4") && isLater(offeredVersion, "2.4");
}

OfferedFirmware offeredFirmware(const AvailableUpdates& updates, bool beta)
{
    if (updates.theDeviceIsWren) {
        return beta ? OfferedFirmware { updates.firmwareBetaUrlV2, updates.firmwareBetaVersionV2,
                          updates.firmwareBetaSha256V2, updates.firmwareBetaUpdateAvailableV2 }
                    : OfferedFirmware { updates.firmwareUrlV2, updates.firmwareVersionV2, updates.firmwareSha256V2,
                          updates.firmwareUpdateAvailableV2 };
    }
    return beta ? OfferedFirmware { updates.firmwareBetaUrl, updates.firmwareBetaVersion, updates.firmwareBetaSha256,
                      updates.firmwareBetaUpdateAvailable }
                : OfferedFirmware { updates.firmwareUrl, updates.firmwareVersion, updates.firmwareSha256,
                      updates.firmwareUpdateAvailable };
}

} // namespace corvex
