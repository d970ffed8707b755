// The peer list as the web server delivers it: the dashboard's JSON and Prometheus's HTTP
// service-discovery format.
#pragma once

#include "PeerList.h"

#include <QHash>
#include <QString>
#include <QVector>

class PeerDocuments {
public:
    // {"running":…, "lastLook": ISO time or null, "roundGapSeconds":…, "peers":[{"address",
    // "port" (null until known), "version" (null until known), "thisMachine", "firstHeard",
    // "lastHeard"}]}; times in UTC.
    static QString peers(const QVector<Peer> &peers, qint64 intLastRoundAt, bool boolRunning,
                         int intRoundGapMs);

    // [{"targets":["address:port"],"labels":{…}}] for every peer whose web server runs, so
    // that one http_sd_configs entry scrapes every workstation. The labels are meta labels,
    // for relabelling: they are not attached to the series themselves, except "hostname", the
    // machine's name by its address in hostNames (also as __meta_tarnivo_hostname), so that
    // series say which machine they are from; a machine without a known name has neither.
    // This machine is given under strThisMachine when that is not empty. A machine that serves
    // HTTPS (this one when boolThisHttps, the others when boolPeersHttps) carries
    // "__scheme__": "https", which Prometheus scrapes it with.
    static QString serviceDiscovery(const QVector<Peer> &peers,
                                    const QString &strThisMachine = QString(),
                                    const QHash<QString, QString> &hostNames = {},
                                    bool boolThisHttps = false, bool boolPeersHttps = false);
};
