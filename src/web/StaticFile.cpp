#include "StaticFile.h"

#include "platform/Platform.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

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
    for (const QString &segment : segments) {
        if (segment == QLatin1String("..") || !isPlainFileName(segment))
            return false;
    }
    return true;
}

bool StaticFile::isPlainFileName(const QString &segment) {
    // Windows drops a final dot or blank from a name, so "menu.html." would open "menu.html"
    // without its media type.
    if (segment.endsWith(QLatin1Char('.')) || segment.endsWith(QLatin1Char(' ')))
        return false;
    // A reserved device name opens the device in any directory and with any extension: a serial
    // port (toggling the lines of what is attached to it), a printer port, the console. Windows
    // also ignores blanks and a colon after the name.
    static const QStringList devices = [] {
        QStringList names{QStringLiteral("CON"),    QStringLiteral("PRN"),
                          QStringLiteral("AUX"),    QStringLiteral("NUL"),
                          QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
        for (const char *port : {"COM", "LPT"}) {
            for (const QChar digit : QStringLiteral("0123456789\u00b9\u00b2\u00b3"))
                names << QLatin1String(port) + digit;
        }
        return names;
    }();
    QString name = segment.section(QLatin1Char('.'), 0, 0);
    while (name.endsWith(QLatin1Char(' ')) || name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return !devices.contains(name, Qt::CaseInsensitive);
}

namespace {
// Where the system says a path lies, with "/" between names.
QString finalPath(const std::string &path) {
    return QDir::fromNativeSeparators(QString::fromStdString(path));
}

// Where the web root really lies, ending in "/"; empty when it is no folder. Asked of the system
// again at most once a second: asking at every request cost a look-up of each folder on its way,
// three of the twenty-odd system calls of serving a small file. A root moved elsewhere meanwhile
// only refuses files for that second, as they lie outside the root it had.
QString rootFinalPath(const QString &webRoot) {
    constexpr int keptFor = 1000;
    // Never destroyed: a connection thread may still ask while the process exits.
    struct Kept {
        QMutex mutex; // guards the rest: connection threads ask at once
        QString root, path;
        QDeadlineTimer until;
    };
    static Kept *const kept = new Kept;
    QMutexLocker lock(&kept->mutex);
    if (webRoot == kept->root && !kept->until.hasExpired())
        return kept->path;
    lock.unlock();
    QString root = finalPath(platform::finalPathOfDirectory(webRoot.toStdString()));
    if (root.isEmpty())
        return root;
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    lock.relock();
    kept->root = webRoot;
    kept->path = root;
    kept->until.setRemainingTime(keptFor);
    return root;
}

// A Windows shell shortcut (.lnk) is a link only to the Explorer: the file system serves its
// bytes, which name a place outside the web root and mean nothing to a browser. It is refused
// by its header, whatever its name.
bool isShellLink(const QByteArray &start) {
    static const char header[] = "\x4c\0\0\0\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0\x46";
    return start.startsWith(QByteArray::fromRawData(header, sizeof header - 1));
}
} // namespace

StaticFile::Opened::~Opened() {
    if (descriptor >= 0)
        platform::closeFile(descriptor);
}

qint64 StaticFile::Opened::read(char *buffer, qint64 bytes) {
    return descriptor < 0 ? -1 : platform::readFile(descriptor, buffer, bytes);
}

bool StaticFile::open(const QString &webRoot, const QString &filePath, Opened &file,
                      qint64 startBytes) {
    if (webRoot.isEmpty() || !isSafeFilePath(filePath))
        return false;
    const QString root = rootFinalPath(webRoot);
    if (root.isEmpty())
        return false;
    Opened opened;
    int64_t size = 0;
    opened.descriptor = platform::openRegularFile((webRoot + filePath).toStdString(), &size);
    if (opened.descriptor < 0)
        return false;
    opened.size = size;
#ifdef _WIN32
    // Drive letters and file names compare without case, as the file system does.
    const Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif
    const QString where = finalPath(platform::finalPathOfFile(opened.descriptor));
    if (where.isEmpty() || !where.startsWith(root, fileNameCase))
        return false;
    // The start is read as far as the size the open found, never on to the end: some C
    // runtimes (Wine's) report the end on every read after reaching it once.
    opened.start.resize(qMin(size, startBytes));
    qint64 got = 0;
    while (got < opened.start.size()) {
        const qint64 read = opened.read(opened.start.data() + got, opened.start.size() - got);
        if (read <= 0)
            break;
        got += read;
    }
    opened.start.truncate(got);
    if (isShellLink(opened.start))
        return false;
    std::swap(file.descriptor, opened.descriptor);
    file.size = size;
    file.start = std::move(opened.start);
    return true;
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
