// What an administrator sets for a machine: one INI file (QSettings' IniFormat) read at start,
// %ProgramData%\Tarnivo\tarnivo.ini on Windows and /etc/tarnivo/tarnivo.ini elsewhere, or the
// file --config names. The service reads it as the window does, whichever account it runs as.
//
// Every key the program knows is listed once, in MachineSettings.cpp, with the check its value
// must pass and its default. An unknown key or a value that fails its check is reported by name
// and keeps its default. The user's own settings (QSettings "Tarnivo") still answer for a key
// the file does not set, so a lookup gives: the file, then the user's settings, then the
// default. The command line, which wins over all three, is the caller's to apply.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class MachineSettings {
public:
    // Checks a value as it was read (a text, or a list of texts where the INI line held
    // commas) and gives it in the key's own type; an invalid QVariant when it is refused.
    using Check = QVariant (*)(const QVariant &value);

    struct Key {
        const char *name;
        Check check;
        const char *fallback; // the default, as the file would write it ("" for none)
        const char *what;     // what the value must be, for the message that refuses one
        // What a refused value gives instead of the default, as the file would write it, for
        // a key whose default would open what the value was meant to close (an address list,
        // the users); nullptr: the default.
        const char *refused = nullptr;
    };

    // Every key of the machine-wide file, in the order the README lists them.
    static const std::vector<Key> &keys();

    // Where the file lies when --config names none.
    static QString defaultPath();

    // Reads the file at `path` in place of what was read before, and returns one message per
    // key it refused (unknown, or a value that fails its check) or why the file as a whole was
    // not read. A missing file is no fault unless `named` (given on the command line).
    static QStringList load(const QString &path, bool named);

    // The key's value: from the file, else the user's settings, else the default; in the
    // key's own type (a port as uint, a list as QStringList, a switch as bool). An unknown key
    // is a programming error and gives an invalid QVariant.
    static QVariant value(const QString &key);

    // The file read last ("" before load()).
    static QString path();

    // From now on value() skips the user's own settings: for the service, whose user is
    // LocalSystem (its registry is no administrator's), and for the service's installation.
    static void ignoreUserSettings();

    // For the service's installation: copies `prepared` to `path` when no file is there yet;
    // an upgrade or a repair keeps the file it finds. "" when it was copied or kept (`copied`
    // tells which), else the cause.
    static QString adopt(const QString &prepared, const QString &path, bool &copied);

    // Sets one key in the file at `path` (made, with its folder, when missing), the other keys
    // as they are; "" on success, else the cause.
    static QString store(const QString &path, const QString &key, const QVariant &value);

private:
    static const Key *find(const QString &name);
    // Guards values, loadedPath and userSettingsIgnored: written by load() at start (and by tests),
    // read by connection threads at any time.
    static QMutex mutex;
    static QVariantMap values; // the file's accepted values, in their own types
    static QString loadedPath;
    static bool userSettingsIgnored;
};
