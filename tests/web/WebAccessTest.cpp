// Who may use the web server: the address list, the users and their passwords, and what a
// refused request gets, by itself and over real connections on 127.0.0.1.
#include "WebAccess.h"
#include "AccessSetup.h"
#include "AddressList.h"
#include "PasswordCheck.h"
#include "SharedState.h"
#include "Webserver.h"
#include "WebserverThread.h"
#include "ui/ScratchSettings.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// "htpasswd -nbB -C 5 alice 'correct horse'", and the same at cost 10, written once, so that the
// Windows build (under Wine, without htpasswd) checks the very same entries.
const QString alice = "alice:$2y$05$79hEvTQORN2HpACt9AcdmekU6JnFGeiEf//gpLI6qptduJdjGaTNG";
const QString costlyAlice = "alice:$2y$10$olhEoa/imCMjoI1HSeuIvOVDuooAwkLvP8NOCz8kSo64qaLm2iI1.";

QString basic(const QByteArray &credentials) {
    return "Basic " + QString::fromLatin1(credentials.toBase64());
}

// Milliseconds one check takes.
double msecsOf(PasswordCheck &check, const QString &authorization) {
    QElapsedTimer timer;
    timer.start();
    check.allows(authorization);
    return double(timer.nsecsElapsed()) / 1e6;
}
} // namespace

class WebAccessTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useScratchSettings(); }
    void cleanupTestCase() { MachineSettings::load(QString(), false); }

    void theAddressListAllowsItsRangesAndLoopback_data() {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("allowed");
        const QStringList lan{"192.0.2.0/24", "198.51.100.7", "2001:db8::/32"};
        QTest::newRow("no list: everyone") << QStringList() << "203.0.113.9" << true;
        QTest::newRow("in a range") << lan << "192.0.2.77" << true;
        QTest::newRow("past a range") << lan << "192.0.3.1" << false;
        QTest::newRow("beside a single address") << lan << "198.51.100.8" << false;
        QTest::newRow("IPv6 in a range") << lan << "2001:db8::5" << true;
        QTest::newRow("IPv4 as a mapped IPv6 address") << lan << "::ffff:192.0.2.5" << true;
        QTest::newRow("IPv6 loopback, always") << lan << "::1" << true;
    }
    void theAddressListAllowsItsRangesAndLoopback() {
        QFETCH(QStringList, list);
        QFETCH(QString, peer);
        QFETCH(bool, allowed);
        QCOMPARE(AddressList(list).allows(peer), allowed);
    }

    void aPasswordIsCheckedAgainstItsUser_data() {
        QTest::addColumn<QString>("authorization");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("the right password") << basic("alice:correct horse") << true;
        QTest::newRow("a wrong password") << basic("alice:correct horsE") << false;
        QTest::newRow("an unknown name") << basic("mallory:correct horse") << false;
        QTest::newRow("a NUL after the password")
            << basic(QByteArray("alice:correct horse\0x", 22)) << false;
        QTest::newRow("another scheme") << "Bearer " + basic("alice:correct horse").mid(6) << false;
    }
    void aPasswordIsCheckedAgainstItsUser() {
        QFETCH(QString, authorization);
        QFETCH(bool, allowed);
        PasswordCheck check({alice});
        QCOMPARE(check.allows(authorization), allowed);
    }

    // An unknown name costs a bcrypt check as a wrong password does, so that the time tells
    // no names; a correct check is remembered, a wrong one never.
    void aCheckCostsBcryptUnlessItWasCorrectBefore() {
        PasswordCheck check({costlyAlice});
        const double wrong = msecsOf(check, basic("alice:wrong"));
        const double unknown = msecsOf(check, basic("nobody:wrong"));
        const double first = msecsOf(check, basic("alice:correct horse"));
        const double again = msecsOf(check, basic("alice:correct horse"));
        const double wrongAgain = msecsOf(check, basic("alice:wrong"));
        const QString times = QStringLiteral("wrong %1, unknown %2, right %3 then %4, wrong %5 ms")
                                  .arg(wrong)
                                  .arg(unknown)
                                  .arg(first)
                                  .arg(again)
                                  .arg(wrongAgain);
        QVERIFY2(unknown > wrong / 2 && unknown < wrong * 2, qPrintable(times));
        QVERIFY2(again < first / 10 && wrongAgain > wrong / 2, qPrintable(times));
    }

    void aRefusedSettingClosesRatherThanOpens_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("refusal");
        QTest::newRow("a range that is no range")
            << QByteArray("allowedAddresses=192.0.2.0/24, 10.0.0.0/33") << WebAccess::forbidden();
        QTest::newRow("a hash htpasswd never writes")
            << QByteArray("users=alice:$1$md5$hash") << WebAccess::unauthorized();
    }
    void aRefusedSettingClosesRatherThanOpens() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, refusal);
        const QStringList messages =
            loadSettings(settings.filePath("tarnivo.ini"), "[web]\n" + line);
        QVERIFY2(messages.size() == 1 && messages.at(0).contains(line.left(line.indexOf('='))),
                 qPrintable(messages.join('\n')));
        WebAccess::load();
        QCOMPARE(WebAccess::current()->refusal("192.0.2.1", HttpRequest()), refusal);
    }

    void theAddressComesBeforeThePassword() {
        WebAccess access({"192.0.2.0/24"}, {"!"});
        QCOMPARE(access.refusal("198.51.100.1", HttpRequest()), WebAccess::forbidden());
        QCOMPARE(access.refusal("192.0.2.9", HttpRequest()), WebAccess::unauthorized());
    }

    // Over a real connection: without a password the 401, with it the very bytes a server
    // without users gives.
    void aUserGetsTheSameBytesAndAStrangerTheChallenge() {
        setContentPath(QStringLiteral(TARNIVO_CONTENT));
        const QString ini = settings.filePath("tarnivo.ini");
        auto ask = [](quint16 port, const QByteArray &header) {
            return meanwhile([port, header] {
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, port);
                socket.waitForConnected(5000);
                socket.write("GET /assets/menu.html HTTP/1.0\r\n" + header + "\r\n");
                QByteArray all;
                while (socket.waitForReadyRead(5000) || socket.bytesAvailable() > 0)
                    all += socket.readAll();
                return all;
            });
        };
        QByteArray open;
        {
            loadSettings(ini, "");
            Webserver server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            open = ask(server.serverPort(), "");
        }
        QVERIFY(open.startsWith("HTTP/1.0 200 OK\r\n"));
        loadSettings(ini, "[web]\nusers=" + alice.toUtf8());
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QByteArray challenge = ask(server.serverPort(), "");
        QCOMPARE(challenge, WebAccess::unauthorized());
        QVERIFY(challenge.contains("\r\nWWW-Authenticate: Basic realm=\"Tarnivo\"\r\n"));
        QCOMPARE(ask(server.serverPort(),
                     "Authorization: " + basic("alice:correct horse").toLatin1() + "\r\n"),
                 open);
        QVERIFY(WebserverThread::waitForAll(10000));
    }

private:
    QTemporaryDir settings;
};

QTEST_GUILESS_MAIN(WebAccessTest)
#include "WebAccessTest.moc"
