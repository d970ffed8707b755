// Which machine this is, since when it runs, who is signed in, whether it must restart and
// which services that should run do not:
// served at /host.json for the dashboard, as the "host" of /summary.json for the dashboards of
// other machines, and as families of /metrics. Read from the system when asked.
#pragma once

#include "platform/Host.h"
#include "platform/Services.h"

#include <QJsonObject>
#include <QString>

class HostDocument {
public:
    struct Facts {
        std::string strHostName;
        platform::OperatingSystem system;
        qint64 intBootTime = 0; // seconds since 1970, 0 unknown
        std::vector<platform::Session> sessions;
        platform::RebootState reboot;
        platform::ServicesReading services; // read at most once in servicesGapMs
    };
    static constexpr qint64 servicesGapMs = 30000;
    static Facts read();

    // The people signed in: distinct user names over every session.
    static int users(const std::vector<platform::Session> &sessions);

    // {"hostname", "os", "version", "bootTime" (seconds since 1970, or null), "upSeconds" (at
    // intNow, or null), "users": [{"user", "state", "where"}], "userCount", "rebootRequired",
    // "rebootReasons": [...], "services": {"read", "why" (when not read), "stopped": [{"name",
    // "displayName", "state"}]}}.
    static QJsonObject json(const Facts &facts, qint64 intNow);
    // /host.json: the facts read now.
    static QString build();
};
