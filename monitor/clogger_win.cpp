#include "clogger_win.h"

#include "base/paths_win.h"
#include "base/utf_win.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<int> logDays{90};
// The day of the last line written, as yyyymmdd; 0 before the first.
std::atomic<int> lastLogDay{0};

// The user's time separator; ":" when the locale gives none.
std::string timeSeparator() {
    wchar_t buffer[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, 8) <= 1)
        return ":";
    return Narrow(buffer);
}

void removeOldLogs(const SYSTEMTIME& today) {
    const int days = logDays;
    if (days <= 0)
        return;
    const std::string folder = FolderOf(ProgramPath());
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Widen(folder + "\\log*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = Narrow(found.cFileName);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            IsOldLogName(name, today.wYear, today.wMonth, today.wDay, days))
            ::DeleteFileW(Widen(folder + "\\" + name).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

} // namespace

void SetLogDays(int days) {
    logDays = days;
}

void RemoveOldLogs() {
    SYSTEMTIME today;
    ::GetLocalTime(&today);
    removeOldLogs(today);
}

void WriteLog(const std::string& text) {
    // Date and time are read separately: a line written at midnight may land in the file of
    // the day that is ending, stamped 12:00 a.
    SYSTEMTIME day;
    ::GetLocalTime(&day);
    const int dayNumber = day.wYear * 10000 + day.wMonth * 100 + day.wDay;
    // Only the thread that moves the day on clears out, so the mail thread and the window's
    // thread never both search the folder for the same new day.
    if (lastLogDay.exchange(dayNumber) != dayNumber)
        removeOldLogs(day);
    const std::string path = LogFilePath(ProgramPath(), day.wYear, day.wMonth, day.wDay);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    AppendLogLine(path, LogTimePrefix(now.wHour, now.wMinute, timeSeparator()), text);
}
