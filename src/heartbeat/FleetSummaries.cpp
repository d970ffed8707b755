#include "FleetSummaries.h"

#include "Discovery.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QTcpSocket>
#include <atomic>
#include <thread>
#include <vector>

namespace {
// Milliseconds on the steady clock.
qint64 steadyMs() {
    return QDeadlineTimer::current().deadline();
}

// A summary is a few hundred bytes; anything much larger is not one.
constexpr qint64 answerLimit = 16 * 1024;
constexpr qsizetype askersMax = 32;
} // namespace

FleetSummaries &FleetSummaries::instance() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static FleetSummaries *const fleet =
        new FleetSummaries([] { return Discovery::instance().peers(); }, fetchSummary);
    return *fleet;
}

FleetSummaries::FleetSummaries(Peers peers, Fetch fetch)
    : peers(std::move(peers)), fetch(std::move(fetch)) {}

QJsonObject FleetSummaries::fetchSummary(const QString &strAddress, int intPort, int intWaitMs) {
    // Blocking calls in this thread, which has no event loop of its own to wait in.
    const QDeadlineTimer deadline(intWaitMs);
    QTcpSocket socket;
    socket.connectToHost(strAddress, quint16(intPort));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return {};
    socket.write("GET /summary.json HTTP/1.0\r\n\r\n");
    QByteArray answer;
    while (answer.size() < answerLimit && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break; // closed after the answer, or the time is up
        answer += socket.readAll();
    }
    answer += socket.readAll();
    const qsizetype body = answer.indexOf("\r\n\r\n");
    if (!answer.startsWith("HTTP/1.0 200") || body < 0)
        return {};
    return QJsonDocument::fromJson(answer.mid(body + 4)).object();
}

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
    std::vector<QJsonObject> answers(size_t(machines.size()));
    std::atomic<qsizetype> next{0};
    std::vector<std::thread> askers;
    for (qsizetype n = 0; n < qMin<qsizetype>(askersMax, machines.size()); ++n) {
        askers.emplace_back([this, &machines, &answers, &next, &roundEnd] {
            for (qsizetype i; !roundEnd.hasExpired() && (i = next++) < machines.size();)
                answers[size_t(i)] = fetch(machines.at(i).strAddress, machines.at(i).intPort,
                                           int(qMax<qint64>(1, roundEnd.remainingTime())));
        });
    }
    for (std::thread &asker : askers)
        asker.join();
    QJsonArray list;
    names.clear();
    for (qsizetype i = 0; i < machines.size(); ++i) {
        const QJsonObject &summary = answers[size_t(i)];
        const QString name = summary.value(QStringLiteral("host"))
                                 .toObject()
                                 .value(QStringLiteral("hostname"))
                                 .toString();
        if (!name.isEmpty())
            names.insert(machines.at(i).strAddress, name);
        list.append(
            QJsonObject{{QStringLiteral("address"), machines.at(i).strAddress},
                        {QStringLiteral("port"), machines.at(i).intPort},
                        {QStringLiteral("hostname"),
                         name.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(name)},
                        {QStringLiteral("summary"),
                         summary.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(summary)}});
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
