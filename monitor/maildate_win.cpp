#include "monitor/maildate_win.h"

#include "monitor/maildate.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

std::int64_t ticks(const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                     t.dwLowDateTime);
}

} // namespace

std::string CurrentMailDate() {
    // One reading of the clock, turned into local time by the zone's current bias: reading the
    // local time and the zone separately could pair a time with the wrong side of a daylight
    // saving switch.
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    FILETIME local;
    SYSTEMTIME wall;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &wall))
        return {};
    constexpr std::int64_t kTicksPerMinute = 10'000'000LL * 60;
    const std::int64_t difference = ticks(local) - ticks(utc);
    // Round to the nearest minute: the two readings share one instant, but be safe.
    const std::int64_t half = difference < 0 ? -kTicksPerMinute / 2 : kTicksPerMinute / 2;
    const int offset = static_cast<int>((difference + half) / kTicksPerMinute);
    const MailClock clock{wall.wYear, wall.wMonth,  wall.wDay,
                          wall.wHour, wall.wMinute, wall.wSecond};
    return FormatMailDate(clock, offset);
}

std::string NewMessageId() {
    static std::atomic<std::uint32_t> counter{0};
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t unique =
        (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) | ++counter;

    // The fully qualified name where the computer has one, else its NetBIOS name.
    char host[256] = "";
    DWORD size = sizeof host;
    if (!GetComputerNameExA(ComputerNameDnsFullyQualified, host, &size) || host[0] == '\0') {
        size = sizeof host;
        if (!GetComputerNameA(host, &size))
            host[0] = '\0';
    }
    return FormatMessageId(static_cast<std::uint64_t>(ticks(now)), unique, host);
}
