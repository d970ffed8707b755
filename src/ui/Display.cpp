#include "Display.h"

#include "DisplayAboutAuthor.h"
#include "DisplayAboutVersion.h"
#include "Main.h"
#include "ServerControl.h"
#include "Settings.h"
#include "SharedState.h"
#include "TlsCertificate.h"
#include "platform/Shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QUrl>
#include <cstdio>

namespace {

// Qt 6's integer validator lets a number with as many digits as the top stand as intermediate
// input, so "65536" would reach Start and wrap to port 0. Numbers above the top are refused.
class PortValidator : public QIntValidator {
public:
    explicit PortValidator(QObject *parent) : QIntValidator(1, 65535, parent) {}
    State validate(QString &input, int &pos) const override {
        const State state = QIntValidator::validate(input, pos);
        bool number = false;
        const qlonglong value = input.toLongLong(&number, 10);
        return state == Intermediate && number && value > top() ? Invalid : state;
    }
};
} // namespace

Display::Display() : QMainWindow(nullptr) {
    menuBarMain = new QMenuBar(this);
    menuMenu = new QMenu(QStringLiteral("Menu"), menuBarMain);
    menuBarMain->addAction(menuMenu->menuAction());
    actionMenuStartOnLaunch =
        new QAction(QStringLiteral("Start the server when Tarnivo starts  "), menuMenu);
    actionMenuStartOnLaunch->setCheckable(true);
    actionMenuStartOnLaunch->setChecked(Settings::startOnLaunch());
    menuMenu->addAction(actionMenuStartOnLaunch);
    connect(actionMenuStartOnLaunch, &QAction::toggled, this, &Display::clickedMenuStartOnLaunch);
    actionMenuExit = new QAction(QStringLiteral("Exit  "), menuMenu);
    menuMenu->addAction(actionMenuExit);
    connect(actionMenuExit, &QAction::triggered, this, &Display::clickedMenuExit);

    menuAbout = new QMenu(QStringLiteral("About"), menuBarMain);
    menuBarMain->addAction(menuAbout->menuAction());
    actionAboutVersion = new QAction(QStringLiteral("Version  "), menuAbout);
    menuAbout->addAction(actionAboutVersion);
    connect(actionAboutVersion, &QAction::triggered, this, &Display::clickedAboutVersion);
    actionAboutAuthor = new QAction(QStringLiteral("Author  "), menuAbout);
    menuAbout->addAction(actionAboutAuthor);
    connect(actionAboutAuthor, &QAction::triggered, this, &Display::clickedAboutAuthor);

    setMenuBar(menuBarMain);

    widgetCentral = new QWidget(this);

    groupSettings = new QGroupBox(QStringLiteral("Settings"), widgetCentral);
    groupSettings->setGeometry(10, 10, 171, 81);

    editSettingsPort = new QLineEdit(groupSettings);
    editSettingsPort->setGeometry(10, 20, 151, 20);
    editSettingsPort->setFocusPolicy(Qt::ClickFocus);
    editSettingsPort->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The port of the last successful Start, else 80.
    const quint16 remembered = Settings::port();
    editSettingsPort->setText(remembered ? QString::number(remembered) : QStringLiteral("80"));
    editSettingsPort->setValidator(new PortValidator(editSettingsPort));

    labelSettingsPort = new QLabel(QStringLiteral("Port:"), groupSettings);
    labelSettingsPort->setGeometry(15, 20, 61, 20);

    buttonSettingsStart = new QPushButton(QStringLiteral("Start"), groupSettings);
    buttonSettingsStart->setGeometry(10, 50, 71, 23);
    buttonSettingsStart->setFocusPolicy(Qt::ClickFocus);
    connect(buttonSettingsStart, &QPushButton::clicked, this, &Display::clickedSettingsStart);

    buttonSettingsStop = new QPushButton(QStringLiteral("Stop"), groupSettings);
    buttonSettingsStop->setGeometry(90, 50, 71, 23);
    buttonSettingsStop->setFocusPolicy(Qt::ClickFocus);
    buttonSettingsStop->setEnabled(false);
    connect(buttonSettingsStop, &QPushButton::clicked, this, &Display::clickedSettingsStop);

    groupStatus = new QGroupBox(QStringLiteral("Status"), widgetCentral);
    groupStatus->setGeometry(10, 100, 171, 81);

    editStatus = new QLineEdit(groupStatus);
    editStatus->setGeometry(10, 20, 151, 20);
    editStatus->setFocusPolicy(Qt::ClickFocus);
    editStatus->setReadOnly(true);
    editStatus->setText(QStringLiteral("Monitor is not running."));

    buttonStatusOpen = new QPushButton(QStringLiteral("Open in Browser"), groupStatus);
    buttonStatusOpen->setGeometry(10, 50, 151, 23);
    buttonStatusOpen->setFocusPolicy(Qt::ClickFocus);
    buttonStatusOpen->setEnabled(false);
    connect(buttonStatusOpen, &QPushButton::clicked, this, &Display::clickedStatusOpen);

    setCentralWidget(widgetCentral);
    setWindowTitle(QStringLiteral("Tarnivo"));
    resize(191, 211);
    show();
}

void Display::clickedMenuStartOnLaunch(bool checked) {
    Settings::setStartOnLaunch(checked);
}

void Display::clickedMenuExit() {
    QCoreApplication::quit();
}

void Display::clickedAboutVersion() {
    if (!displayAboutVersion)
        displayAboutVersion = new DisplayAboutVersion();
    displayAboutVersion->exec();
}

void Display::clickedAboutAuthor() {
    if (!displayAboutAuthor)
        displayAboutAuthor = new DisplayAboutAuthor();
    displayAboutAuthor->exec();
}

void Display::showStopped(const QString &status) {
    editSettingsPort->setEnabled(true);
    buttonSettingsStart->setEnabled(true);
    buttonSettingsStop->setEnabled(false);
    buttonStatusOpen->setEnabled(false);
    editStatus->setText(status);
}

void Display::showBusy(const QString &status) {
    editSettingsPort->setEnabled(false);
    buttonSettingsStart->setEnabled(false);
    buttonSettingsStop->setEnabled(false);
    buttonStatusOpen->setEnabled(false);
    editStatus->setText(status);
}

void Display::showRunning() {
    editSettingsPort->setEnabled(false);
    buttonSettingsStart->setEnabled(false);
    buttonSettingsStop->setEnabled(true);
    buttonStatusOpen->setEnabled(true);
    editStatus->setText(QStringLiteral("Monitor is running."));
}

void Display::showHeartbeatProblem(const QString &problem) {
    strHeartbeatProblem = problem;
    showStatusTip();
}

void Display::showStatusTip() {
    QStringList lines{strStartCause, strHeartbeatProblem};
    lines.removeAll(QString());
    editStatus->setToolTip(lines.join(QLatin1Char('\n')));
}

void Display::clickedSettingsStart() {
    showBusy(QStringLiteral("Starting up ..."));
    strStartCause.clear();
    showStatusTip();

    const quint32 port = quint32(editSettingsPort->text().toInt(nullptr, 10));
    QString cause;
    if (!ServerControl::start(port, cause)) {
        // The status line keeps its short text; the cause is in its tooltip and the log.
        std::fprintf(stderr, "tarnivo: the server did not start: %s\n", qPrintable(cause));
        strStartCause = cause;
        showStatusTip();
        showStopped(QStringLiteral("An error occured."));
        return;
    }
    Settings::setPort(quint16(port));
    showRunning();
}

void Display::clickedSettingsStop() {
    showBusy(QStringLiteral("Shutting down ..."));
    ServerControl::stop();
    showStopped(QStringLiteral("Monitor is not running."));
}

void Display::clickedStatusOpen() {
    // The address, not "localhost": a browser may try the name over IPv6 first, and whatever
    // answers there is not asked about here.
    openInBrowser(QUrl(QStringLiteral("%1://127.0.0.1:%2/")
                           .arg(TlsCertificate::current()->enabled() ? "https" : "http")
                           .arg(intPort.load())));
}

namespace {
// Set by tests before any window exists, read on the GUI thread only.
bool desktopShellUsed = true;
} // namespace

void Display::setDesktopShellUsed(bool used) {
    desktopShellUsed = used;
}

void Display::openInBrowser(const QUrl &url) {
    if (!desktopShellUsed || !platform::openAsDesktopUser(url.toString().toStdString()))
        QDesktopServices::openUrl(url);
}
