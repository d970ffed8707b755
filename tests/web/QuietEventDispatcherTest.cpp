// The dispatcher of connection threads still delivers what is posted to them.
#include "QuietEventDispatcher.h"

#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QtTest>

#include <atomic>

class TestQuietEventDispatcher : public QObject {
    Q_OBJECT
private slots:
    void postedEventsAndLoopQuitsReachAThreadWithoutNotifiers();
};

void TestQuietEventDispatcher::postedEventsAndLoopQuitsReachAThreadWithoutNotifiers() {
    QThread thread;
    thread.setEventDispatcher(new QuietEventDispatcher);
    QPointer<QObject> doomed;
    std::atomic<QEventLoop *> loop{nullptr};
    std::atomic<QObject *> receiver{nullptr};
    std::atomic<bool> delivered{false}, loopEnded{false};
    QObject::connect(
        &thread, &QThread::started, &thread,
        [&] {
            QObject local;
            doomed = new QObject;
            doomed->deleteLater();
            QEventLoop nested;
            receiver = &local;
            loop = &nested;
            nested.exec(); // ends only through the quit posted below
            loopEnded = true;
        },
        Qt::DirectConnection);
    thread.start();
    QTRY_VERIFY(loop.load() != nullptr);
    QMetaObject::invokeMethod(
        receiver.load(), [&] { delivered = true; }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        receiver.load(), [&] { loop.load()->quit(); }, Qt::QueuedConnection);
    QTRY_VERIFY(loopEnded.load());
    QVERIFY(delivered.load());
    // The thread's own loop, entered after the started handler, ends on a wake-up as well.
    thread.quit();
    QVERIFY(thread.wait(5000));
    QVERIFY(doomed.isNull());
}

QTEST_GUILESS_MAIN(TestQuietEventDispatcher)
#include "QuietEventDispatcherTest.moc"
