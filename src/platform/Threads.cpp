// Plain system threads for work that needs none of the framework's thread machinery (a web
// connection lives a few milliseconds), and the bound on the C library's arenas they meet in.
#include "platform/Platform.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <malloc.h>
#include <pthread.h>
#endif

#include <new>

namespace platform {

namespace {
// What a new thread runs, handed to it on the heap (its creator may return before it starts).
struct Start {
    void (*function)(void *);
    void *argument;

    static void run(void *start) {
        const Start what = *static_cast<Start *>(start);
        delete static_cast<Start *>(start);
        what.function(what.argument);
    }
};
} // namespace

#ifdef _WIN32
struct SystemThread {
    HANDLE handle;
};

namespace {
unsigned __stdcall trampoline(void *start) {
    Start::run(start);
    return 0;
}
} // namespace

SystemThread *startThread(void (*function)(void *), void *argument, std::size_t stackSize) {
    auto *start = new (std::nothrow) Start{function, argument};
    if (!start)
        return nullptr;
    // The size is what is reserved; pages are committed as the thread touches them.
    const uintptr_t handle = _beginthreadex(nullptr, unsigned(stackSize), trampoline, start,
                                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == 0) {
        delete start;
        return nullptr;
    }
    return new SystemThread{reinterpret_cast<HANDLE>(handle)};
}

void joinThread(SystemThread *thread) {
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

void limitMemoryArenas(int) {}
#else
struct SystemThread {
    pthread_t handle;
};

namespace {
void *trampoline(void *start) {
    Start::run(start);
    return nullptr;
}
} // namespace

SystemThread *startThread(void (*function)(void *), void *argument, std::size_t stackSize) {
    auto *start = new (std::nothrow) Start{function, argument};
    auto *thread = new (std::nothrow) SystemThread{};
    pthread_attr_t attributes;
    bool started = false;
    if (start && thread && pthread_attr_init(&attributes) == 0) {
        if (stackSize == 0 || pthread_attr_setstacksize(&attributes, stackSize) == 0)
            started = pthread_create(&thread->handle, &attributes, trampoline, start) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (started)
        return thread;
    delete start;
    delete thread;
    return nullptr;
}

void joinThread(SystemThread *thread) {
    pthread_join(thread->handle, nullptr);
    delete thread;
}

void limitMemoryArenas(int arenas) {
    mallopt(M_ARENA_MAX, arenas);
}
#endif

} // namespace platform
