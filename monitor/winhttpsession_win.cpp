#include "monitor/winhttpsession_win.h"

#include "base/utf_win.h"
#include "monitor/proxyroute_win.h"

#include <future>
#include <initializer_list>
#include <utility>

HINTERNET OpenWinHttpSession(const wchar_t* agent, DWORD flags, DWORD* accessType) {
    for (DWORD access :
         {DWORD{WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY}, DWORD{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY}}) {
        HINTERNET session =
            ::WinHttpOpen(agent, access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags);
        if (session) {
            if (accessType)
                *accessType = access;
            return session;
        }
    }
    return nullptr;
}

SessionRoute SessionRouteOf(const ProxyRoute& route, const ProxySettings& settings,
                            const std::wstring& proxy) {
    SessionRoute out;
    out.Kind = route.Kind;
    if (route.Kind == ProxyRouteKind::Named) {
        out.Server = route.Server;
    } else if (route.Kind == ProxyRouteKind::Pac) {
        out.Kind = proxy.empty() ? ProxyRouteKind::Direct : ProxyRouteKind::Named;
        out.Server = Narrow(proxy);
    }
    // The session is told the bypass list too, so that a redirect to a host on it goes direct.
    if (out.Kind == ProxyRouteKind::Named)
        out.Bypass = PlatformBypassList(settings.Bypass);
    return out;
}

HINTERNET WinHttpSession::Connection(const std::wstring& host, INTERNET_PORT port) {
    const std::wstring key = host + L":" + std::to_wstring(port);
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto found = connections_.find(key);
    if (found != connections_.end())
        return found->second;
    HINTERNET opened = ::WinHttpConnect(handle_, host.c_str(), port, 0);
    if (opened)
        connections_.emplace(key, opened);
    return opened;
}

void WinHttpSession::Close() {
    std::map<std::wstring, HINTERNET> connections;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (std::exchange(closed_, true))
            return;
        connections.swap(connections_);
    }
    for (auto& entry : connections)
        ::WinHttpCloseHandle(entry.second);
    if (handle_)
        ::WinHttpCloseHandle(handle_);
}

WinHttpSessions::WinHttpSessions(std::wstring agent, DWORD flags,
                                 std::function<bool(HINTERNET)> prepare)
    : agent_(std::move(agent)), flags_(flags), prepare_(std::move(prepare)) {}

std::shared_ptr<WinHttpSession> WinHttpSessions::For(const SessionRoute& route) {
    const std::string key = route.Kind == ProxyRouteKind::Direct ? "direct"
                            : route.Kind == ProxyRouteKind::Named
                                ? route.Server + " " + route.Bypass
                                : "platform";
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    for (auto at = entries_.begin(); at != entries_.end(); ++at)
        if (at->key == key) {
            entries_.splice(entries_.begin(), entries_, at);
            return entries_.front().session;
        }
    DWORD access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    HINTERNET handle = nullptr;
    if (route.Kind == ProxyRouteKind::Named) {
        access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        const std::wstring server = Widen(route.Server), bypass = Widen(route.Bypass);
        handle = ::WinHttpOpen(agent_.c_str(), access, server.c_str(),
                               bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), flags_);
    } else if (route.Kind == ProxyRouteKind::Direct) {
        handle = ::WinHttpOpen(agent_.c_str(), access, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, flags_);
    } else {
        handle = OpenWinHttpSession(agent_.c_str(), flags_, &access);
    }
    if (!handle)
        return nullptr;
    if (prepare_ && !prepare_(handle)) {
        const DWORD error = ::GetLastError();
        ::WinHttpCloseHandle(handle);
        ::SetLastError(error);
        return nullptr;
    }
    entries_.push_front({key, std::make_shared<WinHttpSession>(handle, access)});
    std::shared_ptr<WinHttpSession> session = entries_.front().session;
    // The one unused longest goes; one a request still holds is not closed under it.
    for (auto at = entries_.end(); entries_.size() > Most && at != entries_.begin();) {
        --at;
        if (at->session.use_count() == 1)
            at = entries_.erase(at);
    }
    return session;
}

void WinHttpSessions::Close() {
    std::list<Entry> entries;
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
        entries.swap(entries_);
    }
    for (Entry& entry : entries)
        entry.session->Close();
}

std::size_t WinHttpSessions::Open() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}

std::optional<std::wstring> PacProxyAndWait(const std::string& pac, const std::string& url,
                                            std::uint32_t timeOutMs) {
    auto answer = std::make_shared<std::promise<std::optional<std::wstring>>>();
    std::future<std::optional<std::wstring>> proxy = answer->get_future();
    ResolvePacProxy(pac, url, timeOutMs,
                    [answer](std::optional<std::wstring> found) { answer->set_value(found); });
    return proxy.get();
}

std::shared_ptr<WinHttpSession> SessionForUrl(WinHttpSessions& sessions,
                                              const ProxySettings& settings, const std::string& url,
                                              std::uint32_t timeOutMs, std::string& failure) {
    const ProxyRoute route = PlanProxy(settings, url, false);
    std::wstring proxy;
    if (route.Kind == ProxyRouteKind::Pac) {
        const std::optional<std::wstring> named = PacProxyAndWait(route.Pac, url, timeOutMs);
        if (!named) {
            failure = "the PAC file could not be read";
            return nullptr;
        }
        proxy = *named;
    }
    std::shared_ptr<WinHttpSession> session = sessions.For(SessionRouteOf(route, settings, proxy));
    if (!session)
        failure = "no WinHTTP session (error " + std::to_string(::GetLastError()) + ")";
    return session;
}
