#include "platform/Volumes.h"

namespace platform {

std::vector<VolumeSpace> volumeSpaces() {
    std::vector<VolumeSpace> volumes;
    for (VolumeSpace volume : volumesOfDisks()) {
        const std::optional<Space> space = volumeSpace(volume.path);
        if (!space)
            continue;
        volume.size = space->size;
        volume.free = space->free;
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

} // namespace platform
