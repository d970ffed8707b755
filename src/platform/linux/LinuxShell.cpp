// Linux backend of the desktop shell: the program runs as the user who started it, so the
// caller's own way of opening an address is already the user's.
#include "platform/Shell.h"

namespace platform {

bool openAsDesktopUser(const std::string &) {
    return false;
}

} // namespace platform
