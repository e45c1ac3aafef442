// One RAII owner for every kind of Win32 handle: a handle value plus the function that closes it.
// Not copyable; moving hands the handle over. Each kind is a small traits struct.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits> class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() noexcept : handle_(Traits::Invalid()) {}
    explicit ScopedHandle(Type handle) noexcept : handle_(handle) {}
    ~ScopedHandle() { Reset(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Type Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return Valid(); }

    Type Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Type handle = Traits::Invalid()) noexcept {
        Type old = std::exchange(handle_, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    Type handle_;
};

// Traits of a kind of handle that is null when absent and closed by one platform function.
template <typename T, auto CloseFunction> struct NullHandleTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseFunction(h); }
};

using KernelHandleTraits = NullHandleTraits<HANDLE, ::CloseHandle>; // threads, events, mutexes
struct FileHandleTraits { // CreateFile results: INVALID_HANDLE_VALUE when absent
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using ServiceHandleTraits = NullHandleTraits<SC_HANDLE, ::CloseServiceHandle>;
using EventSourceTraits = NullHandleTraits<HANDLE, ::DeregisterEventSource>;
using WindowTraits = NullHandleTraits<HWND, ::DestroyWindow>;
using MenuTraits = NullHandleTraits<HMENU, ::DestroyMenu>;
using IconTraits = NullHandleTraits<HICON, ::DestroyIcon>;
using GdiObjectTraits = NullHandleTraits<HGDIOBJ, ::DeleteObject>;

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedServiceHandle = ScopedHandle<ServiceHandleTraits>;
using ScopedEventSource = ScopedHandle<EventSourceTraits>;
using ScopedWindow = ScopedHandle<WindowTraits>;
using ScopedMenu = ScopedHandle<MenuTraits>;
using ScopedIcon = ScopedHandle<IconTraits>;
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
