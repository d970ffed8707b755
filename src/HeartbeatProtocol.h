// The heartbeat datagram format: which requests are answered, and with which exact bytes.
#pragma once

#include <QByteArray>
#include <QtGlobal>

class HeartbeatProtocol {
public:
    // Requests arrive here and every reply is sent to this port of the requester, whatever
    // port the request came from: a requester listens on it for the answer.
    static constexpr quint16 port = 49497;

    // The product version that the version reply reports.
    static const char *const strVersion;

    // The reply to one received datagram, given the web server port to report; empty when the
    // datagram gets no answer (wrong framing, another type or command, a reply of another
    // responder).
    static QByteArray reply(const QByteArray &datagram, quint32 intPort);
};
