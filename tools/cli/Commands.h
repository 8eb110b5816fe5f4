#pragma once

#include "CliSession.h"

#include <vector>

namespace corvex::cli {

struct CliCommand {
    const char* name;
    const char* usage; // arguments after the name
    const char* summary;
    int (*run)(CliContext& context);
};

// Every command, in the order --help lists them. A new command is one file defining
// its CliCommand and one line in Commands.cpp.
const std::vector<const CliCommand*>& allCommands();

} // namespace corvex::cli
