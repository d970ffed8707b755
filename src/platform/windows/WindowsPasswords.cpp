// Password hashes on Windows, which offers no bcrypt hash of its own (CNG's "BCrypt" functions
// are ciphers and digests): OpenBSD's bcrypt, as kept in third_party/openbsd-bcrypt. It reads
// "$2a$" and "$2b$"; htpasswd's "$2y$" is the same hash as "$2b$" under another name.
#include "platform/Platform.h"
#include "platform/SameHash.h"

#include "node_blf.h"

#include <cctype>
#include <cstring>

namespace platform {

namespace {
// "$2a$", "$2b$" or "$2y$", two digits of cost, "$", then 22 characters of salt and 31 of hash
// in bcrypt's own base64. The hash code reads whatever it is given, and answers ":" to some it
// cannot use: only this shape reaches it.
bool wellFormed(const std::string &hash) {
    static const char alphabet[] =
        "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (hash.size() != 60 || hash.compare(0, 2, "$2") != 0 ||
        (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y') || hash[3] != '$' || hash[6] != '$' ||
        !std::isdigit(static_cast<unsigned char>(hash[4])) ||
        !std::isdigit(static_cast<unsigned char>(hash[5])))
        return false;
    return hash.find_first_not_of(alphabet, 7) == std::string::npos;
}
} // namespace

bool passwordMatches(const std::string &password, const std::string &hash) {
    if (!wellFormed(hash))
        return false;
    std::string setting = hash;
    const bool y = setting.compare(0, 4, "$2y$") == 0;
    if (y)
        setting[2] = 'b';
    char computed[_PASSWORD_LEN + 1] = {};
    bcrypt(password.c_str(), std::strlen(password.c_str()), setting.c_str(), computed);
    std::string result = computed; // ":" for a setting it cannot read
    if (y && result.size() > 2)
        result[2] = 'y';
    return sameHash(result, hash);
}

} // namespace platform
