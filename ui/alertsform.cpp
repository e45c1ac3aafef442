#include "ui/alertsform.h"

#include "base/text.h"
#include "settings/settingsrules.h"

#include <algorithm>

AlertsForm::AlertsForm(const std::vector<WebhookChannel>& channels) {
    for (const WebhookChannel& channel : channels)
        rows.push_back({channel, true});
}

std::vector<WebhookChannel> AlertsForm::Channels() const {
    std::vector<WebhookChannel> channels;
    for (const Row& row : rows)
        channels.push_back(row.channel);
    return channels;
}

WebhookFields AlertsForm::Select(int row) {
    selected = row >= 0 && row < Count() ? row : -1;
    if (selected < 0)
        return {};
    const WebhookChannel& channel = rows[selected].channel;
    return {channel.Name, channel.Kind, ShownWebhookAddress(channel.Address), channel.Secret};
}

bool AlertsForm::AddressKept(const WebhookFields& fields) const {
    return selected >= 0 && fields.Address == ShownWebhookAddress(rows[selected].channel.Address);
}

WebhookChannel AlertsForm::ChannelOf(const WebhookFields& fields) const {
    WebhookChannel channel;
    channel.Name = TrimBlanks(fields.Name);
    channel.Kind = fields.Kind;
    channel.Address =
        AddressKept(fields) ? rows[selected].channel.Address : TrimBlanks(fields.Address);
    if (fields.Kind == WebhookKind::Json)
        channel.Secret = fields.Secret;
    return channel;
}

int AlertsForm::Add(const WebhookFields& fields, std::string& problem) {
    const WebhookChannel channel = ChannelOf(fields);
    if (channel.Name.empty()) {
        problem = "A channel needs a name.";
        return -1;
    }
    if (channel.Address.empty()) {
        problem = "A channel needs an address.";
        return -1;
    }
    const bool kept = AddressKept(fields) && rows[selected].fromRecord;
    for (int i = 0; i < Count(); ++i)
        if (SameText(rows[i].channel.Name, channel.Name)) {
            rows[i] = {channel, kept};
            selected = i;
            return i;
        }
    if (rows.size() >= MaxWebhooks) {
        problem = "There can be at most " + std::to_string(MaxWebhooks) + " channels.";
        return -1;
    }
    rows.push_back({channel, kept});
    selected = Count() - 1;
    return selected;
}

void AlertsForm::Remove() {
    if (selected >= 0)
        rows.erase(rows.begin() + selected);
    selected = -1;
}

std::optional<WebhookChannel> AlertsForm::TestChannel(const WebhookFields& fields) const {
    WebhookChannel channel = ChannelOf(fields);
    if (channel.Name.empty() || channel.Address.empty())
        return std::nullopt;
    if (AddressKept(fields) && rows[selected].fromRecord) {
        // Asked by the name the monitor stores it under, whatever the field says now.
        channel.Name = rows[selected].channel.Name;
        channel.Address.clear();
    }
    return channel;
}

AlertsControls AlertsForm::Enabled(const WebhookFields& fields, bool canTest) const {
    AlertsControls controls;
    controls.Secret = fields.Kind == WebhookKind::Json;
    controls.Remove = selected >= 0;
    controls.Test = canTest && TestChannel(fields).has_value();
    return controls;
}

std::optional<std::string> MaintenanceLineToAdd(const std::string& typed, std::string& problem) {
    problem.clear();
    const std::string line = TrimBlanks(typed);
    if (line.empty())
        return std::nullopt;
    if (!ReadMaintenanceWindow(line, problem)) {
        if (problem.empty())
            problem = "\"" + line + "\" does not read as a maintenance window.";
        return std::nullopt;
    }
    return line;
}

bool AlertsProblem(const CUserSettings& settings) {
    const std::string problem = SettingsProblem(settings);
    if (problem.empty())
        return false;
    CUserSettings defaults = settings;
    const CUserSettings fresh;
    defaults.Webhooks = fresh.Webhooks;
    defaults.UpAfter = fresh.UpAfter;
    defaults.Remind = fresh.Remind;
    defaults.Maintenance = fresh.Maintenance;
    return SettingsProblem(defaults) != problem;
}

CUserSettings JudgedSettings(const CUserSettings& edited, const CUserSettings& before) {
    CUserSettings judged = edited;
    for (WebhookChannel& channel : judged.Webhooks) {
        const auto kept = std::find_if(
            before.Webhooks.begin(), before.Webhooks.end(), [&](const WebhookChannel& c) {
                return SameText(c.Name, channel.Name) && c.Address == channel.Address;
            });
        if (kept != before.Webhooks.end() && IsShownWebhookAddress(channel.Address))
            channel.Address.resize(channel.Address.size() - 3); // "https://host/"
    }
    return judged;
}
