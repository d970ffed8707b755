// Blocking socket waits that another thread can end: the heartbeat sleeps in the kernel until a
// datagram comes, and is still told at once when to send a round or to stop.
#include "platform/Platform.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>

namespace platform {

#ifdef _WIN32

// Windows waits on sockets only, so the waker is a datagram socket on the loopback address
// that sends itself one byte; it is non-blocking, so a full queue only drops a surplus wake-up.
WakerHandle openWaker() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return -1;
    const SOCKET waker = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (waker == INVALID_SOCKET) {
        WSACleanup();
        return -1;
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    u_long nonBlocking = 1;
    int length = sizeof address;
    if (bind(waker, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ioctlsocket(waker, FIONBIO, &nonBlocking) != 0 ||
        getsockname(waker, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        connect(waker, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        closesocket(waker);
        WSACleanup();
        return -1;
    }
    return static_cast<WakerHandle>(waker);
}

void wake(WakerHandle waker) {
    const char byte = 1;
    send(static_cast<SOCKET>(waker), &byte, 1, 0);
}

void closeWaker(WakerHandle waker) {
    if (waker == -1)
        return;
    closesocket(static_cast<SOCKET>(waker));
    WSACleanup();
}

static void reset(WakerHandle waker) {
    char bytes[64];
    while (recv(static_cast<SOCKET>(waker), bytes, sizeof bytes, 0) > 0) {
    }
}

WaitResult waitReadable(intptr_t socket, WakerHandle waker, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    if (waker != -1)
        FD_SET(static_cast<SOCKET>(waker), &readable);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (ready < 0)
        return WaitResult::Failed;
    if (ready == 0)
        return WaitResult::TimedOut;
    if (waker != -1 && FD_ISSET(static_cast<SOCKET>(waker), &readable)) {
        reset(waker);
        return WaitResult::Woken;
    }
    return WaitResult::Readable;
}

#else

// An event counter: any number of wake-ups before the next wait read as one.
WakerHandle openWaker() {
    return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void wake(WakerHandle waker) {
    const uint64_t one = 1;
    // Fails only when the counter is already near its top, and then the waiter is awake anyway.
    [[maybe_unused]] const ssize_t written = write(static_cast<int>(waker), &one, sizeof one);
}

void closeWaker(WakerHandle waker) {
    if (waker != -1)
        close(static_cast<int>(waker));
}

WaitResult waitReadable(intptr_t socket, WakerHandle waker, int timeoutMs) {
    pollfd watched[2];
    std::memset(watched, 0, sizeof watched);
    watched[0].fd = static_cast<int>(socket);
    watched[0].events = POLLIN;
    watched[1].fd = static_cast<int>(waker); // a negative descriptor is ignored by poll()
    watched[1].events = POLLIN;
    int ready;
    do {
        ready = poll(watched, 2, timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return WaitResult::Failed;
    if (ready == 0)
        return WaitResult::TimedOut;
    if (watched[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(static_cast<int>(waker), &count, sizeof count);
        return WaitResult::Woken;
    }
    // POLLERR or POLLNVAL on the socket also end the wait: the caller finds nothing to read.
    return WaitResult::Readable;
}

#endif

} // namespace platform
