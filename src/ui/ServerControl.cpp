#include "ServerControl.h"

#include "Discovery.h"
#include "SharedState.h"
#include "TlsCertificate.h"
#include "WebAccess.h"
#include "Webserver.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

Webserver *webserver = nullptr;

namespace {
const int selfTestWaitMs = 5000;
const char startPage[] = "assets/menu.html";

// Empty until set: then the directory beside the executable is used.
QString chosenWebRoot;
} // namespace

QString ServerControl::webRoot() {
    if (!chosenWebRoot.isEmpty())
        return chosenWebRoot;
    const QString directory = QCoreApplication::applicationDirPath();
    const QString beside = directory + QLatin1String("/content");
    // Installed by a Linux package, the program lies in /usr/bin and its content in
    // /usr/share/tarnivo.
    const QString shared = QDir::cleanPath(directory + QLatin1String("/../share/tarnivo/content"));
    return QDir::toNativeSeparators(
        !QFileInfo(beside).isDir() && QFileInfo(shared).isDir() ? shared : beside);
}

void ServerControl::setWebRoot(const QString &directory) {
    // Made absolute now: a relative directory means the one the program was started in.
    chosenWebRoot = directory.isEmpty()
                        ? QString()
                        : QDir::toNativeSeparators(QFileInfo(directory).absoluteFilePath());
}

QString ServerControl::listenFailure(quint32 port, QAbstractSocket::SocketError error,
                                     const QString &systemText) {
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("port %1 is in use by another program").arg(port);
    case QAbstractSocket::SocketAccessError:
#ifdef Q_OS_WIN
        // Windows has no privileged ports; it refuses the ports it has reserved for others
        // (Hyper-V, WSL2, Docker) and those another program holds for itself alone.
        return QStringLiteral("port %1 is refused (%2): Windows may have reserved it, as \"netsh "
                              "interface ipv4 show excludedportrange protocol=tcp\" shows, or "
                              "another program holds it for itself alone")
            .arg(port)
            .arg(systemText);
#else
        if (port < 1024)
            return QStringLiteral("port %1 is below 1024, which needs root or the "
                                  "CAP_NET_BIND_SERVICE capability")
                .arg(port);
#endif
        return QStringLiteral("port %1 is refused to this account: %2").arg(port).arg(systemText);
    default:
        return QStringLiteral("cannot listen on port %1: %2").arg(port).arg(systemText);
    }
}

bool ServerControl::start(quint32 port, QString &cause) {
    intPort = port;
    const QString root = webRoot();
    setContentPath(root);

    // A listener of an earlier Start is never left running without a reference.
    stop();

    if (port < 1 || port > 65535) {
        cause = QStringLiteral("port %1 is out of range: use 1 to 65535").arg(port);
        return false;
    }
    if (!QFileInfo(root + QLatin1Char('/') + QLatin1String(startPage)).isFile()) {
        cause =
            QFileInfo(root).isDir()
                ? QStringLiteral("the web root %1 has no %2").arg(root, QLatin1String(startPage))
                : QStringLiteral("the web root %1 is missing").arg(root);
        return false;
    }

    webserver = new Webserver();
    if (!webserver->tlsProblem().isEmpty()) {
        cause = webserver->tlsProblem();
        stop();
        return false;
    }
    // Success is reported only for our own listener: when the port is taken (or needs rights
    // we lack), whatever answers on it is not Tarnivo.
    // Both families, in one socket: a port held on IPv4 only leaves [::1]:PORT to any local
    // user, and browsers try "localhost" there first.
    if (!webserver->listen(QHostAddress::Any, quint16(port))) {
        cause = listenFailure(port, webserver->listenError(), webserver->listenErrorText());
        stop();
        return false;
    }
    // The heartbeat gives the port on which the server listens now, and only while it does.
    intListeningPort = webserver->serverPort();
    if (selfTest(port, cause).isEmpty()) {
        stop();
        return false;
    }
    cause.clear();
    Discovery::instance().setRunning(true);
    return true;
}

void ServerControl::stop() {
    Discovery::instance().setRunning(false);
    intListeningPort = 0;
    // Connections already accepted finish on their own; they never refer to the listener.
    delete webserver;
    webserver = nullptr;
}

QString ServerControl::selfTest(quint32 port, QString &cause) {
    QNetworkAccessManager manager;
    // Straight to this machine's own listener: a proxy the system names would answer for it
    // (or not at all), and asking the system for one loads its proxy libraries for good.
    manager.setProxy(QNetworkProxy::NoProxy);
    const bool https = TlsCertificate::current()->enabled();
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(QStringLiteral("%1://127.0.0.1:%2/%3")
                                                                .arg(https ? "https" : "http")
                                                                .arg(port)
                                                                .arg(QLatin1String(startPage)))));
    // Our own listener holds the port: whose certificate answers is known, and a certificate
    // for the machine's names never names 127.0.0.1.
    if (https)
        reply->ignoreSslErrors();

    // Ends at the first body bytes, or at once when the reply ends without any (a refused
    // connection, a not-found answer), or after five seconds.
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(selfTestWaitMs, &loop, &QEventLoop::quit);
    if (reply->isRunning())
        loop.exec(QEventLoop::AllEvents);

    const QString text = QString::fromUtf8(reply->readAll().constData());
    if (text.isEmpty())
        cause = reply->error() != QNetworkReply::NoError
                    ? QStringLiteral("the server's own test request failed: %1")
                          .arg(reply->errorString())
                    : QStringLiteral("the server did not answer its own test request within "
                                     "%1 seconds")
                          .arg(selfTestWaitMs / 1000);
    delete reply;
    return text;
}
