#include "clogger_win.h"

#include "base/paths_win.h"

#include <windows.h>

namespace {

// The user's time separator; ":" when the locale gives none.
std::string timeSeparator() {
    char buffer[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, sizeof buffer) <= 1)
        return ":";
    return buffer;
}

} // namespace

void WriteLog(const std::string& text) {
    // Date and time are read separately: a line written at midnight may land in the file of
    // the day that is ending, stamped 12:00 a.
    SYSTEMTIME day;
    ::GetLocalTime(&day);
    const std::string path = LogFilePath(ProgramPath(), day.wYear, day.wMonth, day.wDay);
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    AppendLogLine(path, LogTimePrefix(now.wHour, now.wMinute, timeSeparator()), text);
}
