// The control window: port, Start and Stop, status line, Open in Browser, menus.
#pragma once

// Xlib declares a global type "Display", and Qt's <QGuiApplication> brings it in on X11
// systems. Qt's header is read here under another name for Xlib's type, so that the control
// window keeps its own name. This header therefore comes before any other Qt GUI header.
#define Display XlibDisplay
#include <QGuiApplication>
#undef Display

#include <QMainWindow>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;

class QUrl;

class Display : public QMainWindow {
    Q_OBJECT
public:
    Display();

    // Opens the address in the user's browser as the signed-in user (the program itself runs
    // elevated, and a browser it started would inherit that), else in Qt's way.
    static void openInBrowser(const QUrl &url);
    // Whether openInBrowser asks the desktop's shell first (the default); tests turn it off so
    // that the address reaches Qt's URL handlers, where they catch it.
    static void setDesktopShellUsed(bool used);

    QMenuBar *menuBarMain;
    QMenu *menuMenu;
    QAction *actionMenuStartOnLaunch;
    QAction *actionMenuExit;
    QMenu *menuAbout;
    QAction *actionAboutVersion;
    QAction *actionAboutAuthor;
    QWidget *widgetCentral;
    QGroupBox *groupSettings;
    QLineEdit *editSettingsPort;
    QLabel *labelSettingsPort;
    QPushButton *buttonSettingsStart;
    QPushButton *buttonSettingsStop;
    QGroupBox *groupStatus;
    QLineEdit *editStatus;
    QPushButton *buttonStatusOpen;

public slots:
    void clickedMenuStartOnLaunch(bool checked);
    void clickedMenuExit();
    void clickedAboutVersion();
    void clickedAboutAuthor();
    void clickedSettingsStart();
    void clickedSettingsStop();
    void clickedStatusOpen();
    // What keeps the heartbeat from serving (HeartbeatThread::portProblem), for the status
    // line's tooltip beside the cause of a failed Start; empty when nothing does.
    void showHeartbeatProblem(const QString &problem);

private:
    // The three visible states: stopped, busy (inside Start or Stop) and running.
    void showStopped(const QString &status);
    void showBusy(const QString &status);
    void showRunning();
    // The status line's tooltip: the cause of the last failed Start, then the heartbeat's
    // problem, each when there is one.
    void showStatusTip();
    QString strStartCause;
    QString strHeartbeatProblem;
};
