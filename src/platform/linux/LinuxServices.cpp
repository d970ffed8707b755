// The systemd units in the failed state, asked of systemd's manager on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS where it is set, as every D-Bus client honours it).
#include "platform/Services.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {
// A busy or hung manager must not hold up the request that asked.
const uint64_t callTimeoutUsec = 2 * 1000 * 1000;

std::string errorText(const char *doing, int result, const sd_bus_error &error) {
    std::string text = doing;
    text += ": ";
    text += error.message ? error.message : std::strerror(-result);
    return text;
}

// Reads ListUnitsFiltered's answer: a(ssssssouso), of which the name, the description and the
// active state are kept.
int readUnits(sd_bus_message *reply, std::vector<StoppedService> &units) {
    int result = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)");
    if (result < 0)
        return result;
    for (;;) {
        const char *name = nullptr, *description = nullptr, *active = nullptr;
        result = sd_bus_message_read(reply, "(ssssssouso)", &name, &description, nullptr, &active,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (result <= 0)
            break;
        units.push_back({name, description, active});
    }
    return result < 0 ? result : sd_bus_message_exit_container(reply);
}
} // namespace

ServicesReading stoppedServices() {
    ServicesReading reading;
    sd_bus *bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result < 0) {
        reading.why = std::string("the system bus cannot be reached: ") + std::strerror(-result);
        return reading;
    }
    sd_bus_set_method_call_timeout(bus, callTimeoutUsec);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    result = sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                "org.freedesktop.systemd1.Manager", "ListUnitsFiltered", &error,
                                &reply, "as", 1, "failed");
    if (result < 0) {
        reading.why = errorText("systemd did not list its units", result, error);
    } else if ((result = readUnits(reply, reading.stopped)) < 0) {
        reading.why = errorText("systemd's list of units could not be read", result, error);
        reading.stopped.clear();
    } else {
        reading.read = true;
        std::sort(reading.stopped.begin(), reading.stopped.end(),
                  [](const StoppedService &a, const StoppedService &b) { return a.name < b.name; });
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return reading;
}

} // namespace platform
