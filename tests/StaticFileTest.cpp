// Which request paths name a file of the web root, and how that file is described.
#include "StaticFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestStaticFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyRegularFilesInsideTheRootResolve();
    void mediaTypeFollowsTheLowerCasedExtension_data();
    void mediaTypeFollowsTheLowerCasedExtension();

private:
    static void writeFile(const QString &path, const QByteArray &bytes);
    QTemporaryDir temp;
    QString root;
};

void TestStaticFile::writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

void TestStaticFile::initTestCase() {
    QVERIFY(temp.isValid());
    root = temp.path() + "/content";
    QVERIFY(QDir().mkpath(root + "/assets/sub"));
    writeFile(root + "/assets/menu.html", "<html>");
    writeFile(root + "/assets/sub/x.js", "x");
    writeFile(temp.path() + "/secret.txt", "secret");
    QVERIFY(QFile::link(temp.path() + "/secret.txt", root + "/assets/outside.txt"));
    QVERIFY(QFile::link(root + "/assets/menu.html", root + "/assets/inside.html"));
    QVERIFY(QFile::link(temp.path(), root + "/assets/up"));
    QCOMPARE(mkfifo(QFile::encodeName(root + "/assets/pipe.txt").constData(), 0600), 0);
}

void TestStaticFile::onlyRegularFilesInsideTheRootResolve() {
    const QString menu = QFileInfo(root + "/assets/menu.html").canonicalFilePath();
    QCOMPARE(StaticFile::resolve(root, "/assets/menu.html"), menu);
    QCOMPARE(StaticFile::resolve(root, "/assets/inside.html"), menu);
    QCOMPARE(StaticFile::resolve(root, "/assets/sub/x.js"),
             QFileInfo(root + "/assets/sub/x.js").canonicalFilePath());
    QVERIFY(StaticFile::resolve(root, "/assets/outside.txt").isEmpty());
    QVERIFY(StaticFile::resolve(root, "/assets/up/secret.txt").isEmpty());
    QVERIFY(StaticFile::resolve(root, "/assets/../../secret.txt").isEmpty());
    QVERIFY(StaticFile::resolve(root, "/assets/missing.js").isEmpty());
    QVERIFY(StaticFile::resolve(root, "/assets/").isEmpty());
    QVERIFY(StaticFile::resolve(root, "/assets/sub").isEmpty());
    QVERIFY(StaticFile::resolve(root, "/assets/pipe.txt").isEmpty());
    QVERIFY(StaticFile::resolve(QString(), "/assets/menu.html").isEmpty());
    QVERIFY(StaticFile::resolve(root + "/nowhere", "/assets/menu.html").isEmpty());
    // A root given with a trailing separator still confines to itself.
    QCOMPARE(StaticFile::resolve(root + "/assets", "/menu.html"), menu);
    QVERIFY(StaticFile::resolve(root + "/assets", "/../assets/menu.html").isEmpty());
}

void TestStaticFile::mediaTypeFollowsTheLowerCasedExtension_data() {
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<QString>("type");
    QTest::newRow("jpe") << "/res/a.jpe"
                         << "image/jpeg";
    QTest::newRow("mixed case") << "/res/a.JpEg"
                                << "image/jpeg";
    QTest::newRow("gz after tar") << "/src/a.tar.gz"
                                  << "application/gzip";
    QTest::newRow("trailing dot") << "/src/a."
                                  << "";
    QTest::newRow("dot in a directory only") << "/src/v1.css/README"
                                             << "";
}

void TestStaticFile::mediaTypeFollowsTheLowerCasedExtension() {
    QFETCH(QString, filePath);
    QTEST(StaticFile::mediaType(filePath), "type");
}

QTEST_APPLESS_MAIN(TestStaticFile)
#include "StaticFileTest.moc"
