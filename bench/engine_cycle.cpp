// The check engine over WinHTTP, driven as the form drives it (the probe's wake posts a message
// to a window of the driving thread, which drains the answers into the engine):
// 1. 1,000 loopback URLs, every tenth on a server that never answers: the cycle's wall time,
//    then the same list again at once; threads and private bytes idle, at the peak during the
//    cycles, and every 5 s for 60 s after them.
// 2. 200 healthy URLs: the engine's cycle against a bare asynchronous WinHTTP loop with as many
//    requests in flight, rounds alternating who goes first: median ratio, CPU per probe.
// 3. Endless header lines and a redirect loop: per probe, the requests the server saw and the
//    bytes it sent; private bytes 60 s later.
// 6. (only when asked) The alerts of 1,000 sites going down in one cycle: the rules' one message,
//    each kind's body and the CPU they take; then cycles of 200 healthy URLs with a webhook
//    channel beside them that never answers, against cycles without: median ratio.
// 4. (only when asked, best alone: a fresh heap) The private bytes many rounds of healthy URLs
//    leave behind through the bare loop, the engine and the prober alone.
//   engine_cycle.exe [runs=123] [Parallel of run 1=16] [cycles of run 1=2]
#include "bench_servers_win.h"
#include "bench_stats.h"

#include "base/platform_win.h"
#include "monitor/alertrules.h"
#include "monitor/checkengine.h"
#include "monitor/webhookbody.h"
#include "monitor/webhooksender_win.h"
#include "monitor/winhttpprobe_win.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT WM_PROBEANSWERS = WM_APP + 4;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

struct Usage {
    int Threads = 0;
    long long PrivateKiB = 0;
    long long WorkingKiB = 0;
};

// Committed private memory of the process, region by region. Wine 8 reports PrivateUsage (and
// PagefileUsage) as 0, so the private bytes are counted here the way they are defined.
long long privateKiB() {
    long long bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (auto* at = static_cast<char*>(nullptr);
         ::VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            bytes += static_cast<long long>(region.RegionSize);
    }
    return bytes / 1024;
}

Usage usage() {
    Usage u;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Thread32First(snapshot, &entry); more;
             more = ::Thread32Next(snapshot, &entry))
            u.Threads += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
        ::CloseHandle(snapshot);
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    u.PrivateKiB =
        memory.PrivateUsage ? static_cast<long long>(memory.PrivateUsage / 1024) : privateKiB();
    u.WorkingKiB = static_cast<long long>(memory.WorkingSetSize / 1024);
    return u;
}

// Open handles of the process, counted by asking each handle value (Wine 8 reports 0 through
// GetProcessHandleCount); about half a second under Wine, so only at the sample points.
int handleCount() {
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

void print(const char* what, const Usage& u) {
    std::printf("  %s: %d threads, private %lld KiB, working set %lld KiB\n", what, u.Threads,
                u.PrivateKiB, u.WorkingKiB);
    std::fflush(stdout);
}

// Samples the process every 50 ms on a thread of its own (started before the idle figures, so
// that they count it too) and keeps the highest values since the last Reset.
class PeakSampler {
public:
    PeakSampler() : thread_([this] { run(); }) {}
    ~PeakSampler() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Starts sampling afresh; Pause stops it (its walk of the address space costs CPU).
    void Reset() {
        std::lock_guard<std::mutex> hold(lock_);
        peak_ = usage();
        active_ = true;
    }
    void Pause() {
        std::lock_guard<std::mutex> hold(lock_);
        active_ = false;
    }
    Usage Peak() {
        std::lock_guard<std::mutex> hold(lock_);
        return peak_;
    }

private:
    void run() {
        std::unique_lock<std::mutex> hold(lock_);
        while (!wake_.wait_for(hold, std::chrono::milliseconds(50), [&] { return stopping_; })) {
            if (!active_)
                continue;
            hold.unlock();
            const Usage now = usage();
            hold.lock();
            peak_.Threads = std::max(peak_.Threads, now.Threads);
            peak_.PrivateKiB = std::max(peak_.PrivateKiB, now.PrivateKiB);
            peak_.WorkingKiB = std::max(peak_.WorkingKiB, now.WorkingKiB);
        }
    }
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool active_ = false;
    Usage peak_;
    std::thread thread_;
};

// The driving thread as the form has it: a window whose message WM_PROBEANSWERS drains the
// probe's answers into the engine; OnCycleDone ends the loop.
class Driver {
public:
    Driver() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"EngineCycleBench";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, windowClass.hInstance, nullptr);
        const HWND window = window_;
        probe_ = std::make_unique<WinHttpEngineProbe>(
            [window] { ::PostMessageW(window, WM_PROBEANSWERS, 0, 0); });
        engine_ = std::make_unique<CheckEngine>(*probe_);
        engine_->OnCycleDone = [this](CycleResults results) {
            results_ = std::move(results);
            done_ = true;
        };
    }
    ~Driver() {
        engine_.reset();
        probe_.reset();
        ::DestroyWindow(window_);
    }

    // One cycle, waited for at most boundSeconds; its wall time in seconds (negative when it
    // did not end within the bound).
    double Cycle(const std::string& benchmark, const std::vector<std::string>& urls,
                 const EngineLimits& limits, double boundSeconds = 600) {
        done_ = false;
        const auto start = Clock::now();
        if (!engine_->StartCycle(benchmark, urls, limits))
            return -1;
        while (!done_) {
            const double left = boundSeconds - secondsSince(start);
            if (left <= 0)
                return -1;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left * 1000) + 1,
                                        QS_ALLINPUT);
            MSG message;
            while (!done_ && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_PROBEANSWERS)
                    probe_->DrainInto(*engine_);
                else
                    ::DispatchMessageW(&message);
            }
        }
        return secondsSince(start);
    }
    // Drains what came after the last cycle (releases of requests it gave up on).
    void Idle(DWORD ms) {
        const auto start = Clock::now();
        for (double left = ms / 1000.0; left > 0; left = ms / 1000.0 - secondsSince(start)) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left * 1000) + 1,
                                        QS_ALLINPUT);
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                if (message.message == WM_PROBEANSWERS)
                    probe_->DrainInto(*engine_);
        }
    }
    const CycleResults& Results() const { return results_; }
    std::size_t Live() const { return probe_->Prober().Live(); }
    int EngineLive() const { return engine_->LiveRequests(); }

private:
    HWND window_ = nullptr;
    std::unique_ptr<WinHttpEngineProbe> probe_;
    std::unique_ptr<CheckEngine> engine_;
    bool done_ = false;
    CycleResults results_;
};

// Waits until the platform's threads of earlier work have gone (at most 20 s), so that the
// next figures start from rest.
void settle(Driver& driver, int threads) {
    const auto start = Clock::now();
    while (usage().Threads > threads && secondsSince(start) < 20)
        driver.Idle(500);
}

// Counts of each reason among the results whose URL contains `part`.
std::string reasons(const CycleResults& results, const std::string& part) {
    std::map<std::string, int> counts;
    for (std::size_t i = 0; i < results.Sites.size(); ++i) {
        if (results.Urls[i].find(part) == std::string::npos)
            continue;
        const ProbeResult& r = results.Sites[i];
        ++counts[r.Reason == ProbeReason::TimedOut ? "timed out" : ReasonText(r)];
    }
    std::string text;
    for (const auto& [reason, count] : counts)
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + reason;
    return text.empty() ? "none" : text;
}

// 16 (or any number of) requests in flight written directly on the asynchronous WinHTTP API:
// what the engine and the prober add to the platform is measured against this.
class BareLoop {
public:
    explicit BareLoop(int port) : done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        for (DWORD access : {DWORD{WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY},
                             DWORD{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY}}) {
            session_ = ::WinHttpOpen(L"bare", access, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
            if (session_)
                break;
        }
        ::WinHttpSetStatusCallback(
            session_, callback,
            WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0);
        connect_ = ::WinHttpConnect(session_, L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
    }
    ~BareLoop() {
        ::WinHttpCloseHandle(connect_);
        ::WinHttpCloseHandle(session_);
        ::CloseHandle(done_);
    }
    // Requests every path with at most inFlight at once; the number answered 200.
    int Run(const std::vector<std::wstring>& paths, int inFlight) {
        paths_ = &paths;
        next_ = 0;
        finished_ = 0;
        up_ = 0;
        ::ResetEvent(done_);
        for (int i = 0; i < inFlight; ++i)
            startNext();
        ::WaitForSingleObject(done_, 120000);
        return up_;
    }

private:
    struct Request {
        BareLoop* Loop = nullptr;
        HINTERNET Handle = nullptr;
        DWORD Status = 0;
        std::atomic<bool> Ended{false};
        char Buffer[16 * 1024];
    };

    void startNext() {
        const std::size_t i = next_++;
        if (i >= paths_->size())
            return;
        auto* request = new Request;
        request->Loop = this;
        request->Handle = ::WinHttpOpenRequest(connect_, L"GET", (*paths_)[i].c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               WINHTTP_FLAG_REFRESH);
        if (!request->Handle) {
            delete request;
            finishOne();
            return;
        }
        auto context = reinterpret_cast<DWORD_PTR>(request);
        if (!::WinHttpSendRequest(request->Handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, context))
            end(*request);
    }
    void end(Request& request) {
        if (request.Ended.exchange(true))
            return;
        up_ += request.Status == 200 ? 1 : 0;
        ::WinHttpCloseHandle(request.Handle); // HANDLE_CLOSING frees it
        finishOne();
    }
    void finishOne() {
        if (++finished_ == static_cast<int>(paths_->size()))
            ::SetEvent(done_);
        else
            startNext();
    }
    static void CALLBACK callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID,
                                  DWORD length) {
        auto* request = reinterpret_cast<Request*>(context);
        if (!request)
            return;
        if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
            delete request;
            return;
        }
        if (request->Ended)
            return;
        bool ok = true;
        switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            ok = ::WinHttpReceiveResponse(handle, nullptr);
            break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
            DWORD size = sizeof request->Status;
            ::WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                  WINHTTP_HEADER_NAME_BY_INDEX, &request->Status, &size,
                                  WINHTTP_NO_HEADER_INDEX);
            ok = ::WinHttpReadData(handle, request->Buffer, sizeof request->Buffer, nullptr);
            break;
        }
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            ok = length != 0 &&
                 ::WinHttpReadData(handle, request->Buffer, sizeof request->Buffer, nullptr);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            ok = false;
            break;
        default:
            break;
        }
        if (!ok)
            request->Loop->end(*request);
    }

    HINTERNET session_ = nullptr;
    HINTERNET connect_ = nullptr;
    HANDLE done_;
    const std::vector<std::wstring>* paths_ = nullptr;
    std::atomic<std::size_t> next_{0};
    std::atomic<int> finished_{0};
    std::atomic<int> up_{0};
};

// The time of one walk over the process's handle values asking each for its socket address, as
// the prober's Wine-only guard does to find the connection under a request it gives up on.
double handleWalkMs() {
    const auto start = Clock::now();
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        SOCKADDR_STORAGE name{};
        int length = sizeof name;
        ::getsockname(static_cast<SOCKET>(value), reinterpret_cast<sockaddr*>(&name), &length);
    }
    return secondsSince(start) * 1000;
}

void part1(Driver& driver, PeakSampler& sampler, int parallel, int cycles) {
    bench::AnswerServer answers;
    bench::SilentServer silent;
    std::vector<std::string> urls;
    for (int i = 0; i < 1000; ++i)
        urls.push_back(i % 10 == 9 ? silent.Url("/silent/" + std::to_string(i))
                                   : answers.Url("/ok/" + std::to_string(i)));
    EngineLimits limits;
    limits.Parallel = parallel;
    limits.Retries = 0;
    limits.TimeOut = 2000;
    std::printf("1. 1,000 URLs, 100 silent (every tenth), TimeOut %u ms, Parallel %d, Retries "
                "0, MaxLive %d\n",
                limits.TimeOut, limits.Parallel, limits.MaxLive);
    // The silent requests alone hold a place each for the whole TimeOut.
    std::printf("  floor set by the silent URLs: 100 x %u ms / %d = %.1f s\n", limits.TimeOut,
                parallel, 100.0 * limits.TimeOut / 1000 / parallel);
    const Usage idle = usage();
    print("idle", idle);
    const int idleHandles = handleCount();
    for (int run = 1; run <= cycles; ++run) {
        sampler.Reset();
        const double wall = driver.Cycle(answers.Url("/bench"), urls, limits);
        const Usage peak = sampler.Peak();
        sampler.Pause();
        const CycleResults& results = driver.Results();
        std::printf("  cycle %d: %.2f s (%.2f x TimeOut); benchmark %s\n", run, wall,
                    wall * 1000 / limits.TimeOut, ReasonText(results.Benchmark).c_str());
        std::printf("    healthy: %s\n    silent: %s\n", reasons(results, "/ok/").c_str(),
                    reasons(results, "/silent/").c_str());
        std::printf("    at its end: %zu requests live in the prober, %d in the engine; server "
                    "holds %d connections, accepted %d\n",
                    driver.Live(), driver.EngineLive(), silent.Held(), silent.Accepted());
        print("peak during it", peak);
    }
    const auto after = Clock::now();
    for (int s = 0; s <= 60; s += 5) {
        driver.Idle(static_cast<DWORD>(std::max(0.0, s - secondsSince(after)) * 1000));
        const Usage u = usage();
        std::printf("  %2d s after: %d threads (%+d), private %lld KiB (%+lld), working set "
                    "%lld KiB; %zu live, server holds %d\n",
                    s, u.Threads, u.Threads - idle.Threads, u.PrivateKiB,
                    u.PrivateKiB - idle.PrivateKiB, u.WorkingKiB, driver.Live(), silent.Held());
        std::fflush(stdout);
    }
    std::printf("  handles: %d idle, %d at 60 s\n", idleHandles, handleCount());
    std::vector<double> walks;
    for (int i = 0; i < 5; ++i)
        walks.push_back(handleWalkMs());
    std::printf("  a walk of the handle values as the Wine guard does: median %.0f ms (5 walks)\n",
                median(walks));
}

void part2(Driver& driver, int rounds) {
    bench::AnswerServer answers;
    std::vector<std::string> urls;
    std::vector<std::wstring> paths;
    for (int i = 0; i < 200; ++i) {
        urls.push_back(answers.Url("/ok/" + std::to_string(i)));
        paths.push_back(L"/ok/" + std::to_wstring(i));
    }
    const std::vector<std::wstring> benchmark{L"/bench"};
    BareLoop bare(answers.Port());
    EngineLimits limits;
    limits.Parallel = 16;
    limits.TimeOut = 5000;
    std::printf("2. 200 healthy URLs, 16 in flight, after the benchmark alone (201 requests "
                "each): engine against a bare WinHTTP loop, %d rounds after a warm-up\n",
                rounds);
    std::vector<double> ratios, engineWall, bareWall, engineCpu, bareCpu;
    for (int round = 0; round <= rounds; ++round) {
        double wall[2] = {}, cpu[2] = {};
        int up[2] = {};
        const bool engineFirst = round % 2 == 0;
        for (int k = 0; k < 2; ++k) {
            const bool engine = (k == 0) == engineFirst;
            const double cpu0 = cpuSeconds();
            const auto start = Clock::now();
            if (engine) {
                driver.Cycle(answers.Url("/bench"), urls, limits);
                up[0] = static_cast<int>(std::count_if(driver.Results().Sites.begin(),
                                                       driver.Results().Sites.end(),
                                                       [](const ProbeResult& r) { return r.Up; }));
            } else {
                bare.Run(benchmark, 1);
                up[1] = bare.Run(paths, 16);
            }
            wall[engine ? 0 : 1] = secondsSince(start) * 1000;
            cpu[engine ? 0 : 1] = (cpuSeconds() - cpu0) * 1000 / 201;
        }
        std::printf("  %s (%s first): engine %.1f ms (%d up), bare %.1f ms (%d up), ratio %.2f; "
                    "CPU per probe engine %.3f ms, bare %.3f ms\n",
                    round == 0 ? "warm-up" : ("round " + std::to_string(round)).c_str(),
                    engineFirst ? "engine" : "bare", wall[0], up[0], wall[1], up[1],
                    wall[0] / wall[1], cpu[0], cpu[1]);
        std::fflush(stdout);
        if (round == 0)
            continue;
        ratios.push_back(wall[0] / wall[1]);
        engineWall.push_back(wall[0]);
        bareWall.push_back(wall[1]);
        engineCpu.push_back(cpu[0]);
        bareCpu.push_back(cpu[1]);
    }
    std::printf("  median: ratio %.2f; engine %.1f ms, bare %.1f ms the round; CPU per probe "
                "engine %.3f ms, bare %.3f ms\n",
                median(ratios), median(engineWall), median(bareWall), median(engineCpu),
                median(bareCpu));
}

// Requests every site through the prober alone, at most inFlight at once, waiting on this
// thread; the sites that came up.
int proberRound(WinHttpProber& prober, const std::vector<SiteRecord>& sites, int inFlight) {
    std::mutex lock;
    std::condition_variable changed;
    int running = 0, finished = 0, up = 0;
    auto completion = [&](std::size_t, const WinHttpProbeResult& result) {
        std::lock_guard<std::mutex> hold(lock);
        --running;
        ++finished;
        up += result.Up ? 1 : 0;
        changed.notify_all();
    };
    for (std::size_t i = 0; i < sites.size(); ++i) {
        {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return running < inFlight; });
            ++running;
        }
        if (!prober.Start(i, sites[i], 5000, completion)) {
            std::lock_guard<std::mutex> hold(lock);
            --running;
            ++finished;
        }
    }
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return finished == static_cast<int>(sites.size()); });
    return up;
}

int proberRound(WinHttpProber& prober, const std::vector<std::string>& urls, int inFlight) {
    std::vector<SiteRecord> sites;
    for (const std::string& url : urls)
        sites.push_back(SiteRecord{url, {}});
    return proberRound(prober, sites, inFlight);
}

// What a text check costs: 200 healthy sites, each with contains=, against the same list
// without checks, through one prober, 16 in flight, rounds alternating who goes first; then
// the private bytes each kind of round leaves once the platform's threads have gone.
void part5(Driver& driver, int rounds, int restThreads) {
    settle(driver, restThreads);
    bench::AnswerServer answers;
    std::vector<SiteRecord> plain, checked;
    for (int i = 0; i < 200; ++i) {
        plain.push_back(SiteRecord{answers.Url("/ok/" + std::to_string(i)), {}});
        checked.push_back(plain.back());
        checked.back().Checks.Contains = "OK";
    }
    std::printf("5. 200 healthy sites with contains= against the same without checks, 16 in "
                "flight, %d rounds after a warm-up\n",
                rounds);
    WinHttpProber prober;
    std::vector<double> ratios, plainWall, checkedWall;
    for (int round = 0; round <= rounds; ++round) {
        double wall[2] = {};
        int up[2] = {};
        for (int k = 0; k < 2; ++k) {
            const bool check = (k == 0) == (round % 2 == 0);
            const auto start = Clock::now();
            up[check] = proberRound(prober, check ? checked : plain, 16);
            wall[check] = secondsSince(start) * 1000;
        }
        std::printf("  %s: checked %.1f ms (%d up), plain %.1f ms (%d up), ratio %.2f\n",
                    round == 0 ? "warm-up" : ("round " + std::to_string(round)).c_str(), wall[1],
                    up[1], wall[0], up[0], wall[1] / wall[0]);
        std::fflush(stdout);
        if (round == 0)
            continue;
        ratios.push_back(wall[1] / wall[0]);
        checkedWall.push_back(wall[1]);
        plainWall.push_back(wall[0]);
    }
    std::printf("  median: ratio %.2f; checked %.1f ms, plain %.1f ms the round\n", median(ratios),
                median(checkedWall), median(plainWall));
    const int threads = usage().Threads;
    for (const char* who : {"plain", "checked", "plain", "checked"}) {
        const long long before = privateKiB();
        for (int round = 0; round < rounds; ++round)
            proberRound(prober, who[0] == 'c' ? checked : plain, 16);
        const auto end = Clock::now();
        do
            driver.Idle(500);
        while (usage().Threads > threads && secondsSince(end) < 20);
        std::printf("  %-7s x%d: private %lld -> %lld KiB (%+lld)\n", who, rounds, before,
                    privateKiB(), privateKiB() - before);
        std::fflush(stdout);
    }
}

// Where the private bytes that stay after the cycles go: 200 healthy URLs, many rounds through
// the bare loop, the engine and the prober alone, twice each in turn, the private bytes before
// and after each batch once the platform's threads have gone (a high-water mark shows in the
// first batches only).
void part4(Driver& driver, int rounds, int restThreads) {
    settle(driver, restThreads);
    bench::AnswerServer answers;
    std::vector<std::string> urls;
    std::vector<std::wstring> paths;
    for (int i = 0; i < 200; ++i) {
        urls.push_back(answers.Url("/ok/" + std::to_string(i)));
        paths.push_back(L"/ok/" + std::to_wstring(i));
    }
    std::printf("4. private bytes over %d rounds of 200 healthy URLs, 16 in flight\n", rounds);
    // The prober keeps a std::recursive_mutex in every request; what one costs once it has been
    // locked and destroyed, with this toolchain's threads (first, while the heap has no free
    // room that would hide it).
    const long long before = privateKiB();
    for (int i = 0; i < 100000; ++i) {
        auto mutex = std::make_unique<std::recursive_mutex>();
        const std::lock_guard<std::recursive_mutex> hold(*mutex);
    }
    std::printf("  std::recursive_mutex made, locked and destroyed 100,000 times: private %+lld "
                "KiB\n",
                privateKiB() - before);
    BareLoop bare(answers.Port());
    WinHttpProber prober;
    EngineLimits limits;
    limits.TimeOut = 5000;
    const int threads = usage().Threads;
    for (const char* who : {"bare", "engine", "prober", "bare", "engine", "prober"}) {
        const long long before = privateKiB();
        const int handles = handleCount();
        for (int round = 0; round < rounds; ++round) {
            if (who[0] == 'e')
                driver.Cycle(answers.Url("/bench"), urls, limits);
            else if (who[0] == 'p')
                proberRound(prober, urls, 16);
            else
                bare.Run(paths, 16);
        }
        const auto end = Clock::now();
        do
            driver.Idle(500);
        while (usage().Threads > threads && secondsSince(end) < 20);
        const long long after = privateKiB();
        std::printf("  %-6s: private %lld -> %lld KiB, %+.0f KiB per 1,000 requests; handles %d "
                    "-> %d\n",
                    who, before, after, (after - before) * 1000.0 / (200.0 * rounds), handles,
                    handleCount());
        std::fflush(stdout);
    }
}

void part3(Driver& driver, int probes, int restThreads) {
    settle(driver, restThreads);
    bench::AnswerServer answers;
    bench::SilentServer endless(true);
    bench::AnswerServer loop(true);
    EngineLimits limits;
    limits.TimeOut = 2000;
    std::printf("3. endless header lines and a redirect loop, %d probes each through the engine, "
                "TimeOut %u ms\n",
                probes, limits.TimeOut);
    const Usage before = usage();
    print("before", before);
    // Each probe is a cycle of its own; the next starts once the platform has let go of the
    // last request (at most 10 s), so that every probe's figures are its own.
    auto each = [&](const char* what, const std::string& url, auto requests, auto bytes) {
        for (int i = 0; i < probes; ++i) {
            const long long r0 = requests(), b0 = bytes();
            const double wall = driver.Cycle(answers.Url("/bench"), {url}, limits);
            const std::string reason = ReasonText(driver.Results().Sites.at(0));
            const std::size_t live = driver.Live();
            const auto reported = Clock::now();
            while (driver.Live() > 0 && secondsSince(reported) < 10)
                driver.Idle(10);
            std::printf("  %s, probe %d: %s, reported after %.2f s with %zu live, none live "
                        "%.0f ms later; the server saw %lld requests and sent %lld bytes\n",
                        what, i + 1, reason.c_str(), wall, live, secondsSince(reported) * 1000,
                        requests() - r0, bytes() - b0);
            std::fflush(stdout);
        }
    };
    each(
        "endless headers", endless.Url("/endless"), [&] { return endless.Requests(); },
        [&] { return endless.BytesSent(); });
    each(
        "redirect loop", loop.Url("/loop"), [&] { return loop.Requests(); },
        [&] { return loop.BytesSent(); });
    print("right after", usage());
    const auto after = Clock::now();
    for (int s = 10; s <= 60; s += 10) {
        driver.Idle(static_cast<DWORD>(std::max(0.0, s - secondsSince(after)) * 1000));
        const Usage u = usage();
        std::printf("  %2d s after: private %lld KiB (%+lld), working set %lld KiB, %d threads; "
                    "%zu live; endless server sent %lld bytes in all\n",
                    s, u.PrivateKiB, u.PrivateKiB - before.PrivateKiB, u.WorkingKiB, u.Threads,
                    driver.Live(), endless.BytesSent());
        std::fflush(stdout);
    }
}

void part6(Driver& driver, int rounds, int restThreads) {
    settle(driver, restThreads);
    std::printf("6. alerts: 1,000 sites down in one cycle, and a channel that never answers\n");
    CycleResults down;
    down.Benchmark = ProbeResult::Answered(1);
    for (int i = 0; i < 1000; ++i) {
        down.Urls.push_back("https://site-" + std::to_string(i) + ".example/");
        down.Sites.push_back(ProbeResult::Down(ProbeReason::HttpStatus, 5, 503));
    }
    const std::int64_t now = 20000 * 86400LL + 9 * 3600;
    // The process's CPU clock ticks in steps of many milliseconds: each figure is the mean of
    // many runs.
    constexpr int repeats = 100;
    AlertMessage message;
    double cpu = cpuSeconds();
    for (int i = 0; i < repeats; ++i) {
        AlertRules rules;
        message = rules.Cycle(down, now, {});
    }
    std::printf("  rules: %zu changes in one message, %.2f ms CPU\n", message.Changes.size(),
                (cpuSeconds() - cpu) * 1000 / repeats);
    for (WebhookKind kind :
         {WebhookKind::Teams, WebhookKind::Slack, WebhookKind::Ntfy, WebhookKind::Json}) {
        const WebhookChannel channel{"bench", kind, "https://hooks.example/x", "key"};
        cpu = cpuSeconds();
        WebhookPost post;
        for (int i = 0; i < repeats; ++i)
            post = BuildWebhookPost(channel, message, "DESK", now);
        std::printf("  %-5s: %zu bytes, %.2f ms CPU\n", WebhookKindName(kind), post.Body.size(),
                    (cpuSeconds() - cpu) * 1000 / repeats);
    }
    std::fflush(stdout);

    bench::AnswerServer answers;
    bench::SilentServer silent;
    std::vector<std::string> urls;
    for (int i = 0; i < 200; ++i)
        urls.push_back(answers.Url("/ok/" + std::to_string(i)));
    const std::string silentHook =
        "https" + silent.Url("/hook").substr(4); // accepts, never says a word of TLS
    const WebhookChannel channel{"silent", WebhookKind::Json, silentHook, "key"};
    int failed = 0;
    WebhookSender sender([&](const std::string&) { ++failed; });
    EngineLimits limits;
    limits.TimeOut = 5000;
    std::vector<double> ratios, with, without;
    for (int round = 0; round <= rounds; ++round) {
        double wall[2] = {};
        for (int k = 0; k < 2; ++k) {
            const bool hook = (k == 0) == (round % 2 == 0);
            wall[hook] = driver.Cycle(answers.Url("/bench"), urls, limits) * 1000;
            // The form hands every cycle's message over as the cycle ends.
            if (hook)
                sender.Send({channel}, message);
        }
        if (round == 0)
            continue;
        ratios.push_back(wall[1] / wall[0]);
        with.push_back(wall[1]);
        without.push_back(wall[0]);
    }
    std::printf("  200 healthy URLs, %d rounds: with the silent channel %.1f ms, without %.1f ms "
                "the cycle (medians), ratio %.3f; %d deliveries given up meanwhile, %d sockets "
                "held by the silent server\n",
                rounds, median(with), median(without), median(ratios), failed, silent.Held());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const std::string parts = argc > 1 ? argv[1] : "123";
    const int parallel = argc > 2 ? std::max(1, std::atoi(argv[2])) : 16;
    const int cycles = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    bench::WinsockUser winsock;
    PeakSampler sampler;
    Driver driver;
    const int rest = usage().Threads;
    std::printf("Wine: %s\n", RunningOnWine() ? "yes" : "no");
    std::fflush(stdout);
    if (parts.find('1') != std::string::npos)
        part1(driver, sampler, parallel, cycles);
    if (parts.find('2') != std::string::npos)
        part2(driver, 20);
    if (parts.find('3') != std::string::npos)
        part3(driver, 5, rest);
    if (parts.find('4') != std::string::npos)
        part4(driver, 25, rest);
    if (parts.find('5') != std::string::npos)
        part5(driver, 20, rest);
    if (parts.find('6') != std::string::npos)
        part6(driver, 20, rest);
    return 0;
}
