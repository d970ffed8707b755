// The password check of each system against hashes htpasswd and crypt wrote (Linux: the
// system's crypt; Windows, under Wine: the bcrypt kept in third_party).
#define CHECK_MAIN
#include "check.h"

#include "platform/Platform.h"

#include <string>

using namespace platform;

TEST_CASE("a bcrypt hash admits its own password and no other") {
    const std::string x80(80, 'x');
    const struct {
        const char *password;
        const char *hash;
        bool matches;
    } rows[] = {
        // htpasswd -nbB -C 4
        {"correct horse", "$2y$04$vhLNFz2Q2v1RySgT22pxJ.1cyZHqhvgipvgLl8BNmbPFXGYh9cxl6", true},
        {"correct horsE", "$2y$04$vhLNFz2Q2v1RySgT22pxJ.1cyZHqhvgipvgLl8BNmbPFXGYh9cxl6", false},
        {"", "$2y$04$vhLNFz2Q2v1RySgT22pxJ.1cyZHqhvgipvgLl8BNmbPFXGYh9cxl6", false},
        // The same password and salt under the other names of the hash.
        {"correct horse", "$2b$04$abcdefghijklmnopqrstuujydOTSfIH/d5oUHpsygqV5X9xJLQc6e", true},
        {"correct horse", "$2a$04$abcdefghijklmnopqrstuujydOTSfIH/d5oUHpsygqV5X9xJLQc6e", true},
        // A last character changed, and hashes that are none.
        {"correct horse", "$2b$04$abcdefghijklmnopqrstuujydOTSfIH/d5oUHpsygqV5X9xJLQc6f", false},
        {"correct horse", "$2b$04$abcdefghij", false},
        {"correct horse", "$2b$04$abcdefghijklmnopqrstuujydOTSfIH/d5oUHpsygqV5X9xJLQc6e!", false},
        {"correct horse", ":", false},
        {"correct horse", "", false},
    };
    for (const auto &row : rows)
        CHECK_MSG(passwordMatches(row.password, row.hash) == row.matches,
                  std::string(row.password) + " against " + row.hash);
    // UTF-8, and beyond the 72 bytes that bcrypt reads (htpasswd -nbB -C 5).
    const std::string hash = "$2y$05$U1jgaFdX3eE0MiyoDZ7OrehwJLz38os0mLiD4jBl.SJZQEzfMooE.";
    CHECK(passwordMatches("Grüße, 72+: " + x80, hash));
    CHECK(!passwordMatches("Grüße, 72+: " + x80.substr(0, 50), hash));
}
