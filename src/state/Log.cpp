#include "Log.h"

#include <QMutex>
#include <QMutexLocker>
#include <cstdio>

namespace {
// Guards standard error, so that two threads' lines never interleave.
QMutex lineMutex;
} // namespace

void Log::say(const QString &text) {
    const QByteArray line = "tarnivo: " + text.toUtf8() + '\n';
    QMutexLocker lock(&lineMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
