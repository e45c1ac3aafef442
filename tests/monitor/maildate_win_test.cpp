#include "monitor/maildate_win.h"

#include <gtest/gtest.h>

#include <regex>

TEST(MailDateWin, NowHasTheMailFormAndIdsDiffer) {
    EXPECT_TRUE(std::regex_match(CurrentMailDate(),
                                 std::regex(R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d )"
                                            R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec))"
                                            R"( \d{4} \d\d:\d\d:\d\d [+-]\d{4})")))
        << CurrentMailDate();
    const std::string first = NewMessageId();
    EXPECT_TRUE(std::regex_match(first, std::regex(R"(<[0-9A-F]+\.[0-9A-F]+@[^@<> ]+>)"))) << first;
    EXPECT_NE(first, NewMessageId());
}
