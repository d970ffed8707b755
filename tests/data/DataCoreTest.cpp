// Device tables, identifiers, the usage unit, counter naming, the sampling period and the status
// document.
#include "DeviceScan.h"
#include "DeviceTables.h"
#include "History.h"
#include "Memory.h"
#include "Network.h"
#include "Perfdata.h"
#include "PerfdataThread.h"
#include "Processor.h"
#include "Sample.h"
#include "StatusDocument.h"
#include "Storage.h"
#include "platform/Platform.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QXmlStreamReader>
#include <QtTest>
#include <atomic>
#include <limits>

namespace {
const QString emptyDocument =
    QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><xml></xml>");

// Element name -> texts, in document order; fails the test when the document is not well-formed.
QMultiMap<QString, QString> parseDocument(const QString &document, bool *wellFormed) {
    QMultiMap<QString, QString> values;
    QXmlStreamReader reader(document);
    QString current;
    QString text;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            current = reader.name().toString();
            text.clear();
        } else if (reader.isCharacters()) {
            text += reader.text();
        } else if (reader.isEndElement() && reader.name() == current) {
            values.insert(current, text);
            current.clear();
        }
    }
    *wellFormed = !reader.hasError();
    return values;
}

QStringList identsOf(const QString &document) {
    QStringList idents;
    static const QRegularExpression ident(QStringLiteral("<strIdent>([^<]*)</strIdent>"));
    auto it = ident.globalMatch(document);
    while (it.hasNext())
        idents.append(it.next().captured(1));
    return idents;
}

void clearAllTables() {
    memoryTableClear();
    networkTableClear();
    processorTableClear();
    storageTableClear();
}

// The rescans' clock: a test moves it by hand, or lets every reading move it past the gap.
std::atomic<qint64> scanNow{0};
std::atomic<bool> scanClockRuns{true};
qint64 scanClock() {
    return scanClockRuns ? scanNow += DeviceScan::minimumGapMs : scanNow.load();
}
} // namespace

class DataCoreTest : public QObject {
    Q_OBJECT
private slots:
    // Every rescan asked for here is carried out, unless a test holds the clock.
    void initTestCase() { DeviceScan::instance().setClock(scanClock); }
    void cleanup() {
        scanClockRuns = true;
        clearAllTables();
    }

    void identifiersAreThirtyTwoLowercaseHexDigitsAndNeverRepeat() {
        static const QRegularExpression shape(QStringLiteral("^[0-9a-f]{32}$"));
        QSet<QString> seen;
        for (int i = 0; i < 1000; ++i) {
            const QString ident = makeIdent();
            QVERIFY2(shape.match(ident).hasMatch(), qPrintable(ident));
            seen.insert(ident);
        }
        QCOMPARE(seen.size(), 1000);
    }

    void usageRatiosTruncateAndEverythingOutsideTheRangeReadsFull() {
        QCOMPARE(usageFromRatio(0.123456), quint64(12345));
        QCOMPARE(usageFromRatio(0.0), quint64(0));
        QCOMPARE(usageFromRatio(1.5), quint64(100000));
        QCOMPARE(usageFromRatio(-0.25), quint64(100000));
        QCOMPARE(usageFromRatio(1.0 / 0.0), quint64(100000));
        QCOMPARE(usageFromRatio(std::numeric_limits<double>::quiet_NaN()), quint64(100000));
        QCOMPARE(usageFromRatio(1e300), quint64(100000));
        QCOMPARE(clampUsage(std::numeric_limits<qint64>::min()), quint64(100000));
        QCOMPARE(clampUsage(99999), quint64(99999));
    }

    void memoryUsageIsTheUsedShareOfTheTotal() {
        QCOMPARE(Memory::usage(8589934592ULL, 2147483648ULL), quint64(75000));
        QCOMPARE(Memory::usage(3, 1), quint64(66666));
        QCOMPARE(Memory::usage(4096, 4096), quint64(0));
        QCOMPARE(Memory::usage(0, 0), quint64(100000));
        const Memory record(QStringLiteral("Physical"), 3, 1);
        QCOMPARE(record.intUsage, quint64(66666));
    }

    void memoryFillWithoutClearKeepsEveryPairWithItsOwnIdentifiers() {
        memoryTableFill();
        memoryTableFill();
        QStringList names;
        QSet<QString> idents;
        memoryTable.visit([&](const Memory &record) {
            names.append(record.strName);
            idents.insert(record.strIdent);
        });
        QCOMPARE(names, QStringList({QStringLiteral("Physical"), QStringLiteral("Pagefile"),
                                     QStringLiteral("Physical"), QStringLiteral("Pagefile")}));
        QCOMPARE(idents.size(), 4);
    }

    // Run again as a child that breaks the rule; the debug build must stop it at once.
    void aSecondTableMutexInOneThreadStopsADebugBuild() {
#ifdef QT_NO_DEBUG
        QSKIP("the rule is checked in debug builds");
#endif
        if (qEnvironmentVariableIsSet("TARNIVO_BREAK_TABLE_RULE")) {
            memoryTable.fill([] { networkTable.visit([](const Network &) {}); });
            return;
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARNIVO_BREAK_TABLE_RULE"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(QTest::currentTestFunction())});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::CrashExit, output.constData());
        QVERIFY2(output.contains("a second table mutex"), output.constData());
    }

    void counterNameListMapsEachNameToItsFirstIndex() {
        const QString list = QStringLiteral("2") + QChar(0) + QStringLiteral("System") + QChar(0) +
                             QStringLiteral("4") + QChar(0) + QStringLiteral("Memory") + QChar(0) +
                             QStringLiteral("6") + QChar(0) + QStringLiteral("System") + QChar(0) +
                             QChar(0);
        const QMap<QString, QString> index = Perfdata::parseCounterNames(list);
        QCOMPARE(index.value(QStringLiteral("System")), QStringLiteral("2"));
        QCOMPARE(index.value(QStringLiteral("Memory")), QStringLiteral("4"));
        QVERIFY(index.contains(QString()));
        QCOMPARE(index.value(QString()), QString());
        QCOMPARE(index.size(), 3);

        // An odd last part has no name and is ignored; an empty list gives an empty index.
        const QMap<QString, QString> odd = Perfdata::parseCounterNames(
            QStringLiteral("10") + QChar(0) + QStringLiteral("Processor") + QChar(0) +
            QStringLiteral("12"));
        QCOMPARE(odd.size(), 1);
        QCOMPARE(odd.value(QStringLiteral("Processor")), QStringLiteral("10"));
        QVERIFY(Perfdata::parseCounterNames(QString()).isEmpty());
    }

    void counterPathsFollowTheCounterServiceSyntaxWithTheInstanceAsGiven() {
        QCOMPARE(
            Perfdata::counterPath(QStringLiteral("WS01"), QStringLiteral("Network Interface"),
                                  QStringLiteral("Ethernet Adapter [2]"),
                                  QStringLiteral("Bytes Sent/sec")),
            QStringLiteral("\\\\WS01\\Network Interface(Ethernet Adapter [2])\\Bytes Sent/sec"));
        // An instance's bytes pass unchanged, even those that are not UTF-8.
        QCOMPARE(Perfdata::counterPath(QStringLiteral("WS01"), QStringLiteral("Network Interface"),
                                       std::string("v\xff(1)"), QStringLiteral("Bytes Sent/sec")),
                 std::string("\\\\WS01\\Network Interface(v\xff(1))\\Bytes Sent/sec"));
    }

    void thePeriodIsOneSecondFromPassStartToPassStart() {
        QCOMPARE(PerfdataThread::sleepAfterPass(5000, 5300), qint64(700));
        QCOMPARE(PerfdataThread::sleepAfterPass(5000, 5000), qint64(1000));
        QCOMPARE(PerfdataThread::sleepAfterPass(5000, 6000), qint64(0));
        QCOMPARE(PerfdataThread::sleepAfterPass(5000, 6500), qint64(1000));
        // The clock was set back during the pass.
        QCOMPARE(PerfdataThread::sleepAfterPass(5000, 1000), qint64(1000));
    }

    void requestWordsAreTheColonSeparatedValueOfStrRequest() {
        QCOMPARE(StatusDocument::requestWords(
                     QStringLiteral("/menu.xml?strRequest=requestInit:requestRead&x=1")),
                 QStringList({QStringLiteral("requestInit"), QStringLiteral("requestRead")}));
        QCOMPARE(StatusDocument::requestWords(QStringLiteral("/menu.xml")), QStringList());
        QCOMPARE(StatusDocument::requestWords(QStringLiteral("/menu.xml?strRequest=")),
                 QStringList({QString()}));
        QCOMPARE(StatusDocument::requestWords(QStringLiteral("/menu.xml?a=b&strRequest=::x")),
                 QStringList({QString(), QString(), QStringLiteral("x")}));
        QCOMPARE(StatusDocument::requestWords(QStringLiteral("/menu.xml?strrequest=requestRead")),
                 QStringList());
    }

    void withoutAKnownWordTheDocumentIsEmptyAndTheTablesUntouched() {
        memoryTableFill();
        QStringList idents;
        memoryTable.visit([&](const Memory &record) { idents.append(record.strIdent); });
        for (const QString &path :
             {QStringLiteral("/menu.xml"), QStringLiteral("/menu.xml?strRequest="),
              QStringLiteral("/menu.xml?strRequest=somethingElse"),
              QStringLiteral("/menu.xml?strRequest=RequestRead:RequestInit")}) {
            const QString document = StatusDocument::build(path);
            QCOMPARE(document, emptyDocument);
            QCOMPARE(document.toUtf8().size(), 50);
        }
        QStringList after;
        memoryTable.visit([&](const Memory &record) { after.append(record.strIdent); });
        QCOMPARE(after, idents);
    }

    void initRebuildsTheTablesAndReadListsTheNewRecords() {
        QCOMPARE(StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead")),
                 emptyDocument);
        QCOMPARE(StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit")),
                 emptyDocument);
        const QString first =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead"));
        QVERIFY(first.startsWith(
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><xml><Memory><strIdent>")));
        QVERIFY(first.contains(QStringLiteral("</strIdent><strName>Physical</strName><intTotal>")));
        QVERIFY(first.contains(QStringLiteral("<strName>Pagefile</strName>")));
        QVERIFY(first.endsWith(QStringLiteral("</xml>")));
        QVERIFY(!first.contains(QLatin1Char('\n')));
        // A read repeats the identifiers of the last init.
        QCOMPARE(
            identsOf(StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead"))),
            identsOf(first));

        // Word order does not matter: the init always comes first, and a decoded %3A is a colon.
        const QString second =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead:requestInit"));
        const QString third =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit:requestRead"));
        const QStringList idents1 = identsOf(first);
        const QStringList idents2 = identsOf(second);
        const QStringList idents3 = identsOf(third);
        QCOMPARE(idents2.size(), idents1.size());
        QCOMPARE(idents3.size(), idents1.size());
        QVERIFY(idents1.size() >= 2);
        for (int i = 0; i < idents1.size(); ++i) {
            QVERIFY(idents1.at(i) != idents2.at(i));
            QVERIFY(idents2.at(i) != idents3.at(i));
        }
        // The same devices in the same order; only their figures may have moved.
        static const QRegularExpression values(QStringLiteral(">[^<]+<"));
        QCOMPARE(QString(second).replace(values, QStringLiteral("><")),
                 QString(third).replace(values, QStringLiteral("><")));
    }

    // The scan at start leaves no gap: the first page's init, at once after it, still scans
    // afresh and gets new identifiers.
    void theFirstInitAfterTakingStockScansAfresh() {
        scanClockRuns = false;
        scanNow += DeviceScan::minimumGapMs;
        DeviceScan::instance().takeStock();
        const QStringList taken =
            identsOf(StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead")));
        QVERIFY(taken.size() >= 2);
        const QStringList init =
            identsOf(StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit")
                                               .append(QStringLiteral(":requestRead"))));
        QCOMPARE(init.size(), taken.size());
        QVERIFY(init.first() != taken.first());
    }

    // A rescan gives new identifiers, yet every device still present goes on in its own series.
    void aRescanKeepsTheHistorySeriesOfDevicesStillPresent() {
        History history;
        qint64 now = 1'700'000'000'000;
        history.setClock([&now] { return now += 1000; });
        const auto seriesKeys = [&history] {
            const QJsonObject blocks = QJsonDocument::fromJson(history.document(0).toUtf8())
                                           .object()
                                           .value("blocks")
                                           .toArray()
                                           .at(1)
                                           .toObject();
            return blocks.value("series").toObject().keys();
        };
        DeviceScan::instance().takeStock();
        history.recordTables(Sample());
        const QStringList before = seriesKeys();
        QVERIFY(DeviceScan::instance().request());
        history.recordTables(Sample());
        QCOMPARE(seriesKeys(), before);
        QVERIFY(before.contains(QStringLiteral("cpu:0")));
        QVERIFY(before.contains(QStringLiteral("Memory:mem:Physical,mem:Pagefile")));
    }

    // The series follow the tables from pass to pass: when the adapters go, so do their series
    // and their total, whose key named them, while memory goes on.
    void theSeriesFollowTheDevicesOfEachPass() {
        History history;
        qint64 now = 1'700'000'000'000;
        history.setClock([&now] { return now += 1000; });
        const auto networkKeys = [&history] {
            std::vector<History::Entry> row;
            history.newest(row);
            QStringList keys;
            for (const History::Entry &e : row)
                if (e.key.startsWith(QLatin1String("net")) ||
                    e.key.startsWith(QLatin1String("Net")))
                    keys.append(e.key);
            return keys;
        };
        platform::setRootDirectory(TARNIVO_FIXTURES "/linux/workstation");
        clearAllTables();
        memoryTableFill();
        networkTableFill();
        platform::setRootDirectory("/");
        history.recordTables(Sample());
        QVERIFY(networkKeys().contains(QStringLiteral("net:eth0")));
        networkTableClear();
        history.recordTables(Sample());
        QCOMPARE(networkKeys(), QStringList());
    }

    // Devices still present keep their places; devices that came follow them.
    void aRescanKeepsThePlacesOfDevicesStillPresent_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("after");
        QTest::newRow("the system lists them in another order") << "abc"
                                                                << "cba"
                                                                << "abc";
        QTest::newRow("one went, one came first") << "abc"
                                                  << "dca"
                                                  << "acd";
        QTest::newRow("an empty table takes the order found") << ""
                                                              << "ba"
                                                              << "ba";
        QTest::newRow("twins keep theirs") << "aab"
                                           << "baa"
                                           << "aab";
    }
    void aRescanKeepsThePlacesOfDevicesStillPresent() {
        struct Device {
            QChar name;
            bool adopt(Device &old) { return old.name == name; }
        };
        const auto devices = [](const QString &names) {
            QVector<Device *> made;
            for (const QChar name : names)
                made.append(new Device{name});
            return made;
        };
        QFETCH(QString, before);
        QFETCH(QString, found);
        DeviceTable<Device> table;
        table.replace(devices(before));
        table.replace(devices(found));
        QString order;
        table.visit([&order](const Device &d) { order += d.name; });
        QTEST(order, "after");
        table.clear();
    }

    // Within the gap after a rescan no other starts, and the request gets the last one's tables.
    void aRescanAskedForWithinTheGapServesTheLastOnesRecords() {
        scanClockRuns = false;
        scanNow += DeviceScan::minimumGapMs;
        const QString initRead = QStringLiteral("/menu.xml?strRequest=requestInit:requestRead");
        const QStringList first = identsOf(StatusDocument::build(initRead));
        QVERIFY(first.size() >= 2);
        scanNow += DeviceScan::minimumGapMs - 1;
        QCOMPARE(identsOf(StatusDocument::build(initRead)), first);
        scanNow += 1;
        const QStringList next = identsOf(StatusDocument::build(initRead));
        QCOMPARE(next.size(), first.size());
        QVERIFY(next.first() != first.first());
    }

    // Asked for six times at once past the gap: one rescan runs, the others wait for its end
    // and take its tables rather than rescanning again.
    void rescansAskedForAtOnceRunOnce() {
        scanClockRuns = false;
        scanNow += DeviceScan::minimumGapMs;
        std::atomic<int> rescans{0};
        QList<QThread *> threads;
        for (int t = 0; t < 6; ++t)
            threads.append(
                QThread::create([&rescans] { rescans += DeviceScan::instance().request(); }));
        for (QThread *thread : threads)
            thread->start();
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(60000));
            delete thread;
        }
        QCOMPARE(rescans.load(), 1);
    }

    // Six rescans asked for at once (a browser's connections to one host) while others read:
    // every device is listed once in every document, never twice and never missing.
    void rescansAtOnceNeverShowATableEmptyOrDoubled() {
        StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
        const auto counts = [](const QString &document) {
            QString found;
            for (const char *record : {"<Memory>", "<Network>", "<Processor>", "<Storage>"})
                found += QString::number(document.count(QLatin1String(record))) + QLatin1Char('/');
            return found;
        };
        const QString read = QStringLiteral("/menu.xml?strRequest=requestRead");
        const QString expected = counts(StatusDocument::build(read));
        QMutex seenMutex;
        QSet<QString> seen;
        std::atomic<bool> scanning{true};
        QList<QThread *> threads;
        for (int t = 0; t < 6; ++t) {
            threads.append(QThread::create([] {
                for (int i = 0; i < 5; ++i)
                    StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
            }));
        }
        QThread *reader = QThread::create([&] {
            while (scanning) {
                const QString found = counts(StatusDocument::build(read));
                QMutexLocker locker(&seenMutex);
                seen.insert(found);
            }
        });
        reader->start();
        for (QThread *thread : threads)
            thread->start();
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(120000));
            delete thread;
        }
        scanning = false;
        QVERIFY(reader->wait(10000));
        delete reader;
        seen.insert(counts(StatusDocument::build(read)));
        QCOMPARE(seen, QSet<QString>({expected}));
    }

    void requestMemoryGivesThisMomentsMemoryOnlyToTheReaderWhoAsks() {
        // Scanned on a fixture tree, read on the live system: the two cannot be confused.
        platform::setRootDirectory(TARNIVO_FIXTURES "/linux/workstation");
        memoryTableClear();
        memoryTableFill();
        platform::setRootDirectory("/");
        const QString read = QStringLiteral("/menu.xml?strRequest=requestRead");
        const QString scanned = StatusDocument::build(read);
        const QString fresh = StatusDocument::build(read + QStringLiteral(":requestMemory"));
        QCOMPARE(identsOf(fresh), identsOf(scanned));
        const auto total = [](quint64 bytes) {
            return QStringLiteral("<intTotal>%1</intTotal>").arg(bytes);
        };
#ifdef Q_OS_LINUX
        // Only the Linux system layer reads from a root directory; elsewhere both are live.
        QVERIFY(scanned.contains(total(16303428ull * 1024)));
#endif
        QVERIFY(fresh.contains(total(platform::memoryStatus().totalPhys)));
        QCOMPARE(StatusDocument::build(read), scanned);
    }

    void requestSpeedGivesTheWholeLinkSpeedOnlyToTheReaderWhoAsks() {
        networkTable.fill([] {
            networkTable.append(new Network(QStringLiteral("10G"), QString(), QString(), QString(),
                                            10000000000ULL, 0, 0));
        });
        const QString read = QStringLiteral("/menu.xml?strRequest=requestRead");
        const QString clamped = StatusDocument::build(read);
        QVERIFY(clamped.contains(QStringLiteral("<intSpeed>4294967295</intSpeed>")));
        const QString whole = StatusDocument::build(read + QStringLiteral(":requestSpeed"));
        QVERIFY(whole.contains(QStringLiteral("<intSpeed>10000000000</intSpeed>")));
        QCOMPARE(
            QString(whole).replace(QStringLiteral("10000000000"), QStringLiteral("4294967295")),
            clamped);
    }

    void recordsArePrintedFieldByFieldWithUnsignedNumbersAndEscapedTexts() {
        networkTable.fill([] {
            // Octet counts print as the interface row's 32-bit counts: 2^32 + 8 wraps to 8.
            networkTable.append(new Network(
                QStringLiteral("Fast & <Cheap> \"NIC\" 'one'"), QStringLiteral("10.0.0.2"),
                QStringLiteral("255.255.255.0"), QString(), 4294967295U, 7, 4294967304ULL));
        });
        processorTable.fill([] {
            processorTable.append(new Processor(3, QStringLiteral("CPU"), QStringLiteral("x86")));
        });
        storageTable.fill([] {
            storageTable.append(
                new Storage(0, QStringLiteral("Disk"), QString(), QStringLiteral("1.0")));
        });
        // The figures are the pass's, found by the devices' interface index and number.
        auto pass = std::make_shared<Sample>();
        pass->adapters = {{0, {~quint64(0), 2, 3, 4, 0}}};
        pass->disks = {{0, {1, 2, 3, 4, usageFull}}};
        Sample::publish(pass);
        const QString document =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead"));
        Sample::publish(nullptr);
        bool wellFormed = false;
        const QMultiMap<QString, QString> values = parseDocument(document, &wellFormed);
        QVERIFY2(wellFormed, qPrintable(document));
        QVERIFY(values.values(QStringLiteral("strName"))
                    .contains(QStringLiteral("Fast & <Cheap> \"NIC\" 'one'")));
        QVERIFY(values.values(QStringLiteral("strGateway")).contains(QString()));
        QVERIFY(document.contains(QStringLiteral(
            "<strAddress>10.0.0.2</strAddress><strSubnetmask>255.255.255.0</strSubnetmask>"
            "<strGateway></strGateway><intSpeed>4294967295</intSpeed><intOctetsRead>7"
            "</intOctetsRead><intOctetsWrite>8</intOctetsWrite><intPacketsRead>"
            "18446744073709551615</intPacketsRead><intPacketsWrite>2</intPacketsWrite>")));
        QVERIFY(document.contains(QStringLiteral(
            "</strIdent><intCore>3</intCore><strName>CPU</strName><strFamily>x86</strFamily>"
            "<intUsage>0</intUsage></Processor>")));
        QVERIFY(document.contains(QStringLiteral(
            "</strIdent><strModel>Disk</strModel><strSerial></strSerial><strFirmware>1.0"
            "</strFirmware><intPacketsRead>1</intPacketsRead><intPacketsWrite>2</intPacketsWrite>"
            "<intBytesRead>3</intBytesRead><intBytesWrite>4</intBytesWrite><intUsage>100000"
            "</intUsage></Storage></xml>")));
        // Memory, network, processor, storage, in that order.
        QVERIFY(document.indexOf(QStringLiteral("<Network>")) <
                document.indexOf(QStringLiteral("<Processor>")));
        QVERIFY(document.indexOf(QStringLiteral("<Processor>")) <
                document.indexOf(QStringLiteral("<Storage>")));
    }

    // From here on the one counter object and its sampler exist.
    void everyFirstCallerGetsTheSameCounterObject() {
        std::atomic<Perfdata *> seen[4] = {};
        QList<QThread *> threads;
        for (int t = 0; t < 4; ++t)
            threads.append(QThread::create([t, &seen] { seen[t] = perfdata(); }));
        for (QThread *thread : threads)
            thread->start();
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(5000));
            delete thread;
        }
        for (auto &object : seen)
            QCOMPARE(object.load(), perfdata());
    }
    void aPassOfExactlyOneSecondIsFollowedAtOnceByTheNext() {
        PerfdataThread thread;
        // Every pass appears to take exactly 1000 ms, so the thread never sleeps.
        std::atomic<qint64> calls{0};
        thread.setClock([&calls] { return (calls.fetch_add(1) % 2) * 1000; });
        QElapsedTimer timer;
        timer.start();
        thread.start();
        while (calls.load() < 40 && timer.elapsed() < 5000)
            QThread::msleep(1);
        QCOMPARE(thread.status(), QStringLiteral("statusEnabled"));
        thread.requestStop();
        QVERIFY(thread.wait(5000));
        QVERIFY(calls.load() >= 40);
        // Twenty passes with a real one-second period would take twenty seconds.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(thread.status(), QStringLiteral("statusDisabled"));
    }

    void aStopRequestWakesTheSleepAtOnce() {
        PerfdataThread thread;
        QCOMPARE(thread.status(), QStringLiteral("statusNone"));
        std::atomic<int> calls{0};
        // Passes appear instant, so the thread sleeps a whole second after each.
        thread.setClock([&calls] {
            calls.fetch_add(1);
            return qint64(0);
        });
        thread.start();
        QElapsedTimer timer;
        timer.start();
        while (calls.load() < 2 && timer.elapsed() < 5000)
            QThread::msleep(1);
        QThread::msleep(50);
        timer.restart();
        thread.requestStop();
        QVERIFY(thread.wait(5000));
        QVERIFY2(timer.elapsed() < 700, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(calls.load(), 2);
        QCOMPARE(thread.status(), QStringLiteral("statusDisabled"));
    }

    void aStopRequestedBeforeTheThreadRunsIsKept() {
        PerfdataThread thread;
        std::atomic<int> calls{0};
        thread.setClock([&calls] { return qint64(calls.fetch_add(1)); });
        thread.requestStop();
        thread.start();
        QVERIFY(thread.wait(5000));
        QCOMPARE(calls.load(), 0);
        QCOMPARE(thread.status(), QStringLiteral("statusDisabled"));
    }

    void oneSamplerAndManyRequestsAtOnceAlwaysGiveWellFormedDocuments() {
        QVERIFY(perfdata() != nullptr);
        QVERIFY(perfdata()->thread != nullptr);
        QAtomicInt malformed = 0;
        QAtomicInt documents = 0;
        QList<QThread *> threads;
        for (int t = 0; t < 6; ++t) {
            threads.append(QThread::create([t, &malformed, &documents] {
                for (int i = 0; i < 25; ++i) {
                    const QString path =
                        (i + t) % 3 == 0 ? QStringLiteral("/menu.xml?strRequest=requestInit")
                        : (i + t) % 3 == 1
                            ? QStringLiteral("/menu.xml?strRequest=requestRead")
                            : QStringLiteral("/menu.xml?strRequest=requestInit:requestRead");
                    const QString document = StatusDocument::build(path);
                    bool wellFormed = false;
                    parseDocument(document, &wellFormed);
                    if (!wellFormed)
                        malformed.fetchAndAddRelaxed(1);
                    documents.fetchAndAddRelaxed(1);
                    // Between requests the sampler gets its turn at the tables.
                    PerfdataThread::samplePass();
                }
            }));
        }
        for (QThread *thread : threads)
            thread->start();
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(120000));
            delete thread;
        }
        QCOMPARE(documents.loadRelaxed(), 150);
        QCOMPARE(malformed.loadRelaxed(), 0);
        QCOMPARE(perfdata()->thread->status(), QStringLiteral("statusEnabled"));
    }
};

QTEST_GUILESS_MAIN(DataCoreTest)
#include "DataCoreTest.moc"
