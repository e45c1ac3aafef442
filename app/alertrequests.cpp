#include "app/alertrequests.h"

#include "control/protocol.h"

std::optional<WebhookChannel> WebhookToTest(const CUserSettings& settings,
                                            const WebhookChannel& channel, std::string& refusal) {
    // One way to complete and judge a channel to test, whoever asks.
    return WebhookToTest(TestWebhookMessage(channel), settings.Webhooks, refusal);
}

std::string MaintenanceFromNow(std::int64_t now, std::int32_t minutes) {
    MaintenanceWindow window;
    window.Weekly = false;
    window.Start = now - now % 60;
    window.End = now + static_cast<std::int64_t>(minutes) * 60;
    window.End += (60 - window.End % 60) % 60;
    return MaintenanceWindowLine(window);
}
