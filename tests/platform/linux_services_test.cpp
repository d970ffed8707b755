// The failed systemd units, asked on a bus of the test's own (dbus-daemon) where a stand-in
// for systemd's manager answers, or does not.
#define CHECK_MAIN
#include "check.h"

#include "platform/Services.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

extern char **environ;

using namespace platform;

namespace {
// A private bus in a fresh directory, listening on DIR/bus, that allows everything.
struct Bus {
    std::string directory;
    pid_t pid = -1;
    Bus() {
        char path[] = "/tmp/tarnivo-bus-XXXXXX";
        directory = mkdtemp(path);
        std::ofstream(directory + "/bus.conf")
            << "<busconfig><type>session</type><listen>unix:path=" << directory
            << "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
               "<allow own=\"*\"/></policy></busconfig>\n";
        const std::string config = "--config-file=" + directory + "/bus.conf";
        char *argv[] = {const_cast<char *>("dbus-daemon"), const_cast<char *>("--nofork"),
                        const_cast<char *>(config.c_str()), nullptr};
        posix_spawn_file_actions_t quiet; // it warns that it may not raise its file limit
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid, "dbus-daemon", &quiet, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&quiet);
        for (int i = 0; i < 100 && access((directory + "/bus").c_str(), F_OK) != 0; ++i)
            usleep(20000);
    }
    ~Bus() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        std::system(("rm -rf " + directory).c_str());
    }
    std::string address() const { return "unix:path=" + directory + "/bus"; }
};

// Answers ListUnitsFiltered as systemd's manager does, with two failed units out of order, as
// long as it is asked for the failed ones only.
struct Manager {
    sd_bus *bus = nullptr;
    std::atomic<bool> stop{false};
    std::thread loop;

    static int list(sd_bus_message *call, void *, sd_bus_error *) {
        char **states = nullptr;
        sd_bus_message_read_strv(call, &states);
        const bool failedOnly =
            states && states[0] && std::string(states[0]) == "failed" && !states[1];
        for (char **s = states; s && *s; ++s)
            free(*s);
        free(states);
        sd_bus_message *reply = nullptr;
        sd_bus_message_new_method_return(call, &reply);
        sd_bus_message_open_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)");
        const char *units[][2] = {{"nightly-backup.service", "Nightly backup"},
                                  {"antivirus.service", "Virus scanner"}};
        for (const auto &unit : units)
            if (failedOnly)
                sd_bus_message_append(reply, "(ssssssouso)", unit[0], unit[1], "loaded", "failed",
                                      "failed", "", "/org/freedesktop/systemd1/unit/x", 0u, "",
                                      "/");
        sd_bus_message_close_container(reply);
        const int sent = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return sent;
    }

    explicit Manager(const std::string &address) {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("ListUnitsFiltered", "as", "a(ssssssouso)", list, 0), SD_BUS_VTABLE_END};
        sd_bus_new(&bus);
        sd_bus_set_address(bus, address.c_str());
        sd_bus_set_bus_client(bus, 1);
        CHECK(sd_bus_start(bus) >= 0);
        sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/systemd1",
                                 "org.freedesktop.systemd1.Manager", vtable, nullptr);
        CHECK(sd_bus_request_name(bus, "org.freedesktop.systemd1", 0) >= 0);
        loop = std::thread([this] {
            while (!stop)
                if (sd_bus_process(bus, nullptr) == 0)
                    sd_bus_wait(bus, 50000);
        });
    }
    ~Manager() {
        stop = true;
        loop.join();
        sd_bus_flush_close_unref(bus);
    }
};

std::string listed(const ServicesReading &reading) {
    std::string text;
    for (const StoppedService &s : reading.stopped)
        text += s.name + "/" + s.displayName + "/" + s.state + ";";
    return text;
}
} // namespace

TEST_CASE("the failed units are listed by name, and a bus or manager that is missing says so") {
    Bus bus;
    CHECK_MSG(bus.pid > 0, "dbus-daemon (package dbus-daemon) is needed");
    const struct {
        const char *what;
        bool onBus, manager;
        std::string units, why;
    } rows[] = {
        {"no bus", false, false, "", "the system bus cannot be reached"},
        {"a bus without systemd", true, false, "", "systemd did not list its units"},
        {"systemd with two failed units", true, true,
         "antivirus.service/Virus scanner/failed;nightly-backup.service/Nightly backup/failed;",
         ""},
    };
    for (const auto &row : rows) {
        const std::string address =
            row.onBus ? bus.address() : "unix:path=" + bus.directory + "/none";
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        std::unique_ptr<Manager> manager(row.manager ? new Manager(bus.address()) : nullptr);
        const ServicesReading reading = stoppedServices();
        manager.reset();
        CHECK_MSG(reading.read == row.why.empty(), row.what);
        CHECK_MSG(reading.why.rfind(row.why, 0) == 0, std::string(row.what) + ": " + reading.why);
        CHECK_EQ(listed(reading), row.units);
    }
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
