#include "cusersettings.h"

#include "base/exception.h"
#include "base/paths.h"
#include "base/text.h"
#include "inidocument.h"
#include "inivalues.h"
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

// An older file holds the password in clear text; it is taken as it stands and protected at
// the next save. One that this machine cannot unprotect (a copy from another computer) is no
// password at all rather than bytes nobody typed.
std::string readPassword(const std::string& stored, const PasswordCodec& codec,
                         std::vector<std::string>& notes) {
    const std::string marker = ProtectedPasswordMarker;
    if (stored.compare(0, marker.size(), marker) != 0)
        return stored;
    const std::optional<std::string> blob = Base64Decode(stored.substr(marker.size()));
    std::optional<std::string> pass;
    if (blob && codec.Unprotect)
        pass = codec.Unprotect(*blob);
    if (pass)
        return *pass;
    notes.push_back(PasswordNotReadNote);
    return {};
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
    const std::vector<std::string> fitted = FitLoadedSettings(*this);
    notes.insert(notes.end(), fitted.begin(), fitted.end());
}

void CUserSettings::Save(IniDocument& ini, const PasswordCodec& codec) const {
    // Whatever its caller checked, a line break must never write keys of its own.
    const auto hasBreak = [](const std::string& text) {
        return text.find_first_of("\r\n") != std::string::npos;
    };
    bool broken = false;
    for (const SettingRow& row : SettingRows())
        broken = broken || (row.Kind == SettingKind::Text && hasBreak(this->*row.Text));
    for (int i = 0; i < URLList.Count(); ++i)
        broken = broken || hasBreak(URLList[i]) || hasBreak(Checks(i));
    if (broken)
        throw Exception("A setting holds a line break, so the settings were not saved.");
    // A password this computer cannot unprotect (a file restored from another one) stays in the
    // file as it is until a new one is set: saving other settings must not wipe it.
    const auto protect = [&](const std::string& clear, const std::string& stored) {
        std::vector<std::string> unread;
        if (clear.empty() && !stored.empty() && readPassword(stored, codec, unread).empty() &&
            !unread.empty())
            return stored;
        if (clear.empty())
            return std::string();
        const std::optional<std::string> blob =
            codec.Protect ? codec.Protect(clear) : std::optional<std::string>();
        if (!blob)
            throw Exception("The password could not be protected, so the settings were not "
                            "saved.");
        return ProtectedPasswordMarker + Base64Encode(*blob);
    };
    for (const SettingRow& row : SettingRows()) {
        if (row.Kind == SettingKind::Text)
            ini.Set(row.Section, row.Key, this->*row.Text);
        else if (row.Kind == SettingKind::Secret)
            ini.Set(row.Section, row.Key,
                    protect(this->*row.Text, ini.Get(row.Section, row.Key).value_or("")));
        else if (row.Kind == SettingKind::Flag)
            ini.Set(row.Section, row.Key, BoolToIni(this->*row.Flag));
        else
            ini.Set(row.Section, row.Key, IntToIni(this->*row.Number));
    }

    std::vector<std::string> entries;
    for (int i = 0; i < URLList.Count(); ++i) {
        const std::string url = TrimUrl(URLList[i]);
        if (url.empty()) // an empty entry cannot stand in the file
            continue;
        // A site's password typed in clear goes into the file protected.
        std::string checks = Checks(i);
        if (std::optional<SiteChecks> read = readChecks(checks);
            read && !read->Pass.empty() &&
            read->Pass.rfind(ProtectedPasswordMarker, 0) == std::string::npos) {
            read->Pass = protect(read->Pass, {});
            checks = WriteSiteChecks(*read);
        }
        entries.push_back(UrlToEntry(url, checks));
    }
    ini.SetEntries(Urls, entries);
}
