// The systemd units in the failed state, asked of systemd's manager on the system bus
// (DBUS_SYSTEM_BUS_ADDRESS where it is set, as every D-Bus client honours it). systemd's
// library, with its cryptography and compression libraries, is loaded only when first asked:
// a monitor that nobody asks about services never holds it.
#include "platform/Services.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <type_traits>

namespace platform {

namespace {
// The calls of systemd's library that are used, found when it is first loaded.
struct SdBus {
    decltype(&::sd_bus_open_system) open_system = nullptr;
    decltype(&::sd_bus_set_method_call_timeout) set_method_call_timeout = nullptr;
    decltype(&::sd_bus_call_method) call_method = nullptr;
    decltype(&::sd_bus_message_enter_container) message_enter_container = nullptr;
    decltype(&::sd_bus_message_read) message_read = nullptr;
    decltype(&::sd_bus_message_exit_container) message_exit_container = nullptr;
    decltype(&::sd_bus_error_free) error_free = nullptr;
    decltype(&::sd_bus_message_unref) message_unref = nullptr;
    decltype(&::sd_bus_flush_close_unref) flush_close_unref = nullptr;
    std::string why; // empty once every call was found

    SdBus() {
        // Never closed: the library stays for the next reading.
        void *library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            why = "systemd's library cannot be loaded: ";
            why += dlerror();
            return;
        }
        const auto find = [this, library](auto &call, const char *name) {
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(library, name));
            if (!call && why.empty())
                why = std::string("systemd's library has no ") + name;
        };
        find(open_system, "sd_bus_open_system");
        find(set_method_call_timeout, "sd_bus_set_method_call_timeout");
        find(call_method, "sd_bus_call_method");
        find(message_enter_container, "sd_bus_message_enter_container");
        find(message_read, "sd_bus_message_read");
        find(message_exit_container, "sd_bus_message_exit_container");
        find(error_free, "sd_bus_error_free");
        find(message_unref, "sd_bus_message_unref");
        find(flush_close_unref, "sd_bus_flush_close_unref");
    }
};

const SdBus &sdBus() {
    // Never destroyed: a connection thread may still ask while the process exits.
    static const SdBus *const calls = new SdBus;
    return *calls;
}

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
int readUnits(const SdBus &sd, sd_bus_message *reply, std::vector<StoppedService> &units) {
    int result = sd.message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)");
    if (result < 0)
        return result;
    for (;;) {
        const char *name = nullptr, *description = nullptr, *active = nullptr;
        result = sd.message_read(reply, "(ssssssouso)", &name, &description, nullptr, &active,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (result <= 0)
            break;
        units.push_back({name, description, active});
    }
    return result < 0 ? result : sd.message_exit_container(reply);
}
} // namespace

ServicesReading stoppedServices() {
    ServicesReading reading;
    const SdBus &sd = sdBus();
    if (!sd.why.empty()) {
        reading.why = sd.why;
        return reading;
    }
    sd_bus *bus = nullptr;
    int result = sd.open_system(&bus);
    if (result < 0) {
        reading.why = std::string("the system bus cannot be reached: ") + std::strerror(-result);
        return reading;
    }
    sd.set_method_call_timeout(bus, callTimeoutUsec);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    result = sd.call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                            "org.freedesktop.systemd1.Manager", "ListUnitsFiltered", &error, &reply,
                            "as", 1, "failed");
    if (result < 0) {
        reading.why = errorText("systemd did not list its units", result, error);
    } else if ((result = readUnits(sd, reply, reading.stopped)) < 0) {
        reading.why = errorText("systemd's list of units could not be read", result, error);
        reading.stopped.clear();
    } else {
        reading.read = true;
        std::sort(reading.stopped.begin(), reading.stopped.end(),
                  [](const StoppedService &a, const StoppedService &b) { return a.name < b.name; });
    }
    sd.error_free(&error);
    sd.message_unref(reply);
    sd.flush_close_unref(bus);
    return reading;
}

} // namespace platform
