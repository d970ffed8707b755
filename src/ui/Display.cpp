#include "Display.h"

#include "Discovery.h"
#include "DisplayAboutAuthor.h"
#include "DisplayAboutVersion.h"
#include "Main.h"
#include "SharedState.h"
#include "Webserver.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

// The current listener: made at Start, deleted at Stop or when Start fails. GUI thread only.
Webserver *webserver = nullptr;

namespace {
const int selfTestWaitMs = 5000;

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

#ifdef Q_OS_WIN
const char webRootSuffix[] = "\\content";
#else
const char webRootSuffix[] = "/content";
#endif
} // namespace

Display::Display() : QMainWindow(nullptr) {
    menuBarMain = new QMenuBar(this);
    menuMenu = new QMenu(QStringLiteral("Menu"), menuBarMain);
    menuBarMain->addAction(menuMenu->menuAction());
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
    editSettingsPort->setText(QStringLiteral("80"));
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

void Display::clickedSettingsStart() {
    showBusy(QStringLiteral("Starting up ..."));

    intPort = editSettingsPort->text().toInt(nullptr, 10);
    setContentPath(QCoreApplication::applicationDirPath() + QLatin1String(webRootSuffix));

    // A listener of an earlier Start is never left running without a reference.
    intListeningPort = 0;
    delete webserver;
    webserver = new Webserver();

    // Success is reported only for our own listener: when the port is taken (or needs rights
    // we lack), whatever answers on it is not Tarnivo.
    if (!webserver->listen(QHostAddress::AnyIPv4, quint16(intPort.load() & 0xFFFF))) {
        delete webserver;
        webserver = nullptr;
        showStopped(QStringLiteral("An error occured."));
        return;
    }
    intListeningPort = webserver->serverPort();

    if (selfTest().isEmpty()) {
        intListeningPort = 0;
        delete webserver;
        webserver = nullptr;
        showStopped(QStringLiteral("An error occured."));
        return;
    }
    showRunning();
    // Looking for other machines is allowed from now until Stop, and only when asked.
    Discovery::instance().setRunning(true);
}

QString Display::selfTest() {
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(
        QUrl(QStringLiteral("http://localhost:%1/assets/menu.html").arg(intPort.load()))));

    // Ends at the first body bytes, or at once when the reply ends without any (a refused
    // connection, a not-found answer), or after five seconds. Events keep flowing meanwhile,
    // so the listener on this thread accepts the request.
    QEventLoop loop;
    connect(reply, &QNetworkReply::readyRead, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(selfTestWaitMs, &loop, &QEventLoop::quit);
    if (reply->isRunning())
        loop.exec(QEventLoop::AllEvents);

    const QString text = QString::fromUtf8(reply->readAll().constData());
    delete reply;
    return text;
}

void Display::clickedSettingsStop() {
    showBusy(QStringLiteral("Shutting down ..."));
    Discovery::instance().setRunning(false);
    intListeningPort = 0;
    // Connections already accepted finish on their own; they never refer to the listener.
    delete webserver;
    webserver = nullptr;
    showStopped(QStringLiteral("Monitor is not running."));
}

void Display::clickedStatusOpen() {
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://localhost:%1/").arg(intPort.load())));
}
