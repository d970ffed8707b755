// Volume space read with a deadline, so that a file system that never answers (a FUSE daemon
// that hangs, a disk that stalls) cannot hold the thread that asks: each volume has one reader
// thread of its own, kept for as long as the volume is listed, with at most one read
// outstanding. A caller asks every volume at once and waits until the deadline; a volume whose
// reader has not answered by then is shown as not answering, and while its read hangs, later
// callers wait on that same read rather than start another, so a hung mount holds one thread.
#pragma once

#include "platform/Volumes.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class VolumeReaders {
public:
    using Lister = std::function<std::vector<platform::VolumeSpace>()>;
    using Reader = std::function<std::optional<platform::Space>(const std::string &path)>;

    // The space of a healthy volume comes back in microseconds; the limit leaves a stalled
    // disk time to answer and a connection (or another machine's summary, asked within one
    // second) its answer in time.
    static constexpr std::chrono::milliseconds deadline{300};

    // The system's volumes read through the system layer; never destroyed, since its readers
    // may still wait on a file system while the process exits.
    static VolumeReaders &instance();

    VolumeReaders(Lister lister, Reader reader, std::chrono::milliseconds limit = deadline);
    // Idle readers end; one still waiting on its file system ends when that answers.
    ~VolumeReaders();
    VolumeReaders(const VolumeReaders &) = delete;
    VolumeReaders &operator=(const VolumeReaders &) = delete;

    // Every listed volume, with its space read now, or answering false (size and free 0) when
    // it did not answer within the limit. A volume the system refuses is left out.
    std::vector<platform::VolumeSpace> read();

private:
    struct Slot;
    struct Shared;
    static void serve(std::shared_ptr<Shared> shared, std::shared_ptr<Slot> slot, std::string path);

    Lister lister;
    std::chrono::milliseconds limit;
    // The slots and the reader, shared with the reader threads, which may outlive this object.
    std::shared_ptr<Shared> shared;
};
