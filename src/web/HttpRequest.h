// One HTTP request as the server understands it: the received text in, method, target and
// headers out. No socket here, so that parsing can be tested and fuzzed on its own.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class HttpRequest {
public:
    // One received chunk as request text: UTF-8 up to its first NUL byte. Chunks are decoded
    // one by one, as they arrive.
    static QString decodeChunk(const QByteArray &chunk);

    // True once the request text holds the blank line that ends the head.
    static bool headComplete(const QString &requestText);

    // Splits the request text into head and body and parses the head. A text that does not
    // split into exactly one head and one body, or a request line without exactly three
    // space-separated parts, leaves the type and the path empty.
    static HttpRequest parse(const QString &requestText);

    // The same for the bytes of a request received in any number of pieces, decoded as one
    // (up to the first NUL), so that a character cut between two pieces reads as if it had
    // come whole. The body is counted in bytes as received, NUL bytes included.
    static HttpRequest fromBytes(const QByteArray &received);

    // The body length the client announced ("Content-Length", exactly so spelled); 0 when
    // none or not a number.
    qint64 announcedLength() const;
    // How many more body bytes were announced than have been received; 0 when none.
    qint64 bodyRemaining() const;

    QString strHead;
    QString strBody;
    // The body received so far in bytes: what "Content-Length" counts.
    qint64 intBodyBytes = 0;
    // The method word, "GET" and "POST" rewritten to "typeGet" and "typePost".
    QString strType;
    // The decoded target, query included: what routing compares and the status document reads.
    QString strPath;
    // The decoded path alone, without query or fragment: what names a file. Empty when the
    // target names a scheme or a host, which no file route accepts.
    QString strFilePath;
    // Names as received (case-sensitive), values untrimmed; a repeated name keeps the last.
    QMap<QString, QString> headers;
};
