// The metrics document: its format, its routing, and what a scrape may and may not do to the
// device tables.
#include "DeviceTables.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "MetricsDocument.h"
#include "Network.h"
#include "Storage.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QtTest>

namespace {
HttpRequest get(const QString &target, const QString &method = QStringLiteral("GET")) {
    return HttpRequest::parse(method + QLatin1Char(' ') + target +
                              QStringLiteral(" HTTP/1.1\r\n\r\n"));
}
} // namespace

class MetricsTest : public QObject {
    Q_OBJECT

private slots:
    void labelValuesAreCleanedAndEscaped() {
        QCOMPARE(MetricsDocument::labelValue(QStringLiteral("a\\b\"c\nd") + QChar(1) +
                                             QStringLiteral("é")),
                 QStringLiteral("a\\\\b\\\"c\\nd") + QChar(0xFFFD) + QStringLiteral("é"));
    }

    void everyFamilyIsAnnouncedOnceWithItsSamplesTogetherAndNoSeriesTwice() {
        MetricsDocument::Snapshot s;
        s.strVersion = QStringLiteral("1.1");
        s.memory = {8, 2, 12, 5};
        s.totals.processors = {{0, 1000050}, {1, 7}};
        s.totals.adapters = {{" eth0 ", 1ull << 40, 2, 3, 4, 1000000000},
                             {"wi\"fi", 0, 0, 0, 0, 0}};
        s.totals.disks = {{0, 512, 1024, 1, 2, 4100000}};
        // Two scans at once list the adapter twice.
        s.adapters = {{QStringLiteral("eth0"), QStringLiteral("192.0.2.1"), {}, {}},
                      {QStringLiteral("eth0"), QStringLiteral("192.0.2.1"), {}, {}}};
        s.disks = {{0, QStringLiteral("Disk"), QStringLiteral("S1"), QStringLiteral("F1")}};
        s.intHeartbeatDropped = 20;
        const QString text = MetricsDocument::render(s);
        QVERIFY(text.endsWith(QLatin1Char('\n')));

        QString announced;
        QSet<QString> families, series;
        static const QRegularExpression sampleLine(QStringLiteral("^([a-z_]+)(\\{.*\\})? (\\S+)$"));
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            if (line.startsWith(QLatin1String("# HELP "))) {
                const QStringList type = lines.value(i + 1).split(QLatin1Char(' '));
                QCOMPARE(type.value(2), line.split(QLatin1Char(' ')).value(2));
                announced = type.value(2);
                QVERIFY2(!families.contains(announced), qPrintable(announced));
                families.insert(announced);
                QCOMPARE(announced.endsWith(QLatin1String("_total")),
                         type.value(3) == QLatin1String("counter"));
                ++i;
                continue;
            }
            const auto match = sampleLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QCOMPARE(match.captured(1), announced);
            QVERIFY2(!series.contains(match.captured(1) + match.captured(2)), qPrintable(line));
            series.insert(match.captured(1) + match.captured(2));
        }
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
