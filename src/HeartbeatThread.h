// Answers heartbeat queries (product version, web server port) on UDP for as long as the
// process runs, whether or not the web server is running.
#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class HeartbeatThread : public QThread {
    Q_OBJECT
public:
    HeartbeatThread();
    // Tests and the bench serve another port and wait less: intRetryMs is the pause between
    // two bind attempts while the port is taken, intSliceMs the longest a stop request waits.
    HeartbeatThread(quint16 intHeartbeatPort, int intRetryMs, int intSliceMs);

    // Ends the receive loop promptly (it does not wait for another datagram); used at exit.
    // Safe from any thread, also before the thread has started.
    void requestStop();

    // "statusNone" until run() starts, "statusEnabled" while it serves (or waits for the
    // port), "statusDisabled" once the loop has ended.
    QString status() const;
    // True while the socket holds the port; false before the first bind and while retrying.
    bool isBound() const;

public slots:
    void run() override;

private:
    bool serving() const;
    bool stopRequested() const;
    void setStatus(const QString &status);
    void setBound(bool bound);
    // Waits up to intRetryMs, or less when a stop is requested meanwhile.
    void pauseBeforeRetry();

    const quint16 intHeartbeatPort;
    const int intRetryMs;
    const int intSliceMs;

    // Guards strStatus, boolStopRequested and boolBound: the thread writes them, the GUI
    // thread (exit) and tests read them or request the stop. stopCondition wakes a retry pause.
    mutable QMutex statusMutex;
    QWaitCondition stopCondition;
    QString strStatus;
    bool boolStopRequested = false;
    bool boolBound = false;
};
