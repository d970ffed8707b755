// Which path gets which answer: every route is one line of the table in RouteTable.cpp, read by
// the response (its type and head) and by the connection thread (what it sends).
#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QByteArray>
#include <QLatin1String>
#include <QMap>
#include <QString>

#include <vector>

struct Route {
    // What the answer carries: a redirect, a file below the web root, or a generated document.
    enum class Kind { Move, File, Text };
    // How the decoded request path (query included) must match the route's path, compared
    // case-sensitively.
    enum class Match {
        Exact,
        // Any path that begins with it.
        Prefix,
        // The path itself, or the path followed by "?" and a query.
        PathOrQuery,
    };
    // Kind::Text: the document for a request, which arrived on the connection socket.
    using Producer = QString (*)(const HttpRequest &request, qintptr socket);

    Route(QLatin1String path, Match match, Kind kind, Producer document,
          const QMap<QString, QString> &headers);

    bool matches(const QString &requestPath) const;

    QLatin1String strPath;
    Match match;
    Kind kind;
    Producer document;
    // The response as far as the route alone decides it: its type word and its own headers.
    HttpResponse response;
    // The whole head when nothing of the request changes it (the redirect), built once; empty
    // otherwise.
    QByteArray head;
};

class RouteTable {
public:
    // The route of a request, or nullptr: only "typeGet" is routed, and the first line that
    // matches the path wins.
    static const Route *find(const HttpRequest &request);

    // The head of the not-found response, built once.
    static const QByteArray &notFoundHead();

private:
    static const std::vector<Route> &routes();
};
