// Cost of one check cycle over N loopback URLs that answer 200, against the same fetches made
// by a bare WinINet loop on one thread (same session kind, same URLs, the benchmark included).
//   cycle_overhead.exe [rounds=7] [urls=200]
// Rounds alternate which contender goes first; one unrecorded warm-up round precedes them.
#include "bench_servers_win.h"
#include "bench_stats.h"

#include "monitor/checkcycle.h"
#include "monitor/urlprobe_win.h"
#include "settings/cusersettings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The cycle's host as the program wires it for probing; everything else does nothing.
class ProbingHost : public CheckCycleHost {
public:
    explicit ProbingHost(std::uint32_t timeOut) : timeOut_(timeOut) {}
    bool ProbeUrl(const std::string& url) override { return ::ProbeUrl(url, timeOut_); }
    void SetTrayIcon(int) override {}
    void SetTip(const std::string&) override {}
    void ClearFailedSites() override {}
    void AddFailedSite(const std::string&) override {}
    void WriteLog(const std::string&) override {}
    void SendStatusMail(const std::string&) override {}
    void SendBackUpMail(const std::string&) override {}
    void RefreshSettingsDialog() override {}

private:
    std::uint32_t timeOut_;
};

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Returns the time; `up` counts the fetches that answered 200.
double bareLoop(HINTERNET session, const std::vector<std::string>& urls, int& up) {
    up = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& url : urls) {
        HINTERNET request =
            ::InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
        if (!request)
            continue;
        DWORD status = 0;
        DWORD length = sizeof status;
        if (::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                             &length, nullptr) &&
            status == 200)
            ++up;
        ::InternetCloseHandle(request);
    }
    return seconds(start);
}

double oneCycle(CUserSettings& settings, int& up) {
    ProbingHost host(static_cast<std::uint32_t>(settings.TimeOut));
    const auto start = std::chrono::steady_clock::now();
    const std::string result = CheckSites(settings, host);
    const double t = seconds(start);
    up = 0;
    for (int i = 0; i < settings.UrlCount(); ++i) {
        up += settings.UrlStatus(i) == UrlStatusUp ? 1 : 0;
        settings.SetUrlStatus(i, 0);
    }
    if (!result.empty())
        ++up; // the benchmark was reached
    return t;
}

// Where the difference goes: the worker's own fetch run on this thread (no thread), and a
// thread started and waited for around nothing.
double workerInline(const std::vector<std::string>& urls, int& up) {
    up = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& url : urls) {
        char* copy = new char[url.size() + 1];
        std::memcpy(copy, url.c_str(), url.size() + 1);
        up += ProbeThreadProc(copy) == 1 ? 1 : 0;
    }
    return seconds(start);
}

DWORD WINAPI nothing(LPVOID) {
    return 1;
}

double threadsOnly(size_t count) {
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < count; ++i) {
        HANDLE thread = ::CreateThread(nullptr, 0, nothing, nullptr, 0, nullptr);
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
    return seconds(start);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;

    bench::AnswerServer server;
    CUserSettings settings;
    settings.Benchmark = server.HostPath("/benchmark");
    settings.TimeOut = 10000; // generous: a probe that hits it would show as a failed URL
    settings.Filter = 0;
    settings.Active = false;
    std::vector<std::string> urls{"http://" + settings.Benchmark};
    for (int i = 0; i < count; ++i) {
        settings.AddUrl(server.Url("/page" + std::to_string(i)));
        urls.push_back(settings.Url(i));
    }

    OpenInternetSession();
    HINTERNET bare =
        ::InternetOpenA("check_url", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!InternetSession || !bare) {
        std::printf("cannot open a WinINet session\n");
        return 1;
    }

    const int expected = count + 1;
    int up = 0;
    bareLoop(bare, urls, up); // warm-up, not recorded
    oneCycle(settings, up);

    std::vector<double> loops;
    std::vector<double> cycles;
    std::vector<double> ratios;
    bool allUp = true;
    std::printf("%d URLs + the benchmark = %d fetches per contender and round\n", count, expected);
    std::printf("round  bare loop (s)  cycle (s)  ratio\n");
    for (int r = 0; r < rounds; ++r) {
        int upLoop = 0;
        int upCycle = 0;
        double loop = 0;
        double cycle = 0;
        if (r % 2 == 0) {
            loop = bareLoop(bare, urls, upLoop);
            cycle = oneCycle(settings, upCycle);
        } else {
            cycle = oneCycle(settings, upCycle);
            loop = bareLoop(bare, urls, upLoop);
        }
        allUp = allUp && upLoop == expected && upCycle == expected;
        loops.push_back(loop);
        cycles.push_back(cycle);
        ratios.push_back(cycle / loop);
        std::printf("%5d  %13.3f  %9.3f  %5.3f%s\n", r + 1, loop, cycle, cycle / loop,
                    upLoop == expected && upCycle == expected ? "" : "  (some fetches failed)");
    }
    const double ratio = median(ratios);
    std::printf("median: bare loop %.3f s, cycle %.3f s, per-fetch %.2f / %.2f ms\n", median(loops),
                median(cycles), 1000 * median(loops) / expected, 1000 * median(cycles) / expected);
    std::printf("median ratio cycle / bare loop: %.3f (goal <= 1.15): %s\n", ratio,
                ratio <= 1.15 ? "met" : "NOT met");
    std::printf("server answered %d requests; all fetches answered 200: %s\n", server.Requests(),
                allUp ? "yes" : "NO");
    std::vector<double> inlines;
    std::vector<double> threads;
    for (int r = 0; r < rounds; ++r) {
        int upInline = 0;
        inlines.push_back(workerInline(urls, upInline));
        threads.push_back(threadsOnly(urls.size()));
    }
    std::printf("breakdown (medians, per fetch): bare loop %.2f ms; the worker's fetch on this "
                "thread %.2f ms; a thread started and waited for %.2f ms\n",
                1000 * median(loops) / expected, 1000 * median(inlines) / expected,
                1000 * median(threads) / expected);
    ::InternetCloseHandle(bare);
    CloseInternetSession();
    return allUp ? 0 : 1;
}
