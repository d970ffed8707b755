// Wine implements the memory, adapter, processor and device calls, but its performance
// counters and counter-name list only in part. Cases that depend on those skip under Wine
// and fail on Windows.
#pragma once

#ifdef _WIN32
#include <windows.h>

inline bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
inline bool runningUnderWine() {
    return false;
}
#endif
