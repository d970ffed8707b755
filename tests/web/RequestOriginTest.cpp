// Which hosts a request may name, and which requests come from a page of another site.
#include "RequestOrigin.h"

#include <QHostInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>
#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

class TestRequestOrigin : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyAddressesAndTheMachinesOwnNamesAreServed_data();
    void onlyAddressesAndTheMachinesOwnNamesAreServed();
    void aPageOfAnotherSiteIsRecognised_data();
    void aPageOfAnotherSiteIsRecognised();
    void aRescanIsReadInstead_data();
    void aRescanIsReadInstead();
    void aRefusedNameIsLoggedOncePerName();
};

namespace {
HttpRequest requestWith(const QString &headers) {
    return HttpRequest::parse("GET /menu.xml HTTP/1.1\r\n" + headers + "\r\n");
}
// What `say` writes to standard error, where the program's messages go.
template <typename Say> QByteArray standardError(Say say) {
    QTemporaryFile file;
    if (!file.open())
        return {};
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(file.handle(), 2);
    say();
    std::fflush(stderr);
    dup2(saved, 2);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}
} // namespace

void TestRequestOrigin::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QSettings settings("Tarnivo", "Tarnivo");
    settings.setValue(RequestOrigin::allowedHostsKey, "monitor.corp.example, Tarnivo-Alias.");
    settings.sync();
    RequestOrigin::loadNames();
}

void TestRequestOrigin::onlyAddressesAndTheMachinesOwnNamesAreServed_data() {
    QTest::addColumn<QString>("headers");
    QTest::addColumn<bool>("allowed");
    const QString shortName = QHostInfo::localHostName().section('.', 0, 0);
    QTest::newRow("no Host") << "" << true;
    QTest::newRow("address and port") << "Host: 192.168.1.20:8080\r\n" << true;
    QTest::newRow("IPv6 address") << "Host: [fe80::1]:80\r\n" << true;
    QTest::newRow("localhost") << "Host: LocalHost:80\r\n" << true;
    QTest::newRow("own name, other case") << "Host: " + shortName.toUpper() + ":80\r\n" << true;
    QTest::newRow("own name, final dot") << "Host: " + shortName + ".\r\n" << true;
    QTest::newRow("listed in the setting") << "Host: MONITOR.corp.example:8080\r\n" << true;
    QTest::newRow("second listed") << "Host: tarnivo-alias\r\n" << true;
    QTest::newRow("rebinding name") << "Host: rebind.attacker.example\r\n" << false;
    QTest::newRow("own name as a prefix") << "Host: " + shortName + ".attacker.example\r\n"
                                          << false;
    QTest::newRow("address as a prefix") << "Host: 127.0.0.1.attacker.example\r\n" << false;
    QTest::newRow("empty") << "Host: \r\n" << false;
    QTest::newRow("name spelt in lower case") << "host: rebind.attacker.example\r\n" << false;
    QTest::newRow("one of two is foreign") << "Host: localhost\r\nHOST: rebind.attacker.example\r\n"
                                           << false;
}

void TestRequestOrigin::onlyAddressesAndTheMachinesOwnNamesAreServed() {
    QFETCH(QString, headers);
    QTEST(RequestOrigin::hostAllowed(requestWith(headers)), "allowed");
}

void TestRequestOrigin::aPageOfAnotherSiteIsRecognised_data() {
    QTest::addColumn<QString>("headers");
    QTest::addColumn<bool>("crossSite");
    QTest::newRow("neither header") << "Host: 10.0.0.5:8080\r\n" << false;
    QTest::newRow("same origin") << "Sec-Fetch-Site: same-origin\r\n" << false;
    QTest::newRow("typed by the user") << "Sec-Fetch-Site: none\r\n" << false;
    QTest::newRow("cross-site") << "Sec-Fetch-Site: cross-site\r\n" << true;
    QTest::newRow("own origin") << "Host: 10.0.0.5:8080\r\nOrigin: http://10.0.0.5:8080\r\n"
                                << false;
    QTest::newRow("own origin, default port") << "Host: Ws17\r\nOrigin: http://ws17:80\r\n"
                                              << false;
    QTest::newRow("other origin") << "Host: 10.0.0.5:8080\r\nOrigin: http://evil.example\r\n"
                                  << true;
    QTest::newRow("other port") << "Host: 10.0.0.5:8080\r\nOrigin: http://10.0.0.5:8081\r\n"
                                << true;
    QTest::newRow("other scheme") << "Host: 10.0.0.5\r\nOrigin: https://10.0.0.5\r\n" << true;
    QTest::newRow("null origin") << "Host: 10.0.0.5\r\nOrigin: null\r\n" << true;
    QTest::newRow("origin without host") << "Origin: http://10.0.0.5\r\n" << true;
}

void TestRequestOrigin::aPageOfAnotherSiteIsRecognised() {
    QFETCH(QString, headers);
    QTEST(RequestOrigin::crossSite(requestWith(headers)), "crossSite");
}

void TestRequestOrigin::aRescanIsReadInstead_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("init alone") << "/menu.xml?strRequest=requestInit"
                                << "/menu.xml?strRequest=requestRead";
    QTest::newRow("both, other parameters kept")
        << "/menu.xml?a=1&strRequest=requestInit:requestRead&b=requestInit"
        << "/menu.xml?a=1&strRequest=requestRead:requestRead&b=requestInit";
    QTest::newRow("read alone") << "/menu.xml?strRequest=requestRead"
                                << "/menu.xml?strRequest=requestRead";
    QTest::newRow("not a word") << "/menu.xml?strRequest=requestInitX"
                                << "/menu.xml?strRequest=requestInitX";
}

void TestRequestOrigin::aRescanIsReadInstead() {
    QFETCH(QString, path);
    QTEST(RequestOrigin::withoutRescan(path), "expected");
}

QTEST_MAIN(TestRequestOrigin)
#include "RequestOriginTest.moc"

// Each name once, however often it is asked for, and a client that makes up names fills
// neither the log nor the memory.
void TestRequestOrigin::aRefusedNameIsLoggedOncePerName() {
    const QByteArray log = standardError([] {
        for (int round = 0; round < 3; ++round)
            RequestOrigin::logRefused(QStringLiteral("rebind.attacker.example"));
        for (int n = 0; n < 2 * RequestOrigin::refusalsLogged; ++n)
            RequestOrigin::logRefused(QStringLiteral("made-up-%1.example").arg(n));
    });
    const QList<QByteArray> lines = log.trimmed().split('\n');
    QCOMPARE(lines.size(), RequestOrigin::refusalsLogged + 1);
    QVERIFY2(lines.first().contains("\"rebind.attacker.example\"") &&
                 lines.first().contains("web/allowedHosts") &&
                 lines.first().contains("tarnivo.ini"),
             lines.first().constData());
    QVERIFY(lines.last().contains("no further names"));
}
