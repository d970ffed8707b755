// Process-wide state shared between the control window, the listener, the connection threads
// and the heartbeat.
#pragma once

#include <QString>
#include <atomic>

// The web server port of the last Start, as typed; 0 before the first. The window's self-test
// and Open in Browser use it. GUI thread only, atomic for the tests that set it from others.
extern std::atomic<quint32> intPort;
// The port on which the web server listens now; 0 when it does not (before the first Start,
// after Stop, after a failed Start). The heartbeat's port reply gives this one, so that other
// machines never list a port where nothing of ours answers. Written by whoever starts or ends
// the listener (the GUI thread), read by the heartbeat thread at any time: one atomic word.
extern std::atomic<quint32> intListeningPort;

// The web root of the last Start ("" before the first). Connection threads of an earlier
// listener may still read it while a later Start assigns it, so both sides go through these
// two functions, which hold one lock for the copy.
QString contentPath();
void setContentPath(const QString &path);
