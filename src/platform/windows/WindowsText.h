// Text and registry helpers shared by the Windows backend. The layer hands UTF-8 to its
// callers; Windows speaks UTF-16 in its wide calls and the local ANSI code page in its 8-bit
// ones (adapter list, storage descriptors).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <string>

namespace platform {

// Counted conversions, so that embedded NULs survive (the counter-name list relies on it).
std::string wideToUtf8(const wchar_t *text, std::size_t length);
std::wstring utf8ToWide(const std::string &text);
// Decodes text in the system's ANSI code page (CP_ACP), or in the given code page. A byte that
// is not valid there (a lead byte without its trail, an unassigned code) becomes U+FFFD.
std::string localToUtf8(const char *text, std::size_t length);
std::string codePageToUtf8(UINT codePage, const char *text, std::size_t length);

// Text of a fixed-size 8-bit field of a system structure: up to its NUL, never past the field.
template <std::size_t N> std::string fieldToUtf8(const char (&field)[N]) {
    std::size_t length = 0;
    while (length < N && field[length] != 0)
        ++length;
    return localToUtf8(field, length);
}

// Reads a registry value the documented way: its size first, then its data into a buffer of
// that size. On success `value` holds every wide character the second read delivered (byte
// count / 2, NULs kept). False when either read fails; `value` is then empty.
bool readRegistryValue(HKEY key, const wchar_t *name, std::wstring &value);
// A REG_SZ value as UTF-8. Its data may or may not carry its terminator: the text is what
// precedes the first NUL. Empty when it cannot be read.
std::string registryText(HKEY key, const wchar_t *name);

} // namespace platform
