// The answer to one request: the routing decision and the response head, built without a socket.
#pragma once

#include "HttpRequest.h"

#include <QByteArray>
#include <QMap>
#include <QString>

struct Route;

class HttpResponse {
public:
    // Routes a request through the route table: the type word and the route's own headers;
    // for a file, content = the request's file path; for a document, the caller supplies the
    // content. No route leaves the response type empty, which completes to the not-found
    // response.
    static HttpResponse route(const HttpRequest &request);

    // "HTTP/1.0 421 Misdirected Request" with a short page for whoever typed the name: the
    // request names a host (`name`) that this server does not go by, and the page says which
    // setting in which file would let it in.
    static HttpResponse misdirected(const QString &name);

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
    // The route that matched; nullptr for the not-found response.
    const Route *matched = nullptr;
};
