// The program run from a command line: its exit codes and messages, and without a window
// serving until it is told to end.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <csignal>
#endif

namespace {

// The program lies one directory above the test programs.
QString program() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../tarnivo")
#ifdef Q_OS_WIN
           + QStringLiteral(".exe")
#endif
        ;
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

// Only where the test signals the program itself (elsewhere the service check serves).
[[maybe_unused]] QByteArray ask(quint16 port, const QByteArray &request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write(request);
    QByteArray answer;
    while (socket.waitForReadyRead(3000) || socket.bytesAvailable())
        answer += socket.readAll();
    return answer;
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void exitCodeAndMessageTellWhatHappened_data();
    void exitCodeAndMessageTellWhatHappened();
    void servesUntilToldToEnd_data();
    void servesUntilToldToEnd();
};

void TestHeadless::exitCodeAndMessageTellWhatHappened_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    // "TAKEN" stands for a port another program holds, "NOWHERE" for a directory that is not.
    QTest::newRow("version") << QStringList{"--version"} << 0 << "Tarnivo 1.1";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--headless";
    QTest::newRow("unknown option") << QStringList{"--daemon"} << 2 << "unknown option --daemon";
    QTest::newRow("bad port") << QStringList{"--headless", "--port", "99999"} << 2
                              << "--port takes a number from 1 to 65535";
    QTest::newRow("port in use") << QStringList{"--headless", "--port", "TAKEN"} << 1
                                 << "is in use by another program";
    QTest::newRow("web root missing")
        << QStringList{"--headless", "--port", "FREE", "--content", "NOWHERE"} << 1 << "is missing";
    // Without --port the program without a window takes 8080, which the test holds.
    QTest::newRow("8080 unless told otherwise") << QStringList{"--headless"} << 1 << "8080";
    QTest::newRow("the settings file's port")
        << QStringList{"--headless", "--config", "INI"} << 1 << "is in use by another program";
    QTest::newRow("a settings file that is not there")
        << QStringList{"--headless", "--config", "NOWHERE"} << 2 << "--config names no file";
#ifndef Q_OS_WIN
    // The test runs the program without a display.
    QTest::newRow("no display") << QStringList{"--start"} << 1 << "--headless";
#endif
}

void TestHeadless::exitCodeAndMessageTellWhatHappened() {
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, message);
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::AnyIPv4, 0));
    // Held, unless another program holds it already: either way the program cannot have it.
    QTcpServer usual;
    usual.listen(QHostAddress::AnyIPv4, 8080);
    QTemporaryDir scratch;
    QFile ini(scratch.filePath("tarnivo.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[web]\nport=" + QByteArray::number(holder.serverPort()) + "\n");
    ini.close();
    arguments.replaceInStrings(QStringLiteral("INI"), ini.fileName());
    // Every run keeps its history in a folder of its own.
    arguments << QStringLiteral("--state") << scratch.filePath("state");
    arguments.replaceInStrings(QStringLiteral("TAKEN"), QString::number(holder.serverPort()));
    arguments.replaceInStrings(QStringLiteral("FREE"), QString::number(freePort()));
    arguments.replaceInStrings(QStringLiteral("NOWHERE"), scratch.filePath("none"));

    QProcess tarnivo;
    tarnivo.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QLatin1String(name));
    tarnivo.setProcessEnvironment(environment);
    tarnivo.start(program(), arguments);
    QVERIFY2(tarnivo.waitForFinished(30000), qPrintable(tarnivo.errorString()));
    const QString output = QString::fromUtf8(tarnivo.readAll());
    QVERIFY2(output.contains(message), qPrintable(output));
    QCOMPARE(tarnivo.exitCode(), code);
    // A refusal, and a window that cannot open, is one line.
    if (code == 2 || (code != 0 && !arguments.contains(QLatin1String("--headless"))))
        QCOMPARE(output.trimmed().count(QLatin1Char('\n')), 0);
}

void TestHeadless::servesUntilToldToEnd_data() {
    QTest::addColumn<int>("signal");
#ifndef Q_OS_WIN
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("Ctrl+C") << int(SIGINT);
#endif
}

void TestHeadless::servesUntilToldToEnd() {
#ifdef Q_OS_WIN
    QSKIP("Windows ends it as a service: the end-to-end check stops the installed service");
#else
    QFETCH(int, signal);
    const quint16 port = freePort();
    QProcess tarnivo;
    tarnivo.setProcessChannelMode(QProcess::MergedChannels);
    QTemporaryDir scratch;
    tarnivo.start(program(),
                  {"--headless", "--port", QString::number(port), "--state", scratch.path()});
    QByteArray output;
    while (!output.contains("serving") && tarnivo.waitForReadyRead(15000))
        output += tarnivo.readAll();
    QVERIFY2(output.contains("serving"), output.constData());
    // Without its window the program loads no widgets, nor what they bring (the windowing
    // libraries), nor systemd's library before the failed units are asked for; and it starts
    // no thread of the proxy libraries (its self-test and heartbeat go to no proxy): a
    // monitor nobody looks at stays small.
    const QString process = QStringLiteral("/proc/%1/").arg(tarnivo.processId());
    QFile maps(process + "maps");
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    for (const char *library : {"libQt6Widgets", "libsystemd"})
        QVERIFY2(!mapped.contains(library), library);
    for (const QString &thread :
         QDir(process + "task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(process + "task/" + thread + "/comm");
        // A short-lived thread (the self-test's connection) may end after the listing.
        if (!name.open(QIODevice::ReadOnly))
            continue;
        QVERIFY2(!name.readAll().startsWith("QLibProxy"), qPrintable(thread));
    }

    QVERIFY(ask(port, "GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.0 302 Moved Temporarily\r\n"));
    QVERIFY(ask(port, "GET /menu.xml?strRequest=requestInit:requestRead HTTP/1.0\r\n\r\n")
                .contains("<Memory"));

    ::kill(pid_t(tarnivo.processId()), signal);
    QVERIFY(tarnivo.waitForFinished(10000));
    output += tarnivo.readAll();
    QCOMPARE(tarnivo.exitStatus(), QProcess::NormalExit);
    QVERIFY2(tarnivo.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("stopping"), output.constData());
    QTcpSocket after;
    after.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!after.waitForConnected(1000));
#endif
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "HeadlessTest.moc"
