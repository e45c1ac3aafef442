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

// Every text of the record, each URL included, in bytes of UTF-8.
constexpr std::size_t MaxSettingText = 2047;

// The first rule the settings break, in words a user can act on; empty when they keep them
// all. Text: well-formed UTF-8, no control characters (a line break would write keys of its
// own into the file), at most MaxSettingText bytes; the benchmark and every URL not empty.
// Numbers: within their ranges. Security is free: a value without a meaning sends no mail.
std::string SettingsProblem(const CUserSettings& settings);

// What a loaded file's values become, so that the record keeps the rules: control characters
// are removed from texts, an over-long text is cut and an over-long URL dropped, an empty
// benchmark takes the default, TimeSpan, TimeOut, Parallel, Retries, Filter, Notify and both Days
// are brought to the nearest value of the same meaning, a Port outside its range takes 25. Returns
// a line for the log per field changed.
std::vector<std::string> FitLoadedSettings(CUserSettings& settings);
