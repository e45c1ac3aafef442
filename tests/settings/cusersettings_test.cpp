#include "fake_inistore.h"
#include "settings/cusersettings.h"

#include <gtest/gtest.h>

#include <utility>

// The record over an in-memory store, which starts as a missing file.
class SettingsRecord : public ::testing::Test {
protected:
    FakeIniStore ini;
    CUserSettings s;
};

TEST_F(SettingsRecord, MissingFileGivesDefaultsAndWritesNothing) {
    EXPECT_TRUE(s.Load(ini));
    EXPECT_EQ(s.Benchmark, DefaultBenchmark);
    EXPECT_TRUE(s.StartOnStartup);
    EXPECT_EQ(s.TimeSpan, 15);
    EXPECT_EQ(s.TimeOut, 500);
    EXPECT_EQ(s.Filter, 0);
    EXPECT_EQ(s.Port, 25);
    EXPECT_FALSE(s.Active);
    EXPECT_EQ(s.Security, SecurityNone);
    EXPECT_EQ(s.Notify, NotifyEveryCycle);
    EXPECT_EQ(s.UrlCount(), 0);
    EXPECT_TRUE(ini.sections.empty());
}

TEST_F(SettingsRecord, ValuesDecodeWithTheirDefaults) {
    ini.WriteString("General", "Benchmark", "");
    ini.WriteString("General", "TimeSpan", "0x1E");
    ini.WriteString("General", "StartOnStartup", "letters");
    ini.WriteString("General", "TimeOut", "100");
    ini.WriteString("Log", "Filter", "5");
    ini.WriteString("SMTP", "Port", "abc");
    ini.WriteString("SMTP", "Active", "2");
    ini.WriteString("SMTP", "Security", "9"); // kept as read: the mail refuses it, never goes plain
    ini.WriteString("SMTP", "Notify", "tls");
    ini.WriteString("SMTP", "To", std::string(3000, 't'));
    s.Load(ini);
    EXPECT_EQ(s.Benchmark, ""); // present but empty is not missing
    EXPECT_EQ(s.TimeSpan, 30);
    EXPECT_TRUE(s.StartOnStartup);
    EXPECT_EQ(s.TimeOut, 100); // kept as read, acted on within the dialog's range
    EXPECT_EQ(s.ProbeTimeOut(), 500u);
    for (auto [stored, used] : {std::pair{-1, 500u}, {0, 500u}, {700, 700u}, {30001, 30000u}}) {
        s.TimeOut = stored;
        EXPECT_EQ(s.ProbeTimeOut(), used) << stored;
    }
    EXPECT_EQ(s.Filter, 5);
    EXPECT_EQ(s.Port, 25);
    EXPECT_TRUE(s.Active);
    EXPECT_EQ(s.Security, 9);
    EXPECT_EQ(s.Notify, NotifyEveryCycle);
    EXPECT_EQ(s.To.size(), 2047u);
}

TEST_F(SettingsRecord, SaveWritesSectionsInOrderAndLoadRestoresEverything) {
    s.Load(ini);
    s.TimeSpan = -5;
    s.Pass = "secret";
    s.Security = SecurityTls;
    s.Notify = NotifyOnChange;
    s.AddUrl("http://b.example/");
    s.AddUrl("http://a.example/?q=1");
    s.SetUrlStatus(0, UrlStatusUp);
    s.Save(ini);
    EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"General", "Log", "SMTP", "URLS"}));
    EXPECT_EQ(ini.ReadSection("URLS")[0].value, "");

    CUserSettings t;
    t.Load(ini);
    EXPECT_EQ(t.TimeSpan, -5);
    EXPECT_EQ(t.Pass, "secret");
    EXPECT_EQ(t.Security, SecurityTls);
    EXPECT_EQ(t.Notify, NotifyOnChange);
    ASSERT_EQ(t.UrlCount(), 2);
    EXPECT_EQ(t.Url(0), "http://b.example/");
    EXPECT_EQ(t.Url(1), "http://a.example/?q=1"); // not cut at its "="
    EXPECT_EQ(t.UrlStatus(0), 0);                 // status words are never stored
}

TEST_F(SettingsRecord, UrlSectionRules) {
    ini.WriteString("URLS", "http://one/", "");
    ini.WriteString("URLS", "http://two/", "a value");
    s.Load(ini);
    ASSERT_EQ(s.UrlCount(), 2); // the value of a URL key is ignored
    EXPECT_EQ(s.Url(1), "http://two/");

    s.URLList.Clear();
    s.AddUrl("http://Dup/");
    s.AddUrl("http://dup/");
    s.AddUrl("  http://spaced/  ");
    s.Save(ini);
    s.Load(ini);
    ASSERT_EQ(s.UrlCount(), 2); // keys match without regard to case
    EXPECT_EQ(s.Url(1), "http://spaced/");

    s.URLList.Clear();
    s.Save(ini);
    EXPECT_EQ(ini.SectionNames().size(), 3u); // an empty list leaves no section
}

TEST_F(SettingsRecord, RefusedWriteStopsSaveAndKeepsEarlierKeys) {
    s.Load(ini);
    s.TimeSpan = 42;
    s.Filter = 2;
    ini.writesBeforeRefusal = 3; // Benchmark, StartOnStartup, TimeSpan
    EXPECT_THROW(s.Save(ini), Exception);
    EXPECT_EQ(ini.ReadString("General", "TimeSpan", ""), "42");
    EXPECT_EQ(ini.ReadString("Log", "Filter", "missing"), "missing");
    EXPECT_EQ(s.Filter, 2);
}
