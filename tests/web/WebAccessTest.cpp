// Who may use the web server: the address list, the users and their passwords, and what a
// refused request gets, by itself and over real connections on 127.0.0.1.
#include "WebAccess.h"
#include "AddressList.h"
#include "MachineSettings.h"
#include "MadeCredentials.h"
#include "PasswordCheck.h"
#include "SharedState.h"
#include "Webserver.h"
#include "WebserverThread.h"
#include "platform/Platform.h"
#include "ui/ScratchSettings.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <future>

namespace {
const char noBcrypt[] = "this build has no bcrypt to check passwords with (Windows)";

QString basic(const QByteArray &credentials) {
    return QStringLiteral("Basic ") + QString::fromLatin1(credentials.toBase64());
}

HttpRequest withAuthorization(const QString &value) {
    HttpRequest request;
    request.headers.insert(QStringLiteral("authorization"), value);
    return request;
}

// Average milliseconds of a check over a few tries.
double msecsOf(PasswordCheck &check, const QString &authorization, int tries = 3) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < tries; ++i)
        check.allows(authorization);
    return double(timer.nsecsElapsed()) / 1e6 / tries;
}

// A machine-wide file with these lines, read as at start; the messages it gave.
QStringList loadSettings(QTemporaryDir &directory, const QByteArray &lines) {
    QFile file(directory.filePath(QStringLiteral("tarnivo.ini")));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("[web]\n" + lines);
    file.close();
    return MachineSettings::load(file.fileName(), true);
}

// One request from a plain thread, while the listener runs on the test's own.
QByteArray exchange(quint16 port, const QByteArray &request) {
    auto answer = std::async(std::launch::async, [port, request] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
        socket.write(request);
        QByteArray all;
        while (socket.waitForReadyRead(5000) || socket.bytesAvailable() > 0)
            all += socket.readAll();
        return all;
    });
    while (answer.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return answer.get();
}
} // namespace

class WebAccessTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        useScratchSettings();
        QVERIFY(settings.isValid());
        // A build without bcrypt (Windows) checks no password: only the address list is tested.
        if (!platform::passwordHashesSupported())
            return;
        alice = htpasswd("alice", "correct horse");
        QVERIFY2(alice.startsWith("alice:$2y$05$"), "htpasswd (apache2-utils) is needed");
    }
    void cleanupTestCase() { MachineSettings::load(QString(), false); }

    void theAddressListAllowsItsRangesAndLoopback_data() {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("allowed");
        const QStringList lan{"192.0.2.0/24", "198.51.100.7", "2001:db8::/32"};
        QTest::newRow("no list: everyone") << QStringList() << "203.0.113.9" << true;
        QTest::newRow("in a range") << lan << "192.0.2.77" << true;
        QTest::newRow("past a range") << lan << "192.0.3.1" << false;
        QTest::newRow("a single address") << lan << "198.51.100.7" << true;
        QTest::newRow("its neighbour") << lan << "198.51.100.8" << false;
        QTest::newRow("IPv6 in a range") << lan << "2001:db8::5" << true;
        QTest::newRow("IPv6 past it") << lan << "2001:db9::5" << false;
        QTest::newRow("IPv4 as a mapped IPv6 address") << lan << "::ffff:192.0.2.5" << true;
        QTest::newRow("loopback, always") << lan << "127.0.0.1" << true;
        QTest::newRow("IPv6 loopback, always") << lan << "::1" << true;
        QTest::newRow("no address") << lan << "" << false;
    }
    void theAddressListAllowsItsRangesAndLoopback() {
        QFETCH(QStringList, list);
        QFETCH(QString, peer);
        QFETCH(bool, allowed);
        QCOMPARE(AddressList(list).allows(peer), allowed);
    }

    void aPasswordIsCheckedAgainstItsUser_data() {
        if (alice.isEmpty())
            QSKIP(noBcrypt);
        QTest::addColumn<QString>("authorization");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("the right password") << basic("alice:correct horse") << true;
        QTest::newRow("the scheme in any case")
            << "bAsIc " + basic("alice:correct horse").mid(6) << true;
        QTest::newRow("a wrong password") << basic("alice:correct horsE") << false;
        QTest::newRow("an unknown name") << basic("mallory:correct horse") << false;
        QTest::newRow("a NUL after the password")
            << basic(QByteArray("alice:correct horse\0x", 22)) << false;
        QTest::newRow("no colon") << basic("alice") << false;
        QTest::newRow("not base64") << "Basic !!!" << false;
        QTest::newRow("another scheme") << "Bearer " + basic("alice:correct horse").mid(6) << false;
        QTest::newRow("nothing") << QString() << false;
    }
    void aPasswordIsCheckedAgainstItsUser() {
        if (alice.isEmpty())
            QSKIP(noBcrypt);
        QFETCH(QString, authorization);
        QFETCH(bool, allowed);
        PasswordCheck check({alice, htpasswd("bob", "other")});
        QVERIFY(check.required());
        QCOMPARE(check.allows(authorization), allowed);
    }

    void anUnknownNameTakesAsLongAsAWrongPassword() {
        if (alice.isEmpty())
            QSKIP(noBcrypt);
        PasswordCheck check({htpasswd("alice", "correct horse", 10)});
        const double wrong = msecsOf(check, basic("alice:wrong"));
        const double unknown = msecsOf(check, basic("nobody:wrong"));
        QVERIFY2(unknown > wrong / 2 && unknown < wrong * 2,
                 qPrintable(QStringLiteral("%1 ms against %2 ms").arg(unknown).arg(wrong)));
    }

    void aCorrectCheckIsRememberedAndAWrongOneIsNot() {
        if (alice.isEmpty())
            QSKIP(noBcrypt);
        PasswordCheck check({htpasswd("alice", "correct horse", 10)});
        const double first = msecsOf(check, basic("alice:correct horse"), 1);
        const double again = msecsOf(check, basic("alice:correct horse"), 1);
        QVERIFY2(again < first / 10,
                 qPrintable(QStringLiteral("%1 ms, then %2").arg(first).arg(again)));
        const double wrong = msecsOf(check, basic("alice:wrong"), 1);
        const double wrongAgain = msecsOf(check, basic("alice:wrong"), 1);
        QVERIFY2(wrongAgain > wrong / 2,
                 qPrintable(QStringLiteral("%1 ms, then %2").arg(wrong).arg(wrongAgain)));
    }

    void aRefusedSettingClosesRatherThanOpens_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QByteArray>("refusal");
        QTest::newRow("a range that is no range")
            << QByteArray("allowedAddresses=192.0.2.0/24, 10.0.0.0/33\n") << "192.0.2.1"
            << WebAccess::forbidden();
        QTest::newRow("a hash htpasswd never writes")
            << QByteArray("users=alice:$1$md5$hash\n") << "127.0.0.1" << WebAccess::unauthorized();
    }
    void aRefusedSettingClosesRatherThanOpens() {
        QFETCH(QByteArray, line);
        QFETCH(QString, peer);
        QFETCH(QByteArray, refusal);
        const QStringList messages = loadSettings(settings, line);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.at(0).contains(line.left(line.indexOf('='))), qPrintable(messages.at(0)));
        WebAccess::load();
        QCOMPARE(WebAccess::current()->refusal(peer, withAuthorization(basic("alice:x"))), refusal);
    }

    void theRefusalsNameTheirSetting() {
        QCOMPARE(WebAccess::forbidden(),
                 QByteArray("HTTP/1.0 403 Forbidden\r\nCache-Control: no-cache\r\n"
                            "Connection: close\r\nContent-Length: 65\r\n"
                            "Content-Type: text/plain; charset=utf-8\r\n\r\n"
                            "This address may not use this monitor: see web/allowedAddresses.\n"));
        // The address is decided first: a stranger learns nothing of the users.
        WebAccess access({"192.0.2.0/24"}, {"!"});
        QCOMPARE(access.refusal("198.51.100.1", HttpRequest()), WebAccess::forbidden());
        QCOMPARE(access.refusal("192.0.2.9", withAuthorization(basic("alice:x"))),
                 WebAccess::unauthorized());
        QCOMPARE(WebAccess({"192.0.2.0/24"}, {}).refusal("192.0.2.9", HttpRequest()), QByteArray());
    }

    // Over a real connection: without a password the 401, with it the very bytes a server
    // without users gives.
    void aUserGetsTheSameBytesAndAStrangerTheChallenge() {
        if (alice.isEmpty())
            QSKIP(noBcrypt);
        setContentPath(QStringLiteral(TARNIVO_CONTENT));
        const QByteArray request = "GET /assets/menu.html HTTP/1.0\r\n";
        loadSettings(settings, "");
        QByteArray open;
        {
            Webserver server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            open = exchange(server.serverPort(), request + "\r\n");
        }
        QVERIFY(open.startsWith("HTTP/1.0 200 OK\r\n"));
        loadSettings(settings, "users=" + alice.toUtf8() + "\n");
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QByteArray challenge = exchange(server.serverPort(), request + "\r\n");
        QCOMPARE(challenge, WebAccess::unauthorized());
        QVERIFY(challenge.contains("\r\nWWW-Authenticate: Basic realm=\"Tarnivo\"\r\n"));
        QCOMPARE(exchange(server.serverPort(),
                          request + "Authorization: " + basic("alice:correct horse").toLatin1() +
                              "\r\n\r\n"),
                 open);
        QVERIFY(WebserverThread::waitForAll(10000));
    }

private:
    QTemporaryDir settings;
    QString alice;
};

QTEST_GUILESS_MAIN(WebAccessTest)
#include "WebAccessTest.moc"
