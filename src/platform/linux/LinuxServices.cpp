// Failed systemd units are not read on Linux yet: systemd answers only on its D-Bus interface,
// and the monitor carries no D-Bus client.
#include "platform/Services.h"

namespace platform {

ServicesReading stoppedServices() {
    ServicesReading reading;
    reading.why = "not read on Linux: systemd's failed units need its D-Bus interface";
    return reading;
}

} // namespace platform
