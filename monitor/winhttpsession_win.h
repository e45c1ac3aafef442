// The one way the program opens WinHTTP sessions, for the checks and the webhooks alike, so
// that both go out through the same proxy.
//
// A route is carried by a session of its own, opened with that proxy: the platform offers a
// proxy per request too (WINHTTP_OPTION_PROXY), but not every WinHTTP acts on it (Wine 8 sends
// such a request direct), while a session's proxy is honoured everywhere.
#pragma once

#include "settings/proxysettings.h"

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// A session with automatic proxy discovery where the platform offers it, the configured proxy
// elsewhere; flags as WinHttpOpen takes them (WINHTTP_FLAG_ASYNC). Null when none could be
// opened (GetLastError tells why); accessType, when given, gets the access type it was opened
// with.
HINTERNET OpenWinHttpSession(const wchar_t* agent, DWORD flags, DWORD* accessType = nullptr);

// One way out, as a session carries it: the platform's own (Platform), Direct, or through the
// proxy Server ("host:port") except for the hosts of Bypass (as the platform writes the list).
// A Pac route is made one of these by the file's answer.
struct SessionRoute {
    ProxyRouteKind Kind = ProxyRouteKind::Platform;
    std::string Server;
    std::string Bypass;
};

// The session route of a planned route; for Pac, proxy is what the file named ("host:port" or
// empty for direct).
SessionRoute SessionRouteOf(const ProxyRoute& route, const ProxySettings& settings,
                            const std::wstring& proxy = {});

// One open session and, where the caller keeps them, its connections. Closed when the last
// holder lets go, or at once by WinHttpSessions::Close.
class WinHttpSession {
public:
    WinHttpSession(HINTERNET handle, DWORD accessType) : handle_(handle), accessType_(accessType) {}
    ~WinHttpSession() { Close(); }
    WinHttpSession(const WinHttpSession&) = delete;
    WinHttpSession& operator=(const WinHttpSession&) = delete;

    HINTERNET Handle() const { return handle_; }
    DWORD AccessType() const { return accessType_; }
    // A connection to host:port kept for the session's life, so that its requests reuse it;
    // null when the platform refused (GetLastError tells why).
    HINTERNET Connection(const std::wstring& host, INTERNET_PORT port);
    void Close();

private:
    std::mutex lock_;
    HINTERNET handle_;
    DWORD accessType_;
    bool closed_ = false;
    std::map<std::wstring, HINTERNET> connections_;
};

// The sessions of the routes a sender needs, opened on first use and kept: at most Most of
// them, the one unused longest closed when another is needed (one still in use by a request
// stays open until its holders let go). Safe to use from any thread.
class WinHttpSessions {
public:
    static constexpr std::size_t Most = 16;
    // prepare is given each new session before it is used (the prober sets its status
    // callback there); false: it is closed and For answers null.
    WinHttpSessions(std::wstring agent, DWORD flags, std::function<bool(HINTERNET)> prepare = {});
    ~WinHttpSessions() { Close(); }
    WinHttpSessions(const WinHttpSessions&) = delete;
    WinHttpSessions& operator=(const WinHttpSessions&) = delete;

    // The route's session; null when it could not be opened (GetLastError tells why) or the
    // sessions are closed.
    std::shared_ptr<WinHttpSession> For(const SessionRoute& route);
    // Closes every session and its connections now, whoever holds them; For answers null
    // from then on.
    void Close();
    std::size_t Open() const;

private:
    struct Entry {
        std::string key;
        std::shared_ptr<WinHttpSession> session;
    };
    std::wstring agent_;
    DWORD flags_;
    std::function<bool(HINTERNET)> prepare_;
    mutable std::mutex lock_;
    std::list<Entry> entries_; // the one used last first
    bool closed_ = false;
};

// The PAC file's answer for url, waited for on the calling thread (see ResolvePacProxy):
// "host:port", "" for direct, or nullopt when the file could not be read or run.
std::optional<std::wstring> PacProxyAndWait(const std::string& pac, const std::string& url,
                                            std::uint32_t timeOutMs);

// The session a synchronous sender's request to url goes out through under the settings: the
// route planned, the PAC file asked where the mode says so. Null with the words in failure
// when there is none.
std::shared_ptr<WinHttpSession> SessionForUrl(WinHttpSessions& sessions,
                                              const ProxySettings& settings, const std::string& url,
                                              std::uint32_t timeOutMs, std::string& failure);
