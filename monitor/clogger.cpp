#include "clogger.h"

#include "base/paths.h"

#include <cstdio>
#include <mutex>

namespace {

int wrap(int value, int range) {
    const int r = value % range;
    return r < 0 ? r + range : r;
}

std::string twoDigits(int value) {
    const char digits[] = {static_cast<char>('0' + value / 10 % 10),
                           static_cast<char>('0' + value % 10), 0};
    return digits;
}

} // namespace

std::string LogFilePath(const std::string& programPath, int year, int month, int day) {
    // The day's name is always eight digits, whatever the clock reports.
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", wrap(year, 10000), wrap(month, 100),
                  wrap(day, 100));
    return FolderOf(programPath) + "\\log" + date + ".log";
}

std::string LogTimePrefix(int hour, int minute, const std::string& separator) {
    const int h24 = wrap(hour, 24);
    const int h12 = h24 % 12 == 0 ? 12 : h24 % 12;
    return twoDigits(h12) + separator + twoDigits(wrap(minute, 60)) + (h24 < 12 ? " a" : " p") +
           " -> ";
}

bool AppendLogLine(const std::string& path, const std::string& prefix, const std::string& text) {
    // The mail thread logs alongside the GUI thread. The C runtime's append mode seeks to the
    // end and then writes, two steps, so two threads appending at once could write over each
    // other's line; one line at a time keeps both.
    static std::mutex appending;
    const std::lock_guard<std::mutex> lock(appending);
    std::FILE* file = std::fopen(path.c_str(), "ab+");
    if (!file)
        return false;
    const std::string line = prefix + text + "\r\n";
    // Write errors after a successful open are as silent as a failed open.
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
    return true;
}
