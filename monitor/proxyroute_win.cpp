#include "monitor/proxyroute_win.h"

#include "base/product.h"
#include "base/utf_win.h"

#include <chrono>
#include <initializer_list>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// A PAC file's answer holds for a while: its lookup downloads and runs a script, too much to
// do again for every probe of a host.
constexpr auto PacCacheTime = std::chrono::minutes(5);

struct PacAnswer {
    std::optional<std::wstring> proxy;
    Clock::time_point at;
};

std::mutex pacLock;
std::map<std::string, PacAnswer> pacCache; // "pac host" -> answer

std::optional<std::wstring> askPacFile(const std::string& pac, const std::string& url,
                                       std::uint32_t timeOutMs) {
    HINTERNET session = ::WinHttpOpen(Widen(ProductName).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return std::nullopt;
    const int limit = static_cast<int>(timeOutMs);
    ::WinHttpSetTimeouts(session, limit, limit, limit, limit);
    const std::wstring pacUrl = Widen(pac);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = pacUrl.c_str();
    WINHTTP_PROXY_INFO info{};
    std::optional<std::wstring> proxy;
    if (::WinHttpGetProxyForUrl(session, Widen(url).c_str(), &options, &info)) {
        proxy = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy
                    ? std::wstring(info.lpszProxy)
                    : std::wstring();
        // "PROXY a:1; PROXY b:2" comes as "a:1;b:2": the first is taken.
        proxy = proxy->substr(0, proxy->find_first_of(L"; "));
    }
    if (info.lpszProxy)
        ::GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass)
        ::GlobalFree(info.lpszProxyBypass);
    ::WinHttpCloseHandle(session);
    return proxy;
}

} // namespace

void ResolvePacProxy(const std::string& pac, const std::string& url, std::uint32_t timeOutMs,
                     std::function<void(std::optional<std::wstring>)> done) {
    const std::string key = pac + " " + HostPortOf(url).Host;
    {
        std::lock_guard<std::mutex> hold(pacLock);
        const auto found = pacCache.find(key);
        if (found != pacCache.end() && Clock::now() - found->second.at < PacCacheTime) {
            const std::optional<std::wstring> proxy = found->second.proxy;
            done(proxy);
            return;
        }
    }
    std::thread([pac, url, timeOutMs, key, done = std::move(done)] {
        const std::optional<std::wstring> proxy = askPacFile(pac, url, timeOutMs);
        {
            std::lock_guard<std::mutex> hold(pacLock);
            // A file that could not be read is asked again next time.
            if (proxy)
                pacCache[key] = {proxy, Clock::now()};
        }
        done(proxy);
    }).detach();
}

DWORD PickAuthScheme(DWORD offered, bool named, bool basicOnly) {
    if (basicOnly)
        return offered & WINHTTP_AUTH_SCHEME_BASIC;
    for (DWORD scheme : {DWORD{WINHTTP_AUTH_SCHEME_NEGOTIATE}, DWORD{WINHTTP_AUTH_SCHEME_NTLM}})
        if (offered & scheme)
            return scheme;
    return named ? offered & WINHTTP_AUTH_SCHEME_BASIC : 0;
}

bool SetProxyCredentials(HINTERNET request, const ProxySettings& proxy, std::string& asked) {
    DWORD offered = 0, first = 0, target = 0;
    if (!::WinHttpQueryAuthSchemes(request, &offered, &first, &target))
        return false;
    asked = "the proxy asks for " + OfferedSchemes(offered);
    const DWORD scheme = PickAuthScheme(offered, !proxy.User.empty());
    if (!scheme)
        return false;
    if (proxy.User.empty()) {
        DWORD low = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        ::WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &low, sizeof low);
    }
    const std::wstring user = Widen(proxy.User), pass = Widen(proxy.Pass);
    return ::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme,
                                   proxy.User.empty() ? nullptr : user.c_str(),
                                   proxy.User.empty() ? nullptr : pass.c_str(), nullptr) != FALSE;
}

std::string OfferedSchemes(DWORD schemes) {
    const std::pair<DWORD, const char*> named[] = {
        {WINHTTP_AUTH_SCHEME_NEGOTIATE, "Negotiate"}, {WINHTTP_AUTH_SCHEME_NTLM, "NTLM"},
        {WINHTTP_AUTH_SCHEME_BASIC, "Basic"},         {WINHTTP_AUTH_SCHEME_DIGEST, "Digest"},
        {WINHTTP_AUTH_SCHEME_PASSPORT, "Passport"},
    };
    std::string words;
    for (const auto& [scheme, name] : named)
        if (schemes & scheme)
            words += (words.empty() ? "" : ", ") + std::string(name);
    return words;
}
