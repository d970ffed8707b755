// The platform layer against the running machine, checked with the kernel's other interfaces.
#define CHECK_MAIN
#include "check.h"

#include "platform/DiskHealth.h"
#include "platform/Host.h"
#include "platform/Platform.h"
#include "platform/Volumes.h"

#include <arpa/inet.h>
#include <chrono>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>
#include <vector>

TEST_CASE("memory totals match the kernel's own figures") {
    struct sysinfo info {};
    CHECK(sysinfo(&info) == 0);
    const uint64_t unit = info.mem_unit;
    const platform::MemoryStatus status = platform::memoryStatus();
    CHECK_EQ(status.totalPhys, uint64_t(info.totalram) * unit);
    CHECK_EQ(status.totalPageFile, uint64_t(info.totalram + info.totalswap) * unit);
    CHECK(status.availPhys > 0 && status.availPhys <= status.totalPhys);
    CHECK(status.availPageFile >= status.availPhys && status.availPageFile <= status.totalPageFile);
}

TEST_CASE("the host is the one uname names, started as long ago as the kernel has been up") {
    utsname names{};
    CHECK(uname(&names) == 0);
    CHECK_EQ(platform::hostName(), std::string(names.nodename));
    CHECK_EQ(platform::operatingSystem().version, std::string(names.release));
    struct sysinfo info {};
    CHECK(sysinfo(&info) == 0);
    const int64_t started = int64_t(time(nullptr)) - int64_t(info.uptime);
    const int64_t boot = platform::bootTime();
    CHECK(boot >= started - 2 && boot <= started + 2);
}

TEST_CASE("every disk answers for its health or says why it did not") {
    for (const uint32_t n : platform::physicalDiskNumbers()) {
        const platform::DiskHealth health = platform::diskHealth(n);
        std::printf("    disk %u: %s\n", n,
                    health.kind == platform::DiskHealth::Kind::None ? health.why.c_str()
                    : health.failing                                ? "failing"
                                                                    : "healthy");
        CHECK((health.kind == platform::DiskHealth::Kind::None) != health.why.empty());
    }
    CHECK(!platform::diskHealth(999999).why.empty());
}

TEST_CASE("the processor count matches the online processors") {
    CHECK_EQ(platform::processorCount(), uint32_t(sysconf(_SC_NPROCESSORS_ONLN)));
    const platform::ProcessorDescription first = platform::processorDescription(0);
    CHECK(!first.identifier.empty());
}

TEST_CASE("the counter-name list is index, name pairs in index order") {
    const std::string list = platform::counterNameList();
    CHECK(list.size() > 2 && list.compare(list.size() - 2, 2, std::string(2, '\0')) == 0);
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < list.size() - 1) {
        const size_t end = list.find('\0', start);
        parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    CHECK(parts.size() % 2 == 0);
    unsigned long previous = 0;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        const unsigned long index = std::stoul(parts[i]);
        CHECK(index > previous);
        previous = index;
        CHECK_EQ(platform::lookupPerfNameByIndex("", uint32_t(index)), parts[i + 1]);
    }
    CHECK_EQ(platform::lookupPerfNameByIndex("", 238), std::string("Processor"));
    CHECK_EQ(platform::lookupPerfNameByIndex("", 3), std::string());
}

TEST_CASE("adapters are the system's interfaces under their own indices") {
    const std::vector<platform::Adapter> list = platform::adapters();
    uint32_t previous = 0;
    for (const platform::Adapter &adapter : list) {
        CHECK(adapter.description != "lo");
        CHECK_EQ(if_nametoindex(adapter.description.c_str()), adapter.index);
        CHECK(adapter.index > previous);
        previous = adapter.index;
        in_addr parsed{};
        if (!adapter.address.empty())
            CHECK(inet_pton(AF_INET, adapter.address.c_str(), &parsed) == 1);
    }
}

TEST_CASE("a live processor counter reads a percentage after two collections") {
    // Never closed, as in the program; kept where the leak checker sees it.
    static const platform::QueryHandle query = platform::openQuery();
    const std::string host = platform::computerName();
    CHECK(!host.empty());
    platform::CounterHandle cpu =
        platform::addCounter(query, "\\\\" + host + "\\Processor(0)\\% Processor Time");
    CHECK(cpu != nullptr);
    platform::collectQuery(query);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(120);
    volatile uint64_t spin = 0;
    while (std::chrono::steady_clock::now() < until)
        spin = spin + 1;
    platform::collectQuery(query);
    const int64_t usage = platform::formattedCounterValue(
        cpu, platform::FMT_LARGE | platform::FMT_1000 | platform::FMT_NOCAP100);
    CHECK(usage >= 0 && usage <= 100000);
    platform::removeCounter(cpu);
}

TEST_CASE("loopback traffic shows in the interface's byte rate") {
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    CHECK(bind(receiver, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    CHECK(getsockname(receiver, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    int buffer = 4 << 20;
    setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);

    // Never closed, as in the program; kept where the leak checker sees it.
    static const platform::QueryHandle query = platform::openQuery();
    platform::CounterHandle sent = platform::addCounter(
        query, "\\\\" + platform::computerName() + "\\Network Interface(lo)\\Bytes Sent/sec");
    CHECK(sent != nullptr);
    const auto begin = std::chrono::steady_clock::now();
    platform::collectQuery(query);
    const std::vector<char> payload(1000, 'x');
    const int datagrams = 200;
    for (int i = 0; i < datagrams; ++i)
        sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&address),
               sizeof address);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    platform::collectQuery(query);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const int64_t rate =
        platform::formattedCounterValue(sent, platform::FMT_LARGE | platform::FMT_NOCAP100);
    // At least the payloads went out within the interval, which lay inside the measured span.
    CHECK(double(rate) * seconds >= double(datagrams) * payload.size());
    platform::removeCounter(sent);
    close(sender);
    close(receiver);
}

TEST_CASE("volume space agrees with statvfs to the byte") {
    // The root file system is always listed on a machine with a disk; others may write to it
    // meanwhile, so a reading counts only when statvfs gives the same figures before and after.
    const auto figures = [](const std::string &path) {
        struct statvfs space {};
        statvfs(path.c_str(), &space);
        return std::make_pair(uint64_t(space.f_blocks) * space.f_frsize,
                              uint64_t(space.f_bavail) * space.f_frsize);
    };
    bool compared = false;
    for (int attempt = 0; attempt < 20 && !compared; ++attempt) {
        std::vector<std::pair<uint64_t, uint64_t>> before;
        const auto probe = platform::volumeSpaces();
        for (const auto &volume : probe)
            before.push_back(figures(volume.path));
        const auto volumes = platform::volumeSpaces();
        bool steady = volumes.size() == probe.size();
        for (size_t i = 0; steady && i < volumes.size(); ++i)
            steady = figures(volumes[i].path) == before[i];
        if (!steady)
            continue;
        CHECK(!volumes.empty());
        for (size_t i = 0; i < volumes.size(); ++i) {
            CHECK_EQ(volumes[i].size, before[i].first);
            CHECK_EQ(volumes[i].free, before[i].second);
            CHECK(volumes[i].free <= volumes[i].size);
        }
        compared = true;
    }
    CHECK(compared);
}
