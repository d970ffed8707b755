#include "HistoryFile.h"

#include "History.h"
#include "Log.h"
#include "TarnivoVersion.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>
#include <QSysInfo>

namespace {
const char magic[] = "Tarnivo history\n"; // 16 bytes
constexpr int magicSize = 16;
constexpr int hashSize = 16; // MD5: against damage on the disk, not against forgery, and fast
// Far more than the rings of a machine with a thousand devices hold.
constexpr qint64 largestFile = 64 * 1024 * 1024;

// This machine as its system names it, so that a state folder copied from another machine (a
// cloned disk, a restored backup) is not read as this one's past.
QByteArray machine() {
    const QByteArray id = QSysInfo::machineUniqueId();
    return id.isEmpty() ? QSysInfo::machineHostName().toUtf8() : id;
}

// Passes what is written to it on to a file, and into the checksum of what was written.
class Checksummed : public QIODevice {
public:
    explicit Checksummed(QIODevice &file) : file(file), hash(QCryptographicHash::Md5) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    QByteArray result() const { return hash.result(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override {
        const qint64 written = file.write(data, size);
        if (written > 0)
            hash.addData(QByteArrayView(data, written));
        return written;
    }

private:
    QIODevice &file;
    QCryptographicHash hash;
};

// Writes the file's bytes: the mark, the format, the version, the machine it was written on, the
// state as a QByteArray, then the checksum of all that. The state goes straight from its rings to
// the file, so a save makes no copy of it in memory.
bool write(QIODevice &file, const QByteArray &writtenOn,
           const std::function<void(QDataStream &)> &writeState) {
    Checksummed checksummed(file);
    QDataStream out(&checksummed);
    out.setVersion(QDataStream::Qt_6_0);
    out.writeRawData(magic, magicSize);
    out << HistoryFile::formatVersion << QByteArray(TARNIVO_VERSION) << writtenOn;
    writeState(out);
    return out.status() == QDataStream::Ok && file.write(checksummed.result()) == hashSize;
}
} // namespace

HistoryFile &HistoryFile::instance() {
    // Never destroyed: the sampling thread may still save while the process exits.
    static HistoryFile *const file = new HistoryFile(History::instance());
    return *file;
}

HistoryFile::HistoryFile(History &history) : history(history) {
    QElapsedTimer started;
    started.start();
    clock = [started] { return started.elapsed(); };
}

void HistoryFile::setFolder(const QString &path) {
    QMutexLocker lock(&mutex);
    folder = path;
    lastSave = clock();
}

QString HistoryFile::filePath() const {
    QMutexLocker lock(&mutex);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/history.dat");
}

void HistoryFile::setClock(Clock newClock) {
    QMutexLocker lock(&mutex);
    clock = std::move(newClock);
    lastSave = clock();
}

QByteArray HistoryFile::encode(const QByteArray &state, const QByteArray &writtenOn) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    write(buffer, writtenOn.isEmpty() ? machine() : writtenOn,
          [&state](QDataStream &out) { out << state; });
    return bytes;
}

QByteArray HistoryFile::decode(const QByteArray &file, QString &why) {
    why.clear();
    if (file.size() < magicSize + hashSize || !file.startsWith(QByteArray(magic, magicSize))) {
        why = QStringLiteral("not a Tarnivo history file");
        return {};
    }
    const QByteArray body = file.left(file.size() - hashSize);
    if (QCryptographicHash::hash(body, QCryptographicHash::Md5) != file.right(hashSize)) {
        why = QStringLiteral("damaged (its checksum does not match)");
        return {};
    }
    QDataStream in(body);
    in.setVersion(QDataStream::Qt_6_0);
    in.skipRawData(magicSize);
    quint32 format = 0;
    QByteArray version, writtenOn, state;
    in >> format;
    if (format != formatVersion) {
        why = QStringLiteral("of format %1, where this version reads %2")
                  .arg(format)
                  .arg(formatVersion);
        return {};
    }
    in >> version >> writtenOn >> state;
    if (in.status() != QDataStream::Ok || !in.atEnd()) {
        why = QStringLiteral("damaged (its contents end early)");
        return {};
    }
    if (writtenOn != machine()) {
        why = QStringLiteral("written on another machine");
        return {};
    }
    return state;
}

QString HistoryFile::restore() {
    const QString path = filePath();
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.exists())
        return {};
    QString why;
    QByteArray state;
    if (file.size() > largestFile)
        why = QStringLiteral("larger than any history");
    else if (!file.open(QIODevice::ReadOnly))
        why = QStringLiteral("not readable: %1").arg(file.errorString());
    else
        state = decode(file.readAll(), why);
    file.close();
    if (why.isEmpty() && !history.restore(state))
        why = QStringLiteral("damaged (its rows are out of order or later than now)");
    if (why.isEmpty())
        return {};
    const QString aside = path + QStringLiteral(".bad");
    QFile::remove(aside);
    const bool moved = QFile::rename(path, aside);
    return QStringLiteral("the history in %1 is %2; %3")
        .arg(QDir::toNativeSeparators(path), why,
             moved ? QStringLiteral("set aside as %1").arg(QDir::toNativeSeparators(aside))
                   : QStringLiteral("left where it is and not read"));
}

QString HistoryFile::save() {
    QMutexLocker lock(&mutex);
    lastSave = clock();
    if (folder.isEmpty())
        return {};
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the state folder %1")
            .arg(QDir::toNativeSeparators(folder));
    // Written to a new file beside the old one, which it replaces only once it is whole on disk.
    QSaveFile file(folder + QStringLiteral("/history.dat"));
    if (!file.open(QIODevice::WriteOnly) ||
        !write(file, machine(), [this](QDataStream &out) { history.writeState(out); }) ||
        !file.commit())
        return QStringLiteral("cannot write %1: %2")
            .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
    return {};
}

void HistoryFile::saveIfDue() {
    {
        QMutexLocker lock(&mutex);
        if (folder.isEmpty() || clock() - lastSave < saveEveryMs)
            return;
    }
    const QString cause = save();
    QMutexLocker lock(&mutex);
    if (!cause.isEmpty() && !failing)
        Log::say(QStringLiteral("the history is not kept: %1").arg(cause));
    failing = !cause.isEmpty();
}
