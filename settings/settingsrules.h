// One set of rules for settings, whichever way they come in: the dialog, the control channel
// and the file. A change that breaks a rule is refused with the reason; a file that breaks one
// is fitted to the rules field by field when it is loaded.
#pragma once

#include "settings/cusersettings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SettingRange {
    std::int32_t min;
    std::int32_t max;
};
// TimeSpan may also be 0: no scheduled checks.
constexpr SettingRange TimeSpanRange{1, 120};
constexpr SettingRange TimeOutRange{MinTimeOut, MaxTimeOut};
// Beyond 16 requests at once a check hardly gets faster; 64 keeps the sockets and memory of one
// check small for a service, and a quarter of the live requests the check engine allows, so that
// requests still hanging from earlier checks do not stall a new one.
constexpr SettingRange ParallelRange{1, 64};
// Each try of a site may wait a whole TimeOut: five more keep a check that finds a site silent
// within a few minutes even at the longest TimeOut.
constexpr SettingRange RetriesRange{0, 5};
constexpr SettingRange FilterRange{0, 2};
constexpr SettingRange PortRange{1, 65535};
constexpr SettingRange NotifyRange{NotifyEveryCycle, NotifyOnChange};
constexpr SettingRange LogDaysRange{0, 36500};
// A line per site and check: ten years of a few sites is still a folder a person can handle.
constexpr SettingRange HistoryDaysRange{0, 3650};
constexpr SettingRange CertDaysRange{0, MaxCertDays};
constexpr SettingRange UpAfterRange{1, 60};
// Remind may also be 0: no reminder. A week is the longest that still reminds anyone.
constexpr SettingRange RemindRange{1, 10080};

// The bytes of a webhook channel's name, and the maintenance windows a record holds at most.
constexpr std::size_t MaxWebhookName = 64;
constexpr std::size_t MaxMaintenanceWindows = 64;

// Every text of the record, each URL included, in bytes of UTF-8.
constexpr std::size_t MaxSettingText = 2047;

// The first rule the settings break, in words a user can act on; empty when they keep them
// all. Text: well-formed UTF-8, no control characters (a line break would write keys of its
// own into the file), at most MaxSettingText bytes; the benchmark and every URL not empty.
// Numbers: within their ranges. Security is free: a value without a meaning sends no mail.
std::string SettingsProblem(const CUserSettings& settings);

// The first rule a webhook channel breaks, in words; empty when it keeps them all. Its name:
// not empty, at most MaxWebhookName bytes, no "[", "]", control characters or blanks around it.
// Its address: https:// and a host (a token must never travel unencrypted), whole rather than
// shown. Its secret: the rules of texts. The names of a record's channels must also differ
// without regard to case, which SettingsProblem checks.
std::string WebhookProblem(const WebhookChannel& channel);
// The name's part of WebhookProblem.
std::string WebhookNameProblem(const std::string& name);
// Whether the address is an address as shown (ShownWebhookAddress: its path left out), which
// cannot be posted to: the sender of a form takes it for "the one stored".
bool IsShownWebhookAddress(const std::string& address);

// What a loaded file's values become, so that the record keeps the rules: control characters
// are removed from texts, an over-long text is cut and an over-long URL dropped, an empty
// benchmark takes the default, TimeSpan, TimeOut, Parallel, Retries, Filter, Notify, both Days,
// UpAfter and Remind are brought to the nearest value of the same meaning, a Port outside its
// range takes 25; a webhook address or secret against the rules is set aside (the file keeps
// it), maintenance lines that do not read are kept as written and those beyond
// MaxMaintenanceWindows ignored. Returns a line for the log per field changed.
std::vector<std::string> FitLoadedSettings(CUserSettings& settings);
