// The text and record formats behind the host facts on Linux: os-release, logind's session
// files, the btime line of /proc/stat and utmp. Pure functions, so that fixtures drive them.
#pragma once

#include "platform/Host.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform::linux_host {

// KEY=value lines as os-release and logind's state files write them: blank lines and "#"
// comments skipped, a value in single or double quotes taken without them (with the shell's
// backslash escapes undone inside double quotes).
std::map<std::string, std::string> parseKeyValues(const std::string &text);

// The btime line of /proc/stat: seconds since 1970; 0 when absent.
int64_t bootTimeOfStat(const std::string &text);

// A logind session file (/run/systemd/sessions/<id>): a session of a user who signed in, or
// nothing for greeters, lock screens and the service manager's own sessions.
std::optional<Session> logindSession(const std::map<std::string, std::string> &fields);

// The login records (USER_PROCESS) of a utmp file's bytes; a torn last record is left out.
std::vector<Session> utmpSessions(const std::string &bytes);

} // namespace platform::linux_host
