#include "RouteTable.h"

#include "AlertMetrics.h"
#include "Alerts.h"
#include "Discovery.h"
#include "DiskHealthDocument.h"
#include "FleetSummaries.h"
#include "History.h"
#include "HostDocument.h"
#include "MachineSettings.h"
#include "MetricsDocument.h"
#include "ProcessesDocument.h"
#include "StatusDocument.h"
#include "SummaryDocument.h"
#include "TlsCertificate.h"
#include "VolumesDocument.h"
#include "platform/Host.h"
#include "platform/Platform.h"

#include <QDateTime>

namespace {

QString status(const HttpRequest &request, qintptr) {
    return StatusDocument::build(request.strPath);
}

QString metrics(const HttpRequest &, qintptr) {
    return MetricsDocument::build() + AlertMetrics::build();
}

QString alerts(const HttpRequest &, qintptr) {
    return Alerts::document(Alerts::instance().firing(), QDateTime::currentMSecsSinceEpoch());
}

QString peers(const HttpRequest &request, qintptr) {
    return Discovery::instance().peersDocument(request.strPath);
}

QString serviceDiscovery(const HttpRequest &, qintptr socket) {
    // Other machines name themselves in their summaries; this one is asked directly. The other
    // monitors are taken to speak HTTPS when this one asks them so (fleet/https).
    return Discovery::instance().serviceDiscoveryDocument(
        QString::fromStdString(platform::localAddress(socket)),
        [](const QVector<Peer> &peers) {
            QHash<QString, QString> names = FleetSummaries::instance().hostNames();
            for (const Peer &peer : peers) {
                if (peer.boolThisMachine)
                    names.insert(peer.strAddress, QString::fromStdString(platform::hostName()));
            }
            return names;
        },
        TlsCertificate::current()->enabled(),
        MachineSettings::value(QStringLiteral("fleet/https")).toBool());
}

QString volumes(const HttpRequest &, qintptr) {
    return VolumesDocument::build();
}

QString processes(const HttpRequest &, qintptr) {
    return ProcessesDocument::instance().document();
}

QString summary(const HttpRequest &, qintptr) {
    return SummaryDocument::instance().document();
}

QString fleet(const HttpRequest &, qintptr) {
    return FleetSummaries::instance().document();
}

QString health(const HttpRequest &, qintptr) {
    return DiskHealthDocument::build();
}

QString host(const HttpRequest &, qintptr) {
    return HostDocument::build();
}

QString history(const HttpRequest &request, qintptr) {
    return History::build(request.strPath);
}

QString typeWord(Route::Kind kind) {
    switch (kind) {
    case Route::Kind::Move:
        return QStringLiteral("typeMove");
    case Route::Kind::File:
        return QStringLiteral("typeFile");
    case Route::Kind::Text:
        break;
    }
    return QStringLiteral("typeText");
}

} // namespace

Route::Route(QLatin1String path, Match how, Kind what, Producer producer,
             const QMap<QString, QString> &headers)
    : strPath(path), match(how), kind(what), document(producer) {
    response.strType = typeWord(kind);
    response.headers = headers;
    if (kind == Kind::Move) {
        HttpResponse whole = response;
        whole.complete();
        head = whole.head();
    }
}

bool Route::matches(const QString &requestPath) const {
    switch (match) {
    case Match::Exact:
        return requestPath == strPath;
    case Match::Prefix:
        return requestPath.startsWith(strPath);
    case Match::PathOrQuery:
        break;
    }
    return requestPath.startsWith(strPath) && (requestPath.size() == strPath.size() ||
                                               requestPath.at(strPath.size()) == QLatin1Char('?'));
}

const std::vector<Route> &RouteTable::routes() {
    using K = Route::Kind;
    using M = Route::Match;
    const QString type = QStringLiteral("Content-Type");
    const QString json = QStringLiteral("application/json");
    // Files may be cached for a day; every other answer is made fresh ("no-cache" by default).
    const QMap<QString, QString> file = {
        {QStringLiteral("Cache-Control"), QStringLiteral("max-age=86400")}};
    static const std::vector<Route> table = {
        {QLatin1String("/"),
         M::Exact,
         K::Move,
         nullptr,
         {{QStringLiteral("Location"), QStringLiteral("/assets/menu.html")}}},
        {QLatin1String("/assets/"), M::Prefix, K::File, nullptr, file},
        {QLatin1String("/res/"), M::Prefix, K::File, nullptr, file},
        {QLatin1String("/src/"), M::Prefix, K::File, nullptr, file},
        {QLatin1String("/menu.xml"),
         M::Prefix,
         K::Text,
         status,
         {{type, QStringLiteral("application/xml")},
          {QStringLiteral("Content-Disposition"),
           QStringLiteral("inline; filename=\"menu.xml\";")}}},
        {QLatin1String("/metrics"),
         M::PathOrQuery,
         K::Text,
         metrics,
         {{type, MetricsDocument::contentType}}},
        {QLatin1String("/peers.json"), M::PathOrQuery, K::Text, peers, {{type, json}}},
        {QLatin1String("/sd.json"), M::PathOrQuery, K::Text, serviceDiscovery, {{type, json}}},
        {QLatin1String("/volumes.json"), M::PathOrQuery, K::Text, volumes, {{type, json}}},
        {QLatin1String("/processes.json"), M::PathOrQuery, K::Text, processes, {{type, json}}},
        {QLatin1String("/summary.json"), M::PathOrQuery, K::Text, summary, {{type, json}}},
        {QLatin1String("/fleet.json"), M::PathOrQuery, K::Text, fleet, {{type, json}}},
        {QLatin1String("/host.json"), M::PathOrQuery, K::Text, host, {{type, json}}},
        {QLatin1String("/health.json"), M::PathOrQuery, K::Text, health, {{type, json}}},
        {QLatin1String("/history.json"), M::PathOrQuery, K::Text, history, {{type, json}}},
        {QLatin1String("/alerts.json"), M::PathOrQuery, K::Text, alerts, {{type, json}}},
    };
    return table;
}

const Route *RouteTable::find(const HttpRequest &request) {
    if (request.strType != QLatin1String("typeGet"))
        return nullptr;
    for (const Route &route : routes()) {
        if (route.matches(request.strPath))
            return &route;
    }
    return nullptr;
}

const QByteArray &RouteTable::notFoundHead() {
    static const QByteArray head = [] {
        HttpResponse response;
        response.complete();
        return response.head();
    }();
    return head;
}
