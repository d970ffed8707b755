#include "FileCache.h"

#include <QFile>
#include <QMutexLocker>

FileCache &FileCache::instance() {
    static FileCache cache;
    return cache;
}

QString FileCache::key(const QString &webRoot, const QString &filePath) {
    // Both parts: one path can be split between root and file in more than one way, and the
    // file was found inside the root it was asked under.
    return webRoot + QChar(0) + filePath;
}

bool FileCache::find(const QString &webRoot, const QString &filePath, QByteArray &bytes) {
    const QString name = key(webRoot, filePath);
    {
        QMutexLocker lock(&mutex);
        if (kept.find(name) == kept.end())
            return false;
    }
    // Looked at outside the lock: the look is the one call to the system on this path.
    platform::FileIdentity now;
    const bool exists = platform::fileIdentity((webRoot + filePath).toStdString(), now);
    QMutexLocker lock(&mutex);
    const auto entry = kept.find(name);
    if (entry == kept.end())
        return false;
    if (exists && entry->second.identity.sameFile(now)) {
        bytes = entry->second.bytes;
        return true;
    }
    intKept -= entry->second.bytes.size();
    kept.erase(entry);
    return false;
}

bool FileCache::read(const QString &webRoot, const QString &filePath, QFile &file,
                     QByteArray &bytes) {
    platform::FileIdentity identity;
    if (!platform::fileIdentityOf(file.handle(), identity) || qint64(identity.size) > intMaxFile)
        return false;
    bytes = file.read(qint64(identity.size));
    // Kept only as read: a file that changed size meanwhile is served as read, not kept.
    if (qint64(identity.size) != bytes.size() || identity.settledMs < intSettleAfter)
        return true;
    QMutexLocker lock(&mutex);
    const QString name = key(webRoot, filePath);
    const auto old = kept.find(name);
    if (old != kept.end()) {
        intKept -= old->second.bytes.size();
        kept.erase(old);
    }
    // Full: what is kept makes room, in no particular order (the web root's files fit).
    while (!kept.empty() && intKept + bytes.size() > intMaxTotal) {
        intKept -= kept.begin()->second.bytes.size();
        kept.erase(kept.begin());
    }
    if (bytes.size() <= intMaxTotal) {
        kept[name] = {identity, bytes};
        intKept += bytes.size();
    }
    return true;
}

qint64 FileCache::keptBytes() {
    QMutexLocker lock(&mutex);
    return intKept;
}

void FileCache::clear() {
    QMutexLocker lock(&mutex);
    kept.clear();
    intKept = 0;
}
