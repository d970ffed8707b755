// The TCP listener: hands every accepted connection to a connection thread of its own.
#pragma once

#include <QTcpServer>

class Webserver : public QTcpServer {
    Q_OBJECT
public:
    Webserver();
public slots:
    void incomingConnection(qintptr intSocket) override;
};
