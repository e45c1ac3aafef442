#include "app/alertrequests.h"
#include "settings/settingsrules.h"

#include <gtest/gtest.h>

TEST(AlertRequests, TheDialogsTestOfAStoredChannelPostsToItsWholeAddress) {
    CUserSettings settings;
    settings.Webhooks = {{"ops", WebhookKind::Slack, "https://hooks.example/T0/B0/token", ""}};
    std::string refusal;
    // The dialog knows a stored channel's address only in its shown form.
    const WebhookChannel shown{"OPS", WebhookKind::Slack,
                               ShownWebhookAddress(settings.Webhooks[0].Address), ""};
    const std::optional<WebhookChannel> stored = WebhookToTest(settings, shown, refusal);
    ASSERT_TRUE(stored) << refusal;
    EXPECT_EQ(stored->Address, "https://hooks.example/T0/B0/token");
    // A new address is judged by the settings rules: never a token in clear.
    EXPECT_FALSE(
        WebhookToTest(settings, {"new", WebhookKind::Json, "http://hooks.example/x", ""}, refusal));
    EXPECT_NE(refusal.find("https://"), std::string::npos) << refusal;
    EXPECT_FALSE(WebhookToTest(settings, {"nobody", WebhookKind::Json, "", ""}, refusal));
    EXPECT_FALSE(refusal.empty());
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

// A service that runs for months: windows that are over make room for a new one, so the 65th
// "maintenance" is not refused for windows long gone.
TEST(AlertRequests, MaintenanceFromNowLeavesOutWindowsThatAreOver) {
    std::int64_t now = 20 * 365 * 86400LL;
    std::vector<std::string> lines = {"Sat 22:00-Sun 02:00", "not a window"};
    for (std::size_t i = 0; i < 3 * MaxMaintenanceWindows; ++i, now += 3600)
        lines = WithMaintenanceFromNow(lines, now, 30);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Sat 22:00-Sun 02:00");
    EXPECT_EQ(lines[1], "not a window") << "a line the file holds stays as written";
    EXPECT_EQ(lines[2], MaintenanceFromNow(now - 3600, 30));
}
