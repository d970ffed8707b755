#include "Discovery.h"
#include "FleetWatch.h"
#include "PeerDocuments.h"
#include "SharedState.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
platform::Adapter adapter(const char *address, const char *mask, bool running = true,
                          quint32 index = 0) {
    platform::Adapter result;
    result.address = address;
    result.mask = mask;
    result.running = running;
    result.index = index;
    return result;
}

HeartbeatProtocol::Answer version(const char *text) {
    return {QStringLiteral("commandVersion"), QLatin1String(text), 0};
}
HeartbeatProtocol::Answer port(quint16 number) {
    return {QStringLiteral("commandPort"), QString(), number};
}

// A discovery on a manual clock, on two subnets: 192.0.2.1/24 on interface 2 and
// 198.51.100.1/24 on interface 3, beside a Docker-style bridge that is up without a carrier.
constexpr quint32 lan = 2;
constexpr quint32 otherLan = 3;
struct Fixture {
    qint64 now = 1'000'000;
    Discovery discovery;
    explicit Fixture(Discovery::Settings settings = Discovery::Settings())
        : discovery(
              settings, [this] { return now; },
              [] {
                  return std::vector<platform::Adapter>{
                      adapter("192.0.2.1", "255.255.255.0", true, lan),
                      adapter("198.51.100.1", "255.255.255.0", true, otherLan),
                      adapter("172.17.0.1", "255.255.0.0", false, 4)};
              }) {}
    // An answer as it arrives on the first subnet's adapter.
    bool hear(const QString &address, const HeartbeatProtocol::Answer &answer,
              quint32 arrivedOn = lan) {
        return discovery.hear(QHostAddress(address), arrivedOn, answer);
    }
    // A round as the heartbeat thread runs it: the request, the send, then the answers.
    void round(const QStringList &answering) {
        QVERIFY(discovery.look());
        QCOMPARE(discovery.takeRound().size(), 2);
        for (const QString &address : answering)
            hear(address, port(8080));
    }
    QStringList addresses() {
        QStringList result;
        for (const Peer &peer : discovery.peers())
            result << peer.strAddress;
        return result;
    }
};

// A running discovery whose list holds three machines.
struct SmallList : Fixture {
    static Discovery::Settings threeMachines() {
        Discovery::Settings settings;
        settings.intCapacity = 3;
        return settings;
    }
    SmallList() : Fixture(threeMachines()) { discovery.setRunning(true); }
};

QJsonDocument json(const QString &text) {
    return QJsonDocument::fromJson(text.toUtf8());
}
} // namespace

class DiscoveryTest : public QObject {
    Q_OBJECT
private slots:
    void roundsGoToEachSubnetsBroadcastAddressOnly() {
        const Discovery::Targets targets = Discovery::targetsOf({
            adapter("192.168.1.10", "255.255.255.0"),
            adapter("192.168.1.11", "255.255.255.0"), // same subnet: one broadcast
            adapter("10.1.2.3", "255.0.0.0"), adapter("198.18.7.9", "255.254.0.0"),
            adapter("172.16.0.5", "0.0.0.0"),         // would be 255.255.255.255
            adapter("200.1.1.1", "128.0.0.0"),        // so would this
            adapter("100.64.0.1", "255.255.255.255"), // point to point
            adapter("100.64.0.2", "255.255.255.254"),
            adapter("192.168.9.1", "255.0.255.0"), // not a mask
            adapter("", ""), adapter("0.0.0.0", "255.255.255.0"),
            adapter("172.17.0.1", "255.255.0.0", false), // up without a carrier
        });
        QStringList broadcasts;
        for (const QHostAddress &address : targets.broadcasts)
            broadcasts << address.toString();
        QCOMPARE(broadcasts, QStringList({"192.168.1.255", "10.255.255.255", "198.19.255.255"}));
        QVERIFY(targets.ownAddresses.contains("100.64.0.1"));
        QVERIFY(!targets.ownAddresses.contains("0.0.0.0"));
        QVERIFY(targets.ownAddresses.contains("172.17.0.1"));
        QCOMPARE(targets.subnets.size(), 4); // both adapters of 192.168.1.0/24
        QVERIFY(targets.subnets.at(3).contains(QHostAddress("198.19.0.1").toIPv4Address()));
    }

    void aRoundNeedsTheMonitorRunningAndStartsAtMostOnceInTheGap() {
        Fixture f;
        int wakes = 0;
        f.discovery.setSender([&wakes] { ++wakes; });
        QVERIFY(!f.discovery.look());
        QVERIFY(f.discovery.takeRound().isEmpty());
        f.discovery.setRunning(true);
        QVERIFY(f.discovery.look());
        QCOMPARE(wakes, 1);
        f.now += 4999;
        QVERIFY(!f.discovery.look());
        const QVector<QHostAddress> targets = f.discovery.takeRound();
        QCOMPARE(targets, QVector<QHostAddress>(
                              {QHostAddress("192.0.2.255"), QHostAddress("198.51.100.255")}));
        QVERIFY(f.discovery.takeRound().isEmpty());
        f.now += 1;
        QVERIFY(f.discovery.look());
        // Stopped before the heartbeat got to it: nothing is sent.
        f.discovery.setRunning(false);
        QVERIFY(f.discovery.takeRound().isEmpty());
        f.now -= 60'000; // a clock set back does not block rounds for long
        f.discovery.setRunning(true);
        QVERIFY(f.discovery.look());
        QCOMPARE(wakes, 3);
    }

    void answersMakeOnePeerPerAddressAndOwnAnswersMarkThisMachine() {
        Fixture f;
        f.discovery.setRunning(true);
        intListeningPort = 8123;
        f.round({});
        f.hear("192.0.2.7", version("2.0"));
        f.now += 10;
        f.hear("192.0.2.7", port(0));
        // Whoever sends from this machine's own addresses, its port and version are the
        // program's own.
        f.hear("192.0.2.1", version("6.6"));
        f.hear("192.0.2.1", port(6379), 1);
        const QVector<Peer> peers = f.discovery.peers();
        intListeningPort = 0;
        QCOMPARE(peers.size(), 2);
        QCOMPARE(peers.at(0).strAddress, QStringLiteral("192.0.2.1"));
        QVERIFY(peers.at(0).boolThisMachine);
        QCOMPARE(peers.at(0).intPort, 8123);
        QCOMPARE(peers.at(0).strVersion, QLatin1String(HeartbeatProtocol::strVersion));
        QCOMPARE(peers.at(1).strVersion, QStringLiteral("2.0"));
        QCOMPARE(peers.at(1).intPort, 0);
        QCOMPARE(peers.at(1).intLastHeard - peers.at(1).intFirstHeard, 10);
        QVERIFY(!peers.at(1).boolThisMachine);
    }

    void aWatchedMachineIsSilentUntilItAnswersAndForgottenWhenItSaysGoodbye() {
        Fixture f;
        f.discovery.setRunning(true);
        FleetWatch watch(f.discovery);
        f.round({"192.0.2.7", "192.0.2.8"});
        QCOMPARE(watch.silence(f.now).size(), size_t(2));
        // Long after discovery itself dropped them, both are still watched.
        const qint64 heard = f.now;
        for (int i = 0; i < 4; ++i) {
            f.now += 5000;
            f.round({});
        }
        QVERIFY(f.discovery.peers().size() <= 1);
        f.now = heard + 5 * 60000;
        const auto silent = watch.silence(f.now);
        QCOMPARE(silent.size(), size_t(2));
        QCOMPARE(silent.front().second, 5.0);
        // A goodbye from another network is not taken; one from its own subnet is.
        QVERIFY(!f.discovery.farewell(QHostAddress("192.0.2.8"), otherLan));
        QVERIFY(f.discovery.farewell(QHostAddress("192.0.2.8"), lan));
        f.now += 5000;
        f.round({"192.0.2.7"});
        const auto left = watch.silence(f.now);
        QCOMPARE(left.size(), size_t(1));
        QCOMPARE(left.front(), std::make_pair(QString("192.0.2.7"), 0.0));
    }

    void aPeerIsDroppedOnceItMissedThreeRounds() {
        Fixture f;
        f.discovery.setRunning(true);
        f.round({"192.0.2.7", "192.0.2.8"});
        for (int missed = 1; missed <= 3; ++missed) {
            f.now += 5000;
            f.round({"192.0.2.8"});
            // Within a round's answer time its silence does not count yet.
            QCOMPARE(f.addresses().size(), 2);
            f.now += 1000;
            QCOMPARE(f.addresses(), missed < 3 ? QStringList({"192.0.2.7", "192.0.2.8"})
                                               : QStringList({"192.0.2.8"}));
        }
    }

    void onlyAnswersToOurOwnRoundAreRecorded_data() {
        QTest::addColumn<bool>("looked");
        QTest::addColumn<qint64>("after");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<quint32>("arrivedOn");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("on the subnet, in time") << true << 999LL << "192.0.2.7" << lan << true;
        QTest::newRow("before any round") << false << 0LL << "192.0.2.7" << lan << false;
        QTest::newRow("past the answer time") << true << 1000LL << "192.0.2.7" << lan << false;
        QTest::newRow("from a subnet the round did not go to")
            << true << 10LL << "10.66.0.77" << lan << false;
        QTest::newRow("on the bridge the round skipped")
            << true << 10LL << "172.17.0.9" << 4u << false;
        QTest::newRow("this machine's own bridge address")
            << true << 10LL << "172.17.0.1" << 1u << true;
        QTest::newRow("the other subnet, on its own adapter")
            << true << 10LL << "198.51.100.7" << otherLan << true;
        QTest::newRow("the other subnet, arriving from the first")
            << true << 10LL << "198.51.100.7" << lan << false;
        QTest::newRow("the first subnet, arriving from the other")
            << true << 10LL << "192.0.2.7" << otherLan << false;
        QTest::newRow("an adapter the system did not name")
            << true << 10LL << "192.0.2.7" << 0u << false;
    }
    void onlyAnswersToOurOwnRoundAreRecorded() {
        QFETCH(bool, looked);
        QFETCH(qint64, after);
        QFETCH(QString, sender);
        QFETCH(quint32, arrivedOn);
        QFETCH(bool, recorded);
        Fixture f;
        f.discovery.setRunning(true);
        if (looked)
            f.round({});
        f.now += after;
        QCOMPARE(f.hear(sender, port(80), arrivedOn), recorded);
        QCOMPARE(f.addresses(), recorded ? QStringList{sender} : QStringList());
    }

    void thisMachineIsListedOnceAndServedAtTheAddressAskedOn() {
        Fixture f;
        f.discovery.setRunning(true);
        f.round({"192.0.2.1", "172.17.0.1", "192.0.2.7"});
        f.hear("172.17.0.1", version("1.1"));
        intListeningPort = 8080;
        const QVector<Peer> peers = f.discovery.peers();
        intListeningPort = 0;
        QCOMPARE(f.addresses(), QStringList({"192.0.2.1", "192.0.2.7"}));
        QVERIFY(peers.at(0).boolThisMachine);
        QCOMPARE(peers.at(0).strVersion, QStringLiteral("1.1"));
        // Named by address: the second machine's name is not known.
        QCOMPARE(PeerDocuments::serviceDiscovery(peers, "198.18.0.1", {{"192.0.2.1", "ws-01"}}),
                 QStringLiteral("[{\"labels\":{\"__meta_tarnivo_hostname\":\"ws-01\","
                                "\"__meta_tarnivo_this_machine\":\"true\","
                                "\"__meta_tarnivo_version\":\"1.1\",\"hostname\":\"ws-01\"},"
                                "\"targets\":[\"198.18.0.1:8080\"]},{\"labels\":{"
                                "\"__meta_tarnivo_this_machine\":\"false\"},\"targets\":["
                                "\"192.0.2.7:8080\"]}]"));
    }

    void aFullListKeepsThoseThatAnsweredTheLastRound() {
        SmallList f;
        f.round({"192.0.2.7", "192.0.2.8", "192.0.2.9"});
        QVERIFY(!f.hear("192.0.2.66", port(6379)));
        QCOMPARE(f.addresses(), QStringList({"192.0.2.7", "192.0.2.8", "192.0.2.9"}));
        // Claims read ahead of their answers in the next round push none of them out; once
        // they missed a whole round, the silent ones make room, least recently heard first.
        f.now += 5000;
        f.round({"192.0.2.66", "192.0.2.67", "192.0.2.68", "192.0.2.9"});
        QCOMPARE(f.addresses(), QStringList({"192.0.2.7", "192.0.2.8", "192.0.2.9"}));
        f.now += 5000;
        f.round({"192.0.2.9", "192.0.2.66", "192.0.2.67", "192.0.2.68"});
        QCOMPARE(f.addresses(), QStringList({"192.0.2.9", "192.0.2.66", "192.0.2.67"}));
    }

    void thisMachineKeepsItsPlaceInAFullList() {
        SmallList f;
        f.round({"192.0.2.1", "192.0.2.7", "192.0.2.8"});
        // Its own answer lost in one round, then claims from the subnet read ahead of it in the
        // next, and in a first round.
        f.now += 5000;
        f.round({"192.0.2.7", "192.0.2.8"});
        f.now += 5000;
        f.round({"192.0.2.66", "192.0.2.67", "192.0.2.68", "192.0.2.1"});
        QCOMPARE(f.addresses(), QStringList({"192.0.2.1", "192.0.2.7", "192.0.2.8"}));
        SmallList first;
        first.round({"192.0.2.66", "192.0.2.67", "192.0.2.68", "192.0.2.1"});
        QCOMPARE(first.addresses(), QStringList({"192.0.2.1", "192.0.2.67", "192.0.2.68"}));
    }

    void theDocumentsCarryThePeersInTheirShapes() {
        const Peer self{"192.0.2.1", 8080, "1.1", 1000, 2000, 1, true};
        const Peer unknownPort{"192.0.2.5", -1, "1.1", 1000, 2000, 1, false};
        const Peer stopped{"192.0.2.6", 0, "", 1000, 2000, 1, false};
        const QJsonObject peers =
            json(PeerDocuments::peers({self, unknownPort, stopped}, 1500, true, 5000)).object();
        QCOMPARE(peers.value("lastLook").toString(), QStringLiteral("1970-01-01T00:00:01.500Z"));
        const QJsonArray list = peers.value("peers").toArray();
        QCOMPARE(list.at(0).toObject().value("port").toInt(), 8080);
        QVERIFY(list.at(0).toObject().value("thisMachine").toBool());
        QVERIFY(list.at(1).toObject().value("port").isNull());
        QVERIFY(list.at(2).toObject().value("version").isNull());

        // Only peers whose web server runs are targets.
        const QJsonArray groups =
            json(PeerDocuments::serviceDiscovery({self, unknownPort, stopped})).array();
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups.at(0).toObject().value("targets").toArray(), QJsonArray{"192.0.2.1:8080"});
        QCOMPARE(groups.at(0).toObject().value("labels").toObject().value("__meta_tarnivo_version"),
                 QJsonValue("1.1"));
        QVERIFY(!groups.at(0).toObject().value("labels").toObject().contains("__scheme__"));
        // Over HTTPS Prometheus is told the scheme, for this machine and, with fleet/https, the
        // others.
        const Peer other{"192.0.2.5", 8080, "1.1", 1000, 2000, 1, false};
        for (const bool peersHttps : {false, true}) {
            const QJsonArray secure = json(PeerDocuments::serviceDiscovery({self, other}, QString(),
                                                                           {}, true, peersHttps))
                                          .array();
            QCOMPARE(secure.at(0).toObject().value("labels").toObject().value("__scheme__"),
                     QJsonValue("https"));
            QCOMPARE(secure.at(1).toObject().value("labels").toObject().contains("__scheme__"),
                     peersHttps);
        }
    }

    void theRoutesLookOnlyWhenAskedTo() {
        Discovery::Settings settings;
        settings.intAnswerWaitMs = 0;
        Fixture f(settings);
        f.discovery.setRunning(true);
        QVERIFY(json(f.discovery.peersDocument("/peers.json")).object().value("lastLook").isNull());
        QVERIFY(json(f.discovery.peersDocument("/peers.json?strRequest=requestLook"))
                    .object()
                    .value("lastLook")
                    .isString());
        QVERIFY(!f.discovery.takeRound().isEmpty());
        f.now += 5000;
        QVERIFY(json(f.discovery.serviceDiscoveryDocument()).isArray());
        QVERIFY(!f.discovery.takeRound().isEmpty());
    }
};

QTEST_APPLESS_MAIN(DiscoveryTest)
#include "DiscoveryTest.moc"
