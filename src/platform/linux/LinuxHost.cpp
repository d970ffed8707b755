// Host facts on Linux, read below the root directory so that fixture trees can stand in for
// the live system: /etc/os-release, /proc/sys/kernel, /proc/stat and /run.
#include "LinuxHost.h"

#include "ProcParsers.h"
#include "SystemFiles.h"
#include "platform/Platform.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <utmp.h>

namespace platform {

namespace linux_host {

namespace {
// A double-quoted value as a shell reads it: backslash keeps the next of $ ` " \ as it is.
std::string unquote(const std::string &value) {
    if (value.size() < 2 || value.front() != value.back() ||
        (value.front() != '"' && value.front() != '\''))
        return value;
    const std::string inner = value.substr(1, value.size() - 2);
    if (value.front() == '\'')
        return inner;
    std::string out;
    for (size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size() &&
            std::strchr("$`\"\\", inner[i + 1]) != nullptr)
            ++i;
        out += inner[i];
    }
    return out;
}

// A fixed-size text field of a utmp record: up to its NUL, never past the field.
template <size_t N> std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}
} // namespace

std::map<std::string, std::string> parseKeyValues(const std::string &text) {
    std::map<std::string, std::string> fields;
    for (const std::string &raw : linux_proc::lines(text)) {
        const std::string line = linux_proc::trim(raw);
        const size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos || equals == 0)
            continue;
        fields[line.substr(0, equals)] = unquote(line.substr(equals + 1));
    }
    return fields;
}

int64_t bootTimeOfStat(const std::string &text) {
    const size_t at = text.find("\nbtime ");
    if (at == std::string::npos)
        return 0;
    char *end = nullptr;
    const long long seconds = std::strtoll(text.c_str() + at + 7, &end, 10);
    return seconds > 0 ? seconds : 0;
}

std::optional<Session> logindSession(const std::map<std::string, std::string> &fields) {
    const auto value = [&fields](const char *key) {
        const auto found = fields.find(key);
        return found == fields.end() ? std::string() : found->second;
    };
    // "user", and "user-early", "user-incomplete" or "user-light" in newer systemd; greeters,
    // lock screens, "manager" and "background" sessions are nobody signing in.
    const std::string kind = value("CLASS");
    if (value("USER").empty() || (kind != "user" && kind.rfind("user-", 0) != 0))
        return std::nullopt;
    Session session;
    session.user = value("USER");
    session.state =
        value("STATE").empty() ? value("ACTIVE") == "1" ? "active" : "online" : value("STATE");
    if (!value("REMOTE_HOST").empty())
        session.where = value("REMOTE_HOST");
    else if (!value("SEAT").empty())
        session.where = value("SEAT");
    else
        session.where = value("TTY");
    return session;
}

std::vector<Session> utmpSessions(const std::string &bytes) {
    std::vector<Session> found;
    for (size_t at = 0; at + sizeof(utmp) <= bytes.size(); at += sizeof(utmp)) {
        utmp record{};
        std::memcpy(&record, bytes.data() + at, sizeof record);
        if (record.ut_type != USER_PROCESS || record.ut_user[0] == '\0')
            continue;
        const std::string host = field(record.ut_host);
        found.push_back(
            {field(record.ut_user), "active", host.empty() ? field(record.ut_line) : host});
    }
    return found;
}

} // namespace linux_host

namespace {
std::string rooted(const std::string &path) {
    return linux_files::underRoot(rootDirectory(), path);
}

// A fact that changes only with an update or a restart of the system, read at most once a
// minute for each tree: every scrape and every dashboard asks for it.
template <typename T> class Lasting {
public:
    explicit Lasting(T (*read)()) : read(read) {}
    T value() {
        const std::string root = rootDirectory();
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        if (!known || root != knownRoot || now - readAt >= std::chrono::minutes(1)) {
            last = read();
            knownRoot = root;
            readAt = now;
            known = true;
        }
        return last;
    }

private:
    T (*const read)();
    // Guards the rest: connection threads ask at any time.
    std::mutex mutex;
    bool known = false;
    std::string knownRoot;
    std::chrono::steady_clock::time_point readAt;
    T last{};
};

OperatingSystem readOperatingSystem() {
    // /etc/os-release, or where a system has none, the vendor's copy it would link to.
    std::string text = linux_files::readText(rooted("/etc/os-release"));
    if (text.empty())
        text = linux_files::readText(rooted("/usr/lib/os-release"));
    const auto fields = linux_host::parseKeyValues(text);
    OperatingSystem system;
    const auto pretty = fields.find("PRETTY_NAME");
    const auto name = fields.find("NAME");
    system.name = pretty != fields.end() ? pretty->second
                  : name != fields.end() ? name->second
                                         : "Linux";
    // The kernel's release as uname gives it, read from the file behind it so a tree has one.
    system.version = linux_files::readLine(rooted("/proc/sys/kernel/osrelease"));
    return system;
}

int64_t readBootTime() {
    return linux_host::bootTimeOfStat(linux_files::readText(rooted("/proc/stat")));
}
} // namespace

std::string hostName() {
    return computerName();
}

OperatingSystem operatingSystem() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static auto *const kept = new Lasting<OperatingSystem>(readOperatingSystem);
    return kept->value();
}

int64_t bootTime() {
    static auto *const kept = new Lasting<int64_t>(readBootTime);
    return kept->value();
}

std::vector<Session> sessions() {
    // logind keeps one file per session while it runs; without it, the login records of utmp.
    const std::string logind = rooted("/run/systemd/sessions");
    if (!linux_files::exists(logind))
        return linux_host::utmpSessions(linux_files::readText(rooted("/run/utmp")));
    std::vector<Session> found;
    for (const std::string &name : linux_files::directoryEntries(logind)) {
        // logind writes each file anew beside it and renames it: skip its half-written copies.
        if (name.find('.') != std::string::npos)
            continue;
        const auto session = linux_host::logindSession(
            linux_host::parseKeyValues(linux_files::readText(logind + "/" + name)));
        if (session)
            found.push_back(*session);
    }
    return found;
}

RebootState rebootState() {
    // Debian's and Ubuntu's update tools leave the flag file, and the packages that asked for
    // it one a line beside it.
    RebootState state;
    state.required = linux_files::exists(rooted("/run/reboot-required"));
    if (!state.required)
        return state;
    state.reasons.push_back("/run/reboot-required");
    for (const std::string &line :
         linux_proc::lines(linux_files::readText(rooted("/run/reboot-required.pkgs")))) {
        const std::string package = linux_proc::trim(line);
        if (!package.empty())
            state.reasons.push_back(package);
    }
    return state;
}

} // namespace platform
