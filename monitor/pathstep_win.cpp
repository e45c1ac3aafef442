#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "monitor/pathstep_win.h"

#include "base/utf_win.h"
#include "monitor/winhttpprobe_win.h"
#include "monitor/winhttpsession_win.h"
#include "settings/proxysettings.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

bool NetworkAdapterUp() {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(
            AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    // Not known is not "no network": the step is left to the other facts.
    if (result != NO_ERROR)
        return true;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next)
        if (a->OperStatus == IfOperStatusUp && a->IfType != IF_TYPE_SOFTWARE_LOOPBACK)
            return true;
    return false;
}

NameLookup LookUpName(const std::string& host, std::uint32_t waitMs) {
    auto answer = std::make_shared<std::promise<NameLookup>>();
    std::future<NameLookup> found = answer->get_future();
    const std::wstring name = Widen(host);
    std::thread([answer, name] {
        ADDRINFOW hints{};
        hints.ai_socktype = SOCK_STREAM;
        ADDRINFOW* list = nullptr;
        const int error = ::GetAddrInfoW(name.c_str(), nullptr, &hints, &list);
        if (list)
            ::FreeAddrInfoW(list);
        answer->set_value(error == 0 ? NameLookup::Found
                          : error == WSAHOST_NOT_FOUND || error == WSANO_DATA
                              ? NameLookup::NotFound
                              : NameLookup::NoAnswer);
    }).detach();
    if (found.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready)
        return NameLookup::NoAnswer;
    return found.get();
}

std::string RouteWords(const SiteRecord& site, std::uint32_t waitMs, bool& through,
                       std::string& proxy) {
    const ProxySettings settings = site.Proxy ? *site.Proxy : ProxySettings{};
    const ProxyRoute route = PlanProxy(settings, site.Url, site.Checks.Direct);
    through = false;
    proxy.clear();
    switch (route.Kind) {
    case ProxyRouteKind::Direct:
        return "direct";
    case ProxyRouteKind::Named:
        through = true;
        proxy = route.Server;
        return "proxy " + proxy;
    case ProxyRouteKind::Pac: {
        const std::optional<std::wstring> named = PacProxyAndWait(route.Pac, site.Url, waitMs);
        if (!named)
            return "the PAC file " + route.Pac + " could not be read";
        if (named->empty())
            return "direct, as the PAC file " + route.Pac + " says";
        through = true;
        proxy = Narrow(*named);
        return "proxy " + proxy + ", as the PAC file " + route.Pac + " says";
    }
    case ProxyRouteKind::Platform:
        break;
    }
    // The machine's own WinHTTP proxy, where one is set (automatic discovery comes first).
    WINHTTP_PROXY_INFO info{};
    if (::WinHttpGetDefaultProxyConfiguration(&info)) {
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
            through = true;
            proxy = Narrow(info.lpszProxy);
        }
        if (info.lpszProxy)
            ::GlobalFree(info.lpszProxy);
        if (info.lpszProxyBypass)
            ::GlobalFree(info.lpszProxyBypass);
    }
    return through ? "the platform's own: proxy " + proxy
                   : "the platform's own: automatic discovery, else direct";
}

PathFacts GatherPathFacts(const SiteRecord& site, std::uint32_t waitMs) {
    PathFacts facts;
    facts.NetworkUp = NetworkAdapterUp();
    facts.Host = HostPortOf(site.Url).Host;
    RouteWords(site, waitMs, facts.ThroughProxy, facts.Proxy);
    if (!facts.ThroughProxy && !facts.Host.empty())
        facts.Lookup = LookUpName(facts.Host, waitMs);
    return facts;
}

std::vector<std::string> DiagnoseSite(const SiteRecord& site, std::uint32_t timeOutMs) {
    const std::uint32_t wait = std::max<std::uint32_t>(timeOutMs, 2000);
    PathFacts facts;
    facts.NetworkUp = NetworkAdapterUp();
    facts.Host = HostPortOf(site.Url).Host;
    const std::string route = RouteWords(site, wait, facts.ThroughProxy, facts.Proxy);
    if (!facts.ThroughProxy && !facts.Host.empty())
        facts.Lookup = LookUpName(facts.Host, wait);
    WinHttpProber prober;
    const WinHttpProbeResult result = ProbeAndWait(prober, site, timeOutMs);
    const bool https =
        site.Url.compare(0, 8, "https://") == 0 || site.Url.compare(0, 8, "HTTPS://") == 0;
    return DiagnoseLines(route, facts, https, result);
}
