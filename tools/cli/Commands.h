#pragma once

#include "CliSession.h"

#include <cstddef>
#include <vector>

namespace corvex::cli {

// One option of a command, always spelled --name (or --name=VALUE).
struct CliOption {
    const char* name;
    const char* valueName; // nullptr: a switch without a value
    const char* description;
    bool required { false };
};

struct CliCommand {
    const char* name;
    const char* usage; // synopsis of what follows the name
    const char* summary;
    std::vector<CliOption> options {};
    std::size_t minimumArguments { 0 }; // positional arguments after the name
    std::size_t maximumArguments { 0 };
    int (*run)(CliContext& context) { nullptr };
    // A command made of sub-commands takes the sub-command's name as its first argument.
    std::vector<const CliCommand*> subcommands {};
};

// Every command, in the order --help lists them. A new command is one file defining
// its CliCommand and one line in Commands.cpp.
const std::vector<const CliCommand*>& allCommands();

// Parses the whole command line with the one option parser, prints help and usage
// errors, and runs the command. Returns the exit code.
int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace corvex::cli
