// Helpers for window tests that run on the desktop of tools/with-desktop.sh.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

// Dispatches this thread's messages until done() holds or ms milliseconds have passed.
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 10000) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    while (!done()) {
        if (::GetTickCount64() >= end)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return true;
}

// Asks the wrapper for a picture of the whole screen, saved as <artifacts>/<name>.png, and
// waits until it is taken. False without the wrapper or when no picture came in time.
inline bool Snapshot(const std::string& name) {
    const char* dir = std::getenv("VIGREL_SNAPSHOT_DIR");
    if (!dir || !*dir)
        return false;
    // The wrapper's folder is a Unix path; Wine's drive Z: is the Unix root.
    const std::string request = std::string("Z:") + dir + "/" + name + ".req";
    // Let other processes (the shell's task bar) finish painting first.
    ::Sleep(300);
    std::ofstream(request).put('\n');
    const ULONGLONG end = ::GetTickCount64() + 20000;
    while (::GetFileAttributesA(request.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(50);
    }
    return true;
}

// True when this process runs on a desktop with a notification area.
inline bool HasTaskbar() {
    return ::FindWindowA("Shell_TrayWnd", nullptr) != nullptr;
}
