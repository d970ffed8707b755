#include "Display.h"
#include "DisplayAboutAuthor.h"
#include "DisplayAboutVersion.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

namespace {
// Stands in for the maker's web site: answers each request with one canned body and notes
// the request line and whether the check button was disabled meanwhile.
class Website : public QObject {
    Q_OBJECT
public:
    QTcpServer server;
    QByteArray body, requestLine;
    QPushButton *button = nullptr;
    bool buttonEnabledDuringRequest = true;

    Website() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (!socket->peek(8192).contains("\r\n\r\n")) {
                    return;
                }
                requestLine = socket->readLine().trimmed();
                buttonEnabledDuringRequest = button->isEnabled();
                socket->write("HTTP/1.0 200 OK\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
        server.listen(QHostAddress::LocalHost, 0);
        DisplayAboutVersion::setWebsite(
            QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
    }
};

class UrlReceiver : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

QByteArray entry(const QByteArray &name, const QByteArray &version) {
    return "<Version><strName>" + name + "</strName><strVersion>" + version +
           "</strVersion></Version>";
}
} // namespace

class DisplayAboutTest : public QObject {
    Q_OBJECT
private slots:
    // First, while the version check still asks the configured web site.
    void visitWebsiteOpensTheMakersRootPage() {
        QCOMPARE(DisplayAboutVersion::website(), QStringLiteral("http://" TARNIVO_WEBSITE_HOST));
        UrlReceiver receiver;
        Display::setDesktopShellUsed(false); // Wine's Explorer would start a real browser
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &receiver, "open");
        DisplayAboutAuthor dialog;
        dialog.buttonAuthorWebsite->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(receiver.opened, QList<QUrl>{QUrl("http://" TARNIVO_WEBSITE_HOST "/")});
    }

    void theVersionCheckShowsThePublishedVersion_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ours among others")
            << "<P>" + entry("Other", "9.9") + entry("Tarnivo", "1.2") + "</P>"
            << "1.2";
        QTest::newRow("the later of two, at any depth")
            << "<P>" + entry("Tarnivo", "1.2") + "<Q>" + entry("Tarnivo", "1.3") + "</Q></P>"
            << "1.3";
        QTest::newRow("the root is no entry") << entry("Tarnivo", "1.2") << "Unknown";
        QTest::newRow("no version text")
            << QByteArray("<P><Version><strName>Tarnivo</strName></Version></P>") << "";
        QTest::newRow("name differs in case") << "<P>" + entry("tarnivo", "1.2") + "</P>"
                                              << "Unknown";
        // Decoding stops at the NUL; the cut document is not trusted even in part.
        QTest::newRow("NUL inside") << "<P>" + entry("Tarnivo", "1.2") + '\0' + "</P>"
                                    << "Unknown";
    }
    void theVersionCheckShowsThePublishedVersion() {
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        Website website;
        website.body = body;
        DisplayAboutVersion dialog;
        website.button = dialog.buttonVersionCheck;
        QElapsedTimer elapsed;
        elapsed.start();
        dialog.buttonVersionCheck->click();
        QVERIFY(elapsed.elapsed() < 4000); // ends at the first piece, not at the time limit
        QCOMPARE(dialog.editVersionLatest->text(), shown);
        QCOMPARE(website.requestLine, "GET /index.xml?strRequest=requestVersion HTTP/1.1");
        QVERIFY(!website.buttonEnabledDuringRequest);
        QVERIFY(dialog.buttonVersionCheck->isEnabled());

        // Reopening keeps what was found; the next check starts again from "Unknown".
        QTimer::singleShot(0, &dialog, &QDialog::accept);
        dialog.exec();
        QCOMPARE(dialog.editVersionLatest->text(), shown);
        website.body = "<P/>";
        dialog.buttonVersionCheck->click();
        QCOMPARE(dialog.editVersionLatest->text(), QStringLiteral("Unknown"));
    }

    // The reply is read on the GUI thread: one nested thousands deep is refused at once instead of
    // holding the window for seconds; a real site's nesting is read.
    void aDeeplyNestedReplyIsRefusedAtOnce() {
        const QByteArray ours = entry("Tarnivo", "1.2");
        const QString unknown = QStringLiteral("Unknown");
        QCOMPARE(DisplayAboutVersion::latestVersion("<P><Q><R>" + ours + "</R></Q></P>", unknown),
                 QStringLiteral("1.2"));
        const QByteArray deep = "<P>" + QByteArray("<Q>").repeated(100) + ours +
                                QByteArray("</Q>").repeated(100) + "</P>";
        QCOMPARE(DisplayAboutVersion::latestVersion(deep, unknown), unknown);
        QElapsedTimer elapsed;
        elapsed.start();
        DisplayAboutVersion::latestVersion("<P>" + QByteArray("<Q>").repeated(40000), unknown);
        QVERIFY(elapsed.elapsed() < 3000);
    }

    void withoutAnswerTheCheckGivesUpWithinFiveSeconds() {
        quint16 closedPort;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            closedPort = probe.serverPort();
        }
        DisplayAboutVersion::setWebsite(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
        DisplayAboutVersion dialog;
        QElapsedTimer elapsed;
        elapsed.start();
        dialog.buttonVersionCheck->click();
        QVERIFY2(elapsed.elapsed() < 6000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(dialog.editVersionLatest->text(), QStringLiteral("Unknown"));
        QVERIFY(dialog.buttonVersionCheck->isEnabled());
    }

    void bothDialogsKeepTheirLayoutAndTexts() {
        DisplayAboutAuthor author;
        QCOMPARE(author.size(), QSize(361, 181));
        QCOMPARE(author.textAuthor->geometry(), QRect(10, 20, 321, 101));
        QCOMPARE(author.buttonAuthorWebsite->focusPolicy(), Qt::ClickFocus);
        QVERIFY(author.textAuthor->isReadOnly());
        const QTextDocument *banner = author.textAuthor->document();
        QCOMPARE(banner->blockCount(), 6);
        for (QTextBlock line = banner->begin(); line.isValid(); line = line.next()) {
            QVERIFY(line.blockFormat().alignment() & Qt::AlignHCenter);
            QCOMPARE(line.begin().fragment().charFormat().fontPointSize(), 8.0);
            // Centred lines of unequal width would tear the art apart.
            QCOMPARE(line.length(), banner->begin().length());
        }
        author.grab().save(QStringLiteral("/tmp/about-author.png"));

        DisplayAboutVersion version;
        QVERIFY(version.isVisible());
        QCOMPARE(version.windowTitle(), QStringLiteral("About"));
        QCOMPARE(version.size(), QSize(191, 131));
        QCOMPARE(version.editVersionInstalled->text(), QStringLiteral("1.1"));
        QCOMPARE(version.editVersionLatest->text(), QStringLiteral("Unknown"));
        QCOMPARE(version.editVersionLatest->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(version.buttonVersionCheck->text(), QStringLiteral("Check latest Version"));
        // The label lies over its edit and must stay on top to be seen.
        QCOMPARE(version.groupVersion->childAt(20, 60)->metaObject()->className(), "QLabel");
        version.grab().save(QStringLiteral("/tmp/about-version.png"));
    }
};

QTEST_MAIN(DisplayAboutTest)
#include "DisplayAboutTest.moc"
