// What the program asks of the platform it runs on.
#pragma once

#include <windows.h>

// True on Wine, as its ntdll says. Guards for documented limits that Wine does not enforce are
// active only then; on Windows the platform's own limits hold.
inline bool RunningOnWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
