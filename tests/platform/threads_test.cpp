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
std::atomic<bool> release{true};

// Writes most of its stack (a stack smaller than asked faults here), notes where it lies and
// waits for release.
void touchStack(void *stackAt) {
    volatile char used[stackSize * 3 / 4];
    std::memset(const_cast<char *>(used), 1, sizeof used);
    *static_cast<uintptr_t *>(stackAt) = reinterpret_cast<uintptr_t>(&used[0]);
    while (!release)
        ;
}

TEST_CASE("threads at once have stacks of their own, each as large as asked") {
    uintptr_t a = 0, b = 0;
    release = false;
    platform::SystemThread *first = platform::startThread(touchStack, &a, stackSize);
    platform::SystemThread *second = platform::startThread(touchStack, &b, stackSize);
    release = true;
    CHECK(first && second);
    platform::joinThread(first);
    platform::joinThread(second);
    CHECK_MSG((a > b ? a - b : b - a) >= stackSize, "stacks too close");
}

#ifndef _WIN32
void run(void (*function)(void *), void *argument, std::size_t size = stackSize) {
    platform::joinThread(platform::startThread(function, argument, size));
}

TEST_CASE("a joined thread's stack is kept, its pages in memory, for the next of its size") {
    uintptr_t first = 0, second = 0, other = 0;
    run(touchStack, &first);
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE)),
                    from = (first + page - 1) & ~(page - 1);
    unsigned char resident[stackSize / 2 / 4096] = {};
    const std::size_t pages = stackSize / 2 / page;
    CHECK_EQ(mincore(reinterpret_cast<void *>(from), pages * page, resident), 0);
    std::size_t inMemory = 0;
    for (std::size_t i = 0; i < pages; ++i)
        inMemory += resident[i] & 1;
    CHECK_EQ(inMemory, pages);
    run(touchStack, &second);
    CHECK_EQ(second, first);
    run(touchStack, &other, stackSize * 2); // another size never takes it
    CHECK(other != first);
}

// The calling thread's slice as the system shows it (-1: none) and its nice value.
void readTurns(void *turns) {
    std::ifstream file("/proc/thread-self/sched");
    std::string line;
    while (std::getline(file, line))
        if (line.compare(0, 8, "se.slice") == 0)
            static_cast<long long *>(turns)[0] = std::stoll(line.substr(line.find(':') + 1));
    static_cast<long long *>(turns)[1] = getpriority(PRIO_PROCESS, 0);
}

void askShortTurns(void *turns) {
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 5); // kept by the asking
    platform::preferShortTurns(100);
    run(readTurns, turns);
}

TEST_CASE("short turns are asked for the threads started after, keeping the nice value") {
    long long turns[2] = {-1, 0};
    run(askShortTurns, turns);
    CHECK_EQ(turns[1], 5LL);
    utsname system;
    int major = 0, minor = 0;
    if (uname(&system) != 0 || std::sscanf(system.release, "%d.%d", &major, &minor) != 2 ||
        major * 100 + minor < 612 || turns[0] < 0)
        SKIP("this kernel gives threads no turns of their own length");
    CHECK_EQ(turns[0], 100000LL);
}
#endif

} // namespace
