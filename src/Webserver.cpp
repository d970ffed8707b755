#include "Webserver.h"

#include "WebserverThread.h"

Webserver::Webserver() : QTcpServer(nullptr) {}

void Webserver::incomingConnection(qintptr intSocket) {
    auto *thread = new WebserverThread(intSocket);
    thread->start(QThread::InheritPriority);
}
