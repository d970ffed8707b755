// The network adapters as sysfs, the routing table and the interface addresses describe them.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace platform::linux_adapters {

struct InterfaceAddress {
    std::string interface;
    std::string address;
    std::string mask;
};
// The IPv4 addresses of the running system (getifaddrs), in the kernel's order: an
// interface's primary address comes before its secondary ones.
std::vector<InterfaceAddress> liveAddresses();

// One adapter per interface below root/sys/class/net except loopback, in interface-index
// order; each takes the first of its addresses in the given list.
std::vector<Adapter> readAdapters(const std::string &root,
                                  const std::vector<InterfaceAddress> &addresses);

} // namespace platform::linux_adapters
