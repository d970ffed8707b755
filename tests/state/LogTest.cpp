// The service's log file: each line kept with its time, and the file bounded by renaming it.
#include "Log.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class LogTest : public QObject {
    Q_OBJECT

private slots:
    void theFileIsRenamedBeforeItOutgrowsItsBound() {
        QTemporaryDir folder;
        const QString path = folder.filePath("tarnivo.log");
        const qint64 bound = 300;
        Log::keepIn(path, bound);
        for (int i = 0; i < 20; ++i)
            Log::say(QStringLiteral("line %1 of twenty").arg(i, 2));
        QFile file(path), older(path + ".1");
        QVERIFY(file.open(QIODevice::ReadOnly) && older.open(QIODevice::ReadOnly));
        const QByteArray kept = file.readAll(), before = older.readAll();
        QVERIFY2(kept.size() <= bound && before.size() <= bound, kept + before);
        QVERIFY(kept.endsWith("tarnivo: line 19 of twenty\n"));
        // The lines go on from one file to the other, none lost at the rename.
        const QByteArray last = before.split('\n').value(before.count('\n') - 1);
        const int number = last.mid(last.indexOf("line ") + 5, 2).trimmed().toInt();
        QVERIFY(kept.split('\n').first().contains(
            QStringLiteral("line %1 of").arg(number + 1, 2).toUtf8()));
    }
};

QTEST_GUILESS_MAIN(LogTest)
#include "LogTest.moc"
