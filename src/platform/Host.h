// What an administrator asks of a machine before its figures: which one it is, since when it
// runs, who is signed in and whether it waits for a reboot. Read at the moment of the call;
// each read is a few files or registry values, cheap enough for every request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The machine's own name: the DNS host name as the system spells it (Windows: the computer's
// DNS host name, not its 15-character NetBIOS name; Linux: the kernel's host name). Empty on
// failure.
std::string hostName();

// The operating system as it names itself. Linux: PRETTY_NAME of os-release ("Debian GNU/Linux
// 12 (bookworm)") and the kernel's release ("6.1.0-18-amd64"); Windows: the product name
// ("Windows 11 Pro") and its display version with the build ("23H2, build 22631.3155").
struct OperatingSystem {
    std::string name;
    std::string version;
};
OperatingSystem operatingSystem();

// When the system started, in seconds since 1970 (UTC); 0 when unknown. Linux: btime of
// /proc/stat; Windows: the clock now less the tick count.
int64_t bootTime();

// One sign-in session. Linux: a logind session of class user (or a utmp login record where
// there is no logind); Windows: a terminal-services session with a user in it.
struct Session {
    std::string user;
    // Linux: logind's state ("active", "online", "closing"), "active" for a utmp record;
    // Windows: the connect state ("active", "connected", "disconnected", "idle", ...).
    std::string state;
    // Where it is: a seat, a terminal or the remote host; Windows: the window station name.
    std::string where;
};
std::vector<Session> sessions();

// Whether the system says it must restart to finish an update, and which signs said so
// (Linux: "/run/reboot-required" and the packages listed beside it; Windows: the names of the
// keys and values found).
struct RebootState {
    bool required = false;
    std::vector<std::string> reasons;
};
RebootState rebootState();

} // namespace platform
