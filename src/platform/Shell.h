// Opening a web address in the user's browser as the signed-in user.
#pragma once

#include <string>

namespace platform {

// Windows: has the desktop's shell (Explorer) open the address, as a double-click there would:
// the browser then runs with the signed-in user's own token, not with this elevated process's.
// False when there is no desktop shell to ask (none running, another shell, a service); the
// caller then opens it its own way. Linux: always false.
bool openAsDesktopUser(const std::string &url);

} // namespace platform
