// The webhook sender against the loopback receiver of the tls_peer fixture, which checks every
// body as its kind's service reads it and writes what it found to webhook-TAG.log (one JSON
// line a request: mode, kind, status, verdict, text).
#include "monitor/webhooksender_win.h"

#include "fixtures/peer_ports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* PeerDir = "VIGREL_TLS_PEER_DIR";

class WebhookSenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv(PeerDir))
            GTEST_SKIP() << "no tls_peer fixture";
    }

    static std::string address(const std::string& path, const char* kind = "webhook") {
        return "https://localhost:" + std::to_string(PeerPort(PeerDir, kind)) + path;
    }

    static WebhookChannel channel(const std::string& name, WebhookKind kind,
                                  const std::string& path) {
        return {name, kind, address(path), kind == WebhookKind::Json ? "test-secret" : ""};
    }

    // The receiver's lines for the tag, once it has at least count of them (20 s at most).
    static std::vector<std::string> received(const std::string& tag, std::size_t count) {
        std::vector<std::string> lines;
        for (int wait = 0; wait < 200; ++wait) {
            lines.clear();
            std::ifstream in(PeerPath(PeerDir, "webhook-" + tag + ".log"));
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
            if (lines.size() >= count)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return lines;
    }

    static AlertMessage message(const std::string& site) {
        AlertMessage m;
        m.Time = 1796812200;
        m.Changes.push_back({SiteAlert::Down, "https://" + site + ".example/", "HTTP status 503",
                             m.Time - 60, 0, false});
        return m;
    }

    std::mutex lock;
    std::vector<std::string> failures;
    std::function<void(const std::string&)> onFailed = [this](const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        failures.push_back(line);
    };
};

bool has(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

} // namespace

// Every kind of change, a link notice and a thousand sites, as each receiver takes them.
TEST_F(WebhookSenderTest, EachKindIsTakenByItsReceiver) {
    AlertMessage all = message("down");
    all.Changes.push_back(
        {SiteAlert::BackUp, "https://u:pw@up.example/", "", all.Time - 1800, 1740, false});
    all.Changes.push_back({SiteAlert::Flapping, "https://flap.example/", "timed out after 2000 ms",
                           all.Time - 300, 0, false});
    all.Changes.push_back({SiteAlert::Warning, "https://warn.example/<b>",
                           "certificate expires in 5 days", 0, 0, false});
    all.Changes.push_back({SiteAlert::Reminder, "https://still.example/", "connection refused",
                           all.Time - 3600, 0, true});
    all.Link = LinkNotice{all.Time - 900, all.Time - 60, "timed out after 2000 ms"};
    AlertMessage big;
    big.Time = all.Time;
    for (int i = 0; i < 1000; ++i)
        big.Changes.push_back(message("site" + std::to_string(i)).Changes[0]);

    WebhookSender sender(onFailed);
    const WebhookKind kinds[] = {WebhookKind::Teams, WebhookKind::Slack, WebhookKind::Ntfy,
                                 WebhookKind::Json};
    std::vector<WebhookChannel> each, large;
    for (WebhookKind kind : kinds) {
        const std::string name = WebhookKindName(kind);
        each.push_back(channel(name, kind, "/ok/" + name + "/each-" + name));
        large.push_back(channel(name, kind, "/ok/" + name + "/big-" + name));
    }
    sender.Send(each, all);
    ASSERT_TRUE(sender.WaitIdle(30000));
    sender.Send(large, big);
    ASSERT_TRUE(sender.WaitIdle(30000));
    EXPECT_TRUE(failures.empty()) << failures.front();
    for (WebhookKind kind : kinds) {
        const std::string name = WebhookKindName(kind);
        for (const std::string& tag : {"each-" + name, "big-" + name}) {
            const std::vector<std::string> lines = received(tag, 1);
            ASSERT_EQ(lines.size(), 1u) << tag;
            EXPECT_TRUE(has(lines[0], "\"verdict\": \"ok\"")) << lines[0];
            EXPECT_TRUE(has(lines[0], "\"status\": 200")) << lines[0];
            EXPECT_FALSE(has(lines[0], "pw@")) << lines[0];
        }
        const std::string each_ = received("each-" + name, 1)[0];
        for (const char* site : {"down.example", "up.example", "flap.example", "warn.example",
                                 "still.example", "benchmark"})
            EXPECT_TRUE(has(each_, site)) << name << " lacks " << site << ": " << each_;
        EXPECT_TRUE(has(received("big-" + name, 1)[0], "site0.example")) << name;
    }
}

// A receiver that fails once has the message at the retry: nothing is lost, nothing reported.
TEST_F(WebhookSenderTest, FailingOnceIsDeliveredByTheRetry) {
    WebhookSender sender(onFailed, {5000, 3, 100});
    sender.Send({channel("retry", WebhookKind::Json, "/fail-then-ok/json/retry")},
                message("retried"));
    ASSERT_TRUE(sender.WaitIdle(30000));
    const std::vector<std::string> lines = received("retry", 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(has(lines[0], "\"status\": 500"));
    EXPECT_TRUE(has(lines[1], "\"status\": 200"));
    EXPECT_TRUE(has(lines[1], "retried.example")) << lines[1];
    EXPECT_TRUE(failures.empty());
}

// A silent receiver delays no other channel; what it did not take is reported in words and
// goes out with the channel's next message.
TEST_F(WebhookSenderTest, SilentReceiverKeepsTheMessageForTheNextOne) {
    WebhookSender sender(onFailed, {3000, 2, 100});
    const WebhookChannel quiet = channel("quiet", WebhookKind::Slack, "/silent/slack/quiet");
    const WebhookChannel beside = channel("beside", WebhookKind::Slack, "/ok/slack/beside");
    sender.Send({quiet, beside}, message("first"));
    ASSERT_EQ(received("beside", 1).size(), 1u);
    EXPECT_FALSE(sender.WaitIdle(0)) << "the silent channel should still be waiting";
    ASSERT_TRUE(sender.WaitIdle(30000));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(has(failures[0], "webhook quiet: timed out")) << failures[0];
    EXPECT_FALSE(has(failures[0], "/silent/")) << failures[0];
    EXPECT_EQ(received("quiet", 2).size(), 2u); // both attempts reached it

    std::ofstream(PeerPath(PeerDir, "open-quiet")) << "now";
    sender.Send({quiet}, message("second"));
    ASSERT_TRUE(sender.WaitIdle(30000));
    const std::vector<std::string> lines = received("quiet", 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(has(lines[2], "\"status\": 200"));
    EXPECT_TRUE(has(lines[2], "first.example")) << lines[2];
    EXPECT_TRUE(has(lines[2], "second.example")) << lines[2];
    EXPECT_EQ(failures.size(), 1u);
}

TEST_F(WebhookSenderTest, TestSaysWhatBecameOfIt) {
    WebhookSender sender(onFailed, {5000, 3, 100});
    std::mutex wordsLock;
    std::vector<std::string> words(5);
    const auto test = [&](std::size_t slot, const WebhookChannel& to) {
        sender.Test(to, [&, slot](const std::string& said) {
            std::lock_guard<std::mutex> hold(wordsLock);
            words[slot] = said;
        });
    };
    test(0, channel("t", WebhookKind::Teams, "/ok/teams/test-ok"));
    test(1, channel("t", WebhookKind::Teams, "/404/teams/test-404"));
    test(2, {"t", WebhookKind::Slack, address("/", "selfsigned"), ""});
    test(3, {"t", WebhookKind::Ntfy, "http://localhost:1/topic", ""});
    ASSERT_TRUE(sender.WaitIdle(30000));
    test(4, channel("t", WebhookKind::Json, "/ok/json/test-json")); // MaxWebhookTests at once
    ASSERT_TRUE(sender.WaitIdle(30000));
    EXPECT_EQ(words[0], "delivered");
    EXPECT_EQ(words[1], "HTTP status 404 from localhost");
    // Wine's WinHTTP reports each fault of a certificate as a failed secure channel.
    EXPECT_TRUE(words[2] == "certificate not trusted: localhost" ||
                words[2] == "secure connection to localhost failed")
        << words[2];
    EXPECT_EQ(words[3], "not sent: the address is not https");
    EXPECT_EQ(words[4], "delivered");
    EXPECT_TRUE(has(received("test-json", 1)[0], "\"verdict\": \"ok\""));
    EXPECT_EQ(received("test-404", 1).size(), 1u); // no retry
}

// Hostile receivers cost a post its time limit at most: an answer dripped byte by byte after a
// 2xx, header lines without end, a redirect to plain http elsewhere (never followed).
TEST_F(WebhookSenderTest, HostileAnswersEndWithinTheTimeLimit) {
    WebhookSender sender(onFailed, {3000, 1, 100});
    std::mutex wordsLock;
    std::vector<std::string> words(3);
    const char* modes[] = {"drip", "headers", "redirect"};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string mode = modes[i];
        sender.Test(channel("h", WebhookKind::Json, "/" + mode + "/json/hostile-" + mode),
                    [&, i](const std::string& said) {
                        std::lock_guard<std::mutex> hold(wordsLock);
                        words[i] = said;
                    });
    }
    ASSERT_TRUE(sender.WaitIdle(30000)) << "a hostile receiver held a test";
    EXPECT_EQ(words[0], "delivered");
    EXPECT_FALSE(words[1].empty()); // a 200 under the head's limit may count as delivered
    EXPECT_EQ(words[2], "HTTP status 302 from localhost");
}

// Tests at once are bounded, like the checklist's threads: a flood of them from the pipe or
// the dialog is refused at once instead of starting a thread each.
TEST_F(WebhookSenderTest, TestsAtOnceAreBounded) {
    WebhookSender sender(onFailed, {3000, 1, 100});
    std::mutex wordsLock;
    std::vector<std::string> words(MaxWebhookTests + 2);
    const auto test = [&](std::size_t slot) {
        sender.Test(channel("t", WebhookKind::Slack, "/silent/slack/flood"),
                    [&, slot](const std::string& said) {
                        std::lock_guard<std::mutex> hold(wordsLock);
                        words[slot] = said;
                    });
    };
    for (std::size_t i = 0; i < words.size(); ++i)
        test(i);
    {
        std::lock_guard<std::mutex> hold(wordsLock);
        for (std::size_t i = 0; i < words.size(); ++i)
            EXPECT_EQ(!words[i].empty(), i >= static_cast<std::size_t>(MaxWebhookTests)) << i;
        EXPECT_TRUE(has(words.back(), "try again")) << words.back();
    }
    ASSERT_TRUE(sender.WaitIdle(30000));
    EXPECT_TRUE(has(words[0], "timed out")) << words[0];
    words[0].clear();
    test(0);
    ASSERT_TRUE(sender.WaitIdle(30000));
    EXPECT_FALSE(has(words[0], "try again")) << words[0];
}

// Through the open proxy of the proxy_peer fixture, as the checks go: a tunnel (CONNECT). (Wine 8
// ends a tunnel whose CONNECT gets a 407 with a secure-channel error, so the proxy that asks
// for credentials is the probes' test, over plain HTTP.)
TEST_F(WebhookSenderTest, GoesThroughTheProxyAsTheChecksDo) {
    if (!std::getenv("VIGREL_PROXY_PEER_DIR") || PeerPort("VIGREL_PROXY_PEER_DIR", "open") <= 0)
        GTEST_SKIP() << "no proxy_peer fixture";
    WebhookSender sender(onFailed, {10000, 1, 100});
    ProxySettings proxy;
    proxy.Mode = ProxyMode::Fixed;
    // By address: the receiver is named localhost, and Wine 8 tunnels only to a host other
    // than the proxy's.
    proxy.Server = "127.0.0.1:" + std::to_string(PeerPort("VIGREL_PROXY_PEER_DIR", "open"));
    sender.SetProxy(proxy);
    sender.Send({channel("tunnel", WebhookKind::Json, "/ok/json/tunnel")}, message("tunneled"));
    ASSERT_TRUE(sender.WaitIdle(30000));
    ASSERT_EQ(received("tunnel", 1).size(), 1u);
    EXPECT_TRUE(has(received("tunnel", 1)[0], "\"verdict\": \"ok\""));
    std::ifstream log(PeerPath("VIGREL_PROXY_PEER_DIR", "open.log"));
    const std::string seen((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(has(seen, "CONNECT localhost:" + std::to_string(PeerPort(PeerDir, "webhook"))));

    EXPECT_TRUE(failures.empty());
}
