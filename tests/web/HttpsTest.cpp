// The web server over HTTPS, and the fleet asking it, with certificates and users the test
// makes itself, on 127.0.0.1.
#include "AccessSetup.h"
#include "FleetClient.h"
#include "SharedState.h"
#include "TlsCertificate.h"
#include "Webserver.h"
#include "WebserverThread.h"
#include "ui/ScratchSettings.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Answer {
    QByteArray bytes;
    QString served; // the common name of the certificate the server showed
    qint64 msecs = 0;
};

// One request over TLS trusting only `trusted`, or in plain text without it.
Answer exchange(quint16 port, const QSslCertificate &trusted = QSslCertificate()) {
    return meanwhile([port, trusted] {
        QElapsedTimer timer;
        timer.start();
        QSslSocket socket;
        Answer result;
        if (!trusted.isNull()) {
            QSslConfiguration configuration = socket.sslConfiguration();
            configuration.setCaCertificates({trusted});
            socket.setSslConfiguration(configuration);
            socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
            if (!socket.waitForEncrypted(5000))
                return result;
            result.served =
                socket.peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
        } else {
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.waitForConnected(5000);
        }
        socket.write("GET /assets/menu.html HTTP/1.0\r\n\r\n");
        while (socket.waitForReadyRead(5000) || socket.bytesAvailable() > 0)
            result.bytes += socket.readAll();
        result.msecs = timer.elapsed();
        return result;
    });
}
} // namespace

class HttpsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
#ifdef Q_OS_WIN
        // The certificates and users are made with openssl and htpasswd, which the Windows
        // tests (under Wine) do not have.
        QSKIP("no openssl and htpasswd programs in the Windows tests");
#endif
        useScratchSettings();
        QVERIFY2(QSslSocket::supportsSsl(), "Qt finds no TLS backend: install libssl3");
        QVERIFY2(makeCertificate(files.path(), "first"), "openssl is needed");
        QVERIFY(makeCertificate(stranger.path(), "stranger"));
        alice = htpasswd("alice", "secret").toUtf8();
        QVERIFY2(alice.startsWith("alice:$2y$"), "htpasswd (apache2-utils) is needed");
        setContentPath(QStringLiteral(TARNIVO_CONTENT));
    }
    void init() {
        useTls("");
    }
    void cleanup() {
        QVERIFY(WebserverThread::waitForAll(10000));
    }
    void cleanupTestCase() {
        MachineSettings::load(QString(), false);
    }

    void theSameBytesArriveOverHttps() {
        QByteArray plain;
        {
            MachineSettings::load(QString(), false);
            Webserver server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            plain = exchange(server.serverPort()).bytes;
        }
        QVERIFY(plain.startsWith("HTTP/1.0 200 OK\r\n"));
        useTls("");
        Webserver server;
        QCOMPARE(server.tlsProblem(), QString());
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const Answer answer = exchange(server.serverPort(), certificateIn(files.path()));
        QCOMPARE(answer.served, QStringLiteral("first"));
        QCOMPARE(answer.bytes, plain);
    }

    void aPlainRequestIsToldToUseHttpsAtOnce() {
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const Answer answer = exchange(server.serverPort());
        QVERIFY2(answer.bytes.startsWith("HTTP/1.0 400 Bad Request\r\n") &&
                     answer.bytes.contains("HTTPS"),
                 answer.bytes.constData());
        QVERIFY2(answer.msecs < 3000, QByteArray::number(answer.msecs));
    }

    void aRenewedCertificateIsServedWithoutARestart() {
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QCOMPARE(exchange(server.serverPort(), certificateIn(files.path())).served,
                 QStringLiteral("first"));
        QTest::qWait(1100); // a renewal a second later at the earliest
        QTemporaryDir renewal;
        QVERIFY(makeCertificate(renewal.path(), "renewed"));
        for (const char *name : {"/certificate.pem", "/key.pem"}) {
            QFile::remove(files.path() + name);
            QVERIFY(QFile::copy(renewal.path() + name, files.path() + name));
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            exchange(server.serverPort(), certificateIn(renewal.path())).served,
            QStringLiteral("renewed"), 5000);
    }

    // Another monitor asks this one for its summary as the fleet settings say; a refusal says
    // why.
    void theFleetAsksWithItsPasswordAndVerifiesTheCertificate_data() {
        QTest::addColumn<QByteArray>("fleet");
        QTest::addColumn<QString>("problem");
        const QByteArray trusted =
            "https=true\ncaFile=" + files.filePath("certificate.pem").toUtf8();
        QTest::newRow("over plain HTTP")
            << QByteArray("user=alice\npassword=secret") << "speaks HTTPS only";
        QTest::newRow("another authority")
            << "https=true\ncaFile=" + stranger.filePath("certificate.pem").toUtf8()
            << "certificate not trusted";
        QTest::newRow("a wrong password") << trusted + "\nuser=alice\npassword=wrong"
                                          << "needs a password";
        QTest::newRow("all it needs") << trusted + "\nuser=alice\npassword=secret" << QString();
    }
    void theFleetAsksWithItsPasswordAndVerifiesTheCertificate() {
        QFETCH(QByteArray, fleet);
        QFETCH(QString, problem);
        useTls("users=" + alice + "\n[fleet]\n" + fleet);
        Webserver server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const FleetClient::Reply answer = meanwhile([port = server.serverPort()] {
            return FleetClient::fromSettings().fetch("127.0.0.1", port, 5000);
        });
        QCOMPARE(answer.strProblem, problem);
        QCOMPARE(answer.summary.contains("memory"), problem.isEmpty());
    }

private:
    // Settings with the certificate and key of `files`, and these lines after them.
    void useTls(const QByteArray &more) {
        QCOMPARE(loadSettings(files.filePath("tarnivo.ini"),
                              "[web]\ncertificate=" + files.filePath("certificate.pem").toUtf8() +
                                  "\nkey=" + files.filePath("key.pem").toUtf8() + "\n" + more),
                 QStringList());
    }

    QTemporaryDir files;
    QTemporaryDir stranger;
    QByteArray alice;
};

QTEST_GUILESS_MAIN(HttpsTest)
#include "HttpsTest.moc"
