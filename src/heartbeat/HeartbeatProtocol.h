// The heartbeat datagram format: which requests are answered, and with which exact bytes.
#pragma once

#include <QByteArray>
#include <QString>
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

    // A request in the same format, for one command ("commandVersion" or "commandPort").
    static QByteArray request(const QString &strCommand);

    // A monitor of ours that ends in order says so to its subnets, so that a watching one does
    // not report it silent. Neither a request nor a reply: no responder answers it.
    static QByteArray goodbye();
    static bool isGoodbye(const QByteArray &datagram);

    // What a responder's reply says: its version or its web server port.
    struct Answer {
        QString strCommand;  // "commandVersion" or "commandPort"
        QString strVersion;  // cleaned; set for "commandVersion"
        quint16 intPort = 0; // set for "commandPort"
    };
    // Reads a reply of a responder (this program's or another's); false for anything else, a
    // request included, and for values no responder sends: a port past 65535 or not in plain
    // decimal, an empty version or one longer than intVersionLimit characters.
    static bool answer(const QByteArray &datagram, Answer &result);
    static constexpr int intVersionLimit = 64;
};
