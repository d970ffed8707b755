#include "HttpResponse.h"

#include "RequestOrigin.h"
#include "RouteTable.h"

HttpResponse HttpResponse::route(const HttpRequest &request) {
    const Route *const route = RouteTable::find(request);
    if (!route)
        return HttpResponse();
    HttpResponse response = route->response;
    response.matched = route;
    if (route->kind == Route::Kind::File)
        response.strContent = request.strFilePath;
    return response;
}

HttpResponse HttpResponse::misdirected(const QString &name) {
    HttpResponse response;
    response.strStatus = QStringLiteral("HTTP/1.0 421 Misdirected Request\r\n");
    const QString shown = RequestOrigin::shownName(name).toHtmlEscaped();
    const QString key = RequestOrigin::allowedHostsKey;
    response.strContent =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>Not a name of this monitor</title></head><body>\n"
            "<h1>This monitor does not answer to &ldquo;%1&rdquo;</h1>\n"
            "<p>It answers only to its machine's own names and addresses, so that no other site "
            "can reach it through a name of its own. To open it as <b>%1</b>, add the name to "
            "the setting <code>%2</code> in the machine-wide settings file <code>%3</code> and "
            "restart Tarnivo:</p>\n<pre>[%4]\n%5=%1</pre>\n"
            "<p>Until then, open it by the machine's name or its address.</p>\n</body></html>\n")
            .arg(shown, key, RequestOrigin::settingsFile().toHtmlEscaped(), key.section('/', 0, 0),
                 key.section('/', 1));
    response.headers.insert(QStringLiteral("Content-Type"),
                            QStringLiteral("text/html; charset=utf-8"));
    response.headers.insert(QStringLiteral("Content-Length"),
                            QString::number(response.strContent.toUtf8().size()));
    response.complete();
    return response;
}

void HttpResponse::addFileHeaders(qint64 size, const QString &mediaType,
                                  const QString &disposition) {
    if (!headers.contains(QStringLiteral("Content-Length")))
        headers.insert(QStringLiteral("Content-Length"), QString::number(size));
    if (!mediaType.isEmpty() && !headers.contains(QStringLiteral("Content-Type")))
        headers.insert(QStringLiteral("Content-Type"), mediaType);
    if (!headers.contains(QStringLiteral("Content-Disposition")))
        headers.insert(QStringLiteral("Content-Disposition"), disposition);
}

void HttpResponse::complete() {
    if (strType == QLatin1String("typeMove")) {
        strStatus = QStringLiteral("HTTP/1.0 302 Moved Temporarily\r\n");
    } else if (strType == QLatin1String("typeText")) {
        strStatus = QStringLiteral("HTTP/1.0 200 OK\r\n");
        if (!headers.contains(QStringLiteral("Content-Length")))
            headers.insert(QStringLiteral("Content-Length"),
                           QString::number(strContent.toUtf8().size()));
    } else if (strType == QLatin1String("typeFile")) {
        strStatus = QStringLiteral("HTTP/1.0 200 OK\r\n");
    }
    if (strStatus.isEmpty())
        strStatus = QStringLiteral("HTTP/1.0 404 Not Found\r\n");
    // Every connection ends after its one answer: a client told otherwise would send its next
    // request into a connection that is being closed, and lose it.
    if (!headers.contains(QStringLiteral("Connection")))
        headers.insert(QStringLiteral("Connection"), QStringLiteral("close"));
    if (!headers.contains(QStringLiteral("Content-Length")))
        headers.insert(QStringLiteral("Content-Length"), QStringLiteral("0"));
    if (!headers.contains(QStringLiteral("Cache-Control")))
        headers.insert(QStringLiteral("Cache-Control"), QStringLiteral("no-cache"));
}

QByteArray HttpResponse::head() const {
    // Appended in place into room reserved once: a head is built for every request.
    qsizetype length = strStatus.size() + 2;
    for (auto header = headers.constBegin(); header != headers.constEnd(); ++header)
        length += header.key().size() + header.value().size() + 4;
    QString text;
    text.reserve(length);
    text += strStatus;
    for (auto header = headers.constBegin(); header != headers.constEnd(); ++header) {
        text += header.key();
        text += QLatin1String(": ");
        text += header.value();
        text += QLatin1String("\r\n");
    }
    text += QLatin1String("\r\n");
    return text.toUtf8();
}
