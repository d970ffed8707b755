// The program's options: what each argument list is read as, and the one-line reason when one
// is refused.
#include "CommandLine.h"

#include <QTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void argumentsAreReadOrRefused_data();
    void argumentsAreReadOrRefused();
    void filesAndFoldersAreTakenAsGiven_data();
    void filesAndFoldersAreTakenAsGiven();
    void helpListsEveryOption();
};

void TestCommandLine::argumentsAreReadOrRefused_data() {
    QTest::addColumn<QStringList>("arguments");
    // What was read, as "port content start headless help version install uninstall", or
    // the reason for the refusal.
    QTest::addColumn<QString>("read");

    QTest::newRow("nothing") << QStringList{} << "0 - 0 0 0 0 0 0";
    QTest::newRow("port and start")
        << QStringList{"--port", "8080", "--start"} << "8080 - 1 0 0 0 0 0";
    QTest::newRow("value after =")
        << QStringList{"--port=1", "--content=web"} << "1 web 0 0 0 0 0 0";
    QTest::newRow("headless, content with blanks")
        << QStringList{"--headless", "--content", "/srv/my web", "--port", "65535"}
        << "65535 /srv/my web 0 1 0 0 0 0";
    QTest::newRow("help") << QStringList{"--help"} << "0 - 0 0 1 0 0 0";
    QTest::newRow("version") << QStringList{"--version"} << "0 - 0 0 0 1 0 0";
    QTest::newRow("install with port")
        << QStringList{"--install-service", "--port", "8090"} << "8090 - 0 0 0 0 1 0";
    QTest::newRow("uninstall") << QStringList{"--uninstall-service"} << "0 - 0 0 0 0 0 1";

    QTest::newRow("unknown option")
        << QStringList{"--daemon"} << "unknown option --daemon (--help lists them)";
    QTest::newRow("single dash") << QStringList{"-p", "80"}
                                 << "unknown option -p (--help lists them)";
    QTest::newRow("stray argument") << QStringList{"8080"} << "unexpected argument \"8080\"";
    QTest::newRow("port missing") << QStringList{"--start", "--port"}
                                  << "--port needs a value: --port N";
    QTest::newRow("port zero") << QStringList{"--port", "0"}
                               << "--port takes a number from 1 to 65535, not \"0\"";
    QTest::newRow("port too big") << QStringList{"--port=65536"}
                                  << "--port takes a number from 1 to 65535, not \"65536\"";
    QTest::newRow("port negative")
        << QStringList{"--port", "-1"} << "--port takes a number from 1 to 65535, not \"-1\"";
    QTest::newRow("port text") << QStringList{"--port", "http"}
                               << "--port takes a number from 1 to 65535, not \"http\"";
    QTest::newRow("content empty")
        << QStringList{"--content="} << "--content takes a directory, not an empty text";
    QTest::newRow("switch with value")
        << QStringList{"--headless=yes"} << "--headless takes no value";
    QTest::newRow("install and uninstall")
        << QStringList{"--install-service", "--uninstall-service"}
        << "--install-service and --uninstall-service exclude each other";
}

void TestCommandLine::argumentsAreReadOrRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, read);
    const CommandLine options = CommandLine::parse(arguments);
    const QString actual =
        !options.strError.isEmpty()
            ? options.strError
            : QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                  .arg(options.intPort)
                  .arg(options.strContent.isEmpty() ? QStringLiteral("-") : options.strContent)
                  .arg(int(options.boolStart))
                  .arg(int(options.boolHeadless))
                  .arg(int(options.boolHelp))
                  .arg(int(options.boolVersion))
                  .arg(int(options.boolInstallService))
                  .arg(int(options.boolUninstallService));
    QCOMPARE(actual, read);
}

void TestCommandLine::filesAndFoldersAreTakenAsGiven_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("read"); // "config | state", or the reason for the refusal
    QTest::newRow("both, with blanks")
        << QStringList{"--config", "/etc/my tarnivo.ini", "--state=/var/lib/t"}
        << "/etc/my tarnivo.ini | /var/lib/t";
    QTest::newRow("state empty") << QStringList{"--state="}
                                 << "--state takes a directory, not an empty text";
    QTest::newRow("config missing")
        << QStringList{"--headless", "--config"} << "--config needs a value: --config FILE";
}

void TestCommandLine::filesAndFoldersAreTakenAsGiven() {
    QFETCH(QStringList, arguments);
    const CommandLine options = CommandLine::parse(arguments);
    QTEST(options.strError.isEmpty() ? options.strConfig + " | " + options.strState
                                     : options.strError,
          "read");
}

void TestCommandLine::helpListsEveryOption() {
    const QString help = CommandLine::help();
    for (const char *option :
         {"--port N", "--start", "--headless", "--content DIR", "--version", "--help",
          "--install-service", "--uninstall-service", "--config FILE", "--state DIR"})
        QVERIFY2(help.contains(QLatin1String(option)), option);
}

QTEST_APPLESS_MAIN(TestCommandLine)
#include "CommandLineTest.moc"
