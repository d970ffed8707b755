// Where a request says it comes from, and what that allows: a request must name this server
// (so that a page on a name an attacker points at this machine, by DNS rebinding, reads
// nothing), and a request that a browser sends for a page of another site may read the figures
// but not rescan the devices. Pure functions of the request, so that they can be tested alone.
#pragma once

#include "HttpRequest.h"

#include <QString>
#include <QStringList>

class RequestOrigin {
public:
    // The setting that lists further names the server answers to (MachineSettings
    // "web/allowedHosts": a list, or names separated by commas or blanks), for a name in DNS that
    // is not the machine's own host name.
    static const QString allowedHostsKey;

    // Reads the names this server goes by: the machine's host name, short and with its domain,
    // and the setting. Called when the listener starts, so a changed setting applies from the
    // next Start; thread-safe.
    static void loadNames();
    // The names read last (read at first use when nothing has been read yet), in lower case.
    static QStringList names();

    // True when a "Host" header value names an IP address, "localhost" or one of names (lower
    // case), in any case, with or without a port or a final dot.
    static bool hostAllowed(const QString &host, const QStringList &names);
    // True when the request carries no "Host" header, or every one it carries is allowed;
    // otherwise `refused` (when given) receives the first name that is not.
    static bool hostAllowed(const HttpRequest &request, QString *refused = nullptr);

    // Tells whoever runs the server, once per name, that a request named a host this server
    // does not go by and which setting would let it in. Remembers at most refusalsLogged
    // names, so that a client making up names cannot fill the log or the memory.
    static void logRefused(const QString &name);
    static constexpr int refusalsLogged = 64;
    // The name as it may be shown or logged: printable ASCII, at most 100 characters.
    static QString shownName(const QString &name);
    // The machine-wide settings file, as this system writes paths.
    static QString settingsFile();

    // True when a browser marks the request as sent for a page of another site: "Sec-Fetch-Site"
    // "cross-site", or an "Origin" other than the site the "Host" header names. A request with
    // neither header is not.
    static bool crossSite(const HttpRequest &request);

    // The request path with the request word "requestInit" read as "requestRead": the answer
    // lists the devices as they are, and nothing is rescanned.
    static QString withoutRescan(const QString &path);
};
