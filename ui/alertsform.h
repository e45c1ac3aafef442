// The "Alerts" page of the settings dialog without its window: the list of webhook channels as
// the page edits it, the rule that keeps a stored address the user did not retype, and which of
// the page's controls can be used.
//
// A channel's whole address holds the receiver's token, so the page never shows it: a row and
// the address field show ShownWebhookAddress. Left as shown, the field stands for the address
// the channel already had; only a new text replaces it.
#pragma once

#include "settings/alertsettings.h"
#include "settings/cusersettings.h"

#include <optional>
#include <string>
#include <vector>

// The channel fields as typed.
struct WebhookFields {
    std::string Name;
    WebhookKind Kind = WebhookKind::Json;
    std::string Address;
    std::string Secret;
    bool operator==(const WebhookFields&) const = default;
};

// What can be used on the page.
struct AlertsControls {
    bool Secret = false; // a json channel's signing key only
    bool Remove = false; // a channel is selected
    bool Test = false;   // a test can be sent, and the fields name a channel to send it to
};

class AlertsForm {
public:
    explicit AlertsForm(const std::vector<WebhookChannel>& channels = {});

    // The list as the record will get it.
    std::vector<WebhookChannel> Channels() const;
    int Count() const { return static_cast<int>(rows.size()); }
    const WebhookChannel& Channel(int row) const { return rows[row].channel; }
    // -1: none.
    int Selected() const { return selected; }

    // Selects the row (-1: none) and answers what the fields then show: the row's channel with
    // its address in the shown form; empty fields for none.
    WebhookFields Select(int row);

    // Puts the fields' channel in place of the one of the same name (names are compared without
    // regard to case, as the file's sections are), or after the others, and selects it; the
    // row's index. -1 with the reason in words when the fields name no channel or the list is
    // full; nothing changes then.
    int Add(const WebhookFields& fields, std::string& problem);
    // Removes the selected row; nothing is selected afterwards.
    void Remove();

    // The channel a test is sent to: the fields' channel, with an empty address when the
    // address is the one the record held (the monitor posts to the address it stores under the
    // name). Nullopt when the fields name no channel to test.
    std::optional<WebhookChannel> TestChannel(const WebhookFields& fields) const;

    AlertsControls Enabled(const WebhookFields& fields, bool canTest) const;

private:
    struct Row {
        WebhookChannel channel;
        // Came with the record: its address may be all the companion was told of it (the
        // shown form), so a test asks for the stored one by name.
        bool fromRecord = false;
    };
    // The fields as a channel: the address the selected row held when the field still shows
    // it; a secret only for a json channel.
    WebhookChannel ChannelOf(const WebhookFields& fields) const;
    bool AddressKept(const WebhookFields& fields) const;

    std::vector<Row> rows;
    int selected = -1;
};

// The line a maintenance field adds, without the blanks around it; nullopt when nothing was
// typed, or with problem set in words when the line does not read.
std::optional<std::string> MaintenanceLineToAdd(const std::string& typed, std::string& problem);

// Whether the first rule the settings break is one of the alerts page's: the problem goes away
// when the page's values are put back to the defaults.
bool AlertsProblem(const CUserSettings& settings);
// The record as the dialog's rules judge it. The companion holds a stored channel's address only in
// its shown form ("https://hooks.slack.com/..."), and the service keeps the whole one for a
// channel sent back so: a channel that came with such an address and keeps it, under its name, is
// judged by its scheme and host.
CUserSettings JudgedSettings(const CUserSettings& edited, const CUserSettings& before);
