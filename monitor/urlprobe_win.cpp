#include "urlprobe_win.h"

#include "base/handle_win.h"

#include <cstring>

HINTERNET InternetSession = nullptr;

namespace {

// How long WinINet may wait on one step of a request before a worker gives up on its own: twice
// the longest TimeOut the settings dialog offers. The caller
// stops waiting after TimeOut; without these limits a worker whose server accepts the
// connection and never answers would live for ever (the platform's default receive limit is
// none), and such workers would pile up cycle after cycle.
constexpr DWORD WorkerConnectTimeout = 60000;
constexpr DWORD WorkerSendTimeout = 60000;
constexpr DWORD WorkerReceiveTimeout = 60000;

void setSessionTimeout(DWORD option, DWORD milliseconds) {
    ::InternetSetOptionA(InternetSession, option, &milliseconds, sizeof milliseconds);
}

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
    if (!InternetSession)
        return;
    setSessionTimeout(INTERNET_OPTION_CONNECT_TIMEOUT, WorkerConnectTimeout);
    setSessionTimeout(INTERNET_OPTION_SEND_TIMEOUT, WorkerSendTimeout);
    setSessionTimeout(INTERNET_OPTION_RECEIVE_TIMEOUT, WorkerReceiveTimeout);
}

void CloseInternetSession() {
    if (InternetSession)
        ::InternetCloseHandle(InternetSession);
    InternetSession = nullptr;
}

DWORD WINAPI ProbeThreadProc(LPVOID urlCopy) {
    char* url = static_cast<char*>(urlCopy);
    DWORD status = 0xFFFFFFFF;
    DWORD length = sizeof status;
    DWORD result = 0;
    {
        ScopedInternetHandle request(
            ::InternetOpenUrlA(InternetSession, url, nullptr, 0, INTERNET_FLAG_RELOAD, 0));
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
