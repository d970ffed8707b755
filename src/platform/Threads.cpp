// Plain system threads for work that needs none of the framework's thread machinery (a web
// connection lives a few milliseconds), and the bound on the C library's arenas they meet in.
#include "platform/Platform.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <iterator>
#include <mutex>
#include <utility>
#include <vector>
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

void preferShortTurns(int) {}

void limitMemoryArenas(int) {}
#else
// Stacks are kept here between threads of the same size. The C library's own stacks return
// their pages at every thread's end, and the next thread faults them in again, while the system
// tells the other processors to forget the mappings: with a thread per web connection that was
// about a tenth of a connection's processor time.
struct SystemThread {
    pthread_t handle;
    void *stack;           // null: the C library's own
    std::size_t stackSize; // without the guard page under it
};

namespace {
void *trampoline(void *start) {
    Start::run(start);
    return nullptr;
}

// The page below each stack stays unmapped, so that an overflow faults instead of writing over
// whatever lies there.
std::size_t pageSize() {
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

// The stacks kept between threads, at most keptLimit of them: a burst of connections leaves no
// more than that mapped after it. Never destroyed: a connection thread may still end while the
// process exits.
struct KeptStacks {
    std::mutex mutex; // guards stacks
    std::vector<std::pair<void *, std::size_t>> stacks;
};
constexpr std::size_t keptLimit = 64;

KeptStacks &kept() {
    static KeptStacks *const shared = new KeptStacks;
    return *shared;
}

void *takeStack(std::size_t size) {
    {
        KeptStacks &all = kept();
        std::lock_guard<std::mutex> lock(all.mutex);
        // The last kept first: its pages are the likeliest still in the processor's caches.
        for (auto stack = all.stacks.rbegin(); stack != all.stacks.rend(); ++stack) {
            if (stack->second == size) {
                void *const taken = stack->first;
                all.stacks.erase(std::next(stack).base());
                return taken;
            }
        }
    }
    void *mapping = mmap(nullptr, size + pageSize(), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    if (mprotect(mapping, pageSize(), PROT_NONE) != 0) {
        munmap(mapping, size + pageSize());
        return nullptr;
    }
    return static_cast<char *>(mapping) + pageSize();
}

void giveStack(void *stack, std::size_t size) {
    {
        KeptStacks &all = kept();
        std::lock_guard<std::mutex> lock(all.mutex);
        if (all.stacks.size() < keptLimit) {
            all.stacks.emplace_back(stack, size);
            return;
        }
    }
    munmap(static_cast<char *>(stack) - pageSize(), size + pageSize());
}
} // namespace

SystemThread *startThread(void (*function)(void *), void *argument, std::size_t stackSize) {
    auto *start = new (std::nothrow) Start{function, argument};
    auto *thread = new (std::nothrow) SystemThread{};
    pthread_attr_t attributes;
    bool started = false;
    if (start && thread && pthread_attr_init(&attributes) == 0) {
        if (stackSize == 0) {
            started = pthread_create(&thread->handle, &attributes, trampoline, start) == 0;
        } else {
            stackSize = (stackSize + pageSize() - 1) / pageSize() * pageSize();
            thread->stack = takeStack(stackSize);
            thread->stackSize = stackSize;
            started = thread->stack &&
                      pthread_attr_setstack(&attributes, thread->stack, stackSize) == 0 &&
                      pthread_create(&thread->handle, &attributes, trampoline, start) == 0;
            if (!started && thread->stack)
                giveStack(thread->stack, stackSize);
        }
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
    // Only now is the stack free: the system has cleared the thread's id, its last use of it.
    if (thread->stack)
        giveStack(thread->stack, thread->stackSize);
    delete thread;
}

void preferShortTurns(int microseconds) {
    // The system's own layout of its scheduling attributes; the C library declares none.
    struct SchedulingAttributes {
        uint32_t size;
        uint32_t policy;
        uint64_t flags;
        int32_t nice;
        uint32_t priority;
        uint64_t runtime;
        uint64_t deadline;
        uint64_t period;
    } attributes{};
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (nice == -1 && errno != 0)
        return;
    attributes.size = sizeof attributes;
    attributes.policy = SCHED_OTHER;
    // The nice value is set with the rest: it is given as it was.
    attributes.nice = nice;
    attributes.runtime = uint64_t(microseconds) * 1000;
    syscall(SYS_sched_setattr, 0, &attributes, 0);
}

void limitMemoryArenas(int arenas) {
    mallopt(M_ARENA_MAX, arenas);
}
#endif

} // namespace platform
