// The machine-wide settings file: what each key reads as, what is refused and said, and which
// of the file, the user's own settings and the default wins.
#include "MachineSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class MachineSettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    QString write(const QByteArray &ini) {
        const QString path = folder.filePath("tarnivo.ini");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(ini) != ini.size())
            return {};
        return path;
    }

private slots:
    // The user's own settings in a folder of the test's own (on Linux; under Wine the registry
    // of the test's prefix), emptied before each test.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", folder.path().toUtf8()); }
    void init() { QSettings("Tarnivo", "Tarnivo").remove("web"); }

    void eachKeyIsReadOrRefusedByName_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<uint>("port");
        QTest::addColumn<QStringList>("hosts");
        QTest::addColumn<QStringList>("said"); // a piece of each message, in order
        QTest::newRow("nothing set") << QByteArray() << 0u << QStringList{} << QStringList{};
        QTest::newRow("both set") << QByteArray(
                                         "[web]\nport=8090\nallowedHosts=a.example b.example\n")
                                  << 8090u << QStringList{"a.example", "b.example"}
                                  << QStringList{};
        QTest::newRow("a list with commas")
            << QByteArray("[web]\nallowedHosts=a.example, b.example,\n") << 0u
            << QStringList{"a.example", "b.example"} << QStringList{};
        QTest::newRow("a bad port keeps its default, the other key is taken")
            << QByteArray("[web]\nport=80a\nallowedHosts=c.example\n") << 0u
            << QStringList{"c.example"}
            << QStringList{"web/port = \"80a\" is not a port from 1 to 65535; the default is kept"};
        QTest::newRow("port out of range") << QByteArray("[web]\nport=65536\n") << 0u
                                           << QStringList{} << QStringList{"web/port = \"65536\""};
        QTest::newRow("unknown keys, in or out of a section")
            << QByteArray("[web]\nallowedHost=x\n[alerts]\nspeed=1\n") << 0u << QStringList{}
            << QStringList{"unknown key alerts/speed", "unknown key web/allowedHost"};
    }
    void eachKeyIsReadOrRefusedByName() {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, said);
        const QStringList messages = MachineSettings::load(write(ini), true);
        QCOMPARE(messages.size(), said.size());
        for (int i = 0; i < said.size(); ++i)
            QVERIFY2(messages.at(i).contains(said.at(i)), qPrintable(messages.at(i)));
        QTEST(MachineSettings::value("web/port").toUInt(), "port");
        QTEST(MachineSettings::value("web/allowedHosts").toStringList(), "hosts");
    }

    // The file, then the user's own settings, then the default.
    void theFileWinsOverTheUsersSettings() {
        QSettings own("Tarnivo", "Tarnivo");
        own.setValue("web/allowedHosts", "own.example");
        own.sync();
        MachineSettings::load(write("[web]\nallowedHosts=file.example\n"), true);
        QCOMPARE(MachineSettings::value("web/allowedHosts").toStringList(),
                 QStringList{"file.example"});
        MachineSettings::load(write("[web]\nport=81\n"), true);
        QCOMPARE(MachineSettings::value("web/allowedHosts").toStringList(),
                 QStringList{"own.example"});
        QVERIFY(MachineSettings::load(folder.filePath("absent.ini"), false).isEmpty());
        QCOMPARE(MachineSettings::load(folder.filePath("absent.ini"), true).size(), 1);
        own.remove("web/allowedHosts");
        QCOMPARE(MachineSettings::value("web/allowedHosts").toStringList(), QStringList{});
    }

    // The service's installation: a prepared file is copied only where none is, and the port
    // is set beside the keys already there. Then the user's settings no longer answer (last:
    // it cannot be undone).
    void theInstalledFileIsKeptWithItsPort() {
        const QString installed = folder.filePath("ProgramData/Tarnivo/tarnivo.ini");
        bool copied = false;
        QVERIFY(
            !MachineSettings::adopt(folder.filePath("absent.ini"), installed, copied).isEmpty());
        QVERIFY(
            MachineSettings::adopt(write("[web]\nallowedHosts=first.example\n"), installed, copied)
                .isEmpty());
        QVERIFY(copied);
        QVERIFY(
            MachineSettings::adopt(write("[web]\nallowedHosts=second.example\n"), installed, copied)
                .isEmpty());
        QVERIFY(!copied);
        QVERIFY(MachineSettings::store(installed, "web/port", 8090).isEmpty());
        QVERIFY(MachineSettings::load(installed, true).isEmpty());
        QCOMPARE(MachineSettings::value("web/allowedHosts").toStringList(),
                 QStringList{"first.example"});
        QCOMPARE(MachineSettings::value("web/port").toUInt(), 8090u);

        QSettings own("Tarnivo", "Tarnivo");
        own.setValue("web/certificate", "own.pem");
        own.sync();
        MachineSettings::ignoreUserSettings();
        QCOMPARE(MachineSettings::value("web/certificate").toString(), QString());
        // Under Wine the user's settings are the prefix's registry, which outlives the test.
        own.remove("web");
    }
};

QTEST_GUILESS_MAIN(MachineSettingsTest)
#include "MachineSettingsTest.moc"
