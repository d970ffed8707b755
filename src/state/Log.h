// The program's messages for whoever runs it: one line each, "tarnivo: " first, on standard
// error (which a systemd unit's journal keeps). Any thread may write one. A service has no
// console: its lines also go to a log file of bounded size and to the system's log.
#pragma once

#include <QString>

class Log {
public:
    // `error`: the line tells of a failure (the system's log marks it so).
    static void say(const QString &text, bool error = false);

    // From now on each line also goes to the file at `path` (made when missing; its folder
    // must exist), with the time first. When it would grow past maxBytes it is renamed to
    // path + ".1", replacing an older one, and begun afresh: the two hold at most 2 * maxBytes.
    static void keepIn(const QString &path, qint64 maxBytes);
    // From now on each line also goes to the system's log (Windows: the Application event log,
    // source "Tarnivo"; Linux: nothing more, the journal keeps standard error).
    static void toSystemLog();
};
