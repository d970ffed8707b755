#include "PerfdataThread.h"

PerfdataThread::PerfdataThread() {}
void PerfdataThread::requestStop() {}
void PerfdataThread::run() {}
