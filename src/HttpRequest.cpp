#include "HttpRequest.h"

#include <QStringList>
#include <QUrl>

QString HttpRequest::decodeChunk(const QByteArray &chunk) {
    const qsizetype nul = chunk.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? chunk : chunk.left(nul));
}

bool HttpRequest::headComplete(const QString &requestText) {
    return requestText.contains(QLatin1String("\r\n\r\n"));
}

namespace {

// Every escape decoded, the query kept after its "?": a request for
// /menu.xml?strRequest=requestInit%3ArequestRead must reach the status document with its colon.
// QUrl's own toString() keeps delimiters such as %3A encoded, so the parts are decoded one by
// one. A target with a scheme or a host keeps QUrl's text; it never begins like a route.
void decodeTarget(const QString &target, QString &path, QString &filePath) {
    const QUrl url = QUrl::fromEncoded(target.toUtf8(), QUrl::TolerantMode);
    if (!url.scheme().isEmpty() || target.startsWith(QLatin1String("//"))) {
        path = url.toString();
        filePath.clear();
        return;
    }
    filePath = url.path(QUrl::FullyDecoded);
    path = filePath;
    if (url.hasQuery())
        path += QLatin1Char('?') + url.query(QUrl::FullyDecoded);
    if (url.hasFragment())
        path += QLatin1Char('#') + url.fragment(QUrl::FullyDecoded);
}

} // namespace

HttpRequest HttpRequest::parse(const QString &requestText) {
    HttpRequest request;
    const QStringList parts = requestText.split(QLatin1String("\r\n\r\n"), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return request;
    request.strHead = parts.at(0);
    request.strBody = parts.at(1);
    request.intBodyBytes = request.strBody.toUtf8().size();

    const QStringList lines = request.strHead.split(QLatin1String("\r\n"), Qt::KeepEmptyParts);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == 0) {
            const QStringList words = lines.at(0).split(QLatin1Char(' '), Qt::KeepEmptyParts);
            if (words.size() != 3)
                continue;
            QString type = words.at(0);
            type.replace(QLatin1String("GET"), QLatin1String("typeGet"));
            type.replace(QLatin1String("POST"), QLatin1String("typePost"));
            request.strType = type;
            decodeTarget(words.at(1), request.strPath, request.strFilePath);
            continue;
        }
        const QStringList header = lines.at(i).split(QLatin1String(": "), Qt::KeepEmptyParts);
        if (header.size() == 2)
            request.headers.insert(header.at(0), header.at(1));
    }
    return request;
}

HttpRequest HttpRequest::fromBytes(const QByteArray &received) {
    HttpRequest request = parse(decodeChunk(received));
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    request.intBodyBytes = headEnd < 0 ? 0 : received.size() - (headEnd + 4);
    return request;
}

qint64 HttpRequest::announcedLength() const {
    const auto length = headers.constFind(QStringLiteral("Content-Length"));
    if (length == headers.constEnd())
        return 0;
    bool ok = false;
    const qint64 announced = length->toLongLong(&ok, 10);
    return ok ? qMax<qint64>(0, announced) : 0;
}

qint64 HttpRequest::bodyRemaining() const {
    return qMax<qint64>(0, announcedLength() - intBodyBytes);
}
