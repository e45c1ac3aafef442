#include "clogger.h"

#include "base/paths.h"

#include <cstdio>

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
    std::FILE* file = std::fopen(path.c_str(), "ab+");
    if (!file)
        return false;
    // Write errors after a successful open are as silent as a failed open.
    std::fwrite(prefix.data(), 1, prefix.size(), file);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fwrite("\r\n", 1, 2, file);
    std::fclose(file);
    return true;
}
