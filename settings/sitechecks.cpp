#include "settings/sitechecks.h"

#include "base/text.h"
#include "base/utf.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

// Slower than ten minutes is no answer a person waits for; the time-out ends a probe long before.
constexpr std::uint32_t MaxSlowMs = 600000;

// Not a tab: the settings' rules take it for a control character, and checks that one rule read
// and another refused would keep every other setting from being saved.
bool isBlank(char c) {
    return c == ' ';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Decimal digits only, and few enough that the value cannot overflow: the options' numbers are
// small, and a sign or a hexadecimal form would only be a way to hide a mistake.
std::optional<std::uint32_t> number(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// C0 controls, DEL, and the C1 controls that UTF-8 writes C2 80..9F.
std::string quotedName(const std::string& name) {
    return "\"" + name + "\"";
}

bool readStatuses(std::string_view value, std::vector<StatusRange>& statuses,
                  std::string& problem) {
    statuses.clear();
    while (true) {
        const size_t comma = value.find(',');
        const std::string_view item = trimmed(value.substr(0, comma));
        const size_t dash = item.find('-');
        const std::optional<std::uint32_t> first = number(trimmed(item.substr(0, dash)));
        const std::optional<std::uint32_t> last =
            dash == std::string_view::npos ? first : number(trimmed(item.substr(dash + 1)));
        if (!first || !last || *first < 100 || *last > 599 || *last < 100 || *first > 599) {
            problem = "status=" + std::string(item) +
                      " is no status code: write codes from 100 to 599, or ranges like 301-302, "
                      "separated by \",\".";
            return false;
        }
        if (*first > *last) {
            problem = "The status range " + std::string(item) +
                      " must go from the lower code to "
                      "the higher.";
            return false;
        }
        statuses.push_back({*first, *last});
        if (comma == std::string_view::npos)
            return true;
        value.remove_prefix(comma + 1);
    }
}

bool readText(const std::string& name, const std::string& value, std::optional<std::string>& text,
              std::string& problem) {
    if (value.empty())
        problem = quotedName(name) + " needs a text.";
    else if (value.size() > MaxCheckText)
        problem = "The text of " + quotedName(name) + " is longer than " +
                  std::to_string(MaxCheckText) + " bytes.";
    else if (!IsUtf8(value))
        problem = "The text of " + quotedName(name) + " is not well-formed text.";
    else if (HasControlCharacter(value))
        problem = "The text of " + quotedName(name) + " must not hold control characters.";
    else
        text = value;
    return problem.empty();
}

bool readBounded(const std::string& name, std::string_view value, std::uint32_t min,
                 std::uint32_t max, const char* unit, std::uint32_t& out, std::string& problem) {
    const std::optional<std::uint32_t> n = number(value);
    if (!n || *n < min || *n > max) {
        problem =
            name + " must be " + std::to_string(min) + " to " + std::to_string(max) + unit + ".";
        return false;
    }
    out = *n;
    return true;
}

const std::array<const char*, 12> OptionNames = {"status", "redirects", "contains", "lacks",
                                                 "stay",   "certdays",  "slow",     "proxy",
                                                 "auth",   "user",      "pass",     "cert"};

// A thumbprint as certificate viewers show it: hex pairs, maybe with blanks or colons between.
bool readThumbprint(const std::string& value, std::string& cert, std::string& problem) {
    std::string hex;
    for (char c : value) {
        if (c == ' ' || c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            hex.clear();
            break;
        }
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 40) {
        problem = "cert= must be the certificate's SHA-1 thumbprint: 40 hexadecimal digits.";
        return false;
    }
    cert = hex;
    return true;
}

bool readAccess(const std::string& name, const std::string& value, SiteChecks& checks,
                std::string& problem) {
    const std::string word = lower(value);
    if (name == "proxy") {
        if (word != "none") {
            problem = "proxy= can only be none (this site goes direct).";
            return false;
        }
        checks.Direct = true;
        return true;
    }
    if (name == "auth") {
        if (word == "default")
            checks.Auth = SiteAuth::Default;
        else if (word == "basic")
            checks.Auth = SiteAuth::Basic;
        else if (word == "ntlm")
            checks.Auth = SiteAuth::Ntlm;
        else
            problem = "auth= must be default, basic or ntlm.";
        return problem.empty();
    }
    if (name == "cert")
        return readThumbprint(value, checks.Cert, problem);
    std::optional<std::string> text;
    if (!readText(name, value, text, problem))
        return false;
    (name == "user" ? checks.User : checks.Pass) = *text;
    return true;
}

// One option into the checks; false with the problem when its value does not read.
bool readOption(const std::string& name, const std::string& value, SiteChecks& checks,
                std::string& problem) {
    std::uint32_t n = 0;
    if (name == "contains")
        return readText(name, value, checks.Contains, problem);
    if (name == "lacks")
        return readText(name, value, checks.Lacks, problem);
    if (name == "status")
        return readStatuses(value, checks.Statuses, problem);
    if (name == "proxy" || name == "auth" || name == "user" || name == "pass" || name == "cert")
        return readAccess(name, value, checks, problem);
    if (name == "redirects") {
        if (!readBounded(name, value, 0, MaxSiteRedirects, "", n, problem))
            return false;
        checks.Redirects = static_cast<int>(n);
        return true;
    }
    if (name == "stay") {
        if (!readBounded(name, value, 0, 1, "", n, problem))
            return false;
        checks.Stay = n == 1;
        return true;
    }
    if (name == "certdays") {
        if (!readBounded(name, value, 0, MaxCertDays, " days (0: no warning)", n, problem))
            return false;
        checks.CertDays = static_cast<int>(n);
        return true;
    }
    if (!readBounded(name, value, 1, MaxSlowMs, " milliseconds", n, problem))
        return false;
    checks.SlowMs = n;
    return true;
}

std::string knownNames() {
    std::string names;
    for (size_t i = 0; i < OptionNames.size(); ++i)
        names += std::string(i == 0                        ? ""
                             : i + 1 == OptionNames.size() ? " or "
                                                           : ", ") +
                 OptionNames[i];
    return names;
}

bool needsQuotes(const std::string& value) {
    return value.empty() || value.find_first_of(";\"") != std::string::npos ||
           isBlank(value.front()) || isBlank(value.back());
}

std::string valueText(const std::string& value) {
    if (!needsQuotes(value))
        return value;
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

} // namespace

std::optional<SiteChecks> ReadSiteChecks(std::string_view text, std::string& problem) {
    problem.clear();
    if (text.size() > MaxSiteChecksText) {
        problem = "The checks are longer than " + std::to_string(MaxSiteChecksText) + " bytes.";
        return std::nullopt;
    }
    SiteChecks checks;
    std::array<bool, OptionNames.size()> seen{};
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find_first_of("=;", at);
        const std::string name = lower(trimmed(text.substr(at, end - at)));
        if (end == std::string_view::npos || text[end] == ';') {
            // Empty parts ("a=1;;b=2", a closing ";") ask for nothing.
            if (!name.empty()) {
                problem = quotedName(name) + " needs \"=\" and a value, as in " + name + "=...";
                return std::nullopt;
            }
            at = end == std::string_view::npos ? text.size() : end + 1;
            continue;
        }
        if (name.empty()) {
            problem = "An option has no name before its \"=\".";
            return std::nullopt;
        }
        size_t index = 0;
        while (index < OptionNames.size() && name != OptionNames[index])
            ++index;
        if (index == OptionNames.size()) {
            problem = quotedName(name) + " is no option: the options are " + knownNames() + ".";
            return std::nullopt;
        }
        if (seen[index]) {
            problem = quotedName(name) + " is given twice.";
            return std::nullopt;
        }
        seen[index] = true;

        at = end + 1;
        while (at < text.size() && isBlank(text[at]))
            ++at;
        std::string value;
        const bool quoted = at < text.size() && text[at] == '"';
        if (quoted) {
            bool closed = false;
            for (++at; at < text.size(); ++at) {
                if (text[at] != '"') {
                    value += text[at];
                } else if (at + 1 < text.size() && text[at + 1] == '"') {
                    value += '"';
                    ++at;
                } else {
                    closed = true;
                    ++at;
                    break;
                }
            }
            if (!closed) {
                problem = "The value of " + quotedName(name) + " lacks its closing quote.";
                return std::nullopt;
            }
            while (at < text.size() && isBlank(text[at]))
                ++at;
            if (at < text.size() && text[at] != ';') {
                problem = "After the quoted value of " + quotedName(name) +
                          " only \";\" and the next option may follow.";
                return std::nullopt;
            }
        } else {
            const size_t semicolon = std::min(text.find(';', at), text.size());
            value = std::string(trimmed(text.substr(at, semicolon - at)));
            at = semicolon;
        }
        if (!readOption(name, value, checks, problem))
            return std::nullopt;
        if (at < text.size())
            ++at; // the ";"
    }
    const bool named = checks.Auth == SiteAuth::Basic || checks.Auth == SiteAuth::Ntlm;
    if (named && checks.User.empty()) {
        problem = std::string("auth=") + (checks.Auth == SiteAuth::Basic ? "basic" : "ntlm") +
                  " needs user= and pass=.";
        return std::nullopt;
    }
    if (!named && (!checks.User.empty() || !checks.Pass.empty())) {
        problem = "user= and pass= go with auth=basic or auth=ntlm.";
        return std::nullopt;
    }
    return checks;
}

std::string WriteSiteChecks(const SiteChecks& checks) {
    std::vector<std::string> options;
    const SiteChecks defaults;
    if (!checks.Statuses.empty() && checks.Statuses != defaults.Statuses) {
        std::string codes;
        for (const StatusRange& r : checks.Statuses) {
            codes += codes.empty() ? "" : ",";
            codes += std::to_string(r.First);
            if (r.Last != r.First)
                codes += "-" + std::to_string(r.Last);
        }
        options.push_back("status=" + codes);
    }
    if (checks.Redirects != defaults.Redirects)
        options.push_back("redirects=" + std::to_string(checks.Redirects));
    if (checks.Contains)
        options.push_back("contains=" + valueText(*checks.Contains));
    if (checks.Lacks)
        options.push_back("lacks=" + valueText(*checks.Lacks));
    if (checks.Stay)
        options.push_back("stay=1");
    if (checks.CertDays)
        options.push_back("certdays=" + std::to_string(*checks.CertDays));
    if (checks.SlowMs)
        options.push_back("slow=" + std::to_string(*checks.SlowMs));
    if (checks.Direct)
        options.push_back("proxy=none");
    if (checks.Auth != SiteAuth::None)
        options.push_back(std::string("auth=") + (checks.Auth == SiteAuth::Default ? "default"
                                                  : checks.Auth == SiteAuth::Basic ? "basic"
                                                                                   : "ntlm"));
    if (!checks.User.empty())
        options.push_back("user=" + valueText(checks.User));
    if (!checks.Pass.empty())
        options.push_back("pass=" + valueText(checks.Pass));
    if (!checks.Cert.empty())
        options.push_back("cert=" + checks.Cert);
    std::string text;
    for (const std::string& option : options)
        text += (text.empty() ? "" : ";") + option;
    return text;
}

std::string MaskedChecks(const std::string& text) {
    std::string problem;
    if (std::optional<SiteChecks> checks = ReadSiteChecks(text, problem)) {
        if (checks->Pass.empty())
            return text;
        checks->Pass = MaskedSitePass;
        return WriteSiteChecks(*checks);
    }
    return lower(text).find("pass") == std::string::npos ? text
                                                         : std::string("pass=") + MaskedSitePass;
}
