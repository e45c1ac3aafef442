#include "net/psock_text.h"

#include <gtest/gtest.h>

#include <set>

TEST(WinsockErrorText, TableRowsUnknownNumbersAndZero) {
    EXPECT_EQ(WinsockErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(WinsockErrorText(10004), "10004:Interrupted system call");
    EXPECT_EQ(WinsockErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(WinsockErrorText(12345), "Unknown Error No. 12345");
    EXPECT_EQ(WinsockErrorText(-1), "Unknown Error No. -1");
    EXPECT_EQ(WinsockErrorText(0), "");
}

TEST(WinsockErrorText, TableHoldsFiftyDistinctNumbersInOrder) {
    std::set<int> numbers;
    for (std::size_t i = 0; i < std::size(WinsockMessage); ++i) {
        numbers.insert(WinsockMessage[i].Number);
        if (i > 0) {
            EXPECT_LT(WinsockMessage[i - 1].Number, WinsockMessage[i].Number);
        }
    }
    EXPECT_EQ(numbers.size(), 50u);
}

TEST(ReplyNumberOf, LeadingDigitsOnly) {
    EXPECT_EQ(ReplyNumberOf("250-first line\r\n"), 250);
    EXPECT_EQ(ReplyNumberOf("250 ok\r\n"), 250);
    EXPECT_EQ(ReplyNumberOf("354\r\n"), 354);
    EXPECT_EQ(ReplyNumberOf("00042x"), 42);
    EXPECT_EQ(ReplyNumberOf("32767"), 32767);
    EXPECT_EQ(ReplyNumberOf("hello 250\r\n"), 0);
    EXPECT_EQ(ReplyNumberOf(" 250"), 0);
    EXPECT_EQ(ReplyNumberOf("-5"), 0);
    EXPECT_EQ(ReplyNumberOf(""), 0);
}

TEST(ReplyNumberOf, NumbersBeyondSixteenBitsRaise) {
    EXPECT_THROW(ReplyNumberOf("32768 too big"), ERangeError);
    // Only ten digits count, and they already overflow.
    EXPECT_THROW(ReplyNumberOf("123456789012345678901234567890"), ERangeError);
    EXPECT_THROW(ReplyNumberOf("9999999999"), Exception);
}

TEST(NthWord, FieldsCountFromOneAndMayBeEmpty) {
    EXPECT_EQ(NthWord("a:b:c", ':', 1), "a");
    EXPECT_EQ(NthWord("a:b:c", ':', 2), "b");
    EXPECT_EQ(NthWord("a:b:c", ':', 3), "c");
    EXPECT_EQ(NthWord("a:b:c", ':', 4), "");
    EXPECT_EQ(NthWord("a::c", ':', 2), "");
    EXPECT_EQ(NthWord(":x", ':', 1), "");
    EXPECT_EQ(NthWord("abc", ':', 1), "abc");
    EXPECT_EQ(NthWord("abc", ':', 2), "");
    EXPECT_EQ(NthWord("", ':', 1), "");
    EXPECT_EQ(NthWord("a:b", ':', 0), "");
    // The address of a recipient entry: field 2 at '<', then field 1 of that at '>'.
    EXPECT_EQ(NthWord(NthWord("Ann <ann@x.org> (work)", '<', 2), '>', 1), "ann@x.org");
}

TEST(NthPos, PositionOrLengthPlusOne) {
    EXPECT_EQ(NthPos("a.b.c", '.', 1), 2);
    EXPECT_EQ(NthPos("a.b.c", '.', 2), 4);
    EXPECT_EQ(NthPos("a.b.c", '.', 3), 6);
    EXPECT_EQ(NthPos("abc.", '.', 1), 5); // the last character counts as not found
    EXPECT_EQ(NthPos("abc", '.', 1), 4);
    EXPECT_EQ(NthPos("", '.', 1), 1);
}

TEST(StreamLn, AppendsCrLf) {
    TMemoryStream stream;
    StreamLn(stream, "one");
    StreamLn(stream, "");
    EXPECT_EQ(stream.DataString(), "one\r\n\r\n");
}

TEST(SockErrors, AbortIsASockErrorIsAnException) {
    try {
        throw EAbortError("Socket readln aborted");
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Socket readln aborted");
    }
}
