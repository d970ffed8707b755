// The web server over HTTPS, with certificates the test makes itself (openssl), on 127.0.0.1.
#include "FleetClient.h"
#include "MachineSettings.h"
#include "MadeCredentials.h"
#include "SharedState.h"
#include "TlsCertificate.h"
#include "Webserver.h"
#include "WebserverThread.h"
#include "ui/ScratchSettings.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <future>

namespace {
struct Answer {
    QByteArray bytes;
    QString served; // the common name of the certificate the server showed
    qint64 msecs = 0;
};

// One request from a plain thread, over TLS trusting only `trusted`, or in plain text.
Answer exchange(quint16 port, const QByteArray &request, const QSslCertificate &trusted,
                bool encrypted = true) {
    auto answer = std::async(std::launch::async, [=] {
        QElapsedTimer timer;
        timer.start();
        QSslSocket socket;
        QSslConfiguration configuration = socket.sslConfiguration();
        configuration.setCaCertificates({trusted});
        socket.setSslConfiguration(configuration);
        Answer result;
        if (encrypted) {
            socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
            if (!socket.waitForEncrypted(5000))
                return result;
            result.served =
                socket.peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
        } else {
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.waitForConnected(5000);
        }
        socket.write(request);
        while (socket.waitForReadyRead(5000) || socket.bytesAvailable() > 0)
            result.bytes += socket.readAll();
        result.msecs = timer.elapsed();
        return result;
    });
    while (answer.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return answer.get();
}
} // namespace

class HttpsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
#ifdef Q_OS_WIN
        // The certificates and users are made with openssl and htpasswd, which the Windows
        // tests (under Wine) do not have, and this build checks no passwords there.
        QSKIP("no openssl and htpasswd programs, and no bcrypt, in the Windows tests");
#endif
        useScratchSettings();
        if (!QSslSocket::supportsSsl())
            QFAIL("Qt finds no TLS backend: install libssl3");
        QVERIFY2(makeCertificate(files.path(), "first"), "openssl is needed");
        QVERIFY(makeCertificate(stranger.path(), "stranger"));
        alice = htpasswd("alice", "secret").toUtf8();
        QVERIFY2(alice.startsWith("alice:$2y$"), "htpasswd (apache2-utils) is needed");
        QFile ini(files.filePath("tarnivo.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[web]\ncertificate=" + files.filePath("certificate.pem").toUtf8() +
                  "\nkey=" + files.filePath("key.pem").toUtf8() + "\n");
        ini.close();
        setContentPath(QStringLiteral(TARNIVO_CONTENT));
    }
    void cleanupTestCase() {
        MachineSettings::load(QString(), false);
    }
    void init() {
        QVERIFY(MachineSettings::load(files.filePath("tarnivo.ini"), true).isEmpty());
    }

    void theSameBytesArriveOverHttps() {
        const QByteArray request = "GET /assets/menu.html HTTP/1.0\r\n\r\n";
        QByteArray plain;
        {
            MachineSettings::load(QString(), false);
            Webserver server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            plain = exchange(server.serverPort(), request, QSslCertificate(), false).bytes;
        }
        QVERIFY(plain.startsWith("HTTP/1.0 200 OK\r\n"));
        init();
        Webserver server;
        QCOMPARE(server.tlsProblem(), QString());
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const Answer answer = exchange(server.serverPort(), request, certificateIn(files.path()));
        QCOMPARE(answer.served, QStringLiteral("first"));
        QCOMPARE(answer.bytes, plain);
    }

    void aPlainRequestIsToldToUseHttpsAtOnce() {
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const Answer answer =
            exchange(server.serverPort(), "GET / HTTP/1.0\r\n\r\n", QSslCertificate(), false);
        QVERIFY2(answer.bytes.startsWith("HTTP/1.0 400 Bad Request\r\n"), answer.bytes.constData());
        QVERIFY(answer.bytes.contains("HTTPS"));
        QVERIFY2(answer.msecs < 3000, QByteArray::number(answer.msecs));
    }

    void aRenewedCertificateIsServedWithoutARestart() {
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const QSslCertificate first = certificateIn(files.path());
        QCOMPARE(exchange(server.serverPort(), "GET / HTTP/1.0\r\n\r\n", first).served,
                 QStringLiteral("first"));
        QTest::qWait(1100); // a renewal a second later at the earliest
        QTemporaryDir renewal;
        QVERIFY(makeCertificate(renewal.path(), "renewed"));
        for (const char *name : {"/certificate.pem", "/key.pem"}) {
            QFile::remove(files.path() + name);
            QVERIFY(QFile::copy(renewal.path() + name, files.path() + name));
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            exchange(server.serverPort(), "GET / HTTP/1.0\r\n\r\n", certificateIn(renewal.path()))
                .served,
            QStringLiteral("renewed"), 5000);
    }

    void filesThatCannotServeHttpsStopTheStart_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("problem");
        QTest::newRow("a certificate without its key")
            << QByteArray("certificate=/dev/null\n") << "HTTPS needs both";
        QTest::newRow("files that are no PEM")
            << QByteArray("certificate=/dev/null\nkey=/dev/null\n") << "no PEM certificate";
    }
    void filesThatCannotServeHttpsStopTheStart() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, problem);
        QFile ini(files.filePath("broken.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[web]\n" + lines);
        ini.close();
        MachineSettings::load(ini.fileName(), true);
        Webserver server;
        QVERIFY2(server.tlsProblem().contains(problem), qPrintable(server.tlsProblem()));
    }

    // Another monitor asks this one for its summary as the fleet settings say; a refusal says
    // why.
    void theFleetAsksWithItsPasswordAndVerifiesTheCertificate_data() {
        QTest::addColumn<QByteArray>("fleet");
        QTest::addColumn<QString>("problem");
        const QByteArray trusted =
            "https=true\ncaFile=" + files.filePath("certificate.pem").toUtf8() + "\n";
        QTest::newRow("over plain HTTP")
            << QByteArray("user=alice\npassword=secret\n") << "speaks HTTPS only";
        QTest::newRow("another authority")
            << "https=true\ncaFile=" + stranger.filePath("certificate.pem").toUtf8() + "\n"
            << "certificate not trusted";
        QTest::newRow("the system's authorities")
            << QByteArray("https=true\n") << "certificate not trusted";
        QTest::newRow("no password") << trusted << "needs a password";
        QTest::newRow("a wrong password") << trusted + "user=alice\npassword=wrong\n"
                                          << "needs a password";
        QTest::newRow("all it needs") << trusted + "user=alice\npassword=secret\n" << QString();
    }
    void theFleetAsksWithItsPasswordAndVerifiesTheCertificate() {
        QFETCH(QByteArray, fleet);
        QFETCH(QString, problem);
        QFile ini(files.filePath("fleet.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[web]\ncertificate=" + files.filePath("certificate.pem").toUtf8() + "\nkey=" +
                  files.filePath("key.pem").toUtf8() + "\nusers=" + alice + "\n[fleet]\n" + fleet);
        ini.close();
        QCOMPARE(MachineSettings::load(ini.fileName(), true), QStringList());
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        auto reply = std::async(std::launch::async, [port = server.serverPort()] {
            return FleetClient::fromSettings().fetch("127.0.0.1", port, 5000);
        });
        while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const FleetClient::Reply answer = reply.get();
        QCOMPARE(answer.strProblem, problem);
        QCOMPARE(answer.summary.contains("memory"), problem.isEmpty());
    }

    void cleanup() {
        QVERIFY(WebserverThread::waitForAll(10000));
    }

private:
    QTemporaryDir files;
    QTemporaryDir stranger;
    QByteArray alice;
};

QTEST_GUILESS_MAIN(HttpsTest)
#include "HttpsTest.moc"
