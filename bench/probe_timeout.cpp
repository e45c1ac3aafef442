// How long ProbeUrl takes on a URL whose server accepts and never answers.
//   probe_timeout.exe [probes=200] [TimeOut ms=500] [worker step limit ms=2000]
// The worker step limit is lowered from its default so that the workers each probe leaves
// behind end within a few probes instead of piling up over the run.
#include "bench_servers_win.h"

#include "monitor/urlprobe_win.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const int probes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const auto timeOut = static_cast<std::uint32_t>(argc > 2 ? std::atoi(argv[2]) : 500);
    ProbeWorkerStepTimeout = static_cast<std::uint32_t>(argc > 3 ? std::atoi(argv[3]) : 2000);

    bench::SilentServer server;
    const std::string url = server.Url("/silent");
    OpenInternetSession();
    if (!InternetSession) {
        std::printf("cannot open a WinINet session\n");
        return 1;
    }

    std::vector<double> ms;
    int answered = 0;
    for (int i = 0; i < probes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        answered += ProbeUrl(url, timeOut) ? 1 : 0;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    // Nearest-rank percentile.
    auto pct = [&](double p) {
        const size_t rank = static_cast<size_t>(std::ceil(p / 100 * sorted.size()));
        return sorted[std::max<size_t>(rank, 1) - 1];
    };
    std::printf("%d probes, TimeOut %u ms, worker step limit %u ms; server accepted %d "
                "connections\n",
                probes, timeOut, ProbeWorkerStepTimeout, server.Accepted());
    std::printf("ProbeUrl duration (ms): min %.1f  median %.1f  p95 %.1f  p99 %.1f  max %.1f\n",
                sorted.front(), pct(50), pct(95), pct(99), sorted.back());
    const double p95over = pct(95) - timeOut;
    std::printf("p95 over TimeOut: %+.1f ms (goal <= +15 ms): %s\n", p95over,
                p95over <= 15 ? "met" : "NOT met");
    std::printf("probes reported up (must be 0): %d\n", answered);
    std::fflush(stdout);
    // Left-over workers end within the step limit; do not hold the run for them.
    ::ExitProcess(answered == 0 ? 0 : 1);
}
