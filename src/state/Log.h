// The program's messages for whoever runs it: one line each, "tarnivo: " first, on standard
// error (which a systemd unit's journal keeps). Any thread may write one.
#pragma once

#include <QString>

class Log {
public:
    static void say(const QString &text);
};
