// The machines of the peer list at a glance: who is asked, what a silent machine looks like.
#include "FleetSummaries.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QtTest>
#include <atomic>

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
            [&asked](const QString &address, int port, int waitMs) {
                ++asked;
                Q_UNUSED(waitMs);
                return address.endsWith(".1") && port == 8080
                           ? QJsonObject{{"processor", 12.5},
                                         {"memory", 40.0},
                                         {"host", QJsonObject{{"hostname", "ws-01"}}}}
                           : QJsonObject();
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
            [](const QString &, int, int waitMs) {
                QThread::msleep(ulong(waitMs));
                return QJsonObject();
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

    void aMachineThatAcceptsButNeverAnswersCostsOneWait() {
        QTcpServer silent; // never reads: the kernel completes the connection, nobody answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(FleetSummaries::fetchSummary("127.0.0.1", silent.serverPort(), 300).isEmpty());
        QVERIFY(timer.elapsed() >= 250 && timer.elapsed() < 1500);
        QVERIFY(FleetSummaries::fetchSummary("127.0.0.1", closedPort, 300).isEmpty());
    }
};

QTEST_GUILESS_MAIN(FleetSummariesTest)
#include "FleetSummariesTest.moc"
