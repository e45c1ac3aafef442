// The way out to the sites: which proxy a probe goes through, as the [Proxy] settings and a
// site's own checks decide it. The service runs as LocalSystem, so a user's browser settings do
// not reach it; these settings say what the machine's own would not.
//
// Portable: the rules are data, so that the decision table is tested natively; applying a plan
// to a request is the platform's (monitor/proxyroute_win.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class ProxyMode {
    Automatic, // the platform's automatic discovery, then the machine's WinHTTP proxy
    None,      // every site direct
    Pac,       // the proxy a PAC file names for each address
    Fixed,     // one proxy, host:port
};

struct ProxySettings {
    ProxyMode Mode = ProxyMode::Automatic;
    std::string Pac;    // the PAC file's address (Pac)
    std::string Server; // host:port (Fixed)
    // Hosts that go direct in every mode: "host", "host:port", "*.domain", "10.*", "<local>"
    // (a name without a dot), separated by ";" (blanks and "," also separate).
    std::string Bypass;
    // Credentials for a proxy that asks for them; an empty User: the service account's own.
    std::string User;
    std::string Pass;
    bool operator==(const ProxySettings&) const = default;
};

// "automatic", "none", "pac", "fixed" in any case, blanks around ignored; an empty word is
// automatic, as files written before [Proxy] existed.
std::optional<ProxyMode> ReadProxyMode(std::string_view word);
const char* ProxyModeWord(ProxyMode mode);

// The settings' words for what is wrong with a [Proxy] section; empty when nothing is.
std::string ProxyProblem(const std::string& mode, const std::string& pac, const std::string& server,
                         const std::string& bypass);

// Whether host (as the address names it, without brackets for IPv6) and port go direct under
// the bypass list. Names compare without case and without a closing dot.
bool ProxyBypassed(std::string_view bypass, std::string_view host, unsigned port);

// The bypass list as the platform takes it: the entries separated by ";" alone.
std::string PlatformBypassList(std::string_view bypass);

enum class ProxyRouteKind {
    Platform, // what the session was opened with: discovery, then the machine's proxy
    Direct,
    Named, // Server
    Pac,   // ask the PAC file at Pac for this address
};

struct ProxyRoute {
    ProxyRouteKind Kind = ProxyRouteKind::Platform;
    std::string Server; // Named: host:port
    std::string Pac;    // Pac: the file's address
    bool operator==(const ProxyRoute&) const = default;
};

// The route of one probe of url (scheme://host[:port]/...): direct for a site whose checks say
// proxy=none, for a bypassed host and in mode none; otherwise the mode's.
ProxyRoute PlanProxy(const ProxySettings& settings, std::string_view url, bool siteDirect);

// The host and port of an address: "https://[::1]:8443/x" -> "::1", 8443; the scheme's port
// where none is written (80, or 443 for https). Empty host when there is none.
struct HostPort {
    std::string Host;
    unsigned Port = 0;
};
HostPort HostPortOf(std::string_view url);
