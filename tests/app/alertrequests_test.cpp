#include "app/alertrequests.h"

#include <gtest/gtest.h>

TEST(AlertRequests, ATestNamesAStoredChannelWithoutEverCarryingItsAddress) {
    CUserSettings settings;
    settings.Benchmark = "bench.test";
    settings.Webhooks = {{"ops", WebhookKind::Slack, "https://hooks.example/T0/B0/token", ""}};
    std::string refusal;

    // The companion knows only the shown form: it stands for the stored address.
    ControlMessage shown("testwebhook");
    shown.Add("name", "OPS").Add("address", ShownWebhookAddress(settings.Webhooks[0].Address));
    const std::optional<WebhookChannel> stored = WebhookToTest(settings, shown, refusal);
    ASSERT_TRUE(stored) << refusal;
    EXPECT_EQ(stored->Address, "https://hooks.example/T0/B0/token");
    EXPECT_EQ(stored->Kind, WebhookKind::Slack);

    // A new address is tested as given, and judged by the settings rules.
    ControlMessage plain("testwebhook");
    plain.Add("name", "new").Add("kind", "json").Add("address", "http://hooks.example/x");
    EXPECT_FALSE(WebhookToTest(settings, plain, refusal));
    EXPECT_NE(refusal.find("https://"), std::string::npos) << refusal;

    ControlMessage unknown("testwebhook");
    unknown.Add("name", "nobody");
    EXPECT_FALSE(WebhookToTest(settings, unknown, refusal));
    EXPECT_EQ(refusal, "There is no webhook channel named nobody to test.");
}

TEST(AlertRequests, MaintenanceFromNowCoversTheWholeSpanInWholeMinutes) {
    const std::int64_t now = 20 * 365 * 86400LL + 10 * 3600 + 40 * 60 + 35; // a 10:40:35
    std::string problem;
    const std::optional<MaintenanceWindow> window =
        ReadMaintenanceWindow(MaintenanceFromNow(now, 60), problem);
    ASSERT_TRUE(window) << problem;
    EXPECT_FALSE(window->Weekly);
    EXPECT_TRUE(window->Sites.empty());
    EXPECT_TRUE(MaintenanceCovers(*window, "http://a/", now));
    EXPECT_TRUE(MaintenanceCovers(*window, "http://a/", now + 3600 - 1));
    EXPECT_FALSE(MaintenanceCovers(*window, "http://a/", now + 3600 + 60));
}
