// Points QSettings() at a file in a directory of the test's own, so that no test reads or
// writes the user's real settings (the registry on Windows, ~/.config elsewhere).
#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

inline void useScratchSettings() {
    static QTemporaryDir directory;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, directory.path());
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnivo"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnivo"));
}
