// The answer to one request: the routing decision and the response head, built without a socket.
#pragma once

#include "HttpRequest.h"

#include <QByteArray>
#include <QMap>
#include <QString>

class HttpResponse {
public:
    // Routes a request: only "typeGet" is routed; "/" is moved to the start page, the three
    // file prefixes give "typeFile" (content = the request's file path), "/menu.xml..." gives
    // "typeText" with its two headers (the caller supplies the document), and so does
    // "/metrics", with the metrics' media type. Anything else leaves the response type empty,
    // which completes to the not-found response.
    static HttpResponse route(const HttpRequest &request);

    // The response "HTTP/1.0 404 Not Found" and nothing else.
    static HttpResponse notFound();
    // "HTTP/1.0 421 Misdirected Request" and nothing else: the request names a host that this
    // server does not go by.
    static HttpResponse misdirected();

    // Adds the headers that describe a file that could be opened, each only when not yet set.
    // mediaType may be empty: an unknown extension gets no "Content-Type" at all.
    void addFileHeaders(qint64 size, const QString &mediaType, const QString &disposition);

    // Sets the status line from the response type (404 when nothing matched) and the default
    // headers; for "typeText" also the byte length of the document.
    void complete();

    // The serialised head: status line, headers in map order, blank line; UTF-8.
    QByteArray head() const;

    QString strType;
    QString strStatus;
    QMap<QString, QString> headers;
    // "typeText": the document; "typeFile": the request's file path (below the web root).
    QString strContent;
};
