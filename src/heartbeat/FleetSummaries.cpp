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

constexpr qsizetype askersMax = 32;

// A figure, or null for anything else.
QJsonValue numberOr(const QJsonValue &value) {
    return value.isDouble() ? value : QJsonValue(QJsonValue::Null);
}
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
    // The socket never buffers more than an answer may hold, whatever the peer sends.
    socket.setReadBufferSize(answerLimit + 1);
    socket.write("GET /summary.json HTTP/1.0\r\n\r\n");
    QByteArray answer;
    while (answer.size() <= answerLimit) {
        if (socket.bytesAvailable() == 0 &&
            (deadline.hasExpired() ||
             !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))))
            break; // closed after the answer, or the time is up
        answer += socket.read(answerLimit + 1 - answer.size());
    }
    return relayed(answer);
}

QJsonObject FleetSummaries::relayed(const QByteArray &answer) {
    const qsizetype body = answer.indexOf("\r\n\r\n");
    if (answer.size() > answerLimit || !answer.startsWith("HTTP/1.0 200") || body < 0)
        return {};
    const QJsonObject summary = QJsonDocument::fromJson(answer.mid(body + 4)).object();
    if (summary.isEmpty())
        return {};
    QJsonObject kept{{QStringLiteral("processor"), numberOr(summary.value("processor"))},
                     {QStringLiteral("memory"), numberOr(summary.value("memory"))},
                     {QStringLiteral("volume"), QJsonValue::Null}};
    const QJsonObject volume = summary.value("volume").toObject();
    if (volume.value("volume").isString())
        kept.insert(QStringLiteral("volume"),
                    QJsonObject{{QStringLiteral("volume"),
                                 volume.value("volume").toString().left(volumeNameLimit)},
                                {QStringLiteral("used"), numberOr(volume.value("used"))},
                                {QStringLiteral("free"), numberOr(volume.value("free"))}});
    return kept;
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
    for (qsizetype i = 0; i < machines.size(); ++i) {
        const QJsonObject &summary = answers[size_t(i)];
        list.append(
            QJsonObject{{QStringLiteral("address"), machines.at(i).strAddress},
                        {QStringLiteral("port"), machines.at(i).intPort},
                        {QStringLiteral("summary"),
                         summary.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(summary)}});
    }
    strCached = QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("machines"), list}})
                                      .toJson(QJsonDocument::Compact));
    intCachedAt = steadyMs();
    return strCached;
}
