#include "ui/sitechecksform.h"

#include "base/text.h"

#include <string_view>

namespace {

// A value as the [URLS] line must carry it: quoted when it holds ";" or a quote, or has blanks
// at its ends, so that what was typed is what the reader gets.
std::string Quoted(const std::string& value) {
    const bool plain = value.find_first_of(";\"") == std::string::npos &&
                       (value.empty() || (value.front() != ' ' && value.back() != ' '));
    if (plain)
        return value;
    std::string text = "\"";
    for (char c : value)
        text += c == '"' ? std::string("\"\"") : std::string(1, c);
    return text + "\"";
}

// The checks of one option read alone; nullopt with the reader's words when it does not read.
std::optional<SiteChecks> ReadOption(const char* name, const std::string& value,
                                     std::string& problem) {
    return ReadSiteChecks(std::string(name) + "=" + Quoted(value), problem);
}

std::string StatusesText(const std::vector<StatusRange>& statuses) {
    std::string text;
    for (const StatusRange& range : statuses) {
        if (!text.empty())
            text += ",";
        text += std::to_string(range.First);
        if (range.Last != range.First)
            text += "-" + std::to_string(range.Last);
    }
    return text;
}

} // namespace

SiteCheckFields FieldsFor(const SiteChecks& checks) {
    SiteCheckFields fields;
    fields.Statuses = StatusesText(checks.Statuses);
    fields.Redirects = std::to_string(checks.Redirects);
    fields.Contains = checks.Contains.value_or("");
    fields.Lacks = checks.Lacks.value_or("");
    fields.Stay = checks.Stay;
    if (checks.CertDays)
        fields.CertDays = std::to_string(*checks.CertDays);
    if (checks.SlowMs)
        fields.SlowMs = std::to_string(*checks.SlowMs);
    return fields;
}

SiteChecksView ViewOfStoredChecks(const std::string& stored) {
    std::string problem;
    if (const std::optional<SiteChecks> checks = ReadSiteChecks(stored, problem))
        return {FieldsFor(*checks), {}};
    return {FieldsFor(SiteChecks{}), "The stored checks \"" + stored +
                                         "\" do not read: " + problem +
                                         " They stay as they are unless you change them."};
}

std::optional<std::string> ChecksOnOk(const std::string& stored, const SiteCheckFields& shown,
                                      const SiteCheckFields& fields, SiteCheckProblem& problem) {
    if (fields == shown)
        return stored;
    // What the dialog has no field for (proxy=, auth=, user=, pass=, cert=) stays as stored.
    std::string unread;
    SiteChecks checks = ReadSiteChecks(stored, unread).value_or(SiteChecks{});
    // Each field alone, so that a problem names its field; an empty field is the default.
    const auto take = [&](SiteCheckField field, const char* name, const std::string& value,
                          auto member) {
        if (value.empty()) {
            checks.*member = SiteChecks{}.*member;
            return true;
        }
        const std::optional<SiteChecks> one = ReadOption(name, value, problem.Text);
        if (!one) {
            problem.Field = field;
            return false;
        }
        checks.*member = (*one).*member;
        return true;
    };
    // A text is searched as typed, blanks and all.
    if (!take(SiteCheckField::Statuses, "status", TrimBlanks(fields.Statuses),
              &SiteChecks::Statuses) ||
        !take(SiteCheckField::Redirects, "redirects", TrimBlanks(fields.Redirects),
              &SiteChecks::Redirects) ||
        !take(SiteCheckField::Contains, "contains", fields.Contains, &SiteChecks::Contains) ||
        !take(SiteCheckField::Lacks, "lacks", fields.Lacks, &SiteChecks::Lacks) ||
        !take(SiteCheckField::CertDays, "certdays", TrimBlanks(fields.CertDays),
              &SiteChecks::CertDays) ||
        !take(SiteCheckField::SlowMs, "slow", TrimBlanks(fields.SlowMs), &SiteChecks::SlowMs))
        return std::nullopt;
    checks.Stay = fields.Stay;
    // Fields that read one by one may together be longer than checks may be (two texts of
    // quotes, each doubled): refused here, where the field can be named, not later by the list.
    std::string text = WriteSiteChecks(checks);
    if (!ReadSiteChecks(text, problem.Text)) {
        problem.Field = checks.Contains ? SiteCheckField::Contains
                        : checks.Lacks  ? SiteCheckField::Lacks
                                        : SiteCheckField::Statuses;
        return std::nullopt;
    }
    return text;
}
