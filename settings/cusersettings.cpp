#include "cusersettings.h"

#include "base/exception.h"
#include "base/paths.h"
#include "base/text.h"
#include "inidocument.h"
#include "inivalues.h"
#include "settingsrules.h"

#include <algorithm>

CUserSettings UserSettings;

const char* const DefaultBenchmark = "www.wikipedia.org";

const char* const ProtectedPasswordMarker = "protected:";

const char* const PasswordNotReadNote =
    "The password in the settings file cannot be read on this computer: it is empty until it "
    "is set again.";

namespace {

const char* const General = "General";
const char* const Log = "Log";
const char* const History = "History";
const char* const Smtp = "SMTP";
const char* const Urls = "URLS";
const char* const Metrics = "Metrics";

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

void CUserSettings::SetChecks(const std::string& url, const std::string& checks) {
    const std::string text = TrimBlanks(checks);
    if (text.empty())
        UrlChecks.erase(url);
    else
        UrlChecks[url] = text;
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
    const auto text = [&](const char* section, const char* key, const char* def) {
        return ini.Get(section, key).value_or(def);
    };
    const auto number = [&](const char* section, const char* key, std::int32_t def) {
        const std::optional<std::string> value = ini.Get(section, key);
        if (!value)
            return def;
        const std::optional<std::int32_t> n = SettingsNumber(*value);
        if (!n)
            notes.push_back(std::string(key) + "=" + *value +
                            " in the settings file is no number: " + std::to_string(def) +
                            " is used.");
        return n.value_or(def);
    };
    Benchmark = text(General, "Benchmark", DefaultBenchmark);
    StartOnStartup = number(General, "StartOnStartup", 1) != 0;
    TimeSpan = number(General, "TimeSpan", 15);
    TimeOut = number(General, "TimeOut", 500);
    Parallel = number(General, "Parallel", 16);
    Retries = number(General, "Retries", 0);
    Filter = number(Log, "Filter", 0);
    LogDays = number(Log, "Days", 90);
    HistoryDays = number(History, "Days", 30);
    CertDays = number(General, "CertDays", 14);
    To = text(Smtp, "To", "");
    From = text(Smtp, "From", "");
    Active = number(Smtp, "Active", 0) != 0;
    Server = text(Smtp, "Server", "");
    Port = number(Smtp, "Port", 25);
    UserID = text(Smtp, "UserID", "");
    Pass = readPassword(text(Smtp, "Pass", ""), codec, notes);
    Security = number(Smtp, "Security", SecurityNone);
    Notify = number(Smtp, "Notify", NotifyEveryCycle);
    TextfileDir = text(Metrics, "TextfileDir", "");

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
    for (const std::string* text : {&Benchmark, &To, &From, &Server, &UserID, &TextfileDir})
        broken = broken || hasBreak(*text);
    for (int i = 0; i < URLList.Count(); ++i)
        broken = broken || hasBreak(URLList[i]) || hasBreak(Checks(i));
    if (broken)
        throw Exception("A setting holds a line break, so the settings were not saved.");
    std::string pass;
    // A password this computer cannot unprotect (a file restored from another one) stays in the
    // file as it is until a new one is set: saving other settings must not wipe it.
    const std::string stored = ini.Get(Smtp, "Pass").value_or("");
    std::vector<std::string> unread;
    if (Pass.empty() && !stored.empty() && readPassword(stored, codec, unread).empty() &&
        !unread.empty())
        pass = stored;
    if (!Pass.empty()) {
        const std::optional<std::string> blob =
            codec.Protect ? codec.Protect(Pass) : std::optional<std::string>();
        if (!blob)
            throw Exception("The password could not be protected, so the settings were not "
                            "saved.");
        pass = ProtectedPasswordMarker + Base64Encode(*blob);
    }
    ini.Set(General, "Benchmark", Benchmark);
    ini.Set(General, "StartOnStartup", BoolToIni(StartOnStartup));
    ini.Set(General, "TimeSpan", IntToIni(TimeSpan));
    ini.Set(General, "TimeOut", IntToIni(TimeOut));
    ini.Set(General, "Parallel", IntToIni(Parallel));
    ini.Set(General, "Retries", IntToIni(Retries));
    ini.Set(Log, "Filter", IntToIni(Filter));
    ini.Set(Log, "Days", IntToIni(LogDays));
    ini.Set(History, "Days", IntToIni(HistoryDays));
    ini.Set(General, "CertDays", IntToIni(CertDays));
    ini.Set(Smtp, "To", To);
    ini.Set(Smtp, "From", From);
    ini.Set(Smtp, "Active", BoolToIni(Active));
    ini.Set(Smtp, "Server", Server);
    ini.Set(Smtp, "Port", IntToIni(Port));
    ini.Set(Smtp, "UserID", UserID);
    ini.Set(Smtp, "Pass", pass);
    ini.Set(Smtp, "Security", IntToIni(Security));
    ini.Set(Smtp, "Notify", IntToIni(Notify));
    ini.Set(Metrics, "TextfileDir", TextfileDir);

    std::vector<std::string> entries;
    for (int i = 0; i < URLList.Count(); ++i) {
        const std::string url = TrimUrl(URLList[i]);
        if (!url.empty()) // an empty entry cannot stand in the file
            entries.push_back(UrlToEntry(url, Checks(i)));
    }
    ini.SetEntries(Urls, entries);
}
