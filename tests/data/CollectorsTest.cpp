// The collectors: what each record makes of the system's raw values, and the sampling passes
// on the live machine.
#include "DeviceScan.h"
#include "DeviceTables.h"
#include "Memory.h"
#include "Network.h"
#include "Perfdata.h"
#include "PerfdataThread.h"
#include "Processor.h"
#include "Sample.h"
#include "StatusDocument.h"
#include "Storage.h"
#include "SystemReport.h"
#include "TarnivoVersion.h"
#include "platform/Platform.h"
#include "platform/windows_wine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QXmlStreamReader>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {
// The fields of one reading of /proc/meminfo, in bytes.
QHash<QString, quint64> meminfo() {
    QHash<QString, quint64> fields;
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly))
        return fields;
    static const QRegularExpression line(QStringLiteral("^(\\w+):\\s+(\\d+) kB"),
                                         QRegularExpression::MultilineOption);
    auto matches = line.globalMatch(QString::fromLatin1(file.readAll()));
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        fields.insert(match.captured(1), match.captured(2).toULongLong() * 1024);
    }
    return fields;
}

// Available memory as the system layer under test sums it. Ours reads MemAvailable; Wine's
// GlobalMemoryStatusEx sums MemFree, Buffers and Cached instead, which lies above MemAvailable
// by the reclaimable slab and below it by what tmpfs holds: the gap follows the machine's
// past file activity, so only the same sum can be compared.
qint64 availableAsSummed() {
    const QHash<QString, quint64> fields = meminfo();
    if (runningUnderWine())
        return qint64(fields.value(QStringLiteral("MemFree")) +
                      fields.value(QStringLiteral("Buffers")) +
                      fields.value(QStringLiteral("Cached")));
    return qint64(fields.value(QStringLiteral("MemAvailable")));
}

bool countersAvailable() {
    return !platform::counterNameList().empty() && platform::processorCount() > 0;
}

// Wine's counter service knows the object names but has no per-instance counters to add.
const char wineHasNoInstanceCounters[] =
    "Wine's counter service has no per-instance counters (such as Processor(0)) to add";

void burnCpu(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    volatile quint64 sink = 0;
    while (timer.elapsed() < milliseconds)
        for (int i = 0; i < 10000; ++i)
            sink = sink + quint64(i);
}

#ifdef Q_OS_LINUX
// Runs ip with the blank-separated arguments; false (with its output shown) when it fails.
bool ip(const QString &arguments) {
    QProcess tool;
    tool.start(QStringLiteral("ip"), arguments.split(QLatin1Char(' ')));
    if (tool.waitForFinished(20000) && tool.exitStatus() == QProcess::NormalExit &&
        tool.exitCode() == 0)
        return true;
    qWarning() << "ip" << arguments << tool.readAllStandardError();
    return false;
}
#endif

QVector<quint64> processorUsages() {
    QVector<quint64> usages;
    processorTable.visit([&usages](const Processor &record) { usages.append(record.intUsage); });
    return usages;
}

quint64 busiest() {
    quint64 most = 0;
    for (quint64 usage : processorUsages())
        most = qMax(most, usage);
    return most;
}

const QString init = QStringLiteral("/menu.xml?strRequest=requestInit");

// A copy of the fixture tree as the system layer's root while it lives.
struct TreeRoot {
    QTemporaryDir copy;
    TreeRoot() {
        namespace fs = std::filesystem;
        fs::copy(TARNIVO_FIXTURES "/linux/workstation", copy.path().toStdString(),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        platform::setRootDirectory(copy.path().toStdString());
    }
    ~TreeRoot() {
        platform::setRootDirectory("/");
        // By its bytes: a name that is not UTF-8 cannot be removed through a Qt path.
        std::filesystem::remove_all(copy.path().toStdString());
    }
    std::string path(const char *inside) const { return copy.path().toStdString() + inside; }
};
} // namespace

class CollectorsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The passes below are driven by hand; the background sampler must not interleave.
        PerfdataThread *sampler = perfdata()->thread;
        sampler->requestStop();
        QVERIFY(sampler->wait(5000));
        // The records' counters give the rates, as on Windows: the counter logic is tested here
        // against the Linux counter query.
        PerfdataThread::setRatesFromCounters(true);
        // Every rescan asked for here is carried out: the clock is always past the gap.
        DeviceScan::instance().setClock([] {
            static std::atomic<qint64> now{0};
            return now += DeviceScan::minimumGapMs;
        });
    }

    void cleanup() {
        memoryTableClear();
        networkTableClear();
        processorTableClear();
        storageTableClear();
    }

    void linkUsageIsTheByteRateOverTheLinkCapacity() {
        QCOMPARE(Network::usage(20000000, 11250000, 1000000000U), quint64(25000));
        QCOMPARE(Network::usage(12345678, 0, 100000000U), quint64(98765));
        QCOMPARE(Network::usage(0, 0, 100000000U), quint64(0));
        QCOMPARE(Network::usage(0, 0, 0), quint64(100000));
        QCOMPARE(Network::usage(12500001, 0, 100000000U), quint64(100000));

        Network adapter(QStringLiteral("eth"), {}, {}, {}, 100000000U, 1, 2);
        adapter.store(10, 20, 6000000, 250000);
        QCOMPARE(adapter.intPacketsRead, quint64(10));
        QCOMPARE(adapter.intPacketsWrite, quint64(20));
        QCOMPARE(adapter.intUsage, quint64(50000));
    }

    void aLinkFasterThanThirtyTwoBitsIsReportedAtTheMaximumInsteadOfWrapping() {
        QCOMPARE(Network::speedField(100000000ULL), quint32(100000000U));
        QCOMPARE(Network::speedField(4294967295ULL), quint32(4294967295U));
        QCOMPARE(Network::speedField(4294967296ULL), quint32(4294967295U));
        QCOMPARE(Network::speedField(100000000000ULL), quint32(4294967295U));
    }

    void aTenGigabitLinkIsMeasuredAgainstItsWholeSpeedAndPrintedAtTheFieldsMaximum() {
        auto *adapter = new Network(QStringLiteral("veth"), {}, {}, {}, 10000000000ULL, 0, 0);
        adapter->store(0, 0, 40000000, 24000000);
        QCOMPARE(adapter->intUsage, quint64(5120));
        networkTable.fill([adapter] { networkTable.append(adapter); });
        auto pass = std::make_shared<Sample>();
        pass->adapters = {{0, {0, 0, 40000000, 24000000, 0}}};
        Sample::publish(pass);
        const QString document =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead"));
        Sample::publish(nullptr);
        QVERIFY(document.contains(QStringLiteral("<intSpeed>4294967295</intSpeed>")));
        QVERIFY(document.contains(QStringLiteral("<intUsage>5120</intUsage>")));
    }

    // In a network namespace of its own, an adapter named "nic", ESC, "x" (a legal Linux name) is
    // listed with U+FFFD in its name and the document stays well-formed.
    void anAdapterNamedWithAControlCharacterGivesAWellFormedDocument() {
#ifndef Q_OS_LINUX
        QSKIP("network namespaces, and adapter names that may hold any byte, are Linux's");
#else
        const QString name = QStringLiteral("nic\x1bx");
        if (qEnvironmentVariableIsSet("TARNIVO_IN_NAMESPACE")) {
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
            PerfdataThread::samplePass();
            QXmlStreamReader reader(
                StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead")));
            QStringList names;
            while (!reader.atEnd()) {
                if (reader.readNext() == QXmlStreamReader::StartElement &&
                    reader.name() == QLatin1String("strName"))
                    names.append(reader.readElementText());
            }
            QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
            QVERIFY(names.contains(QStringLiteral("nic\uFFFDx")));
            quint64 speed = 0;
            bool counted = false;
            networkTable.visit([&](const Network &adapter) {
                if (adapter.strName == QStringLiteral("nic\uFFFDx")) {
                    speed = adapter.intSpeed;
                    counted = adapter.counterBytesRead.handle;
                }
            });
            QCOMPARE(speed, quint64(10000000000ULL)); // a veth's 10 Gb/s
            QVERIFY2(counted, "the counters find the renamed adapter");
            return;
        }
        if (geteuid() != 0)
            QSKIP("needs root to create a network namespace");
        if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            QSKIP("needs the ip tool (iproute2)");
        const QString space = QStringLiteral("tvfig%1").arg(QCoreApplication::applicationPid());
        QVERIFY(ip(QStringLiteral("netns add ") + space));
        struct Removal {
            QString space;
            ~Removal() { ip(QStringLiteral("netns delete ") + space); }
        } removal{space};
        QVERIFY(
            ip(QStringLiteral("-n %1 link add %2 type veth peer name tvfig1").arg(space, name)));
        QVERIFY(ip(QStringLiteral("-n %1 link set %2 up").arg(space, name)));
        QVERIFY(ip(QStringLiteral("-n %1 link set tvfig1 up").arg(space)));
        // "ip netns exec" also mounts a sysfs of the namespace, which the adapter list reads.
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TARNIVO_IN_NAMESPACE"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), space,
                                           QCoreApplication::applicationFilePath(),
                                           QString::fromLatin1(QTest::currentTestFunction())});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitCode() == 0, output.constData());
#endif
    }

    void aCounterRefusedForAMissingInstanceIsSetUpOnceTheInstanceExists() {
#ifndef Q_OS_LINUX
        QSKIP("the fixture tree is a Linux system's /proc and /sys");
#else
        TreeRoot tree;
        Network adapter(QStringLiteral("eth7"), {}, {}, {}, 1000, 0, 0, "eth7");
        adapter.sample();
        QCOMPARE(adapter.counterBytesRead.handle, platform::CounterHandle(nullptr));
        std::ofstream(tree.path("/proc/net/dev"), std::ios::app)
            << "  eth7: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n";
        adapter.sample();
        QVERIFY(adapter.counterBytesRead.handle && adapter.counterPacketsWrite.handle);
#endif
    }

    // Interfaces whose names a display form or the counter path syntax would make alike each
    // read their own rates.
    void adaptersWithLookalikeNamesReadTheirOwnRates() {
#ifndef Q_OS_LINUX
        QSKIP("the fixture tree is a Linux system's /proc and /sys");
#else
        TreeRoot tree;
        const std::vector<std::string> names = {"a(", "a[", "v\xff"};
        const auto sent = [&](quint64 step) {
            std::ofstream dev(tree.path("/proc/net/dev"));
            dev << "Inter-|\n face |\n";
            for (size_t i = 0; i < names.size(); ++i)
                dev << names[i] << ": 0 0 0 0 0 0 0 0 " << step * (i + 1) * 1000000
                    << " 0 0 0 0 0 0 0\n";
        };
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string base = tree.path("/sys/class/net/") + names[i];
            std::filesystem::create_directories(base);
            std::ofstream(base + "/type") << "1\n";
            std::ofstream(base + "/ifindex") << 20 + i << "\n";
        }
        sent(0);
        StatusDocument::build(init);
        PerfdataThread::samplePass(); // adds the counters
        PerfdataThread::samplePass(); // their first sample
        sent(1);
        QThread::msleep(20);
        PerfdataThread::samplePass();
        QMap<QString, quint64> rates;
        networkTable.visit([&](const Network &r) { rates.insert(r.strName, r.intBytesWrite); });
        const quint64 first = rates.value(QStringLiteral("a("));
        QVERIFY2(first > 0, "a( reads its rate");
        // Same interval for all: 1, 2 and 3 MB sent.
        QVERIFY(qAbs(qint64(rates.value(QStringLiteral("a[")) - 2 * first)) <= 2);
        QVERIFY(qAbs(qint64(rates.value(QStringLiteral("v\uFFFD")) - 3 * first)) <= 3);
#endif
    }

    // The whole document on the fixture tree, sampled three times, with the identifiers masked:
    // every field, its width and its order as the dashboard has always read them.
    void theDocumentOfTheFixtureTreeIsAsRecorded() {
#ifndef Q_OS_LINUX
        QSKIP("the fixture tree is a Linux system's /proc and /sys");
#endif
        platform::setRootDirectory(TARNIVO_FIXTURES "/linux/workstation");
        struct LiveRoot {
            ~LiveRoot() { platform::setRootDirectory("/"); }
        } liveRoot;
        StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
        for (int pass = 0; pass < 3; ++pass)
            PerfdataThread::samplePass();
        QString document =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead"));
        document.replace(QRegularExpression(QStringLiteral("<strIdent>[0-9a-f]{32}</strIdent>")),
                         QStringLiteral("<strIdent/>"));
        QFile recorded(QStringLiteral(TARNIVO_FIXTURES "/linux/workstation.menu.xml"));
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(document, QString::fromUtf8(recorded.readAll()));
        int disks = 0, counted = 0;
        storageTable.visit([&](const Storage &disk) {
            ++disks;
            counted += bool(disk.counterUsage.handle);
        });
        QVERIFY(disks > 0);
        QCOMPARE(counted, disks); // every disk of the tree has its counters
    }

    void percentagesAboveOneHundredAreCappedAndRatesAreNot() {
        Processor core(0, QStringLiteral("cpu"), QStringLiteral("family"));
        core.store(100500);
        QCOMPARE(core.intUsage, quint64(100000));
        core.store(12345);
        QCOMPARE(core.intUsage, quint64(12345));
        core.store(-5);
        QCOMPARE(core.intUsage, quint64(100000));
        core.store(0);
        QCOMPARE(core.intUsage, quint64(0));

        Storage disk(0, QStringLiteral("m"), QStringLiteral("s"), QStringLiteral("f"));
        disk.store(7000000, 8000000, 9000000000LL, 1, 250000);
        QCOMPARE(disk.intUsage, quint64(100000));
        QCOMPARE(disk.intPacketsRead, quint64(7000000));
        QCOMPARE(disk.intPacketsWrite, quint64(8000000));
        QCOMPARE(disk.intBytesRead, quint64(9000000000ULL));
        QCOMPARE(disk.intBytesWrite, quint64(1));
    }

    void aDiskInstanceNamesItsNumberAndTheLettersOfItsVolumesInOrder() {
        const QStringList volumes = Storage::volumeList({"D:\\", " C:\\ "});
        QCOMPARE(volumes, QStringList({QStringLiteral("C:\\"), QStringLiteral("D:\\")}));
        // The system names the instance; it always begins with the disk's number.
        QVERIFY(Storage::instanceText(12, volumes).startsWith(QStringLiteral("12")));
        QCOMPARE(Storage::instanceText(1, {}), QStringLiteral("1"));
    }

    void memoryFiguresAreThoseTheSystemReports() {
        const QHash<QString, quint64> fields = meminfo();
        const quint64 physical = fields.value(QStringLiteral("MemTotal"));
        QVERIFY(physical > 0);
        if (platform::memoryStatus().totalPhys == 0)
            QSKIP("the memory status of this system layer is not available yet");
        StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
        const auto records = [] {
            QVector<Memory> all;
            memoryTable.visit([&all](const Memory &record) { all.append(record); });
            return all;
        };
        QCOMPARE(records().size(), 2);
        const Memory ram = records().at(0);
        const Memory pagefile = records().at(1);
        QCOMPARE(ram.strName, QStringLiteral("Physical"));
        QCOMPARE(pagefile.strName, QStringLiteral("Pagefile"));
        // Wine rounds its totals to whole pages of its own: they can lie a page off MemTotal.
        const qint64 slack = runningUnderWine() ? 4096 : 0;
        QVERIFY(qAbs(qint64(ram.intTotal) - qint64(physical)) <= slack);
        const quint64 withSwap = physical + fields.value(QStringLiteral("SwapTotal"));
        QVERIFY(qAbs(qint64(pagefile.intTotal) - qint64(withSwap)) <= slack);
        QVERIFY(ram.intUsage > 0 && ram.intUsage < 100000);
        QCOMPARE(ram.intUsage, Memory::usage(ram.intTotal, ram.intFree));

        // The free figure lies between two readings of the same sum taken around a fresh scan,
        // give or take what other programs allocate and free within it; a busy machine may
        // swing past that once, a wrong sum misses every time.
        const qint64 margin = 32LL * 1024 * 1024;
        qint64 low = 0, high = 0, free = 0;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const qint64 before = availableAsSummed();
            memoryTableRescan();
            const qint64 after = availableAsSummed();
            free = qint64(records().at(0).intFree);
            low = qMin(before, after) - margin;
            high = qMax(before, after) + margin;
            if (free >= low && free <= high)
                break;
        }
        QVERIFY2(
            free >= low && free <= high,
            qPrintable(QStringLiteral("free %1 outside [%2, %3]").arg(free).arg(low).arg(high)));
    }

    void theFirstTwoPassesAfterAnInitReadZeroAndTheThirdCarriesFigures() {
        if (!countersAvailable())
            QSKIP("the counters of this system layer are not available yet");
        if (runningUnderWine())
            QSKIP(wineHasNoInstanceCounters);
        StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
        const qsizetype cores = processorUsages().size();
        QVERIFY(cores > 0);

        PerfdataThread::samplePass();
        QCOMPARE(processorUsages(), QVector<quint64>(cores, 0));
        int added = 0;
        processorTable.visit(
            [&added](const Processor &record) { added += bool(record.counterUsage.handle); });
        QCOMPARE(added, cores); // the first visit adds the counter
        burnCpu(200);
        PerfdataThread::samplePass();
        QCOMPARE(processorUsages(), QVector<quint64>(cores, 0));

        // Keep one core busy so that at least one processor shows a figure.
        burnCpu(400);
        PerfdataThread::samplePass();
        for (quint64 usage : processorUsages())
            QVERIFY(usage <= 100000);
        QVERIFY2(busiest() > 0, "a busy core shows its usage from the third pass");
    }

    // A rescan keeps the counters of the devices still present: the first pass after it reads
    // figures, where new counters would read 0 for two passes.
    void aRescanCarriesTheCountersOfDevicesStillPresentOver() {
        if (!countersAvailable())
            QSKIP("the counters of this system layer are not available yet");
        if (runningUnderWine())
            QSKIP(wineHasNoInstanceCounters);
        StatusDocument::build(init);
        PerfdataThread::samplePass();
        PerfdataThread::samplePass();
        // Every counter of the processors, adapters and disks, in table order.
        const auto handles = [] {
            QVector<platform::CounterHandle> all;
            const auto add = [&all](auto &record) {
                for (const Counter *counter : record.counters())
                    all.append(counter->handle);
            };
            processorTable.visit(add);
            networkTable.visit(add);
            storageTable.visit(add);
            return all;
        };
        const QVector<platform::CounterHandle> before = handles();
        StatusDocument::build(init);
        const QVector<platform::CounterHandle> after = handles();
        QCOMPARE(after, before);
        // An adapter's counter may be missing where the system has none for it; a processor's
        // never is.
        processorTable.visit([](const Processor &r) { QVERIFY(r.counterUsage.handle); });
        burnCpu(400);
        PerfdataThread::samplePass();
        QVERIFY2(busiest() > 0, "a busy core shows its usage in the first pass after a rescan");
    }

    void aPartlySetUpRecordDropsItsOldCountersBeforeAddingThemAgain() {
        if (!countersAvailable())
            QSKIP("the counters of this system layer are not available yet");
        if (runningUnderWine())
            QSKIP(wineHasNoInstanceCounters);
        Perfdata *counters = perfdata();
        const QString computer = Perfdata::computerName();
        platform::CounterHandle working = nullptr;
        counters->addCounter(Perfdata::counterPath(
                                 computer,
                                 counters->localName(computer, QStringLiteral("Processor")),
                                 QStringLiteral("0"),
                                 counters->localName(computer, QStringLiteral("% Processor Time"))),
                             working);
        QVERIFY(working != nullptr);

        // An adapter the counter service does not know: its adds keep failing.
        Network adapter(QStringLiteral("no such adapter (#1)"), {}, {}, {}, 1000, 0, 0);
        adapter.counterPacketsRead.handle = working;
        adapter.sample();
        QCOMPARE(adapter.counterPacketsRead.handle, platform::CounterHandle(nullptr));
        QCOMPARE(adapter.counterBytesWrite.handle, platform::CounterHandle(nullptr));
        QCOMPARE(adapter.intPacketsRead, quint64(0));
    }

    // Without the English name list (Wine keeps none, nor does a system whose Perflib\009 is
    // gone) a counter is still added, by its English name.
    void withoutTheEnglishNameListACounterIsAddedInEnglish() {
        const Counter usage("% Processor Time", percentFlags);
        // Wine's counter service knows the processors' total under the older object only.
        const CounterTarget target =
            runningUnderWine()
                ? CounterTarget{QStringLiteral("Processor"), "_Total"}
                : CounterTarget{QString::fromStdString(platform::processorCounterObject()),
                                platform::processorCounterInstance(0)};
        std::string path;
        const platform::CounterHandle handle = Perfdata::addCounter(
            perfdata()->query, {}, Perfdata::computerName(), target, usage, path);
        QVERIFY2(handle, path.c_str());
        platform::removeCounter(handle);
    }

    // One line per processor, disk and adapter the system layer finds, and one per counter the
    // records would add: a processor's one, a disk's five, an adapter's four.
    void theSystemReportListsEveryDeviceAndEveryCounter() {
        const QString report = SystemReport::text(50);
        QVERIFY(report.startsWith(QStringLiteral("Tarnivo " TARNIVO_VERSION " system report\n")));
        const auto lines = [&report](const char *pattern) {
            return report.count(QRegularExpression(QString::fromLatin1(pattern),
                                                   QRegularExpression::MultilineOption));
        };
        const qsizetype processors = qsizetype(platform::processorCount());
        const qsizetype disks = lines("^Disk \\d+: model ");
        const qsizetype adapters = qsizetype(platform::adapters().size());
        QCOMPARE(lines("^Logical processors: (\\d+)$"), 1);
        QVERIFY(report.contains(QStringLiteral("Logical processors: %1\n").arg(processors)));
        QCOMPARE(lines("^Processor \\d+: group "), processors);
        QCOMPARE(disks, qsizetype(platform::physicalDiskNumbers().size()));
        QCOMPARE(lines("^Adapter \""), adapters);
        // Each adapter names the counter instance its record in the status document reads.
        for (const platform::Adapter &adapter : platform::adapters()) {
            const QString instance = QString::fromStdString(
                platform::adapterCounterInstance(adapter.index, adapter.counterInstance));
            const QRegularExpression line(
                QStringLiteral("^Adapter .*: index %1, .* instance \"%2\"$")
                    .arg(adapter.index)
                    .arg(QRegularExpression::escape(instance)),
                QRegularExpression::MultilineOption);
            QVERIFY2(line.match(report).hasMatch(), qPrintable(instance));
        }
        QCOMPARE(lines("^(added|refused) "), processors + 5 * disks + 4 * adapters);
    }
};

QTEST_GUILESS_MAIN(CollectorsTest)
#include "CollectorsTest.moc"
