// Memory, computer name, processors and performance counters, as the live system reports them.
#define CHECK_MAIN
#include "check.h"
#include "windows_wine.h"

#include "platform/Platform.h"
#include "platform/Processes.h"
#include "platform/Volumes.h"
#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::string> splitAtNul(const std::string &list) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type nul = list.find('\0', start);
        if (nul == std::string::npos) {
            parts.push_back(list.substr(start));
            return parts;
        }
        parts.push_back(list.substr(start, nul - start));
        start = nul + 1;
    }
}

bool isDecimal(const std::string &text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// English name -> index, the first index of a name winning.
std::map<std::string, uint32_t> englishIndex() {
    std::map<std::string, uint32_t> index;
    const std::vector<std::string> parts = splitAtNul(platform::counterNameList());
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
        if (isDecimal(parts[i]))
            index.emplace(parts[i + 1], uint32_t(std::strtoul(parts[i].c_str(), nullptr, 10)));
    return index;
}

// The full path of an English-named counter in the system's language. Wine translates no
// names; its counter service knows a few English paths without a computer name instead.
std::string localPath(const std::string &object, const std::string &instance,
                      const std::string &counter) {
    const std::string computer = platform::computerName();
    const std::map<std::string, uint32_t> index = englishIndex();
    std::string localObject, localCounter;
    if (index.count(object) && index.count(counter)) {
        localObject = platform::lookupPerfNameByIndex(computer, index.at(object));
        localCounter = platform::lookupPerfNameByIndex(computer, index.at(counter));
    }
    if (localObject.empty() || localCounter.empty()) {
        CHECK(runningUnderWine());
        return "\\" + object + instance + "\\" + counter;
    }
    return "\\\\" + computer + "\\" + localObject + instance + "\\" + localCounter;
}

std::string upper(std::string text) {
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

TEST_CASE("memory status reports totals that hold their available parts") {
    const platform::MemoryStatus status = platform::memoryStatus();
    CHECK(status.totalPhys > 0);
    CHECK(status.availPhys > 0);
    CHECK(status.availPhys <= status.totalPhys);
    CHECK(status.totalPageFile >= status.totalPhys);
    CHECK(status.availPageFile <= status.totalPageFile);
    // The older call reads the same physical total.
    MEMORYSTATUS legacy{};
    legacy.dwLength = sizeof(legacy);
    GlobalMemoryStatus(&legacy);
    CHECK_EQ(status.totalPhys, uint64_t(legacy.dwTotalPhys));
}

TEST_CASE("the computer name is the one the 8-bit call and the environment report") {
    const std::string name = platform::computerName();
    CHECK(!name.empty());
    char narrow[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(narrow);
    if (GetComputerNameA(narrow, &size))
        CHECK_EQ(name, std::string(narrow));
    if (const char *environment = std::getenv("COMPUTERNAME"))
        CHECK_EQ(upper(name), upper(environment));
}

TEST_CASE("every logical processor is counted and described") {
    const uint32_t count = platform::processorCount();
    CHECK(count >= 1);
    CHECK_EQ(count, uint32_t(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
    const std::vector<uint32_t> groups = platform::processorGroups();
    CHECK_EQ(groups.size(), size_t(GetActiveProcessorGroupCount()));
    CHECK_EQ(platform::processorTotal(groups), count);
    // Processor 0's instance of the object that holds every group.
    CHECK_EQ(platform::processorCounterObject(), std::string("Processor Information"));
    const std::vector<std::string> listed =
        platform::orderedProcessorInstances(platform::counterInstances("Processor Information"));
    CHECK_EQ(platform::processorCounterInstance(0),
             listed.empty() ? std::string("0,0") : listed[0]);
    for (uint32_t i = 0; i < count; ++i) {
        const platform::ProcessorDescription description = platform::processorDescription(i);
        CHECK(!description.name.empty());
        CHECK(!description.identifier.empty());
        CHECK(description.name.find('\0') == std::string::npos);
        CHECK(description.identifier.find('\0') == std::string::npos);
    }
    // No key for a processor the machine does not have.
    const platform::ProcessorDescription missing = platform::processorDescription(count + 64);
    CHECK(missing.name.empty());
    CHECK(missing.identifier.empty());
}

TEST_CASE("the English counter-name list reads as index and name pairs") {
    const std::string list = platform::counterNameList();
    if (list.empty() && runningUnderWine())
        SKIP("Wine keeps no English counter-name list");
    const std::vector<std::string> parts = splitAtNul(list);
    // "index NUL name NUL ... NUL NUL": the terminating NULs leave an empty pair at the end.
    CHECK(parts.size() >= 4);
    CHECK(parts.size() % 2 == 0);
    CHECK(parts.size() >= 2 && parts[parts.size() - 2].empty() && parts.back().empty());
    for (std::size_t i = 0; i + 2 < parts.size(); i += 2)
        if (!isDecimal(parts[i])) {
            CHECK_EQ(parts[i], std::string("a decimal index"));
            break;
        }
    const std::string computer = platform::computerName();
    CHECK(platform::lookupPerfNameByIndex(computer, 0x7ffffff1u).empty());
    const std::map<std::string, uint32_t> index = englishIndex();
    if (index.count("Processor") == 0 && runningUnderWine())
        SKIP("Wine's counter-name list has no Processor object");
    CHECK(index.count("Processor") == 1 && index.count("% Processor Time") == 1);
    if (index.count("Processor") == 0)
        return;
    const std::string local = platform::lookupPerfNameByIndex(computer, index.at("Processor"));
    CHECK(!local.empty());
    CHECK(local.find('\0') == std::string::npos);
}

TEST_CASE("a query refuses a path that names no counter") {
    CHECK(platform::addCounter(nullptr, "\\Processor(0)\\% Processor Time") == nullptr);
    CHECK_EQ(platform::formattedCounterValue(nullptr, platform::FMT_LARGE), int64_t(0));
    platform::removeCounter(nullptr);
    platform::collectQuery(nullptr);
    const platform::QueryHandle query = platform::openQuery();
    CHECK(query != nullptr);
    const std::string computer = platform::computerName();
    CHECK(platform::addCounter(query, "\\\\" + computer + "\\No Such Object(0)\\No Counter") ==
          nullptr);
    CHECK(platform::addCounter(query, "not a counter path") == nullptr);
}

TEST_CASE("processor time reads 0 until collected twice, then a percentage") {
    const std::string path = localPath("Processor", "(0)", "% Processor Time");
    const platform::QueryHandle query = platform::openQuery();
    const platform::CounterHandle usage = platform::addCounter(query, path);
    if (usage == nullptr && runningUnderWine())
        SKIP("Wine's counter service has no " + path);
    CHECK(usage != nullptr);
    const uint32_t percent = platform::FMT_LARGE | platform::FMT_1000 | platform::FMT_NOCAP100;
    CHECK_EQ(platform::formattedCounterValue(usage, percent), int64_t(0));
    platform::collectQuery(query);
    CHECK_EQ(platform::formattedCounterValue(usage, percent), int64_t(0));
    Sleep(200);
    platform::collectQuery(query);
    const int64_t thousandths = platform::formattedCounterValue(usage, percent);
    CHECK(thousandths >= 0);
    // Uncapped, the counter service can overshoot 100 % by a little, not by much.
    CHECK(thousandths <= 110000);
    platform::removeCounter(usage);
}

TEST_CASE("system up time read through the query agrees with the tick count") {
    const std::string path = localPath("System", "", "System Up Time");
    const platform::QueryHandle query = platform::openQuery();
    const platform::CounterHandle upTime = platform::addCounter(query, path);
    if (upTime == nullptr && runningUnderWine())
        SKIP("Wine's counter service has no " + path);
    CHECK(upTime != nullptr);
    platform::collectQuery(query);
    const int64_t seconds = platform::formattedCounterValue(upTime, platform::FMT_LARGE);
    const int64_t ticks = int64_t(GetTickCount64() / 1000);
    CHECK(seconds > 0);
    CHECK(seconds >= ticks - 2 && seconds <= ticks + 2);
    CHECK_EQ(platform::counterCount(query), size_t(1));
    platform::removeCounter(upTime);
    CHECK_EQ(platform::counterCount(query), size_t(0));
}

TEST_CASE("a counter for an instance that does not exist is refused, as on Linux") {
    const platform::QueryHandle query = platform::openQuery();
    const std::string known = "\\\\" + platform::computerName() + "\\System\\System Up Time";
    const platform::CounterHandle upTime = platform::addCounter(query, known);
    CHECK(upTime != nullptr);
    CHECK(platform::addCounter(
              query, localPath("Processor", "(no such instance)", "% Processor Time")) == nullptr);
    CHECK(platform::addCounter(
              query, localPath("System", "(no such instance)", "System Up Time")) == nullptr);
    platform::removeCounter(upTime);
}

TEST_CASE("bytes the code page does not define become U+FFFD, the rest is decoded") {
    const UINT japanese = 932;
    CHECK_EQ(platform::codePageToUtf8(japanese, "\x82\xa0", 2), std::string("\xE3\x81\x82"));
    // A lead byte without its trail, at the end and before a byte that cannot trail it.
    CHECK_EQ(platform::codePageToUtf8(japanese, "a\x82", 2), std::string("a\xEF\xBF\xBD"));
    CHECK_EQ(platform::codePageToUtf8(japanese, "\x82\x0a\x82\xa0", 4),
             std::string("\xEF\xBF\xBD\n\xE3\x81\x82"));
    CHECK_EQ(platform::codePageToUtf8(CP_UTF8, "ok\xff", 3), std::string("ok\xEF\xBF\xBD"));
}

TEST_CASE("the process list holds this process, its image name, times and working set") {
    // Some time of its own first, so that its processor time is not 0.
    const DWORD until = GetTickCount() + 50;
    while (GetTickCount() < until) {
    }
    const std::vector<platform::ProcessUse> list = platform::processes();
    const auto self = std::find_if(list.begin(), list.end(), [](const platform::ProcessUse &p) {
        return p.pid == GetCurrentProcessId();
    });
    CHECK(self != list.end());
    if (self != list.end()) {
        CHECK_EQ(self->name, std::string("windows_system_test.exe"));
        FILETIME created{}, ended{}, kernel{}, user{};
        CHECK(GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user));
        CHECK_EQ(self->started,
                 uint64_t(created.dwHighDateTime) << 32 | uint64_t(created.dwLowDateTime));
        CHECK(self->cpuMicroseconds > 0);
        CHECK(self->residentBytes > 0);
    }
    CHECK(std::none_of(list.begin(), list.end(),
                       [](const platform::ProcessUse &p) { return p.pid == 0; }));
}

TEST_CASE("every volume listed holds its free space within its size") {
    for (const platform::VolumeSpace &volume : platform::volumeSpaces()) {
        CHECK(!volume.path.empty() && volume.path.back() == '\\');
        CHECK(volume.free <= volume.size);
    }
}
