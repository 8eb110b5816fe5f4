// The one option parser of the command line: global options before the command, the
// command's own options after it, the same help, messages and exit codes for all.
#include "Commands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <optional>
#include <ostream>

namespace corvex::cli {

namespace {

constexpr std::size_t descriptionColumn = 32;

// A synopsis and its description; a long synopsis gets its description on the next
// line, under the others.
void printRow(std::ostream& out, const std::string& left, const std::string& right)
{
    out << "  " << left;
    if (left.size() >= descriptionColumn)
        out << "\n" << std::string(descriptionColumn + 2, ' ');
    else
        out << std::string(descriptionColumn - left.size(), ' ');
    out << right << "\n";
}

std::string synopsis(const CliCommand& command)
{
    return std::string(command.name) + (command.usage[0] ? " " : "") + command.usage;
}

void printCommands(std::ostream& out, const std::vector<const CliCommand*>& commands)
{
    out << "Commands:\n";
    for (const CliCommand* command : commands)
        printRow(out, synopsis(*command), command->summary);
}

void printGlobalHelp(std::ostream& out)
{
    out << "Usage: corvex [--port PATH] [--timeout SECONDS] [--units U] [--utc] COMMAND [ARGUMENTS]\n\n"
        << "Talks to a Corvex Vario on its USB serial line. Without --port it uses the first\n"
        << "instrument found on the USB bus or in $CORVEX_INSTRUMENT_DIR.\n\n";
    printCommands(out, allCommands());
    out << "\nOptions:\n";
    printRow(out, "--port PATH", "the instrument's serial device (e.g. /dev/ttyACM0)");
    printRow(out, "--timeout SECONDS", "the longest one network transfer may take in all (default: "
            + std::to_string(defaultTransferTimeout.count()) + ")");
    printRow(out, "--units metric|imperial|aviation", "the units of the library's text (default: the preference, else metric)");
    printRow(out, "--utc", "the library's times in UTC, not the take-off's local time");
    printRow(out, "--help", "this text");
    printRow(out, "--version", "the program's version");
    out << "\ncorvex COMMAND --help shows the options of a command.\n"
        << "CORVEX_LOG_STDERR=1 shows the diagnostic log on stderr.\n";
}

// `path` is the command as typed: "download", "airspaces convert".
void printCommandHelp(std::ostream& out, const std::string& path, const CliCommand& command)
{
    out << "Usage: corvex [--port PATH] " << path << (command.usage[0] ? " " : "") << command.usage << "\n\n"
        << command.summary << "\n\n";
    if (!command.subcommands.empty()) {
        printCommands(out, command.subcommands);
        out << "\n";
    }
    out << "Options:\n";
    for (const CliOption& option : command.options)
        printRow(out, std::string("--") + option.name + (option.valueName ? std::string(" ") + option.valueName : ""),
            option.description);
    printRow(out, "--help", "this text");
}

QCommandLineOption helpOption()
{
    return QCommandLineOption(QStringList { "h", "help" });
}

// The parser sees each byte of an argument as one Latin-1 character and gives the same
// bytes back, so that a path that is not UTF-8 comes through whole; the option names and
// the "--" and "=" it looks for are ASCII either way.
QString fromBytes(const std::string& bytes) { return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())); }
std::string toBytes(const QString& text) { return text.toLatin1().toStdString(); }

// The parser's own messages, in the form of the program's others: "Unknown option
// 'x'." becomes "unknown option 'x'".
std::string parserMessage(const QCommandLineParser& parser)
{
    std::string message = toBytes(parser.errorText());
    if (!message.empty() && message.back() == '.')
        message.pop_back();
    if (!message.empty() && message.front() >= 'A' && message.front() <= 'Z')
        message.front() = static_cast<char>(message.front() - 'A' + 'a');
    return message;
}

// QCommandLineParser takes the program's name first.
bool parse(QCommandLineParser& parser, const std::vector<std::string>& arguments)
{
    QStringList list { QStringLiteral("corvex") };
    for (const std::string& argument : arguments)
        list << fromBytes(argument);
    // "-port" reads as "--port", not as the switches p, o, r and t.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    return parser.parse(list);
}

std::vector<std::string> toStrings(const QStringList& list)
{
    std::vector<std::string> strings;
    for (const QString& item : list)
        strings.push_back(toBytes(item));
    return strings;
}

// Seconds above 0, fractions allowed, at most a day.
std::optional<std::chrono::milliseconds> parseTimeout(const std::string& text)
{
    bool ok = false;
    const double seconds = QString::fromStdString(text).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 86400)
        return std::nullopt;
    return std::chrono::milliseconds(std::max<long long>(1, static_cast<long long>(seconds * 1000.0)));
}

int runCommand(const CliCommand& command, const std::string& path, const std::vector<std::string>& arguments,
    const std::optional<std::string>& port, std::chrono::milliseconds transferTimeout, const CliContext& shown,
    std::ostream& out, std::ostream& err)
{
    auto usageError = [&](const std::string& message) {
        printError(err, message + " (usage: corvex " + path + (command.usage[0] ? " " : "") + command.usage + ")");
        return static_cast<int>(UsageError);
    };

    QCommandLineParser parser;
    parser.addOption(helpOption());
    for (const CliOption& option : command.options) {
        parser.addOption(option.valueName ? QCommandLineOption(option.name, option.description, option.valueName)
                                          : QCommandLineOption(option.name, option.description));
    }
    // Everything after a sub-command's name is the sub-command's to parse.
    if (!command.subcommands.empty())
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parse(parser, arguments))
        return usageError(parserMessage(parser));
    if (parser.isSet("help")) {
        printCommandHelp(out, path, command);
        return Success;
    }
    std::vector<std::string> positional = toStrings(parser.positionalArguments());

    if (!command.subcommands.empty()) {
        if (positional.empty())
            return usageError("missing sub-command");
        for (const CliCommand* subcommand : command.subcommands) {
            if (positional.front() == subcommand->name) {
                positional.erase(positional.begin());
                return runCommand(*subcommand, path + " " + subcommand->name, positional, port, transferTimeout, shown, out, err);
            }
        }
        return usageError("unknown sub-command " + positional.front());
    }

    if (positional.size() < command.minimumArguments)
        return usageError("missing argument");
    if (positional.size() > command.maximumArguments)
        return usageError("unexpected argument " + positional[command.maximumArguments]);
    for (const CliOption& option : command.options) {
        if (option.required && !parser.isSet(option.name))
            return usageError(std::string("missing --") + option.name);
    }

    CliContext context { std::move(positional), {}, port, out, err, transferTimeout, shown.units, shown.utc };
    for (const CliOption& option : command.options) {
        if (!parser.isSet(option.name))
            continue;
        // A switch is there once, with no value.
        context.options[option.name] = option.valueName ? toStrings(parser.values(option.name)) : std::vector<std::string> { "" };
    }
    return command.run(context);
}

} // namespace

int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    QCommandLineParser parser;
    parser.addOption(helpOption());
    parser.addOption(QCommandLineOption("version"));
    parser.addOption(QCommandLineOption("port", "the instrument's serial device", "PATH"));
    parser.addOption(QCommandLineOption("timeout", "the longest one transfer may take", "SECONDS"));
    parser.addOption(QCommandLineOption("units", "the units of the text", "metric|imperial|aviation"));
    parser.addOption(QCommandLineOption("utc", "times in UTC"));
    // The global options come before the command; what follows it is the command's.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parse(parser, arguments)) {
        printError(err, parserMessage(parser) + " (see corvex --help)");
        return UsageError;
    }
    if (parser.isSet("help")) {
        printGlobalHelp(out);
        return Success;
    }
    if (parser.isSet("version")) {
        out << "corvex " << CORVEX_VERSION << "\n";
        return Success;
    }
    std::vector<std::string> positional = toStrings(parser.positionalArguments());
    if (positional.empty()) {
        printGlobalHelp(err);
        return UsageError;
    }
    std::optional<std::string> port;
    if (parser.isSet("port"))
        port = toBytes(parser.value("port"));
    const auto transferTimeout = parser.isSet("timeout") ? parseTimeout(toBytes(parser.value("timeout")))
                                                         : std::optional<std::chrono::milliseconds>(defaultTransferTimeout);
    if (!transferTimeout) {
        printError(err, "--timeout takes a number of seconds above 0, not '" + toBytes(parser.value("timeout"))
                + "' (see corvex --help)");
        return UsageError;
    }

    CliContext shown { {}, {}, {}, out, err, defaultTransferTimeout, std::nullopt, false };
    if (parser.isSet("units")) {
        shown.units = parseUnitSystem(toBytes(parser.value("units")));
        if (!shown.units) {
            printError(err, "--units is metric, imperial or aviation, not '" + toBytes(parser.value("units")) + "' (see corvex --help)");
            return UsageError;
        }
    }
    shown.utc = parser.isSet("utc");

    const std::string name = positional.front();
    positional.erase(positional.begin());
    for (const CliCommand* command : allCommands()) {
        if (name == command->name)
            return runCommand(*command, name, positional, port, *transferTimeout, shown, out, err);
    }
    printError(err, "unknown command " + name + " (see corvex --help)");
    return UsageError;
}

} // namespace corvex::cli
