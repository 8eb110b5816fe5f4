#include "Commands.h"

namespace corvex::cli {

extern const CliCommand infoCommand;
extern const CliCommand flightsCommand;

const std::vector<const CliCommand*>& allCommands()
{
    static const std::vector<const CliCommand*> commands {
        &infoCommand,
        &flightsCommand,
    };
    return commands;
}

} // namespace corvex::cli
