// The Date and Message-ID values of an outgoing mail, in the form mail servers expect: English
// names and a numeric zone whatever the computer's language, so no locale function is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A local wall-clock reading, as the platform's clock gives it. Month 1-12, day 1-31.
struct MailClock {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "Tue, 08 Dec 2026 09:20:01 +0100": the local time and its offset east of UTC in minutes,
// daylight saving included. The weekday is computed from the date. An impossible date or time,
// or an offset of a day or more, gives an empty string, which leaves the mail without a Date
// line rather than with a false one.
std::string FormatMailDate(const MailClock& local, int utcOffsetMinutes);

// "<stamp.unique@host>": stamp and unique written in hexadecimal, host reduced to what a
// dot-atom allows (other characters become '-', empty labels are dropped); "localhost" when
// nothing of the host is left.
std::string FormatMessageId(std::uint64_t stamp, std::uint64_t unique, std::string_view host);
