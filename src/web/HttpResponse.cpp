#include "HttpResponse.h"

#include "Discovery.h"
#include "FleetSummaries.h"
#include "MetricsDocument.h"
#include "ProcessesDocument.h"
#include "SummaryDocument.h"
#include "VolumesDocument.h"

HttpResponse HttpResponse::route(const HttpRequest &request) {
    HttpResponse response;
    if (request.strType != QLatin1String("typeGet"))
        return response;
    const QString &path = request.strPath;
    if (path == QLatin1String("/")) {
        response.strType = QStringLiteral("typeMove");
        response.headers.insert(QStringLiteral("Location"), QStringLiteral("/assets/menu.html"));
    } else if (path.left(8) == QLatin1String("/assets/") ||
               path.left(5) == QLatin1String("/res/") || path.left(5) == QLatin1String("/src/")) {
        response.strType = QStringLiteral("typeFile");
        response.headers.insert(QStringLiteral("Cache-Control"), QStringLiteral("max-age=86400"));
        response.strContent = request.strFilePath;
    } else if (path.left(9) == QLatin1String("/menu.xml")) {
        response.strType = QStringLiteral("typeText");
        response.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/xml"));
        response.headers.insert(QStringLiteral("Content-Disposition"),
                                QStringLiteral("inline; filename=\"menu.xml\";"));
    } else if (MetricsDocument::serves(path)) {
        response.strType = QStringLiteral("typeText");
        response.headers.insert(QStringLiteral("Content-Type"), MetricsDocument::contentType);
    } else if (Discovery::serves(path) || VolumesDocument::serves(path) ||
               ProcessesDocument::serves(path) || SummaryDocument::serves(path) ||
               FleetSummaries::serves(path)) {
        response.strType = QStringLiteral("typeText");
        response.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    }
    return response;
}

HttpResponse HttpResponse::notFound() {
    HttpResponse response;
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
    if (!headers.contains(QStringLiteral("Connection")))
        headers.insert(QStringLiteral("Connection"), QStringLiteral("keep-alive"));
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
