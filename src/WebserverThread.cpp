#include "WebserverThread.h"

#include <QTcpSocket>

WebserverThread::WebserverThread(qintptr socket) : intSocket(socket) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

WebserverThread::~WebserverThread() { intSocket = 0; }

bool WebserverThread::waitForAll(int) { return true; }

void WebserverThread::run() {
    QTcpSocket socket;
    socket.setSocketDescriptor(intSocket);
    socket.waitForReadyRead(1000);
    socket.write("HTTP/1.0 404 Not Found\r\nCache-Control: no-cache\r\nConnection: keep-alive\r\n"
                 "Content-Length: 0\r\n\r\n");
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(30000);
}
