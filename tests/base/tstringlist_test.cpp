#include "base/exception.h"
#include "base/tstringlist.h"

#include <gtest/gtest.h>

TEST(TStringList, KeepsOrderAndAttachedValues) {
    TStringList list;
    list.Add("b");
    list.AddObject("a", 112);
    list.Insert(0, "c");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "c");
    EXPECT_EQ(list[2], "a");
    EXPECT_EQ(list.Objects(2), 112);
    list.PutObject(1, 7);
    list.Put(1, "B");
    EXPECT_EQ(list[1], "B");
    EXPECT_EQ(list.Objects(1), 7);
    list.Delete(0);
    EXPECT_EQ(list.Text(), "B\r\na\r\n");
}

TEST(TStringList, BadIndexRaisesInsteadOfTouchingMemory) {
    TStringList list;
    list.Add("only");
    EXPECT_THROW(list.Get(1), Exception);
    EXPECT_THROW(list.Get(-1), Exception);
    EXPECT_THROW(list.Delete(1), Exception);
    EXPECT_THROW(list.Insert(3, "x"), Exception);
    EXPECT_EQ(list.Count(), 1);
}

TEST(TStringList, SortedListInsertsInPlaceIgnoringCase) {
    TStringList list;
    list.Add("pear");
    list.Add("Apple");
    list.SetSorted(true);
    list.Add("banana");
    list.Add("APPLE");
    EXPECT_EQ(list.Text(), "Apple\r\nAPPLE\r\nbanana\r\npear\r\n");
    EXPECT_EQ(list.IndexOf("PEAR"), 3);
    EXPECT_EQ(list.IndexOf("kiwi"), -1);
    EXPECT_THROW(list.Put(0, "z"), Exception);
}

TEST(TStringList, TextSplitsEveryKindOfLineEnd) {
    TStringList list;
    list.SetText("one\r\ntwo\nthree\rfour");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "four");
    list.SetText("a\r\n\r\nb\r\n");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[1], "");
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
}
