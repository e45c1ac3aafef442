#include "settings/settingsrules.h"

#include "base/text.h"
#include "base/utf.h"
#include "settings/inidocument.h"
#include "settings/inivalues.h"
#include "settings/settingstable.h"

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

} // namespace

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
    return {};
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
        const std::int32_t nearest = value < row.Range.min ? row.Range.min : row.Range.max;
        std::int32_t fitted = nearest;
        if (row.Fit == SettingFit::ZeroOrNearest && value < 0)
            fitted = 0;
        else if (row.Fit == SettingFit::NegativeDefault && value < 0)
            fitted = row.Default;
        else if (row.Fit == SettingFit::Default)
            fitted = row.Default;
        notes.push_back(
            std::string(row.NoteName ? row.NoteName : row.Key) + "=" + std::to_string(value) +
            " in the settings file is out of range: " + std::to_string(fitted) + " is used.");
        value = fitted;
    }
    return notes;
}
