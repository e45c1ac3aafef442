#include "settings/policy.h"

#include "settings/inidocument.h"
#include "settings/settingsrules.h"
#include "settings/settingstable.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

IniDocument doc(const std::string& text) {
    std::string error;
    return IniDocument::FromBytes(text, AnsiCodePage(), error).value();
}

const char* const File =
    "[General]\r\nBenchmark=file.example\r\nTimeOut=2000\r\nParallel=8\r\n"
    "[SMTP]\r\nActive=0\r\nServer=mail.file.example\r\n"
    "[URLS]\r\nhttps://file.example/=\r\n"
    "[Webhook Ops]\r\nKind=slack\r\nAddress=https://hooks.file.example/T/x\r\n";

bool noted(const std::vector<std::string>& notes, const std::string& part) {
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& n) { return n.find(part) != std::string::npos; });
}

} // namespace

TEST(SettingsPolicy, WinsOverTheFileAndIsNeverWrittenIntoIt) {
    SettingsPolicy policy;
    policy.Values = {{"benchmark", "policy.example"},
                     {"TimeOut", "99999"},
                     {"MailActive", "1"},
                     {"TextfileDir", "C:\\metrics"},
                     {"Colour", "blue"}};
    policy.Urls =
        SettingsPolicy::Pairs{{"https://a.example/", ""}, {"https://b.example/", "status=200-299"}};
    policy.Webhooks = SettingsPolicy::Pairs{{"Central", "teams https://hooks.policy.example/w/1"},
                                            {"Broken", "carrier-pigeon https://x.example/"}};
    CUserSettings s;
    std::vector<std::string> notes;
    s.Load(doc(File), PasswordCodec(), notes, policy);

    EXPECT_EQ(s.Benchmark, "policy.example");
    EXPECT_TRUE(s.Active);
    EXPECT_EQ(s.TextfileDir, "C:\\metrics");
    // Out of range from policy is fitted like a file's value, with a note that names the policy.
    EXPECT_EQ(s.TimeOut, MaxTimeOut);
    EXPECT_TRUE(noted(notes, "The policy value TimeOut=99999 is out of range: 30000 is used."));
    EXPECT_TRUE(noted(notes, "Colour is no setting"));
    // A channel that does not read sends nothing; its address never shows in a note.
    EXPECT_TRUE(noted(notes, "webhook Broken"));
    EXPECT_FALSE(noted(notes, "x.example"));
    EXPECT_EQ(s.Parallel, 8); // not set by policy: the file's
    ASSERT_EQ(s.UrlCount(), 2);
    EXPECT_EQ(s.Checks(1), "status=200-299");
    ASSERT_EQ(s.Webhooks.size(), 1u);
    EXPECT_EQ(s.Webhooks[0].Kind, WebhookKind::Teams);
    EXPECT_EQ(s.Enforced, (std::set<std::string>{"benchmark", "timeout", "active", "textfiledir",
                                                 EnforcedUrls, EnforcedWebhooks}));

    // A save after other changes: the file keeps its own values of what policy sets.
    s.Parallel = 4;
    IniDocument ini = doc(File);
    s.Save(ini, PasswordCodec());
    EXPECT_EQ(ini.Get("General", "Benchmark"), "file.example");
    EXPECT_EQ(ini.Get("General", "TimeOut"), "2000");
    EXPECT_EQ(ini.Get("General", "Parallel"), "4");
    EXPECT_EQ(ini.Get("SMTP", "Active"), "0");
    EXPECT_FALSE(ini.Get("Metrics", "TextfileDir"));
    EXPECT_EQ(ini.Entries("URLS"), std::vector<std::string>{"https://file.example/="});
    EXPECT_EQ(ini.Get("Webhook Ops", "Address"), "https://hooks.file.example/T/x");
    EXPECT_FALSE(ini.Get("Webhook Central", "Kind"));

    // Without the policy the file's own values are back, and nothing stays enforced.
    CUserSettings after;
    notes.clear();
    after.Load(ini, PasswordCodec(), notes, SettingsPolicy());
    EXPECT_EQ(after.Benchmark, "file.example");
    EXPECT_EQ(after.TimeOut, 2000);
    EXPECT_TRUE(after.Enforced.empty());
}

TEST(SettingsPolicy, ValuesThatDoNotReadLeaveTheFilesInForce) {
    SettingsPolicy policy;
    policy.Values = {{"MailServer", "evil\r\n[SMTP]"}, {"Retries", "many"}, {"Benchmark", ""}};
    CUserSettings s;
    std::vector<std::string> notes;
    s.Load(doc(File), PasswordCodec(), notes, policy);
    EXPECT_EQ(s.Server, "mail.file.example");
    EXPECT_EQ(s.Retries, 0);
    EXPECT_TRUE(noted(notes, "MailServer holds a line break"));
    EXPECT_TRUE(noted(notes, "Retries=many is no number"));
    // An empty benchmark from policy is the default, and enforced: the user cannot pick one.
    EXPECT_EQ(s.Benchmark, DefaultBenchmark);
    EXPECT_EQ(s.Enforced, std::set<std::string>{"benchmark"});
}

TEST(SettingsPolicy, AChangeToWhatPolicySetsIsRefusedInTheRowsWords) {
    SettingsPolicy policy;
    policy.Values = {{"Benchmark", "policy.example"}, {"MailSecurity", "2"}};
    policy.Urls = SettingsPolicy::Pairs{{"https://a.example/", ""}};
    policy.Webhooks = SettingsPolicy::Pairs{};
    CUserSettings s;
    std::vector<std::string> notes;
    s.Load(doc(File), PasswordCodec(), notes, policy);

    CUserSettings next = s;
    next.Parallel = 3;
    EXPECT_EQ(PolicyRefusal(s, next), "");
    next.Benchmark = "other.example";
    EXPECT_EQ(PolicyRefusal(s, next), "The benchmark URL is set by your administrator's policy.");
    next = s;
    next.Security = 0;
    EXPECT_EQ(PolicyRefusal(s, next),
              "The connection security is set by your administrator's policy.");
    next = s;
    next.SetChecks("https://a.example/", "status=200");
    EXPECT_EQ(PolicyRefusal(s, next), "The URL list is set by your administrator's policy.");
    next = s;
    next.Webhooks.push_back({"Mine", WebhookKind::Ntfy, "https://ntfy.example/t", ""});
    EXPECT_EQ(PolicyRefusal(s, next),
              "The webhook channels are set by your administrator's policy.");
}

TEST(SettingsPolicy, EveryPolicyNameIsARowOnce) {
    std::set<std::string> names;
    for (const SettingRow& row : SettingRows())
        if (row.Policy) {
            EXPECT_TRUE(names.insert(row.Policy).second) << row.Policy;
            EXPECT_STRNE(row.What, "") << row.Policy; // the refusal's words
        }
    EXPECT_EQ(names.size(), 17u);
}
