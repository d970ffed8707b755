#include "StateFolder.h"

#include <QDir>

QString StateFolder::defaultPath() {
#ifdef Q_OS_WIN
    QString data = qEnvironmentVariable("ProgramData");
    if (data.isEmpty())
        data = QStringLiteral("C:/ProgramData");
    return QDir::fromNativeSeparators(data) + QStringLiteral("/Tarnivo");
#else
    // systemd may list several folders, separated by colons; the unit names one.
    const QString given = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (!given.isEmpty())
        return given;
    const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(xdg))
        return xdg + QStringLiteral("/tarnivo");
    return QDir::homePath() + QStringLiteral("/.local/state/tarnivo");
#endif
}
