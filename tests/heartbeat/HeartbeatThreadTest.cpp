#include "HeartbeatThread.h"
#include "Discovery.h"
#include "SharedState.h"
#include "platform/Platform.h"
#include "platform/windows_wine.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <atomic>
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

// Rounds that stay on this machine: the one adapter is the loopback network, whose broadcast
// address 127.255.255.255 reaches only local sockets.
// Answers count for a minute, however slow the machine.
Discovery::Settings loopbackSettings() {
    Discovery::Settings settings;
    settings.intRoundGapMs = 0;
    settings.intAnswerWaitMs = 60000;
    return settings;
}
std::vector<platform::Adapter> loopbackAdapter() {
    platform::Adapter adapter;
    adapter.address = "127.0.0.1";
    adapter.mask = "255.0.0.0";
    adapter.running = true;
    for (const QNetworkInterface &network : QNetworkInterface::allInterfaces()) {
        if (network.type() == QNetworkInterface::Loopback)
            adapter.index = quint32(network.index());
    }
    return {adapter};
}

// A clock for the answer limits that a second passes at every reading: nothing is ever limited.
qint64 aSecondPerReading() {
    static std::atomic<qint64> now{0};
    return now += 1000;
}

// The voluntary and involuntary context switches of this process's thread with that name,
// or -1 when there is none (Linux only).
long long contextSwitches(const QString &name) {
    const QString tasks = QStringLiteral("/proc/self/task");
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + "/" + task + "/comm");
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name.toUtf8())
            continue;
        QFile status(tasks + "/" + task + "/status");
        status.open(QIODevice::ReadOnly);
        long long total = 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.contains("ctxt_switches:"))
                total += line.split(':').at(1).trimmed().toLongLong();
        }
        return total;
    }
    return -1;
}

// Under Wine a socket follows Linux's sharing rules, where every socket on a port must ask to
// share it, and Windows' default bind asks nothing: a requester on the same machine cannot
// listen beside the heartbeat there (the Windows program is asked from another host instead).
const char wineSharesNoPort[] =
    "Wine applies Linux's port sharing, so no requester can listen beside the heartbeat here";
// Under Wine a datagram sent from a socket bound to another loopback address (127.0.0.2)
// arrives from 127.0.0.1, so other hosts cannot be played on one machine there.
const char wineKeepsNoSenderAddress[] =
    "Wine gives a datagram from 127.0.0.2 the sender 127.0.0.1, so no other host can be played";

struct RunningHeartbeat {
    HeartbeatThread thread;
    RunningHeartbeat(quint16 port, Discovery *discovery = nullptr, const QString &name = {},
                     ReplyLimiter::Clock clock = &ReplyLimiter::steadyNow)
        : thread(port, 50, 50, discovery, std::move(clock)) {
        thread.setObjectName(name);
        thread.start();
    }
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

        intListeningPort = 0;
        requester.send(portRequest);
        QVERIFY(requester.answer().endsWith("\nintPort:0\nStop:Heartbeat"));
        intListeningPort = 80;
        requester.send(portRequest);
        QCOMPARE(requester.answer().size(), 85);
        intListeningPort = 0;
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
        RunningHeartbeat heartbeat(port, nullptr, {}, aSecondPerReading);
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

    // A second program on the port, as a second Tarnivo: said once, in words that name the
    // port, however many times the bind is tried; gone once the port is this one's alone.
    void anotherHolderOfThePortIsSaidOnce_data() {
        QTest::addColumn<int>("sharing");
        QTest::addColumn<bool>("bound");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("service");
        QTest::newRow("held alone") << int(QUdpSocket::DontShareAddress) << false
                                    << "cannot use UDP port %1: another program holds it" << false;
        QTest::newRow("held, shared")
            << int(QUdpSocket::ShareAddress) << true << "shares UDP port %1" << false;
        QTest::newRow("held by the running service")
            << int(QUdpSocket::DontShareAddress) << false
            << "the service Tarnivo holds the heartbeat's UDP port %1" << true;
    }
    void anotherHolderOfThePortIsSaidOnce() {
        QFETCH(int, sharing);
        QFETCH(bool, bound);
        QFETCH(QString, said);
        QFETCH(bool, service);
        if (runningUnderWine())
            QSKIP(wineSharesNoPort);
        // systemd's mark of a running unit, in a tree of the test's own.
        QTemporaryDir tree;
        if (service) {
#ifdef Q_OS_WIN
            QSKIP("the service manager is asked on Windows");
#endif
            QVERIFY(QDir().mkpath(tree.path() + "/run/systemd/units"));
            QVERIFY(QFile::link("0123456789abcdef",
                                tree.path() + "/run/systemd/units/invocation:tarnivo.service"));
            platform::setRootDirectory(tree.path().toStdString());
        }
        const auto root = qScopeGuard([] { platform::setRootDirectory("/"); });
        const quint16 port = freeUdpPort();
        auto holder = std::make_unique<QUdpSocket>();
        QVERIFY(holder->bind(QHostAddress::AnyIPv4, port,
                             QUdpSocket::BindMode(QUdpSocket::BindFlag(sharing))));
        HeartbeatThread thread(port, 50, 50);
        QSignalSpy changes(&thread, &HeartbeatThread::portProblemChanged);
        thread.start();
        const auto stop = qScopeGuard([&thread] {
            thread.requestStop();
            thread.wait();
        });
        QTRY_VERIFY_WITH_TIMEOUT(!thread.portProblem().isEmpty(), 3000);
        QTest::qWait(300); // several more tries to bind
        QCOMPARE(thread.isBound(), bound);
        QVERIFY2(thread.portProblem().contains(said.arg(port)), qPrintable(thread.portProblem()));
        QCOMPARE(changes.size(), 1);
        // The system report's look at the port finds the same.
        const QString checked = HeartbeatThread::portCheck(port);
        QVERIFY2(checked.contains(said.arg(port)) && !checked.contains("trying again"),
                 qPrintable(checked));
        if (!bound) {
            holder.reset();
            QTRY_VERIFY_WITH_TIMEOUT(thread.isBound(), 3000);
            QCOMPARE(thread.portProblem(), QString());
        }
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
        // A minute between bind attempts and as the fallback wait, to show the stop waits for
        // neither.
        HeartbeatThread thread(port, 60000, 60000);
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

    void anIdleHeartbeatDoesNotWakeUp() {
#ifndef Q_OS_LINUX
        QSKIP("reads the thread's context switches from /proc");
#endif
        RunningHeartbeat heartbeat(freeUdpPort(), nullptr, QStringLiteral("tvidlebeat"));
        QTRY_VERIFY(heartbeat.thread.isBound());
        QTest::qWait(100);
        const long long before = contextSwitches(QStringLiteral("tvidlebeat"));
        QVERIFY(before >= 0);
        QTest::qWait(1500);
        QCOMPARE(contextSwitches(QStringLiteral("tvidlebeat")), before);
    }

    void aRoundFindsThisMachineAndRecordsOtherRepliesWithoutAnsweringThem() {
        const quint16 port = freeUdpPort();
        Discovery discovery(loopbackSettings(), &QDateTime::currentMSecsSinceEpoch,
                            loopbackAdapter);
        RunningHeartbeat heartbeat(port, &discovery);
        QTRY_VERIFY(heartbeat.thread.isBound());
        intListeningPort = 8123;
        QVERIFY(!discovery.look()); // not before Start
        discovery.setRunning(true);
        QVERIFY(discovery.look());
        QTRY_COMPARE(discovery.peers().size(), 1);
        QTRY_COMPARE(discovery.peers().at(0).intPort, 8123);
        QTRY_COMPARE(discovery.peers().at(0).strVersion, QStringLiteral("1.1"));
        QVERIFY(discovery.peers().at(0).boolThisMachine);

        // Another responder's reply: listed, and not answered.
        if (runningUnderWine()) {
            intListeningPort = 0;
            QSKIP(wineKeepsNoSenderAddress);
        }
        // A user of this machine answers from its address, for a port of their own: the entry
        // keeps the program's port.
        QUdpSocket forger;
        QVERIFY(forger.bind(QHostAddress::LocalHost, 0));
        forger.writeDatagram("Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandPort\n"
                             "intPort:6379\nStop:Heartbeat",
                             QHostAddress::LocalHost, port);
        Requester other(port);
        other.send("Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandPort\nintPort:0\n"
                   "Stop:Heartbeat");
        QTRY_COMPARE(discovery.peers().size(), 2);
        QCOMPARE(discovery.peers().at(1).strAddress, QStringLiteral("127.0.0.2"));
        QCOMPARE(discovery.peers().at(1).intPort, 0);
        QVERIFY(!discovery.peers().at(1).boolThisMachine);
        QCOMPARE(discovery.peers().at(0).intPort, 8123);
        QVERIFY(other.answer(300).isEmpty());
        intListeningPort = 0;
    }

    void aFloodKeepsTheListBoundedAndRequestsAnswered() {
        if (runningUnderWine())
            QSKIP(wineKeepsNoSenderAddress);
        const quint16 port = freeUdpPort();
        Discovery::Settings settings = loopbackSettings();
        settings.intCapacity = 1024;
        Discovery discovery(settings, &QDateTime::currentMSecsSinceEpoch, loopbackAdapter);
        RunningHeartbeat heartbeat(port, &discovery);
        QTRY_VERIFY(heartbeat.thread.isBound());
        discovery.setRunning(true);
        QVERIFY(discovery.look());
        QRandomGenerator random(QRandomGenerator::global()->generate());
        QUdpSocket noise;
        for (int i = 0; i < 10'000; ++i) {
            QByteArray bytes(random.bounded(0, 300), Qt::Uninitialized);
            for (char &c : bytes)
                c = char(random.bounded(256));
            noise.writeDatagram(i % 2 ? bytes : "Start:Heartbeat\n" + bytes + "\nStop:Heartbeat",
                                QHostAddress::LocalHost, port);
            if (i % 200 == 0)
                QTest::qWait(2);
        }
        // Replies from 10,000 made-up addresses, all of the loopback network.
        const QByteArray reply =
            "Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandPort\nintPort:80\n"
            "Stop:Heartbeat";
        for (quint32 i = 0; i < 10'000; ++i) {
            QUdpSocket liar;
            liar.bind(QHostAddress(0x7F100000 + i), 0);
            liar.writeDatagram(reply, QHostAddress::LocalHost, port);
            // Paced a little, so that more than the bound get through the receive buffer.
            if (i % 100 == 0)
                QTest::qWait(5);
        }
        // The kernel drops what does not fit the receive buffer, a request included; the
        // heartbeat answers one once it has worked through the backlog.
        Requester requester(port);
        QByteArray answer;
        for (int attempt = 0; attempt < 10 && answer.isEmpty(); ++attempt) {
            requester.send(versionRequest);
            answer = requester.answer(1000);
        }
        QCOMPARE(answer.size(), 92);
        const int listed = discovery.peers().size();
        QVERIFY2(listed > 1000 && listed <= 1024, qPrintable(QString::number(listed)));
    }

    void answersPastTheLimitsAreDroppedAndCounted() {
        if (runningUnderWine())
            QSKIP(wineSharesNoPort);
        const quint16 port = freeUdpPort();
        // The clock stands still: every request falls within one second.
        RunningHeartbeat heartbeat(port, nullptr, {}, [] { return qint64(0); });
        QTRY_VERIFY(heartbeat.thread.isBound());
        const quint64 droppedBefore = HeartbeatThread::droppedRequests();
        Requester requester(port);
        for (int i = 0; i < 30; ++i)
            requester.send(versionRequest);
        int answered = 0;
        while (!requester.answer(500).isEmpty())
            ++answered;
        QCOMPARE(answered, HeartbeatThread::intRepliesPerAddress);
        QCOMPARE(HeartbeatThread::droppedRequests() - droppedBefore, quint64(20));
    }
};

QTEST_GUILESS_MAIN(HeartbeatThreadTest)
#include "HeartbeatThreadTest.moc"
