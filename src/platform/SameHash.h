// The last step of a password check on either system: the hash just computed against the one
// on file, every byte compared, so that the time does not tell how much of it matched.
#pragma once

#include <string>

namespace platform {

inline bool sameHash(const std::string &computed, const std::string &hash) {
    if (computed.size() != hash.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return difference == 0;
}

} // namespace platform
