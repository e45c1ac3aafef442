#include "ui/frmsettingsrules.h"

#include <gtest/gtest.h>

TEST(WholeNumber, DigitsWithAnOptionalSignWithin32Bits) {
    EXPECT_EQ(WholeNumber("25"), 25);
    EXPECT_EQ(WholeNumber("+587"), 587);
    EXPECT_EQ(WholeNumber("-1"), -1);
    EXPECT_EQ(WholeNumber("0025"), 25);
    EXPECT_EQ(WholeNumber("2147483647"), 2147483647);
    EXPECT_EQ(WholeNumber("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "+", "-", "2a5", "25 ", " 25", "0x19", "2147483648", "-2147483649",
                            "99999999999999999999", "1.5", "--1"})
        EXPECT_FALSE(WholeNumber(bad)) << bad;
}

TEST(SpinValue, ClampsIntoTheLimitsAndReadsJunkAsTheMinimum) {
    EXPECT_EQ(SpinValue("200", IntervalLimits), 120);
    EXPECT_EQ(SpinValue("0", IntervalLimits), 1);
    EXPECT_EQ(SpinValue("-5", IntervalLimits), 1);
    EXPECT_EQ(SpinValue("30", IntervalLimits), 30);
    EXPECT_EQ(SpinValue("20", TimeOutLimits), 500);
    EXPECT_EQ(SpinValue("40000", TimeOutLimits), 30000);
    EXPECT_EQ(SpinValue("abc", TimeOutLimits), 500);
    EXPECT_EQ(SpinValue("", IntervalLimits), 1);
    EXPECT_EQ(SpinValue("99999999999", IntervalLimits), 1); // no number within 32 bits
    EXPECT_EQ(Clamp(std::int64_t{30000} + 10, TimeOutLimits), 30000);
}

TEST(NewUrlFromText, TrimsAndPrefixes) {
    EXPECT_EQ(NewUrlFromText("  www.a.test/x \t"), "http://www.a.test/x");
    EXPECT_EQ(NewUrlFromText("http://b.test"), "http://http://b.test"); // taken as typed
    EXPECT_EQ(NewUrlFromText(""), "");
    EXPECT_EQ(NewUrlFromText(" \t "), "");
}

TEST(DialogShows, StatusAndLogChoice) {
    EXPECT_STREQ(StatusText(112), "OK");
    EXPECT_STREQ(StatusText(-1), "OK");
    EXPECT_STREQ(StatusText(0), "FAILED");
    EXPECT_EQ(LogChoiceFor(0), 0);
    EXPECT_EQ(LogChoiceFor(2), 2);
    EXPECT_EQ(LogChoiceFor(7), 2);
    EXPECT_EQ(LogChoiceFor(-3), -1);
}
