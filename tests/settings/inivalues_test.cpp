#include "settings/inivalues.h"

#include <gtest/gtest.h>

TEST(IniValues, IntegersDecimalHexOrDefault) {
    EXPECT_EQ(IniToInt("0", 15), 0);
    EXPECT_EQ(IniToInt("-5", 15), -5);
    EXPECT_EQ(IniToInt("0x1E", 15), 30);
    EXPECT_EQ(IniToInt("0X1e", 15), 30);
    EXPECT_EQ(IniToInt("0xFFFFFFFF", 15), -1);
    EXPECT_EQ(IniToInt("2147483647", 15), 2147483647);
    EXPECT_EQ(IniToInt("-2147483648", 15), INT32_MIN);
    // Not an integer, or not one that fits: the default, never a wrapped value.
    for (const char* bad : {"", "abc", "25a", "0x", "0xG1", "0x123456789", "2147483648",
                            "99999999999999999999", "-", "1.5", " 7"})
        EXPECT_EQ(IniToInt(bad, 25), 25) << bad;
}

TEST(IniValues, BooleansAreIntegers) {
    EXPECT_TRUE(IniToBool("2", false));
    EXPECT_TRUE(IniToBool("-1", false));
    EXPECT_FALSE(IniToBool("0", true));
    EXPECT_TRUE(IniToBool("yes", true));
    EXPECT_FALSE(IniToBool("yes", false));
    EXPECT_EQ(BoolToIni(true), "1");
    EXPECT_EQ(IntToIni(-42), "-42");
}

TEST(IniValues, UrlsWithEqualsSignsRoundTrip) {
    for (const char* url :
         {"http://a.example/", "http://a.example/?x=1", "http://a/?x=1&y==2", "http://a/="}) {
        const UrlKeyLine line = UrlToKeyLine(url);
        EXPECT_EQ(line.key.find('='), std::string::npos);
        EXPECT_EQ(UrlFromKeyLine(line.key, line.value), url);
    }
    // An ordinary URL keeps the layout "URL=" and a foreign value is ignored.
    EXPECT_EQ(UrlToKeyLine("http://a.example/").value, "");
    EXPECT_EQ(UrlFromKeyLine("http://a.example/", "junk"), "http://a.example/");
    EXPECT_EQ(TrimUrl("  http://a/ \t"), "http://a/");
}
