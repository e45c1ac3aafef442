// Assembles a mail with one attachment and reports the time of AssembleMail, the size of the
// body and the peak resident memory of the process.
//   mail_assembly FILE [RUNS]
#include "net/mailassembly.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mail_assembly FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    double best = 1e30;
    std::int64_t bodySize = 0;
    for (int i = 0; i < runs; ++i) {
        TMailAssembly m;
        m.PostMessage->FromAddress = "me@example.com";
        m.PostMessage->ToAddress.Add("you@example.com");
        m.PostMessage->Body.Add("See the attachment.");
        m.PostMessage->Attachments.Add(argv[1]);
        const auto start = std::chrono::steady_clock::now();
        m.AssembleMail();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        bodySize = m.BodyStream->Size();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds %.4f body_bytes %lld peak_rss_kib %ld\n", best,
                static_cast<long long>(bodySize), usage.ru_maxrss);
    return 0;
}
