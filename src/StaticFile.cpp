#include "StaticFile.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

namespace {

// The canonical form of the web root, with a final "/", empty when it does not exist. The web
// root changes only at Start, so its resolution (a system call per path component) is kept
// for as long as the same root is asked for. Asked from every connection thread: guarded by
// its mutex.
QString canonicalRoot(const QString &webRoot) {
    static QMutex mutex;
    static QString cachedRoot;
    static QString cachedCanonical;
    QMutexLocker lock(&mutex);
    if (webRoot != cachedRoot || cachedCanonical.isEmpty()) {
        QString canonical = QFileInfo(webRoot).canonicalFilePath();
        if (!canonical.isEmpty() && !canonical.endsWith(QLatin1Char('/')))
            canonical += QLatin1Char('/');
        cachedRoot = webRoot;
        cachedCanonical = canonical;
    }
    return cachedCanonical;
}

} // namespace

bool StaticFile::isSafeFilePath(const QString &filePath) {
    if (!filePath.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : filePath) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char('\\') ||
            c == QLatin1Char('"'))
            return false;
#ifdef _WIN32
        if (c == QLatin1Char(':'))
            return false;
#endif
    }
    const QStringList segments = filePath.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    return !segments.contains(QStringLiteral(".."));
}

QString StaticFile::resolve(const QString &webRoot, const QString &filePath) {
    if (webRoot.isEmpty() || !isSafeFilePath(filePath))
        return {};
    const QString root = canonicalRoot(webRoot);
    if (root.isEmpty())
        return {};
    const QFileInfo file(webRoot + filePath);
    const QString canonical = file.canonicalFilePath();
#ifdef _WIN32
    const Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif
    if (canonical.isEmpty() || !canonical.startsWith(root, fileNameCase))
        return {};
    // A directory, a FIFO (whose open would block the worker) or a device is no file to serve.
    // (isFile() follows links, so it speaks of the canonical file.)
    if (!file.isFile())
        return {};
    return canonical;
}

QString StaticFile::mediaType(const QString &filePath) {
    struct MediaType {
        const char *extension;
        const char *type;
    };
    static const MediaType table[] = {
        {"bmp", "image/bmp"},       {"gif", "image/gif"},       {"jpe", "image/jpeg"},
        {"jpeg", "image/jpeg"},     {"jpg", "image/jpeg"},      {"png", "image/png"},
        {"css", "text/css"},        {"htm", "text/html"},       {"html", "text/html"},
        {"js", "text/javascript"},  {"xml", "application/xml"}, {"txt", "text/plain"},
        {"mid", "audio/midi"},      {"wav", "audio/x-wav"},     {"avi", "video/x-msvideo"},
        {"gz", "application/gzip"}, {"zip", "application/zip"},
    };
    const QString extension = filePath.split(QLatin1Char('.'), Qt::KeepEmptyParts).last().toLower();
    for (const MediaType &entry : table) {
        if (extension == QLatin1String(entry.extension))
            return QString::fromLatin1(entry.type);
    }
    return {};
}

QString StaticFile::disposition(const QString &filePath) {
    return QStringLiteral("inline; filename=\"content") + filePath + QStringLiteral("\";");
}
