// Plain system threads: the stacks they are given and kept, and the turns they ask for.
#define CHECK_MAIN
#include "check.h"

#include "platform/Platform.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr std::size_t stackSize = 256 * 1024;

// What a thread saw of itself: where its stack lies, and whether all of it could be used.
struct Seen {
    uintptr_t stackAt = 0;
    std::atomic<bool> *release = nullptr;
};

void touchStack(void *argument) {
    auto *seen = static_cast<Seen *>(argument);
    // Most of the stack asked for, written: a stack smaller than asked would fault here.
    volatile char used[stackSize * 3 / 4];
    std::memset(const_cast<char *>(used), 1, sizeof used);
    seen->stackAt = reinterpret_cast<uintptr_t>(&used[0]);
    while (seen->release && !seen->release->load())
        ;
}

TEST_CASE("threads at once have stacks of their own, each as large as asked") {
    std::atomic<bool> release{false};
    Seen first{0, &release}, second{0, &release};
    platform::SystemThread *a = platform::startThread(touchStack, &first, stackSize);
    platform::SystemThread *b = platform::startThread(touchStack, &second, stackSize);
    CHECK(a && b);
    release = true;
    if (a)
        platform::joinThread(a);
    if (b)
        platform::joinThread(b);
    const uintptr_t apart = first.stackAt > second.stackAt ? first.stackAt - second.stackAt
                                                           : second.stackAt - first.stackAt;
    CHECK_MSG(apart >= stackSize, "stacks " + std::to_string(apart) + " bytes apart");
}

#ifndef _WIN32
TEST_CASE("a joined thread's stack is kept, its pages in memory, for the next of its size") {
    Seen first, second, other;
    platform::joinThread(platform::startThread(touchStack, &first, stackSize));
    // The pages the thread wrote are still there: the next thread does not fault them in again.
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (first.stackAt + page - 1) / page * page;
    const std::size_t pages = stackSize / 2 / page;
    std::string resident(pages, '\0');
    CHECK_EQ(mincore(reinterpret_cast<void *>(from), pages * page,
                     reinterpret_cast<unsigned char *>(&resident[0])),
             0);
    std::size_t inMemory = 0;
    for (const char flags : resident)
        inMemory += flags & 1;
    CHECK_EQ(inMemory, pages);
    platform::joinThread(platform::startThread(touchStack, &second, stackSize));
    CHECK_EQ(second.stackAt, first.stackAt);
    // A thread of another size never takes it.
    platform::joinThread(platform::startThread(touchStack, &other, stackSize * 2));
    CHECK(other.stackAt != first.stackAt);
}

// A value of the calling thread's scheduling, as the system shows it; -1 when it shows none.
long long scheduling(const char *name) {
    std::ifstream file("/proc/thread-self/sched");
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, std::strlen(name), name) == 0)
            return std::stoll(line.substr(line.find(':') + 1));
    }
    return -1;
}

struct Turns {
    long long slice = -1;
    int nice = 0;
};

void readTurns(void *argument) {
    auto *turns = static_cast<Turns *>(argument);
    turns->slice = scheduling("se.slice");
    turns->nice = getpriority(PRIO_PROCESS, 0);
}

void askShortTurns(void *argument) {
    // This thread's own nice value, which asking must keep.
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 5);
    platform::preferShortTurns(100);
    platform::joinThread(platform::startThread(readTurns, argument, stackSize));
}

TEST_CASE("short turns are asked for the threads started after, keeping the nice value") {
    Turns after;
    platform::joinThread(platform::startThread(askShortTurns, &after, stackSize));
    CHECK_EQ(after.nice, 5);
    utsname system;
    int major = 0, minor = 0;
    if (uname(&system) != 0 || std::sscanf(system.release, "%d.%d", &major, &minor) != 2 ||
        major * 100 + minor < 612 || after.slice < 0)
        SKIP("this kernel gives threads no turns of their own length");
    CHECK_EQ(after.slice, 100000LL);
}
#endif

} // namespace
