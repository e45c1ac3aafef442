#include "ui/alertsform.h"

#include "settings/settingsrules.h"

#include <gtest/gtest.h>

namespace {

const std::string SlackAddress = "https://hooks.slack.com/services/T0/B0/xyz";

WebhookChannel Slack() {
    return {"team", WebhookKind::Slack, SlackAddress, ""};
}

} // namespace

TEST(AlertsForm, AStoredAddressIsShownCutAndKeptUnlessRetyped) {
    AlertsForm form({Slack()});
    WebhookFields fields = form.Select(0);
    EXPECT_EQ(fields,
              (WebhookFields{"team", WebhookKind::Slack, "https://hooks.slack.com/...", ""}));

    // Another kind, the address as shown: the whole address stays.
    fields.Kind = WebhookKind::Teams;
    std::string problem;
    ASSERT_EQ(form.Add(fields, problem), 0) << problem;
    EXPECT_EQ(form.Channels(),
              (std::vector<WebhookChannel>{{"team", WebhookKind::Teams, SlackAddress, ""}}));

    // A new text replaces it, blanks around it dropped; a secret goes with json only.
    fields = form.Select(0);
    fields.Address = " https://hooks.example/new ";
    fields.Secret = "key";
    ASSERT_EQ(form.Add(fields, problem), 0);
    EXPECT_EQ(form.Channel(0).Address, "https://hooks.example/new");
    EXPECT_EQ(form.Channel(0).Secret, "");
    fields.Kind = WebhookKind::Json;
    fields.Address = "https://hooks.example/new";
    ASSERT_EQ(form.Add(fields, problem), 0);
    EXPECT_EQ(form.Channel(0).Secret, "key");
}

TEST(AlertsForm, AddReplacesTheChannelOfTheSameNameAppendsOthersAndRefusesWhatNamesNone) {
    AlertsForm form({Slack()});
    std::string problem;
    EXPECT_EQ(form.Add({"pager", WebhookKind::Ntfy, "https://ntfy.example/ops", ""}, problem), 1);
    EXPECT_EQ(form.Selected(), 1);
    // Names as the file's sections compare them.
    EXPECT_EQ(form.Add({"TEAM", WebhookKind::Json, "https://hooks.example/j", "s"}, problem), 0);
    EXPECT_EQ(form.Count(), 2);
    EXPECT_EQ(form.Channel(0).Name, "TEAM");

    for (const WebhookFields& bad :
         {WebhookFields{"  ", WebhookKind::Json, "https://x.example/", ""},
          WebhookFields{"other", WebhookKind::Json, " ", ""}}) {
        problem.clear();
        EXPECT_EQ(form.Add(bad, problem), -1);
        EXPECT_FALSE(problem.empty());
    }
    EXPECT_EQ(form.Count(), 2);

    std::vector<WebhookChannel> full;
    for (std::size_t i = 0; i < MaxWebhooks; ++i)
        full.push_back({"c" + std::to_string(i), WebhookKind::Json, "https://x.example/", ""});
    AlertsForm crowded(full);
    problem.clear();
    EXPECT_EQ(crowded.Add({"one more", WebhookKind::Json, "https://x.example/", ""}, problem), -1);
    EXPECT_NE(problem.find("16"), std::string::npos) << problem;
    EXPECT_EQ(crowded.Add({"c3", WebhookKind::Ntfy, "https://y.example/", ""}, problem), 3)
        << "a replacement still fits";

    crowded.Select(3);
    crowded.Remove();
    EXPECT_EQ(crowded.Count(), static_cast<int>(MaxWebhooks) - 1);
    EXPECT_EQ(crowded.Selected(), -1);
    EXPECT_EQ(crowded.Channel(3).Name, "c4");
}

TEST(AlertsForm, ATestGoesToTheStoredAddressByNameOrToTheTypedOne) {
    AlertsForm form({Slack()});
    WebhookFields fields = form.Select(0);
    fields.Name = "renamed"; // not yet stored: the monitor knows it as "team"
    std::optional<WebhookChannel> test = form.TestChannel(fields);
    ASSERT_TRUE(test);
    EXPECT_EQ(test->Name, "team");
    EXPECT_EQ(test->Address, "") << "the whole address is the monitor's to fill in";
    EXPECT_EQ(test->Kind, WebhookKind::Slack);

    fields.Address = "https://hooks.example/typed";
    test = form.TestChannel(fields);
    ASSERT_TRUE(test);
    EXPECT_EQ(test->Name, "renamed");
    EXPECT_EQ(test->Address, "https://hooks.example/typed");

    // A channel added here has no stored address: its test carries the typed one.
    std::string problem;
    ASSERT_EQ(form.Add({"new", WebhookKind::Json, "https://hooks.example/n", ""}, problem), 1);
    test = form.TestChannel(form.Select(1));
    ASSERT_TRUE(test);
    EXPECT_EQ(test->Address, "https://hooks.example/n");

    EXPECT_FALSE(form.TestChannel(form.Select(-1))) << "empty fields name no channel";
}

TEST(AlertsForm, ControlsFollowTheKindTheSelectionAndWhetherATestCanBeSent) {
    AlertsForm form({Slack()});
    WebhookFields none = form.Select(-1);
    AlertsControls c = form.Enabled(none, true);
    EXPECT_TRUE(c.Secret) << "empty fields are a json channel";
    EXPECT_FALSE(c.Remove);
    EXPECT_FALSE(c.Test);

    const WebhookFields slack = form.Select(0);
    c = form.Enabled(slack, true);
    EXPECT_FALSE(c.Secret);
    EXPECT_TRUE(c.Remove);
    EXPECT_TRUE(c.Test);
    EXPECT_FALSE(form.Enabled(slack, false).Test) << "nobody to send it";
}

TEST(AlertsForm, MaintenanceLinesAreAddedTrimmedOnlyWhenTheyRead) {
    std::string problem;
    EXPECT_EQ(MaintenanceLineToAdd("  Sat 22:00-Sun 02:00 = https://shop.example/ ", problem),
              "Sat 22:00-Sun 02:00 = https://shop.example/");
    EXPECT_EQ(problem, "");
    EXPECT_FALSE(MaintenanceLineToAdd("   ", problem));
    EXPECT_EQ(problem, "") << "nothing typed, nothing to say";
    EXPECT_FALSE(MaintenanceLineToAdd("Sat 25:00-Sun 02:00", problem));
    EXPECT_FALSE(problem.empty());
}

TEST(AlertsForm, OnlyAProblemOfTheAlertsPageCountsAsOne) {
    CUserSettings settings;
    settings.Benchmark = "bench.test";
    settings.TimeOut = 2000;
    settings.Port = 25;
    ASSERT_EQ(SettingsProblem(settings), "");
    EXPECT_FALSE(AlertsProblem(settings));
    settings.Benchmark = "";
    settings.UpAfter = 0;
    EXPECT_FALSE(AlertsProblem(settings)) << "the benchmark's problem comes first";
    settings.Benchmark = "bench.test";
    // Out of its range wherever the rules know the setting.
    if (!SettingsProblem(settings).empty()) {
        EXPECT_TRUE(AlertsProblem(settings)) << SettingsProblem(settings);
    }
}

TEST(AlertsForm, TheCompanionsShownAddressPassesOnlyForTheChannelItCameWith) {
    CUserSettings before;
    before.Benchmark = "bench.test";
    before.TimeOut = 2000;
    before.Port = 25;
    before.Webhooks = {{"team", WebhookKind::Slack, "https://hooks.slack.com/...", ""}};
    CUserSettings edited = before;
    EXPECT_EQ(SettingsProblem(JudgedSettings(edited, before)), "");
    // Renamed, the shown form stands for nothing the service keeps.
    edited.Webhooks[0].Name = "other";
    EXPECT_NE(SettingsProblem(JudgedSettings(edited, before)), "");
    EXPECT_EQ(JudgedSettings(edited, before).Webhooks[0].Address, "https://hooks.slack.com/...");
}
