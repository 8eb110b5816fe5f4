// corvex: the command-line front end over the same instrument core as the desktop
// program, for scripting and backups.
#include "Commands.h"

#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Corvex");
    QCoreApplication::setApplicationName("corvex");
    QCoreApplication::setApplicationVersion(CORVEX_VERSION);

    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        arguments.push_back(argument.toStdString());
    return corvex::cli::runCommandLine(arguments, std::cout, std::cerr);
}
