#include "SharedState.h"

#include <QMutex>
#include <QMutexLocker>

std::atomic<quint32> intPort{0};
std::atomic<quint32> intListeningPort{0};

namespace {
QMutex contentPathMutex; // guards strContentPath
QString strContentPath;
} // namespace

QString contentPath() {
    QMutexLocker lock(&contentPathMutex);
    return strContentPath;
}

void setContentPath(const QString &path) {
    QMutexLocker lock(&contentPathMutex);
    strContentPath = path;
}
