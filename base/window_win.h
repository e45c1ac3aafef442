// The one way a C++ object of ours is joined to its window: the object's address is the
// window's creation parameter, WM_NCCREATE stores it in GWLP_USERDATA, and from then on the
// class's window procedure hands every message to the object. No subclassing after creation,
// no window extra bytes: the object sees the window's messages from the first one on.
#pragma once

#include <windows.h>

// For the window procedure of a class whose windows carry a T: the object of this window, or
// null before WM_NCCREATE (and for a window created without one). Call it first thing:
//   if (T* self = WindowObject<T>(window, message, lParam)) return self->HandleMessage(...);
//   return DefWindowProcA(window, message, wParam, lParam);
template <typename T> T* WindowObject(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Registers a plain window class of this program; true when it is registered, now or before
// (a second object of the same class finds it there).
inline bool RegisterWindowClass(const char* name, WNDPROC proc) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = proc;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = name;
    return ::RegisterClassA(&cls) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Unjoins the object, for its destructor when the window may outlive it by a message or two.
inline void DetachWindowObject(HWND window) {
    if (window)
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
}
