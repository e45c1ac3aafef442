// Writes the metrics of a cycle over hostile addresses to standard output, for Prometheus's own
// checker: quotes, backslashes, line feeds, non-ASCII, bytes that are no UTF-8, a password.
// Every family the program writes is in it, for the check of the fleet kit's metric names.
#include "monitor/metricstext.h"

#include <cstdio>

int main() {
    CycleResults r;
    r.Benchmark = ProbeResult::Answered(12);
    const char* const urls[] = {
        "http://plain.example/",
        "http://q.example/\"quoted\"?a=\"b\"",
        "http://bs.example/C:\\dir\\\\share\\",
        "http://nl.example/line\nbreak\r\nend",
        "https://b\xC3\xBC\x63her.example/\xE6\x97\xA5\xE6\x9C\xAC?\xF0\x9F\x98\x80",
        "http://bad.example/\xFF\xFE\xC3",
        "http://user:p@ss\"@auth.example/",
        "http://plain.example/",
        "",
    };
    int i = 0;
    for (const char* url : urls) {
        r.Urls.push_back(url);
        r.Sites.push_back(i % 2 ? ProbeResult::Answered(100 + i)
                                : ProbeResult::Down(ProbeReason::TimedOut, 2000));
        ++i;
    }
    r.Sites[2] = ProbeResult::Down(ProbeReason::HttpStatus, 3, 503);
    r.Sites[1].Warning = "certificate of q.example expires in 5 days, on 2025-12-07";
    r.Sites[1].CertExpiry = 1765065600;
    const std::string text = MetricsText(r, 2345, 1765000000);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
