// The one settings record of the program and its INI file beside the program.
#pragma once

#include "base/tstringlist.h"
#include "settings/alertsettings.h"
#include "settings/proxysettings.h"
#include "settings/sitechecks.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class IniDocument;
struct SettingsPolicy;

// How the password is kept in the file: the platform's data protection on Windows, a stand-in
// in tests. Each answers nullopt when it cannot.
struct PasswordCodec {
    std::function<std::optional<std::string>(const std::string& password)> Protect;
    std::function<std::optional<std::string>(const std::string& blob)> Unprotect;
};
// Written before the base64 of a protected password; a value without it is an older file's
// password in clear text.
extern const char* const ProtectedPasswordMarker;
// The loader's note for a protected password this machine cannot unprotect.
extern const char* const PasswordNotReadNote;

// Status word of a URL entry after a successful probe; 0 means failed or not yet checked.
constexpr std::int32_t UrlStatusUp = 112;

// The range of TimeOut the program acts on, in milliseconds: the settings dialog's range.
constexpr std::int32_t MinTimeOut = 500;
constexpr std::int32_t MaxTimeOut = 30000;

constexpr std::int32_t SecurityNone = 0;
constexpr std::int32_t SecurityStartTls = 1;
constexpr std::int32_t SecurityTls = 2;

constexpr std::int32_t NotifyEveryCycle = 0;
constexpr std::int32_t NotifyOnChange = 1;

class CUserSettings {
public:
    std::string Benchmark;
    // A text the benchmark page holds; empty: any answer will do. A page without it (a sign-in
    // page in its place) counts as the benchmark not reached.
    std::string BenchmarkText;
    // URL strings with their scheme; the attached object is the entry's status word.
    TStringList URLList;
    // Each address's checks as the file wrote them ([URLS] address=checks), keyed by the address
    // so that whoever rebuilds URLList (the dialog, an older companion) keeps them. An address
    // that stands twice has one text: the first line's.
    std::map<std::string, std::string> UrlChecks;
    // The texts of UrlChecks that did not read as options when the file was loaded: they stay
    // and are saved back as they stand (their sites are checked with the defaults), and the
    // rules let such a text pass as long as it is left unchanged.
    std::map<std::string, std::string> UnreadChecks;
    bool StartOnStartup = false;
    std::int32_t TimeSpan = 0;
    std::int32_t TimeOut = 0;
    // Requests of a check waiting for their answer at once; 1 probes one site after the other.
    std::int32_t Parallel = 16;
    // Further probes, within the same check, of a site that failed before it counts as down.
    std::int32_t Retries = 0;
    std::int32_t Filter = 0;
    std::int32_t LogDays = 90;
    // Days of history files kept ([History] Days); 0 keeps no history at all.
    std::int32_t HistoryDays = 30;
    // Days before a certificate's expiry that a site gets a warning ([General] CertDays), for
    // the sites whose checks name no certdays; 0: no warning.
    std::int32_t CertDays = 14;
    std::string To;
    std::string From;
    bool Active = false;
    std::string Server;
    std::int32_t Port = 0;
    std::string UserID;
    std::string Pass;
    // Connection security of the alert mail: SecurityNone, SecurityStartTls or SecurityTls. Kept
    // as read; any other value sends no mail at all rather than risk plain text.
    std::int32_t Security = SecurityNone;
    // When alert mail goes out: NotifyEveryCycle, or NotifyOnChange; any other value acts as
    // NotifyEveryCycle, the behaviour of files written before the key existed.
    std::int32_t Notify = NotifyEveryCycle;
    // Folder where each check's figures are written for a Prometheus textfile collector; empty:
    // none are written. A relative folder is taken from the program's folder.
    std::string TextfileDir;
    // [Proxy]: the way out to the sites and the benchmark (settings/proxysettings.h). Mode is
    // kept as written; ProxyPass is protected in the file as Pass is and never leaves the
    // service.
    std::string ProxyMode = "automatic";
    std::string ProxyPac;
    std::string ProxyServer;
    std::string ProxyBypass;
    std::string ProxyUser;
    std::string ProxyPass;
    // The password of each address's checks as last stored, for checks that come back with
    // pass=*** (MaskedChecks): SetChecks puts the stored one back in their place.
    std::map<std::string, std::string> StoredSitePasswords;
    // The alert channels besides the mail, in the order of their sections in the file.
    std::vector<WebhookChannel> Webhooks;
    // [Alerts] UpAfter: the cycles in a row a site that was down must answer before it counts
    // as back up, for every channel, the mail included.
    std::int32_t UpAfter = 1;
    // [Alerts] Remind: minutes between reminders while a site stays down; 0: no reminder.
    std::int32_t Remind = 0;
    // The lines of [Maintenance] as written (ReadMaintenanceWindow reads each); one that does
    // not read is kept as it stands and covers nothing.
    std::vector<std::string> Maintenance;
    // The lines of Maintenance that did not read when the file was loaded: the rules let such a
    // line pass as long as it stands unchanged, so that it blocks no other change.
    std::vector<std::string> UnreadMaintenance;
    // The channels of Webhooks whose address or secret the file holds but the record does not
    // (protected on another computer, missing, or against the rules): while the record's value
    // stays empty the file keeps its own, and the rules let the empty address pass.
    std::vector<std::string> UnreadWebhooks;
    // What group policy sets (settings/policy.h): the rows' pipe fields (a row the pipe does not
    // carry by its key in lower case), "url" for the list and "webhook" for the channels. Save
    // writes none of them, and a change to one is refused.
    std::set<std::string> Enforced;

#ifdef _WIN32
    // The INI file beside the program (settings/profilestore_win.cpp). Load answers false, and
    // leaves the record as it was, when the file exists but cannot be read; Save then refuses
    // to write over it until a Load has read it. Save raises Exception with the reason when
    // the file is not replaced; the old file stays whole.
    bool Load();
    bool Save() const;
#endif
    // Replaces every field with what the file holds, defaults for what it lacks, fitted to the
    // settings rules; notes gets a line per value that had to change.
    void Load(const IniDocument& ini, const PasswordCodec& codec, std::vector<std::string>& notes);
    // The same with the policy's values over the file's.
    void Load(const IniDocument& ini, const PasswordCodec& codec, std::vector<std::string>& notes,
              const SettingsPolicy& policy);
    // Writes every field into the document; raises when the password, a webhook's address or
    // its secret cannot be protected. localNow (seconds since 1970-01-01 00:00 of the local
    // clock) leaves out the one-off maintenance windows that are over; 0 leaves out none.
    void Save(IniDocument& ini, const PasswordCodec& codec, std::int64_t localNow = 0) const;

    // TimeOut as a probe waits for it: the file may hold any number (-1 would wait for ever,
    // 0 would fail every probe), so a value outside the range is brought to its nearest limit.
    // The record keeps the value as read.
    std::uint32_t ProbeTimeOut() const {
        return static_cast<std::uint32_t>(TimeOut < MinTimeOut   ? MinTimeOut
                                          : TimeOut > MaxTimeOut ? MaxTimeOut
                                                                 : TimeOut);
    }

    // URL list access in the record's terms.
    int UrlCount() const {
        return URLList.Count();
    }
    const std::string& Url(int index) const {
        return URLList.Get(index);
    }
    std::int32_t UrlStatus(int index) const {
        return static_cast<std::int32_t>(URLList.Objects(index));
    }
    void SetUrlStatus(int index, std::int32_t status) {
        URLList.PutObject(index, status);
    }
    void AddUrl(const std::string& url) {
        URLList.AddObject(url, 0);
    }
    // The checks of the entry as written; empty for the defaults.
    const std::string& Checks(int index) const;
    // Empty checks (blanks around them mean nothing) are the defaults. Checks whose pass= is
    // MaskedSitePass get the address's stored password back.
    void SetChecks(const std::string& url, const std::string& checks);
    // [Proxy] as the prober acts on it: an unknown mode word is automatic.
    ProxySettings Proxy() const;
    // The site as the engine checks it: the defaults when its checks do not read, and CertDays
    // absent unless the checks name it.
    SiteRecord SiteAt(int index) const;
};

extern CUserSettings UserSettings;

// The benchmark used when the file names none: a large public site that is always up.
extern const char* const DefaultBenchmark;

// A password as the file keeps it ("protected:..." or an older file's clear text) in clear;
// nullopt when this machine cannot unprotect it.
std::optional<std::string> UnprotectedPassword(const std::string& stored,
                                               const PasswordCodec& codec);

// The INI file's path for a program path: same folder and name, extension ".INI".
std::string IniPathFor(const std::string& programPath);
