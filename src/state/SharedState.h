// Process-wide state shared between the control window, the listener, the connection threads
// and the heartbeat.
#pragma once

#include <QString>
#include <atomic>

// The web server port of the last Start; 0 before the first. Written by the GUI thread, read by
// the heartbeat thread at any time: one atomic word, no lock.
extern std::atomic<quint32> intPort;

// The web root of the last Start ("" before the first). Connection threads of an earlier
// listener may still read it while a later Start assigns it, so both sides go through these
// two functions, which hold one lock for the copy.
QString contentPath();
void setContentPath(const QString &path);
