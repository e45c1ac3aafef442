// What the metrics file adds to a check cycle: the text of a cycle over n sites (a fifth of
// them down) and its write beside a temporary file with the replacing move, repeated, into a
// folder of the prefix. Prints the median and the slowest of each step and the file's size.
//   metrics_write.exe <rounds> <sites>
#include "bench/bench_stats.h"
#include "monitor/metricsfile_win.h"
#include "monitor/metricstext.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    const int sites = argc > 2 ? std::atoi(argv[2]) : 200;
    CycleResults r;
    r.Benchmark = ProbeResult::Answered(20);
    for (int i = 0; i < sites; ++i) {
        r.Urls.push_back("https://site" + std::to_string(i) +
                         ".example.com/status/health?x=" + std::to_string(i));
        r.Sites.push_back(i % 5 ? ProbeResult::Answered(40 + i % 300)
                                : ProbeResult::Down(ProbeReason::TimedOut, 2000));
    }
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "vigrel metrics bench";
    ::CreateDirectoryA(folder.c_str(), nullptr);

    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    std::vector<double> format, write;
    size_t bytes = 0;
    for (int i = 0; i <= rounds; ++i) {
        const auto t0 = Clock::now();
        const std::string text = MetricsText(r, 1234, 1765000000 + i);
        const auto t1 = Clock::now();
        const std::string failure = WriteFileReplacing(folder, MetricsFileName, text);
        const auto t2 = Clock::now();
        if (!failure.empty()) {
            std::printf("write failed: %s\n", failure.c_str());
            return 1;
        }
        bytes = text.size();
        if (i == 0)
            continue; // warm-up
        format.push_back(ms(t1 - t0));
        write.push_back(ms(t2 - t1));
    }
    RemoveWrittenFile(folder, MetricsFileName);
    ::RemoveDirectoryA(folder.c_str());
    const auto slowest = [](const std::vector<double>& v) {
        double m = 0;
        for (double x : v)
            m = x > m ? x : m;
        return m;
    };
    std::printf("sites %d, rounds %d, file %zu bytes\n", sites, rounds, bytes);
    std::printf("text:  median %.3f ms, slowest %.3f ms\n", median(format), slowest(format));
    std::printf("write: median %.3f ms, slowest %.3f ms\n", median(write), slowest(write));
    return 0;
}
