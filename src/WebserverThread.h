// One connection: read one request, answer it, close.
#pragma once

#include <QDeadlineTimer>
#include <QThread>

class QFile;
class QTcpSocket;

class WebserverThread : public QThread {
    Q_OBJECT
public:
    // The time limits of one connection, in milliseconds.
    struct Timeouts {
        // The whole request (head and announced body) must arrive within this, however the
        // client paces it, so that a trickling client cannot hold a worker for long.
        int intRequestDeadline = 10000;
        // A response is cut off when the client takes none of it for this long.
        int intStall = 30000;
        // After an answer that left request bytes unread, they are read and thrown away for
        // at most this long, so that closing does not reset the answer away.
        int intLinger = 2000;
    };

    explicit WebserverThread(qintptr intSocket);
    // The request deadline runs from now.
    WebserverThread(qintptr intSocket, const Timeouts &timeouts);
    // The request deadline is given: the listener counts it from the accept, so that the time a
    // connection waited for a thread is part of it.
    WebserverThread(qintptr intSocket, const Timeouts &timeouts, QDeadlineTimer requestDeadline);
    ~WebserverThread() override;

    // Waits until no connection thread is running any more, at most msecs; true when none is.
    // Used at exit, so that nothing is torn down under a thread that still serves.
    static bool waitForAll(int msecs);

    // Connection threads counted from construction to the end of run(); see waitForAll().
    static int runningCount();

public slots:
    void run() override;

private:
    void serve(QTcpSocket &socket);
    bool sendFile(QTcpSocket &socket, QFile &file, qint64 size);
    bool drain(QTcpSocket &socket, qint64 limit);
    void linger(QTcpSocket &socket);
    void leave();

    qintptr intSocket;
    Timeouts timeouts;
    QDeadlineTimer requestDeadline;
    // True while this thread is counted in runningCount(): from construction to the end of
    // run(), or to destruction for a thread that never ran. Guarded by the count's own mutex.
    bool boolCounted = false;
};
