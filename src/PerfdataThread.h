#pragma once

#include <QThread>

class PerfdataThread : public QThread {
    Q_OBJECT
public:
    PerfdataThread();
    // Ends the loop after the running pass and wakes its sleep; used at exit.
    void requestStop();
public slots:
    void run() override;
};
