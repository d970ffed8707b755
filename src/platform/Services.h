// The services that should be running and are not: on Windows those set to start automatically
// (not on a trigger) that are not running; on Linux the systemd units in the failed state. A
// reading walks every service, so callers keep it for a while rather than asking on every request.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct StoppedService {
    std::string name;        // the service's key name ("wuauserv", "backup.service")
    std::string displayName; // as the Services console shows it ("Windows Update"), or the
                             // unit's description
    std::string state;       // "stopped", "start pending", "stop pending", "paused", "failed", ...
};

struct ServicesReading {
    // False when the system could not be asked; `why` then says why.
    bool read = false;
    std::string why;
    std::vector<StoppedService> stopped; // by name
};
ServicesReading stoppedServices();

} // namespace platform
