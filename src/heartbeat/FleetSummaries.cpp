#include "FleetSummaries.h"

#include "Discovery.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <atomic>
#include <thread>
#include <vector>

namespace {
// Milliseconds on the steady clock.
qint64 steadyMs() {
    return QDeadlineTimer::current().deadline();
}

constexpr qsizetype askersMax = 32;
} // namespace

FleetSummaries &FleetSummaries::instance() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static FleetSummaries *const fleet = new FleetSummaries(
        [] { return Discovery::instance().peers(); },
        [](const FleetClient &client, const QString &strAddress, int intPort, int intWaitMs) {
            return client.fetch(strAddress, intPort, intWaitMs);
        });
    return *fleet;
}

FleetSummaries::FleetSummaries(Peers peers, Fetch fetch)
    : peers(std::move(peers)), fetch(std::move(fetch)) {}

QString FleetSummaries::document() {
    QMutexLocker lock(&mutex);
    const qint64 now = steadyMs();
    if (intCachedAt >= 0 && now - intCachedAt < gapMs)
        return strCached;
    QVector<Peer> machines;
    for (const Peer &peer : peers()) {
        if (peer.intPort > 0)
            machines.append(peer);
    }
    // Machines are asked side by side, so that the slowest one sets the wait rather than their
    // sum; at most askersMax at a time, each taking the next machine not yet asked. The round
    // has one wait in all: a machine not reached within it has no answer, so that many silent
    // machines (addresses a neighbour claims with forged answers) do not hold this connection
    // and the dashboards waiting for the round for a wait each.
    const QDeadlineTimer roundEnd(waitMs);
    // The settings are read once a round; the askers only read the client.
    const FleetClient client = FleetClient::fromSettings();
    std::vector<FleetClient::Reply> answers(size_t(machines.size()));
    std::atomic<qsizetype> next{0};
    std::vector<std::thread> askers;
    for (qsizetype n = 0; n < qMin<qsizetype>(askersMax, machines.size()); ++n) {
        askers.emplace_back([this, &client, &machines, &answers, &next, &roundEnd] {
            for (qsizetype i; !roundEnd.hasExpired() && (i = next++) < machines.size();)
                answers[size_t(i)] =
                    fetch(client, machines.at(i).strAddress, machines.at(i).intPort,
                          int(qMax<qint64>(1, roundEnd.remainingTime())));
        });
    }
    for (std::thread &asker : askers)
        asker.join();
    QJsonArray list;
    names.clear();
    for (qsizetype i = 0; i < machines.size(); ++i) {
        const FleetClient::Reply &reply = answers[size_t(i)];
        const QString name = reply.summary.value(QStringLiteral("host"))
                                 .toObject()
                                 .value(QStringLiteral("hostname"))
                                 .toString();
        if (!name.isEmpty())
            names.insert(machines.at(i).strAddress, name);
        QJsonObject machine{{QStringLiteral("address"), machines.at(i).strAddress},
                            {QStringLiteral("port"), machines.at(i).intPort},
                            {QStringLiteral("hostname"),
                             name.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(name)},
                            {QStringLiteral("summary"), reply.summary.isEmpty()
                                                            ? QJsonValue(QJsonValue::Null)
                                                            : QJsonValue(reply.summary)}};
        if (!reply.strProblem.isEmpty())
            machine.insert(QStringLiteral("problem"), reply.strProblem);
        list.append(machine);
    }
    strCached = QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("machines"), list}})
                                      .toJson(QJsonDocument::Compact));
    intCachedAt = steadyMs();
    return strCached;
}

QHash<QString, QString> FleetSummaries::hostNames() {
    document();
    QMutexLocker lock(&mutex);
    return names;
}
