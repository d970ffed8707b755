// The history rings: what /history.json gives after hours of samples, driven by a clock of the
// test's own, so that a day passes in a moment.
#include "History.h"
#include "HistoryFile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>
#include <memory>

namespace {
// A minute boundary, so that minute means are easy to name.
constexpr qint64 T0 = 1'700'000'040'000;

History::Entry series(const QString &key, float value, bool settles = false) {
    History::Entry e;
    e.key = key;
    e.values[0] = value;
    e.decimals = 1;
    e.settles = settles;
    return e;
}

// One block of the document: its row times and each series' first column.
struct Block {
    QVector<qint64> times;
    QMap<QString, QVector<double>> first; // NaN for null
};

Block block(const QString &document, int which) {
    const QJsonObject root = QJsonDocument::fromJson(document.toUtf8()).object();
    const QJsonObject b = root.value("blocks").toArray().at(which).toObject();
    Block result;
    qint64 time = qint64(b.value("start").toDouble());
    for (const QJsonValue delta : b.value("deltas").toArray()) {
        time += qint64(delta.toDouble());
        result.times.append(time);
    }
    const QJsonObject all = b.value("series").toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        QVector<double> column;
        for (const QJsonValue v : it.value().toArray().at(0).toArray())
            column.append(v.isNull() ? std::nan("") : v.toDouble());
        result.first.insert(it.key(), column);
    }
    return result;
}
} // namespace

class HistoryTest : public QObject {
    Q_OBJECT

    qint64 now = T0;
    std::unique_ptr<History> made;
    History &history() { return *made; }

    // Samples one series "a" once a second, its value the seconds since T0.
    void feed(int samples) {
        for (int i = 0; i < samples; ++i) {
            history().record({series("a", float((now - T0) / 1000))});
            now += 1000;
        }
    }

private slots:
    void init() {
        now = T0;
        made = std::make_unique<History>();
        history().setClock([this] { return now; });
    }

    void rowsNewerThanSince_data() {
        QTest::addColumn<int>("samples");
        QTest::addColumn<qint64>("since");
        QTest::addColumn<int>("secondRows");
        QTest::addColumn<qint64>("firstSecond"); // seconds after T0
        QTest::addColumn<int>("minuteRows");
        QTest::addColumn<double>("firstMinuteMean");
        const qint64 far = std::numeric_limits<qint64>::max();
        QTest::newRow("five minutes: every second, no minute rows")
            << 300 << qint64(0) << 300 << qint64(0) << 0 << 0.0;
        QTest::newRow("since inside the last hour: the newer seconds only")
            << 600 << T0 + 299'000 << 300 << qint64(300) << 0 << 0.0;
        QTest::newRow("an hour and a half: seconds wrap, whole minutes before them")
            << 5400 << qint64(0) << 3600 << qint64(1800) << 30 << 29.5;
        QTest::newRow("a minute half covered by the seconds is left to them")
            << 5430 << qint64(0) << 3600 << qint64(1830) << 30 << 29.5;
        QTest::newRow("since older than the seconds: the minutes after it")
            << 5400 << T0 + 600'000 << 3600 << qint64(1800) << 19 << 689.5;
        QTest::newRow("a day and an hour: minutes wrap at 24 hours")
            << 25 * 3600 << qint64(0) << 3600 << qint64(24 * 3600) << 1440 - 59 << 59 * 60 + 29.5;
        QTest::newRow("since in the future: nothing") << 600 << far << 0 << qint64(0) << 0 << 0.0;
    }
    void rowsNewerThanSince() {
        QFETCH(int, samples);
        QFETCH(qint64, since);
        QFETCH(int, secondRows);
        QFETCH(qint64, firstSecond);
        QFETCH(int, minuteRows);
        QFETCH(double, firstMinuteMean);
        feed(samples);
        const QString document = history().document(since);
        const Block minutes = block(document, 0);
        const Block seconds = block(document, 1);
        QCOMPARE(seconds.times.size(), secondRows);
        QCOMPARE(minutes.times.size(), minuteRows);
        QCOMPARE(seconds.first.value("a").size(), secondRows);
        QCOMPARE(minutes.first.value("a").size(), minuteRows);
        if (secondRows > 0) {
            QCOMPARE(seconds.times.first(), T0 + firstSecond * 1000);
            QCOMPARE(seconds.first.value("a").first(), double(firstSecond));
            QCOMPARE(seconds.times.last(), now - 1000);
        }
        if (minuteRows > 0) {
            QCOMPARE(minutes.first.value("a").first(), firstMinuteMean);
            // Consecutive whole minutes, the last one ending where the seconds take over.
            QCOMPARE(minutes.times.last() - minutes.times.first(), (minuteRows - 1) * 60'000);
            QVERIFY(minutes.times.last() + 60'000 <= seconds.times.first());
        }
    }

    void sinceIsReadSafely_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("since");
        const qint64 far = std::numeric_limits<qint64>::max();
        QTest::newRow("absent") << "/history.json" << qint64(0);
        QTest::newRow("a time") << "/history.json?since=1700000000000" << qint64(1700000000000);
        QTest::newRow("among others") << "/history.json?x=1&since=7&y" << qint64(7);
        QTest::newRow("negative") << "/history.json?since=-5000" << qint64(0);
        QTest::newRow("empty") << "/history.json?since=" << qint64(0);
        QTest::newRow("not a number") << "/history.json?since=12abc" << qint64(0);
        QTest::newRow("past 64 bits") << "/history.json?since=99999999999999999999999" << far;
        QTest::newRow("a fraction, as script clocks give")
            << "/history.json?since=1700000000000.5" << qint64(1700000000000);
        QTest::newRow("an exponent") << "/history.json?since=9.9e12" << qint64(9'900'000'000'000);
        QTest::newRow("infinity") << "/history.json?since=inf" << far;
        QTest::newRow("a name that only begins so") << "/history.json?sincere=5" << qint64(0);
    }
    void sinceIsReadSafely() {
        QFETCH(QString, path);
        QTEST(History::sinceOf(path), "since");
    }

    void aRescanStartsNewSeriesAndDropsTheVanished() {
        for (int i = 0; i < 10; ++i, now += 1000)
            history().record({series("kept", 1), series("gone", 2, true)});
        for (int i = 0; i < 5; ++i, now += 1000)
            history().record({series("kept", 1), series("new", 3, true)});
        const Block seconds = block(history().document(0), 1);
        QCOMPARE(seconds.first.keys(), (QList<QString>{"kept", "new"}));
        QCOMPARE(seconds.first.value("kept"), QVector<double>(15, 1.0));
        // Empty before it began, and while its counters take their first two samples.
        const QVector<double> fresh = seconds.first.value("new");
        QCOMPARE(fresh.size(), 15);
        for (int i = 0; i < 12; ++i)
            QVERIFY2(std::isnan(fresh.at(i)), qPrintable(QString::number(i)));
        QCOMPARE(fresh.mid(12), QVector<double>(3, 3.0));
    }

    // Stopped after ninety seconds and started again ten minutes later with the same state
    // folder: the rows before are still there, the time between is a gap, and a restored series
    // whose counters start again leaves its first rows empty, as a new one does.
    void aRestartKeepsTheRowsBeforeWithAGapBetween() {
        QTemporaryDir folder;
        const auto run = [this](int samples) {
            for (int i = 0; i < samples; ++i, now += 1000)
                history().record({series("memory", 1), series("cpu:0", 2, true)});
        };
        run(90);
        HistoryFile before(history());
        before.setFolder(folder.path());
        QCOMPARE(before.save(), QString());
        // Streamed from the rings to the file, the save writes the bytes of the state in memory.
        QFile saved(before.filePath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), HistoryFile::encode(history().state()));

        now += 600'000;
        made = std::make_unique<History>();
        history().setClock([this] { return now; });
        HistoryFile after(history());
        after.setFolder(folder.path());
        QCOMPARE(after.restore(), QString());
        run(5);
        const Block seconds = block(history().document(0), 1);
        QCOMPARE(seconds.times.size(), 95);
        QCOMPARE(seconds.times.at(90) - seconds.times.at(89), 601'000);
        QCOMPARE(seconds.first.value("memory"), QVector<double>(95, 1.0));
        const QVector<double> cpu = seconds.first.value("cpu:0");
        for (int i : {0, 1, 90, 91})
            QVERIFY2(std::isnan(cpu.at(i)), qPrintable(QString::number(i)));
        QCOMPARE(cpu.mid(2, 88), QVector<double>(88, 2.0));
        QCOMPARE(cpu.mid(92), QVector<double>(3, 2.0));
    }

    void aFileNotToBeTrustedIsSetAside_data() {
        QTest::addColumn<int>("spoil");
        QTest::addColumn<QString>("why");
        QTest::newRow("one byte changed") << 0 << "damaged (its checksum does not match)";
        QTest::newRow("cut short by a power cut") << 1 << "damaged (its checksum does not match)";
        QTest::newRow("another format") << 2 << "of format 2, where this version reads 1";
        QTest::newRow("another machine") << 3 << "written on another machine";
        QTest::newRow("rows later than now") << 4 << "later than now";
        QTest::newRow("not a history at all") << 5 << "not a Tarnivo history file";
    }
    void aFileNotToBeTrustedIsSetAside() {
        QFETCH(int, spoil);
        QFETCH(QString, why);
        feed(30);
        QByteArray bytes = HistoryFile::encode(history().state());
        const auto rehash = [&bytes] {
            bytes.chop(16);
            bytes += QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
        };
        switch (spoil) {
        case 0:
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 1);
            break;
        case 1:
            bytes.truncate(bytes.size() / 2);
            break;
        case 2:
            bytes[19] = 2, rehash();
            break; // the format number follows the 16-byte mark
        case 3:
            bytes = HistoryFile::encode(history().state(), "another");
            break;
        case 4:
            now -= 3'600'000;
            break;
        case 5:
            bytes = "[web]\nport=8080\n";
            break;
        }
        QTemporaryDir folder;
        QFile file(folder.filePath("history.dat"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();

        made = std::make_unique<History>();
        history().setClock([this] { return now; });
        HistoryFile kept(history());
        kept.setFolder(folder.path());
        const QString message = kept.restore();
        QVERIFY2(message.contains(why) && message.contains("set aside"), qPrintable(message));
        QVERIFY(!QFile::exists(folder.filePath("history.dat")));
        QVERIFY(QFile::exists(folder.filePath("history.dat.bad")));
        QCOMPARE(block(history().document(0), 1).times.size(), 0);
    }

    void aClockSetBackStartsAfresh() {
        feed(120);
        now -= 60'000;
        feed(3);
        const QString document = history().document(0);
        QCOMPARE(block(document, 1).times.size(), 3);
        QCOMPARE(block(document, 0).times.size(), 0);
    }
};

QTEST_APPLESS_MAIN(HistoryTest)
#include "HistoryTest.moc"
