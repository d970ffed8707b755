#include "Log.h"

#include "platform/Process.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <cstdio>

namespace {
// Guards standard error and the fields below, so that two threads' lines never interleave.
QMutex lineMutex;
QString filePath;
qint64 fileLimit = 0;
bool systemLog = false;

// Appends one line to the file, renaming a full one first.
void append(const QByteArray &line) {
    QFile file(filePath);
    if (file.size() > 0 && file.size() + line.size() > fileLimit) {
        const QString older = filePath + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(filePath, older);
    }
    if (file.open(QIODevice::Append))
        file.write(line);
}
} // namespace

void Log::say(const QString &text, bool error) {
    const QByteArray line = "tarnivo: " + text.toUtf8() + '\n';
    QMutexLocker lock(&lineMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    if (!filePath.isEmpty())
        append(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + line);
    if (systemLog)
        platform::writeSystemLog(text.toStdString(), error);
}

void Log::keepIn(const QString &path, qint64 maxBytes) {
    QMutexLocker lock(&lineMutex);
    filePath = path;
    fileLimit = maxBytes;
}

void Log::toSystemLog() {
    QMutexLocker lock(&lineMutex);
    systemLog = true;
}
