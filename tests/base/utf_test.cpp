#include "base/utf.h"

#include <gtest/gtest.h>

TEST(Utf, RoundTripsEveryPlaneWithoutLoss) {
    const std::string text = "http://host/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8/\xC3\xBC/"
                             "\xE2\x82\xAC/\xF0\x9F\x98\x80";
    const auto wide = Utf16FromUtf8(text);
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, u"http://host/книги/ü/€/😀");
    EXPECT_EQ(Utf8FromUtf16(*wide), text);
}

TEST(Utf, RefusesIllFormedInput) {
    for (const char* bad :
         {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\xC3", "a\x80z"})
        EXPECT_FALSE(Utf16FromUtf8(bad)) << bad;
    EXPECT_FALSE(Utf8FromUtf16(std::u16string(1, u'\xD800')));
    EXPECT_FALSE(Utf8FromUtf16(u"a\xDC00"));
}
