// How long does a probe worker live when its server accepts the connection and never answers?
// Reports the session's WinINet time-outs as the platform sets them, then times one fetch
// against a silent loopback server on a default session (with a watchdog) and on the
// program's own session.
#include "fixtures/http_peer_win.h"
#include "monitor/urlprobe_win.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

DWORD option(HINTERNET session, DWORD which) {
    DWORD value = 0;
    DWORD length = sizeof value;
    ::InternetQueryOptionA(session, which, &value, &length);
    return value;
}

struct FetchArgs {
    HINTERNET session;
    std::string url;
};

DWORD WINAPI fetch(LPVOID p) {
    auto* args = static_cast<FetchArgs*>(p);
    HINTERNET request =
        ::InternetOpenUrlA(args->session, args->url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
    if (request)
        ::InternetCloseHandle(request);
    return 0;
}

double timeFetch(HINTERNET session, const std::string& url, DWORD watchdog) {
    FetchArgs args{session, url};
    const auto start = std::chrono::steady_clock::now();
    HANDLE thread = ::CreateThread(nullptr, 0, fetch, &args, 0, nullptr);
    const DWORD waited = ::WaitForSingleObject(thread, watchdog);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::CloseHandle(thread);
    return waited == WAIT_OBJECT_0 ? seconds : -seconds;
}

} // namespace

int main(int argc, char** argv) {
    const DWORD watchdog = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) * 1000 : 150000;
    HttpPeer peer;
    const std::string url = peer.Url("/silent");

    OpenInternetSession();
    char* copy = new char[url.size() + 1];
    std::memcpy(copy, url.c_str(), url.size() + 1);
    const auto start = std::chrono::steady_clock::now();
    HANDLE worker = ::CreateThread(nullptr, 0, ProbeThreadProc, copy, 0, nullptr);
    const DWORD waited = ::WaitForSingleObject(worker, watchdog);
    const double b =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::CloseHandle(worker);
    std::printf("probe worker: %s after %.1f s\n",
                waited == WAIT_OBJECT_0 ? "ended" : "still alive (watchdog)", b);
    HINTERNET plain =
        ::InternetOpenA("check_url", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    std::printf("default session: connect %lu ms, send %lu ms, receive %lu ms\n",
                option(plain, INTERNET_OPTION_CONNECT_TIMEOUT),
                option(plain, INTERNET_OPTION_SEND_TIMEOUT),
                option(plain, INTERNET_OPTION_RECEIVE_TIMEOUT));
    const double d = timeFetch(plain, url, watchdog);
    if (d < 0)
        std::printf("default session: worker still alive after %.1f s (watchdog)\n", -d);
    else
        std::printf("default session: worker ended after %.1f s\n", d);

    std::fflush(stdout);
    ::ExitProcess(0); // the default session's worker may still hang; do not wait for it
}
