#include "platform/windows/WindowsText.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace platform {

std::string wideToUtf8(const wchar_t *text, std::size_t length) {
    if (text == nullptr || length == 0 || length > std::size_t(INT_MAX))
        return {};
    const int wideLength = int(length);
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out(std::size_t(size), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, text, wideLength, out.data(), size, nullptr, nullptr);
    out.resize(written > 0 ? std::size_t(written) : 0);
    return out;
}

std::wstring utf8ToWide(const std::string &text) {
    if (text.empty() || text.size() > std::size_t(INT_MAX))
        return {};
    const int length = int(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring out(std::size_t(size), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
    out.resize(written > 0 ? std::size_t(written) : 0);
    return out;
}

std::string localToUtf8(const char *text, std::size_t length) {
    return codePageToUtf8(CP_ACP, text, length);
}

std::string codePageToUtf8(UINT codePage, const char *text, std::size_t length) {
    if (text == nullptr || length == 0 || length > std::size_t(INT_MAX))
        return {};
    const int narrowLength = int(length);
    const int size =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, narrowLength, nullptr, 0);
    if (size > 0) {
        std::wstring wide(std::size_t(size), L'\0');
        const int written = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, narrowLength,
                                                wide.data(), size);
        return written > 0 ? wideToUtf8(wide.data(), std::size_t(written)) : std::string();
    }
    // Some byte is not valid in the code page: one character at a time, each invalid byte
    // replaced, instead of the code page's own substitute or a dropped byte.
    std::wstring wide;
    for (std::size_t i = 0; i < length;) {
        const std::size_t step =
            IsDBCSLeadByteEx(codePage, BYTE(text[i])) && i + 1 < length ? 2 : 1;
        wchar_t decoded[2] = {};
        const int count =
            MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text + i, int(step), decoded, 2);
        if (count > 0) {
            wide.append(decoded, std::size_t(count));
            i += step;
        } else {
            wide += wchar_t(0xFFFD);
            ++i;
        }
    }
    return wideToUtf8(wide.data(), wide.size());
}

bool readRegistryValue(HKEY key, const wchar_t *name, std::wstring &value) {
    value.clear();
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return false;
    // One spare wide character beyond the reported size: room for an odd byte count and a
    // terminator the registry does not promise for REG_SZ data.
    std::vector<wchar_t> buffer(std::size_t(size) / sizeof(wchar_t) + 2, L'\0');
    DWORD read = size;
    // The value can change between the two reads; a second read that does not fit the first
    // size fails, and what it would have delivered is not used.
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer.data()),
                         &read) != ERROR_SUCCESS)
        return false;
    const std::size_t chars = std::min<std::size_t>(read, size) / sizeof(wchar_t);
    value.assign(buffer.data(), chars);
    return true;
}

std::string registryText(HKEY key, const wchar_t *name) {
    std::wstring value;
    if (!readRegistryValue(key, name, value))
        return {};
    return wideToUtf8(value.data(), std::min(value.size(), value.find(L'\0')));
}

} // namespace platform
