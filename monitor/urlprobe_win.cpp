#include "urlprobe_win.h"

#include "base/handle_win.h"

#include <cstring>

HINTERNET InternetSession = nullptr;
std::uint32_t ProbeWorkerStepTimeout = 60000;

namespace {

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::InternetCloseHandle(h); }
};
using ScopedInternetHandle = ScopedHandle<InternetHandleTraits>;

} // namespace

void OpenInternetSession() {
    InternetSession =
        ::InternetOpenA("check_url", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

void CloseInternetSession() {
    if (InternetSession)
        ::InternetCloseHandle(InternetSession);
    InternetSession = nullptr;
}

namespace {

// Opens the request for a URL. HTTP and HTTPS go through an explicit connection so that the
// worker's time limits apply to it: a request opened in one step by InternetOpenUrlA takes no
// limit of its own, and on some platforms ignores the session's. Other schemes are opened
// as the platform does it.
HINTERNET openRequest(const char* url, ScopedInternetHandle& connection) {
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.dwUrlPathLength = 1; // pointers into url: the path and the extra information
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlA(url, 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return ::InternetOpenUrlA(InternetSession, url, nullptr, 0, INTERNET_FLAG_RELOAD, 0);

    connection.Reset(::InternetConnectA(InternetSession, host, parts.nPort, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return nullptr;
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
    DWORD flags = INTERNET_FLAG_RELOAD;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    HINTERNET request = ::HttpOpenRequestA(connection.Get(), "GET", object.c_str(), nullptr,
                                           nullptr, nullptr, flags, 0);
    if (request && !::HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
        ::InternetCloseHandle(request);
        return nullptr;
    }
    return request;
}

} // namespace

DWORD WINAPI ProbeThreadProc(LPVOID urlCopy) {
    char* url = static_cast<char*>(urlCopy);
    DWORD status = 0xFFFFFFFF;
    DWORD length = sizeof status;
    DWORD result = 0;
    {
        ScopedInternetHandle connection;
        ScopedInternetHandle request(openRequest(url, connection));
        if (request &&
            ::HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                             &status, &length, nullptr))
            result = status == 200 ? 1 : 0;
    }
    delete[] url;
    return result;
}

bool ProbeUrl(const std::string& url, std::uint32_t timeOut) {
    // The worker owns its copy: it may outlive this call when the wait times out.
    char* copy = new char[url.size() + 1];
    std::memcpy(copy, url.c_str(), url.size() + 1);

    ScopedKernelHandle worker(::CreateThread(nullptr, 0, ProbeThreadProc, copy, 0, nullptr));
    if (!worker) {
        delete[] copy;
        return false;
    }
    if (::WaitForSingleObject(worker.Get(), timeOut) != WAIT_OBJECT_0)
        return false; // the worker finishes on its own; its late answer changes nothing
    DWORD exitCode = 0xFFFFFFFF;
    return ::GetExitCodeThread(worker.Get(), &exitCode) && exitCode == 1;
}
