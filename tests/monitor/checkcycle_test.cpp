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
                     "probe http://a/", "probe http://b/", "log OK --- http://a/",
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
               "probe http://a/", "probe http://b/", "probe http://c/", "menu http://b/",
               "log Failed --- http://b/", "menu http://c/", "log Failed --- http://c/", "icon 1",
               "tip http://b/\r\nhttp://c/", "refresh", "mail http://b/\r\nhttp://c/"}));
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

// Runs one cycle with the sites in down failing, and returns the mails it handed over; a report
// is then delivered or not, as the mail thread would tell.
Calls mailsOfCycle(CUserSettings& settings, RecordingHost& host, AlertPolicy& policy,
                   std::initializer_list<const char*> down, bool benchmark = true,
                   int delivered = 1) {
    host.calls.clear();
    host.up = {{"http://bench.test", benchmark}};
    for (int i = 0; i < settings.UrlCount(); ++i)
        host.up[settings.Url(i)] =
            std::find(down.begin(), down.end(), settings.Url(i)) == down.end();
    CheckSites(settings, host, policy);
    if (policy.LastReport() != 0 && delivered >= 0) // -1: the result has not come back yet
        policy.ReportDelivered(policy.LastReport(), delivered == 1);
    Calls mails;
    for (const std::string& call : host.calls)
        if (call.rfind("mail ", 0) == 0 || call.rfind("back up ", 0) == 0)
            mails.push_back(call);
    return mails;
}

TEST_F(CheckCycle, NotifyOnChangeMailsNewFailuresAndSitesBackUp) {
    addUrls({"http://a/", "http://b/", "http://c/"});
    settings.Active = true;
    settings.Notify = NotifyOnChange;
    AlertPolicy policy;
    auto cycle = [&](std::initializer_list<const char*> down, bool benchmark = true) {
        return mailsOfCycle(settings, host, policy, down, benchmark);
    };
    EXPECT_EQ(cycle({"http://b/"}), Calls{"mail http://b/"});
    EXPECT_EQ(cycle({"http://b/"}), Calls{});
    EXPECT_EQ(cycle({}, false), Calls{}); // offline: the sites' state is unknown, kept
    EXPECT_EQ(cycle({}), Calls{"back up http://b/"});
    EXPECT_EQ(cycle({}), Calls{});
    EXPECT_EQ(cycle({"http://b/"}), Calls{"mail http://b/"});
    // A new failure reports every site down; a shrink only says what came back.
    EXPECT_EQ(cycle({"http://a/", "http://b/"}), Calls{"mail http://a/\r\nhttp://b/"});
    EXPECT_EQ(cycle({"http://b/", "http://c/"}),
              (Calls{"mail http://b/\r\nhttp://c/", "back up http://a/"}));
    EXPECT_EQ(cycle({"http://c/"}), Calls{"back up http://b/"});
    // A site taken off the list while down did not answer: no back-up mail for it.
    settings.URLList.Delete(2);
    EXPECT_EQ(cycle({}), Calls{});
    EXPECT_EQ(cycle({"http://a/"}), Calls{"mail http://a/"});

    // Mail off: nothing is told, so nothing is remembered as told.
    settings.Active = false;
    EXPECT_EQ(cycle({}), Calls{});
    settings.Active = true;
    EXPECT_EQ(cycle({}), Calls{"back up http://a/"});

    // Every other Notify value reports every cycle with sites down and never mails "back up".
    for (std::int32_t notify : {NotifyEveryCycle, 7}) {
        settings.Notify = notify;
        EXPECT_EQ(cycle({"http://a/"}), Calls{"mail http://a/"});
        EXPECT_EQ(cycle({"http://a/"}), Calls{"mail http://a/"});
        EXPECT_EQ(cycle({}), Calls{});
    }
}

TEST_F(CheckCycle, NotifyOnChangeRetriesUndeliveredReportsAndAnnouncesOnlyWhatWasTold) {
    addUrls({"http://a/", "http://b/"});
    settings.Active = true;
    settings.Notify = NotifyOnChange;
    AlertPolicy policy;
    auto cycle = [&](std::initializer_list<const char*> down, int delivered = 1) {
        return mailsOfCycle(settings, host, policy, down, true, delivered);
    };
    // The mail server is away: the report is sent again every cycle with sites down, once.
    EXPECT_EQ(cycle({"http://a/"}, 0), Calls{"mail http://a/"});
    EXPECT_EQ(cycle({"http://a/"}, 0), Calls{"mail http://a/"});
    // Back: the report goes, and is not repeated.
    EXPECT_EQ(cycle({"http://a/"}), Calls{"mail http://a/"});
    EXPECT_EQ(cycle({"http://a/"}), Calls{});
    EXPECT_EQ(cycle({}), Calls{"back up http://a/"});

    // A site whose only report never arrived comes back: the recipient never heard of it.
    EXPECT_EQ(cycle({"http://b/"}, 0), Calls{"mail http://b/"});
    EXPECT_EQ(cycle({}), Calls{});
    EXPECT_EQ(cycle({}), Calls{});

    // Of two sites down, only the one a delivered report named is announced back up.
    EXPECT_EQ(cycle({"http://a/"}), Calls{"mail http://a/"});
    EXPECT_EQ(cycle({"http://a/", "http://b/"}, 0), Calls{"mail http://a/\r\nhttp://b/"});
    EXPECT_EQ(cycle({}), Calls{"back up http://a/"});

    // A late failure of an earlier report does not undo the later one that was delivered.
    EXPECT_EQ(cycle({"http://a/"}, -1), Calls{"mail http://a/"});
    const std::uint32_t earlier = policy.LastReport();
    EXPECT_EQ(cycle({"http://a/", "http://b/"}), Calls{"mail http://a/\r\nhttp://b/"});
    policy.ReportDelivered(earlier, false);
    EXPECT_EQ(cycle({"http://a/", "http://b/"}), Calls{});
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
    // The cycle checks the list as it stood at its start; the address added waits for the next.
    EXPECT_EQ(CheckSites(settings, host), "http://a/");
    host.onProbe = nullptr;
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

TEST_F(CheckCycle, AWarnedSiteIsUpNamedInTheLogAndTheMenuWithAPictureOfItsOwn) {
    addUrls({"http://a/", "http://b/"});
    host.up["http://a/"] = host.up["http://b/"] = true;
    host.warn["http://b/"] = "answer took 900 ms";
    EXPECT_EQ(CheckSites(settings, host), "Everything is OK !");
    EXPECT_EQ(host.calls,
              (Calls{"icon 2", "tip Checking...", "clear menu", "probe http://bench.test",
                     "probe http://a/", "probe http://b/", "log OK --- http://a/",
                     "log OK --- http://b/", "warned http://b/: answer took 900 ms",
                     "log Warning --- http://b/: answer took 900 ms", "icon 5",
                     "tip Everything is OK !", "refresh"}));
    EXPECT_EQ(settings.UrlStatus(1), UrlStatusUp);

    // A site down wins the picture.
    host.calls.clear();
    host.up["http://a/"] = false;
    CheckSites(settings, host);
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "icon 1"), host.calls.end());
}

TEST_F(CheckCycle, APasswordInAnAddressIsHiddenInTheLogTheMenuTheTipAndTheMail) {
    addUrls({"http://me:s3cret@a/", "http://me:s3cret@b/"});
    host.up["http://me:s3cret@a/"] = true;
    host.warn["http://me:s3cret@a/"] = "slow";
    settings.Active = true;
    settings.Notify = NotifyOnChange;
    AlertPolicy policy;
    EXPECT_EQ(CheckSites(settings, host, policy), "http://me:***@b/");
    host.up["http://me:s3cret@b/"] = true;
    policy.ReportDelivered(policy.LastReport(), true);
    CheckSites(settings, host, policy); // b back up: the back-up mail
    std::string all;
    for (const std::string& call : host.calls)
        if (call.rfind("probe ", 0) != 0)
            all += call + "\n";
    EXPECT_EQ(all.find("s3cret"), std::string::npos) << all;
    EXPECT_NE(all.find("mail http://me:***@b/"), std::string::npos) << all;
    EXPECT_NE(all.find("back up http://me:***@b/"), std::string::npos) << all;
    EXPECT_NE(all.find("log Warning --- http://me:***@a/: slow"), std::string::npos) << all;
}

TEST(AlertPolicyWarnings, AWarningAloneMailsOncePerSitePerDayAndRidesAlongWithAReport) {
    AlertPolicy policy;
    CycleOutcome warned;
    warned.Answered = {"http://a/", "http://b/"};
    warned.Warned = {{"http://a/", "certificate expires"}};
    using Warnings = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(policy.Decide(NotifyOnChange, warned, 100).Warnings, warned.Warned);
    EXPECT_TRUE(policy.Decide(NotifyOnChange, warned, 100).Warnings.empty());
    EXPECT_FALSE(policy.Decide(NotifyOnChange, warned, 100).Report);
    // A report the same day carries every warning under its own heading.
    CycleOutcome down = warned;
    down.Answered = {"http://a/"};
    down.Failed = {"http://b/"};
    const AlertDecision report = policy.Decide(NotifyEveryCycle, down, 100);
    EXPECT_TRUE(report.Report);
    EXPECT_EQ(report.Warnings, warned.Warned);
    // The next day, once more.
    EXPECT_EQ(policy.Decide(NotifyEveryCycle, warned, 101).Warnings, warned.Warned);
    EXPECT_EQ(policy.Decide(NotifyEveryCycle, warned, 101).Warnings, Warnings{});
}

// The mail under the quiet of [Alerts] and [Maintenance], through the output the service
// registers, on a clock of the test's own: one mail a cycle, whatever it holds.
TEST_F(CheckCycle, TheMailKeepsTheQuietOfUpAfterRemindersAndMaintenance) {
    addUrls({"http://a/", "http://b/"});
    settings.Active = true;
    settings.Notify = NotifyOnChange;
    settings.UpAfter = 2;
    settings.Remind = 30;
    AlertPolicy policy;
    std::int64_t now = 4 * 86400 + 9 * 3600; // Monday 1970-01-05 09:00
    AlertReport alerts(settings, host, policy, nullptr, [&] { return now; });
    std::vector<AlertMessage> messages;
    alerts.OnMessage = [&](const AlertMessage& message) { messages.push_back(message); };
    const auto cycle = [&](std::initializer_list<const char*> down, bool benchmark = true) {
        CycleResults results;
        results.Benchmark =
            benchmark ? ProbeResult::Answered(1) : ProbeResult::Down(ProbeReason::TimedOut, 500);
        for (int i = 0; benchmark && i < settings.UrlCount(); ++i) {
            const bool failed = std::find(down.begin(), down.end(), settings.Url(i)) != down.end();
            results.Urls.push_back(settings.Url(i));
            results.Sites.push_back(failed ? ProbeResult::Down(ProbeReason::HttpStatus, 1, 503)
                                           : ProbeResult::Answered(1));
        }
        host.calls.clear();
        alerts.CycleDone({results, "http://bench.test"});
        if (policy.LastReport())
            policy.ReportDelivered(policy.LastReport(), true);
        now += 600;
        return host.calls;
    };
    EXPECT_EQ(cycle({"http://a/"}), Calls{"mail http://a/"});
    // Up once, down again: flapping, told in the notes of the one mail, not a pair of mails.
    EXPECT_EQ(cycle({}), Calls{});
    const Calls flapping = cycle({"http://a/", "http://b/"});
    ASSERT_EQ(flapping.size(), 2u);
    EXPECT_EQ(flapping[0], "mail http://a/\r\nhttp://b/");
    EXPECT_EQ(flapping[1].rfind("mail notes http://a/ is flapping", 0), 0u) << flapping[1];
    // Thirty minutes after the last word about them: a reminder sends the report again.
    EXPECT_EQ(cycle({"http://a/", "http://b/"}), Calls{});
    EXPECT_EQ(cycle({"http://a/", "http://b/"}), Calls{});
    EXPECT_EQ(cycle({"http://a/", "http://b/"}), Calls{"mail http://a/\r\nhttp://b/"});
    // b's maintenance: b is neither down nor up for the mail; a comes back after two answers.
    settings.Maintenance = {"Mon 00:00-Tue 00:00 = http://b/"};
    EXPECT_EQ(cycle({"http://b/"}), Calls{});
    EXPECT_EQ(cycle({"http://b/"}), Calls{"back up http://a/"});
    // The window over, b is still down: announced then.
    settings.Maintenance.clear();
    EXPECT_EQ(cycle({"http://b/"}), Calls{"mail http://b/"});
    // The other channels heard the same cycles: the first message was a's going down.
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front().Changes.at(0).What, SiteAlert::Down);
    EXPECT_EQ(messages.front().Changes.at(0).Url, "http://a/");
}

TEST(MaintenanceStatus, WordsForAWindowOverEverySiteOrSomeOfThem) {
    CUserSettings settings;
    settings.AddUrl("http://a/");
    settings.AddUrl("http://b/");
    const std::int64_t saturday2300 = 9 * 86400 + 23 * 3600; // 1970-01-10 was a Saturday
    settings.Maintenance = {"Sat 22:00-Sun 02:00"};
    EXPECT_EQ(MaintenanceStatusText(settings, saturday2300),
              "in maintenance until 1970-01-11 02:00");
    EXPECT_EQ(MaintenanceStatusText(settings, saturday2300 + 3600), "in maintenance until 02:00");
    EXPECT_EQ(MaintenanceStatusText(settings, saturday2300 - 7200), "");
    settings.Maintenance = {"Sat 22:00-Sun 02:00 = http://b/"};
    EXPECT_EQ(MaintenanceStatusText(settings, saturday2300), "1 site in maintenance");
}
