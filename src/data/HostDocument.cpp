#include "HostDocument.h"

#include "KeptReading.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

HostDocument::Facts HostDocument::read() {
    Facts facts;
    facts.strHostName = platform::hostName();
    facts.system = platform::operatingSystem();
    facts.intBootTime = platform::bootTime();
    facts.sessions = platform::sessions();
    facts.reboot = platform::rebootState();
    // Never destroyed: a connection thread may still ask while the process exits.
    static auto *const services =
        new KeptReading<platform::ServicesReading>(platform::stoppedServices, servicesGapMs);
    facts.services = services->value();
    return facts;
}

int HostDocument::users(const std::vector<platform::Session> &sessions) {
    QSet<QString> names;
    for (const platform::Session &session : sessions)
        names.insert(QString::fromStdString(session.user));
    return int(names.size());
}

QJsonObject HostDocument::json(const Facts &facts, qint64 intNow) {
    const auto text = [](const std::string &value) { return QString::fromStdString(value); };
    QJsonArray sessions, reasons;
    for (const platform::Session &session : facts.sessions)
        sessions.append(QJsonObject{{QStringLiteral("user"), text(session.user)},
                                    {QStringLiteral("state"), text(session.state)},
                                    {QStringLiteral("where"), text(session.where)}});
    for (const std::string &reason : facts.reboot.reasons)
        reasons.append(text(reason));
    QJsonArray stopped;
    for (const platform::StoppedService &service : facts.services.stopped)
        stopped.append(QJsonObject{{QStringLiteral("name"), text(service.name)},
                                   {QStringLiteral("displayName"), text(service.displayName)},
                                   {QStringLiteral("state"), text(service.state)}});
    QJsonObject services{{QStringLiteral("read"), facts.services.read},
                         {QStringLiteral("stopped"), stopped}};
    if (!facts.services.read)
        services.insert(QStringLiteral("why"), text(facts.services.why));
    const bool known = facts.intBootTime > 0 && facts.intBootTime <= intNow;
    return QJsonObject{
        {QStringLiteral("hostname"), text(facts.strHostName)},
        {QStringLiteral("os"), text(facts.system.name)},
        {QStringLiteral("version"), text(facts.system.version)},
        {QStringLiteral("bootTime"),
         known ? QJsonValue(facts.intBootTime) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("upSeconds"),
         known ? QJsonValue(intNow - facts.intBootTime) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("users"), sessions},
        {QStringLiteral("userCount"), users(facts.sessions)},
        {QStringLiteral("rebootRequired"), facts.reboot.required},
        {QStringLiteral("rebootReasons"), reasons},
        {QStringLiteral("services"), services},
    };
}

QString HostDocument::build() {
    return QString::fromUtf8(QJsonDocument(json(read(), QDateTime::currentSecsSinceEpoch()))
                                 .toJson(QJsonDocument::Compact));
}
