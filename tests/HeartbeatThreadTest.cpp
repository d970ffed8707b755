#include "HeartbeatThread.h"
#include "SharedState.h"
#include "platform/windows_wine.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>
#include <memory>

namespace {
const QByteArray versionRequest =
    "Start:Heartbeat\nstrType:typeRequest\nstrCommand:commandVersion\nStop:Heartbeat";
const QByteArray portRequest =
    "Start:Heartbeat\nstrType:typeRequest\nstrCommand:commandPort\nStop:Heartbeat";

quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

// Asks from a port of its own on another loopback address and listens on the heartbeat port
// (shared with the thread), where every answer goes.
struct Requester {
    QUdpSocket sender;
    QUdpSocket listener;
    quint16 port;
    explicit Requester(quint16 port) : port(port) {
        const QHostAddress address(QStringLiteral("127.0.0.2"));
        sender.bind(address, 0);
        listener.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }
    void send(const QByteArray &datagram) {
        sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
    }
    QByteArray answer(int ms = 3000) {
        if (!listener.hasPendingDatagrams() && !listener.waitForReadyRead(ms)) {
            return QByteArray();
        }
        const QNetworkDatagram datagram = listener.receiveDatagram();
        // Sent from the bound socket, so from the heartbeat port too.
        return datagram.senderPort() == port ? datagram.data() : QByteArray("wrong source port");
    }
};

// Under Wine a socket follows Linux's sharing rules, where every socket on a port must ask to
// share it, and Windows' default bind asks nothing: a requester on the same machine cannot
// listen beside the heartbeat there (the Windows program is asked from another host instead).
const char wineSharesNoPort[] =
    "Wine applies Linux's port sharing, so no requester can listen beside the heartbeat here";

struct RunningHeartbeat {
    HeartbeatThread thread;
    RunningHeartbeat(quint16 port) : thread(port, 50, 50) { thread.start(); }
    ~RunningHeartbeat() {
        thread.requestStop();
        thread.wait();
    }
};
} // namespace

class HeartbeatThreadTest : public QObject {
    Q_OBJECT
private slots:
    void requestsAreAnsweredAtTheHeartbeatPortWithThePortOfTheMoment() {
        if (runningUnderWine())
            QSKIP(wineSharesNoPort);
        const quint16 port = freeUdpPort();
        RunningHeartbeat heartbeat(port);
        QTRY_VERIFY(heartbeat.thread.isBound());
        Requester requester(port);

        intPort = 0;
        requester.send(portRequest);
        QVERIFY(requester.answer().endsWith("\nintPort:0\nStop:Heartbeat"));
        intPort = 80;
        requester.send(portRequest);
        QCOMPARE(requester.answer().size(), 85);
        intPort = 0;
        // Nothing for the malformed request, so the next answer is the version reply.
        requester.send(versionRequest + "\n");
        requester.send(versionRequest);
        QCOMPARE(requester.answer().size(), 92);
        QVERIFY(requester.answer(300).isEmpty());
        QVERIFY(!requester.sender.hasPendingDatagrams());
    }

    void queuedDatagramsAreAllAnsweredInArrivalOrder() {
        if (runningUnderWine())
            QSKIP(wineSharesNoPort);
        const quint16 port = freeUdpPort();
        RunningHeartbeat heartbeat(port);
        QTRY_VERIFY(heartbeat.thread.isBound());
        Requester requester(port);
        for (int i = 0; i < 60; ++i) {
            requester.send(i % 2 ? portRequest : versionRequest);
        }
        for (int i = 0; i < 60; ++i) {
            const QByteArray answer = requester.answer();
            QVERIFY2(answer.startsWith("Start:"), qPrintable(QString::number(i)));
            QCOMPARE(answer.contains("commandPort"), bool(i % 2));
        }
    }

    void aTakenPortIsServedOnceItIsFreed() {
        if (runningUnderWine())
            QSKIP(wineSharesNoPort);
        const quint16 port = freeUdpPort();
        auto holder = std::make_unique<QUdpSocket>();
        QVERIFY(holder->bind(QHostAddress::AnyIPv4, port, QUdpSocket::DontShareAddress));
        RunningHeartbeat heartbeat(port);
        QTest::qWait(300);
        QVERIFY(!heartbeat.thread.isBound());
        QCOMPARE(heartbeat.thread.status(), QStringLiteral("statusEnabled"));
        holder.reset();
        QTRY_VERIFY_WITH_TIMEOUT(heartbeat.thread.isBound(), 3000);
        Requester requester(port);
        requester.send(versionRequest);
        QCOMPARE(requester.answer().size(), 92);
    }

    void aStopRequestEndsTheLoopWithoutAnotherDatagram_data() {
        QTest::addColumn<bool>("portTaken");
        QTest::newRow("waiting for datagrams") << false;
        QTest::newRow("waiting to bind again") << true;
    }
    void aStopRequestEndsTheLoopWithoutAnotherDatagram() {
        QFETCH(bool, portTaken);
        const quint16 port = freeUdpPort();
        QUdpSocket holder;
        if (portTaken) {
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, port, QUdpSocket::DontShareAddress));
        }
        // A minute between bind attempts, to show the stop does not wait for the next one.
        HeartbeatThread thread(port, 60000, 250);
        QCOMPARE(thread.status(), QStringLiteral("statusNone"));
        thread.start();
        QTRY_COMPARE(thread.status(), QStringLiteral("statusEnabled"));
        QTest::qWait(100);
        QElapsedTimer elapsed;
        elapsed.start();
        thread.requestStop();
        QVERIFY(thread.wait(2000));
        QVERIFY2(elapsed.elapsed() < 1000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(thread.status(), QStringLiteral("statusDisabled"));
    }
};

QTEST_GUILESS_MAIN(HeartbeatThreadTest)
#include "HeartbeatThreadTest.moc"
