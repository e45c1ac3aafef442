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

std::vector<std::string> DiagnoseLines(const std::string& route, const PathFacts& facts, bool https,
                                       const ProbeResult& result) {
    std::vector<std::string> lines;
    lines.push_back("route: " + route);
    lines.push_back(facts.NetworkUp ? "network: an adapter is up"
                                    : "network: no adapter is up besides the loopback");
    switch (facts.Lookup) {
    case NameLookup::NotAsked:
        lines.push_back("name lookup: left to the proxy");
        break;
    case NameLookup::Found:
        lines.push_back("name lookup: " + facts.Host + " found");
        break;
    case NameLookup::NotFound:
        lines.push_back("name lookup: " + facts.Host + " not found");
        break;
    case NameLookup::NoAnswer:
        lines.push_back("name lookup: the name server does not answer");
        break;
    }
    const ProbeReason reason = result.Up ? ProbeReason::Up : result.Reason;
    const bool certificate =
        reason == ProbeReason::Tls || reason == ProbeReason::CertExpired ||
        reason == ProbeReason::CertNotYetValid || reason == ProbeReason::CertUnknownAuthority ||
        reason == ProbeReason::CertWrongName || reason == ProbeReason::CertRevoked;
    const bool connected = result.Up || result.Status != 0 || certificate ||
                           reason == ProbeReason::NotHttp || reason == ProbeReason::TextMissing ||
                           reason == ProbeReason::TextFound || reason == ProbeReason::OffHost ||
                           reason == ProbeReason::TooManyRedirects;
    const std::string target = facts.ThroughProxy ? "the proxy" : facts.Host;
    lines.push_back(connected ? "connect: " + target + " reached"
                              : "connect: failed (" + ReasonText(result) + ")");
    if (https && connected)
        lines.push_back(certificate ? "TLS: " + ReasonText(result) : "TLS: ok");
    if (connected && !certificate)
        lines.push_back(result.Status != 0 ? "HTTP answer: status " + std::to_string(result.Status)
                                           : "HTTP answer: " + ReasonText(result));
    lines.push_back(result.Up ? "verdict: up" + (result.Warning.empty()
                                                     ? std::string()
                                                     : " with a warning: " + result.Warning)
                              : "verdict: down: " + ReasonText(result));
    return lines;
}
