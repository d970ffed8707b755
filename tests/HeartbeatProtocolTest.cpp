#include "HeartbeatProtocol.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
QByteArray request(const QByteArray &lines) {
    return "Start:Heartbeat\nstrType:typeRequest\n" + lines + "\nStop:Heartbeat";
}
} // namespace

class HeartbeatProtocolTest : public QObject {
    Q_OBJECT
private slots:
    void versionAndPortRequestsGetTheirExactReplies() {
        const QByteArray ask = request("strCommand:commandVersion");
        QCOMPARE(ask.size(), 76);
        QCOMPARE(HeartbeatProtocol::reply(ask, 8080),
                 QByteArray("Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandVersion\n"
                            "strVersion:1.1\nStop:Heartbeat"));
        const QByteArray port = request("strCommand:commandPort");
        QCOMPARE(HeartbeatProtocol::reply(port, 0),
                 QByteArray("Start:Heartbeat\nstrType:typeResponse\nstrCommand:commandPort\n"
                            "intPort:0\nStop:Heartbeat"));
        QCOMPARE(HeartbeatProtocol::reply(port, 80).size(), 85);
        QVERIFY(HeartbeatProtocol::reply(port, 4000000000u).contains("\nintPort:4000000000\n"));
    }

    void foreignOrMalformedDatagramsGetNoAnswer_data() {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray good = request("strCommand:commandVersion");
        QTest::newRow("final LF") << good + "\n";
        QTest::newRow("CRLF line ends") << QByteArray(good).replace("\n", "\r\n");
        QTest::newRow("another responder's reply") << HeartbeatProtocol::reply(good, 0);
        QTest::newRow("unknown command") << request("strCommand:commandReboot");
        QTest::newRow("value holding a further colon") << request("strCommand:commandVersion:x");
        QTest::newRow("lower-case framing") << good.toLower();
        QTest::newRow("cut at a NUL") << good + QByteArray(1, '\0');
        QTest::newRow("empty") << QByteArray();
    }
    void foreignOrMalformedDatagramsGetNoAnswer() {
        QFETCH(QByteArray, datagram);
        QVERIFY(HeartbeatProtocol::reply(datagram, 80).isEmpty());
    }

    void aLaterCommandLineOverridesOnlyWhenItIsWellFormed() {
        QVERIFY(HeartbeatProtocol::reply(
                    request("strCommand:commandVersion\nstrCommand:commandPort"), 80)
                    .contains("\nintPort:80\n"));
        QVERIFY(HeartbeatProtocol::reply(
                    request("strCommand:commandVersion\nstrCommand:commandPort:80"), 80)
                    .contains("\nstrVersion:1.1\n"));
    }

    void randomBytesAreNeverAnswered() {
        QRandomGenerator random(QRandomGenerator::global()->generate());
        for (int i = 0; i < 2000; ++i) {
            QByteArray noise(random.bounded(0, 200), Qt::Uninitialized);
            for (char &c : noise) {
                c = char(random.bounded(256));
            }
            // Framed noise reaches the line parser; bare noise stops at the framing check.
            QVERIFY(HeartbeatProtocol::reply(noise, 80).isEmpty());
            QVERIFY(HeartbeatProtocol::reply("Start:Heartbeat\n" + noise + "\nStop:Heartbeat", 80)
                        .isEmpty());
        }
    }
};

QTEST_APPLESS_MAIN(HeartbeatProtocolTest)
#include "HeartbeatProtocolTest.moc"
