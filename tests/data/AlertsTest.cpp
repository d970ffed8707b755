// The judge: when an alert begins and resolves, fed one reading a second by the test's own clock.
#include "Alerts.h"
#include "AlertThread.h"
#include "Network.h"
#include "Sample.h"
#include "platform/Platform.h"

#include <QtTest>
#include <cmath>
#include <limits>

namespace {
constexpr qint64 T0 = 1'700'000'000'000;
constexpr double gap = std::numeric_limits<double>::quiet_NaN();
} // namespace

class AlertsTest : public QObject {
    Q_OBJECT
private slots:
    void beginsAndResolves_data();
    void beginsAndResolves();
    void aDeviceThatGoesResolvesItsAlert();
    void sectorsAlertWhenTheyGrowNotForWhatTheDriveHadAlready();
    void aLinkIsJudgedFromTheLastSample();
    void theSlowFiguresReachTheRoundsOnceTheThreadReadThem();
};

void AlertsTest::beginsAndResolves_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVector<double>>("values"); // one a second
    // What changed at each second: "F" began firing, "R" resolved, "." nothing.
    QTest::addColumn<QString>("changes");
    using K = Alerts::Kind;
    // Limits of the test: processor 90 % held 3 s, volume warning under 10 % free.
    QTest::newRow("a processor fires once held for its whole window, at its limit")
        << int(K::Processor) << QVector<double>{95, 90, 99, 90, 90} << "...F.";
    QTest::newRow("one second below the limit starts the window again")
        << int(K::Processor) << QVector<double>{95, 95, 89, 95, 95, 95, 95} << "......F";
    QTest::newRow("a gap starts the window again too, but keeps a firing alert")
        << int(K::Processor) << QVector<double>{95, 95, gap, 95, 95, 95, 95, gap, 95}
        << "......F..";
    QTest::newRow("a firing figure near its limit does not flap: it resolves a band below")
        << int(K::Processor) << QVector<double>{95, 95, 95, 95, 89, 91, 86, 84.9} << "...F...R";
    QTest::newRow("a volume fires at once when under its share free, and resolves a band above")
        << int(K::Volume) << QVector<double>{20, 10, 9.9, 10.5, 11} << "..F.R";
}

void AlertsTest::beginsAndResolves() {
    QFETCH(int, kind);
    QFETCH(QVector<double>, values);
    QFETCH(QString, changes);
    Alerts alerts;
    Alerts::Limits limits;
    limits.processorSeconds = 3;
    alerts.setLimits(limits);
    QString seen;
    for (int i = 0; i < values.size(); ++i) {
        const auto changed =
            alerts.judge({{Alerts::Kind(kind), "d", "key", values[i]}}, T0 + qint64(i) * 1000);
        QVERIFY(changed.size() <= 1);
        seen += changed.empty() ? '.' : changed.front().ended ? 'R' : 'F';
        if (!changed.empty() && !changed.front().ended) {
            QCOMPARE(changed.front().since, T0 + qint64(i) * 1000);
            QCOMPARE(alerts.firing().size(), size_t(1));
        }
    }
    QCOMPARE(seen, changes);
}

void AlertsTest::aDeviceThatGoesResolvesItsAlert() {
    Alerts alerts;
    const auto full = [](const char *device, double free) {
        return Alerts::Reading{Alerts::Kind::Volume, device, device, free};
    };
    // Under 5 % free: the warning and the critical alert both fire, each once.
    QCOMPARE(alerts.judge({full("/a", 3), full("/b", 50)}, T0).size(), size_t(2));
    QCOMPARE(alerts.firing().size(), size_t(2));
    const auto changed = alerts.judge({full("/b", 50)}, T0 + 1000);
    QCOMPARE(changed.size(), size_t(2));
    QCOMPARE(changed[0].ended, T0 + 1000);
    QVERIFY(alerts.firing().empty());
}

void AlertsTest::sectorsAlertWhenTheyGrowNotForWhatTheDriveHadAlready() {
    Alerts alerts;
    const auto sectors = [&alerts](double count, qint64 at) {
        return alerts.judge({{Alerts::Kind::DiskSectors, "0", "drive:0", count}}, at);
    };
    QVERIFY(sectors(12, T0).empty());
    QVERIFY(sectors(12, T0 + 1000).empty());
    const auto grew = sectors(14, T0 + 2000);
    QCOMPARE(grew.size(), size_t(1));
    QCOMPARE(grew.front().value, 2.0);
    // Still firing a little less than a day after the last rise; resolved after it.
    QVERIFY(sectors(14, T0 + 2000 + Alerts::sectorsMemoryMs - 1).empty());
    const auto forgotten = sectors(14, T0 + 2000 + Alerts::sectorsMemoryMs);
    QCOMPARE(forgotten.size(), size_t(1));
    QVERIFY(forgotten.front().ended != 0);
}

// A link's use is the last pass's bytes against the link's speed: the adapters' records carry
// no rates of their own where the rates are the totals' differences.
void AlertsTest::aLinkIsJudgedFromTheLastSample() {
#ifndef Q_OS_LINUX
    QSKIP("the fixture tree is a Linux system's /sys");
#else
    platform::setRootDirectory(TARNIVO_FIXTURES "/linux/workstation");
    networkTableClear();
    networkTableFill(); // eth0: interface 2, 1000 Mb/s
    platform::setRootDirectory("/");
    auto sample = std::make_shared<Sample>();
    Sample::DeviceRates eth0;
    eth0.key = 2;
    eth0.rates.intBytesRead = 60'000'000;
    eth0.rates.intBytesWrite = 40'000'000;
    sample->adapters.push_back(eth0);
    Sample::publish(sample);
    Alerts alerts;
    double link = -1;
    for (const Alerts::Reading &r : AlertThread(alerts).gather(T0))
        if (r.key == QLatin1String("net:eth0"))
            link = r.value;
    Sample::publish(nullptr);
    networkTableClear();
    QCOMPARE(link, 80.0);
#endif
}

// The rounds run on the sampling thread: they never ask a volume themselves (one that hangs
// would hold the passes up), but take what the alert thread's last reading found.
void AlertsTest::theSlowFiguresReachTheRoundsOnceTheThreadReadThem() {
#ifndef Q_OS_LINUX
    QSKIP("the fixture tree is a Linux system's /proc and /sys");
#else
    platform::setRootDirectory(TARNIVO_FIXTURES "/linux/workstation");
    Alerts alerts;
    AlertThread thread(alerts);
    const auto volumes = [&thread] {
        QStringList found;
        for (const Alerts::Reading &r : thread.gather(T0))
            if (r.kind == Alerts::Kind::Volume)
                found << r.device;
        return found;
    };
    const QStringList beforeReading = volumes();
    thread.refreshSlow();
    const QStringList afterReading = volumes();
    platform::setRootDirectory("/");
    QCOMPARE(beforeReading, QStringList());
    QCOMPARE(afterReading,
             QStringList({"/media/My Files", "/", "/boot", "/home", "/home/users", "/srv/data"}));
#endif
}

QTEST_GUILESS_MAIN(AlertsTest)
#include "AlertsTest.moc"
