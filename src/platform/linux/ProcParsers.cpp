#include "ProcParsers.h"

#include <cstring>
#include <sstream>

namespace platform::linux_proc {

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        result.push_back(line);
    return result;
}

namespace {

std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        result.push_back(word);
    return result;
}

bool startsWith(const std::string &text, const char *prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

} // namespace

std::string trim(const std::string &text) {
    const char *blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

namespace {

// A cursor over one file's text, read by hand: the sampling pass parses four files a second,
// and streams would cost more than the reads themselves.
class Cursor {
public:
    Cursor(const char *text, size_t size) : at(text), end(text + size) {}

    bool done() const { return at >= end; }
    void skipBlanks() {
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
    }
    // The next blank-separated word of the line; empty at its end.
    std::pair<const char *, size_t> word() {
        skipBlanks();
        const char *start = at;
        while (at < end && *at != ' ' && *at != '\t' && *at != '\n')
            ++at;
        return {start, size_t(at - start)};
    }
    // The next word as a number, as wordNumber() reads it; 0 when the line has none left.
    uint64_t value() {
        const auto [text, size] = word();
        return wordNumber(text, size);
    }
    // Up to the next character c on this line (not taken); false when the line has none.
    bool until(char c) {
        while (at < end && *at != c && *at != '\n')
            ++at;
        return at < end && *at == c;
    }
    void nextLine() {
        while (at < end && *at != '\n')
            ++at;
        if (at < end)
            ++at;
    }
    const char *position() const { return at; }
    void advance() { ++at; }

    // Decimal digits only; anything else (a sign, a stray letter, overflow) reads as 0, so that
    // a damaged line gives a zero figure rather than a wild one.
    static uint64_t wordNumber(const char *text, size_t size) {
        if (size == 0 || size > 20)
            return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < size; ++i) {
            const char c = text[i];
            if (c < '0' || c > '9')
                return 0;
            const uint64_t digit = static_cast<uint64_t>(c - '0');
            if (v > (UINT64_MAX - digit) / 10)
                return 0;
            v = v * 10 + digit;
        }
        return v;
    }

private:
    const char *at;
    const char *end;
};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

MemInfo parseMeminfo(const char *text, size_t size) {
    struct Key {
        const char *name;
        uint64_t kib = 0;
        bool seen = false;
    } keys[] = {{"MemTotal"}, {"MemAvailable"}, {"MemFree"}, {"Buffers"},
                {"Cached"},   {"SwapTotal"},    {"SwapFree"}};
    Cursor in(text, size);
    while (!in.done()) {
        const char *line = in.position();
        if (in.until(':')) {
            const size_t length = size_t(in.position() - line);
            in.advance();
            for (Key &key : keys) {
                if (std::strlen(key.name) == length && std::memcmp(key.name, line, length) == 0) {
                    // The last line of a key wins, as a map filled line by line would keep it.
                    const auto [value, valueSize] = in.word();
                    if (valueSize > 0) {
                        key.kib = Cursor::wordNumber(value, valueSize);
                        key.seen = true;
                    }
                }
            }
        }
        in.nextLine();
    }
    const auto bytes = [&keys](int i) { return keys[i].kib * 1024; };
    MemInfo info;
    info.memTotal = bytes(0);
    info.memAvailable = keys[1].seen ? bytes(1) : bytes(2) + bytes(3) + bytes(4);
    info.swapTotal = bytes(5);
    info.swapFree = bytes(6);
    return info;
}

MemInfo parseMeminfo(const std::string &text) {
    return parseMeminfo(text.data(), text.size());
}

void parseStat(const char *text, size_t size, std::vector<CpuTimes> &result) {
    result.clear();
    Cursor in(text, size);
    while (!in.done()) {
        const auto [name, length] = in.word();
        if (length >= 4 && std::memcmp(name, "cpu", 3) == 0 && name[3] >= '0' && name[3] <= '9') {
            CpuTimes times;
            times.cpu = static_cast<uint32_t>(Cursor::wordNumber(name + 3, length - 3));
            // user nice system idle iowait irq softirq steal guest guest_nice: the kernel
            // already counts guest time inside user and nice, so the last two would count it
            // twice.
            uint64_t f[8];
            uint64_t total = 0;
            for (uint64_t &value : f)
                total += value = in.value();
            // Waiting for I/O is idle time, as Windows counts it.
            times.total = total;
            times.busy = total - (f[3] + f[4]);
            result.push_back(times);
        }
        in.nextLine();
    }
}

std::vector<CpuTimes> parseStat(const std::string &text) {
    std::vector<CpuTimes> result;
    parseStat(text.data(), text.size(), result);
    return result;
}

void parseNetDev(const char *text, size_t size, std::vector<InterfaceCounters> &result) {
    size_t count = 0;
    Cursor in(text, size);
    while (!in.done()) {
        // The name ends at the last colon before the figures; a large first figure touches it
        // ("eth0:1234"), so the split is on the colon, not on blanks.
        const char *line = in.position();
        if (in.until(':')) {
            const char *colon = in.position();
            in.advance();
            uint64_t f[10];
            size_t fields = 0;
            for (; fields < 10; ++fields) {
                const auto [word, length] = in.word();
                if (length == 0)
                    break;
                f[fields] = Cursor::wordNumber(word, length);
            }
            if (fields == 10) {
                while (line < colon && blank(*line))
                    ++line;
                const char *last = colon;
                while (last > line && blank(last[-1]))
                    --last;
                // Rows are reused from pass to pass: a name no longer than before costs no
                // allocation.
                if (count == result.size())
                    result.emplace_back();
                InterfaceCounters &counters = result[count++];
                counters.name.assign(line, size_t(last - line));
                counters.rxBytes = f[0];
                counters.rxPackets = f[1];
                counters.txBytes = f[8];
                counters.txPackets = f[9];
            }
        }
        in.nextLine();
    }
    result.resize(count);
}

std::vector<InterfaceCounters> parseNetDev(const std::string &text) {
    std::vector<InterfaceCounters> result;
    parseNetDev(text.data(), text.size(), result);
    return result;
}

void parseDiskstats(const char *text, size_t size, std::vector<DiskCounters> &result) {
    size_t count = 0;
    Cursor in(text, size);
    while (!in.done()) {
        uint64_t f[14];
        const char *name = nullptr;
        size_t nameLength = 0, fields = 0;
        for (; fields < 14; ++fields) {
            const auto [word, length] = in.word();
            if (length == 0)
                break;
            if (fields == 2) {
                name = word;
                nameLength = length;
            }
            f[fields] = Cursor::wordNumber(word, length);
        }
        if (fields == 14) {
            if (count == result.size())
                result.emplace_back();
            DiskCounters &disk = result[count++];
            disk.major = static_cast<uint32_t>(f[0]);
            disk.minor = static_cast<uint32_t>(f[1]);
            disk.name.assign(name, nameLength);
            disk.reads = f[3];
            disk.readSectors = f[5];
            disk.writes = f[7];
            disk.writeSectors = f[9];
            disk.ioTicksMs = f[12];
        }
        in.nextLine();
    }
    result.resize(count);
}

std::vector<DiskCounters> parseDiskstats(const std::string &text) {
    std::vector<DiskCounters> result;
    parseDiskstats(text.data(), text.size(), result);
    return result;
}

std::string routeAddress(const std::string &hex) {
    if (hex.size() != 8)
        return {};
    uint32_t word = 0;
    for (char c : hex) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else
            return {};
        word = word << 4 | digit;
    }
    // The kernel prints the address's network-order bytes as one native word; laying the word
    // back into memory gives the bytes in network order on any byte order.
    unsigned char bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

std::vector<Route> parseRoutes(const std::string &text) {
    std::vector<Route> result;
    for (const std::string &line : lines(text)) {
        const std::vector<std::string> f = words(line);
        if (f.size() < 8 || f[0] == "Iface")
            continue;
        Route route;
        route.interface = f[0];
        route.destination = routeAddress(f[1]);
        route.gateway = routeAddress(f[2]);
        route.flags = static_cast<uint32_t>(std::strtoul(f[3].c_str(), nullptr, 16));
        route.mask = routeAddress(f[7]);
        result.push_back(route);
    }
    return result;
}

std::string defaultGateway(const std::vector<Route> &routes, const std::string &interface) {
    const uint32_t up = 0x1, viaGateway = 0x2;
    for (const Route &route : routes) {
        if (route.interface == interface && route.destination == "0.0.0.0" &&
            route.mask == "0.0.0.0" && (route.flags & (up | viaGateway)) == (up | viaGateway))
            return route.gateway;
    }
    return {};
}

std::vector<CpuInfoBlock> parseCpuinfo(const std::string &text) {
    // Blocks are separated by blank lines. Blocks without a "processor" line (the "Hardware"
    // trailer of ARM kernels, the model line some print first) describe every processor alike.
    std::vector<CpuInfoBlock> processors;
    CpuInfoBlock shared;
    CpuInfoBlock block;
    auto close = [&]() {
        if (block.count("processor"))
            processors.push_back(block);
        else
            shared.insert(block.begin(), block.end());
        block.clear();
    };
    for (const std::string &line : lines(text)) {
        if (trim(line).empty()) {
            close();
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        block[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
    close();
    for (CpuInfoBlock &processor : processors)
        processor.insert(shared.begin(), shared.end());
    return processors;
}

namespace {
std::string value(const CpuInfoBlock &block, const char *key) {
    auto it = block.find(key);
    return it == block.end() ? std::string() : it->second;
}
} // namespace

std::string processorName(const CpuInfoBlock &block) {
    for (const char *key : {"model name", "Processor", "cpu model", "cpu", "uarch"}) {
        const std::string name = value(block, key);
        if (!name.empty())
            return name;
    }
    return {};
}

std::string processorIdentifier(const CpuInfoBlock &block, const std::string &machine) {
    const std::string vendor = value(block, "vendor_id");
    const std::string family = value(block, "cpu family");
    const std::string model = value(block, "model");
    const std::string stepping = value(block, "stepping");
    if (!vendor.empty() && !family.empty()) {
        const bool wide = machine == "x86_64";
        std::string prefix;
        if (vendor == "GenuineIntel")
            prefix = wide ? "Intel64" : "x86";
        else if (vendor == "AuthenticAMD")
            prefix = wide ? "AMD64" : "x86";
        else
            prefix = vendor;
        std::string text = prefix + " Family " + family;
        if (!model.empty())
            text += " Model " + model;
        if (!stepping.empty())
            text += " Stepping " + stepping;
        return text;
    }
    const std::string architecture = value(block, "CPU architecture");
    if (!architecture.empty()) {
        std::string text =
            (machine.empty() ? std::string("ARM") : machine) + " Family " + architecture;
        const std::string part = value(block, "CPU part");
        if (!part.empty())
            text += " Model " + part;
        const std::string revision = value(block, "CPU revision");
        if (!revision.empty())
            text += " Revision " + revision;
        return text;
    }
    return machine;
}

std::string unescapeOctal(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Mount> parseMounts(const std::string &text) {
    const auto unescape = unescapeOctal;
    std::vector<Mount> result;
    for (const std::string &line : lines(text)) {
        const std::vector<std::string> f = words(line);
        if (f.size() < 3)
            continue;
        result.push_back({unescape(f[0]), unescape(f[1]), f[2]});
    }
    return result;
}

std::map<std::string, std::string> parseUdevProperties(const std::string &text) {
    std::map<std::string, std::string> result;
    for (const std::string &line : lines(text)) {
        if (!startsWith(line, "E:"))
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        result[line.substr(2, equals - 2)] = line.substr(equals + 1);
    }
    return result;
}

std::string decodeUdevEscapes(const std::string &text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            out += static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace platform::linux_proc
