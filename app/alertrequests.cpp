#include "app/alertrequests.h"

#include "base/text.h"
#include "settings/settingsrules.h"

std::optional<WebhookChannel> WebhookToTest(const CUserSettings& settings,
                                            const ControlMessage& request, std::string& refusal) {
    WebhookChannel channel;
    channel.Name = request.Get("name");
    const std::optional<WebhookKind> kind = ReadWebhookKind(request.Get("kind"));
    const WebhookChannel* stored = nullptr;
    for (const WebhookChannel& known : settings.Webhooks)
        if (SameText(known.Name, channel.Name))
            stored = &known;
    channel.Kind = kind ? *kind : stored ? stored->Kind : WebhookKind::Json;
    channel.Address = request.Get("address");
    channel.Secret = request.Get("secret");
    return WebhookToTest(settings, std::move(channel), refusal);
}

std::optional<WebhookChannel> WebhookToTest(const CUserSettings& settings, WebhookChannel channel,
                                            std::string& refusal) {
    const WebhookChannel* stored = nullptr;
    for (const WebhookChannel& known : settings.Webhooks)
        if (SameText(known.Name, channel.Name))
            stored = &known;
    if (stored &&
        (channel.Address.empty() || channel.Address == ShownWebhookAddress(stored->Address)))
        channel.Address = stored->Address;
    if (stored && channel.Secret.empty())
        channel.Secret = stored->Secret;
    if (channel.Address.empty()) {
        refusal = "There is no webhook channel named " + channel.Name + " to test.";
        return std::nullopt;
    }
    // The one validator of settings judges the channel as it would in the list.
    CUserSettings trial = settings;
    trial.Webhooks = {channel};
    refusal = SettingsProblem(trial);
    if (!refusal.empty())
        return std::nullopt;
    return channel;
}

ControlMessage WebhookTestMessage(const std::string& name, const std::string& outcome) {
    return ControlMessage("webhooktest").Add("name", name).Add("outcome", outcome);
}

std::string MaintenanceFromNow(std::int64_t now, std::int32_t minutes) {
    MaintenanceWindow window;
    window.Weekly = false;
    window.Start = now - now % 60;
    window.End = now + static_cast<std::int64_t>(minutes) * 60;
    window.End += (60 - window.End % 60) % 60;
    return MaintenanceWindowLine(window);
}
