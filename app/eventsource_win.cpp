#include "app/eventsource_win.h"

#include "base/utf_win.h"

#include <windows.h>

namespace {

std::string failed(const char* step, LSTATUS code) {
    return std::string(step) + " failed with error " + std::to_string(code);
}

} // namespace

std::string InstallEventSource(const std::string& programPath) {
    HKEY key = nullptr;
    LSTATUS code = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey, 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &key, nullptr);
    if (code != ERROR_SUCCESS)
        return failed("Creating the event source's key", code);
    const std::wstring file = Widen(programPath);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    code = ::RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(file.c_str()),
                            static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    if (code == ERROR_SUCCESS)
        code = ::RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&types), sizeof types);
    ::RegCloseKey(key);
    return code == ERROR_SUCCESS ? std::string() : failed("Writing the event source", code);
}

std::string RemoveEventSource() {
    const LSTATUS code = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey);
    return code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND
               ? std::string()
               : failed("Removing the event source", code);
}
