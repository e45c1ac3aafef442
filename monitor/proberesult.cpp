#include "monitor/proberesult.h"

namespace {

std::string reasonWords(const ProbeResult& r) {
    switch (r.Reason) {
    case ProbeReason::Up:
        // Down with no reason given: say so rather than claim it answered.
        return "no answer";
    case ProbeReason::NameNotFound:
        return "name not found";
    case ProbeReason::Refused:
        return "connection refused";
    case ProbeReason::TimedOut:
        return "timed out after " + std::to_string(r.Milliseconds) + " ms";
    case ProbeReason::Tls:
        return "TLS failure";
    case ProbeReason::HttpStatus:
        return "HTTP status " + std::to_string(r.Status) +
               (r.Detail.empty() ? "" : ": " + r.Detail);
    case ProbeReason::NotHttp:
        return "not HTTP";
    case ProbeReason::TooManyRedirects:
        return "too many redirects";
    case ProbeReason::StillHanging:
        return "an earlier request still hangs";
    case ProbeReason::NoFreeRequest:
        return "not checked: too many requests still hanging";
    case ProbeReason::BadAddress:
        return "not a valid address";
    case ProbeReason::ConnectionReset:
        return "connection reset";
    case ProbeReason::CertExpired:
        return r.Detail.empty() ? "certificate expired" : "certificate expired on " + r.Detail;
    case ProbeReason::CertNotYetValid:
        return "certificate not yet valid";
    case ProbeReason::CertUnknownAuthority:
        return "certificate from an unknown authority";
    case ProbeReason::CertWrongName:
        return r.Detail.empty() ? "certificate is for another name"
                                : "certificate is for " + r.Detail;
    case ProbeReason::CertRevoked:
        return "certificate revoked";
    case ProbeReason::TextMissing:
        return "text \"" + r.Detail + "\" not found";
    case ProbeReason::TextFound:
        return "text \"" + r.Detail + "\" found";
    case ProbeReason::OffHost:
        return "redirected to " + r.Detail;
    case ProbeReason::ConnectionFailed:
        // An answer whose page a text check needed but could not get says so.
        if (!r.Detail.empty())
            return r.Detail;
        break;
    }
    return "connection failed";
}

} // namespace

std::string ReasonText(const ProbeResult& r) {
    if (r.Up)
        return "up";
    return r.Step.empty() ? reasonWords(r) : r.Step + ": " + reasonWords(r);
}
