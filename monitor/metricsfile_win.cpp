#include "monitor/metricsfile_win.h"

#include "base/handle_win.h"
#include "base/paths_win.h"
#include "base/utf_win.h"

#include <windows.h>

namespace {

std::string errorText(DWORD code) {
    std::string text = SystemErrorText(code);
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

// A full path: the move's replacing variants want one under Wine, and a service's working
// folder is the system's, never the program's.
std::wstring fullFolder(const std::string& folder) {
    std::wstring wide = Widen(folder);
    const bool rooted = !wide.empty() && (wide[0] == L'\\' || wide[0] == L'/');
    if (!rooted && !(wide.size() >= 2 && wide[1] == L':'))
        wide = Widen(FolderOf(ProgramPath())) + L"\\" + wide;
    wchar_t full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
    if (length > 0 && length < MAX_PATH * 4)
        wide.assign(full, length);
    while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/'))
        wide.pop_back();
    return wide;
}

} // namespace

std::string WriteFileReplacing(const std::string& folder, const std::string& name,
                               const std::string& text) {
    const std::wstring target = fullFolder(folder) + L"\\" + Widen(name);
    const std::wstring temporary = target + L".tmp";
    std::string failure;
    {
        ScopedFileHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return errorText(::GetLastError());
        DWORD written = 0;
        if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                         nullptr) ||
            written != text.size() || !::FlushFileBuffers(file.Get()))
            failure = errorText(::GetLastError());
    }
    if (failure.empty() && !::MoveFileExW(temporary.c_str(), target.c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failure = errorText(::GetLastError());
    if (!failure.empty())
        ::DeleteFileW(temporary.c_str());
    return failure;
}

bool RemoveWrittenFile(const std::string& folder, const std::string& name) {
    const std::wstring target = fullFolder(folder) + L"\\" + Widen(name);
    return ::DeleteFileW(target.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}
