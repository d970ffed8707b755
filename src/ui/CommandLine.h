// The program's options: read from the arguments, checked, and listed for --help. One table
// row per option (CommandLine.cpp); the same options on Windows and Linux.
#pragma once

#include <QString>
#include <QStringList>

class CommandLine {
public:
    // Reads the arguments after the program's name. An unknown option, a missing or bad value
    // or a stray argument is refused: strError then holds the reason, one line.
    static CommandLine parse(const QStringList &arguments);
    // The --help text: usage and one line per option.
    static QString help();

    // 0 when not given.
    quint16 intPort = 0;
    // Empty when not given: the content directory beside the executable.
    QString strContent;
    // Empty when not given: the machine-wide settings file in its usual place.
    QString strConfig;
    // Empty when not given: the state folder in its usual place.
    QString strState;
    QString strAllowed; // --allowed: web/allowedAddresses for the service's installation
    bool boolStart = false;
    bool boolHeadless = false;
    bool boolHelp = false;
    bool boolVersion = false;
    bool boolInstallService = false;
    bool boolUninstallService = false;
    QString strError;
};
