#include "AlertNotifier.h"

#include "MachineSettings.h"
#include "SharedState.h"

#include <atomic>

namespace {
std::atomic<AlertNotifier *> theNotifier{nullptr};

QUrl address(const char *key) {
    return QUrl(MachineSettings::value(QLatin1String(key)).toString());
}

std::unique_ptr<AlertSender> sender(const char *what, const QUrl &url, AlertSender::Timing timing) {
    if (url.isEmpty())
        return nullptr;
    return std::make_unique<AlertSender>(QLatin1String(what), url, timing);
}
} // namespace

AlertNotifier::Receivers AlertNotifier::configured() {
    QUrl manager = address("alerts/alertmanager");
    // Alertmanager is named by its own address; its API's path is ours to add.
    if (!manager.isEmpty() && !manager.path().endsWith(QLatin1String("/api/v2/alerts"))) {
        QString path = manager.path();
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        manager.setPath(path + QLatin1String("/api/v2/alerts"));
    }
    return {address("alerts/webhook"), manager, address("alerts/ntfy")};
}

AlertNotifier::AlertNotifier(const Receivers &receivers, const AlertPayloads::Origin &from,
                             AlertSender::Timing timing)
    : origin(from), webhook(sender("webhook", receivers.webhook, timing)),
      alertmanager(sender("Alertmanager", receivers.alertmanager, timing)),
      ntfy(sender("ntfy", receivers.ntfy, timing)) {}

AlertNotifier::~AlertNotifier() {
    stop();
}

AlertNotifier *AlertNotifier::current() {
    return theNotifier.load();
}

void AlertNotifier::setCurrent(AlertNotifier *notifier) {
    theNotifier.store(notifier);
}

void AlertNotifier::start() {
    for (AlertSender *s : {webhook.get(), alertmanager.get(), ntfy.get()}) {
        if (s)
            s->start();
    }
}

void AlertNotifier::stop() {
    for (AlertSender *s : {webhook.get(), alertmanager.get(), ntfy.get()}) {
        if (s) {
            s->requestStop();
            s->wait();
        }
    }
}

void AlertNotifier::notify(const std::vector<Alerts::Alert> &changes,
                           const std::vector<Alerts::Alert> &firing, qint64 now) {
    // The dashboard's address, once the server listens.
    if (origin.url.isEmpty() && intListeningPort.load() != 0)
        origin.url =
            QStringLiteral("http://%1:%2/").arg(origin.hostname).arg(intListeningPort.load());
    std::vector<Alerts::Alert> began, resolved;
    for (const Alerts::Alert &a : changes)
        (a.ended ? resolved : began).push_back(a);
    const QByteArray json = QByteArrayLiteral("application/json");
    for (const std::vector<Alerts::Alert> *group : {&began, &resolved}) {
        if (group->empty())
            continue;
        if (webhook)
            webhook->post({AlertPayloads::webhook(*group, origin), json, {}});
        if (ntfy) {
            AlertPayloads::Headers headers;
            const QByteArray text = AlertPayloads::ntfy(*group, origin, headers);
            ntfy->post({text, QByteArrayLiteral("text/plain; charset=utf-8"), headers});
        }
    }
    if (!alertmanager)
        return;
    const bool due = !firing.empty() && (pushedAt < 0 || now - pushedAt >= resendMs);
    if (changes.empty() && !due)
        return;
    // Everything that fires, with what resolved this round: Alertmanager keeps no state of ours.
    std::vector<Alerts::Alert> push = firing;
    push.insert(push.end(), resolved.begin(), resolved.end());
    alertmanager->post({AlertPayloads::alertmanager(push, now + 4 * resendMs, origin), json, {}});
    pushedAt = now;
}

quint64 AlertNotifier::dropped() const {
    quint64 n = 0;
    for (const AlertSender *s : {webhook.get(), alertmanager.get(), ntfy.get()})
        n += s ? s->dropped() : 0;
    return n;
}

quint64 AlertNotifier::failed() const {
    quint64 n = 0;
    for (const AlertSender *s : {webhook.get(), alertmanager.get(), ntfy.get()})
        n += s ? s->failed() : 0;
    return n;
}
