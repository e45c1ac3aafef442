#include "control/protocol.h"

#include "base/text.h"
#include "settings/inidocument.h"
#include "settings/policy.h"
#include "settings/settingsrules.h"
#include "settings/settingstable.h"

#include <gtest/gtest.h>

TEST(ControlProtocol, MessagesRoundTripWithEscapesAndRepeatedFields) {
    MonitorStatus status;
    status.Picture = 1;
    status.Tip = "http://a/\r\nhttp://b\\c";
    status.Failed = {{"http://a/", "HTTP status 404", 7},
                     {"http://b\\c", "timed out after 2000 ms", 2000},
                     {"http://x/?q=1&r==2", "", 0}};
    status.LastCycleEnd = "2026-12-08 09:20:01";
    status.CycleRunning = true;
    const std::string bytes = EncodeMessage(StatusMessage(status));
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
    std::string error;
    const auto decoded = DecodeMessage(bytes, error);
    ASSERT_TRUE(decoded) << error;
    const auto back = StatusFromMessage(*decoded);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Picture, 1);
    EXPECT_EQ(back->Tip, status.Tip);
    EXPECT_EQ(back->Failed, status.Failed);
    EXPECT_EQ(back->LastCycleEnd, status.LastCycleEnd);
    EXPECT_TRUE(back->CycleRunning);

    // From a monitor that sends only the addresses, each comes without a reason.
    ControlMessage older(msg::Status);
    older.Add("picture", "1").Add("failed", "http://a/").Add("failed", "http://b/");
    const auto plain = StatusFromMessage(older);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Failed, (std::vector<FailedSite>{{"http://a/", "", 0}, {"http://b/", "", 0}}));
}

TEST(ControlProtocol, SettingsTravelWithoutThePasswordUnlessOneIsSent) {
    CUserSettings s;
    s.Benchmark = "bench.example";
    s.AddUrl("http://one/");
    s.AddUrl("http://two/?a=b");
    s.TimeSpan = 7;
    s.Port = 587;
    s.UserID = "me";
    s.Pass = "secret";
    s.Security = 1;
    const std::string told = EncodeMessage(SettingsMessage(msg::Settings, s, true, false));
    EXPECT_EQ(told.find("secret"), std::string::npos);
    std::string error;
    CUserSettings got;
    bool passwordSet = false;
    ASSERT_TRUE(SettingsFromMessage(*DecodeMessage(told, error), got, passwordSet));
    EXPECT_TRUE(passwordSet);
    EXPECT_EQ(got.Pass, "");
    EXPECT_EQ(got.UrlCount(), 2);
    EXPECT_EQ(got.Url(1), "http://two/?a=b");
    EXPECT_EQ(got.TimeSpan, 7);
    EXPECT_EQ(got.Port, 587);
    EXPECT_EQ(got.Security, 1);

    const std::string sent = EncodeMessage(SettingsMessage(msg::SetSettings, s, true, true));
    ASSERT_TRUE(SettingsFromMessage(*DecodeMessage(sent, error), got, passwordSet));
    EXPECT_EQ(got.Pass, "secret");
    ControlMessage bad(msg::SetSettings);
    bad.Add("port", "25x");
    EXPECT_FALSE(SettingsFromMessage(bad, got, passwordSet));
}

TEST(ControlProtocol, EachAddressCarriesItsChecksAndAnOlderCompanionKeepsThem) {
    CUserSettings s;
    s.AddUrl("http://shop/");
    s.AddUrl("http://two/?a=b");
    s.AddUrl("http://shop/");
    s.SetChecks("http://shop/", "contains=\"a;\"\"b\"\"\";stay=1");
    s.CertDays = 0;
    std::string error;
    CUserSettings got;
    bool passwordSet = false;
    ASSERT_TRUE(SettingsFromMessage(
        *DecodeMessage(EncodeMessage(SettingsMessage(msg::Settings, s, true, false)), error), got,
        passwordSet));
    EXPECT_EQ(got.Checks(0), s.Checks(0));
    EXPECT_EQ(got.Checks(1), "");
    EXPECT_EQ(got.CertDays, 0);

    // The companion clears one address's checks: the empty checks= says so.
    got.SetChecks("http://shop/", "");
    got.SetChecks("http://two/?a=b", "slow=900");
    CUserSettings service = s;
    ASSERT_TRUE(SettingsFromMessage(SettingsMessage(msg::SetSettings, got, true, true), service,
                                    passwordSet));
    EXPECT_EQ(service.Checks(0), "");
    EXPECT_EQ(service.Checks(1), "slow=900");

    // An older companion sends the list alone, in another order and with an address more.
    ControlMessage older(msg::SetSettings);
    older.Add("url", "http://new/").Add("url", "http://shop/").Add("url", "http://two/?a=b");
    service = s;
    ASSERT_TRUE(SettingsFromMessage(older, service, passwordSet));
    ASSERT_EQ(service.UrlCount(), 3);
    EXPECT_EQ(service.Checks(0), "");
    EXPECT_EQ(service.Checks(1), s.Checks(0));
    EXPECT_EQ(service.CertDays, 0) << "a field it does not know keeps its value";

    // Checks that stand where no address asks for them change nothing.
    ControlMessage stray(msg::SetSettings);
    stray.Add("checks", "stay=1").Add("url", "http://a/").Add("checks", "").Add("checks", "slow=5");
    stray.Add("url", "http://b/")
        .Add("checks", "slow=7")
        .Add("url", "http://b/")
        .Add("checks", "stay=1");
    ASSERT_TRUE(SettingsFromMessage(stray, service, passwordSet));
    EXPECT_EQ(service.Checks(0), "");
    EXPECT_EQ(service.Checks(1), "slow=7");
    EXPECT_EQ(service.Checks(2), "slow=7");
}

TEST(ControlProtocol, EveryPipeFieldOfTheTableCarriesItsOwnSetting) {
    CUserSettings s;
    std::int32_t distinct = 1;
    for (const SettingRow& row : SettingRows()) {
        if (row.Kind == SettingKind::Text)
            s.*row.Text = row.Key;
        else if (row.Kind == SettingKind::Flag)
            s.*row.Flag = row.Default == 0;
        else if (row.Kind == SettingKind::Number)
            s.*row.Number = 1000 + distinct++;
    }
    CUserSettings got;
    bool passwordSet = false;
    ASSERT_TRUE(
        SettingsFromMessage(SettingsMessage(msg::Settings, s, false, false), got, passwordSet));
    const CUserSettings defaults;
    for (const SettingRow& row : SettingRows()) {
        const auto& from = row.PipeField ? s : defaults; // the pipe leaves the rest as it was
        if (row.Kind == SettingKind::Text) {
            EXPECT_EQ(got.*row.Text, from.*row.Text) << row.Key;
        } else if (row.Kind == SettingKind::Flag) {
            EXPECT_EQ(got.*row.Flag, from.*row.Flag) << row.Key;
        } else if (row.Kind == SettingKind::Number) {
            EXPECT_EQ(got.*row.Number, from.*row.Number) << row.Key;
        }
    }
}

TEST(ControlProtocol, WarningsTravelAndAnOlderCompanionStillSeesAllUp) {
    MonitorStatus status;
    status.Picture = PictureWarnings;
    status.Warnings = {{"http://shop/", "certificate of shop expires in 5 days, on 2026-12-14", 0},
                       {"http://slow/", "answer took 2400 ms", 0}};
    const ControlMessage message = StatusMessage(status);
    EXPECT_EQ(message.Get("picture"), "0") << "an older companion knows only 0..3";
    const auto back = StatusFromMessage(message);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Picture, PictureWarnings);
    EXPECT_EQ(back->Warnings, status.Warnings);
    EXPECT_TRUE(back->Failed.empty());

    // Sites down and warned at once: an older companion, which gives each why= to the failed
    // site before it, still reads every failed site's reason right.
    status.Picture = 1;
    status.Failed = {{"http://down/", "HTTP status 503", 12}, {"http://gone/", "timed out", 9}};
    const ControlMessage mixed = StatusMessage(status);
    EXPECT_FALSE(mixed.Has("warnings"));
    std::vector<FailedSite> olderReads;
    for (const auto& [name, value] : mixed.Fields) {
        if (name == "failed")
            olderReads.push_back({value, {}, 0});
        else if (name == "why" && !olderReads.empty())
            olderReads.back().Reason = value;
        else if (name == "ms" && !olderReads.empty())
            olderReads.back().Milliseconds = static_cast<std::uint32_t>(std::stoi(value));
    }
    EXPECT_EQ(olderReads, status.Failed);
    const auto both = StatusFromMessage(mixed);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->Picture, 1);
    EXPECT_EQ(both->Warnings, status.Warnings);
    EXPECT_EQ(both->Failed, status.Failed);
}

TEST(ControlProtocol, BrokenOrOversizedInputIsRefusedWithAReason) {
    std::string error;
    for (const std::string& bytes :
         {std::string(), std::string("\n"), std::string("Status\n"),
          std::string("status\nnoequals"), std::string("status\nBad=1"),
          std::string("status\ntip=ends\\"), std::string("status\ntip=\\x"),
          std::string(MaxMessageSize + 1, 'a')}) {
        error.clear();
        EXPECT_FALSE(DecodeMessage(bytes, error)) << bytes.substr(0, 40);
        EXPECT_FALSE(error.empty());
    }
    // A message that would not fit is never encoded, so it is never sent cut short.
    ControlMessage huge(msg::Status);
    huge.Add("tip", std::string(MaxMessageSize, 'x'));
    EXPECT_EQ(EncodeMessage(huge), "");
    // A truncated message decodes to fewer fields, never to a wrong value; a status without
    // its picture is no status.
    EXPECT_FALSE(StatusFromMessage(*DecodeMessage("status\ntip=x", error)));
    EXPECT_FALSE(StatusFromMessage(*DecodeMessage("status\npicture=9", error)));
}

TEST(ControlProtocol, ReadingNeedsALocalUserChangingAnElevatedAdministrator) {
    const ClientFacts user{true, false, false, false};
    const ClientFacts adminNotElevated{true, false, true, false};
    const ClientFacts elevatedAdmin{true, false, true, true};
    const ClientFacts network{false, true, true, true};
    for (const char* read : {msg::Status, msg::Subscribe, msg::CheckNow, msg::GetSettings,
                             msg::CheckList, msg::Diagnose}) {
        EXPECT_EQ(RefusalFor(read, user), "") << read;
        EXPECT_NE(RefusalFor(read, network), "") << read;
    }
    for (const char* change : {msg::SetSettings, msg::Stop, msg::TestWebhook, msg::Maintenance}) {
        EXPECT_NE(RefusalFor(change, user), "") << change;
        EXPECT_NE(RefusalFor(change, adminNotElevated), "") << change;
        EXPECT_EQ(RefusalFor(change, elevatedAdmin), "") << change;
        EXPECT_NE(RefusalFor(change, network), "") << change;
    }
}

TEST(ControlProtocol, WhatDoesNotFitIsCountedOrRefusedNeverLeftOut) {
    // 1,500 sites down: the status tells the truth in part, and how much more there is.
    MonitorStatus status;
    status.Picture = 1;
    for (int i = 0; i < 1500; ++i) {
        status.Failed.push_back(
            {"http://site-" + std::to_string(i) + ".example/\xC3\xBC/down", "HTTP status 503", 40});
        status.Tip += status.Failed.back().Url + "\r\n";
    }
    std::string error;
    const std::string bytes = EncodeMessage(StatusMessage(status));
    ASSERT_FALSE(bytes.empty());
    const auto back = StatusFromMessage(*DecodeMessage(bytes, error));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Picture, 1);
    EXPECT_GT(back->Failed.size(), 100u);
    EXPECT_EQ(back->Failed.size() + back->More, 1500u);
    EXPECT_LE(back->Tip.size(), StatusTipBudget);
    EXPECT_EQ(back->Tip.rfind(status.Failed[0].Url, 0), 0u);
    EXPECT_EQ(back->Failed.back(), status.Failed[back->Failed.size() - 1]);
    EXPECT_NE(back->Tip.find(" more"), std::string::npos);
    // Warned sites take what room the failed ones leave, and are counted as well.
    status.Warnings.assign(300, {"http://warned.example/", "answer took 2400 ms", 0});
    status.Picture = PictureWarnings;
    const auto warned =
        StatusFromMessage(*DecodeMessage(EncodeMessage(StatusMessage(status)), error));
    ASSERT_TRUE(warned);
    EXPECT_EQ(warned->Picture, PictureWarnings);
    EXPECT_EQ(warned->Failed.size() + warned->More, 1500u);
    EXPECT_EQ(warned->Warnings.size() + warned->MoreWarnings, 300u);
    status.Warnings.clear();
    // One line longer than the budget is cut where no character is split.
    status.Tip = std::string(MaxMessageSize, '\xC3');
    for (size_t i = 1; i < status.Tip.size(); i += 2)
        status.Tip[i] = '\xBC';
    const auto cut = StatusFromMessage(*DecodeMessage(EncodeMessage(StatusMessage(status)), error));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->Tip.substr(cut->Tip.size() - 5), "\xC3\xBC...");

    // Settings whose list no message can carry: refused where they would be set, and an error
    // in place of the settings; a list that announces more than it holds is not whole.
    CUserSettings s;
    for (int i = 0; i < 1559; ++i)
        s.AddUrl("http://listed-site-" + std::to_string(i) + ".example/a/longer/path");
    EXPECT_NE(SettingsSizeRefusal(s), "");
    EXPECT_EQ(SettingsReply(s, false).Type, msg::Error);
    CUserSettings few;
    few.AddUrl("http://one/");
    EXPECT_EQ(SettingsSizeRefusal(few), "");
    ControlMessage whole = SettingsReply(few, false);
    EXPECT_TRUE(SettingsComplete(whole));
    whole.Fields.erase(whole.Fields.begin() + 1); // the url
    EXPECT_FALSE(SettingsComplete(whole));

    EXPECT_EQ(CheckListRefusal(std::vector<std::string>(100, "http://a/")), "");
    EXPECT_NE(CheckListRefusal(std::vector<std::string>(101, "http://a/")), "");
    EXPECT_NE(CheckListRefusal(std::vector<std::string>(100, std::string(650, 'u'))), "");
}

namespace {

const std::string slackHook = "https://hooks.slack.com/services/T0/B0/xyz";
const std::string jsonHook = "https://example.test/hook?token=abc";

CUserSettings withChannels() {
    CUserSettings s;
    std::vector<std::string> notes;
    s.Load(IniDocument(), PasswordCodec(), notes); // the defaults, which keep the rules
    s.Webhooks = {{"ops", WebhookKind::Slack, slackHook, ""},
                  {"Signed", WebhookKind::Json, jsonHook, "s3cret"}};
    s.Maintenance = {"Sat 22:00-Sun 02:00"};
    return s;
}

} // namespace

TEST(ControlProtocol, ASitesPasswordTravelsMaskedAndTheServiceKeepsIt) {
    CUserSettings service;
    service.AddUrl("http://a/");
    service.SetChecks("http://a/", "auth=basic;user=me;pass=protected:S3CRET");
    const std::string told = EncodeMessage(SettingsReply(service, false));
    EXPECT_EQ(told.find("S3CRET"), std::string::npos) << told;
    std::string error;
    CUserSettings companion;
    bool passwordSet = false;
    ASSERT_TRUE(SettingsFromMessage(*DecodeMessage(told, error), companion, passwordSet));
    CUserSettings applied = service;
    ASSERT_TRUE(SettingsFromMessage(SettingsMessage(msg::SetSettings, companion, false, true),
                                    applied, passwordSet));
    EXPECT_EQ(applied.Checks(0), service.Checks(0));
}

TEST(ControlProtocol, WebhooksTravelOnlyAsShownAndTheServiceKeepsWhatItWasNotSent) {
    const CUserSettings service = withChannels();
    const std::string told = EncodeMessage(SettingsReply(service, false));
    for (const char* whole : {"xyz", "token", "s3cret"})
        EXPECT_EQ(told.find(whole), std::string::npos) << told;
    std::string error;
    CUserSettings companion;
    bool passwordSet = false;
    ASSERT_TRUE(SettingsFromMessage(*DecodeMessage(told, error), companion, passwordSet));
    ASSERT_EQ(companion.Webhooks.size(), 2u);
    EXPECT_EQ(companion.Webhooks[0].Address, "https://hooks.slack.com/...");
    EXPECT_EQ(companion.Maintenance, service.Maintenance);

    // Sent back as shown, renamed in case, with a new channel: each keeps what it had.
    companion.Webhooks[1].Name = "SIGNED";
    companion.Webhooks.push_back({"new", WebhookKind::Ntfy, "https://ntfy.example/t", ""});
    CUserSettings applied = service;
    ASSERT_TRUE(SettingsFromMessage(SettingsMessage(msg::SetSettings, companion, false, true),
                                    applied, passwordSet));
    ASSERT_EQ(applied.Webhooks.size(), 3u);
    EXPECT_EQ(applied.Webhooks[0].Address, slackHook);
    EXPECT_EQ(applied.Webhooks[1],
              (WebhookChannel{"SIGNED", WebhookKind::Json, jsonHook, "s3cret"}));
    EXPECT_EQ(applied.Webhooks[2].Address, "https://ntfy.example/t");

    // A new address and secret replace; a channel left out is deleted; the windows are replaced.
    companion.Webhooks.erase(companion.Webhooks.begin());
    companion.Webhooks[0].Address = "https://other.example/hook";
    companion.Webhooks[0].Secret = "n3w";
    companion.Maintenance.clear();
    applied = service;
    ASSERT_TRUE(SettingsFromMessage(SettingsMessage(msg::SetSettings, companion, false, true),
                                    applied, passwordSet));
    ASSERT_EQ(applied.Webhooks.size(), 2u);
    EXPECT_EQ(applied.Webhooks[0],
              (WebhookChannel{"SIGNED", WebhookKind::Json, "https://other.example/hook", "n3w"}));
    EXPECT_TRUE(applied.Maintenance.empty());

    // A renamed channel sent as shown has no stored address: the rules refuse the shown form.
    companion.Webhooks[1].Name = "renamed";
    companion.Webhooks[1].Address = "https://ntfy.example/...";
    applied = service;
    ASSERT_TRUE(SettingsFromMessage(SettingsMessage(msg::SetSettings, companion, false, true),
                                    applied, passwordSet));
    EXPECT_EQ(SettingsProblem(applied),
              "The address of webhook renamed is shown shortened: give the whole address.");

    // An older companion knows neither: both stay.
    ControlMessage older(msg::SetSettings);
    older.Add("url", "http://a/").Add("timespan", "5");
    applied = service;
    ASSERT_TRUE(SettingsFromMessage(older, applied, passwordSet));
    EXPECT_EQ(applied.Webhooks, service.Webhooks);
    EXPECT_EQ(applied.Maintenance, service.Maintenance);

    // A kind that does not read, or a list that did not come whole, changes nothing.
    for (const char* fields : {"webhook=x\nkind=fax\nwebhookcount=1", "webhook=x\nwebhookcount=1",
                               "webhook=x\nkind=ntfy\nwebhookcount=2",
                               "maintenance=Sat 22:00-Sun 02:00\nmaintenancecount=0"})
        EXPECT_FALSE(SettingsFromMessage(
            *DecodeMessage(std::string("setsettings\n") + fields, error), applied, passwordSet))
            << fields;
}

TEST(ControlProtocol, TestAndMaintenanceRequestsCarryOnlyWhatTheyMay) {
    const CUserSettings service = withChannels();
    // The dialog tests a stored channel as shown: the service posts to the stored address.
    WebhookChannel shown{"signed", WebhookKind::Json, "https://example.test/...", ""};
    const ControlMessage asked = TestWebhookMessage(shown);
    EXPECT_FALSE(asked.Has("address"));
    std::string problem;
    std::optional<WebhookChannel> tested = WebhookToTest(asked, service.Webhooks, problem);
    ASSERT_TRUE(tested) << problem;
    EXPECT_EQ(tested->Address, jsonHook);
    EXPECT_EQ(tested->Secret, "s3cret");

    // One typed in the dialog goes whole; the same rules hold as for saving.
    EXPECT_EQ(TestWebhookMessage({"x", WebhookKind::Slack, slackHook, ""}).Get("address"),
              slackHook);
    EXPECT_FALSE(
        WebhookToTest(TestWebhookMessage({"x", WebhookKind::Teams, "http://plain.example/t", ""}),
                      service.Webhooks, problem));
    EXPECT_EQ(problem, "The address of webhook x must begin with https://.");
    EXPECT_FALSE(WebhookToTest(TestWebhookMessage(shown), {}, problem))
        << "no stored channel, no address";

    EXPECT_EQ(MaintenanceMinutes(MaintenanceMessage(90)), 90);
    for (const char* minutes : {"0", "1441", "-5", "x", ""}) {
        ControlMessage m(msg::Maintenance);
        m.Add("minutes", minutes);
        EXPECT_FALSE(MaintenanceMinutes(m)) << minutes;
    }

    MonitorStatus status;
    status.Maintenance = "in maintenance until 11:40";
    EXPECT_EQ(StatusFromMessage(StatusMessage(status))->Maintenance, status.Maintenance);
}

TEST(ControlProtocol, WhatPolicySetsIsMarkedAndAClientCannotChangeOrLiftIt) {
    SettingsPolicy policy;
    policy.Values = {{"Benchmark", "policy.example"}, {"MailPort", "587"}};
    policy.Urls = SettingsPolicy::Pairs{{"https://a.example/", "status=200"}};
    CUserSettings service;
    std::vector<std::string> notes;
    service.Load(IniDocument(), PasswordCodec(), notes, policy);

    // The companion learns what is locked from the reply.
    const ControlMessage reply = SettingsReply(service, false);
    CUserSettings companion;
    bool passwordSet = false;
    ASSERT_TRUE(SettingsFromMessage(reply, companion, passwordSet));
    EXPECT_EQ(companion.Enforced, (std::set<std::string>{"benchmark", "port", "url"}));

    // Sent back unchanged, the settings pass, also with another field changed.
    companion.Retries = 2;
    CUserSettings next = service;
    ASSERT_TRUE(SettingsFromMessage(SettingsMessage(msg::SetSettings, companion, false, true), next,
                                    passwordSet));
    EXPECT_EQ(PolicyRefusal(service, next), "");
    EXPECT_EQ(next.Retries, 2);

    // A change is refused; a request naming no enforced field does not lift the lock.
    companion.Benchmark = "mine.example";
    companion.Enforced.clear();
    ControlMessage request = SettingsMessage(msg::SetSettings, companion, false, true);
    request.Add("enforced", "retries");
    next = service;
    ASSERT_TRUE(SettingsFromMessage(request, next, passwordSet));
    EXPECT_EQ(next.Enforced, service.Enforced);
    EXPECT_EQ(PolicyRefusal(service, next),
              "The benchmark URL is set by your administrator's policy.");
}
