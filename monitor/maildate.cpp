#include "monitor/maildate.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool leapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

// 0 for Sunday, in the Gregorian calendar.
int weekday(int year, int month, int day) {
    static const int shift[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + shift[month - 1] + day) % 7;
}

bool validClock(const MailClock& t) {
    // A leap second (60) is a real reading on some clocks.
    return t.year >= 1900 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= daysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 60;
}

bool atext(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    for (const char* p = "!#$%&'*+-/=?^_`{|}~"; *p; ++p)
        if (c == *p)
            return true;
    return false;
}

} // namespace

std::string FormatMailDate(const MailClock& local, int utcOffsetMinutes) {
    if (!validClock(local) || std::abs(utcOffsetMinutes) >= 24 * 60)
        return {};
    const int offset = std::abs(utcOffsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  kDays[weekday(local.year, local.month, local.day)], local.day,
                  kMonths[local.month - 1], local.year, local.hour, local.minute, local.second,
                  utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string FormatMessageId(std::uint64_t stamp, std::uint64_t unique, std::string_view host) {
    std::string domain;
    std::string label;
    auto endLabel = [&] {
        if (label.empty())
            return;
        if (!domain.empty())
            domain += '.';
        domain += label;
        label.clear();
    };
    for (char c : host) {
        if (c == '.')
            endLabel();
        else
            label += atext(c) ? c : '-';
    }
    endLabel();
    if (domain.empty())
        domain = "localhost";

    char id[40];
    std::snprintf(id, sizeof id, "%llX.%llX", static_cast<unsigned long long>(stamp),
                  static_cast<unsigned long long>(unique));
    return "<" + std::string(id) + "@" + domain + ">";
}
