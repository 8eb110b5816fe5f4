// corvex: the command-line front end over the same instrument core as the desktop
// program, for scripting and backups.
#include "Commands.h"

#include <QCoreApplication>

#include <cstring>
#include <iostream>
#include <string>

using namespace corvex::cli;

namespace {

void printUsage(std::ostream& out)
{
    out << "Usage: corvex [--port PATH] COMMAND [ARGUMENTS]\n\n"
        << "Talks to a Corvex Vario on its USB serial line. Without --port it uses the first\n"
        << "instrument found on the USB bus or in $CORVEX_INSTRUMENT_DIR.\n\n"
        << "Commands:\n";
    for (const CliCommand* command : allCommands()) {
        std::string synopsis = std::string(command->name) + (command->usage[0] ? " " : "") + command->usage;
        out << "  " << synopsis;
        // A long synopsis gets its summary on the next line, under the others.
        if (synopsis.size() >= 32)
            out << "\n" << std::string(34, ' ');
        else
            out << std::string(32 - synopsis.size(), ' ');
        out << command->summary << "\n";
    }
    out << "\nOptions:\n"
        << "  --port PATH                     the instrument's serial device (e.g. /dev/ttyACM0)\n"
        << "  --help                          this text\n"
        << "  --version                       the program's version\n\n"
        << "CORVEX_LOG_STDERR=1 shows the diagnostic log on stderr.\n";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Corvex");
    QCoreApplication::setApplicationName("corvex");
    QCoreApplication::setApplicationVersion(CORVEX_VERSION);

    std::optional<std::string> port;
    int index = 1;
    for (; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            printUsage(std::cout);
            return Success;
        }
        if (argument == "--version") {
            std::cout << "corvex " << CORVEX_VERSION << "\n";
            return Success;
        }
        if (argument == "--port") {
            if (index + 1 >= argc) {
                printError(std::cerr, "--port needs a path");
                return UsageError;
            }
            port = argv[++index];
            continue;
        }
        if (argument.starts_with("--port=")) {
            port = argument.substr(std::strlen("--port="));
            continue;
        }
        if (argument.starts_with("-")) {
            printError(std::cerr, "unknown option " + argument + " (see corvex --help)");
            return UsageError;
        }
        break;
    }
    if (index >= argc) {
        printUsage(std::cerr);
        return UsageError;
    }
    std::string name = argv[index++];
    for (const CliCommand* command : allCommands()) {
        if (name != command->name)
            continue;
        CliContext context { {}, port, std::cout, std::cerr };
        for (; index < argc; ++index)
            context.arguments.emplace_back(argv[index]);
        return command->run(context);
    }
    printError(std::cerr, "unknown command " + name + " (see corvex --help)");
    return UsageError;
}
