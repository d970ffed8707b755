// The control window: its layout, its three states, Start with its self-test, Stop, Open in
// Browser, and ending the program while threads are busy.
#include "Display.h"
#include "platform/windows_wine.h"
#include "ui/ScratchSettings.h"

#include "HeartbeatProtocol.h"

#include "Main.h"
#include "ServerControl.h"
#include "Settings.h"
#include "SharedState.h"
#include "Webserver.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <optional>
#include <thread>

namespace {

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

struct WindowState {
    QString status;
    bool port, start, stop, open;
};

WindowState stateOf(const Display &window) {
    return {window.editStatus->text(), window.editSettingsPort->isEnabled(),
            window.buttonSettingsStart->isEnabled(), window.buttonSettingsStop->isEnabled(),
            window.buttonStatusOpen->isEnabled()};
}

void verifyStopped(const Display &window, const QString &status) {
    const WindowState s = stateOf(window);
    QCOMPARE(s.status, status);
    QVERIFY(s.port && s.start && !s.stop && !s.open);
}

void verifyRunning(const Display &window) {
    const WindowState s = stateOf(window);
    QCOMPARE(s.status, QStringLiteral("Monitor is running."));
    QVERIFY(!s.port && !s.start && s.stop && s.open);
}

// Sends one request from another thread, so that the listener on this one keeps accepting,
// and returns everything the server answered.
QByteArray fetch(quint16 port, const QByteArray &request,
                 const QHostAddress &address = QHostAddress::LocalHost) {
    std::atomic<bool> done{false};
    QByteArray answer;
    std::thread client([&] {
        QTcpSocket socket;
        socket.connectToHost(address, port);
        if (socket.waitForConnected(2000)) {
            socket.write(request);
            while (socket.waitForReadyRead(3000) || socket.bytesAvailable())
                answer += socket.readAll();
        }
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    client.join();
    return answer;
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

// Renames the start page out of the way for one test, and back afterwards.
class StartPageHidden {
public:
    StartPageHidden() : path(QCoreApplication::applicationDirPath() + "/content/assets/menu.html") {
        QFile::rename(path, path + ".hidden");
    }
    ~StartPageHidden() { QFile::rename(path + ".hidden", path); }

private:
    QString path;
};

// The port that the heartbeat's port reply gives at this moment.
QByteArray heartbeatPort() {
    const QByteArray reply = HeartbeatProtocol::reply(
        "Start:Heartbeat\nstrType:typeRequest\nstrCommand:commandPort\nStop:Heartbeat",
        intListeningPort.load());
    return reply.split('\n').value(3).mid(int(qstrlen("intPort:")));
}

} // namespace

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestDisplay : public QObject {
    Q_OBJECT

private slots:
    void theWindowIsLaidOutAsDesigned();
    void thePortFieldTakesOnlyPortNumbers();
    void startServesTheDashboardAndStopEndsIt();
    void startAfterStopListensOnTheNewPortOnly();
    void startOnATakenPortFailsAtOnce();
    void noLocalUserCanTakeThePortOnIPv6();
    void aFailedSelfTestLeavesNoListenerBehind();
    void aFailedStartSaysWhyInTheTooltip_data();
    void aFailedStartSaysWhyInTheTooltip();
    void aSuccessfulStartIsRememberedForTheNextWindow();
    void theStartOnLaunchItemIsRemembered();
    void openInBrowserOpensTheLocalRoot();
    void theHeartbeatGivesThePortOnlyWhileTheServerListens_data();
    void theHeartbeatGivesThePortOnlyWhileTheServerListens();
    void closingTheWindowWhileThreadsAreBusyEndsCleanly();
    void portAndStartOnTheCommandLineStartTheServer();
    void theApplicationCarriesTheProgramIcon();

    void init() {
        QSettings().clear();
        ServerControl::setWebRoot(QString());
    }
};

void TestDisplay::theWindowIsLaidOutAsDesigned() {
    Display window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Tarnivo"));
    QCOMPARE(window.size(), QSize(191, 211));
    QVERIFY(window.isVisible());

    QCOMPARE(window.menuMenu->title(), QStringLiteral("Menu"));
    QCOMPARE(window.menuAbout->title(), QStringLiteral("About"));
    QCOMPARE(window.actionMenuExit->text(), QStringLiteral("Exit  "));
    QCOMPARE(window.actionAboutVersion->text(), QStringLiteral("Version  "));
    QCOMPARE(window.actionAboutAuthor->text(), QStringLiteral("Author  "));
    QCOMPARE(window.menuBarMain->actions().size(), 2);
    QCOMPARE(window.menuBar(), window.menuBarMain);

    QCOMPARE(window.groupSettings->geometry(), QRect(10, 10, 171, 81));
    QCOMPARE(window.editSettingsPort->geometry(), QRect(10, 20, 151, 20));
    QCOMPARE(window.labelSettingsPort->geometry(), QRect(15, 20, 61, 20));
    QCOMPARE(window.buttonSettingsStart->geometry(), QRect(10, 50, 71, 23));
    QCOMPARE(window.buttonSettingsStop->geometry(), QRect(90, 50, 71, 23));
    QCOMPARE(window.groupStatus->geometry(), QRect(10, 100, 171, 81));
    QCOMPARE(window.editStatus->geometry(), QRect(10, 20, 151, 20));
    QCOMPARE(window.buttonStatusOpen->geometry(), QRect(10, 50, 151, 23));

    QCOMPARE(window.groupSettings->title(), QStringLiteral("Settings"));
    QCOMPARE(window.groupStatus->title(), QStringLiteral("Status"));
    QCOMPARE(window.labelSettingsPort->text(), QStringLiteral("Port:"));
    QCOMPARE(window.editSettingsPort->text(), QStringLiteral("80"));
    QCOMPARE(window.editSettingsPort->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(window.buttonStatusOpen->text(), QStringLiteral("Open in Browser"));
    QVERIFY(window.editStatus->isReadOnly());

    for (QWidget *w : {static_cast<QWidget *>(window.editSettingsPort),
                       static_cast<QWidget *>(window.buttonSettingsStart),
                       static_cast<QWidget *>(window.buttonSettingsStop),
                       static_cast<QWidget *>(window.editStatus),
                       static_cast<QWidget *>(window.buttonStatusOpen)})
        QCOMPARE(w->focusPolicy(), Qt::ClickFocus);

    verifyStopped(window, QStringLiteral("Monitor is not running."));
}

void TestDisplay::thePortFieldTakesOnlyPortNumbers() {
    Display window;
    const QValidator *validator = window.editSettingsPort->validator();
    QVERIFY(validator);
    auto check = [&](QString text) {
        int pos = 0;
        return validator->validate(text, pos);
    };
    QCOMPARE(check("65535"), QValidator::Acceptable);
    QCOMPARE(check("1"), QValidator::Acceptable);
    QCOMPARE(check("65536"), QValidator::Invalid);
    QCOMPARE(check("99999"), QValidator::Invalid);
    QCOMPARE(check("-1"), QValidator::Invalid);
    // Both are left standing while the user edits; Start then stores 0.
    QCOMPARE(check(""), QValidator::Intermediate);
    QCOMPARE(check("0"), QValidator::Intermediate);
}

void TestDisplay::startServesTheDashboardAndStopEndsIt() {
    Display window;
    const quint16 port = freePort();
    window.editSettingsPort->setText(QString::number(port));

    // The busy state is visible while the self-test waits.
    WindowState busy{};
    QTimer::singleShot(0, &window, [&] { busy = stateOf(window); });
    window.clickedSettingsStart();
    QCOMPARE(busy.status, QStringLiteral("Starting up ..."));
    QVERIFY(!busy.port && !busy.start && !busy.stop && !busy.open);

    verifyRunning(window);
    QCOMPARE(intPort.load(), quint32(port));
    QVERIFY(webserver);
    QVERIFY(fetch(port, "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.0 302 Moved Temporarily\r\n"));

    window.clickedSettingsStop();
    verifyStopped(window, QStringLiteral("Monitor is not running."));
    QVERIFY(!webserver);
    QVERIFY(!accepts(port));
}

void TestDisplay::startAfterStopListensOnTheNewPortOnly() {
    Display window;
    const quint16 first = freePort();
    window.editSettingsPort->setText(QString::number(first));
    window.clickedSettingsStart();
    verifyRunning(window);
    window.clickedSettingsStop();

    const quint16 second = freePort();
    window.editSettingsPort->setText(QString::number(second));
    window.clickedSettingsStart();
    verifyRunning(window);
    QVERIFY(accepts(second));
    QVERIFY(!accepts(first));
    window.clickedSettingsStop();
}

bool hasIPv6() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6, 0);
}

void TestDisplay::startOnATakenPortFailsAtOnce() {
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::AnyIPv4, 0));
    Display window;
    window.editSettingsPort->setText(QString::number(holder.serverPort()));

    QElapsedTimer clock;
    clock.start();
    window.clickedSettingsStart();
    QVERIFY2(clock.elapsed() < 1000, "a failed listen must not wait for the self-test");
    verifyStopped(window, QStringLiteral("An error occured."));
    QVERIFY(!webserver);
}

// Browsers try "localhost" over IPv6 first: a user who could bind [::1]:PORT beside the server
// would show them a page of their own.
void TestDisplay::noLocalUserCanTakeThePortOnIPv6() {
    if (!hasIPv6())
        QSKIP("no IPv6 on this machine");
    Display window;
    const quint16 port = freePort();
    window.editSettingsPort->setText(QString::number(port));
    window.clickedSettingsStart();
    verifyRunning(window);
    QTcpServer squatter;
    QVERIFY2(!squatter.listen(QHostAddress::LocalHostIPv6, port), "[::1] was left free");
    QVERIFY(fetch(port, "GET / HTTP/1.0\r\n\r\n", QHostAddress::LocalHostIPv6)
                .startsWith("HTTP/1.0 302 Moved Temporarily\r\n"));
    window.clickedSettingsStop();
}

void TestDisplay::aFailedSelfTestLeavesNoListenerBehind() {
    const quint16 port = freePort();
    {
        StartPageHidden hidden;
        Display window;
        window.editSettingsPort->setText(QString::number(port));
        window.clickedSettingsStart();
        verifyStopped(window, QStringLiteral("An error occured."));
    }
    QVERIFY(!webserver);
    QVERIFY(!accepts(port));
}

void TestDisplay::aFailedStartSaysWhyInTheTooltip_data() {
    QTest::addColumn<QString>("port"); // "TAKEN": a port another program holds
    QTest::addColumn<QString>("webRoot");
    QTest::addColumn<QString>("cause");
    QTest::newRow("port in use") << "TAKEN" << QString() << "is in use by another program";
    QTest::newRow("port 0") << "0" << QString() << "port 0 is out of range: use 1 to 65535";
    QTest::newRow("no web root") << "FREE"
                                 << "NOWHERE"
                                 << "is missing";
    QTest::newRow("no start page") << "FREE"
                                   << "EMPTY"
                                   << "has no assets/menu.html";
#ifndef Q_OS_WIN
    // Only where this account may not take a low port (not as root, nor with the limit lowered).
    QTcpServer low;
    if (!low.listen(QHostAddress::AnyIPv4, 1023) &&
        low.serverError() == QAbstractSocket::SocketAccessError)
        QTest::newRow("port below 1024") << "1023" << QString() << "is below 1024";
#endif
}

void TestDisplay::aFailedStartSaysWhyInTheTooltip() {
    QFETCH(QString, port);
    QFETCH(QString, webRoot);
    QFETCH(QString, cause);
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::AnyIPv4, 0));
    QTemporaryDir scratch;
    port.replace("TAKEN", QString::number(holder.serverPort()));
    port.replace("FREE", QString::number(freePort()));
    webRoot.replace("NOWHERE", scratch.filePath("none"));
    webRoot.replace("EMPTY", scratch.path());
    ServerControl::setWebRoot(webRoot);

    Display window;
    // The heartbeat's own trouble stands beside the cause, and goes when it ends.
    const QString heartbeat = QStringLiteral("the heartbeat cannot use UDP port 49497");
    window.showHeartbeatProblem(heartbeat);
    QCOMPARE(window.editStatus->toolTip(), heartbeat);
    window.editSettingsPort->setText(port);
    window.clickedSettingsStart();
    verifyStopped(window, QStringLiteral("An error occured."));
    QVERIFY2(window.editStatus->toolTip().contains(cause) &&
                 window.editStatus->toolTip().contains(heartbeat),
             qPrintable(window.editStatus->toolTip()));
    window.showHeartbeatProblem(QString());
    QVERIFY(!window.editStatus->toolTip().contains(heartbeat));
    QVERIFY(!webserver);
    // Not remembered: only a successful Start is.
    QCOMPARE(Settings::port(), quint16(0));
}

void TestDisplay::aSuccessfulStartIsRememberedForTheNextWindow() {
    const quint16 port = freePort();
    {
        Display window;
        QCOMPARE(window.editSettingsPort->text(), QStringLiteral("80"));
        window.editSettingsPort->setText(QString::number(port));
        window.clickedSettingsStart();
        verifyRunning(window);
        QCOMPARE(window.editStatus->toolTip(), QString());
        window.clickedSettingsStop();
    }
    Display next;
    QCOMPARE(next.editSettingsPort->text(), QString::number(port));
}

void TestDisplay::theStartOnLaunchItemIsRemembered() {
    {
        Display window;
        QVERIFY(window.actionMenuStartOnLaunch->isCheckable());
        QVERIFY(!window.actionMenuStartOnLaunch->isChecked());
        QVERIFY(window.menuMenu->actions().contains(window.actionMenuStartOnLaunch));
        window.actionMenuStartOnLaunch->trigger();
    }
    QVERIFY(Settings::startOnLaunch());
    Display next;
    QVERIFY(next.actionMenuStartOnLaunch->isChecked());
    next.actionMenuStartOnLaunch->trigger();
    QVERIFY(!Settings::startOnLaunch());
}

void TestDisplay::openInBrowserOpensTheLocalRoot() {
    UrlCatcher catcher;
    Display::setDesktopShellUsed(false); // Wine's Explorer would start a real browser
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    Display window;
    intPort = 8181;
    window.clickedStatusOpen();
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl("http://127.0.0.1:8181/")});
}

void TestDisplay::theHeartbeatGivesThePortOnlyWhileTheServerListens_data() {
    QTest::addColumn<QString>("ending");
    QTest::newRow("Stop") << "stop";
    QTest::newRow("a Start on a port another program holds") << "taken";
    QTest::newRow("a Start whose self-test fails") << "self-test";
}

void TestDisplay::theHeartbeatGivesThePortOnlyWhileTheServerListens() {
    QFETCH(QString, ending);
    QTcpServer holder;
    quint16 port = freePort();
    if (ending == "taken") {
        QVERIFY(holder.listen(QHostAddress::AnyIPv4, 0));
        port = holder.serverPort();
    }
    std::optional<StartPageHidden> hidden;
    if (ending == "self-test")
        hidden.emplace();
    UrlCatcher catcher;
    Display::setDesktopShellUsed(false); // Wine's Explorer would start a real browser
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    {
        Display window;
        window.editSettingsPort->setText(QString::number(port));
        window.clickedSettingsStart();
        if (ending == "stop") {
            QCOMPARE(heartbeatPort(), QByteArray::number(port));
            window.clickedStatusOpen();
            window.clickedSettingsStop();
        }
        QCOMPARE(heartbeatPort(), QByteArray("0"));
        // The window keeps what was typed.
        QCOMPARE(window.editSettingsPort->text(), QString::number(port));
    }
    QDesktopServices::unsetUrlHandler("http");
    if (ending == "stop")
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port))});
}

void TestDisplay::closingTheWindowWhileThreadsAreBusyEndsCleanly() {
    // The whole program runs in a child process (this test program, in child mode), starts the
    // server, leaves connections and a device scan in progress, and closes its window: once
    // with a connection too slow to wait for, then again and again with connections that end
    // just while the program waits for them, so that their threads are still finishing when
    // the application object goes.
    // The repeats are for the sanitizers, which watch only the Linux build; under Wine, where
    // each child is a slow Windows process start, one of each kind is run.
    const QStringList modes =
        QStringList{"busy"} + QStringList(runningUnderWine() ? 1 : 12, "ending");
    for (const QString &mode : modes) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARNIVO_EXIT_CHILD", mode);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY2(child.waitForFinished(60000), qPrintable(mode + ": " + child.errorString()));
        const QByteArray output = child.readAll();
        QVERIFY2(output.contains("child: closing the window while busy"), output.constData());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, output.constData());
    }
}

void TestDisplay::portAndStartOnTheCommandLineStartTheServer() {
    const QString port = QString::number(freePort());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARNIVO_EXIT_CHILD", "options");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--port", port, "--start"});
    QVERIFY2(child.waitForFinished(60000), qPrintable(child.errorString()));
    const QByteArray output = child.readAll();
    QVERIFY2(output.contains("child: running on port " + port.toUtf8()), output.constData());
    QCOMPARE(child.exitCode(), 0);
}

// Child mode: drives the real program from inside once its application object exists.
static bool childMode = false;
static QList<QTcpSocket *> *busyClients = nullptr;

static void driveChild() {
    if (!display) {
        QTimer::singleShot(20, driveChild);
        return;
    }
    if (qEnvironmentVariable("TARNIVO_EXIT_CHILD") == QLatin1String("options")) {
        // Started with --port and --start: the window shows the port and starts by itself.
        if (display->editStatus->text() != QStringLiteral("Monitor is running.")) {
            QTimer::singleShot(20, driveChild);
            return;
        }
        std::printf("child: running on port %s\n", qPrintable(display->editSettingsPort->text()));
        std::fflush(stdout);
        display->close();
        return;
    }
    const quint16 port = freePort();
    display->editSettingsPort->setText(QString::number(port));
    display->clickedSettingsStart();
    if (display->editStatus->text() != QStringLiteral("Monitor is running.")) {
        std::printf("child: start failed\n");
        std::fflush(stdout);
        QCoreApplication::exit(3);
        return;
    }
    busyClients = new QList<QTcpSocket *>();
    if (qEnvironmentVariable("TARNIVO_EXIT_CHILD") == QLatin1String("ending")) {
        // Clients that send nothing: their threads all answer at the end of the read wait,
        // a little after the window has closed.
        for (int i = 0; i < 16; ++i) {
            auto *client = new QTcpSocket();
            client->connectToHost(QHostAddress::LocalHost, port);
            client->waitForConnected(1000);
            *busyClients << client;
        }
        QTimer::singleShot(900, [] {
            std::printf("child: closing the window while busy\n");
            std::fflush(stdout);
            display->close();
        });
        return;
    }
    // One client trickles a request head and never finishes it; others ask for a device scan
    // and for the start page and never read the answers.
    const QList<QByteArray> requests = {
        "GET /assets/menu.html HTTP/1.0\r\nX-Slow: ",
        "GET /menu.xml?strRequest=requestInit:requestRead HTTP/1.0\r\n\r\n",
        "GET /assets/menu.html HTTP/1.0\r\n\r\n",
    };
    for (const QByteArray &request : requests) {
        auto *client = new QTcpSocket();
        client->connectToHost(QHostAddress::LocalHost, port);
        client->waitForConnected(1000);
        client->write(request);
        client->flush();
        *busyClients << client;
    }
    // And one trickles its head a byte at a time from a thread of its own, so its worker is
    // still busy when the program ends and the end cannot wait for it.
    std::thread([port] {
        QTcpSocket trickler;
        trickler.connectToHost(QHostAddress::LocalHost, port);
        trickler.waitForConnected(1000);
        for (int i = 0; i < 50; ++i) {
            trickler.write("x");
            trickler.waitForBytesWritten(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }).detach();
    QTimer::singleShot(300, [] {
        std::printf("child: closing the window while busy\n");
        std::fflush(stdout);
        display->close();
    });
}

static void armChild() {
    if (childMode)
        QTimer::singleShot(0, driveChild);
}
Q_COREAPP_STARTUP_FUNCTION(armChild)

void TestDisplay::theApplicationCarriesTheProgramIcon() {
    // Main installs it: on Windows icon resource 102 of the executable (this test links the
    // same icon), elsewhere the same picture from the Qt resource.
    QApplication::setWindowIcon(QIcon());
    Main main(qobject_cast<QApplication *>(QCoreApplication::instance()));
    const QImage image = QApplication::windowIcon().pixmap(QSize(32, 32)).toImage();
    QCOMPARE(image.size(), QSize(32, 32));
    int opaque = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            opaque += image.pixelColor(x, y).alpha() > 0;
    QVERIFY2(opaque > 100, qPrintable(QString::number(opaque)));
}

int main(int argc, char **argv) {
    useScratchSettings();
    if (qEnvironmentVariableIsSet("TARNIVO_EXIT_CHILD")) {
        childMode = true;
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        Main::start(arguments);
    }
    QApplication application(argc, argv);
    TestDisplay test;
    return QTest::qExec(&test, argc, argv);
}

#include "DisplayTest.moc"
