// Notifications as receivers get them: a receiver of the test on 127.0.0.1 (a port chosen at run
// time) stands for the webhook, Alertmanager and ntfy, and answers as it is told to.
#include "AlertNotifier.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

namespace {
constexpr qint64 T0 = 1'700'000'000'000;

struct Request {
    QByteArray head;
    QByteArray body;
};

// Reads one request per connection; answers with the next status of `answers` (200 when none
// are left), or not at all while `silent`.
class Receiver : public QObject {
public:
    Receiver() {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }
    QUrl url(const char *path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path));
    }
    QList<Request> requests;
    QList<int> answers;
    bool silent = false;

private:
    void read(QTcpSocket *socket) {
        QByteArray &data = buffers[socket];
        data += socket->readAll();
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = data.left(end);
        const qsizetype length = head.toLower().indexOf("content-length:");
        const int size =
            length < 0 ? 0 : head.mid(length + 15).split('\r').first().trimmed().toInt();
        if (data.size() < end + 4 + size || silent)
            return;
        requests.append({head, data.mid(end + 4, size)});
        const int code = answers.isEmpty() ? 200 : answers.takeFirst();
        socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(code) +
                      " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }
    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> buffers;
};

Alerts::Alert busy(qint64 ended = 0) {
    return {"ProcessorBusy",
            "warning",
            "all",
            "Processor",
            "Busy: 90 % or more for a minute",
            97.5,
            T0,
            ended};
}

QJsonObject json(const QByteArray &body) {
    return QJsonDocument::fromJson(body).object();
}

// The end of the first alert of a push to Alertmanager.
QString pushedEnd(const Request &request) {
    return QJsonDocument::fromJson(request.body).array().at(0).toObject()["endsAt"].toString();
}

AlertSender::Timing quick() {
    AlertSender::Timing t;
    t.attemptMs = 2000;
    t.firstBackOffMs = 20;
    t.maxBackOffMs = 40;
    t.attempts = 3;
    return t;
}
} // namespace

class AlertNotifierTest : public QObject {
    Q_OBJECT
private slots:
    void receiversGetTheFiringAlertThenTheResolvedOne();
    void aFailedAttemptIsTriedAgain();
    void aFullBacklogDropsAndCounts();
};

void AlertNotifierTest::receiversGetTheFiringAlertThenTheResolvedOne() {
    Receiver hook, manager, ntfy;
    AlertNotifier notifier({hook.url("/hook"), manager.url("/api/v2/alerts"), ntfy.url("/topic")},
                           {"ws01", "http://ws01:8080/"}, quick());
    notifier.start();
    notifier.notify({busy()}, {busy()}, T0);
    QTRY_COMPARE(hook.requests.size(), 1);
    const QJsonObject firing = json(hook.requests[0].body);
    QCOMPARE(firing["version"].toString(), QStringLiteral("4"));
    QCOMPARE(firing["status"].toString(), QStringLiteral("firing"));
    const QJsonObject alert = firing["alerts"].toArray()[0].toObject();
    QCOMPARE(alert["labels"].toObject()["alertname"].toString(), QStringLiteral("ProcessorBusy"));
    QCOMPARE(alert["labels"].toObject()["hostname"].toString(), QStringLiteral("ws01"));
    QCOMPARE(alert["startsAt"].toString(), QStringLiteral("2023-11-14T22:13:20.000Z"));
    QCOMPARE(alert["endsAt"].toString(), QStringLiteral("0001-01-01T00:00:00Z"));
    QTRY_COMPARE(ntfy.requests.size(), 1);
    QVERIFY(ntfy.requests[0].head.contains("\r\nTitle: ProcessorBusy firing on ws01"));
    QVERIFY(ntfy.requests[0].head.contains("\r\nPriority: high"));
    QVERIFY(ntfy.requests[0].head.contains("\r\nTags: warning"));
    QTRY_COMPARE(manager.requests.size(), 1);
    // Alertmanager hears of a firing alert again each resendMs, valid for four of them.
    notifier.notify({}, {busy()}, T0 + AlertNotifier::resendMs - 1);
    notifier.notify({}, {busy()}, T0 + AlertNotifier::resendMs);
    QTRY_COMPARE(manager.requests.size(), 2);
    QCOMPARE(pushedEnd(manager.requests[1]), QStringLiteral("2023-11-14T22:18:20.000Z"));

    notifier.notify({busy(T0 + 90000)}, {}, T0 + 90000);
    QTRY_COMPARE(hook.requests.size(), 2);
    const QJsonObject resolved = json(hook.requests[1].body);
    QCOMPARE(resolved["status"].toString(), QStringLiteral("resolved"));
    QCOMPARE(resolved["alerts"].toArray().at(0).toObject()["endsAt"].toString(),
             QStringLiteral("2023-11-14T22:14:50.000Z"));
    QTRY_COMPARE(manager.requests.size(), 3);
    QCOMPARE(pushedEnd(manager.requests[2]), QStringLiteral("2023-11-14T22:14:50.000Z"));
    QCOMPARE(notifier.failed(), quint64(0));
}

void AlertNotifierTest::aFailedAttemptIsTriedAgain() {
    Receiver hook;
    hook.answers = {503, 500};
    AlertNotifier notifier({hook.url("/"), {}, {}}, {"ws01", ""}, quick());
    notifier.start();
    notifier.notify({busy()}, {busy()}, T0);
    QTRY_COMPARE(hook.requests.size(), 3);
    QCOMPARE(hook.requests[2].body, hook.requests[0].body);
    QCOMPARE(notifier.failed(), quint64(0));
    // Every attempt refused: given up and counted.
    hook.answers = {500, 500, 500};
    notifier.notify({busy(T0 + 1000)}, {}, T0 + 1000);
    QTRY_COMPARE(notifier.failed(), quint64(1));
    QCOMPARE(hook.requests.size(), 6);
}

void AlertNotifierTest::aFullBacklogDropsAndCounts() {
    Receiver hook;
    hook.silent = true;
    AlertSender sender("webhook", hook.url("/"), quick());
    sender.start();
    const size_t extra = 5;
    for (size_t i = 0; i < AlertSender::backlogSize + extra; ++i)
        sender.post({"{}", "application/json", {}});
    // The thread may have taken the first message off the backlog before the rest came.
    QVERIFY(sender.dropped() >= extra - 1 && sender.dropped() <= extra);
    sender.requestStop();
    QVERIFY(sender.wait(5000));
}

QTEST_GUILESS_MAIN(AlertNotifierTest)
#include "AlertNotifierTest.moc"
