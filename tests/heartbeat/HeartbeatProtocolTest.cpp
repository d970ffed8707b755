#include "HeartbeatProtocol.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
QByteArray request(const QByteArray &lines) {
    return "Start:Heartbeat\nstrType:typeRequest\n" + lines + "\nStop:Heartbeat";
}
QByteArray response(const QByteArray &lines) {
    return "Start:Heartbeat\nstrType:typeResponse\n" + lines + "\nStop:Heartbeat";
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
        QTest::newRow("a goodbye of ours") << HeartbeatProtocol::goodbye();
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

    void ourRequestsAreAnsweredAndOurRepliesReadBack() {
        const QByteArray ask = HeartbeatProtocol::request(QStringLiteral("commandVersion"));
        QCOMPARE(ask, request("strCommand:commandVersion"));
        HeartbeatProtocol::Answer answer;
        QVERIFY(HeartbeatProtocol::answer(HeartbeatProtocol::reply(ask, 0), answer));
        QCOMPARE(answer.strCommand, QStringLiteral("commandVersion"));
        QCOMPARE(answer.strVersion, QStringLiteral("1.1"));
        const QByteArray port = HeartbeatProtocol::request(QStringLiteral("commandPort"));
        QVERIFY(HeartbeatProtocol::answer(HeartbeatProtocol::reply(port, 65535), answer));
        QCOMPARE(answer.strCommand, QStringLiteral("commandPort"));
        QCOMPARE(answer.intPort, quint16(65535));
        QVERIFY(HeartbeatProtocol::answer(HeartbeatProtocol::reply(port, 0), answer));
        QCOMPARE(answer.intPort, quint16(0));
        // Another version is read as it stands, cleaned.
        QVERIFY(HeartbeatProtocol::answer(response("strCommand:commandVersion\nstrVersion:2.0\x01"),
                                          answer));
        QCOMPARE(answer.strVersion, QStringLiteral("2.0\uFFFD"));
    }

    void repliesNoResponderSendsAreNotRead_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("a request") << request("strCommand:commandPort");
        QTest::newRow("port past 65535") << response("strCommand:commandPort\nintPort:65536");
        QTest::newRow("port with a sign") << response("strCommand:commandPort\nintPort:+80");
        QTest::newRow("port with a leading zero")
            << response("strCommand:commandPort\nintPort:080");
        QTest::newRow("port missing") << response("strCommand:commandPort");
        QTest::newRow("empty version") << response("strCommand:commandVersion\nstrVersion:");
        QTest::newRow("version too long")
            << response("strCommand:commandVersion\nstrVersion:" + QByteArray(65, '1'));
        QTest::newRow("unknown command") << response("strCommand:commandReboot\nintPort:80");
        QTest::newRow("final LF") << response("strCommand:commandPort\nintPort:80") + "\n";
    }
    void repliesNoResponderSendsAreNotRead() {
        QFETCH(QByteArray, datagram);
        HeartbeatProtocol::Answer answer;
        QVERIFY(!HeartbeatProtocol::answer(datagram, answer));
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
            HeartbeatProtocol::Answer answer;
            QVERIFY(!HeartbeatProtocol::answer(noise, answer));
        }
    }
};

QTEST_APPLESS_MAIN(HeartbeatProtocolTest)
#include "HeartbeatProtocolTest.moc"
