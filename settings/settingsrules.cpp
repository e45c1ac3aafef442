#include "settings/settingsrules.h"

#include "base/text.h"
#include "base/utf.h"
#include "settings/inidocument.h"
#include "settings/inivalues.h"
#include "settings/settingstable.h"

#include <algorithm>

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::string withoutControls(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isControl(c))
            continue;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

// Cut at a character boundary, never inside a UTF-8 sequence.
std::string cut(const std::string& text) {
    if (text.size() <= MaxSettingText)
        return text;
    size_t end = MaxSettingText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string textProblem(const std::string& text, const std::string& what) {
    if (!IsUtf8(text))
        return what + " is not well-formed text.";
    if (HasControlCharacter(text))
        return what + " must not contain line breaks or other control characters.";
    if (text.size() > MaxSettingText)
        return what + " is longer than " + std::to_string(MaxSettingText) + " bytes.";
    return {};
}

std::string rangeText(SettingRange range) {
    return std::to_string(range.min) + " to " + std::to_string(range.max);
}

// Texts with the rules of texts: the plain ones and the password.
bool isText(const SettingRow& row) {
    return row.Kind == SettingKind::Text || row.Kind == SettingKind::Secret;
}

// Whether the file gives the URL back as it went in. A URL that begins like a section header or
// a comment, or with blanks the file does not keep, would be lost or changed at the next start,
// and with a header every URL after it too.
bool comesBackWhole(const std::string& url, const std::string& checks) {
    IniDocument ini;
    ini.SetEntries("URLS", {UrlToEntry(url, checks)});
    const std::vector<std::string> back = ini.Entries("URLS");
    if (back.size() != 1)
        return false;
    const UrlEntry entry = ReadUrlEntry(back[0]);
    return entry.Url == url && entry.Checks == checks;
}

// A site's checks must read, unless they are the text the file held and nobody changed: an old
// file's value must not block saving other settings.
std::string checksProblem(const CUserSettings& s, int index) {
    const std::string& checks = s.Checks(index);
    const std::string what = "The checks of URL " + std::to_string(index + 1);
    // Whatever made it unreadable (its length, a control character) came from the file's own
    // line, which holds no line break, so it goes back as it came.
    const auto unread = s.UnreadChecks.find(s.Url(index));
    if (unread != s.UnreadChecks.end() && unread->second == checks)
        return {};
    if (std::string problem = textProblem(checks, what); !problem.empty())
        return problem;
    std::string problem;
    if (ReadSiteChecks(checks, problem))
        return {};
    return what + ": " + problem;
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (SameText(n, name))
            return true;
    return false;
}

// The host of an https address; empty for any other address.
std::string httpsHost(const std::string& address) {
    const std::string scheme = "https://";
    if (address.size() < scheme.size() || !SameText(address.substr(0, scheme.size()), scheme))
        return {};
    const size_t start = scheme.size();
    const size_t end = std::min(address.find_first_of("/?#", start), address.size());
    std::string authority = address.substr(start, end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    // A port, or an IPv6 address's colons within its brackets.
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']', colon) == std::string::npos)
        authority.erase(colon);
    return authority == "[]" ? std::string() : authority;
}

std::string webhookAddressProblem(const WebhookChannel& c) {
    const std::string what = "The address of webhook " + c.Name;
    if (std::string problem = textProblem(c.Address, what); !problem.empty())
        return problem;
    if (httpsHost(c.Address).empty()) {
        // A token must never travel unencrypted.
        if (c.Address.find("://") == std::string::npos ||
            SameText(c.Address.substr(0, 8), "https://"))
            return what + " must begin with https:// and name a host.";
        return what + " must begin with https://.";
    }
    if (IsShownWebhookAddress(c.Address))
        return what + " is shown shortened: give the whole address.";
    if (c.Address.find_first_of(" \"") != std::string::npos)
        return what + " must not contain blanks or quotes.";
    return {};
}

std::string channelProblem(const WebhookChannel& c, bool addressKept) {
    if (std::string problem = WebhookNameProblem(c.Name); !problem.empty())
        return problem;
    if (std::string problem = addressKept ? std::string() : webhookAddressProblem(c);
        !problem.empty())
        return problem;
    // Only a json channel signs with it; the others ignore it.
    if (c.Kind == WebhookKind::Json)
        return textProblem(c.Secret, "The secret of webhook " + c.Name);
    return {};
}

std::string maintenanceProblem(const CUserSettings& s) {
    if (s.Maintenance.size() > MaxMaintenanceWindows)
        return "At most " + std::to_string(MaxMaintenanceWindows) +
               " maintenance windows can be set.";
    for (size_t i = 0; i < s.Maintenance.size(); ++i) {
        const std::string& line = s.Maintenance[i];
        // The file's own line, unchanged, goes back as it came and blocks nothing.
        if (std::find(s.UnreadMaintenance.begin(), s.UnreadMaintenance.end(), line) !=
            s.UnreadMaintenance.end())
            continue;
        const std::string what = "Maintenance line " + std::to_string(i + 1);
        if (std::string problem = textProblem(line, what); !problem.empty())
            return problem;
        if (TrimBlanks(line).empty())
            return what + " is empty.";
        const std::string first = TrimBlanks(line).substr(0, 1);
        if (first == "[" || first == ";" || first == "#")
            return what + " must not begin with \"[\", \";\" or \"#\".";
        std::string problem;
        if (!ReadMaintenanceWindow(line, problem))
            return what + ": " + problem;
    }
    return {};
}

std::string webhooksProblem(const CUserSettings& s) {
    if (s.Webhooks.size() > MaxWebhooks)
        return "At most " + std::to_string(MaxWebhooks) + " webhook channels can be set.";
    for (size_t i = 0; i < s.Webhooks.size(); ++i) {
        const WebhookChannel& c = s.Webhooks[i];
        for (size_t j = 0; j < i; ++j)
            if (SameText(s.Webhooks[j].Name, c.Name))
                return "Two webhook channels are named " + c.Name + ".";
        // A channel whose address the file holds but this record lacks keeps it while empty.
        const bool kept = c.Address.empty() && listed(s.UnreadWebhooks, c.Name);
        if (std::string problem = channelProblem(c, kept); !problem.empty())
            return problem;
    }
    return {};
}

} // namespace

bool IsShownWebhookAddress(const std::string& address) {
    const std::string tail = "/...";
    return address.size() > tail.size() &&
           address.compare(address.size() - tail.size(), tail.size(), tail) == 0 &&
           ShownWebhookAddress(address) == address;
}

std::string WebhookNameProblem(const std::string& name) {
    if (name.empty())
        return "A webhook channel needs a name.";
    if (!IsUtf8(name))
        return "The name of a webhook channel is not well-formed text.";
    if (name.size() > MaxWebhookName)
        return "The name of a webhook channel must be at most " + std::to_string(MaxWebhookName) +
               " bytes.";
    if (HasControlCharacter(name) || name.find_first_of("[]") != std::string::npos)
        return "The name of a webhook channel must not contain \"[\", \"]\" or control "
               "characters.";
    if (TrimBlanks(name) != name)
        return "The name of webhook " + TrimBlanks(name) + " must not begin or end with a blank.";
    return {};
}

std::string WebhookProblem(const WebhookChannel& c) {
    return channelProblem(c, false);
}

std::string SettingsProblem(const CUserSettings& s) {
    for (const SettingRow& row : SettingRows()) {
        if (!isText(row))
            continue;
        std::string problem = textProblem(s.*row.Text, row.What);
        if (!problem.empty())
            return problem;
    }
    if (std::string problem = ProxyProblem(s.ProxyMode, s.ProxyPac, s.ProxyServer, s.ProxyBypass);
        !problem.empty())
        return problem;
    if (TrimBlanks(s.Benchmark).empty())
        return "The benchmark URL must not be empty: without it nothing is checked.";
    for (int i = 0; i < s.UrlCount(); ++i) {
        if (s.Url(i).empty())
            return "A URL of the list is empty.";
        std::string problem = textProblem(s.Url(i), "The URL " + std::to_string(i + 1));
        if (problem.empty())
            problem = checksProblem(s, i);
        if (!problem.empty())
            return problem;
        if (!comesBackWhole(s.Url(i), {}))
            return "The URL " + std::to_string(i + 1) +
                   " would not come back whole from the settings file: it must not begin with "
                   "\"[\", \";\" or \"#\", nor begin or end with a blank.";
        if (!comesBackWhole(s.Url(i), s.Checks(i)))
            return "The URL " + std::to_string(i + 1) +
                   " holds a blank after \"=\": the settings file cannot keep checks beside it.";
    }
    for (const SettingRow& row : SettingRows()) {
        if (row.Kind != SettingKind::Number || SettingAllows(row, s.*row.Number))
            continue;
        return std::string(row.What) + " must be " + rangeText(row.Range) + row.Unit + ".";
    }
    if (std::string problem = webhooksProblem(s); !problem.empty())
        return problem;
    return maintenanceProblem(s);
}

std::vector<std::string> FitLoadedSettings(CUserSettings& s) {
    std::vector<std::string> notes;
    for (const SettingRow& row : SettingRows()) {
        if (!isText(row))
            continue;
        std::string& text = s.*row.Text;
        const std::string fitted = cut(withoutControls(text));
        if (fitted != text) {
            notes.push_back(std::string(row.What) +
                            " in the settings file held control characters or was too long: "
                            "it was shortened.");
            text = fitted;
        }
    }
    // A [Proxy] section that does not read must not block saving every other setting.
    if (std::string problem = ProxyProblem(s.ProxyMode, s.ProxyPac, s.ProxyServer, s.ProxyBypass);
        !problem.empty()) {
        if (ReadProxyMode(s.ProxyMode) != ProxyMode::Automatic) {
            notes.push_back(problem + " The proxy mode automatic is used.");
            s.ProxyMode = "automatic";
        } else {
            notes.push_back(problem + " No host bypasses the proxy.");
            s.ProxyBypass.clear();
        }
    }
    if (s.Benchmark.empty()) {
        notes.push_back(std::string("The benchmark URL in the settings file is empty: ") +
                        DefaultBenchmark + " is used.");
        s.Benchmark = DefaultBenchmark;
    }
    TStringList urls;
    for (int i = 0; i < s.UrlCount(); ++i) {
        const std::string url = TrimUrl(withoutControls(s.Url(i)));
        if (url.size() > MaxSettingText)
            notes.push_back("A URL of " + std::to_string(url.size()) +
                            " bytes in the settings file is ignored.");
        else if (!url.empty())
            urls.AddObject(url, s.URLList.Objects(i));
        // The checks belong to the address as it is now kept.
        if (url != s.Url(i)) {
            for (auto* texts : {&s.UrlChecks, &s.UnreadChecks}) {
                auto node = texts->extract(s.Url(i));
                if (!node.empty() && !url.empty() && url.size() <= MaxSettingText &&
                    texts->count(url) == 0) {
                    node.key() = url;
                    texts->insert(std::move(node));
                }
            }
        }
    }
    s.URLList = urls;

    for (const SettingRow& row : SettingRows()) {
        if (row.Kind != SettingKind::Number || SettingAllows(row, s.*row.Number))
            continue;
        std::int32_t& value = s.*row.Number;
        const std::int32_t fitted = SettingFitted(row, value);
        notes.push_back(
            std::string(row.NoteName ? row.NoteName : row.Key) + "=" + std::to_string(value) +
            " in the settings file is out of range: " + std::to_string(fitted) + " is used.");
        value = fitted;
    }

    // An address or secret against the rules is set aside, never sent; the file keeps it.
    for (WebhookChannel& c : s.Webhooks) {
        const bool addressBad = !c.Address.empty() && !webhookAddressProblem(c).empty();
        const bool secretBad = !c.Secret.empty() && !textProblem(c.Secret, "").empty();
        if (!addressBad && !secretBad)
            continue;
        if (!listed(s.UnreadWebhooks, c.Name))
            s.UnreadWebhooks.push_back(c.Name);
        if (addressBad) {
            c.Address.clear();
            notes.push_back("The address of webhook " + c.Name +
                            " in the settings file is not an https:// address: it is kept in the "
                            "file, and the channel sends nothing until a new one is set.");
        }
        if (secretBad) {
            c.Secret.clear();
            notes.push_back("The secret of webhook " + c.Name +
                            " in the settings file holds control characters or is too long: it "
                            "is kept in the file, and messages go unsigned until a new one is "
                            "set.");
        }
    }

    if (s.Maintenance.size() > MaxMaintenanceWindows) {
        notes.push_back(std::to_string(s.Maintenance.size() - MaxMaintenanceWindows) +
                        " lines of [Maintenance] beyond the first " +
                        std::to_string(MaxMaintenanceWindows) + " are ignored.");
        s.Maintenance.resize(MaxMaintenanceWindows);
    }
    s.UnreadMaintenance.clear();
    for (size_t i = 0; i < s.Maintenance.size(); ++i) {
        std::string problem = textProblem(s.Maintenance[i], "");
        if (problem.empty() && ReadMaintenanceWindow(s.Maintenance[i], problem))
            continue;
        s.UnreadMaintenance.push_back(s.Maintenance[i]);
        // The line may name a site with its password: its number says enough.
        notes.push_back("Line " + std::to_string(i + 1) +
                        " of [Maintenance] in the settings file does not read as a window: it "
                        "is kept as written and covers nothing.");
    }
    return notes;
}
