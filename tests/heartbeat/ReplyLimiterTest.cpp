// The heartbeat's answer limits, on a manual clock.
#include "ReplyLimiter.h"

#include <QTest>

class ReplyLimiterTest : public QObject {
    Q_OBJECT
private slots:
    // Each step asks for 30 answers to each of a number of addresses at a moment (ms), and how
    // many of those answers are allowed.
    void answersAreBoundedPerAddressAndInAll_data() {
        QTest::addColumn<QList<qint64>>("at");
        QTest::addColumn<QList<int>>("addresses");
        QTest::addColumn<QList<int>>("allowed");
        QTest::newRow("one address, 30 at once")
            << QList<qint64>{0} << QList<int>{1} << QList<int>{10};
        QTest::newRow("one address, again after a second")
            << QList<qint64>{0, 999, 1000} << QList<int>{1, 1, 1} << QList<int>{10, 0, 10};
        QTest::newRow("300 addresses at once")
            << QList<qint64>{0} << QList<int>{300} << QList<int>{100};
        QTest::newRow("300 addresses, again half a second and a second later")
            << QList<qint64>{0, 500, 1000} << QList<int>{300, 300, 300} << QList<int>{100, 0, 100};
    }
    void answersAreBoundedPerAddressAndInAll() {
        QFETCH(QList<qint64>, at);
        QFETCH(QList<int>, addresses);
        QFETCH(QList<int>, allowed);
        qint64 now = 0;
        ReplyLimiter limiter(10, 100, [&now] { return now; });
        for (int step = 0; step < at.size(); ++step) {
            now = at.at(step);
            int got = 0;
            // 30 requests from every address, round by round, as a flood would come.
            for (int request = 0; request < 30; ++request) {
                for (int address = 0; address < addresses.at(step); ++address)
                    got += limiter.allow(quint32(0xC6120000 + address)) ? 1 : 0;
            }
            QCOMPARE(got, allowed.at(step));
        }
    }
};

QTEST_APPLESS_MAIN(ReplyLimiterTest)
#include "ReplyLimiterTest.moc"
