#include "Commands.h"

#include <cstdio>
#include <ostream>

namespace corvex::cli {

namespace {

int runInfo(CliContext& context)
{
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    auto info = session.device().getDeviceInfo();
    if (!info) {
        printError(context.err, "the instrument at " + session.portPath() + " does not answer (no device info)");
        return InstrumentFailed;
    }
    char battery[32];
    std::snprintf(battery, sizeof battery, "%.1f", info->batteryVoltage / 10.0);
    // The first two lines are the main window's identity lines.
    char serial[32];
    std::snprintf(serial, sizeof serial, "%X", info->deviceId);
    context.out << "Serial Number: " << serial << "\n"
                << "Device Firmware: " << info->firmwareVer << "\n"
                << "Model: " << session.device().firmwareVersion().modelName() << "\n"
                << "Battery: " << battery << " V\n";
    return Success;
}

} // namespace

extern const CliCommand infoCommand {
    .name = "info",
    .usage = "",
    .summary = "the instrument's serial number, firmware, model and battery",
    .options = {},
    .run = runInfo,
};

} // namespace corvex::cli
