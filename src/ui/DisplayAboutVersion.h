// About > Version: the installed version and, on request, the latest one published on the
// maker's web site.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class DisplayAboutVersion : public QDialog {
    Q_OBJECT
public:
    DisplayAboutVersion();

    // Where the version check asks: "http://" and the web site's host by default. Tests point
    // it at a local server. GUI thread only.
    static QString website();
    static void setWebsite(const QString &strWebsite);

    // The latest version that the web site's reply body names for this product, or strUnknown
    // when it names none.
    static QString latestVersion(const QByteArray &body, const QString &strUnknown);

    QGroupBox *groupVersion;
    QLineEdit *editVersionInstalled;
    QLabel *labelVersionInstalled;
    QLineEdit *editVersionLatest;
    QLabel *labelVersionLatest;
    QPushButton *buttonVersionCheck;

public slots:
    void clickedVersionCheck();
};
