// Where the program keeps what it must find again after a restart (the history): --state DIR,
// else the folder the system gives a service for it, else the user's own state folder.
#pragma once

#include <QString>

class StateFolder {
public:
    // %ProgramData%\Tarnivo on Windows (where the machine-wide settings file lies too);
    // elsewhere $STATE_DIRECTORY when systemd gives one (a unit's StateDirectory=), else
    // $XDG_STATE_HOME/tarnivo, else ~/.local/state/tarnivo.
    static QString defaultPath();
};
