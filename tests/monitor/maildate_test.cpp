#include "monitor/maildate.h"

#include <gtest/gtest.h>

namespace {

MailClock at(int year, int month, int day, int hour, int minute, int second) {
    MailClock t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}

TEST(MailDate, WeekdayPaddingAndZoneSigns) {
    EXPECT_EQ(FormatMailDate(at(2026, 12, 8, 9, 20, 1), 60), "Tue, 08 Dec 2026 09:20:01 +0100");
    EXPECT_EQ(FormatMailDate(at(2024, 3, 5, 23, 0, 9), -210), "Tue, 05 Mar 2024 23:00:09 -0330");
    EXPECT_EQ(FormatMailDate(at(2000, 2, 29, 0, 0, 0), 0), "Tue, 29 Feb 2000 00:00:00 +0000");
    EXPECT_EQ(FormatMailDate(at(2025, 7, 1, 12, 5, 0), 345), "Tue, 01 Jul 2025 12:05:00 +0545");
    // A year boundary, and January/February where the weekday rule counts the year before.
    EXPECT_EQ(FormatMailDate(at(2026, 12, 31, 23, 59, 59), -480),
              "Thu, 31 Dec 2026 23:59:59 -0800");
    EXPECT_EQ(FormatMailDate(at(2027, 1, 1, 0, 0, 0), 840), "Fri, 01 Jan 2027 00:00:00 +1400");
    EXPECT_EQ(FormatMailDate(at(2100, 3, 1, 6, 7, 8), -30), "Mon, 01 Mar 2100 06:07:08 -0030");
}

TEST(MailDate, ImpossibleReadingsGiveNoDate) {
    EXPECT_EQ(FormatMailDate(at(2023, 2, 29, 0, 0, 0), 0), ""); // not a leap year
    EXPECT_EQ(FormatMailDate(at(2026, 13, 1, 0, 0, 0), 0), "");
    EXPECT_EQ(FormatMailDate(at(2026, 4, 31, 0, 0, 0), 0), "");
    EXPECT_EQ(FormatMailDate(at(2026, 1, 1, 24, 0, 0), 0), "");
    EXPECT_EQ(FormatMailDate(at(2026, 1, 1, 0, 0, 0), 24 * 60), "");
    EXPECT_EQ(FormatMailDate(MailClock{}, 0), "");
}

TEST(MessageId, HostIsReducedToADotAtom) {
    EXPECT_EQ(FormatMessageId(0x1A2B, 7, "mail.example.org"), "<1A2B.7@mail.example.org>");
    EXPECT_EQ(FormatMessageId(1, 2, "My PC (office)"), "<1.2@My-PC--office->");
    EXPECT_EQ(FormatMessageId(1, 2, ".a..b."), "<1.2@a.b>");
    EXPECT_EQ(FormatMessageId(1, 2, "h\xe9te@x<y>"), "<1.2@h-te-x-y->");
    EXPECT_EQ(FormatMessageId(1, 2, ""), "<1.2@localhost>");
    EXPECT_EQ(FormatMessageId(1, 2, "..."), "<1.2@localhost>");
    EXPECT_EQ(FormatMessageId(~0ULL, ~0ULL, "h"), "<FFFFFFFFFFFFFFFF.FFFFFFFFFFFFFFFF@h>");
}

} // namespace
