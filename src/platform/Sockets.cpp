// Placeholder; replaced by the web server's socket helpers.
#include "platform/Platform.h"

namespace platform {
std::string peerAddress(intptr_t) { return {}; }
void closeSocket(intptr_t) {}
} // namespace platform
