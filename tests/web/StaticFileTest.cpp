// Which request paths name a file of the web root, and how that file is described.
#include "StaticFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

class TestStaticFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyRegularFilesInsideTheRootOpen();
    void shellShortcutsAreNeverServed();
    void symbolicLinksAreFollowedOnlyWithinTheRoot();
    void deviceNamesAndFinalDotsNeverReachTheFileSystem_data();
    void deviceNamesAndFinalDotsNeverReachTheFileSystem();
    void aFileThatGrowsAfterOpeningIsReadToItsNewSize();
    void mediaTypeFollowsTheLowerCasedExtension_data();
    void mediaTypeFollowsTheLowerCasedExtension();

private:
    static void writeFile(const QString &path, const QByteArray &bytes);
    // The bytes that StaticFile::open delivers, or "(refused)".
    QByteArray served(const QString &webRoot, const QString &filePath);
    QTemporaryDir temp;
    QString root;
};

void TestStaticFile::writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray TestStaticFile::served(const QString &webRoot, const QString &filePath) {
    StaticFile::Opened file;
    if (!StaticFile::open(webRoot, filePath, file))
        return file.descriptor >= 0 ? "(refused, but left open)" : "(refused)";
    QByteArray bytes = file.start;
    char buffer[64];
    for (qint64 got; (got = file.read(buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, got);
    return bytes;
}

void TestStaticFile::initTestCase() {
    QVERIFY(temp.isValid());
    root = temp.path() + "/content";
    QVERIFY(QDir().mkpath(root + "/assets/sub"));
    writeFile(root + "/assets/menu.html", "<html>");
    writeFile(root + "/assets/sub/x.js", "x");
    writeFile(temp.path() + "/secret.txt", "secret");
#ifndef Q_OS_WIN
    QCOMPARE(mkfifo(QFile::encodeName(root + "/assets/pipe.txt").constData(), 0600), 0);
#endif
}

void TestStaticFile::onlyRegularFilesInsideTheRootOpen() {
    QCOMPARE(served(root, "/assets/menu.html"), QByteArray("<html>"));
    QCOMPARE(served(root, "/assets/sub/x.js"), QByteArray("x"));
    QCOMPARE(served(root, "/assets/../../secret.txt"), QByteArray("(refused)"));
    QCOMPARE(served(root, "/assets/missing.js"), QByteArray("(refused)"));
    QCOMPARE(served(root, "/assets/"), QByteArray("(refused)"));
    QCOMPARE(served(root, "/assets/sub"), QByteArray("(refused)"));
    QCOMPARE(served(QString(), "/assets/menu.html"), QByteArray("(refused)"));
    QCOMPARE(served(root + "/nowhere", "/assets/menu.html"), QByteArray("(refused)"));
    // A root given with a trailing separator still confines to itself.
    QCOMPARE(served(root + "/assets", "/menu.html"), QByteArray("<html>"));
    QCOMPARE(served(root + "/assets", "/../assets/menu.html"), QByteArray("(refused)"));
#ifdef Q_OS_WIN
    // The root as Windows programs name it: a drive letter, backslashes mixed with slashes.
    const QString nativeRoot = QDir::toNativeSeparators(QFileInfo(root).absoluteFilePath());
    QCOMPARE(served(nativeRoot, "/assets/menu.html"), QByteArray("<html>"));
    QCOMPARE(served(nativeRoot.toLower(), "/assets/menu.html"), QByteArray("<html>"));
#else
    // A FIFO would block the worker in open(); it is no file to serve.
    QCOMPARE(served(root, "/assets/pipe.txt"), QByteArray("(refused)"));
#endif
}

void TestStaticFile::shellShortcutsAreNeverServed() {
    // On Windows QFile::link makes a shortcut file; elsewhere its bytes are written by hand.
    const QString shortcut = root + "/assets/outside.txt.lnk";
#ifdef Q_OS_WIN
    QVERIFY(QFile::link(temp.path() + "/secret.txt", shortcut));
#else
    writeFile(shortcut, QByteArray::fromHex("4c0000000114020000000000c000000000000046") +
                            QByteArray(56, '\0'));
#endif
    QCOMPARE(served(root, "/assets/outside.txt.lnk"), QByteArray("(refused)"));
    // The same header under an ordinary name, and a file that merely starts like it.
    QVERIFY(QFile::copy(shortcut, root + "/assets/outside.txt"));
    QCOMPARE(served(root, "/assets/outside.txt"), QByteArray("(refused)"));
    writeFile(root + "/assets/short.bin", "L");
    QCOMPARE(served(root, "/assets/short.bin"), QByteArray("L"));
}

void TestStaticFile::symbolicLinksAreFollowedOnlyWithinTheRoot() {
    namespace fs = std::filesystem;
    const fs::path assets = fs::path(root.toStdWString()) / L"assets";
    const fs::path base = fs::path(temp.path().toStdWString());
    std::error_code error;
    fs::create_symlink(base / L"secret.txt", assets / L"out.txt", error);
    if (error)
        QSKIP(qPrintable("this system makes no symbolic links here: " +
                         QString::fromStdString(error.message())));
    fs::create_symlink(assets / L"menu.html", assets / L"in.html", error);
    QVERIFY(!error);
    fs::create_directory_symlink(base, assets / L"up", error);
    QVERIFY(!error);
    QCOMPARE(served(root, "/assets/out.txt"), QByteArray("(refused)"));
    QCOMPARE(served(root, "/assets/up/secret.txt"), QByteArray("(refused)"));
    QCOMPARE(served(root, "/assets/in.html"), QByteArray("<html>"));
}

void TestStaticFile::deviceNamesAndFinalDotsNeverReachTheFileSystem_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("served");
    for (const char *device : {"CON", "prn.txt", "Aux.", "nul.tar.gz", "COM0", "com9.js", "LPT1",
                               "conin$", "CONOUT$.css", "NUL .js", "COM1 "})
        QTest::newRow(device) << QString(device) << false;
    QTest::newRow("superscript port") << QString::fromUtf8("COM\u00b9.js") << false;
    QTest::newRow("superscript printer") << QString::fromUtf8("lpt\u00b3") << false;
    QTest::newRow("final dot") << "menu.html." << false;
    QTest::newRow("final blank") << "menu.html " << false;
    QTest::newRow("device as a directory") << "aux/x.js" << false;
    for (const char *plain :
         {"console.js", "com10.js", "lpt.txt", "nul_x.js", "conin.txt", ".hidden", "a.b.c"})
        QTest::newRow(plain) << QString(plain) << true;
}

void TestStaticFile::deviceNamesAndFinalDotsNeverReachTheFileSystem() {
    QFETCH(QString, name);
    QFETCH(bool, served);
    const QString path = "/assets/names/" + name;
#ifndef Q_OS_WIN
    // Where such names are ordinary files, they exist, so only the check keeps them out.
    QVERIFY(QDir().mkpath(QFileInfo(root + path).path()));
    writeFile(root + path, "file");
#endif
    QCOMPARE(StaticFile::isSafeFilePath(path), served);
    if (!served)
        QCOMPARE(this->served(root, path), QByteArray("(refused)"));
}

void TestStaticFile::aFileThatGrowsAfterOpeningIsReadToItsNewSize() {
    // The open reads the start and takes the size; reading goes on from the start's end, also
    // past the size the open found (the server itself stops at that size).
    const QString path = root + "/assets/growing.txt";
    writeFile(path, QByteArray(100, 'a'));
    StaticFile::Opened file;
    QVERIFY(StaticFile::open(root, "/assets/growing.txt", file, 40));
    QCOMPARE(file.size, qint64(100));
    QCOMPARE(file.start, QByteArray(40, 'a'));
    QFile writer(path);
    QVERIFY(writer.open(QIODevice::Append));
    QCOMPARE(writer.write(QByteArray(100, 'b')), qint64(100));
    writer.close();
    QByteArray rest(200, '\0');
    qint64 got = 0;
    for (qint64 read; (read = file.read(rest.data() + got, rest.size() - got)) > 0;)
        got += read;
    QCOMPARE(rest.left(got), QByteArray(60, 'a') + QByteArray(100, 'b'));
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
