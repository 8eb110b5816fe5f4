// corvex update check: what the vendor's versions feed offers for this program and for
// the connected instrument's firmware, with the desktop program's rules.
#include "Commands.h"

#include "device/FirmwareVersion.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "platform/VendorEndpoints.h"
#include "updates/UpdateCheck.h"

#include <QEventLoop>

#include <memory>
#include <ostream>

namespace corvex::cli {

namespace {

std::string versionsFeedUrl(const CliContext& context)
{
    if (const auto server = context.option("server"))
        return VendorEndpoints(*server).versionsFeedUrl();
    PreferencesStore preferences;
    preferences.registerDefaultsFromPropertyList(":/InitialDefaults.plist");
    return preferences.vendorEndpoints().versionsFeedUrl();
}

// One line for one item: what runs, what is offered, and whether to update.
void printItem(std::ostream& out, const std::string& item, const std::string& current,
    const std::optional<std::string>& offered, const std::optional<std::string>& url, bool updateAvailable)
{
    out << item << ": " << current;
    if (!offered) {
        out << ", nothing offered: up to date\n";
        return;
    }
    // The versions feed's texts come from the network.
    out << ", offered " << visibleText(*offered) << (updateAvailable ? ": update available\n" : ": up to date\n");
    if (updateAvailable && url)
        out << "  " << visibleText(*url) << "\n";
}

int runUpdateCheck(CliContext& context)
{
    const bool beta = context.option("beta").has_value();

    // The instrument is optional: without one only the program is checked. A port the
    // user named must work, though.
    std::optional<FirmwareVersion> firmware;
    CliSession session(context.port);
    if (const auto failure = session.connect(context.port.has_value())) {
        if (*failure != NoInstrument || context.port)
            return *failure;
    } else {
        if (!session.device().getDeviceInfo()) {
            printError(context.err, "the instrument at " + session.portPath() + " does not answer (no device info)");
            return InstrumentFailed;
        }
        firmware = session.device().firmwareVersion();
    }

    SystemLogSink log;
    QtHttpClient http(context.transferTimeout);
    const std::string feedUrl = versionsFeedUrl(context);
    UpdateChecker checker(http, log, feedUrl);
    const std::string software = CORVEX_VERSION;
    const std::string firmwareText = firmware ? firmware->text() : firmwareVersionText(0);

    std::optional<UpdateCheckResult> outcome;
    QEventLoop loop;
    const VarioModel& model = firmware ? firmware->model() : varioModels[0];
    checker.checkUpdates(software, firmwareText, model.generation, [&](const UpdateCheckResult& result) {
        outcome = result;
        loop.quit();
    });
    // The request's inactivity time-out ends a server that stops answering.
    if (!outcome)
        loop.exec();

    if (outcome->failure != UpdateCheckResult::Failure::none) {
        printError(context.err, describeUpdateCheckFailure(*outcome, feedUrl));
        return UpdateCheckFailed;
    }

    const AvailableUpdates& updates = outcome->updates;
    context.out << "Versions feed: " << feedUrl << (beta ? " (beta)" : " (release)") << "\n";
    const bool softwareUpdate = beta ? updates.softwareBetaUpdateAvailable : updates.softwareUpdateAvailable;
    printItem(context.out, "Program", software, beta ? updates.softwareBetaVersion : updates.softwareVersion,
        beta ? updates.softwareBetaUrl : updates.softwareUrl, softwareUpdate);

    bool firmwareUpdate = false;
    if (!firmware) {
        context.out << "Firmware: no instrument connected\n";
    } else {
        const OfferedFirmware& offered = updates.offeredFirmware(beta);
        firmwareUpdate = offered.isUpdate;
        printItem(context.out, std::string("Firmware (") + model.name + ")", firmwareText, offered.version,
            offered.url, firmwareUpdate);
    }
    return softwareUpdate || firmwareUpdate ? UpdateAvailable : Success;
}

const CliCommand updateCheckCommand {
    .name = "check",
    .usage = "[--beta] [--server URL]",
    .summary = "what the versions feed offers for this program and the connected instrument's firmware; "
               "exits 10 when an update exists",
    .options = {
        { "beta", nullptr, "the beta entries instead of the releases" },
        { "server", "URL", "the vendor's web server (default: the preferences, or $CORVEX_VENDOR_URL)" },
    },
    .run = runUpdateCheck,
};

} // namespace

extern const CliCommand updateCommand {
    .name = "update",
    .usage = "check [--beta]",
    .summary = "software and firmware updates from the vendor's web server",
    .subcommands = { &updateCheckCommand },
};

} // namespace corvex::cli
