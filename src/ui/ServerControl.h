// Starting and stopping the web server, for the control window and for the program without
// it: the listener, its self-test, and the cause of a failure in plain words.
#pragma once

#include <QAbstractSocket>
#include <QString>

class Webserver;
// The current listener: made at Start, deleted at Stop or when Start fails. GUI thread only.
extern Webserver *webserver;

class ServerControl {
public:
    // The web root that Start serves, unless set: the directory content beside the executable,
    // else share/tarnivo/content beside its directory (an installed package). GUI thread only.
    static QString webRoot();
    static void setWebRoot(const QString &directory);

    // Stores port in intPort and the web root, makes the listener (`webserver`) and asks it for
    // the start page. True when it answered; otherwise no listener is left and `cause` says why.
    // Looking for other machines is allowed from a successful start until stop().
    static bool start(quint32 port, QString &cause);
    static void stop();

    // The cause of a failed listen, in plain words.
    static QString listenFailure(quint32 port, QAbstractSocket::SocketError error,
                                 const QString &systemText);

private:
    // Asks our own server for the start page; the body that arrived, or why none did.
    static QString selfTest(quint32 port, QString &cause);
};
