#include "monitor/pathstep.h"

namespace {

// The reasons that say the connection itself could not be made or held.
bool noConnection(ProbeReason reason) {
    switch (reason) {
    case ProbeReason::NameNotFound:
    case ProbeReason::Refused:
    case ProbeReason::TimedOut:
    case ProbeReason::ConnectionFailed:
    case ProbeReason::ConnectionReset:
        return true;
    default:
        return false;
    }
}

} // namespace

std::string PathStepWords(const PathFacts& facts, const ProbeResult& result) {
    if (result.Up)
        return {};
    if (!facts.NetworkUp)
        return "this computer has no network";
    const std::string proxy = facts.Proxy.empty() ? "the proxy" : "the proxy " + facts.Proxy;
    if (facts.ThroughProxy && result.Reason == ProbeReason::HttpStatus && result.Status == 407)
        return proxy + " refuses: it asks who is calling";
    if (facts.ThroughProxy && noConnection(result.Reason))
        return proxy + " does not answer or refuses";
    if (facts.Lookup == NameLookup::NoAnswer)
        return "the name server does not answer";
    if (facts.Lookup == NameLookup::NotFound)
        return "the name server does not know " + facts.Host;
    if (result.Reason == ProbeReason::TextMissing)
        return "the benchmark page answers, but not with its own page (a sign-in page?)";
    return {};
}
