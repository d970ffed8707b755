// Admission of connections: caps on running threads, per peer address, and on the queue.
#include "ConnectionLimiter.h"

#include <QtTest>

using Admission = ConnectionLimiter::Admission;

class TestConnectionLimiter : public QObject {
    Q_OBJECT
private slots:
    void connectionsBeyondTheCapWaitThenOverflowIsRefused();
    void aFullQueueMakesRoomForAnAddressThatHoldsFewer();
    void aBusyAddressAtTheHeadOfTheQueueDoesNotHoldBackOthers();
    void queuedConnectionsAreHandedBackWhenTheListenerGoes();
    void queuedConnectionsExpireAtTheirDeadline();
    void aQuietAddressIsServedFirstAndAStalledBusyOneGivesWay();
};

void TestConnectionLimiter::connectionsBeyondTheCapWaitThenOverflowIsRefused() {
    ConnectionLimiter limiter(2, 10, 1);
    QCOMPARE(limiter.admit(11, "10.0.0.1"), Admission::Start);
    QCOMPARE(limiter.admit(12, "10.0.0.2"), Admission::Start);
    QCOMPARE(limiter.admit(13, "10.0.0.3"), Admission::Queue);
    QCOMPARE(limiter.admit(14, "10.0.0.4"), Admission::Refuse);
    QCOMPARE(limiter.running(), 2);
    QCOMPARE(limiter.queued(), 1);

    const auto next = limiter.release("10.0.0.1");
    QCOMPARE(int(next.size()), 1);
    QCOMPARE(next.front().intSocket, qintptr(13));
    QCOMPARE(next.front().strAddress, QString("10.0.0.3"));
    QCOMPARE(limiter.running(), 2);
    QCOMPARE(limiter.queued(), 0);

    QVERIFY(limiter.release("10.0.0.2").empty());
    QVERIFY(limiter.release("10.0.0.3").empty());
    QCOMPARE(limiter.running(), 0);
    // An address that holds nothing does not drive the count below zero.
    QVERIFY(limiter.release("10.0.0.9").empty());
    QCOMPARE(limiter.running(), 0);
}

void TestConnectionLimiter::aFullQueueMakesRoomForAnAddressThatHoldsFewer() {
    ConnectionLimiter limiter(2, 2, 2);
    std::optional<ConnectionLimiter::Connection> displaced;
    for (qintptr socket : {1, 2, 3, 4})
        limiter.admit(socket, "busy", 0, &displaced);
    QVERIFY(!displaced);
    // The busy address's latest waiting connection gives its place, as long as it holds more.
    QCOMPARE(limiter.admit(5, "quiet", 0, &displaced), Admission::Queue);
    QCOMPARE(displaced->intSocket, qintptr(4));
    QCOMPARE(limiter.admit(6, "other", 0, &displaced), Admission::Queue);
    QCOMPARE(displaced->intSocket, qintptr(3));
    displaced.reset();
    QCOMPARE(limiter.admit(7, "third", 0, &displaced), Admission::Refuse);
    QCOMPARE(limiter.admit(8, "busy", 0, &displaced), Admission::Refuse);
    QVERIFY(!displaced);
    QCOMPARE(limiter.queued(), 2);
}

void TestConnectionLimiter::aBusyAddressAtTheHeadOfTheQueueDoesNotHoldBackOthers() {
    ConnectionLimiter limiter(2, 1, 8);
    QCOMPARE(limiter.admit(1, "10.0.0.1"), Admission::Start);
    QCOMPARE(limiter.admit(2, "10.0.0.2"), Admission::Start);
    QCOMPARE(limiter.admit(3, "10.0.0.1"), Admission::Queue);
    QCOMPARE(limiter.admit(4, "10.0.0.3"), Admission::Queue);
    const auto next = limiter.release("10.0.0.2");
    QCOMPARE(int(next.size()), 1);
    QCOMPARE(next.front().intSocket, qintptr(4));
    QCOMPARE(limiter.queued(), 1);
    const auto later = limiter.release("10.0.0.1");
    QCOMPARE(int(later.size()), 1);
    QCOMPARE(later.front().intSocket, qintptr(3));
}

void TestConnectionLimiter::queuedConnectionsAreHandedBackWhenTheListenerGoes() {
    ConnectionLimiter limiter(1, 1, 4);
    limiter.admit(1, "a");
    limiter.admit(2, "a");
    limiter.admit(3, "b");
    const auto queued = limiter.takeQueued();
    QCOMPARE(int(queued.size()), 2);
    QCOMPARE(queued.at(0).intSocket, qintptr(2));
    QCOMPARE(queued.at(1).intSocket, qintptr(3));
    QCOMPARE(limiter.queued(), 0);
    QVERIFY(limiter.release("a").empty());
}

void TestConnectionLimiter::queuedConnectionsExpireAtTheirDeadline() {
    ConnectionLimiter limiter(1, 1, 8);
    QCOMPARE(limiter.admit(1, "a", 1000), Admission::Start);
    qint64 next = -1;
    QVERIFY(!limiter.nextDeadline(next));
    limiter.admit(2, "a", 1100);
    limiter.admit(3, "b", 1200);
    limiter.admit(4, "a", 1300);
    QVERIFY(limiter.nextDeadline(next));
    QCOMPARE(next, qint64(1100));
    QVERIFY(limiter.expire(1099).empty());
    const auto due = limiter.expire(1200);
    QCOMPARE(int(due.size()), 2);
    QCOMPARE(due.at(0).intSocket, qintptr(2));
    QCOMPARE(due.at(1).intSocket, qintptr(3));
    QVERIFY(limiter.nextDeadline(next));
    QCOMPARE(next, qint64(1300));
    // The one left still starts, with its own deadline, when the worker is free.
    const auto started = limiter.release("a");
    QCOMPARE(int(started.size()), 1);
    QCOMPARE(started.front().intDeadline, qint64(1300));
    QVERIFY(!limiter.nextDeadline(next));
}

void TestConnectionLimiter::aQuietAddressIsServedFirstAndAStalledBusyOneGivesWay() {
    ConnectionLimiter limiter(3, 2, 8);
    limiter.admit(1, "busy");
    limiter.admit(2, "busy");
    limiter.admit(3, "other");
    limiter.admit(4, "busy");
    QCOMPARE(limiter.heldBackByTheTotal(), 0); // "busy" is at its own cap
    limiter.admit(5, "quiet");
    QCOMPARE(limiter.heldBackByTheTotal(), 1);
    // Since when each waits on its client: 0 works; only long enough waits count.
    const std::vector<ConnectionLimiter::Running> running = {
        {1, "busy", 900}, {2, "busy", 0}, {3, "other", 100}};
    quint64 id = 0;
    QVERIFY(limiter.chooseToGiveWay(running, 1000, 250, id));
    QCOMPARE(id, quint64(3)); // "busy" has waited 100 ms only
    QVERIFY(limiter.chooseToGiveWay(running, 1200, 250, id));
    QCOMPARE(id, quint64(1)); // the busiest address first, though "other" waited longer
    QVERIFY(!limiter.chooseToGiveWay({{2, "busy", 0}}, 1200, 250, id));
    // The freed thread goes to the quiet address, not to the busy one that waited longer.
    const auto next = limiter.release("busy");
    QCOMPARE(int(next.size()), 1);
    QCOMPARE(next.front().intSocket, qintptr(5));
    // Every address runs one now: none gives way to the busy one's next.
    QVERIFY(!limiter.chooseToGiveWay(running, 1200, 250, id));
}

QTEST_APPLESS_MAIN(TestConnectionLimiter)
#include "ConnectionLimiterTest.moc"
