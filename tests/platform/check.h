// A small test harness for the operating-system layer. The layer is plain C++, and so are its
// tests, so that the same files run natively and, cross-compiled, under Wine.
//
//   TEST_CASE("memory totals match /proc/meminfo") { CHECK_EQ(a, b); }
//   SKIP("why")  ends the running case and counts it as skipped.
// The program's main() runs every case and ends with the line "N passed, N failed, N skipped".
#pragma once

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace check {

struct Case {
    const char *name;
    std::function<void()> body;
};

inline std::vector<Case> &cases() {
    static std::vector<Case> all;
    return all;
}

struct Registrar {
    Registrar(const char *name, std::function<void()> body) {
        cases().push_back({name, std::move(body)});
    }
};

struct Skipped {
    std::string reason;
};

inline int &failures() {
    static int count = 0;
    return count;
}

template <typename T> std::string show(const T &value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

inline void fail(const char *file, int line, const std::string &what) {
    ++failures();
    std::printf("    FAIL %s:%d: %s\n", file, line, what.c_str());
}

inline int runAll() {
    int passed = 0, failed = 0, skipped = 0;
    for (const Case &c : cases()) {
        const int before = failures();
        try {
            c.body();
            if (failures() == before) {
                ++passed;
                std::printf("PASS   %s\n", c.name);
            } else {
                ++failed;
                std::printf("FAILED %s\n", c.name);
            }
        } catch (const Skipped &s) {
            if (failures() == before) {
                ++skipped;
                std::printf("SKIPPED %s: %s\n", c.name, s.reason.c_str());
            } else {
                ++failed;
                std::printf("FAILED %s\n", c.name);
            }
        }
    }
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

} // namespace check

#define CHECK_CONCAT2(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT2(a, b)
#define TEST_CASE(name)                                                                            \
    static void CHECK_CONCAT(checkCase, __LINE__)();                                               \
    static check::Registrar CHECK_CONCAT(checkRegistrar,                                           \
                                         __LINE__)(name, CHECK_CONCAT(checkCase, __LINE__));       \
    static void CHECK_CONCAT(checkCase, __LINE__)()

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            check::fail(__FILE__, __LINE__, "CHECK(" #cond ")");                                   \
    } while (0)

// CHECK with the text that explains a failure.
#define CHECK_MSG(cond, message)                                                                   \
    do {                                                                                           \
        if (!(cond))                                                                               \
            check::fail(__FILE__, __LINE__, "CHECK(" #cond "): " + std::string(message));          \
    } while (0)

#define CHECK_EQ(a, b)                                                                             \
    do {                                                                                           \
        const auto &checkA = (a);                                                                  \
        const auto &checkB = (b);                                                                  \
        if (!(checkA == checkB))                                                                   \
            check::fail(__FILE__, __LINE__,                                                        \
                        std::string(#a " == " #b ": ") + check::show(checkA) + " vs " +            \
                            check::show(checkB));                                                  \
    } while (0)

#define SKIP(reason)                                                                               \
    throw check::Skipped {                                                                         \
        reason                                                                                     \
    }

// One translation unit per test program defines CHECK_MAIN before including this header.
#ifdef CHECK_MAIN
int main() {
    return check::runAll();
}
#endif
