// One connection: read one request, answer it, close.
#pragma once

#include <QThread>

class WebserverThread : public QThread {
    Q_OBJECT
public:
    explicit WebserverThread(qintptr intSocket);
    ~WebserverThread() override;

    // Waits until no connection thread is running any more, at most msecs; true when none is.
    // Used at exit, so that nothing is torn down under a thread that still serves.
    static bool waitForAll(int msecs);

public slots:
    void run() override;

private:
    qintptr intSocket;
};
