// Which machine, since when, who is on it and whether it must restart, read from fixture trees.
#define CHECK_MAIN
#include "check.h"

#include "platform/Host.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxHost.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utmp.h>
#include <vector>

using namespace platform;

namespace {
struct Root {
    explicit Root(const std::string &path) { setRootDirectory(path); }
    ~Root() { setRootDirectory("/"); }
};

std::string sessionsText(const std::vector<Session> &list) {
    std::string text;
    for (const Session &s : list)
        text += s.user + "/" + s.state + "/" + s.where + ";";
    return text;
}
} // namespace

TEST_CASE("a tree names its machine, system, kernel, start and owed restart") {
    Root root(TARNIVO_FIXTURES "/linux/workstation");
    CHECK_EQ(hostName(), std::string("ws-0815"));
    const OperatingSystem system = operatingSystem();
    CHECK_EQ(system.name, std::string("Debian GNU/Linux 12 (bookworm)"));
    CHECK_EQ(system.version, std::string("6.1.0-18-amd64"));
    CHECK_EQ(bootTime(), int64_t(1733550000));
    const RebootState reboot = rebootState();
    CHECK(reboot.required);
    CHECK_EQ(reboot.reasons.size(), size_t(3));
    if (reboot.reasons.size() == 3)
        CHECK_EQ(reboot.reasons[1], std::string("linux-image-6.1.0-18-amd64"));
}

TEST_CASE("a tree without the files owes no restart and knows no start") {
    Root root(TARNIVO_FIXTURES "/linux/missing");
    CHECK(!rebootState().required);
    CHECK_EQ(bootTime(), int64_t(0));
    CHECK(sessions().empty());
    CHECK_EQ(operatingSystem().name, std::string("Linux"));
}

TEST_CASE("logind's sessions: people signed in, not greeters nor half-written files") {
    Root root(TARNIVO_FIXTURES "/linux/workstation");
    CHECK_EQ(sessionsText(sessions()), std::string("anna/active/seat0;bert/online/10.0.3.99;"));
}

TEST_CASE("session classes and states as logind versions write them") {
    const struct {
        const char *file;
        const char *expected; // "" for no session
    } table[] = {
        {"USER=anna\nCLASS=user\nSTATE=closing\nTTY=tty3\n", "anna/closing/tty3;"},
        {"USER=anna\nCLASS=user-early\nACTIVE=1\n", "anna/active/;"},
        {"USER=anna\nCLASS=user-light\nACTIVE=0\nSEAT=seat0\n", "anna/online/seat0;"},
        {"USER=anna\nCLASS=manager\nSTATE=active\n", ""},
        {"USER=anna\nCLASS=background\nSTATE=active\n", ""},
        {"USER=gdm\nCLASS=lock-screen\n", ""},
        {"CLASS=user\nSTATE=active\n", ""},
    };
    for (const auto &row : table) {
        const auto session = linux_host::logindSession(linux_host::parseKeyValues(row.file));
        CHECK_EQ(session ? sessionsText({*session}) : std::string(), std::string(row.expected));
    }
}

TEST_CASE("os-release values lose their quotes and the shell's escapes") {
    const auto fields = linux_host::parseKeyValues(
        "A=\"say \\\"hi\\\" \\\\ \\$x\"\nB='single \"kept\"'\n  C=plain  \n#D=comment\n=odd\n"
        "E=\"\n");
    CHECK_EQ(fields.at("A"), std::string("say \"hi\" \\ $x"));
    CHECK_EQ(fields.at("B"), std::string("single \"kept\""));
    CHECK_EQ(fields.at("C"), std::string("plain"));
    CHECK_EQ(fields.count("D"), size_t(0));
    CHECK_EQ(fields.at("E"), std::string("\""));
    CHECK_EQ(fields.size(), size_t(4));
}

TEST_CASE("without logind, utmp's login records are the sessions") {
    const std::filesystem::path tree =
        std::filesystem::temp_directory_path() / ("tvhost-" + std::to_string(getpid()));
    std::filesystem::create_directories(tree / "run");
    std::vector<utmp> records(4);
    records[0].ut_type = BOOT_TIME;
    records[1].ut_type = USER_PROCESS;
    std::strncpy(records[1].ut_user, "carla", sizeof records[1].ut_user);
    std::strncpy(records[1].ut_line, "tty1", sizeof records[1].ut_line);
    records[2].ut_type = DEAD_PROCESS;
    std::strncpy(records[2].ut_user, "gone", sizeof records[2].ut_user);
    records[3].ut_type = USER_PROCESS;
    // A name that fills its field has no NUL.
    std::memset(records[3].ut_user, 'd', sizeof records[3].ut_user);
    std::strncpy(records[3].ut_host, "10.0.3.5", sizeof records[3].ut_host);
    std::ofstream(tree / "run/utmp", std::ios::binary)
        .write(reinterpret_cast<const char *>(records.data()),
               std::streamsize(records.size() * sizeof(utmp) - 10)); // the last one torn
    {
        Root root(tree.string());
        CHECK_EQ(sessionsText(sessions()), std::string("carla/active/tty1;"));
    }
    const std::string bytes(reinterpret_cast<const char *>(records.data()),
                            records.size() * sizeof(utmp));
    CHECK_EQ(sessionsText(linux_host::utmpSessions(bytes)),
             "carla/active/tty1;" + std::string(sizeof records[3].ut_user, 'd') +
                 "/active/10.0.3.5;");
    std::filesystem::remove_all(tree);
}
