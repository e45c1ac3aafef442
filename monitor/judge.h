// What a probe found and what it means. The prober only gathers facts about an answer; the judge
// turns them and the site's checks into up, down or up with a warning, with the reason in words.
// Portable, so that every rule is tested natively as one table.
#pragma once

#include "monitor/proberesult.h"
#include "settings/sitechecks.h"

#include <cstdint>
#include <string>

struct ProbeFacts {
    // Up when an answer came (Status holds it); otherwise why none came, with Detail and
    // Status as ProbeReason describes. The judge passes such a failure on as it stands.
    ProbeReason Failure = ProbeReason::Up;
    std::string Detail;
    std::uint32_t Status = 0;
    // The address as the request went out, and the one the last answer came from after the
    // redirects taken; both in the form that goes over the wire (an international host in its
    // ASCII form), so that their hosts compare alike. The first names the site in warnings.
    std::string Url;
    std::string FinalUrl;
    int Redirects = 0;
    // The first bytes of the page, decoded to UTF-8 from its charset, when the checks asked for
    // it (SiteChecks::WantsBody); BodyRead false when it could not be read.
    std::string Body;
    bool BodyRead = false;
    // The certificate of the chain that expires first (https only): when, seconds since 1970
    // UTC, and the name it is for; 0 when none was seen.
    std::int64_t EarliestExpiry = 0;
    std::string ExpiringName;
    // Of a 401 or 407 answer: who asks and by which schemes, "the site asks for Negotiate,
    // NTLM"; empty when the answer named none.
    std::string AuthAsked;
    // The certificate's revocation could not be checked (its server did not answer).
    bool RevocationUnknown = false;
    // From the start of the request to the end of the answer.
    std::uint32_t Milliseconds = 0;
};

// The most of a page a text check searches.
constexpr std::size_t MaxCheckedBody = 1024 * 1024;

// Whether status is among the codes the checks accept.
bool StatusAccepted(std::uint32_t status, const SiteChecks& checks);

// A moment, seconds since 1970 UTC, as the date the words give: "2026-12-14".
std::string CertificateDate(std::int64_t seconds);

// The verdict on facts under checks. certDaysDefault is [General] CertDays, for a site whose
// checks name none; now is the current time in seconds since 1970 UTC.
//
// The first rule that fails decides: the status, then stay= (the hosts compared without case
// and without port, so that http to https on the same host stays), then a page that could not
// be read, contains=, lacks=. An up result names a certificate of the chain expiring within
// the days (by calendar days in UTC: "expires in 5 days, on ...", "expires today, on ...",
// "expired on ...") and an answer slower than slow=.
ProbeResult Judge(const ProbeFacts& facts, const SiteChecks& checks, int certDaysDefault,
                  std::int64_t now);
