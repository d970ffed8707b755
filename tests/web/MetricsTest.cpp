// The metrics document: its format, its routing, and what a scrape may and may not do to the
// device tables.
#include "DeviceTables.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "Memory.h"
#include "MetricsDocument.h"
#include "Network.h"
#include "PerfdataThread.h"
#include "Processor.h"
#include "StatusDocument.h"
#include "Storage.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QtTest>
#include <filesystem>
#include <set>

namespace {
HttpRequest get(const QString &target, const QString &method = QStringLiteral("GET")) {
    return HttpRequest::parse(method + QLatin1Char(' ') + target +
                              QStringLiteral(" HTTP/1.1\r\n\r\n"));
}

// The series of a document (name and labels of each sample), after checking that every family
// is announced once, with HELP then TYPE, and that its samples follow it together.
QStringList seriesOf(const QString &text) {
    QString announced;
    QSet<QString> families;
    QStringList series;
    static const QRegularExpression sampleLine(QStringLiteral("^([a-z_]+)(\\{.*\\})? (\\S+)$"));
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.startsWith(QLatin1String("# HELP "))) {
            const QStringList type = lines.value(i + 1).split(QLatin1Char(' '));
            if (type.value(2) != line.split(QLatin1Char(' ')).value(2))
                return {QStringLiteral("HELP without its TYPE: ") + line};
            announced = type.value(2);
            if (families.contains(announced) || announced.endsWith(QLatin1String("_total")) !=
                                                    (type.value(3) == QLatin1String("counter")))
                return {QStringLiteral("family announced twice or mistyped: ") + announced};
            families.insert(announced);
            ++i;
            continue;
        }
        const auto match = sampleLine.match(line);
        if (!match.hasMatch() || match.captured(1) != announced)
            return {QStringLiteral("stray line: ") + line};
        series.append(match.captured(1) + match.captured(2));
    }
    return series;
}

// A snapshot of adapters with these names (interface indices 1, 2, ...), each with its info,
// and of one disk.
MetricsDocument::Snapshot adaptersNamed(const std::vector<std::string> &names) {
    MetricsDocument::Snapshot s;
    s.strVersion = QStringLiteral("1.1");
    s.totals.processors = {{0, 1}};
    s.totals.disks = {{0, 512, 1024, 1, 2, 3}};
    s.disks = {{0, QStringLiteral("Disk"), QStringLiteral("S1"), QStringLiteral("F1")}};
    quint32 index = 0;
    for (const std::string &name : names) {
        platform::AdapterTotals row;
        row.description = name;
        row.index = ++index;
        s.totals.adapters.push_back(row);
        s.adapters.append({index, QStringLiteral("192.0.2.1"), {}, {}});
    }
    return s;
}
#ifdef Q_OS_LINUX
// The fixture tree's counts raised and the documents compared, on Linux only.
// Adds step * (k + 1) to the k-th figure of each line a kernel file of the tree holds, from its
// first field on: every count goes up by a different amount.
void countUp(const QString &path, int first, quint64 step) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    file.close();
    for (QString &line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        QStringList fields = line.mid(colon + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (qsizetype k = first; k < fields.size(); ++k) {
            bool number = false;
            const quint64 value = fields[k].toULongLong(&number);
            if (number)
                fields[k] = QString::number(value + step * quint64(k + 1));
        }
        if (!line.isEmpty())
            line = line.left(colon + 1) + fields.join(QLatin1Char(' '));
    }
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join(QLatin1Char('\n')).toLatin1());
}

// The samples of a family: labels -> value.
QHash<QString, double> family(const QString &text, const QString &name) {
    QHash<QString, double> values;
    static const QRegularExpression line(QStringLiteral("^([a-z_]+)(\\{.*\\})? (\\S+)$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(1) == name)
            values.insert(match.captured(2), match.captured(3).toDouble());
    }
    return values;
}

// The sum of one element's figures over the records of the status document.
double documentSum(const QString &document, const QString &record, const QString &element) {
    double sum = 0;
    const QRegularExpression records(QStringLiteral("<%1>(.*?)</%1>").arg(record));
    const QRegularExpression field(QStringLiteral("<%1>(\\d+)</%1>").arg(element));
    for (auto it = records.globalMatch(document); it.hasNext();)
        sum += field.match(it.next().captured(1)).captured(1).toDouble();
    return sum;
}

double totalDifference(const QString &before, const QString &after, const QString &name) {
    const QHash<QString, double> a = family(before, name), b = family(after, name);
    double sum = 0;
    for (auto it = b.begin(); it != b.end(); ++it)
        sum += it.value() - a.value(it.key());
    return sum;
}
#endif
} // namespace

class MetricsTest : public QObject {
    Q_OBJECT

private slots:
    void labelValuesAreWrittenVisiblyAndDistinctly_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("written");
        QTest::newRow("format escapes") << QByteArray("a\"b") << QStringLiteral("a\\\"b");
        QTest::newRow("backslash") << QByteArray("a\\b") << QStringLiteral("a\\\\\\\\b");
        QTest::newRow("control") << QByteArray("c\x01") << QStringLiteral("c\\\\x01");
        QTest::newRow("line feed") << QByteArray("c\n") << QStringLiteral("c\\\\x0a");
        QTest::newRow("its text") << QByteArray("c\\x01") << QStringLiteral("c\\\\\\\\x01");
        QTest::newRow("invalid") << QByteArray("v\xff") << QStringLiteral("v\\\\xff");
        QTest::newRow("overlong") << QByteArray("\xc0\xaf") << QStringLiteral("\\\\xc0\\\\xaf");
        QTest::newRow("surrogate")
            << QByteArray("\xed\xa0\x80") << QStringLiteral("\\\\xed\\\\xa0\\\\x80");
        QTest::newRow("cut short") << QByteArray("\xe2\x82") << QStringLiteral("\\\\xe2\\\\x82");
        QTest::newRow("valid") << QByteArray("é€\xef\xbf\xbd😀") << QStringLiteral("é€\uFFFD😀");
    }
    void labelValuesAreWrittenVisiblyAndDistinctly() {
        QFETCH(QByteArray, name);
        QFETCH(QString, written);
        QCOMPARE(MetricsDocument::labelValue(name.toStdString()), written);
    }

    void everyFamilyIsAnnouncedOnceWithItsSamplesTogetherAndNoSeriesTwice() {
        MetricsDocument::Snapshot s;
        s.strVersion = QStringLiteral("1.1");
        s.memory = {8, 2, 12, 5};
        s.totals.processors = {{0, 1000050}, {1, 7}};
        s.totals.adapters = {{" eth0 ", 1ull << 40, 2, 3, 4, 1000000000, 2},
                             {"wi\"fi", 0, 0, 0, 0, 0, 3}};
        s.totals.disks = {{0, 512, 1024, 1, 2, 4100000}};
        // Two scans at once list the adapter twice.
        s.adapters = {{2, QStringLiteral("192.0.2.1"), {}, {}},
                      {2, QStringLiteral("192.0.2.1"), {}, {}}};
        s.disks = {{0, QStringLiteral("Disk"), QStringLiteral("S1"), QStringLiteral("F1")}};
        s.intHeartbeatDropped = 20;
        const QString text = MetricsDocument::render(s);
        QVERIFY(text.endsWith(QLatin1Char('\n')));
        const QStringList series = seriesOf(text);
        QCOMPARE(QSet<QString>(series.begin(), series.end()).size(), series.size());
        QSet<QString> families;
        for (const QString &one : series)
            families.insert(one.section(QLatin1Char('{'), 0, 0));
        QVERIFY(families.size() >= 14);
        for (const char *expected :
             {"tarnivo_memory_available_bytes{memory=\"pagefile\"} 5\n",
              "tarnivo_cpu_busy_seconds_total{cpu=\"0\"} 1.000050\n",
              "tarnivo_network_receive_bytes_total{adapter=\"eth0\"} 1099511627776\n",
              "tarnivo_network_receive_bytes_total{adapter=\"wi\\\"fi\"} 0\n",
              "tarnivo_network_speed_bytes{adapter=\"eth0\"} 125000000\n",
              "tarnivo_disk_busy_seconds_total{disk=\"0\"} 4.100000\n",
              "tarnivo_network_info{adapter=\"eth0\",address=\"192.0.2.1\",mask=\"\",gateway=\"\"} "
              "1\n",
              "tarnivo_disk_info{disk=\"0\",model=\"Disk\",serial=\"S1\",firmware=\"F1\"} 1\n",
              "tarnivo_build_info{version=\"1.1\"} 1\n", "tarnivo_heartbeat_dropped_total 20\n"})
            QVERIFY2(text.contains(QLatin1String(expected)), expected);
    }

    // Which machine, since when, who is on it and whether it must restart; a start not known
    // is left out rather than given as 1970.
    void theHostIsNamedWithItsStartPeopleAndOwedRestart_data() {
        QTest::addColumn<qint64>("boot");
        QTest::addColumn<bool>("reboot");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("known start, restart owed")
            << qint64(1733550000) << true
            << QStringList{"tarnivo_host_info{hostname=\"ws-0815\",os=\"Debian \\\"x\\\"\","
                           "version=\"6.1\"} 1\n",
                           "tarnivo_boot_time_seconds 1733550000\n",
                           "tarnivo_users 2\n",
                           "tarnivo_reboot_required 1\n",
                           "tarnivo_services_failed 2\n",
                           "tarnivo_service_failed{service=\"wuauserv\"} 1\n"}
            << QStringList();
        QTest::newRow("start unknown, nothing owed")
            << qint64(0) << false << QStringList{"tarnivo_reboot_required 0\n"}
            << QStringList{"tarnivo_boot_time_seconds", "tarnivo_service"};
    }
    void theHostIsNamedWithItsStartPeopleAndOwedRestart() {
        QFETCH(qint64, boot);
        QFETCH(bool, reboot);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);
        MetricsDocument::Snapshot s = adaptersNamed({"eth0"});
        s.host.strHostName = "ws-0815";
        s.host.system = {"Debian \"x\"", "6.1"};
        s.host.intBootTime = boot;
        s.host.sessions = {
            {"anna", "active", "seat0"}, {"bert", "online", ""}, {"anna", "online", ""}};
        s.host.reboot.required = reboot;
        // Services are read where a restart is owed in this table, and not read where not.
        s.host.services.read = reboot;
        s.host.services.stopped = {{"Backup\\Agent", "Backup", "stopped"},
                                   {"wuauserv", "Windows Update", "stop pending"}};
        const QString text = MetricsDocument::render(s);
        QVERIFY(!seriesOf(text).value(0).startsWith(QLatin1String("stray")));
        for (const QString &line : expected)
            QVERIFY2(text.contains(line), qPrintable(line));
        for (const QString &family : absent)
            QVERIFY2(!text.contains(family), qPrintable(family));
    }

    // Each disk says whether it answered; only what a drive of its kind keeps is given.
    void eachDiskGivesTheHealthItsKindKeeps() {
        MetricsDocument::Snapshot s = adaptersNamed({"eth0"});
        platform::DiskHealth nvme, ata, none;
        nvme.kind = platform::DiskHealth::Kind::Nvme;
        nvme.temperatureCelsius = 37;
        nvme.percentageUsed = 3;
        nvme.powerOnHours = 12345;
        ata.kind = platform::DiskHealth::Kind::Ata;
        ata.failing = true;
        ata.pending = 2;
        none.why = "refused";
        s.health = {{0, nvme}, {1, ata}, {2, none}};
        const QString text = MetricsDocument::render(s);
        QVERIFY(!seriesOf(text).value(0).startsWith(QLatin1String("stray")));
        for (const char *line : {"tarnivo_disk_health_reported{disk=\"0\"} 1\n",
                                 "tarnivo_disk_health_reported{disk=\"2\"} 0\n",
                                 "tarnivo_disk_health_failing{disk=\"0\"} 0\n",
                                 "tarnivo_disk_health_failing{disk=\"1\"} 1\n",
                                 "tarnivo_disk_health_temperature_celsius{disk=\"0\"} 37\n",
                                 "tarnivo_disk_health_power_on_hours{disk=\"0\"} 12345\n",
                                 "tarnivo_disk_health_pending_sectors{disk=\"1\"} 2\n"})
            QVERIFY2(text.contains(QLatin1String(line)), line);
        for (const char *absent : {"{disk=\"2\"} 1", "percentage_used{disk=\"1\"}",
                                   "reallocated_sectors{disk=\"1\"}", "failing{disk=\"2\"}"})
            QVERIFY2(!text.contains(QLatin1String(absent)), absent);
    }

    // Names a system may give its adapters that a careless label would make alike.
    void noTwoSeriesShareTheirLabels_data() {
        QTest::addColumn<QByteArrayList>("names");
        QTest::newRow("control characters") << QByteArrayList{"c\x01", "c\x02", "c\x1b", "c\x7f"};
        QTest::newRow("invalid bytes")
            << QByteArrayList{"v\xff", "v\xfe", "v\xef\xbf\xbd", "v?", "v\xc0\xaf"};
        QTest::newRow("escapes as text")
            << QByteArrayList{"c\x01", "c\\x01", "c\\\\x01", "q\"", "q\\\"", "q\n", "q\\n"};
        QTest::newRow("path characters")
            << QByteArrayList{"a(", "a[", "a)", "a]", "a#", "a_", "a/", "a"};
        QTest::newRow("white space and repeats")
            << QByteArrayList{"eth0", " eth0", "eth0\t", "eth0", "eth0#2", "eth0#2", ""};
    }
    void noTwoSeriesShareTheirLabels() {
        QFETCH(QByteArrayList, names);
        std::vector<std::string> raw;
        for (const QByteArray &name : names)
            raw.push_back(name.toStdString());
        MetricsDocument::Snapshot s = adaptersNamed(raw);
        // Mount points are names of the same kind, each volume listed once.
        const std::set<std::string> paths(raw.begin(), raw.end());
        for (const std::string &path : paths)
            s.volumes.push_back({path, 0, 4096, 1024});
        const QStringList series = seriesOf(MetricsDocument::render(s));
        QVERIFY2(!series.isEmpty() && !series.first().contains(QLatin1Char(' ')),
                 qPrintable(series.value(0)));
        QCOMPARE(QSet<QString>(series.begin(), series.end()).size(), series.size());
        // Every adapter has its counters and its info.
        for (const char *family :
             {"tarnivo_network_receive_bytes_total{", "tarnivo_network_info{"}) {
            QCOMPARE(series
                         .filter(QRegularExpression(QLatin1Char('^') +
                                                    QRegularExpression::escape(family)))
                         .size(),
                     names.size());
        }
        QCOMPARE(series.filter(QRegularExpression(QStringLiteral("^tarnivo_volume_size_bytes\\{")))
                     .size(),
                 qsizetype(paths.size()));
    }

    // A volume that did not answer has no figures: its series pause rather than read 0.
    void aVolumeNotAnsweringIsLeftOut() {
        MetricsDocument::Snapshot s;
        s.volumes = {{"/", 0, 4096, 1024}, {"/media/stick", 1, 0, 0, false}};
        const QString text = MetricsDocument::render(s);
        QVERIFY(text.contains(QStringLiteral("tarnivo_volume_free_bytes{volume=\"/\"")));
        QVERIFY2(!text.contains(QStringLiteral("/media/stick")), qPrintable(text));
    }

    // The texts of a scan are given only to devices present now, under their counters' labels.
    void infoFollowsTheDevicesPresentNow() {
        MetricsDocument::Snapshot s = adaptersNamed({"eth0", "gone"});
        s.totals.adapters.pop_back();
        s.totals.disks = {{1, 5, 5, 5, 5, 5}};
        s.disks = {{0, QStringLiteral("Gone"), {}, {}}, {1, QStringLiteral("Kept"), {}, {}}};
        const QString text = MetricsDocument::render(s);
        QCOMPARE(text.count(QLatin1String("tarnivo_network_info{")), 1);
        QVERIFY(text.contains(QLatin1String("tarnivo_network_info{adapter=\"eth0\",")));
        QCOMPARE(text.count(QLatin1String("tarnivo_disk_info{")), 1);
        QVERIFY(text.contains(QLatin1String("tarnivo_disk_info{disk=\"1\",model=\"Kept\"")));
    }

    void onlyTheMetricsPathIsRoutedToTheDocument() {
        for (const char *target : {"/metrics", "/metrics?name[]=x"}) {
            const HttpResponse response = HttpResponse::route(get(QLatin1String(target)));
            QCOMPARE(response.strType, QStringLiteral("typeText"));
            QCOMPARE(response.headers.value(QStringLiteral("Content-Type")),
                     MetricsDocument::contentType);
            QVERIFY(!response.headers.contains(QStringLiteral("Content-Disposition")));
        }
        QVERIFY(HttpResponse::route(get(QStringLiteral("/metricsx"))).strType.isEmpty());
        QVERIFY(HttpResponse::route(get(QStringLiteral("/Metrics"))).strType.isEmpty());
        QVERIFY(HttpResponse::route(get(QStringLiteral("/metrics"), QStringLiteral("POST")))
                    .strType.isEmpty());
    }

    // One pass serves both documents: a rate in the status document is the difference of the
    // /metrics totals over the same pass, divided by its time.
    void aRateIsTheDifferenceOfTheTotalsOverThePass() {
#ifndef Q_OS_LINUX
        QSKIP("the fixture tree is a Linux system's /proc and /sys");
#else
        namespace fs = std::filesystem;
        QTemporaryDir copy;
        fs::copy(TARNIVO_FIXTURES "/linux/workstation", copy.path().toStdString(),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        platform::setRootDirectory(copy.path().toStdString());
        qint64 now = 1000000000;
        PerfdataThread::setSteadyClock([&now] { return now; });
        PerfdataThread::setRatesFromCounters(false);
        StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestInit"));
        PerfdataThread::samplePass();
        const QString before = MetricsDocument::build();
        countUp(copy.path() + QStringLiteral("/proc/net/dev"), 0, 1000);
        countUp(copy.path() + QStringLiteral("/proc/diskstats"), 3, 10);
        countUp(copy.path() + QStringLiteral("/proc/stat"), 0, 5);
        now += 2000000000; // two seconds
        PerfdataThread::samplePass();
        const QString after = MetricsDocument::build();
        const QString document =
            StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead"));
        platform::setRootDirectory("/");
        networkTableClear();
        processorTableClear();
        storageTableClear();
        memoryTableClear();

        const auto compare = [&](const char *record, const char *element, const char *total,
                                 double perUnit) {
            const double rate =
                documentSum(document, QLatin1String(record), QLatin1String(element));
            const double difference = totalDifference(before, after, QLatin1String(total));
            // Each record's figure is truncated to a whole number.
            QVERIFY2(rate > 0 && qAbs(rate - difference / 2 * perUnit) < 16,
                     qPrintable(QStringLiteral("%1: %2 against %3")
                                    .arg(QLatin1String(element))
                                    .arg(rate)
                                    .arg(difference / 2 * perUnit)));
        };
        compare("Network", "intBytesRead", "tarnivo_network_receive_bytes_total", 1);
        compare("Network", "intPacketsWrite", "tarnivo_network_transmit_packets_total", 1);
        compare("Storage", "intBytesWrite", "tarnivo_disk_written_bytes_total", 1);
        compare("Storage", "intPacketsRead", "tarnivo_disk_reads_completed_total", 1);
        compare("Storage", "intUsage", "tarnivo_disk_busy_seconds_total", 100000);
        compare("Processor", "intUsage", "tarnivo_cpu_busy_seconds_total", 100000);
#endif
    }

    void aScrapeNeitherRebuildsTheTablesNorWaitsForATableBeingRebuilt() {
        const auto records = [] {
            int count = 0;
            networkTable.visit([&count](const Network &) { ++count; });
            storageTable.visit([&count](const Storage &) { ++count; });
            return count;
        };
        QCOMPARE(records(), 0);
        // Stands for a long rebuild of the storage table in another connection.
        QThread *holder = QThread::create([] { storageTable.fill([] { QThread::msleep(3000); }); });
        holder->start();
        QThread::msleep(100);
        QElapsedTimer timer;
        timer.start();
        const MetricsDocument::Snapshot s = MetricsDocument::take();
        const qint64 took = timer.elapsed();
        holder->wait();
        delete holder;
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QCOMPARE(records(), 0);
        QVERIFY(s.adapters.isEmpty() && s.disks.isEmpty());
        // The counts come from the system all the same.
        QVERIFY(s.memory.totalPhys > 0 && s.memory.availPhys <= s.memory.totalPhys);
        QVERIFY(!s.totals.processors.empty());
    }
};

QTEST_GUILESS_MAIN(MetricsTest)
#include "MetricsTest.moc"
