#include "monitor/checkengine.h"
#include "recording_host.h"
#include "settings/cusersettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

namespace {

using Urls = std::vector<std::string>;

// A probe that only records what it is asked; the test answers each request when it pleases,
// and checks on every start the bounds the engine promises.
struct ScriptedProbe : AsyncProbe {
    std::vector<std::pair<ProbeTicket, std::string>> started;
    std::vector<SiteRecord> sites;
    std::set<std::string> live;
    int inFlight = 0;
    int maxInFlight = 0;

    void Start(ProbeTicket ticket, const SiteRecord& site, std::uint32_t) override {
        EXPECT_TRUE(live.insert(site.Url).second) << "a second live request for " << site.Url;
        started.emplace_back(ticket, site.Url);
        sites.push_back(site);
        maxInFlight = std::max(maxInFlight, ++inFlight);
    }
    Urls startedUrls() const {
        Urls urls;
        for (const auto& s : started)
            urls.push_back(s.second);
        return urls;
    }
};

const ProbeResult Up = ProbeResult::Answered(5);
const ProbeResult Down = ProbeResult::Down(ProbeReason::HttpStatus, 5, 404);
const ProbeResult Hung = ProbeResult::Down(ProbeReason::TimedOut, 2000);

class Engine : public ::testing::Test {
protected:
    Engine() {
        engine.OnCycleDone = [this](CycleResults r) { done.push_back(std::move(r)); };
    }
    void start(const Urls& urls, int parallel = 16, int retries = 0, int maxLive = 256) {
        EngineLimits limits;
        limits.Parallel = parallel;
        limits.Retries = retries;
        limits.MaxLive = maxLive;
        ASSERT_TRUE(engine.StartCycle("http://bench.test", urls, limits));
    }
    // Answers the k-th request started; a request not released stays live, as a hung one does.
    void answer(std::size_t k, const ProbeResult& result, bool release = true) {
        const auto [ticket, url] = probe.started.at(k);
        --probe.inFlight;
        if (release)
            probe.live.erase(url);
        engine.Complete(ticket, result, release);
    }
    std::vector<bool> ups() const {
        std::vector<bool> up;
        for (const ProbeResult& r : done.back().Sites)
            up.push_back(r.Up);
        return up;
    }
    ScriptedProbe probe;
    CheckEngine engine{probe};
    std::vector<CycleResults> done;
};

} // namespace

TEST_F(Engine, BenchmarkAloneFirstThenBoundedRequestsAnsweredInAnyOrderReportInListOrder) {
    start({"http://a/", "http://b/", "http://a/", "http://c/", "http://d/"}, 3);
    ASSERT_EQ(probe.startedUrls(), Urls{"http://bench.test"});
    answer(0, Up);
    // a is listed twice: its second entry waits for the first rather than send a second request.
    EXPECT_EQ(probe.startedUrls(),
              (Urls{"http://bench.test", "http://a/", "http://b/", "http://c/"}));
    answer(3, Up);   // c: d takes its place
    answer(1, Down); // a, first entry: its second entry takes its place
    answer(2, Up);   // b
    answer(4, Down); // d
    ASSERT_TRUE(done.empty());
    answer(5, Up); // a, second entry
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(probe.maxInFlight, 3);
    EXPECT_EQ(done[0].Urls,
              (Urls{"http://a/", "http://b/", "http://a/", "http://c/", "http://d/"}));
    EXPECT_EQ(ups(), (std::vector<bool>{false, true, true, true, false}));
    EXPECT_EQ(ReasonText(done[0].Sites[4]), "HTTP status 404");
    EXPECT_FALSE(engine.Running());

    // The report of those results is the sequential cycle's for the same answers.
    CUserSettings settings;
    settings.Benchmark = "bench.test";
    for (const std::string& url : done[0].Urls)
        settings.AddUrl(url);
    RecordingHost sequential;
    sequential.up = {{"http://bench.test", true}, {"http://b/", true}, {"http://c/", true}};
    int probesOfA = 0;
    sequential.onProbe = [&](const std::string& url) {
        if (url == "http://a/" && ++probesOfA == 2)
            sequential.up[url] = true;
    };
    settings.Active = true;
    CheckSites(settings, sequential);
    RecordingHost engineHost;
    AlertPolicy policy;
    BeginCycle(engineHost);
    EXPECT_EQ(ReportCycle(settings, engineHost, policy, done[0]), "http://a/\r\nhttp://d/");
    Urls withoutProbes;
    for (const std::string& call : sequential.calls)
        if (call.rfind("probe ", 0) != 0)
            withoutProbes.push_back(call);
    EXPECT_EQ(engineHost.calls, withoutProbes);
}

TEST_F(Engine, ParallelOneProbesOneAfterTheOther) {
    start({"http://a/", "http://b/", "http://c/"}, 1);
    for (std::size_t k = 0; k < 4; ++k) {
        ASSERT_EQ(probe.started.size(), k + 1);
        answer(k, Up);
    }
    EXPECT_EQ(probe.maxInFlight, 1);
    EXPECT_EQ(probe.startedUrls(),
              (Urls{"http://bench.test", "http://a/", "http://b/", "http://c/"}));
    EXPECT_EQ(ups(), (std::vector<bool>{true, true, true}));
}

TEST_F(Engine, BenchmarkDownEndsTheCycleWithoutProbingTheSites) {
    CUserSettings settings;
    settings.Benchmark = "bench.test";
    settings.AddUrl("http://a/");
    settings.Parallel = 0; // as a record may hold it: the engine still sends requests
    RecordingHost host;
    ASSERT_TRUE(StartCheck(settings, host, engine));
    EXPECT_FALSE(StartCheck(settings, host, engine)) << "cycles never overlap";
    answer(0, ProbeResult::Down(ProbeReason::NameNotFound));
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(probe.startedUrls(), Urls{"http://bench.test"});
    AlertPolicy policy;
    EXPECT_EQ(ReportCycle(settings, host, policy, done[0]), "");
    EXPECT_EQ(host.calls, (Urls{"icon 2", "tip Checking...", "clear menu", "icon 3",
                                "tip Disconnected !", "log Benchmark site not reached"}));
}

TEST_F(Engine, RetriesOnlyFailedSitesAfterAllTheOthers) {
    start({"http://a/", "http://b/", "http://c/"}, 1, 2);
    answer(0, Up);
    answer(1, Down); // a
    answer(2, Up);   // b
    answer(3, Down); // c
    answer(4, Up);   // a again: up, no further try
    answer(5, Down); // c again
    answer(6, Hung); // c a third time: down for good
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(probe.startedUrls(), (Urls{"http://bench.test", "http://a/", "http://b/", "http://c/",
                                         "http://a/", "http://c/", "http://c/"}));
    EXPECT_EQ(ups(), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(ReasonText(done[0].Sites[2]), "timed out after 2000 ms");
}

TEST_F(Engine, AddressStillHangingFromTheLastCycleIsDownWithoutANewRequest) {
    start({"http://a/", "http://b/"});
    answer(0, Up);
    answer(1, Hung, false); // a: given up on, the platform goes on with it
    answer(2, Up);
    ASSERT_EQ(done.size(), 1u);

    start({"http://a/", "http://b/"});
    answer(3, Up);
    EXPECT_EQ(probe.startedUrls().back(), "http://b/");
    engine.Complete(probe.started[1].first, Up); // the hung request's late answer counts nowhere
    answer(4, Up);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(ups(), (std::vector<bool>{false, true}));
    EXPECT_EQ(ReasonText(done[1].Sites[0]), "an earlier request still hangs");

    probe.live.erase("http://a/");
    engine.Released(probe.started[1].first);
    start({"http://a/"});
    answer(5, Up);
    EXPECT_EQ(probe.startedUrls().back(), "http://a/") << "ended: probed again";

    // A retry that finds the first try still hanging keeps the first try's reason.
    answer(6, Up);
    start({"http://a/"}, 16, 1);
    answer(7, Up);
    answer(8, Hung, false);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(ReasonText(done.back().Sites[0]), "timed out after 2000 ms");
}

TEST_F(Engine, LiveRequestsOfEveryCycleStayWithinTheirBound) {
    start({"http://a/", "http://b/"}, 4, 0, 3);
    answer(0, Up);
    answer(1, Hung, false);
    answer(2, Hung, false);
    ASSERT_EQ(engine.LiveRequests(), 2);

    start({"http://c/", "http://d/", "http://e/"}, 4, 0, 3);
    answer(3, Up);
    EXPECT_EQ(probe.started.size(), 5u) << "one place left, whatever Parallel";
    answer(4, Up);          // c
    answer(5, Hung, false); // d hangs too: no place is left and nothing is waited for
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(probe.started.size(), 6u);
    EXPECT_EQ(ups(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(done[1].Sites[2].Reason, ProbeReason::NoFreeRequest);
}

TEST_F(Engine, AnswersFromThePlatformsThreadsReachTheEngineInTheirOrder) {
    start({"http://a/"});
    CompletionQueue queue;
    const ProbeTicket bench = probe.started[0].first;
    std::thread([&] {
        EXPECT_TRUE(queue.PushComplete(bench, Up)) << "wake the engine's thread";
    }).join();
    queue.DrainInto(engine);
    ASSERT_EQ(probe.started.size(), 2u);
    const ProbeTicket a = probe.started[1].first;
    std::thread([&] {
        EXPECT_TRUE(queue.PushComplete(a, Hung, false));
        EXPECT_FALSE(queue.PushReleased(a)) << "already woken";
    }).join();
    queue.DrainInto(engine);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Sites[0].Reason, ProbeReason::TimedOut);
    EXPECT_EQ(engine.LiveRequests(), 0);
}

TEST(CycleGate, CheckNowDuringACycleRunsOneMoreCycleAfterIt) {
    CycleGate gate;
    EXPECT_TRUE(gate.Request());
    EXPECT_FALSE(gate.Request());
    EXPECT_FALSE(gate.Request());
    EXPECT_TRUE(gate.Finished()) << "the queued cycle starts";
    EXPECT_FALSE(gate.Finished()) << "only one was queued";
    EXPECT_TRUE(gate.Request());
}

TEST(EngineRetry, ARetryWaitsASecondAfterTheTryItRepeatsAndTheCycleStillEnds) {
    ScriptedProbe probe;
    std::uint64_t now = 5000;
    CheckEngine engine(probe, [&] { return now; });
    std::vector<std::uint32_t> wakes;
    engine.OnWakeAfter = [&](std::uint32_t ms) { wakes.push_back(ms); };
    std::vector<CycleResults> done;
    engine.OnCycleDone = [&](CycleResults r) { done.push_back(std::move(r)); };
    EngineLimits limits;
    limits.Parallel = 2;
    limits.Retries = 1;
    ASSERT_TRUE(engine.StartCycle("http://bench.test", {"http://a/", "http://b/"}, limits));
    const auto answer = [&](std::size_t k, const ProbeResult& result) {
        probe.live.erase(probe.started.at(k).second);
        engine.Complete(probe.started[k].first, result);
    };
    answer(0, Up);
    now += 200;
    answer(1, ProbeResult::Down(ProbeReason::Refused)); // a, 200 ms after its start
    EXPECT_EQ(probe.started.size(), 3u) << "a's retry waits though a place is free";
    EXPECT_EQ(wakes, std::vector<std::uint32_t>{800});
    now += 300;
    answer(2, Up); // b: nothing else to do, the wake-up asked for stands
    EXPECT_EQ(wakes.size(), 1u);
    now += 400;
    engine.Tick(); // a timer a little early starts nothing, and asks again
    EXPECT_EQ(probe.started.size(), 3u);
    EXPECT_EQ(wakes.back(), 100u);
    now += 100;
    engine.Tick();
    ASSERT_EQ(probe.startedUrls().back(), "http://a/");
    answer(3, Up);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].Sites[0].Up);
}

TEST(EngineLimitsFromSettings, ACycleKeepsToParallelAndRetriesAFailedSiteAsTheSettingsSay) {
    CUserSettings settings;
    settings.Benchmark = "bench.test";
    for (const char* url : {"http://a/", "http://b/", "http://c/", "http://d/", "http://e/"})
        settings.AddUrl(url);
    settings.Parallel = 2;
    settings.Retries = 2;
    settings.CertDays = 30;
    settings.SetChecks("http://b/", "certdays=3;contains=Add to cart");
    ScriptedProbe probe;
    CheckEngine engine(probe);
    bool ended = false;
    engine.OnCycleDone = [&](const CycleResults&) { ended = true; };
    ASSERT_TRUE(StartCheck(settings, engine));
    // Answered in the order sent, b always down; the bound is checked at every start.
    for (std::size_t k = 0; k < probe.started.size(); ++k) {
        const auto [ticket, url] = probe.started[k];
        probe.live.erase(url);
        --probe.inFlight;
        engine.Complete(ticket, url == "http://b/" ? Down : Up);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(probe.maxInFlight, 2);
    const Urls urls = probe.startedUrls();
    EXPECT_EQ(std::count(urls.begin(), urls.end(), "http://b/"), 3);
    EXPECT_EQ(std::count(urls.begin(), urls.end(), "http://a/"), 1);
    // Each probe has the site's own checks, CertDays from [General] where it names none.
    EXPECT_EQ(probe.sites[1].Checks.CertDays, 30);
    EXPECT_EQ(probe.sites[2].Url, "http://b/");
    EXPECT_EQ(probe.sites[2].Checks.CertDays, 3);
    EXPECT_EQ(probe.sites[2].Checks.Contains, "Add to cart");
    // A list checked on request: a listed address with its checks, another with the defaults.
    const std::vector<SiteRecord> asked = SitesForCheck(settings, {"http://x/", "http://b/"});
    EXPECT_EQ(asked[0].Checks.CertDays, 30);
    EXPECT_FALSE(asked[0].Checks.Contains);
    EXPECT_EQ(asked[1].Checks.Contains, "Add to cart");
}
