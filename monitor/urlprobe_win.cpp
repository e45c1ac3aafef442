#include <winsock2.h>

#include "urlprobe_win.h"

#include "base/handle_win.h"
#include "base/platform_win.h"
#include "base/thread_win.h"
#include "base/utf_win.h"
#include "monitor/urlwire.h"
#include "monitor/urlwire_win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

ScopedInternetHandle InternetSession;
std::uint32_t ProbeWorkerStepTimeout = 60000;

namespace {

// Redirects followed by hand before the probe counts the URL as down: a URL that redirects to
// itself would otherwise be fetched without end.
constexpr int MaxRedirects = 12;
// What one request of a probe may read from the network. The answer the probe needs fits in a
// few kilobytes; a server that sends headers without end is cut off here. WinINet's work on the
// headers it has read grows faster than their size, so the budget stays small.
constexpr int MaxRequestBytes = 64 * 1024;
// How soon a worker that was given up on notices it while it waits for data.
constexpr DWORD AbandonPollMs = 100;

// Shared by ProbeUrl and its worker; whichever lets go last frees it.
class ProbeRecord {
public:
    explicit ProbeRecord(std::string address) : url(std::move(address)) {}

    const std::string url;
    std::atomic<bool> abandoned{false};
    int received = 0;    // worker thread only
    bool cutOff = false; // worker thread only

    // The worker names the request a blocking call works on; false when the caller has given
    // up already (the worker then stops).
    bool Track(HINTERNET request) {
        std::lock_guard<std::mutex> hold(lock_);
        tracked_ = request;
        return !abandoned;
    }
    // After the call: false when the caller closed the request under it, which the worker then
    // must not close again.
    bool Untrack() {
        std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(tracked_, nullptr) != nullptr;
    }
    // Closing a request cancels a blocking WinINet call on it in another thread, where the
    // platform does so (Windows documents it; Wine does not, and the guarded reads stop it).
    void GiveUp() {
        std::lock_guard<std::mutex> hold(lock_);
        abandoned = true;
        if (HINTERNET request = std::exchange(tracked_, nullptr))
            ::InternetCloseHandle(request);
    }

private:
    std::mutex lock_;
    HINTERNET tracked_ = nullptr;
};

// The probe the calling thread works for; null on every other thread.
thread_local ProbeRecord* currentProbe = nullptr;

using RecvFunction = int(WSAAPI*)(SOCKET, char*, int, int);
RecvFunction platformRecv = nullptr;

// Stands in for recv inside WinINet. Closing WinINet handles from another thread does not end
// a call in progress there, so a probe's own reads are where it can be stopped: a blocking wait
// is cut into short slices (the socket's own receive limit still applies in full), and a probe
// that was given up on, or has read its share, gets an aborted connection instead of data.
int WSAAPI guardedRecv(SOCKET s, char* buffer, int length, int flags) {
    ProbeRecord* probe = currentProbe;
    if (!probe)
        return platformRecv(s, buffer, length, flags);
    DWORD limit = 0;
    int size = sizeof limit;
    if (::getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&limit), &size) != 0)
        return platformRecv(s, buffer, length, flags);
    const DWORD start = ::GetTickCount();
    int result = SOCKET_ERROR;
    int error = 0;
    for (;;) {
        if (probe->abandoned || probe->received >= MaxRequestBytes) {
            probe->cutOff = !probe->abandoned;
            error = WSAECONNABORTED;
            break;
        }
        const DWORD elapsed = ::GetTickCount() - start;
        DWORD slice = AbandonPollMs;
        if (limit != 0)
            slice = std::min(slice, limit > elapsed ? limit - elapsed : 1);
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&slice),
                     sizeof slice);
        result =
            platformRecv(s, buffer, std::min(length, MaxRequestBytes - probe->received), flags);
        error = ::WSAGetLastError();
        if (result != SOCKET_ERROR || error != WSAETIMEDOUT ||
            (limit != 0 && ::GetTickCount() - start >= limit))
            break;
    }
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    if (result > 0 && !(flags & MSG_PEEK))
        probe->received += result;
    ::WSASetLastError(error);
    return result;
}

// On Wine only, puts guardedRecv in WinINet's import of recv: Wine's WinINet ends a blocking
// read neither at a closed handle nor at a time-out. On Windows the platform's own limits and
// the closing of the request hold, and nothing of a system library is touched. Without the
// guard (another WinINet that does not import recv by name) probes still work, and a worker
// ends only on its own limits.
void guardWinInetReads() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!RunningOnWine())
            return;
        auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleA("wininet.dll"));
        HMODULE winsock = ::GetModuleHandleA("ws2_32.dll");
        if (!base || !winsock)
            return;
        platformRecv = reinterpret_cast<RecvFunction>(
            reinterpret_cast<void*>(::GetProcAddress(winsock, "recv")));
        if (!platformRecv)
            return;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (imports.VirtualAddress == 0)
            return;
        for (auto* entry =
                 reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             entry->Name; ++entry) {
            for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
                 slot->u1.Function; ++slot) {
                if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(platformRecv))
                    continue;
                DWORD old = 0;
                if (::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE,
                                     &old)) {
                    slot->u1.Function = reinterpret_cast<ULONG_PTR>(&guardedRecv);
                    ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
                }
            }
        }
    });
}

} // namespace

void OpenInternetSession() {
    InternetSession.Reset(
        ::InternetOpenA("check_url", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

void CloseInternetSession() {
    InternetSession.Reset();
}

namespace {

// Sends the request with the probe's record watching it, so that a caller who gives up can
// cancel the call. False when it was not sent, or was cancelled (the request is then closed
// already and released here).
bool sendRequest(ProbeRecord& probe, ScopedInternetHandle& request) {
    if (!probe.Track(request.Get())) {
        probe.Untrack();
        return false;
    }
    const bool sent = ::HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0) != FALSE;
    if (!probe.Untrack()) {
        request.Release();
        return false;
    }
    return sent;
}

// Opens and sends the request for a URL. HTTP and HTTPS go through an explicit connection so
// that the worker's time limits apply to it: a request opened in one step by InternetOpenUrlA
// takes no limit of its own, and on some platforms ignores the session's. Their redirects are
// left to the caller, which counts them. Other schemes are opened as the platform does it.
ScopedInternetHandle openRequest(ProbeRecord& probe, const std::string& url,
                                 ScopedInternetHandle& connection) {
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.dwUrlPathLength = 1; // pointers into url: the path and the extra information
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlA(url.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return ScopedInternetHandle(::InternetOpenUrlA(InternetSession.Get(), url.c_str(), nullptr,
                                                       0, INTERNET_FLAG_RELOAD, 0));

    connection.Reset(::InternetConnectA(InternetSession.Get(), host, parts.nPort, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return ScopedInternetHandle();
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        DWORD limit = ProbeWorkerStepTimeout;
        ::InternetSetOptionA(connection.Get(), option, &limit, sizeof limit);
    }
    std::string object;
    if (parts.lpszUrlPath)
        object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo)
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty())
        object = "/";
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    ScopedInternetHandle request(::HttpOpenRequestA(connection.Get(), "GET", object.c_str(),
                                                    nullptr, nullptr, nullptr, flags, 0));
    if (request && !sendRequest(probe, request))
        request.Reset();
    return request;
}

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The URL a redirect answer points to, resolved against the URL that gave it, and made ready for
// the wire like the user's own: a server may name a path with raw non-ASCII bytes.
bool redirectTarget(HINTERNET request, std::string& url) {
    wchar_t location[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD length = sizeof location - sizeof location[0];
    if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &length, nullptr))
        return false;
    wchar_t next[2 * INTERNET_MAX_URL_LENGTH + 1] = {};
    length = static_cast<DWORD>(std::size(next) - 1);
    if (!::InternetCombineUrlW(Widen(url).c_str(), location, next, &length, ICU_NO_ENCODE))
        return false;
    const std::optional<std::string> wire = WireUrl(Narrow(std::wstring_view(next, length)));
    if (!wire)
        return false;
    url = *wire;
    return true;
}

// An answer that starts with no HTTP status line is taken by WinINet for an old-style reply and
// reported as "HTTP/1.0 200 OK" with no header lines at all (measured on Wine); a real HTTP/1.x
// server always sends some. So: a version of 1 or more, and at least one header line.
bool isHttpAnswer(HINTERNET request) {
    char version[32] = {};
    DWORD length = sizeof version - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_VERSION, version, &length, nullptr) ||
        std::strncmp(version, "HTTP/", 5) != 0 || version[5] < '1' || version[5] > '9')
        return false;
    char raw[512] = {};
    length = sizeof raw - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw, &length, nullptr))
        return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER; // longer than a bare status line
    const char* afterStatus = std::strstr(raw, "\r\n");
    return afterStatus && afterStatus[2] != '\0' && std::strncmp(afterStatus + 2, "\r\n", 2) != 0;
}

// The probe's fetch, redirects followed by hand: 1 for a final HTTP answer with status 200.
DWORD fetch(ProbeRecord& probe) {
    // Only ASCII goes to WinINet from here on, so its 8-bit functions lose nothing.
    const std::optional<std::string> wire = WireUrl(probe.url);
    if (!wire)
        return 0;
    currentProbe = &probe;
    std::string url = *wire;
    DWORD result = 0;
    for (int redirects = 0; redirects <= MaxRedirects && !probe.abandoned; ++redirects) {
        probe.received = 0;
        ScopedInternetHandle connection;
        ScopedInternetHandle request = openRequest(probe, url, connection);
        DWORD status = 0xFFFFFFFF;
        DWORD length = sizeof status;
        if (!request ||
            !::HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                              &status, &length, nullptr))
            break;
        if (isRedirect(status)) {
            if (!redirectTarget(request.Get(), url))
                break;
            continue;
        }
        result = status == 200 && isHttpAnswer(request.Get()) ? 1 : 0;
        break;
    }
    // A cut-off read can end the headers early and look like a good answer.
    if (probe.cutOff || probe.abandoned)
        result = 0;
    currentProbe = nullptr;
    return result;
}

} // namespace

DWORD WINAPI ProbeThreadProc(LPVOID urlCopy) {
    guardWinInetReads();
    const std::unique_ptr<char[]> url(static_cast<char*>(urlCopy));
    ProbeRecord probe(url.get());
    return fetch(probe);
}

bool ProbeUrl(const std::string& url, std::uint32_t timeOut) {
    guardWinInetReads();
    // The worker holds its own share of the record: it may outlive this call.
    auto probe = std::make_shared<ProbeRecord>(url);
    const ScopedKernelHandle worker = StartThread([probe] { return fetch(*probe); });
    if (!worker)
        return false;
    if (::WaitForSingleObject(worker.Get(), timeOut) != WAIT_OBJECT_0) {
        probe->GiveUp();
        return false;
    }
    DWORD exitCode = 0xFFFFFFFF;
    return ::GetExitCodeThread(worker.Get(), &exitCode) && exitCode == 1;
}
