// Posts notifications to one receiver (a webhook, Alertmanager, an ntfy topic) from a thread of
// its own, so that a receiver that is slow or down never holds up the judge, the sampling or a
// request: messages wait in a bounded backlog; each attempt has a time limit; a failed one is
// tried again after a back-off that doubles up to a ceiling, until the attempts run out. A
// message that finds the backlog full is dropped and counted, and the log says so once per
// run of drops.
#pragma once

#include "AlertPayloads.h"

#include <QMutex>
#include <QThread>
#include <QUrl>
#include <QWaitCondition>
#include <atomic>
#include <deque>

class AlertSender : public QThread {
    Q_OBJECT
public:
    struct Message {
        QByteArray body;
        QByteArray contentType;
        AlertPayloads::Headers headers;
    };
    struct Timing {
        int attemptMs = 10000;
        int firstBackOffMs = 2000;
        int maxBackOffMs = 60000;
        int attempts = 5;
    };
    static constexpr size_t backlogSize = 64;

    // `what` names the receiver in the log ("webhook", "Alertmanager", "ntfy").
    AlertSender(const QString &what, const QUrl &url, Timing timing);
    ~AlertSender() override;

    // Queues a message; false (and counted) when the backlog is full.
    bool post(Message message);

    quint64 dropped() const { return intDropped.load(); }
    quint64 failed() const { return intFailed.load(); }
    quint64 sent() const { return intSent.load(); }

    // Ends the thread after the running attempt is aborted; what waits is not sent.
    void requestStop();

protected:
    void run() override;

private:
    // One attempt: true when the receiver answered 2xx within the time limit.
    bool attempt(const Message &message, QString &why);
    // Sleeps up to ms, or until a stop is asked; false when stopping.
    bool pause(int ms);

    const QString what;
    const QUrl url;
    const Timing timing;
    // Guards backlog, stopping and dropping; wake is signalled with it held.
    QMutex mutex;
    QWaitCondition wake;
    std::deque<Message> backlog;
    bool stopping = false;
    bool dropping = false; // a drop was logged and the backlog has not drained since
    std::atomic<bool> stopAsked{false};
    std::atomic<quint64> intDropped{0}, intFailed{0}, intSent{0};
};
