#include "settings/settingsrules.h"

#include "base/text.h"
#include "base/utf.h"
#include "settings/inidocument.h"
#include "settings/inivalues.h"

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// C0 controls and DEL, and the C1 controls U+0080 to U+009F, which UTF-8 writes C2 80..9F.
bool hasControl(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isControl(c))
            return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return true;
    }
    return false;
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
    if (hasControl(text))
        return what + " must not contain line breaks or other control characters.";
    if (text.size() > MaxSettingText)
        return what + " is longer than " + std::to_string(MaxSettingText) + " bytes.";
    return {};
}

bool within(std::int32_t value, SettingRange range) {
    return value >= range.min && value <= range.max;
}

std::string rangeText(SettingRange range) {
    return std::to_string(range.min) + " to " + std::to_string(range.max);
}

struct TextField {
    std::string CUserSettings::*field;
    const char* what;
};
const TextField TextFields[] = {
    {&CUserSettings::Benchmark, "The benchmark URL"},
    {&CUserSettings::To, "The recipient"},
    {&CUserSettings::From, "The sender address"},
    {&CUserSettings::Server, "The mail server"},
    {&CUserSettings::UserID, "The user name"},
    {&CUserSettings::Pass, "The password"},
    {&CUserSettings::TextfileDir, "The metrics folder"},
};

// Whether the file gives the URL back as it went in. A URL that begins like a section header or
// a comment, or with blanks the file does not keep, would be lost or changed at the next start,
// and with a header every URL after it too.
bool comesBackWhole(const std::string& url) {
    IniDocument ini;
    ini.SetEntries("URLS", {UrlToEntry(url)});
    const std::vector<std::string> back = ini.Entries("URLS");
    return back.size() == 1 && UrlFromEntry(back[0]) == url;
}

} // namespace

std::string SettingsProblem(const CUserSettings& s) {
    for (const TextField& f : TextFields) {
        std::string problem = textProblem(s.*f.field, f.what);
        if (!problem.empty())
            return problem;
    }
    if (TrimBlanks(s.Benchmark).empty())
        return "The benchmark URL must not be empty: without it nothing is checked.";
    for (int i = 0; i < s.UrlCount(); ++i) {
        if (s.Url(i).empty())
            return "A URL of the list is empty.";
        std::string problem = textProblem(s.Url(i), "The URL " + std::to_string(i + 1));
        if (!problem.empty())
            return problem;
        if (!comesBackWhole(s.Url(i)))
            return "The URL " + std::to_string(i + 1) +
                   " would not come back whole from the settings file: it must not begin with "
                   "\"[\", \";\" or \"#\", nor begin or end with a blank.";
    }
    if (s.TimeSpan != 0 && !within(s.TimeSpan, TimeSpanRange))
        return "The interval must be " + rangeText(TimeSpanRange) +
               " minutes, or 0 for no scheduled checks.";
    if (!within(s.TimeOut, TimeOutRange))
        return "The time-out must be " + rangeText(TimeOutRange) + " milliseconds.";
    if (!within(s.Parallel, ParallelRange))
        return "The sites checked at once must be " + rangeText(ParallelRange) + ".";
    if (!within(s.Retries, RetriesRange))
        return "The retries of a failed site must be " + rangeText(RetriesRange) + ".";
    if (!within(s.Filter, FilterRange))
        return "The log level must be " + rangeText(FilterRange) + ".";
    if (!within(s.LogDays, LogDaysRange))
        return "The days to keep log files must be " + rangeText(LogDaysRange) +
               " (0 keeps every log file).";
    if (!within(s.HistoryDays, HistoryDaysRange))
        return "The days of history must be " + rangeText(HistoryDaysRange) +
               " (0 keeps no history).";
    if (!within(s.CertDays, CertDaysRange))
        return "The days of warning before a certificate expires must be " +
               rangeText(CertDaysRange) + " (0 warns of none).";
    if (!within(s.Port, PortRange))
        return "The port must be " + rangeText(PortRange) + ".";
    if (!within(s.Notify, NotifyRange))
        return "Notify must be " + rangeText(NotifyRange) + ".";
    return {};
}

std::vector<std::string> FitLoadedSettings(CUserSettings& s) {
    std::vector<std::string> notes;
    for (const TextField& f : TextFields) {
        std::string& text = s.*f.field;
        const std::string fitted = cut(withoutControls(text));
        if (fitted != text) {
            notes.push_back(std::string(f.what) +
                            " in the settings file held control characters or was too long: "
                            "it was shortened.");
            text = fitted;
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

    const auto fit = [&](std::int32_t& value, std::int32_t fitted, const char* key) {
        if (fitted == value)
            return;
        notes.push_back(std::string(key) + "=" + std::to_string(value) +
                        " in the settings file is out of range: " + std::to_string(fitted) +
                        " is used.");
        value = fitted;
    };
    const auto nearest = [](std::int32_t value, SettingRange range) {
        return value < range.min ? range.min : value > range.max ? range.max : value;
    };
    // 0 or less has always meant "no scheduled checks".
    fit(s.TimeSpan, s.TimeSpan <= 0 ? 0 : nearest(s.TimeSpan, TimeSpanRange), "TimeSpan");
    fit(s.TimeOut, nearest(s.TimeOut, TimeOutRange), "TimeOut");
    fit(s.Parallel, nearest(s.Parallel, ParallelRange), "Parallel");
    fit(s.Retries, nearest(s.Retries, RetriesRange), "Retries");
    // The log has always read below 0 as 0 and above 2 as 2.
    fit(s.Filter, nearest(s.Filter, FilterRange), "Filter");
    fit(s.LogDays, s.LogDays < 0 ? 90 : nearest(s.LogDays, LogDaysRange), "Days");
    fit(s.HistoryDays, s.HistoryDays < 0 ? 30 : nearest(s.HistoryDays, HistoryDaysRange),
        "[History] Days");
    fit(s.CertDays, nearest(s.CertDays, CertDaysRange), "CertDays");
    // No port is near another: a wrong one takes the mail port.
    fit(s.Port, within(s.Port, PortRange) ? s.Port : 25, "Port");
    // Any other value has always acted as a report after every check.
    fit(s.Notify, within(s.Notify, NotifyRange) ? s.Notify : NotifyEveryCycle, "Notify");
    return notes;
}
