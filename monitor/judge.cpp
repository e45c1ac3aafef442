#include "monitor/judge.h"

#include "monitor/clogger.h"
#include "settings/proxysettings.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

constexpr std::int64_t SecondsPerDay = 86400;

// Days since 1970-01-01 of a civil date, and back (the proleptic Gregorian calendar, UTC).
std::int64_t dayOf(std::int64_t seconds) {
    return seconds >= 0 ? seconds / SecondsPerDay
                        : -((-seconds + SecondsPerDay - 1) / SecondsPerDay);
}

std::string dateOf(std::int64_t seconds) {
    const CivilDate date = CivilFromDays(dayOf(seconds));
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d", date.Year, date.Month, date.Day);
    return text;
}

// "bücher.example:8080/x" -> "bücher.example", lower case; a URL's user part and port are not
// the host, and an IPv6 host keeps its brackets.
std::string hostOf(std::string_view url) {
    const std::string host = HostPortOf(url).Host;
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

// The words for a certificate that expires within the site's days, by calendar days in UTC so
// that "in 5 days" and the date agree whatever the hour.
std::string expiryWarning(const std::string& host, std::int64_t expiry, std::int64_t now) {
    const std::int64_t days = dayOf(expiry) - dayOf(now);
    const std::string date = dateOf(expiry);
    const std::string of = "certificate of " + host + " ";
    if (expiry <= now)
        return of + "expired on " + date;
    if (days == 0)
        return of + "expires today, on " + date;
    return of + "expires in " + std::to_string(days) + (days == 1 ? " day" : " days") + ", on " +
           date;
}

// A host as a peer names it (where a redirect ends, whom a certificate is for) in the words a
// person reads: printable ASCII, as a host goes over the wire, and no longer than a host name
// may be, so that no line break or screenful of its own reaches a log line, a menu or a mail.
std::string peerHost(std::string_view host) {
    constexpr std::size_t maxHostName = 253;
    std::string out;
    for (char c : host)
        if (c >= 0x20 && c < 0x7F && out.size() < maxHostName)
            out += c;
    return out;
}

ProbeResult down(const ProbeFacts& facts, ProbeReason reason, std::string detail = {}) {
    ProbeResult result =
        ProbeResult::Down(reason, facts.Milliseconds, facts.Status, std::move(detail));
    result.CertExpiry = facts.EarliestExpiry;
    return result;
}

} // namespace

std::string CertificateDate(std::int64_t seconds) {
    return dateOf(seconds);
}

bool StatusAccepted(std::uint32_t status, const SiteChecks& checks) {
    return std::any_of(checks.Statuses.begin(), checks.Statuses.end(),
                       [status](const StatusRange& range) {
                           return status >= range.First && status <= range.Last;
                       });
}

ProbeResult Judge(const ProbeFacts& facts, const SiteChecks& checks, int certDaysDefault,
                  std::int64_t now) {
    if (facts.Failure != ProbeReason::Up)
        return down(facts, facts.Failure,
                    facts.Failure == ProbeReason::CertWrongName ? peerHost(facts.Detail)
                                                                : facts.Detail);
    if (!StatusAccepted(facts.Status, checks))
        return down(facts, ProbeReason::HttpStatus, peerHost(facts.AuthAsked));
    if (checks.Stay && !facts.FinalUrl.empty()) {
        const std::string finalHost = hostOf(facts.FinalUrl);
        if (finalHost != hostOf(facts.Url))
            return down(facts, ProbeReason::OffHost, peerHost(finalHost));
    }
    if (checks.WantsBody() && !facts.BodyRead)
        return down(facts, ProbeReason::ConnectionFailed, "page could not be read");
    const std::string_view body =
        std::string_view(facts.Body).substr(0, std::min(facts.Body.size(), MaxCheckedBody));
    if (checks.Contains && body.find(*checks.Contains) == std::string_view::npos)
        return down(facts, ProbeReason::TextMissing, *checks.Contains);
    if (checks.Lacks && body.find(*checks.Lacks) != std::string_view::npos)
        return down(facts, ProbeReason::TextFound, *checks.Lacks);

    ProbeResult result = ProbeResult::Answered(facts.Milliseconds);
    result.Status = facts.Status;
    result.CertExpiry = facts.EarliestExpiry;
    std::vector<std::string> warnings;
    const int certDays = checks.CertDays.value_or(certDaysDefault);
    if (certDays > 0 && facts.EarliestExpiry != 0 &&
        facts.EarliestExpiry - now <= std::int64_t{certDays} * SecondsPerDay)
        warnings.push_back(expiryWarning(hostOf(facts.Url), facts.EarliestExpiry, now));
    if (facts.RevocationUnknown)
        warnings.push_back("the certificate's revocation could not be checked");
    if (checks.SlowMs && facts.Milliseconds > *checks.SlowMs)
        warnings.push_back("slow: answered in " + std::to_string(facts.Milliseconds) +
                           " ms (more than " + std::to_string(*checks.SlowMs) + " ms)");
    for (const std::string& warning : warnings)
        result.Warning += (result.Warning.empty() ? "" : "; ") + warning;
    return result;
}
