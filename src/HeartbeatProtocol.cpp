#include "HeartbeatProtocol.h"

#include <QMap>
#include <QString>
#include <QStringList>

const char *const HeartbeatProtocol::strVersion = "1.1";

namespace {
const QString strFirstLine = QStringLiteral("Start:Heartbeat");
const QString strLastLine = QStringLiteral("Stop:Heartbeat");

// Lines are joined by single LFs, with none after the last: requesters compare whole texts.
QByteArray frame(const QStringList &lines) {
    QStringList all;
    all << strFirstLine << lines << strLastLine;
    return all.join(QLatin1Char('\n')).toUtf8();
}
} // namespace

QByteArray HeartbeatProtocol::reply(const QByteArray &datagram, quint32 intPort) {
    // Every byte counts, a NUL included; invalid UTF-8 only ever matches nothing.
    const QString text = QString::fromUtf8(datagram);
    // No trimming: a final LF or a CRLF line end marks a foreign sender, which is not answered.
    if (!text.startsWith(strFirstLine) || !text.endsWith(strLastLine)) {
        return QByteArray();
    }

    QMap<QString, QString> values;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList parts = lines.at(i).split(QLatin1Char(':'), Qt::KeepEmptyParts);
        // A value holding a further colon is not a value of ours; the later of two equal keys
        // wins.
        if (parts.size() == 2) {
            values.insert(parts.at(0), parts.at(1));
        }
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
