// What the web server asks of the system: files opened under exactly the names asked for, and a
// listening port that no other socket shares. Runs natively and, cross-compiled, under Wine.
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
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A directory of its own holding "plain.txt" and an empty "sub", removed at the end.
struct Folder {
    fs::path path = fs::temp_directory_path() / ("tarnivo-files-" + std::to_string(std::rand()));
    Folder() {
        fs::create_directories(path / "sub");
        std::ofstream(path / "plain.txt") << "plain";
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string name(const std::string &relative) const { return path.u8string() + relative; }
};

bool opens(const std::string &path) {
    const int descriptor = platform::openRegularFile(path);
    if (descriptor < 0)
        return false;
    platform::closeFile(descriptor);
    return true;
}

} // namespace

TEST_CASE("a file opens only under its own name, a final dot or blank included") {
    const Folder folder;
    CHECK(opens(folder.name("/plain.txt")));
    CHECK(opens(folder.name("/sub/../plain.txt")));
    CHECK(opens(folder.name("/./sub/./../plain.txt")));
    // Windows itself drops these from a name unless the path goes to the file system as it is.
    CHECK(!opens(folder.name("/plain.txt.")));
    CHECK(!opens(folder.name("/plain.txt ")));
    CHECK(!opens(folder.name("/sub")));
    CHECK(!platform::finalPathOfDirectory(folder.name("/sub/..")).empty());
}

TEST_CASE("the listening port is not shared with another socket") {
    const intptr_t listener = platform::listenExclusively("127.0.0.1", 0);
    CHECK(listener != -1);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    socklen_t length = sizeof address;
    CHECK(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    CHECK(address.sin_port != 0);
#ifdef _WIN32
    BOOL exclusive = FALSE;
    int size = sizeof exclusive;
    CHECK(getsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<char *>(&exclusive), &size) == 0);
    CHECK(exclusive);
#endif
    // Another socket that asks to share the address gets no part of the port.
    const auto other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int on = 1;
    setsockopt(other, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&on), sizeof on);
    CHECK(bind(other, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0);
    platform::closeSocket(intptr_t(other));
    platform::closeSocket(listener);
    CHECK(platform::listenExclusively("not an address", 0) == -1);
}

TEST_CASE("a connection is taken without waiting, with its peer, ready for its own waits") {
    const intptr_t listener = platform::listenExclusively("127.0.0.1", 0);
    CHECK(listener != -1 && platform::setNonBlocking(listener));
    CHECK(platform::acceptConnection(listener) == -1);
    const uint16_t port = platform::localPort(listener);
    CHECK(port != 0);
    const auto client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    CHECK(connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
    CHECK(platform::waitReadable(listener, 5000) == 1);
    // The peer's address comes with the connection: it decides who may ask.
    std::string peer;
    const intptr_t accepted = platform::acceptConnection(listener, &peer);
    CHECK(accepted >= 0);
    CHECK_EQ(peer, std::string("127.0.0.1"));
    // Nothing sent yet: a read reports so at once rather than blocking the thread.
    char byte = 0;
    CHECK(platform::receiveSome(accepted, &byte, 1) == -1);
    platform::closeSocket(accepted);
    platform::closeSocket(intptr_t(client));
    platform::closeSocket(listener);
}
