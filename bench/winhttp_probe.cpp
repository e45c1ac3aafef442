// The WinHTTP prober: 200 healthy loopback URLs with 16 probes in flight (wall time and the
// process's CPU per probe, three rounds), then 16 probes of a server that never answers and the
// prober's live requests sampled every 5 s for 60 s; then one probe of endless headers and
// what it leaves live over 60 s.
//   winhttp_probe.exe [TimeOut ms for the silent probes=2000]
#include "bench_servers_win.h"
#include "bench_stats.h"

#include "base/platform_win.h"
#include "monitor/winhttpprobe_win.h"

#include <psapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

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

// Probes every URL with at most `inFlight` at once; the number that were up.
int probeAll(WinHttpProber& prober, const std::vector<std::string>& urls, std::uint32_t timeOut,
             int inFlight) {
    std::mutex lock;
    std::condition_variable done;
    int running = 0;
    int finished = 0;
    std::atomic<int> up{0};
    auto completion = [&](std::size_t, const WinHttpProbeResult& result) {
        up += result.Up ? 1 : 0;
        std::lock_guard<std::mutex> hold(lock);
        --running;
        ++finished;
        done.notify_all();
    };
    for (std::size_t i = 0; i < urls.size(); ++i) {
        {
            std::unique_lock<std::mutex> hold(lock);
            done.wait(hold, [&] { return running < inFlight; });
            ++running;
        }
        if (!prober.Start(i, urls[i], timeOut, completion)) {
            std::lock_guard<std::mutex> hold(lock);
            --running;
            ++finished;
        }
    }
    std::unique_lock<std::mutex> hold(lock);
    done.wait(hold, [&] { return finished == static_cast<int>(urls.size()); });
    return up;
}

} // namespace

int main(int argc, char** argv) {
    const auto silentTimeOut = static_cast<std::uint32_t>(argc > 1 ? std::atoi(argv[1]) : 2000);
    WinHttpProber prober;
    if (!prober.Opened()) {
        std::printf("cannot open a WinHTTP session\n");
        return 1;
    }
    std::printf("session access type %lu (4: automatic proxy, 0: default proxy); Wine: %s\n",
                prober.AccessType(), RunningOnWine() ? "yes" : "no");

    bench::AnswerServer answers;
    std::vector<std::string> healthy;
    for (int i = 0; i < 200; ++i)
        healthy.push_back(answers.Url("/ok#") + std::to_string(i));
    probeAll(prober, healthy, 5000, 16); // warm-up: the session's first use
    std::vector<double> walls, cpus;
    for (int round = 0; round < 3; ++round) {
        const double cpu = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const int up = probeAll(prober, healthy, 5000, 16);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        walls.push_back(wall * 1000 / 200);
        cpus.push_back((cpuSeconds() - cpu) * 1000 / 200);
        std::printf(
            "round %d: %d of 200 up, %.0f ms wall, %.2f ms wall and %.2f ms CPU per probe\n",
            round + 1, up, wall * 1000, walls.back(), cpus.back());
    }
    std::printf("median per probe: %.2f ms wall, %.2f ms CPU\n", median(walls), median(cpus));

    bench::SilentServer silent;
    std::vector<std::string> hanging;
    for (int i = 0; i < 16; ++i)
        hanging.push_back(silent.Url("/silent#") + std::to_string(i));
    const auto start = std::chrono::steady_clock::now();
    probeAll(prober, hanging, silentTimeOut, 16);
    std::printf("16 silent probes, TimeOut %u ms: all reported after %.0f ms\n", silentTimeOut,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() *
                    1000);
    for (int s = 0; s <= 60; s += 5) {
        std::printf("  %2d s after: %zu live\n", s, prober.Live());
        std::fflush(stdout);
        if (s < 60)
            ::Sleep(5000);
    }

    // Endless headers: the request must not stay live reading (Wine's WinHTTP would, without
    // the prober's guard); the bytes the server got out and the memory show what it cost.
    PROCESS_MEMORY_COUNTERS_EX before{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&before), sizeof before);
    std::printf("  before the endless probe: working set %zu KiB\n", before.WorkingSetSize / 1024);
    bench::SilentServer endless(true);
    const std::vector<std::string> one{endless.Url("/endless")};
    probeAll(prober, one, silentTimeOut, 1);
    std::printf("endless headers, TimeOut %u ms: reported\n", silentTimeOut);
    for (int s = 0; s <= 60; s += 10) {
        PROCESS_MEMORY_COUNTERS_EX memory{};
        ::GetProcessMemoryInfo(::GetCurrentProcess(),
                               reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
        std::printf(
            "  endless, %2d s after: %zu live, server sent %lld bytes, working set %zu KiB\n", s,
            prober.Live(), endless.BytesSent(), memory.WorkingSetSize / 1024);
        std::fflush(stdout);
        if (s < 60)
            ::Sleep(10000);
    }
    return 0;
}
