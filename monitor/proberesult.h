// What one probe of an address found: up or down, why it is down, and how long it took. Kept per
// site so that the status, the companion's menu and a history can say more than "Failed".
#pragma once

#include "settings/sitechecks.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class ProbeReason : int {
    Up = 0,
    NameNotFound,
    Refused,
    TimedOut, // Milliseconds holds the time-out that ran out
    Tls,
    HttpStatus, // a final answer other than 200; Status holds it, Detail who asks to sign in
    NotHttp,
    TooManyRedirects,
    // A request for the address from an earlier check, or an earlier try of this one, has not
    // ended yet: no new one was sent.
    StillHanging,
    // Every request the program allows at once was still live, so none could be sent.
    NoFreeRequest,
    // The address cannot be put into a request at all.
    BadAddress,
    // The connection failed in a way none of the above describes (closed early, ...).
    ConnectionFailed,
    // The peer reset the connection.
    ConnectionReset,
    // What the certificate of an https site is wrong in; Detail holds the date or the name
    // where the words need one.
    CertExpired, // Detail: the date it expired, "2026-12-01"
    CertNotYetValid,
    CertUnknownAuthority,
    CertWrongName, // Detail: the name the certificate is for
    CertRevoked,
    // The checks of the site (settings/sitechecks.h) found the answer wrong.
    TextMissing, // Detail: the text that contains= asks for
    TextFound,   // Detail: the text that lacks= forbids
    OffHost,     // Detail: the host the redirects ended on
};

struct ProbeResult {
    bool Up = false;
    ProbeReason Reason = ProbeReason::ConnectionFailed;
    std::uint32_t Status = 0;
    // From the start of the request to its answer, or to the moment it was given up on.
    std::uint32_t Milliseconds = 0;
    // The words a reason names: a date, a host, a text (see ProbeReason).
    std::string Detail;
    // Of a failed benchmark: the step where the way out broke ("the name server does not
    // answer"), which its reason's words begin with (monitor/pathstep.h); empty otherwise.
    std::string Step;
    // A site that is up may still be named: what is wrong in words ("certificate of
    // shop.example.com expires in 5 days, on 2026-12-14"), several joined by "; "; empty when
    // nothing is. Only an up result carries one.
    std::string Warning;
    // The earliest expiry of the certificate chain, seconds since 1970 UTC; 0 when none was
    // seen (plain http, or no answer).
    std::int64_t CertExpiry = 0;

    static ProbeResult Answered(std::uint32_t milliseconds) {
        ProbeResult r;
        r.Up = true;
        r.Reason = ProbeReason::Up;
        r.Status = 200;
        r.Milliseconds = milliseconds;
        return r;
    }
    static ProbeResult Down(ProbeReason reason, std::uint32_t milliseconds = 0,
                            std::uint32_t status = 0, std::string detail = {}) {
        ProbeResult r;
        r.Reason = reason;
        r.Status = status;
        r.Milliseconds = milliseconds;
        r.Detail = std::move(detail);
        return r;
    }
};

// The reason in plain words, for the status and the menu of failed sites: "up",
// "timed out after 2000 ms", "HTTP status 404", ...
std::string ReasonText(const ProbeResult& result);

// One cycle of probes as the engine hands it over.
struct CycleResults {
    ProbeResult Benchmark;
    // The list as the cycle read it at its start, and one final result per entry, in the
    // order of the list; both empty when the benchmark was down.
    std::vector<std::string> Urls;
    std::vector<ProbeResult> Sites;
    // The sites with the checks they were judged by, in the same order.
    std::vector<SiteRecord> Records;
};
