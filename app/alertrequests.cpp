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

std::vector<std::string> WithMaintenanceFromNow(const std::vector<std::string>& lines,
                                                std::int64_t now, std::int32_t minutes) {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        std::string problem;
        const std::optional<MaintenanceWindow> window = ReadMaintenanceWindow(line, problem);
        if (!window || !MaintenanceOver(*window, now))
            kept.push_back(line);
    }
    kept.push_back(MaintenanceFromNow(now, minutes));
    return kept;
}
