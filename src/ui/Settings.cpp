#include "Settings.h"

#include <QSettings>

// QSettings() follows the application's organisation and name ("Tarnivo", set at start-up) and
// the default format, so that tests can point it at a scratch file.
namespace {
const char portKey[] = "port";
const char startKey[] = "startOnLaunch";
} // namespace

quint16 Settings::port() {
    const uint port = QSettings().value(QLatin1String(portKey)).toUInt();
    return port <= 65535 ? quint16(port) : 0;
}

void Settings::setPort(quint16 port) {
    QSettings().setValue(QLatin1String(portKey), port);
}

bool Settings::startOnLaunch() {
    return QSettings().value(QLatin1String(startKey), false).toBool();
}

void Settings::setStartOnLaunch(bool start) {
    QSettings().setValue(QLatin1String(startKey), start);
}
