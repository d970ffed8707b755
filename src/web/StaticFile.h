// The files of the web root: which request paths may name one, what they are called on disk,
// and the headers that describe them.
#pragma once

#include <QByteArray>
#include <QString>

class StaticFile {
public:
    // False for a decoded file path that could leave the web root or break a header: a ".."
    // segment, a backslash (a separator on Windows), a control character such as NUL, CR or LF,
    // or a double quote (it ends the quoted file name of "Content-Disposition"); on Windows
    // also a colon (drive letters, alternate data streams).
    // Also false when a segment is no plain file name on Windows (see below), on every system,
    // so that what one system refuses the other does too.
    static bool isSafeFilePath(const QString &filePath);

    // False for a path segment that Windows does not take as the name of a file: one ending in
    // a dot or a blank, or a reserved device name (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to
    // LPT9, CONIN$, CONOUT$, and COM and LPT with a superscript 1, 2 or 3) before its first dot,
    // in any case.
    static bool isPlainFileName(const QString &segment);

    // A file of the web root, open for sending; closed with the object. The open reads its
    // start; read() goes on from there.
    struct Opened {
        int descriptor = -1;
        // The size as the open found it: what is announced and sent, should the file grow.
        qint64 size = 0;
        // Its first bytes: the whole of a small file.
        QByteArray start;

        Opened() = default;
        ~Opened();
        Opened(const Opened &) = delete;
        Opened &operator=(const Opened &) = delete;
        // Up to size bytes after what was read before; 0 at the end, -1 on failure.
        qint64 read(char *buffer, qint64 size);
    };

    // Opens, into file, the regular file that filePath names below webRoot, and reads its first
    // startBytes. False, and file left closed, when the path is unsafe, names nothing or
    // anything but a regular file, is a shell shortcut, or the file actually opened lies outside
    // the web root once every symbolic link and junction is followed (the check is made on the
    // open file, not on its name).
    static bool open(const QString &webRoot, const QString &filePath, Opened &file,
                     qint64 startBytes = 16 * 1024);

    // The media type for the extension after the last "." (case-insensitive); empty when the
    // extension is not one the dashboard uses, and then no "Content-Type" is sent at all.
    static QString mediaType(const QString &filePath);

    // "inline; filename=" and the quoted name "content" followed by the request's file path,
    // the same on every system.
    static QString disposition(const QString &filePath);
};
