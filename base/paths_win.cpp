#include "paths_win.h"

#include "base/utf_win.h"

#include <windows.h>

std::string ProgramPath() {
    // Paths may be longer than MAX_PATH; the call says so only by filling the whole buffer.
    std::wstring buffer(MAX_PATH, L'\0');
    while (buffer.size() <= 32768) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        if (length < buffer.size())
            return Narrow(std::wstring_view(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
    return std::string();
}

const wchar_t* CommandLineArguments() {
    const wchar_t* rest = ::GetCommandLineW();
    const wchar_t end = *rest == L'"' ? L'"' : L' ';
    rest += *rest == L'"';
    while (*rest && *rest != end)
        ++rest;
    return rest + (*rest == L'"');
}
