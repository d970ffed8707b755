#include "AlertSender.h"

#include "Log.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

AlertSender::AlertSender(const QString &receiver, const QUrl &address, Timing limits)
    : QThread(nullptr), what(receiver), url(address), timing(limits) {}

AlertSender::~AlertSender() {
    requestStop();
    wait();
}

bool AlertSender::post(Message message) {
    QMutexLocker lock(&mutex);
    if (backlog.size() >= backlogSize) {
        ++intDropped;
        if (!dropping)
            Log::say(QStringLiteral("alerts: the %1 backlog is full (%2 messages); new ones are "
                                    "dropped until it drains")
                         .arg(what)
                         .arg(backlogSize));
        dropping = true;
        return false;
    }
    backlog.push_back(std::move(message));
    wake.wakeAll();
    return true;
}

void AlertSender::requestStop() {
    QMutexLocker lock(&mutex);
    stopping = true;
    stopAsked = true;
    wake.wakeAll();
}

bool AlertSender::pause(int ms) {
    QDeadlineTimer until(ms);
    QMutexLocker lock(&mutex);
    while (!stopping && !until.hasExpired())
        wake.wait(&mutex, until);
    return !stopping;
}

bool AlertSender::attempt(const Message &message, QString &why) {
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, message.contentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Tarnivo"));
    for (const auto &[name, value] : message.headers)
        request.setRawHeader(name, value);
    request.setTransferTimeout(timing.attemptMs);
    QNetworkReply *reply = manager.post(request, message.body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The attempt's whole time, connection included; and a stop aborts it at once.
    QDeadlineTimer limit(timing.attemptMs);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (stopAsked || limit.hasExpired())
            reply->abort();
    });
    check.start(50);
    if (!reply->isFinished())
        loop.exec();
    const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = reply->error() == QNetworkReply::NoError && code >= 200 && code < 300;
    if (!ok)
        why = code ? QStringLiteral("HTTP %1").arg(code)
                   : (limit.hasExpired()
                          ? QStringLiteral("no answer within %1 ms").arg(timing.attemptMs)
                          : reply->errorString());
    delete reply;
    return ok;
}

void AlertSender::run() {
    for (;;) {
        Message message;
        {
            QMutexLocker lock(&mutex);
            while (!stopping && backlog.empty()) {
                dropping = false;
                wake.wait(&mutex);
            }
            if (stopping)
                return;
            message = std::move(backlog.front());
            backlog.pop_front();
        }
        QString why;
        int backOff = timing.firstBackOffMs;
        bool done = false;
        for (int n = 1; n <= timing.attempts && !done; ++n) {
            done = attempt(message, why);
            if (!done && n < timing.attempts) {
                if (!pause(backOff))
                    return;
                backOff = std::min(backOff * 2, timing.maxBackOffMs);
            }
        }
        if (done) {
            ++intSent;
        } else if (!stopAsked) {
            ++intFailed;
            Log::say(QStringLiteral("alerts: %1 at %2 did not take a message after %3 attempts "
                                    "(%4); it is given up")
                         .arg(what, url.toDisplayString(QUrl::RemoveUserInfo))
                         .arg(timing.attempts)
                         .arg(why));
        }
    }
}
