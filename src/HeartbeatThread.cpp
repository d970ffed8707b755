#include "HeartbeatThread.h"

HeartbeatThread::HeartbeatThread() {}
void HeartbeatThread::requestStop() {}
void HeartbeatThread::run() {}
