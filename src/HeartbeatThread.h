#pragma once

#include <QThread>

class HeartbeatThread : public QThread {
    Q_OBJECT
public:
    HeartbeatThread();
    // Ends the receive loop promptly (it does not wait for another datagram); used at exit.
    void requestStop();
public slots:
    void run() override;
};
