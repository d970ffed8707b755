// Answers heartbeat queries (product version, web server port) on UDP for as long as the
// process runs, whether or not the web server is running. It also sends the rounds that
// Discovery asks for and hands it the replies that come back. It sleeps in the kernel until a
// datagram comes or another thread wakes it (a round to send, a stop), never on a timer.
#pragma once

#include "ReplyLimiter.h"
#include "platform/Platform.h"

#include <QAbstractSocket>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

class QNetworkDatagram;
class QUdpSocket;

class Discovery;

class HeartbeatThread : public QThread {
    Q_OBJECT
public:
    // The heartbeat port, for the process-wide Discovery.
    HeartbeatThread();
    // Tests and the bench serve another port and wait less: intRetryMs is the pause between
    // two bind attempts while the port is taken, intSliceMs the longest a wait lasts should no
    // waker be available (otherwise waits have no time-out). Without a discovery, replies of
    // other responders are dropped and no round is ever sent. replyClock times the answer
    // limits.
    HeartbeatThread(quint16 intHeartbeatPort, int intRetryMs, int intSliceMs,
                    Discovery *discovery = nullptr,
                    ReplyLimiter::Clock replyClock = &ReplyLimiter::steadyNow);
    ~HeartbeatThread() override;

    // Ends the receive loop promptly (it does not wait for another datagram); used at exit.
    // Safe from any thread, also before the thread has started.
    void requestStop();

    // "statusNone" until run() starts, "statusEnabled" while it serves (or waits for the
    // port), "statusDisabled" once the loop has ended.
    QString status() const;
    // True while the socket holds the port; false before the first bind and while retrying.
    bool isBound() const;
    // What keeps the heartbeat from serving as it should, in one sentence that names the
    // port: another program holds it (so this one cannot bind it), or holds it too (so
    // answers meant for one of them may reach the other); empty when the port is this
    // program's alone. Each text is also logged, once.
    QString portProblem() const;

    // The problem a failed bind of the heartbeat port makes, with its cause (and, with a
    // retryMs, when it is tried again).
    static QString bindFailure(quint16 port, QAbstractSocket::SocketError error,
                               const QString &systemText, int retryMs);
    // Binds the port as the heartbeat does and lets it go again: the problem the heartbeat
    // would have with it, "" when it would be this program's alone. For the system report.
    static QString portCheck(quint16 port);

    // Answers to one address, and in all, within any second; requests past them go
    // unanswered (a forged source address would make us flood whoever it names).
    static constexpr int intRepliesPerAddress = 10;
    static constexpr int intRepliesTotal = 100;
    // Requests left unanswered for those limits since the process started, by every heartbeat.
    static quint64 droppedRequests();

signals:
    // From the heartbeat thread, whenever portProblem() changes.
    void portProblemChanged(const QString &problem);

public slots:
    void run() override;

private:
    // Binds socket to port as the heartbeat does; the port's problem ("" when none). The
    // socket holds the port unless the bind failed.
    static QString bindPort(QUdpSocket &socket, quint16 port, int retryMs);

    bool serving() const;
    bool stopRequested() const;
    void setStatus(const QString &status);
    void setBound(bool bound);
    void setPortProblem(const QString &problem);
    // Waits up to intRetryMs, or less when a stop is requested meanwhile.
    void pauseBeforeRetry();
    // Sends the round that is due, if any, from the heartbeat socket.
    void sendRound(QUdpSocket &socket);
    void handle(QUdpSocket &socket, const QNetworkDatagram &datagram);

    const quint16 intHeartbeatPort;
    const int intRetryMs;
    const int intSliceMs;
    Discovery *const discovery;
    // Made with the object and closed with it, so requestStop() and Discovery can wake the
    // thread at any time in between; waking is safe from any thread.
    const platform::WakerHandle waker;
    // The heartbeat thread only.
    ReplyLimiter limiter;
    QStringList loggedProblems;

    // Guards strStatus, boolStopRequested, boolBound and strPortProblem: the thread writes
    // them, the GUI thread (exit, the window) and tests read them or request the stop.
    // stopCondition wakes a retry pause.
    mutable QMutex statusMutex;
    QWaitCondition stopCondition;
    QString strStatus;
    bool boolStopRequested = false;
    bool boolBound = false;
    QString strPortProblem;
};
