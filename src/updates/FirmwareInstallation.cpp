#include "updates/FirmwareInstallation.h"

#include "base/Format.h"
#include "device/CorvexDevice.h"
#include "device/InstrumentSession.h"
#include "platform/AlertPresenter.h"
#include "platform/LogSink.h"
#include "platform/OperationContext.h"
#include "updates/FirmwareFile.h"
#include "base/VersionComparison.h"

#include <algorithm>
#include <vector>

namespace corvex {

namespace {

constexpr const char* fileNotCorrectTitle = "The firmware file is not correct";
constexpr const char* notInstalledTitle = "The firmware was not installed";

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

// "Lark firmware 1.400", "firmware 2.300" or "Wren firmware", as far as the header tells.
std::string describeFile(const FirmwareMatch& match)
{
    std::string text = match.fileModel ? std::string(match.fileModel->name) + " firmware" : std::string("firmware");
    return match.fileVersion ? text + " " + *match.fileVersion : text;
}

// "d.ddd" in thousandths.
FirmwareVersion versionOfText(const std::string& text)
{
    return FirmwareVersion(static_cast<std::uint16_t>(
        (text[0] - '0') * 1000 + (text[2] - '0') * 100 + (text[3] - '0') * 10 + (text[4] - '0')));
}

const char* refusalTitle(FirmwareFit fit)
{
    switch (fit) {
    case FirmwareFit::OtherModel:
        return "The firmware is not for this instrument";
    case FirmwareFit::NotAsOffered:
        return "The firmware is not the one offered";
    case FirmwareFit::Fits:
    case FirmwareFit::SameVersion:
    case FirmwareFit::Downgrade:
        break;
    }
    return notInstalledTitle;
}

// A summary as the start of a sentence.
std::string sentence(std::string text)
{
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z')
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    return text;
}

} // namespace

FirmwareMatch matchFirmware(const FirmwareFile& file, FirmwareVersion running, const std::optional<FirmwareOffer>& offer)
{
    FirmwareMatch match;
    match.running = running;
    match.offer = offer;
    match.fileVersion = firmwareVersionNamedIn(file);
    std::optional<FirmwareVersion> version;
    if (match.fileVersion)
        version = versionOfText(*match.fileVersion);
    // Every model the header claims, by name and by the version's row; each must be
    // the instrument's.
    std::vector<const VarioModel*> claimed = firmwareModelsNamedIn(file);
    if (version)
        claimed.push_back(&version->model());
    match.fileModel = claimed.empty() ? nullptr : claimed.front();
    const InstrumentGeneration model = running.generation();
    for (const VarioModel* claim : claimed) {
        if (claim->generation != model) {
            match.fileModel = claim;
            match.fit = FirmwareFit::OtherModel;
            return match;
        }
    }
    if (offer && (!version || !version->isEqualTo(offer->version) || offer->model != model)) {
        match.fit = FirmwareFit::NotAsOffered;
        return match;
    }
    if (!version)
        return match;
    if (version->thousandths() < running.thousandths())
        match.fit = FirmwareFit::Downgrade;
    else if (version->thousandths() == running.thousandths())
        match.fit = FirmwareFit::SameVersion;
    return match;
}

std::string describeFirmwareMatch(const FirmwareMatch& match)
{
    const std::string instrument = match.running.modelName();
    switch (match.fit) {
    case FirmwareFit::Fits:
        return {};
    case FirmwareFit::OtherModel:
        return "the file is " + describeFile(match) + ", and the instrument is a " + instrument;
    case FirmwareFit::NotAsOffered:
        return "the versions feed offered " + std::string(varioModel(match.offer->model).name) + " firmware "
            + match.offer->version + ", but the file it gave is "
            + (match.fileVersion ? describeFile(match) : std::string("firmware that names no version"))
            + ": the feed and the file disagree";
    case FirmwareFit::Downgrade:
        return "the file is " + describeFile(match) + ", older than the " + match.running.text() + " the " + instrument + " runs";
    case FirmwareFit::SameVersion:
        return "the file is " + describeFile(match) + ", which the " + instrument + " runs already";
    }
    return {};
}

Alert firmwareRefusalAlert(const FirmwareMatch& match)
{
    return Alert { refusalTitle(match.fit), sentence(describeFirmwareMatch(match)) + ". Nothing was sent to the instrument.",
        { "Ok" } };
}

FirmwareInstallationResult installFirmware(InstrumentSession& session, ByteView data, bool erasesLogBook,
    const FirmwareInstallationOptions& options, const OperationContext& context)
{
    FirmwareInstallationResult result;
    result.erasesLogBook = erasesLogBook;
    LogSink& log = context.log();
    const auto alert = [&](const std::string& message, const std::string& text, Alert::Kind kind = Alert::Kind::Warning) {
        if (options.alerts)
            options.alerts->showAlert(Alert { message, text, { "Ok" }, kind });
    };

    // The file first: an empty or damaged one is the file's fault, whatever the
    // instrument is doing.
    const FirmwareFile file = readFirmwareFile(data);
    if (file.problem) {
        if (*file.problem != FirmwareFileProblem::NotAscii)
            logLine(log, "Firmware file refused: %s", refusalText(file).c_str());
        result.outcome = FirmwareInstallationOutcome::FileRefused;
        alert(fileNotCorrectTitle, refusalText(file));
        return result;
    }
    result.versionInFile = firmwareVersionNamedIn(file);
    const std::vector<std::string>& lines = file.lines;
    const std::size_t total = lines.size();
    result.totalLines = total;

    CorvexDevice& device = session.device();
    if (!device.deviceIsConnected() || !device.hasOpenLine()) {
        result.error = DeviceError::of(DeviceErrorKind::Unplugged, "no instrument is connected");
        logLine(log, "Firmware not installed: no instrument is connected");
        alert(notInstalledTitle, sentence(describeDeviceError(*result.error)));
        return result;
    }
    auto lease = session.borrow("installing firmware");
    if (!lease) {
        result.error = lease.error();
        logLine(log, "Firmware not installed: %s", lease.error().detail.c_str());
        alert(notInstalledTitle, sentence(describeDeviceError(*result.error)));
        return result;
    }
    result.versionBefore = device.firmwareVersion();

    // A signed file is installed only as what it is: the instrument's model, the
    // version the feed offered, and an older one only when the pilot asked for it.
    result.match = matchFirmware(file, result.versionBefore, options.offer);
    if (result.match->refused(options.allowDowngrade)) {
        result.outcome = FirmwareInstallationOutcome::WrongFirmware;
        logLine(log, "Firmware not installed: %s", describeFirmwareMatch(*result.match).c_str());
        if (options.alerts)
            options.alerts->showAlert(firmwareRefusalAlert(*result.match));
        return result;
    }
    if (result.match->fit == FirmwareFit::SameVersion || result.match->fit == FirmwareFit::Downgrade)
        logLine(log, "Firmware installed as asked: %s", describeFirmwareMatch(*result.match).c_str());

    const CorvexDevice::OperationScope scope(device, context);

    if (erasesLogBook) {
        // The new firmware may not read the old log book: its flights are saved while
        // the old firmware still can, and nothing is flashed unless all of them are.
        context.beginStep(backupBeforeFirmwareText);
        const auto info = device.getDeviceInfo();
        LogBookBackupOptions backup = options.backup;
        backup.alerts = options.alerts;
        backup.confirmEraseWithoutBackup = nullptr;
        if (info) {
            result.backup = backUpLogBook(device, formatString("%X", info->deviceId), backup, context);
        } else {
            result.backup = LogBookBackupResult { std::nullopt, 0, std::nullopt };
            context.finish();
        }
        if (!result.backup->complete()) {
            result.outcome = FirmwareInstallationOutcome::BackupFailed;
            logLine(log, "Firmware not installed: the log book could not be saved first");
            alert(notInstalledTitle, sentence(describeFirmwareInstallationFailure(result)) + ".");
            return result;
        }
        if (result.backup->folder)
            alert("The log book was saved", describeLogBookBackup(*result.backup) + " before the firmware update.",
                Alert::Kind::Information);
    }

    context.beginStep(installingFirmwareSheetText);

    // Every hundredth line; a file of fewer than 100 lines reports after every line.
    const std::size_t step = std::max<std::size_t>(1, total / 100);
    std::size_t count = 0;
    for (const std::string& line : lines) {
        auto accepted = device.uploadFirmwareLine(line, count);
        if (!accepted) {
            result.error = accepted.error();
            break;
        }
        ++count;
        if (count % step == 0) {
            const double fraction = static_cast<double>(count) / static_cast<double>(total);
            logLine(log, "Firmware upload progress %ld", static_cast<long>(fraction * 100.0));
            context.progress(fraction);
        }
    }
    result.linesSent = count;
    const bool failed = result.error.has_value();
    if (failed)
        logLine(log, "Firmware installation failed at line %lu: %s (%s)", static_cast<unsigned long>(count),
            deviceErrorKindName(result.error->kind), result.error->detail.c_str());

    context.finish();

    // The last line handled, its record type turned into "E": the instrument takes it
    // as the order to restart.
    std::string rebootLine = failed ? lines[count] : lines.back();
    rebootLine[1] = 'E';
    logLine(log, "Reboot line #%d: %s", static_cast<int>(count), rebootLine.c_str());
    device.rebootDeviceAfterFirmwareUpdate(rebootLine, count);

    if (failed) {
        result.outcome = FirmwareInstallationOutcome::Failed;
        // A refusal keeps the product's words; anything else says what happened.
        alert("Oops!", result.error->kind == DeviceErrorKind::Refused
                ? std::string("Firmware updating error!")
                : "Firmware updating error! " + sentence(describeFirmwareInstallationFailure(result)) + ".");
        return result;
    }
    result.outcome = FirmwareInstallationOutcome::Installed;
    device.corvexDeviceTerminatedAtBsdPath(device.deviceBsdPath());
    return result;
}

bool firmwareInstallationTook(const FirmwareInstallationResult& installation, FirmwareVersion running)
{
    if (installation.outcome != FirmwareInstallationOutcome::Installed)
        return false;
    return !(installation.versionInFile && running == installation.versionBefore
        && compareVersions(running.text(), *installation.versionInFile) != VersionOrder::same);
}

FirmwareRestartResult finishFirmwareInstallation(
    InstrumentSession::Lease& lease, const FirmwareInstallationResult& installation, LogSink& log)
{
    FirmwareRestartResult result;
    const FirmwareVersion running = lease.device().firmwareVersion();
    result.took = firmwareInstallationTook(installation, running);
    if (!result.took) {
        logLine(log, "Firmware installation did not take: the instrument runs %s again, not %s", running.text().c_str(),
            installation.versionInFile.value_or("the new firmware").c_str());
        return result;
    }
    if (!installation.erasesLogBook)
        return result;
    result.eraseAttempted = true;
    logLine(log, "Erasing the log book");
    result.erased = lease.device().eraseAllLogs().hasValue();
    if (!result.erased)
        logLine(log, "Log book erase failed");
    return result;
}

FirmwareRestartResult finishFirmwareInstallation(
    InstrumentSession& session, const FirmwareInstallationResult& installation, LogSink& log)
{
    auto lease = session.borrow("erasing the log book after the firmware update");
    if (!lease) {
        FirmwareRestartResult result;
        result.took = firmwareInstallationTook(installation, session.device().firmwareVersion());
        logLine(log, "Log book not erased: %s", lease.error().detail.c_str());
        return result;
    }
    return finishFirmwareInstallation(*lease, installation, log);
}

std::string describeFirmwareInstallationFailure(const FirmwareInstallationResult& result)
{
    const std::string at = formatString(" at line %lu of %lu", static_cast<unsigned long>(result.linesSent),
        static_cast<unsigned long>(result.totalLines));
    switch (result.outcome) {
    case FirmwareInstallationOutcome::Installed:
        return {};
    case FirmwareInstallationOutcome::FileRefused:
        return "the file is not sound firmware; nothing was sent to the instrument";
    case FirmwareInstallationOutcome::WrongFirmware:
        return (result.match ? describeFirmwareMatch(*result.match) : std::string("the file does not fit the instrument"))
            + "; nothing was sent to the instrument";
    case FirmwareInstallationOutcome::NotStarted:
        return (result.error ? deviceErrorSummary(*result.error) : std::string("no instrument is connected"))
            + "; nothing was sent to the instrument";
    case FirmwareInstallationOutcome::BackupFailed:
        return "the log book could not be saved before the update, which erases it ("
            + (result.backup ? describeLogBookBackup(*result.backup) : std::string("no backup")) + "); nothing was sent to the instrument";
    case FirmwareInstallationOutcome::Failed:
        break;
    }
    if (!result.error || result.error->kind == DeviceErrorKind::Refused)
        return formatString("the instrument refused line %lu of %lu; it keeps its old firmware",
            static_cast<unsigned long>(result.linesSent), static_cast<unsigned long>(result.totalLines));
    if (result.error->kind == DeviceErrorKind::Unplugged)
        return "the instrument was disconnected" + at + "; connect it again and repeat the installation";
    return deviceErrorSummary(*result.error) + at + "; connect it again and repeat the installation";
}

} // namespace corvex
