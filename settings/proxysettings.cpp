#include "settings/proxysettings.h"

#include "base/text.h"

#include <vector>

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string withoutClosingDot(std::string host) {
    if (host.size() > 1 && host.back() == '.')
        host.pop_back();
    return host;
}

// "*" stands for any run of characters, everything else for itself (without case).
bool globMatches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && lower(pattern[p]) == lower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string_view> bypassEntries(std::string_view bypass) {
    std::vector<std::string_view> entries;
    std::size_t at = 0;
    while (at <= bypass.size()) {
        const std::size_t end = std::min(bypass.find_first_of(";, \t", at), bypass.size());
        if (end > at)
            entries.push_back(bypass.substr(at, end - at));
        at = end + 1;
    }
    return entries;
}

std::optional<unsigned> portNumber(std::string_view text) {
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535)
        return std::nullopt;
    return port;
}

// An entry's host pattern and its port (0: any), "[::1]:80" and "host:80" alike.
std::pair<std::string_view, unsigned> entryParts(std::string_view entry) {
    if (!entry.empty() && entry.front() == '[') {
        const std::size_t close = entry.find(']');
        if (close != std::string_view::npos) {
            const std::string_view host = entry.substr(1, close - 1);
            if (close + 1 < entry.size() && entry[close + 1] == ':')
                return {host, portNumber(entry.substr(close + 2)).value_or(0)};
            return {host, 0};
        }
    }
    const std::size_t colon = entry.find(':');
    // More than one colon: an IPv6 address written without brackets, no port.
    if (colon == std::string_view::npos || entry.find(':', colon + 1) != std::string_view::npos)
        return {entry, 0};
    return {entry.substr(0, colon), portNumber(entry.substr(colon + 1)).value_or(0)};
}

bool isHttpUrl(std::string_view url) {
    const std::string head = LowerCase(url.substr(0, 8));
    const std::size_t scheme = head.rfind("http://", 0) == 0 ? 7 : head == "https://" ? 8 : 0;
    return scheme != 0 && url.size() > scheme && url[scheme] != '/';
}

} // namespace

std::optional<ProxyMode> ReadProxyMode(std::string_view word) {
    const std::string w = LowerCase(TrimBlanks(std::string(word)));
    if (w.empty() || w == "automatic")
        return ProxyMode::Automatic;
    if (w == "none")
        return ProxyMode::None;
    if (w == "pac")
        return ProxyMode::Pac;
    if (w == "fixed")
        return ProxyMode::Fixed;
    return std::nullopt;
}

const char* ProxyModeWord(ProxyMode mode) {
    switch (mode) {
    case ProxyMode::None:
        return "none";
    case ProxyMode::Pac:
        return "pac";
    case ProxyMode::Fixed:
        return "fixed";
    case ProxyMode::Automatic:
        break;
    }
    return "automatic";
}

HostPort HostPortOf(std::string_view url) {
    HostPort out;
    const std::size_t scheme = url.find("://");
    const std::string name =
        scheme == std::string_view::npos ? "" : LowerCase(url.substr(0, scheme));
    out.Port = name == "https" ? 443 : 80;
    if (scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    const std::size_t at = url.rfind('@');
    if (at != std::string_view::npos)
        url.remove_prefix(at + 1);
    std::string_view host = url;
    std::string_view port;
    if (!url.empty() && url.front() == '[') {
        const std::size_t close = url.find(']');
        host = url.substr(1, close == std::string_view::npos ? url.size() - 1 : close - 1);
        if (close != std::string_view::npos && close + 1 < url.size() && url[close + 1] == ':')
            port = url.substr(close + 2);
    } else if (const std::size_t colon = url.find(':'); colon != std::string_view::npos) {
        host = url.substr(0, colon);
        port = url.substr(colon + 1);
    }
    if (const std::optional<unsigned> p = portNumber(port))
        out.Port = *p;
    out.Host = withoutClosingDot(LowerCase(host));
    return out;
}

bool ProxyBypassed(std::string_view bypass, std::string_view host, unsigned port) {
    const std::string name = withoutClosingDot(LowerCase(host));
    for (std::string_view entry : bypassEntries(bypass)) {
        if (LowerCase(entry) == "<local>") {
            // As the platform reads it: a name without a dot (an intranet server's short name).
            if (!name.empty() && name.find('.') == std::string::npos &&
                name.find(':') == std::string::npos)
                return true;
            continue;
        }
        const auto [pattern, entryPort] = entryParts(entry);
        if (entryPort != 0 && entryPort != port)
            continue;
        if (globMatches(withoutClosingDot(std::string(pattern)), name))
            return true;
    }
    return false;
}

std::string PlatformBypassList(std::string_view bypass) {
    std::string list;
    for (std::string_view entry : bypassEntries(bypass))
        list += (list.empty() ? "" : ";") + std::string(entry);
    return list;
}

ProxyRoute PlanProxy(const ProxySettings& settings, std::string_view url, bool siteDirect) {
    ProxyRoute route;
    if (siteDirect || settings.Mode == ProxyMode::None) {
        route.Kind = ProxyRouteKind::Direct;
        return route;
    }
    const HostPort target = HostPortOf(url);
    if (ProxyBypassed(settings.Bypass, target.Host, target.Port)) {
        route.Kind = ProxyRouteKind::Direct;
        return route;
    }
    if (settings.Mode == ProxyMode::Fixed) {
        route.Kind = ProxyRouteKind::Named;
        route.Server = TrimBlanks(settings.Server);
    } else if (settings.Mode == ProxyMode::Pac) {
        route.Kind = ProxyRouteKind::Pac;
        route.Pac = TrimBlanks(settings.Pac);
    }
    return route;
}

std::string ProxyProblem(const std::string& mode, const std::string& pac, const std::string& server,
                         const std::string& bypass) {
    const std::optional<ProxyMode> read = ReadProxyMode(mode);
    if (!read)
        return "The proxy mode \"" + mode + "\" is not known: write automatic, none, pac or fixed.";
    if (*read == ProxyMode::Pac && !isHttpUrl(TrimBlanks(pac)))
        return "The proxy mode pac needs the PAC file's address, beginning with http:// or "
               "https://.";
    const std::string trimmedServer = TrimBlanks(server);
    const std::string_view fixed = trimmedServer;
    if (*read == ProxyMode::Fixed) {
        const auto [host, port] = entryParts(fixed);
        const bool hasPort = fixed.find(':') != std::string_view::npos && port != 0;
        if (host.empty() || !hasPort || host.find_first_of("*/@; ") != std::string_view::npos)
            return "The proxy server must be written host:port, as in proxy.example.com:8080.";
    }
    for (std::string_view entry : bypassEntries(bypass))
        if (entry.find_first_of("/@") != std::string_view::npos)
            return "The proxy bypass list holds \"" + std::string(entry) +
                   "\": write host names, *.domain patterns or <local>, separated by \";\".";
    return {};
}
