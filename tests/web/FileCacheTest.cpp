// The web root's files kept in memory: served from there only while the path names the very
// file they were read from.
#include "FileCache.h"
#include "StaticFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {
const QString path = QStringLiteral("/assets/a.txt");

bool write(const QString &file, const QByteArray &bytes) {
    QFile out(file);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
}

// Reads the file through the cache as a request does; the bytes read.
QByteArray readThrough(FileCache &cache, const QString &root) {
    QFile file;
    QByteArray bytes;
    if (!StaticFile::open(root, path, file) || !cache.read(root, path, file, bytes))
        return "<not read>";
    return bytes;
}
} // namespace

class TestFileCache : public QObject {
    Q_OBJECT
private slots:
    void init();
    void aKeptFileIsServedOnlyWhileItIsTheSameFile_data();
    void aKeptFileIsServedOnlyWhileItIsTheSameFile();
    void aFileChangedJustNowIsNotKept();

private:
    QTemporaryDir temp;
    QString root;
};

void TestFileCache::init() {
    root = temp.path() + "/content";
    QVERIFY(QDir().mkpath(root + "/assets"));
    QVERIFY(write(root + path, "first"));
}

void TestFileCache::aKeptFileIsServedOnlyWhileItIsTheSameFile_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("kept");
    QTest::newRow("unchanged") << "" << true;
    QTest::newRow("rewritten, same size and modification time") << "rewrite" << false;
    QTest::newRow("replaced by another file") << "replace" << false;
    QTest::newRow("grown") << "grow" << false;
    QTest::newRow("removed") << "remove" << false;
}

void TestFileCache::aKeptFileIsServedOnlyWhileItIsTheSameFile() {
    QFETCH(QString, change);
    QFETCH(bool, kept);
    FileCache cache(0);
    QCOMPARE(readThrough(cache, root), QByteArray("first"));
    const QString file = root + path;
    const QDateTime modified = QFileInfo(file).lastModified();
    // Past the granularity of the file system's times.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (change == "rewrite") {
        QFile out(file);
        QVERIFY(out.open(QIODevice::ReadWrite));
        QCOMPARE(out.write("FIRST"), qint64(5));
        QVERIFY(out.setFileTime(modified, QFileDevice::FileModificationTime));
    } else if (change == "replace") {
        // Made before the old one goes, so it is another file, given the old one's time.
        QFile other(file + ".new");
        QVERIFY(other.open(QIODevice::WriteOnly));
        QCOMPARE(other.write("other"), qint64(5));
        QVERIFY(other.setFileTime(modified, QFileDevice::FileModificationTime));
        other.close();
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::rename(file + ".new", file));
    } else if (change == "grow") {
        QVERIFY(write(file, "first and more"));
    } else if (change == "remove") {
        QVERIFY(QFile::remove(file));
    }
    QByteArray bytes;
    QCOMPARE(cache.find(root, path, bytes), kept);
    if (kept)
        QCOMPARE(bytes, QByteArray("first"));
    else
        QCOMPARE(cache.keptBytes(), 0);
}

void TestFileCache::aFileChangedJustNowIsNotKept() {
    // A change within the file system's time granularity would not show in its times.
    FileCache cache;
    QCOMPARE(readThrough(cache, root), QByteArray("first"));
    QByteArray bytes;
    QVERIFY(!cache.find(root, path, bytes));
}

QTEST_GUILESS_MAIN(TestFileCache)
#include "FileCacheTest.moc"
