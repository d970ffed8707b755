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

namespace {

// The parts of text split at every separator, keeping empty parts, when there are exactly
// `count` of them; false otherwise. Views into text: nothing is copied.
template <typename Separator>
bool splitExactly(QStringView text, Separator separator, qsizetype separatorLength,
                  QStringView *parts, int count) {
    qsizetype from = 0;
    for (int i = 0; i < count - 1; ++i) {
        const qsizetype at = text.indexOf(separator, from);
        if (at < 0)
            return false;
        parts[i] = text.mid(from, at - from);
        from = at + separatorLength;
    }
    parts[count - 1] = text.mid(from);
    return text.indexOf(separator, from) < 0;
}

} // namespace

HttpRequest HttpRequest::parse(const QString &requestText) {
    HttpRequest request;
    QStringView headAndBody[2];
    if (!splitExactly(QStringView(requestText), QLatin1String("\r\n\r\n"), 4, headAndBody, 2))
        return request;
    request.strHead = headAndBody[0].toString();
    request.strBody = headAndBody[1].toString();
    request.intBodyBytes = request.strBody.toUtf8().size();

    // Line by line, the request line first; every line is looked at, as a split would.
    const QStringView head(request.strHead);
    qsizetype from = 0;
    for (bool first = true;; first = false) {
        const qsizetype at = head.indexOf(QLatin1String("\r\n"), from);
        const QStringView line = head.mid(from, at < 0 ? -1 : at - from);
        if (first) {
            QStringView words[3];
            if (splitExactly(line, QLatin1Char(' '), 1, words, 3)) {
                QString type = words[0].toString();
                type.replace(QLatin1String("GET"), QLatin1String("typeGet"));
                type.replace(QLatin1String("POST"), QLatin1String("typePost"));
                request.strType = type;
                decodeTarget(words[1].toString(), request.strPath, request.strFilePath);
            }
        } else {
            QStringView header[2];
            if (splitExactly(line, QLatin1String(": "), 2, header, 2))
                request.headers.insert(header[0].toString(), header[1].toString());
        }
        if (at < 0)
            break;
        from = at + 2;
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
