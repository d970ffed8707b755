#include "VolumeReaders.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

// One volume's reader: reads asked and answered are counted, so that a caller knows whether
// the answer it finds was read since it asked.
struct VolumeReaders::Slot {
    uint64_t asked = 0;
    uint64_t answered = 0;
    std::optional<platform::Space> space; // the last answer
    bool retired = false;                 // no longer listed: the thread ends when idle
};

struct VolumeReaders::Shared {
    explicit Shared(Reader r) : reader(std::move(r)) {}
    const Reader reader;
    // Guards slots and every slot's fields; never held while the file system is asked.
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::shared_ptr<Slot>> slots; // by path
};

VolumeReaders &VolumeReaders::instance() {
    static VolumeReaders *const readers =
        new VolumeReaders(platform::volumesOfDisks, platform::volumeSpace);
    return *readers;
}

VolumeReaders::VolumeReaders(Lister l, Reader reader, std::chrono::milliseconds limit)
    : lister(std::move(l)), limit(limit), shared(std::make_shared<Shared>(std::move(reader))) {}

VolumeReaders::~VolumeReaders() {
    std::lock_guard<std::mutex> lock(shared->mutex);
    for (auto &entry : shared->slots)
        entry.second->retired = true;
    shared->slots.clear();
    shared->changed.notify_all();
}

void VolumeReaders::serve(std::shared_ptr<Shared> shared, std::shared_ptr<Slot> slot,
                          std::string path) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock,
                             [&slot] { return slot->retired || slot->asked > slot->answered; });
        if (slot->asked == slot->answered)
            return;
        const uint64_t asked = slot->asked;
        lock.unlock();
        std::optional<platform::Space> space = shared->reader(path);
        lock.lock();
        slot->space = space;
        slot->answered = asked;
        shared->changed.notify_all();
    }
}

std::vector<platform::VolumeSpace> VolumeReaders::read() {
    std::vector<platform::VolumeSpace> volumes = lister();
    const auto until = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(shared->mutex);
    std::map<std::string, std::shared_ptr<Slot>> listed;
    for (const platform::VolumeSpace &volume : volumes) {
        std::shared_ptr<Slot> &slot = shared->slots[volume.path];
        if (!slot) {
            slot = std::make_shared<Slot>();
            try {
                std::thread(serve, shared, slot, volume.path).detach();
            } catch (const std::system_error &) {
                // No thread to be had: not answering this time, tried again next time.
                slot->asked = 1;
                listed.emplace(volume.path, slot);
                shared->slots.erase(volume.path);
                continue;
            }
        }
        // At most one read outstanding: one that still waits on its file system is the
        // read this caller waits for too.
        if (slot->answered == slot->asked)
            ++slot->asked;
        listed.emplace(volume.path, slot);
    }
    for (auto it = shared->slots.begin(); it != shared->slots.end();) {
        if (listed.count(it->first)) {
            ++it;
            continue;
        }
        it->second->retired = true;
        it = shared->slots.erase(it);
    }
    shared->changed.notify_all();
    std::map<std::string, uint64_t> wanted;
    for (const auto &entry : listed)
        wanted.emplace(entry.first, entry.second->asked);
    shared->changed.wait_until(lock, until, [&listed, &wanted] {
        for (const auto &entry : listed) {
            if (entry.second->answered < wanted[entry.first])
                return false;
        }
        return true;
    });
    std::vector<platform::VolumeSpace> answer;
    for (platform::VolumeSpace volume : volumes) {
        const Slot &slot = *listed[volume.path];
        if (slot.answered < wanted[volume.path]) {
            volume.answering = false;
        } else if (slot.space) {
            volume.size = slot.space->size;
            volume.free = slot.space->free;
        } else {
            continue;
        }
        answer.push_back(std::move(volume));
    }
    return answer;
}
