// One connection, on a plain system thread of its own: read one request, answer it, close.
#pragma once

#include "ConnectionControl.h"
#include "StaticFile.h"

#include <QDeadlineTimer>

#include <functional>
#include <memory>

class QSslConfiguration;
class TlsStream;

class WebserverThread {
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
        // Once every thread is taken, a connection that has waited on its client this long
        // gives way to a connection that waits for a thread (the listener decides which).
        int intGiveWay = 250;
    };

    // The request deadline is given: the listener counts it from the accept, so that the time a
    // connection waited for a thread is part of it; and the listener keeps the control, through
    // which it may ask the connection to give way. The peer's address is the accept's.
    WebserverThread(std::shared_ptr<ConnectionControl> control, const Timeouts &timeouts,
                    QDeadlineTimer requestDeadline, const QString &peer);
    ~WebserverThread();
    WebserverThread(const WebserverThread &) = delete;
    WebserverThread &operator=(const WebserverThread &) = delete;

    // Runs the connection on a new thread, which deletes it when run() is done and then calls
    // ended. False, and the connection deleted unrun, when no thread could be made. A thread is
    // joined by the next one to end, or by waitForAll().
    static bool start(std::unique_ptr<WebserverThread> connection, std::function<void()> ended);

    // Waits until every connection thread has ended, at most msecs; true when all have. Threads
    // are joined here, so a true answer means they are gone, C library and all, and exit may
    // tear down whatever they used. Any thread may wait.
    static bool waitForAll(int msecs);

    // Connection threads started and not yet ended.
    static int runningCount();

    void run();

private:
    void serve();
    // HTTPS: waits for the client's first bytes and shakes hands; false when the connection
    // ends here (a plain HTTP request gets the answer that says to use HTTPS).
    bool startTls(const QSslConfiguration &configuration);
    // The connection's own I/O, plain or through TLS: as the system layer's calls.
    qint64 receiveSome(char *buffer, qint64 size);
    qint64 sendSome(const char *data, qint64 size);
    int waitReadable(int msecs);
    int waitWritable(int msecs);
    // One piece of the request into buffer: waits up to one read wait, never past the request
    // deadline. The number of bytes; 0 when none came in time or the client ended its sending.
    qint64 receive(char *buffer, qint64 size);
    // Sends all of data; false when the client took none of it for the stall time, or went,
    // or the connection was asked to give way.
    bool sendAll(const char *data, qint64 size);
    // Waits up to msecs for room to send; false at the time-out or once asked to give way.
    bool waitForRoom(int msecs);
    bool sendFile(const QByteArray &head, StaticFile::Opened &file);
    // True when the client has sent more than was read (closing now would reset the answer).
    bool moreToRead(char *buffer, qint64 size);
    void linger(char *buffer, qint64 size);

    std::shared_ptr<ConnectionControl> control;
    qintptr intSocket;
    Timeouts timeouts;
    QDeadlineTimer requestDeadline;
    QString strPeer;
    // HTTPS: the session on this connection, made and ended in run(); null for plain HTTP.
    std::unique_ptr<TlsStream> tls;
};
