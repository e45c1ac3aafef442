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

long DaysFromCivil(int year, int month, int day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<long>(era) * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDays(long long days) {
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool IsRealDate(int year, int month, int day) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

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
