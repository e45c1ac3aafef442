// Left-over workers: many probes of a server that never answers (or, with "endless", of one
// that sends header lines without end), in a row; the process then idles so that a driver
// (probe_workers.sh) can watch its threads and memory from outside. First it counts the
// requests one probe of a redirect loop makes.
//   probe_workers.exe [probes=500] [TimeOut ms=20] [worker step limit ms=5000] [idle s=15]
//                     [batches=1] [silent|endless]
// With several batches the process idles `idle` seconds after each batch's workers have
// ended, so that levels after one batch and after the next can be compared.
// Prints one line per phase with a time stamp, so the samples can be matched to phases.
#include "bench_servers_win.h"

#include "monitor/urlprobe_win.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

const auto processStart = std::chrono::steady_clock::now();

void phase(const char* what) {
    std::printf(
        "%7.1f s  %s\n",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - processStart).count(),
        what);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int probes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const auto timeOut = static_cast<std::uint32_t>(argc > 2 ? std::atoi(argv[2]) : 20);
    ProbeWorkerStepTimeout = static_cast<std::uint32_t>(argc > 3 ? std::atoi(argv[3]) : 5000);
    const int idle = argc > 4 ? std::max(0, std::atoi(argv[4])) : 15;
    const int batches = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;

    const bool endless = argc > 6 && std::string(argv[6]) == "endless";

    bench::SilentServer server(endless);
    const std::string url = server.Url(endless ? "/endless" : "/silent");
    OpenInternetSession();
    if (!InternetSession) {
        std::printf("cannot open a WinINet session\n");
        return 1;
    }
    char line[160];
    {
        bench::AnswerServer loop(true);
        const bool up = ProbeUrl(loop.Url("/loop"), 10000);
        std::snprintf(line, sizeof line, "one probe of a redirect loop: %s, %d requests",
                      up ? "up" : "down", loop.Requests());
        phase(line);
    }
    // One probe first, and its worker gone, so that the starting level already holds what
    // WinINet sets up on first use.
    ProbeUrl(url, timeOut);
    ::Sleep(ProbeWorkerStepTimeout + 2000);
    phase("ready: starting level");
    ::Sleep(5000);

    for (int batch = 1; batch <= batches; ++batch) {
        std::snprintf(line, sizeof line,
                      "probing: batch %d, %d probes, TimeOut %u ms, worker step limit %u ms", batch,
                      probes, timeOut, ProbeWorkerStepTimeout);
        phase(line);
        int answered = 0;
        for (int i = 0; i < probes; ++i)
            answered += ProbeUrl(url, timeOut) ? 1 : 0;
        std::snprintf(line, sizeof line,
                      "probes done (%d reported up); server holds %d connections, sent %lld bytes",
                      answered, server.Held(), server.BytesSent());
        phase(line);
        ::Sleep(ProbeWorkerStepTimeout);
        std::snprintf(line, sizeof line,
                      "worker lifetime passed; server holds %d connections, sent %lld bytes",
                      server.Held(), server.BytesSent());
        phase(line);
        ::Sleep(static_cast<DWORD>(idle) * 1000);
    }
    std::snprintf(line, sizeof line, "end; server holds %d connections", server.Held());
    phase(line);
    return 0;
}
