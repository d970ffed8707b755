#include "Counter.h"

void Counter::remove() {
    if (handle)
        platform::removeCounter(handle);
    handle = nullptr;
}
