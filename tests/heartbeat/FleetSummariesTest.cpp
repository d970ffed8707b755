// The machines of the peer list at a glance: who is asked, what a silent machine looks like.
#include "FleetSummaries.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <atomic>
#include <future>
#include <thread>

namespace {
// A peer that answers one connection with these bytes, from a thread of its own.
struct OneAnswer {
    std::promise<quint16> listening;
    std::thread thread;
    explicit OneAnswer(const QByteArray &bytes) {
        thread = std::thread([this, bytes] {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost);
            listening.set_value(server.serverPort());
            if (!server.waitForNewConnection(5000))
                return;
            QTcpSocket *client = server.nextPendingConnection();
            client->write(bytes);
            client->waitForBytesWritten(5000);
            client->disconnectFromHost();
            if (client->state() != QAbstractSocket::UnconnectedState)
                client->waitForDisconnected(5000);
        });
    }
    ~OneAnswer() { thread.join(); }
    quint16 port() { return listening.get_future().get(); }
};

QByteArray ok(const QByteArray &body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + body;
}
} // namespace

class FleetSummariesTest : public QObject {
    Q_OBJECT
private slots:
    void runningMonitorsAreAskedAndSilentOnesSayNoAnswer() {
        std::atomic<int> asked{0};
        FleetSummaries fleet(
            [] {
                return QVector<Peer>{{"198.18.0.1", 8080, "1.1", 0, 0, 0, true},
                                     {"198.18.0.2", 0, "1.1", 0, 0, 0, false},
                                     {"198.18.0.3", -1, "", 0, 0, 0, false},
                                     {"198.18.0.4", 8081, "1.1", 0, 0, 0, false}};
            },
            [&asked](const FleetClient &, const QString &address, int port, int) {
                ++asked;
                if (address.endsWith(".4"))
                    return FleetClient::Reply{{}, "needs a password"};
                return FleetClient::Reply{
                    address.endsWith(".1") && port == 8080
                        ? QJsonObject{{"processor", 12.5},
                                      {"memory", 40.0},
                                      {"host", QJsonObject{{"hostname", "ws-01"}}}}
                        : QJsonObject(),
                    {}};
            });
        const QJsonArray machines =
            QJsonDocument::fromJson(fleet.document().toUtf8()).object().value("machines").toArray();
        // Stopped monitors and ports not yet known are not asked.
        QCOMPARE(asked.load(), 2);
        QCOMPARE(machines.size(), 2);
        QCOMPARE(
            machines.at(0).toObject().value("summary").toObject().value("processor").toDouble(),
            12.5);
        QCOMPARE(machines.at(1).toObject().value("address").toString(),
                 QStringLiteral("198.18.0.4"));
        QVERIFY(machines.at(1).toObject().value("summary").isNull());
        // Each machine named as its summary names it; a silent one has no name.
        QCOMPARE(machines.at(0).toObject().value("hostname"), QJsonValue("ws-01"));
        QVERIFY(machines.at(1).toObject().value("hostname").isNull());
        QCOMPARE(fleet.hostNames(), (QHash<QString, QString>{{"198.18.0.1", "ws-01"}}));
        QCOMPARE(machines.at(1).toObject().value("problem"), QJsonValue("needs a password"));
        QVERIFY(!machines.at(0).toObject().contains("problem"));
        // Another dashboard within the gap gets the same answer without a second round.
        fleet.document();
        QCOMPARE(asked.load(), 2);
    }

    // Many machines that never answer (addresses a neighbour claims with forged answers): the
    // round, and every dashboard waiting for it, still takes one wait.
    void aRoundOfManySilentMachinesTakesOneWait() {
        FleetSummaries fleet(
            [] {
                QVector<Peer> many;
                for (int i = 1; i <= 100; ++i)
                    many.append({QString("198.18.1.%1").arg(i), 8080, "1.1", 0, 0, 0, false});
                return many;
            },
            [](const FleetClient &, const QString &, int, int waitMs) {
                QThread::msleep(ulong(waitMs));
                return FleetClient::Reply();
            });
        QElapsedTimer timer;
        timer.start();
        const QJsonArray machines =
            QJsonDocument::fromJson(fleet.document().toUtf8()).object().value("machines").toArray();
        QVERIFY2(timer.elapsed() < FleetSummaries::waitMs + 500,
                 QByteArray::number(timer.elapsed()));
        QCOMPARE(machines.size(), 100);
        QVERIFY(machines.at(99).toObject().value("summary").isNull());
    }

    void onlyTheKnownFieldsOfASummaryAreRelayed_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("relayed");
        const QByteArray own =
            R"({"memory":41.5,"processor":3.2,"volume":{"free":20,"used":80,"volume":"/"}})";
        QTest::newRow("as a monitor writes it") << ok(own) << own;
        QTest::newRow("fields of its own, and texts for figures")
            << ok(R"({"processor":"<b>","memory":7,"script":"x","volume":{"volume":1}})")
            << QByteArray(R"({"memory":7,"processor":null,"volume":null})");
        QTest::newRow("a long volume name")
            << ok(R"({"processor":1,"memory":2,"volume":{"volume":")" + QByteArray(300, 'v') +
                  R"(","used":1,"free":99,"more":[1]}})")
            << QByteArray(R"({"memory":2,"processor":1,"volume":{"free":99,"used":1,"volume":")" +
                          QByteArray(256, 'v') + R"("}})");
        QTest::newRow("a control character, which would reach every viewer")
            << ok(R"({"processor":1,"memory":2,"volume":{"volume":"/mnt/\u0007"}})")
            << QByteArray(R"({"memory":2,"processor":1,"volume":{"free":null,"used":null,)"
                          "\"volume\":\"/mnt/\xEF\xBF\xBD\"}}");
        // The host facts the panel shows, their lists cut at 16 and unknown fields dropped.
        QByteArray reasons;
        for (int i = 0; i < 20; ++i)
            reasons += QByteArray(i ? "," : "") + "\"r" + QByteArray::number(i) + "\"";
        QByteArray kept;
        for (int i = 0; i < 16; ++i)
            kept += QByteArray(i ? "," : "") + "\"r" + QByteArray::number(i) + "\"";
        QTest::newRow("its host")
            << ok(R"({"processor":1,"memory":2,"host":{"hostname":"ws-01","users":["x"],)"
                  R"("rebootRequired":true,"rebootReasons":[)" +
                  reasons +
                  R"(],)"
                  R"("services":{"read":true,"stopped":[{"name":"b","state":"stopped","x":1}]}}})")
            << QByteArray(R"({"host":{"hostname":"ws-01","rebootReasons":[)" + kept +
                          R"(],"rebootRequired":true,"services":{"read":true,"stopped":)"
                          R"([{"displayName":"","name":"b","state":"stopped"}]},)"
                          R"("upSeconds":null},"memory":2,"processor":1,"volume":null})");
        // What fires there: three known texts each, cut at 16 alerts.
        QByteArray alerts, alertsKept;
        for (int i = 0; i < 17; ++i) {
            alerts += QByteArray(i ? "," : "") + R"({"name":"A","severity":"warning","x":1})";
            if (i < 16)
                alertsKept +=
                    QByteArray(i ? "," : "") + R"({"name":"A","severity":"warning","words":""})";
        }
        QTest::newRow("its alerts") << ok(R"({"processor":1,"memory":2,"alerts":[)" + alerts + "]}")
                                    << QByteArray(R"({"alerts":[)" + alertsKept +
                                                  R"(],"memory":2,"processor":1,"volume":null})");
        QTest::newRow("past 16 KiB")
            << ok(R"({"processor":1,"pad":")" + QByteArray(16384, ' ') + R"("})")
            << QByteArray("{}");
    }
    void onlyTheKnownFieldsOfASummaryAreRelayed() {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, relayed);
        QCOMPARE(QJsonDocument(FleetClient::relayed(answer)).toJson(QJsonDocument::Compact),
                 relayed);
    }

    // A peer's 100 KB summary, whole and well formed: never read past 16 KiB, never relayed.
    void aSummaryIsCutAt16KiBOnTheWire() {
        OneAnswer peer(ok(R"({"processor":1,"memory":2,"volume":{"volume":")" +
                          QByteArray(100'000, 'v') + R"(","used":1,"free":99}})"));
        QCOMPARE(FleetClient().fetch("127.0.0.1", peer.port(), 3000).summary, QJsonObject());
        OneAnswer small(ok(R"({"processor":1,"memory":2,"volume":null})"));
        QCOMPARE(FleetClient().fetch("127.0.0.1", small.port(), 3000).summary.value("memory"),
                 QJsonValue(2));
    }

    void aMachineThatAcceptsButNeverAnswersCostsOneWait() {
        QTcpServer silent; // never reads: the kernel completes the connection, nobody answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(FleetClient().fetch("127.0.0.1", silent.serverPort(), 300).summary.isEmpty());
        QVERIFY(timer.elapsed() >= 250 && timer.elapsed() < 1500);
        QVERIFY(FleetClient().fetch("127.0.0.1", closedPort, 300).summary.isEmpty());
    }
};

QTEST_GUILESS_MAIN(FleetSummariesTest)
#include "FleetSummariesTest.moc"
