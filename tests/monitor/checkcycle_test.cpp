#include <algorithm>
#include "monitor/checkcycle.h"
#include "recording_host.h"
#include "settings/cusersettings.h"

#include <gtest/gtest.h>

using Calls = std::vector<std::string>;

class CheckCycle : public ::testing::Test {
protected:
    CheckCycle() {
        settings.Benchmark = "bench.test";
        host.up["http://bench.test"] = true;
    }
    void addUrls(std::initializer_list<const char*> urls) {
        for (const char* u : urls)
            settings.AddUrl(u);
    }
    CUserSettings settings;
    RecordingHost host;
};

TEST_F(CheckCycle, AllUpEndsGreenWithoutMailOrSummaryLine) {
    addUrls({"http://a/", "http://b/"});
    host.up["http://a/"] = host.up["http://b/"] = true;
    settings.Active = true;
    EXPECT_EQ(CheckSites(settings, host), "Everything is OK !");
    EXPECT_EQ(host.calls,
              (Calls{"icon 2", "tip Checking...", "clear menu", "probe http://bench.test",
                     "probe http://a/", "log OK --- http://a/", "probe http://b/",
                     "log OK --- http://b/", "icon 0", "tip Everything is OK !", "refresh"}));
    EXPECT_EQ(settings.UrlStatus(0), UrlStatusUp);
}

TEST_F(CheckCycle, SitesDownListedInOrderLoggedAtEveryLevelAndMailed) {
    addUrls({"http://a/", "http://b/", "http://c/"});
    host.up["http://a/"] = true;
    settings.Active = true;
    settings.Filter = 2;
    settings.SetUrlStatus(1, UrlStatusUp);
    EXPECT_EQ(CheckSites(settings, host), "http://b/\r\nhttp://c/");
    EXPECT_EQ(
        host.calls,
        (Calls{"icon 2", "tip Checking...", "clear menu", "probe http://bench.test",
               "probe http://a/", "probe http://b/", "menu http://b/", "log Failed --- http://b/",
               "probe http://c/", "menu http://c/", "log Failed --- http://c/", "icon 1",
               "mail http://b/\r\nhttp://c/", "tip http://b/\r\nhttp://c/", "refresh"}));
    EXPECT_EQ(settings.UrlStatus(0), UrlStatusUp);
    EXPECT_EQ(settings.UrlStatus(1), 0);
    EXPECT_EQ(settings.UrlStatus(2), 0);
}

TEST_F(CheckCycle, MailOffSendsNothing) {
    addUrls({"http://a/"});
    CheckSites(settings, host);
    for (const std::string& call : host.calls)
        EXPECT_NE(call.rfind("mail", 0), 0u) << call;
}

TEST_F(CheckCycle, BenchmarkDownLeavesStatusWordsAndSkipsEverythingElse) {
    addUrls({"http://a/"});
    settings.SetUrlStatus(0, UrlStatusUp);
    settings.Active = true;
    host.up["http://bench.test"] = false;
    EXPECT_EQ(CheckSites(settings, host), "");
    EXPECT_EQ(host.calls,
              (Calls{"icon 2", "tip Checking...", "clear menu", "probe http://bench.test", "icon 3",
                     "tip Disconnected !", "log Benchmark site not reached"}));
    EXPECT_EQ(settings.UrlStatus(0), UrlStatusUp);

    host.calls.clear();
    settings.Filter = 2;
    CheckSites(settings, host);
    EXPECT_EQ(host.calls.back(), "tip Disconnected !");
}

TEST_F(CheckCycle, EmptyBenchmarkProbesTheBareScheme) {
    settings.Benchmark = "";
    CheckSites(settings, host);
    EXPECT_EQ(host.calls[3], "probe http://");
    EXPECT_EQ(host.calls[5], "tip Disconnected !");
}

TEST_F(CheckCycle, EmptyListIsAllUpWithoutLogLines) {
    settings.Active = true;
    CheckSites(settings, host);
    EXPECT_EQ(host.calls,
              (Calls{"icon 2", "tip Checking...", "clear menu", "probe http://bench.test", "icon 0",
                     "tip Everything is OK !", "refresh"}));
}

TEST_F(CheckCycle, LogLevelsCompareAsSignedIntegers) {
    addUrls({"http://a/"});
    host.up["http://a/"] = true;
    for (int filter : {-1, 0, 1, 2, 5}) {
        host.calls.clear();
        settings.Filter = filter;
        CheckSites(settings, host);
        const bool logged = std::find(host.calls.begin(), host.calls.end(),
                                      "log OK --- http://a/") != host.calls.end();
        EXPECT_EQ(logged, filter <= 1) << filter;
    }
}

TEST_F(CheckCycle, DuplicatesAreProbedTwiceAndListedTwice) {
    addUrls({"http://a/", "http://a/"});
    EXPECT_EQ(CheckSites(settings, host), "http://a/\r\nhttp://a/");
}

TEST_F(CheckCycle, ListChangingDuringTheCycleIsFollowedSafely) {
    addUrls({"http://a/"});
    host.onProbe = [&](const std::string& url) {
        if (url == "http://a/")
            settings.AddUrl("http://late/");
    };
    EXPECT_EQ(CheckSites(settings, host), "http://a/\r\nhttp://late/");

    // A list emptied while its last entry is probed: no status word is written out of range.
    host.onProbe = [&](const std::string& url) {
        if (url != "http://bench.test")
            settings.URLList.Clear();
    };
    EXPECT_NO_THROW(CheckSites(settings, host));
}

TEST(ScheduleRule, ArmsOnlyOnChangeAndStaysInTheTimersRange) {
    ScheduleRule rule;
    EXPECT_FALSE(rule.Arm(0)); // disabled at load, disabled again: nothing changes
    EXPECT_TRUE(rule.Arm(15));
    EXPECT_TRUE(rule.Enabled());
    EXPECT_EQ(rule.Interval(), 900000u);
    EXPECT_FALSE(rule.Arm(15)); // unchanged: the running interval keeps its phase
    EXPECT_TRUE(rule.Arm(5));
    EXPECT_TRUE(rule.Arm(-5));
    EXPECT_FALSE(rule.Enabled());
    EXPECT_EQ(rule.Interval(), 0u);
    EXPECT_EQ(ScheduleRule::IntervalFor(100000), 0x7FFFFFFFu); // would wrap in 32 bits
    EXPECT_EQ(ScheduleRule::IntervalFor(35791), 35791u * 60000u);
}
