// The history kept across restarts: one file, history.dat in the state folder, written at most
// once a minute by the sampling thread and once more at an orderly end, and read back at start.
//
// A write goes to a new file that replaces the old one only once it is whole on disk, so a
// crash or a power cut mid-write leaves the older history as it was. A file that is damaged,
// of another format, from another machine or from the future is set aside (history.dat.bad)
// with a message, never trusted. Its size is bounded by the history's rings: about 0.7 MiB for
// 8 processors, 4 adapters and 4 disks.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <functional>

class History;

class HistoryFile {
public:
    using Clock = std::function<qint64()>; // milliseconds of a steady clock
    static constexpr qint64 saveEveryMs = 60000;
    static constexpr quint32 formatVersion = 1;

    // The file of the process's one history.
    static HistoryFile &instance();

    explicit HistoryFile(History &history);
    HistoryFile(const HistoryFile &) = delete;
    HistoryFile &operator=(const HistoryFile &) = delete;

    // Keeps the file in `folder`, made when missing; "" keeps none. Set before restore().
    void setFolder(const QString &folder);
    QString filePath() const;
    // A steady clock by default; tests set their own.
    void setClock(Clock clock);

    // Reads the file back into the history. The message says what was set aside and why ("" when
    // the file was taken, or when there is none).
    QString restore();
    // Writes the history now, whole or not at all; "" when it was written, else the cause.
    QString save();
    // After each sampling pass: saves when saveEveryMs have passed since the last save (or since
    // the start). A failed save is said once, until a save succeeds again.
    void saveIfDue();

    // The file's bytes for a state of the history, written on this machine unless another is
    // named, and the state read back from such bytes ("" in `why` when taken).
    static QByteArray encode(const QByteArray &state, const QByteArray &writtenOn = {});
    static QByteArray decode(const QByteArray &file, QString &why);

private:
    History &history;
    // Guards everything below: the sampling thread saves, the end saves once more, start-up
    // restores.
    mutable QMutex mutex;
    QString folder;
    Clock clock;
    qint64 lastSave = 0;
    bool failing = false;
};
