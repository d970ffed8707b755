#include "Counter.h"

void Counter::remove() {
    if (handle)
        platform::removeCounter(handle);
    handle = nullptr;
}

void Counter::takeOver(Counter &older) {
    remove();
    handle = older.handle;
    value = older.value;
    older.handle = nullptr;
}
