// Password hashes through the system's crypt (libxcrypt), which reads bcrypt's "$2y$" as
// htpasswd writes it: no hashing of our own.
#include "platform/Platform.h"
#include "platform/SameHash.h"

#include <crypt.h>

#include <cstring>
#include <memory>

namespace platform {

bool passwordMatches(const std::string &password, const std::string &hash) {
    // crypt_data is large (some 32 KiB): on the heap, not on a connection thread's small stack.
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof *data);
    // crypt_rn gives null, never a "*" failure text, for a hash it cannot read.
    const char *computed = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof *data);
    return computed && sameHash(computed, hash);
}

} // namespace platform
