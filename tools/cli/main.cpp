// corvex: the command-line front end over the same instrument core as the desktop
// program, for scripting and backups.
#include "Commands.h"

#include <QGuiApplication>

#include <iostream>
#include <string>
#include <vector>

namespace {

QtMessageHandler qtHandler = nullptr;

// Without XDG_RUNTIME_DIR (cron, su, containers) Qt falls back to a folder of its own
// and says so on every start; the program's own folders fall back without a word
// (InstrumentDirectory), and a warning on every command would spoil scripts' stderr.
void withoutRuntimeFolderWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    qtHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing a map with text (`airspaces render`) needs a GUI application, but never a
    // display: the command line must run over ssh and in scripts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qtHandler = qInstallMessageHandler(withoutRuntimeFolderWarning);
    QGuiApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Corvex");
    QCoreApplication::setApplicationName("corvex");
    QCoreApplication::setApplicationVersion(CORVEX_VERSION);

    // The arguments as the bytes given, not as QCoreApplication::arguments() decodes
    // them: a folder whose name is not UTF-8 must be that folder, never a look-alike made
    // beside it. The application has taken its own options (-platform ...) out of argv.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return corvex::cli::runCommandLine(arguments, std::cout, std::cerr);
}
