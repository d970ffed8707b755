#include "LinuxAdapters.h"

#include "ProcParsers.h"
#include "SystemFiles.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace platform::linux_adapters {

using linux_files::readLine;
using linux_files::underRoot;

namespace {

std::string dotted(const sockaddr *address) {
    if (!address || address->sa_family != AF_INET)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto *ipv4 = reinterpret_cast<const sockaddr_in *>(address);
    if (!inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text))
        return {};
    return text;
}

// A sysfs counter, or -1 when it cannot be read (a missing file, a link that is down).
long long attribute(const std::string &path) {
    const std::string text = readLine(path);
    if (text.empty())
        return -1;
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return end && *end == '\0' ? value : -1;
}

} // namespace

std::vector<InterfaceAddress> liveAddresses() {
    std::vector<InterfaceAddress> result;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || !entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        result.push_back({entry->ifa_name, dotted(entry->ifa_addr), dotted(entry->ifa_netmask)});
    }
    freeifaddrs(list);
    return result;
}

std::vector<Adapter> readAdapters(const std::string &root,
                                  const std::vector<InterfaceAddress> &addresses) {
    const std::string net = underRoot(root, "/sys/class/net");
    const auto routes =
        linux_proc::parseRoutes(linux_files::readText(underRoot(root, "/proc/net/route")));
    const auto counters =
        linux_proc::parseNetDev(linux_files::readText(underRoot(root, "/proc/net/dev")));
    const long long loopbackType = 772; // ARPHRD_LOOPBACK

    std::vector<std::pair<long long, Adapter>> found;
    for (const std::string &name : linux_files::directoryEntries(net)) {
        const std::string base = net + "/" + name;
        const long long type = attribute(base + "/type");
        if (type == loopbackType || (type < 0 && name == "lo"))
            continue;
        Adapter adapter;
        adapter.description = name;
        // The query finds an interface's counters by its name, byte for byte.
        adapter.counterInstance = name;
        const long long index = attribute(base + "/ifindex");
        adapter.index = index > 0 ? static_cast<uint32_t>(index) : 0;
        for (const InterfaceAddress &address : addresses) {
            if (address.interface == name) {
                adapter.address = address.address;
                adapter.mask = address.mask;
                break;
            }
        }
        adapter.gateway = linux_proc::defaultGateway(routes, name);
        // flags is hexadecimal ("0x1003"); carrier cannot be read while the interface is down.
        const unsigned long flags = std::strtoul(readLine(base + "/flags").c_str(), nullptr, 16);
        adapter.running = (flags & 0x1) != 0 && attribute(base + "/carrier") == 1; // IFF_UP
        // The kernel reports -1 (or refuses the read) when the link is down or its driver does
        // not know the speed; the adapter list then says 0, as it does for an unknown speed.
        const long long megabits = attribute(base + "/speed");
        if (readLine(base + "/operstate") == "up" && megabits > 0)
            adapter.speed = static_cast<uint64_t>(megabits) * 1000000u;
        // The kernel's whole octet counts; the status document prints them in 32 bits.
        long long rx = attribute(base + "/statistics/rx_bytes");
        long long tx = attribute(base + "/statistics/tx_bytes");
        for (const auto &row : counters) {
            if (row.name != name)
                continue;
            if (rx < 0)
                rx = static_cast<long long>(row.rxBytes);
            if (tx < 0)
                tx = static_cast<long long>(row.txBytes);
        }
        adapter.inOctets = rx > 0 ? static_cast<uint64_t>(rx) : 0;
        adapter.outOctets = tx > 0 ? static_cast<uint64_t>(tx) : 0;
        found.emplace_back(index, adapter);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<Adapter> result;
    for (auto &entry : found)
        result.push_back(std::move(entry.second));
    return result;
}

} // namespace platform::linux_adapters
