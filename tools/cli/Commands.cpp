#include "Commands.h"

namespace corvex::cli {

extern const CliCommand infoCommand;
extern const CliCommand flightsCommand;
extern const CliCommand pilotCommand;
extern const CliCommand downloadCommand;
extern const CliCommand logbookCommand;
extern const CliCommand airspacesCommand;
extern const CliCommand updateCommand;
extern const CliCommand firmwareCommand;
extern const CliCommand syncCommand;
extern const CliCommand libraryCommand;
extern const CliCommand scoreCommand;
extern const CliCommand airspaceCheckCommand;
extern const CliCommand debriefCommand;
extern const CliCommand compareCommand;

const std::vector<const CliCommand*>& allCommands()
{
    static const std::vector<const CliCommand*> commands {
        &infoCommand,
        &flightsCommand,
        &pilotCommand,
        &downloadCommand,
        &logbookCommand,
        &airspacesCommand,
        &updateCommand,
        &firmwareCommand,
        &syncCommand,
        &libraryCommand,
        &scoreCommand,
        &airspaceCheckCommand,
        &debriefCommand,
        &compareCommand,
    };
    return commands;
}

} // namespace corvex::cli
