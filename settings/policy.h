// Group policy over the settings file: what an administrator sets under
// HKLM\SOFTWARE\Policies\Vigrel wins over the file, cannot be changed by a user, and is never
// written into the file, which keeps what it held. The key itself is read by the platform's
// file (settings/policystore_win.cpp); what its values mean is decided here.
#pragma once

#include "settings/cusersettings.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The key's values, each as text: REG_SZ as written (REG_EXPAND_SZ not expanded), REG_DWORD in
// decimal. Each list, when its subkey exists, is its values' names and data in the order read.
struct SettingsPolicy {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Pairs Values;
    // URLS: address and its checks (empty: the defaults). An empty subkey is an empty list.
    std::optional<Pairs> Urls;
    // Webhooks: channel name and "kind address".
    std::optional<Pairs> Webhooks;

    bool Empty() const { return Values.empty() && !Urls && !Webhooks; }
    // The value of that name without regard to case; nullopt when the key has none.
    std::optional<std::string> Value(const std::string& name) const;

    bool operator==(const SettingsPolicy&) const = default;
};

// The names CUserSettings::Enforced uses for the URL list and for the webhook channels.
extern const char* const EnforcedUrls;
extern const char* const EnforcedWebhooks;

// Puts the policy's values into the record and names them in Enforced. Runs inside the load,
// after the file's values and before they are fitted to the rules: a number out of range is
// fitted here with a note that names the policy. A value that does not read (no number, a text
// with a line break, a channel against the rules) leaves the file's value in force, with a note;
// so does a value of a name no setting has.
void ApplyPolicy(CUserSettings& settings, const SettingsPolicy& policy,
                 std::vector<std::string>& notes);

// Empty when next changes nothing that settings' Enforced holds; otherwise the refusal, in the
// row's words: "The benchmark URL is set by your administrator's policy."
std::string PolicyRefusal(const CUserSettings& settings, const CUserSettings& next);
