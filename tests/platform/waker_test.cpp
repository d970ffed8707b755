// Socket waits that another thread ends, on a datagram socket of the loopback address.
#define CHECK_MAIN
#include "check.h"

#include "platform/Platform.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using platform::WaitResult;
using Clock = std::chrono::steady_clock;

// A datagram socket on the loopback address that can send itself a datagram. The waker is
// opened first: on Windows it also starts the socket library.
struct Loopback {
    platform::WakerHandle waker = platform::openWaker();
    intptr_t socket = -1;
    sockaddr_in address;
    Loopback() {
        socket = static_cast<intptr_t>(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
    }
    ~Loopback() {
        platform::closeSocket(socket);
        platform::closeWaker(waker);
    }
    void sendToSelf() {
        sendto(socket, "x", 1, 0, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
};

} // namespace

TEST_CASE("a wait ends on data, on a wake-up, or at its time-out") {
    Loopback loop;
    CHECK(loop.waker != -1);
    CHECK(loop.socket != -1);
    CHECK(platform::waitReadable(loop.socket, loop.waker, 50) == WaitResult::TimedOut);
    loop.sendToSelf();
    CHECK(platform::waitReadable(loop.socket, loop.waker, 2000) == WaitResult::Readable);

    // Wake-ups given before the wait are kept, and all of them are taken by that one wait.
    Loopback quiet;
    platform::wake(quiet.waker);
    platform::wake(quiet.waker);
    CHECK(platform::waitReadable(quiet.socket, quiet.waker, 2000) == WaitResult::Woken);
    CHECK(platform::waitReadable(quiet.socket, quiet.waker, 50) == WaitResult::TimedOut);
}

TEST_CASE("another thread ends a wait without a time-out") {
    Loopback loop;
    const Clock::time_point start = Clock::now();
    std::thread waker([&loop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        platform::wake(loop.waker);
    });
    CHECK(platform::waitReadable(loop.socket, loop.waker, -1) == WaitResult::Woken);
    CHECK(Clock::now() - start >= std::chrono::milliseconds(90));
    waker.join();
}
