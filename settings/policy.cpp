#include "settings/policy.h"

#include "base/text.h"
#include "base/utf.h"
#include "settings/inivalues.h"
#include "settings/settingsrules.h"
#include "settings/settingstable.h"

#include <algorithm>

const char* const EnforcedUrls = "url";
const char* const EnforcedWebhooks = "webhook";

namespace {

const SettingRow* rowOf(const std::string& policyName) {
    for (const SettingRow& row : SettingRows())
        if (row.Policy && SameText(row.Policy, policyName))
            return &row;
    return nullptr;
}

// Why a policy text cannot stand in the record; empty when it can.
std::string textFault(const std::string& text) {
    if (!IsUtf8(text))
        return "is not well-formed text";
    if (HasControlCharacter(text))
        return "holds a line break or another control character";
    if (text.size() > MaxSettingText)
        return "is longer than " + std::to_string(MaxSettingText) + " bytes";
    return {};
}

void applyValue(CUserSettings& s, const SettingRow& row, const std::string& name,
                const std::string& value, std::vector<std::string>& notes) {
    const std::string said = "The policy value " + name;
    if (row.Kind == SettingKind::Text) {
        if (const std::string fault = textFault(value); !fault.empty()) {
            notes.push_back(said + " " + fault + ": the settings file's value is used.");
            return;
        }
        s.*row.Text = value.empty() ? std::string(row.TextDefault) : value;
    } else {
        const std::optional<std::int32_t> n = SettingsNumber(value);
        if (!n) {
            notes.push_back(said + "=" + value +
                            " is no number: the settings file's value is used.");
            return;
        }
        if (row.Kind == SettingKind::Flag) {
            s.*row.Flag = *n != 0;
        } else {
            const std::int32_t fitted = SettingFitted(row, *n);
            if (fitted != *n)
                notes.push_back(said + "=" + value + " is out of range: " + std::to_string(fitted) +
                                " is used.");
            s.*row.Number = fitted;
        }
    }
    s.Enforced.insert(EnforcedName(row));
}

void applyUrls(CUserSettings& s, const SettingsPolicy::Pairs& urls,
               std::vector<std::string>& notes) {
    s.URLList.Clear();
    s.UrlChecks.clear();
    s.UnreadChecks.clear();
    std::size_t skipped = 0;
    for (const auto& [given, checks] : urls) {
        const std::string url = TrimUrl(given);
        const std::string text = TrimBlanks(checks);
        if (url.empty() || !textFault(url).empty() || !textFault(text).empty() ||
            s.URLList.IndexOf(url) >= 0) {
            ++skipped;
            continue;
        }
        s.AddUrl(url);
        if (text.empty())
            continue;
        s.UrlChecks[url] = text;
        std::string problem;
        if (!ReadSiteChecks(text, problem))
            s.UnreadChecks[url] = text;
    }
    // The addresses may hold a site's password: counts say enough.
    if (skipped)
        notes.push_back(std::to_string(skipped) +
                        " addresses of the policy's URL list are empty, too long, hold control "
                        "characters or stand twice: they are not checked.");
    if (!s.UnreadChecks.empty())
        notes.push_back(std::to_string(s.UnreadChecks.size()) +
                        " addresses of the policy's URL list have checks that do not read: "
                        "they are checked with the defaults.");
    s.Enforced.insert(EnforcedUrls);
}

void applyWebhooks(CUserSettings& s, const SettingsPolicy::Pairs& channels,
                   std::vector<std::string>& notes) {
    std::vector<WebhookChannel> taken;
    for (const auto& [name, data] : channels) {
        // The data is "kind address"; the address holds a token, so no note ever shows it.
        const std::string text = TrimBlanks(data);
        const std::size_t blank = text.find_first_of(" \t");
        const std::optional<WebhookKind> kind = ReadWebhookKind(text.substr(0, blank));
        const std::string which = "The policy's webhook " + name + " ";
        if (!kind || blank == std::string::npos) {
            notes.push_back(which + "is not written as a kind (teams, slack, ntfy or json), a "
                                    "blank and an address: it sends nothing.");
            continue;
        }
        WebhookChannel c{name, *kind, TrimBlanks(text.substr(blank)), {}};
        std::string problem = WebhookProblem(c);
        if (problem.empty() && std::any_of(taken.begin(), taken.end(),
                                           [&](const auto& t) { return SameText(t.Name, c.Name); }))
            problem = "its name stands twice.";
        else if (problem.empty() && taken.size() >= MaxWebhooks)
            problem = "it is one more than " + std::to_string(MaxWebhooks) + " channels.";
        if (!problem.empty()) {
            // The rules' words may quote the name but never the address.
            notes.push_back(which + "sends nothing: " + problem);
            continue;
        }
        taken.push_back(std::move(c));
    }
    s.Webhooks = std::move(taken);
    s.UnreadWebhooks.clear();
    s.Enforced.insert(EnforcedWebhooks);
}

bool sameList(const CUserSettings& a, const CUserSettings& b) {
    if (a.UrlCount() != b.UrlCount())
        return false;
    for (int i = 0; i < a.UrlCount(); ++i)
        if (a.Url(i) != b.Url(i) || a.Checks(i) != b.Checks(i))
            return false;
    return true;
}

std::string refusal(const char* what, const char* verb = " is") {
    return std::string(what) + verb + " set by your administrator's policy.";
}

} // namespace

std::optional<std::string> SettingsPolicy::Value(const std::string& name) const {
    for (const auto& [n, value] : Values)
        if (SameText(n, name))
            return value;
    return std::nullopt;
}

void ApplyPolicy(CUserSettings& s, const SettingsPolicy& policy, std::vector<std::string>& notes) {
    s.Enforced.clear();
    for (const auto& [name, value] : policy.Values) {
        if (const SettingRow* row = rowOf(name))
            applyValue(s, *row, name, value, notes);
        else
            notes.push_back("The policy value " + name +
                            " is no setting of Vigrel: it is ignored.");
    }
    if (policy.Urls)
        applyUrls(s, *policy.Urls, notes);
    if (policy.Webhooks)
        applyWebhooks(s, *policy.Webhooks, notes);
}

std::string PolicyRefusal(const CUserSettings& s, const CUserSettings& next) {
    for (const SettingRow& row : SettingRows()) {
        if (!s.Enforced.count(EnforcedName(row)))
            continue;
        const bool same = row.Kind == SettingKind::Flag     ? s.*row.Flag == next.*row.Flag
                          : row.Kind == SettingKind::Number ? s.*row.Number == next.*row.Number
                                                            : s.*row.Text == next.*row.Text;
        if (!same)
            return refusal(row.What);
    }
    if (s.Enforced.count(EnforcedUrls) && !sameList(s, next))
        return refusal("The URL list");
    if (s.Enforced.count(EnforcedWebhooks) && s.Webhooks != next.Webhooks)
        return refusal("The webhook channels", " are");
    return {};
}
