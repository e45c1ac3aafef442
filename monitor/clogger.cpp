#include "clogger.h"

#include "base/paths.h"

#include <cctype>
#include <cstdio>
#include <mutex>
#include <optional>

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

namespace {

bool sameLetters(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i])
            return false;
    return true;
}

// The day a daily file's name stands for, as days since 1970-01-01.
std::optional<long> logNameDay(std::string_view name) {
    if (name.size() != 15 || !sameLetters(name.substr(0, 3), "log") ||
        !sameLetters(name.substr(11), ".log"))
        return std::nullopt;
    int digits[8];
    for (int i = 0; i < 8; ++i) {
        const char c = name[3 + i];
        if (c < '0' || c > '9')
            return std::nullopt;
        digits[i] = c - '0';
    }
    const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const int month = digits[4] * 10 + digits[5];
    const int day = digits[6] * 10 + digits[7];
    if (!IsRealDate(year, month, day))
        return std::nullopt;
    return DaysFromCivil(year, month, day);
}

} // namespace

bool IsOldLogName(std::string_view name, int year, int month, int day, int days) {
    if (days <= 0)
        return false;
    const std::optional<long> dated = logNameDay(name);
    return dated && DaysFromCivil(year, month, day) - *dated >= days;
}

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
    std::FILE* file = OpenFileUtf8(path, "ab+");
    if (!file)
        return false;
    const std::string line = prefix + text + "\r\n";
    // Write errors after a successful open are as silent as a failed open.
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
    return true;
}
