// corvex: the command-line front end over the same instrument core as the desktop
// program, for scripting and backups.
#include "Commands.h"

#include <QGuiApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Drawing a map with text (`airspaces render`) needs a GUI application, but never a
    // display: the command line must run over ssh and in scripts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Corvex");
    QCoreApplication::setApplicationName("corvex");
    QCoreApplication::setApplicationVersion(CORVEX_VERSION);

    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        arguments.push_back(argument.toStdString());
    return corvex::cli::runCommandLine(arguments, std::cout, std::cerr);
}
