// Sockets by descriptor: the listener's admission control, and the blocking-with-time-out I/O of
// a connection thread, which needs no socket object and no event machinery of its own.
#ifdef _WIN32
// WSAPoll came with Vista.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#endif

#include "platform/Platform.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstring>
#include <system_error>

namespace platform {

namespace {
// A socket address, dotted; empty for other families.
std::string addressText(const sockaddr_storage &address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
        if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text))
            return {};
        return text;
    }
    if (address.ss_family == AF_INET6) {
        // A listener on both families sees IPv4 peers as mapped addresses: they are reported
        // dotted, so that one host has one name whichever way it connects.
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&v6->sin6_addr);
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        if (std::memcmp(bytes, mapped, sizeof mapped) == 0) {
            if (!inet_ntop(AF_INET, bytes + 12, text, sizeof text))
                return {};
        } else if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) {
            return {};
        }
        return text;
    }
    return {};
}

// One end of a connected socket, dotted: getpeername or getsockname.
template <typename Name> std::string endAddress(intptr_t descriptor, Name name) {
    sockaddr_storage address;
    std::memset(&address, 0, sizeof address);
#ifdef _WIN32
    int length = sizeof address;
    const SOCKET socket = static_cast<SOCKET>(descriptor);
#else
    socklen_t length = sizeof address;
    const int socket = static_cast<int>(descriptor);
#endif
    if (name(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    return addressText(address);
}
} // namespace

std::string peerAddress(intptr_t descriptor) {
    return endAddress(descriptor, [](auto socket, sockaddr *address, auto *length) {
        return getpeername(socket, address, length);
    });
}

std::string localAddress(intptr_t descriptor) {
    return endAddress(descriptor, [](auto socket, sockaddr *address, auto *length) {
        return getsockname(socket, address, length);
    });
}

namespace {
ListenRefusal lastListenRefusal() {
#ifdef _WIN32
    const int error = WSAGetLastError();
    return error == WSAEADDRINUSE ? ListenRefusal::InUse
           : error == WSAEACCES   ? ListenRefusal::Denied
                                  : ListenRefusal::Other;
#else
    const int error = errno;
    return error == EADDRINUSE                 ? ListenRefusal::InUse
           : error == EACCES || error == EPERM ? ListenRefusal::Denied
                                               : ListenRefusal::Other;
#endif
}
} // namespace

intptr_t listenExclusively(const std::string &address, uint16_t port, ListenRefusal *refusal,
                           std::string *why) {
    if (refusal)
        *refusal = ListenRefusal::Other;
    sockaddr_storage local;
    std::memset(&local, 0, sizeof local);
    auto *v4 = reinterpret_cast<sockaddr_in *>(&local);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&local);
    int length = 0;
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    } else {
        return -1;
    }
    const int family = local.ss_family;
    // "::" is every address of both families: one socket holds the port on IPv4 too, so that
    // no other program can take one family's half.
    const bool bothFamilies = family == AF_INET6 && address == "::";
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return -1;
    const SOCKET socket = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET)
        return -1;
    BOOL on = TRUE;
    const int option = SO_EXCLUSIVEADDRUSE;
#else
    const int socket = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    // A listening port is never shared here; this only lets a restart bind past the closed
    // connections of the last run.
    int on = 1;
    const int option = SO_REUSEADDR;
#endif
    // IPv6 only unless both families are asked for (the default differs between systems).
    const decltype(on) v6only = bothFamilies ? 0 : 1;
    if (setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char *>(&on), sizeof on) !=
            0 ||
        (family == AF_INET6 &&
         setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&v6only),
                    sizeof v6only) != 0) ||
        bind(socket, reinterpret_cast<const sockaddr *>(&local), length) != 0 ||
        listen(socket, SOMAXCONN) != 0) {
        if (refusal)
            *refusal = lastListenRefusal();
        if (why)
#ifdef _WIN32
            *why = std::system_category().message(WSAGetLastError());
#else
            *why = std::strerror(errno);
#endif
        closeSocket(intptr_t(socket));
        return -1;
    }
    if (refusal)
        *refusal = ListenRefusal::None;
    return intptr_t(socket);
}

intptr_t acceptConnection(intptr_t listener, std::string *peer) {
    sockaddr_storage address;
    std::memset(&address, 0, sizeof address);
#ifdef _WIN32
    int length = sizeof address;
    const SOCKET accepted =
        accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr *>(&address), &length);
    if (accepted == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        // A connection the client reset before it was taken is gone; others may wait.
        return error == WSAEWOULDBLOCK || error == WSAECONNRESET ? -1 : -2;
    }
    // The accepted socket is not inherited, as the listener (made without inheritance) is not.
    u_long on = 1;
    if (ioctlsocket(accepted, FIONBIO, &on) != 0) {
        closesocket(accepted);
        return -1;
    }
    if (peer)
        *peer = addressText(address);
    return intptr_t(accepted);
#else
    // Both flags in the one call that makes the descriptor.
    socklen_t length = sizeof address;
    const int accepted = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr *>(&address),
                                 &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (accepted >= 0) {
        if (peer)
            *peer = addressText(address);
        return accepted;
    }
    // A connection that failed before it was taken is gone; others may wait.
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED ||
                   errno == EPROTO
               ? -1
               : -2;
#endif
}

uint16_t localPort(intptr_t descriptor) {
    sockaddr_storage address;
    std::memset(&address, 0, sizeof address);
#ifdef _WIN32
    int length = sizeof address;
    if (getsockname(static_cast<SOCKET>(descriptor), reinterpret_cast<sockaddr *>(&address),
                    &length) != 0)
        return 0;
#else
    socklen_t length = sizeof address;
    if (getsockname(static_cast<int>(descriptor), reinterpret_cast<sockaddr *>(&address),
                    &length) != 0)
        return 0;
#endif
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    return 0;
}

void closeSocket(intptr_t descriptor) {
#ifdef _WIN32
    closesocket(static_cast<SOCKET>(descriptor));
#else
    close(static_cast<int>(descriptor));
#endif
}

void shutdownSending(intptr_t descriptor) {
#ifdef _WIN32
    shutdown(static_cast<SOCKET>(descriptor), SD_SEND);
#else
    shutdown(static_cast<int>(descriptor), SHUT_WR);
#endif
}

void shutdownBoth(intptr_t descriptor) {
#ifdef _WIN32
    shutdown(static_cast<SOCKET>(descriptor), SD_BOTH);
#else
    shutdown(static_cast<int>(descriptor), SHUT_RDWR);
#endif
}

bool setNonBlocking(intptr_t descriptor) {
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(static_cast<SOCKET>(descriptor), FIONBIO, &on) == 0;
#else
    // One call, where reading the flags and writing them back would take two.
    int on = 1;
    return ioctl(static_cast<int>(descriptor), FIONBIO, &on) == 0;
#endif
}

namespace {

int waitFor(intptr_t descriptor, short events, int msecs) {
#ifdef _WIN32
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(descriptor);
    entry.events = events;
    const int ready = WSAPoll(&entry, 1, msecs < 0 ? -1 : msecs);
#else
    pollfd entry{};
    entry.fd = static_cast<int>(descriptor);
    entry.events = events;
    int ready;
    do {
        ready = poll(&entry, 1, msecs < 0 ? -1 : msecs);
    } while (ready < 0 && errno == EINTR);
#endif
    // A hang-up or an error is "ready" too: the next read or write reports it.
    return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

bool wouldBlock() {
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

int clampedLength(int64_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

} // namespace

int waitReadable(intptr_t descriptor, int msecs) {
#ifdef _WIN32
    return waitFor(descriptor, POLLRDNORM, msecs);
#else
    return waitFor(descriptor, POLLIN, msecs);
#endif
}

int waitWritable(intptr_t descriptor, int msecs) {
#ifdef _WIN32
    return waitFor(descriptor, POLLWRNORM, msecs);
#else
    return waitFor(descriptor, POLLOUT, msecs);
#endif
}

namespace {
int64_t receiveWith(intptr_t descriptor, char *buffer, int64_t size, int flags) {
#ifdef _WIN32
    const int got = recv(static_cast<SOCKET>(descriptor), buffer, clampedLength(size), flags);
#else
    const ssize_t got =
        recv(static_cast<int>(descriptor), buffer, size_t(clampedLength(size)), flags);
#endif
    if (got >= 0)
        return got;
    return wouldBlock() ? -1 : -2;
}
} // namespace

int64_t receiveSome(intptr_t descriptor, char *buffer, int64_t size) {
    return receiveWith(descriptor, buffer, size, 0);
}

int64_t peekSome(intptr_t descriptor, char *buffer, int64_t size) {
    return receiveWith(descriptor, buffer, size, MSG_PEEK);
}

intptr_t duplicateSocket(intptr_t descriptor) {
#ifdef _WIN32
    WSAPROTOCOL_INFOW info;
    if (WSADuplicateSocketW(static_cast<SOCKET>(descriptor), GetCurrentProcessId(), &info) != 0)
        return -1;
    const SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                   &info, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return copy == INVALID_SOCKET ? -1 : intptr_t(copy);
#else
    return fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0);
#endif
}

int64_t sendSome(intptr_t descriptor, const char *data, int64_t size) {
#ifdef _WIN32
    const int sent = send(static_cast<SOCKET>(descriptor), data, clampedLength(size), 0);
#else
    // No SIGPIPE for a client that has gone: the failure is reported here instead.
    const ssize_t sent =
        send(static_cast<int>(descriptor), data, size_t(clampedLength(size)), MSG_NOSIGNAL);
#endif
    if (sent >= 0)
        return sent;
    return wouldBlock() ? -1 : -2;
}

} // namespace platform
