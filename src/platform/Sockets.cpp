// Socket helpers for descriptors that no Qt object owns yet (the listener's admission control).
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

#include <cstring>

namespace platform {

std::string peerAddress(intptr_t descriptor) {
    sockaddr_storage address;
    std::memset(&address, 0, sizeof address);
#ifdef _WIN32
    int length = sizeof address;
    const SOCKET socket = static_cast<SOCKET>(descriptor);
#else
    socklen_t length = sizeof address;
    const int socket = static_cast<int>(descriptor);
#endif
    if (getpeername(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
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

} // namespace platform
