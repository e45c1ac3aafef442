#include "cusersettings.h"

#include "base/exception.h"
#include "base/paths.h"
#include "base/text.h"
#include "inidocument.h"
#include "inivalues.h"
#include "policy.h"
#include "settingsrules.h"
#include "settingstable.h"

#include <algorithm>

CUserSettings UserSettings;

const char* const DefaultBenchmark = "www.wikipedia.org";

const char* const ProtectedPasswordMarker = "protected:";

const char* const PasswordNotReadNote =
    "The password in the settings file cannot be read on this computer: it is empty until it "
    "is set again.";

namespace {

const char* const Smtp = "SMTP";
const char* const Urls = "URLS";
const char* const MaintenanceSection = "Maintenance";

bool isProtected(const std::string& stored) {
    return stored.rfind(ProtectedPasswordMarker, 0) == 0;
}

// A secret as the file holds it: protected, or in clear text as an older file or a hand wrote
// it (taken as it stands and protected at the next save). Nullopt for a protected value this
// machine cannot unprotect (a copy from another computer): better nothing than bytes nobody
// typed.
std::optional<std::string> unprotect(const std::string& stored, const PasswordCodec& codec) {
    if (!isProtected(stored))
        return stored;
    const std::string marker = ProtectedPasswordMarker;
    const std::optional<std::string> blob = Base64Decode(stored.substr(marker.size()));
    if (blob && codec.Unprotect)
        return codec.Unprotect(*blob);
    return std::nullopt;
}

std::string readPassword(const std::string& stored, const PasswordCodec& codec,
                         std::vector<std::string>& notes) {
    if (std::optional<std::string> pass = unprotect(stored, codec))
        return *pass;
    notes.push_back(PasswordNotReadNote);
    return {};
}

// What the file is to hold for a secret value: the value protected; the file's own text when the
// value is unchanged (no new bytes for nothing) or empty while keepStored; else nothing.
std::string protectedText(const std::optional<std::string>& stored, const std::string& value,
                          bool keepStored, const PasswordCodec& codec, const std::string& what) {
    if (value.empty())
        return keepStored && stored ? *stored : std::string();
    if (stored && isProtected(*stored) && unprotect(*stored, codec) == value)
        return *stored;
    const std::optional<std::string> blob =
        codec.Protect ? codec.Protect(value) : std::optional<std::string>();
    if (!blob)
        throw Exception(what + " could not be protected, so the settings were not saved.");
    return ProtectedPasswordMarker + Base64Encode(*blob);
}

bool unreadable(const std::optional<std::string>& stored, const PasswordCodec& codec) {
    return stored && !stored->empty() && !unprotect(*stored, codec);
}

// A [Webhook NAME] section of the file, and why the loader leaves it out (empty: it is one of
// the record's channels). The saver asks the same, so that what was left out stays in the file.
struct WebhookSection {
    std::string Section; // as the file spells it
    std::string Name;
    std::optional<WebhookKind> Kind;
    std::string Skipped;
};

// A section name that is no channel's, as a note may quote it: the file may hold anything
// there, a megabyte or a carriage return that would forge a line of the log.
std::string shownSection(const std::string& section) {
    constexpr size_t most = 80;
    std::string shown = section.substr(0, most);
    if (section.size() > most) {
        while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xc0) == 0x80)
            shown.pop_back();
        if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xc0)
            shown.pop_back();
        shown += "...";
    }
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return shown;
}

std::vector<WebhookSection> webhookSections(const IniDocument& ini) {
    const std::string prefix = "Webhook ";
    std::vector<WebhookSection> sections;
    std::vector<std::string> taken;
    // Each key read walks the whole file: past a few sections more than a record can take, a
    // planted file of thousands would cost their number times its lines.
    std::size_t read = 0;
    for (const std::string& section : ini.SectionNames()) {
        if (section.size() <= prefix.size() || !SameText(section.substr(0, prefix.size()), prefix))
            continue;
        WebhookSection w{section, TrimBlanks(section.substr(prefix.size())), {}, {}};
        if (read++ < 2 * MaxWebhooks)
            w.Kind = ReadWebhookKind(ini.Get(section, "Kind").value_or(""));
        const bool twice = std::any_of(taken.begin(), taken.end(),
                                       [&](const std::string& t) { return SameText(t, w.Name); });
        const std::string kept = "it is kept in the file and sends nothing.";
        const std::string which = "The webhook " + w.Name + " in the settings file ";
        if (const std::string problem = WebhookNameProblem(w.Name); !problem.empty())
            w.Skipped = "The section [" + shownSection(section) +
                        "] of the settings file is no channel (" + problem + "): " + kept;
        else if (twice)
            w.Skipped = which + "stands twice: the second section " + kept.substr(3);
        else if (taken.size() >= MaxWebhooks || read > 2 * MaxWebhooks)
            w.Skipped =
                which + "is one more than " + std::to_string(MaxWebhooks) + " channels: " + kept;
        else if (!w.Kind)
            w.Skipped = which + "has no known Kind (teams, slack, ntfy or json): " + kept;
        if (w.Skipped.empty())
            taken.push_back(w.Name);
        sections.push_back(std::move(w));
    }
    return sections;
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return SameText(n, name); });
}

// An address as the log may show it: the password of its user part hidden.
std::string withoutPassword(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.rfind('@', end);
    if (at == std::string::npos || at < start)
        return url;
    const size_t colon = url.find(':', start);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

void loadWebhooks(CUserSettings& s, const IniDocument& ini, const PasswordCodec& codec,
                  std::vector<std::string>& notes) {
    s.Webhooks.clear();
    s.UnreadWebhooks.clear();
    // A file of thousands of sections gets a few notes, not a line of the log each.
    size_t skipped = 0;
    for (const WebhookSection& w : webhookSections(ini)) {
        if (!w.Skipped.empty()) {
            if (++skipped <= MaxWebhooks)
                notes.push_back(w.Skipped);
            continue;
        }
        WebhookChannel c;
        c.Name = w.Name;
        c.Kind = *w.Kind;
        // Neither value is ever named in a note: both hold the receiver's token.
        const std::string address = ini.Get(w.Section, "Address").value_or("");
        const std::optional<std::string> readAddress = unprotect(address, codec);
        if (address.empty() || !readAddress) {
            s.UnreadWebhooks.push_back(c.Name);
            notes.push_back("The address of webhook " + c.Name + " in the settings file " +
                            (address.empty() ? "is missing" : "cannot be read on this computer") +
                            ": the channel sends nothing until one is set.");
        } else {
            c.Address = *readAddress;
        }
        if (c.Kind == WebhookKind::Json) {
            const std::string secret = ini.Get(w.Section, "Secret").value_or("");
            const std::optional<std::string> readSecret = unprotect(secret, codec);
            if (!readSecret) {
                if (!listed(s.UnreadWebhooks, c.Name))
                    s.UnreadWebhooks.push_back(c.Name);
                notes.push_back("The secret of webhook " + c.Name +
                                " in the settings file cannot be read on this computer: its "
                                "messages go unsigned until it is set again.");
            } else {
                c.Secret = *readSecret;
            }
        }
        s.Webhooks.push_back(std::move(c));
    }
    if (skipped > MaxWebhooks)
        notes.push_back(std::to_string(skipped - MaxWebhooks) +
                        " more [Webhook] sections of the settings file are no channels either: "
                        "they are kept in the file and send nothing.");
}

void saveWebhooks(const CUserSettings& s, IniDocument& ini, const PasswordCodec& codec) {
    const std::vector<WebhookSection> sections = webhookSections(ini);
    // A channel deleted goes with its section; what the loader left out stays.
    for (const WebhookSection& w : sections) {
        const bool kept = std::any_of(s.Webhooks.begin(), s.Webhooks.end(),
                                      [&](const auto& c) { return SameText(c.Name, w.Name); });
        if (w.Skipped.empty() && !kept)
            ini.RemoveSection(w.Section);
    }
    for (const WebhookChannel& c : s.Webhooks) {
        std::string section = "Webhook " + c.Name;
        for (const WebhookSection& w : sections)
            if (w.Skipped.empty() && SameText(w.Name, c.Name))
                section = w.Section;
        ini.Set(section, "Kind", WebhookKindName(c.Kind));
        const bool unread = listed(s.UnreadWebhooks, c.Name);
        // An empty address is none the record knows: the file keeps whatever it holds.
        const std::optional<std::string> address = ini.Get(section, "Address");
        const std::string storedAddress =
            protectedText(address, c.Address, true, codec, "The address of webhook " + c.Name);
        if (address || !storedAddress.empty())
            ini.Set(section, "Address", storedAddress);
        if (c.Kind != WebhookKind::Json) {
            ini.RemoveKey(section, "Secret"); // only a json channel signs
            continue;
        }
        const std::optional<std::string> secret = ini.Get(section, "Secret");
        const std::string storedSecret =
            protectedText(secret, c.Secret, unread || unreadable(secret, codec), codec,
                          "The secret of webhook " + c.Name);
        if (storedSecret.empty())
            ini.RemoveKey(section, "Secret");
        else
            ini.Set(section, "Secret", storedSecret);
    }
}

} // namespace

const std::string& CUserSettings::Checks(int index) const {
    static const std::string none;
    const auto found = UrlChecks.find(Url(index));
    return found == UrlChecks.end() ? none : found->second;
}

namespace {

std::optional<SiteChecks> readChecks(const std::string& text) {
    std::string problem;
    return ReadSiteChecks(text, problem);
}

} // namespace

void CUserSettings::SetChecks(const std::string& url, const std::string& checks) {
    if (const auto old = UrlChecks.find(url); old != UrlChecks.end())
        if (const std::optional<SiteChecks> stored = readChecks(old->second);
            stored && !stored->Pass.empty() && stored->Pass != MaskedSitePass)
            StoredSitePasswords[url] = stored->Pass;
    std::string text = TrimBlanks(checks);
    if (std::optional<SiteChecks> read = readChecks(text); read && read->Pass == MaskedSitePass) {
        const auto stored = StoredSitePasswords.find(url);
        if (stored != StoredSitePasswords.end()) {
            read->Pass = stored->second;
            text = WriteSiteChecks(*read);
        }
    }
    if (text.empty())
        UrlChecks.erase(url);
    else
        UrlChecks[url] = text;
}

ProxySettings CUserSettings::Proxy() const {
    ProxySettings proxy;
    proxy.Mode = ReadProxyMode(ProxyMode).value_or(::ProxyMode::Automatic);
    proxy.Pac = ProxyPac;
    proxy.Server = ProxyServer;
    proxy.Bypass = ProxyBypass;
    proxy.User = ProxyUser;
    proxy.Pass = ProxyPass;
    return proxy;
}

std::optional<std::string> UnprotectedPassword(const std::string& stored,
                                               const PasswordCodec& codec) {
    std::vector<std::string> notes;
    std::string pass = readPassword(stored, codec, notes);
    if (!notes.empty())
        return std::nullopt;
    return pass;
}

SiteRecord CUserSettings::SiteAt(int index) const {
    std::string problem;
    return {Url(index), ReadSiteChecks(Checks(index), problem).value_or(SiteChecks{})};
}

std::string IniPathFor(const std::string& programPath) {
    return ChangeFileExt(programPath, ".INI");
}

void CUserSettings::Load(const IniDocument& ini, const PasswordCodec& codec,
                         std::vector<std::string>& notes) {
    Load(ini, codec, notes, SettingsPolicy());
}

void CUserSettings::Load(const IniDocument& ini, const PasswordCodec& codec,
                         std::vector<std::string>& notes, const SettingsPolicy& policy) {
    for (const SettingRow& row : SettingRows()) {
        const std::optional<std::string> value = ini.Get(row.Section, row.Key);
        if (row.Kind == SettingKind::Text) {
            this->*row.Text = value.value_or(row.TextDefault);
            continue;
        }
        if (row.Kind == SettingKind::Secret) {
            this->*row.Text = readPassword(value.value_or(""), codec, notes);
            continue;
        }
        std::optional<std::int32_t> n = value ? SettingsNumber(*value) : row.Default;
        if (!n)
            notes.push_back(std::string(row.Key) + "=" + *value +
                            " in the settings file is no number: " + std::to_string(row.Default) +
                            " is used.");
        if (row.Kind == SettingKind::Flag)
            this->*row.Flag = n.value_or(row.Default) != 0;
        else
            this->*row.Number = n.value_or(row.Default);
    }

    loadWebhooks(*this, ini, codec, notes);
    Maintenance = ini.Entries(MaintenanceSection);

    URLList.Clear();
    UrlChecks.clear();
    UnreadChecks.clear();
    std::vector<std::string> unread;
    bool twice = false;
    for (const std::string& entry : ini.Entries(Urls)) {
        const UrlEntry site = ReadUrlEntry(entry);
        AddUrl(site.Url);
        if (site.Checks.empty())
            continue;
        const auto [known, added] = UrlChecks.emplace(site.Url, site.Checks);
        if (!added) {
            twice = twice || known->second != site.Checks;
            continue;
        }
        std::string problem;
        if (!ReadSiteChecks(site.Checks, problem)) {
            UnreadChecks[site.Url] = site.Checks;
            unread.push_back(withoutPassword(site.Url));
        }
    }
    if (!unread.empty())
        notes.push_back("The values of " + Join(unread, ", ") +
                        " in the settings file do not read as checks: they are kept as written "
                        "and these sites are checked with the defaults.");
    if (twice)
        notes.push_back("An address stands more than once in [URLS] with different values: the "
                        "first line's checks are used for it.");
    ApplyPolicy(*this, policy, notes);
    const std::vector<std::string> fitted = FitLoadedSettings(*this);
    notes.insert(notes.end(), fitted.begin(), fitted.end());
}

void CUserSettings::Save(IniDocument& ini, const PasswordCodec& codec,
                         std::int64_t localNow) const {
    // Whatever its caller checked, a line break must never write keys of its own.
    const auto hasBreak = [](const std::string& text) {
        return text.find_first_of("\r\n") != std::string::npos;
    };
    bool broken = false;
    for (const SettingRow& row : SettingRows())
        broken = broken || (row.Kind == SettingKind::Text && hasBreak(this->*row.Text));
    for (int i = 0; i < URLList.Count(); ++i)
        broken = broken || hasBreak(URLList[i]) || hasBreak(Checks(i));
    for (const std::string& line : Maintenance)
        broken = broken || hasBreak(line);
    // A channel's name is its section's header: a bracket or a break would make another one.
    for (const WebhookChannel& c : Webhooks)
        broken = broken || !WebhookNameProblem(c.Name).empty();
    if (broken)
        throw Exception("A setting holds a line break, so the settings were not saved.");
    // A password this computer cannot unprotect (a file restored from another one) stays in the
    // file as it is until a new one is set: saving other settings must not wipe it.
    const auto protect = [&](const std::string& value, const std::optional<std::string>& stored) {
        return protectedText(stored, value, unreadable(stored, codec), codec, "The password");
    };
    // What policy sets stays out of the file, which keeps its own value for the day the policy
    // goes.
    for (const SettingRow& row : SettingRows()) {
        if (Enforced.count(EnforcedName(row)))
            continue;
        if (row.Kind == SettingKind::Text)
            ini.Set(row.Section, row.Key, this->*row.Text);
        else if (row.Kind == SettingKind::Secret)
            ini.Set(row.Section, row.Key, protect(this->*row.Text, ini.Get(row.Section, row.Key)));
        else if (row.Kind == SettingKind::Flag)
            ini.Set(row.Section, row.Key, BoolToIni(this->*row.Flag));
        else
            ini.Set(row.Section, row.Key, IntToIni(this->*row.Number));
    }

    std::vector<std::string> entries;
    for (int i = 0; i < URLList.Count() && !Enforced.count(EnforcedUrls); ++i) {
        const std::string url = TrimUrl(URLList[i]);
        if (url.empty()) // an empty entry cannot stand in the file
            continue;
        // A site's password typed in clear goes into the file protected.
        std::string checks = Checks(i);
        if (std::optional<SiteChecks> read = readChecks(checks);
            read && !read->Pass.empty() &&
            read->Pass.rfind(ProtectedPasswordMarker, 0) == std::string::npos) {
            read->Pass = protect(read->Pass, std::nullopt);
            checks = WriteSiteChecks(*read);
        }
        entries.push_back(UrlToEntry(url, checks));
    }
    if (!Enforced.count(EnforcedUrls))
        ini.SetEntries(Urls, entries);

    if (!Enforced.count(EnforcedWebhooks))
        saveWebhooks(*this, ini, codec);
    std::vector<std::string> windows;
    for (const std::string& line : Maintenance) {
        const std::string text = TrimBlanks(line);
        std::string problem;
        const std::optional<MaintenanceWindow> window = ReadMaintenanceWindow(text, problem);
        // A one-off window that is over has nothing more to say.
        if (text.empty() || (window && localNow > 0 && MaintenanceOver(*window, localNow)))
            continue;
        windows.push_back(text);
    }
    ini.SetEntries(MaintenanceSection, windows);
}
