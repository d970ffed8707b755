// The small files of the web root, kept in memory once read, so that the dashboard's pages,
// scripts and style sheets cost one look at the file (is it still the one read?) instead of an
// open, the checks of where it lies and a copy. Bounded in file size and in all.
#pragma once

#include "platform/Platform.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <map>

class QFile;

class FileCache {
public:
    // Files up to this size are kept, up to this much in all.
    static constexpr qint64 intMaxFile = 64 * 1024;
    static constexpr qint64 intMaxTotal = 1024 * 1024;
    // A file changed more recently than this is not kept: a change within the file system's
    // time granularity would not show in its times.
    static constexpr qint64 intSettleMs = 2000;

    // The one cache of the server.
    static FileCache &instance();
    explicit FileCache(qint64 intSettle = intSettleMs) : intSettleAfter(intSettle) {}

    // The bytes kept for filePath below webRoot, when the path still names the very file they
    // were read from, unchanged.
    bool find(const QString &webRoot, const QString &filePath, QByteArray &bytes);
    // Reads an open file whole when it is small enough (false, nothing read, when it is not)
    // and keeps it unless it has just changed. The file was opened through StaticFile::open,
    // so it lies inside the web root.
    bool read(const QString &webRoot, const QString &filePath, QFile &file, QByteArray &bytes);

    qint64 keptBytes();
    void clear();

private:
    struct Entry {
        platform::FileIdentity identity;
        QByteArray bytes;
    };
    static QString key(const QString &webRoot, const QString &filePath);

    const qint64 intSettleAfter;
    // Guards kept and intKept.
    QMutex mutex;
    std::map<QString, Entry> kept;
    qint64 intKept = 0;
};
