// One message of 1,000 sites going down, built for each kind of webhook receiver: the bytes each
// posts and the CPU time of one build (the mean of the runs).
#include "monitor/webhookbody.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    AlertMessage message;
    message.Time = 1796812200;
    for (int i = 0; i < 1000; ++i)
        message.Changes.push_back({SiteAlert::Down,
                                   "https://shop" + std::to_string(i) + ".example/cart",
                                   "timed out after 2000 ms", message.Time - 120, 0, false});
    const WebhookKind kinds[] = {WebhookKind::Teams, WebhookKind::Slack, WebhookKind::Ntfy,
                                 WebhookKind::Json};
    for (WebhookKind kind : kinds) {
        const WebhookChannel channel{"bench", kind, "https://hooks.example/x",
                                     kind == WebhookKind::Json ? "secret" : ""};
        std::size_t bytes = 0;
        // The clock is coarse on some platforms: the mean of many builds.
        const std::clock_t start = std::clock();
        for (int run = 0; run < runs; ++run)
            bytes = BuildWebhookPost(channel, message, "SERVER01", 1796808600).Body.size();
        const double ms =
            1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / runs;
        std::printf("%-6s %8zu bytes %8.2f ms CPU\n", WebhookKindName(kind), bytes, ms);
    }
    return 0;
}
