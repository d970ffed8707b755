// Reads performance counters through the platform layer for bench/accuracy.
//
//   counter_probe "Processor(0)\% Processor Time" "PhysicalDisk(0)\Disk Write Bytes/sec" ...
//
// The counters are added on this computer. Every line read from standard input collects the
// query once and prints, tab-separated, the seconds since the previous collection followed by
// each counter's figure: per second for rates, thousandths of a percent for percentages.
// Whoever drives it chooses the moments, so that its own independent reading can be taken at
// the same instants.
#include "platform/Platform.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    platform::QueryHandle query = platform::openQuery();
    const std::string prefix = "\\\\" + platform::computerName() + "\\";
    std::vector<platform::CounterHandle> counters;
    std::vector<uint32_t> flags;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        platform::CounterHandle counter = platform::addCounter(query, prefix + name);
        if (!counter) {
            std::printf("unknown\t%s\n", name.c_str());
            return 1;
        }
        counters.push_back(counter);
        const bool percentage = name.find("\\%") != std::string::npos;
        flags.push_back(percentage
                            ? platform::FMT_LARGE | platform::FMT_1000 | platform::FMT_NOCAP100
                            : platform::FMT_LARGE | platform::FMT_NOCAP100);
    }
    std::printf("ready\t%zu\n", counters.size());
    std::fflush(stdout);
    auto previous = std::chrono::steady_clock::now();
    std::string line;
    while (std::getline(std::cin, line)) {
        platform::collectQuery(query);
        const auto now = std::chrono::steady_clock::now();
        std::printf("%.6f", std::chrono::duration<double>(now - previous).count());
        previous = now;
        for (size_t i = 0; i < counters.size(); ++i)
            std::printf("\t%lld", static_cast<long long>(
                                      platform::formattedCounterValue(counters[i], flags[i])));
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
