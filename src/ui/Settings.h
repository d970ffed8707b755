// What the program remembers between runs (QSettings, organisation and application "Tarnivo"):
// the port of the last successful Start, and whether to start the server when Tarnivo starts.
#pragma once

#include <QtGlobal>

class Settings {
public:
    // 0 when no Start has succeeded yet.
    static quint16 port();
    static void setPort(quint16 port);
    static bool startOnLaunch();
    static void setStartOnLaunch(bool start);
};
