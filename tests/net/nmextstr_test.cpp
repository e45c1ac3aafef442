#include "net/nmextstr.h"

#include <gtest/gtest.h>

TEST(TExStringList, SetValueAddsReplacesAndRemovesWhateverTheCase) {
    TExStringList list;
    list.SetValue("Subject", "Hello");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "Subject: Hello");
    EXPECT_EQ(list.GetValue("subject"), "Hello");

    list.SetValue("SUBJECT", "Hi");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "SUBJECT: Hi");

    list.SetValue("Subject", "");
    EXPECT_EQ(list.Count(), 0);
    list.SetValue("Subject", "");
    EXPECT_EQ(list.Count(), 0);
}

TEST(TExStringList, GetValueDropsExactlyOneBlank) {
    TExStringList list;
    list.Add("Date:Mon");
    EXPECT_EQ(list.GetValue("Date"), "Mon");
    list.Put(0, "Date:  Mon");
    EXPECT_EQ(list.GetValue("Date"), " Mon");
    list.Put(0, "Date:");
    EXPECT_EQ(list.GetValue("Date"), "");
    EXPECT_EQ(list.GetValue("Missing"), "");
}

TEST(TExStringList, NamesMatchWholeAndUntrimmed) {
    TExStringList list;
    list.Add("Subject");          // no colon: never a match
    list.Add("Subject : spaced"); // blank before the colon belongs to the name
    list.Add("X: a: b");          // the first colon separates
    EXPECT_EQ(list.IndexOfName("Subject"), -1);
    EXPECT_EQ(list.IndexOfName("Subject "), 1);
    EXPECT_EQ(list.IndexOfName("Subj"), -1);
    EXPECT_EQ(list.GetValue("x"), "a: b");
    list.SetValue("Subject", "new");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "Subject: new");
}

TEST(TExStringList, SortedListIsSearchedByBisection) {
    TExStringList list;
    EXPECT_EQ(list.IndexOfName("A"), -1);
    list.SetSorted(true);
    EXPECT_EQ(list.IndexOfName("A"), -1);
    for (const char* name : {"Reply-To", "Date", "X-Mailer", "Subject", "From", "To", "CC"})
        list.SetValue(name, std::string("v-") + name);
    ASSERT_EQ(list.Count(), 7);
    for (int i = 0; i < list.Count(); ++i) {
        const std::string name = list[i].substr(0, list[i].find(':'));
        EXPECT_EQ(list.IndexOfName(name), i) << name;
    }
    EXPECT_EQ(list.GetValue("x-mailer"), "v-X-Mailer");
    EXPECT_EQ(list.IndexOfName("Zzz"), -1);
    EXPECT_EQ(list.IndexOfName("Aaa"), -1);
    list.SetValue("date", "Tue"); // replacing keeps the list sorted and single
    EXPECT_EQ(list.Count(), 7);
    EXPECT_EQ(list.GetValue("Date"), "Tue");
}
