#include "HeartbeatProtocol.h"

#include "CleanText.h"
#include "TarnivoVersion.h"

#include <QMap>
#include <QString>
#include <QStringList>

const char *const HeartbeatProtocol::strVersion = TARNIVO_VERSION;

namespace {
const QString strFirstLine = QStringLiteral("Start:Heartbeat");
const QString strLastLine = QStringLiteral("Stop:Heartbeat");

// Lines are joined by single LFs, with none after the last: requesters compare whole texts.
QByteArray frame(const QStringList &lines) {
    QStringList all;
    all << strFirstLine << lines << strLastLine;
    return all.join(QLatin1Char('\n')).toUtf8();
}

// The key/value lines of a framed datagram; false when the framing is not ours. No trimming: a
// final LF or a CRLF line end marks a foreign sender.
bool fields(const QByteArray &datagram, QMap<QString, QString> &values) {
    // Every byte counts, a NUL included; invalid UTF-8 only ever matches nothing.
    const QString text = QString::fromUtf8(datagram);
    if (!text.startsWith(strFirstLine) || !text.endsWith(strLastLine)) {
        return false;
    }
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList parts = lines.at(i).split(QLatin1Char(':'), Qt::KeepEmptyParts);
        // A value holding a further colon is not a value of ours; the later of two equal keys
        // wins.
        if (parts.size() == 2) {
            values.insert(parts.at(0), parts.at(1));
        }
    }
    return true;
}
} // namespace

QByteArray HeartbeatProtocol::reply(const QByteArray &datagram, quint32 intPort) {
    QMap<QString, QString> values;
    if (!fields(datagram, values)) {
        return QByteArray();
    }
    // Only requests are answered, so two responders never answer each other's replies.
    if (values.value(QStringLiteral("strType")) != QLatin1String("typeRequest")) {
        return QByteArray();
    }
    const QString strCommand = values.value(QStringLiteral("strCommand"));
    if (strCommand == QLatin1String("commandVersion")) {
        return frame({QStringLiteral("strType:typeResponse"),
                      QStringLiteral("strCommand:commandVersion"),
                      QStringLiteral("strVersion:") + QLatin1String(strVersion)});
    }
    if (strCommand == QLatin1String("commandPort")) {
        return frame({QStringLiteral("strType:typeResponse"),
                      QStringLiteral("strCommand:commandPort"),
                      QStringLiteral("intPort:") + QString::number(intPort)});
    }
    return QByteArray();
}

QByteArray HeartbeatProtocol::request(const QString &strCommand) {
    return frame(
        {QStringLiteral("strType:typeRequest"), QStringLiteral("strCommand:") + strCommand});
}

QByteArray HeartbeatProtocol::goodbye() {
    return frame({QStringLiteral("strType:typeGoodbye")});
}

bool HeartbeatProtocol::isGoodbye(const QByteArray &datagram) {
    QMap<QString, QString> values;
    return fields(datagram, values) &&
           values.value(QStringLiteral("strType")) == QLatin1String("typeGoodbye");
}

bool HeartbeatProtocol::answer(const QByteArray &datagram, Answer &result) {
    QMap<QString, QString> values;
    if (!fields(datagram, values) ||
        values.value(QStringLiteral("strType")) != QLatin1String("typeResponse")) {
        return false;
    }
    const QString strCommand = values.value(QStringLiteral("strCommand"));
    if (strCommand == QLatin1String("commandVersion")) {
        const QString strVersion = CleanText::clean(values.value(QStringLiteral("strVersion")));
        if (strVersion.isEmpty() || strVersion.size() > intVersionLimit) {
            return false;
        }
        result = Answer{strCommand, strVersion, 0};
        return true;
    }
    if (strCommand == QLatin1String("commandPort")) {
        // Written as the replies write it: digits only, no sign, no leading zero.
        const QString digits = values.value(QStringLiteral("intPort"));
        bool plain = !digits.isEmpty() && digits.size() <= 5 &&
                     (digits == QLatin1String("0") || !digits.startsWith(QLatin1Char('0')));
        for (const QChar digit : digits) {
            plain = plain && digit >= QLatin1Char('0') && digit <= QLatin1Char('9');
        }
        const uint port = plain ? digits.toUInt() : 0x10000;
        if (port > 0xFFFF) {
            return false;
        }
        result = Answer{strCommand, QString(), quint16(port)};
        return true;
    }
    return false;
}
