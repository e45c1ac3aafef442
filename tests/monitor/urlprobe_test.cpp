// The probe and one real cycle under Wine, against the in-process loopback HTTP peer.
#include <algorithm>
#include "base/handle_win.h"
#include "fixtures/http_peer_win.h"
#include "monitor/checkcycle.h"
#include "monitor/urlprobe_win.h"
#include "monitor/urlwire_win.h"
#include "recording_host.h"
#include "settings/cusersettings.h"

#include <gtest/gtest.h>

#include <chrono>

#include <tlhelp32.h>

namespace {

class Probe : public ::testing::Test {
protected:
    static void SetUpTestSuite() { OpenInternetSession(); }
    static void TearDownTestSuite() { CloseInternetSession(); }
};

// One peer for the whole program: it outlives the session, so left-over workers end cleanly.
HttpPeer& sharedPeer() {
    static HttpPeer* p = new HttpPeer;
    return *p;
}

} // namespace

TEST_F(Probe, OnlyAFinalStatus200CountsAsUp) {
    HttpPeer& p = sharedPeer();
    EXPECT_TRUE(ProbeUrl(p.Url("/ok"), 5000));
    EXPECT_TRUE(ProbeUrl(p.Url("/redirect"), 5000));
    EXPECT_FALSE(ProbeUrl(p.Url("/notfound"), 5000));
    EXPECT_FALSE(ProbeUrl(p.Url("/error"), 5000));
    EXPECT_FALSE(ProbeUrl(p.Url("/close"), 5000));
}

TEST_F(Probe, UnreachableMalformedAndEmptyUrlsFail) {
    EXPECT_FALSE(
        ProbeUrl("http://127.0.0.1:" + std::to_string(HttpPeer::RefusedPort()) + "/", 5000));
    EXPECT_FALSE(ProbeUrl("http://no-such-host.invalid/", 5000));
    EXPECT_FALSE(ProbeUrl("http://", 5000));
    EXPECT_FALSE(ProbeUrl("not a url at all", 5000));
    EXPECT_FALSE(ProbeUrl("", 5000));
}

TEST_F(Probe, SilentServerFailsAfterTheTimeOut) {
    HttpPeer& p = sharedPeer();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ProbeUrl(p.Url("/silent"), 300));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(290));
    EXPECT_LT(elapsed, std::chrono::seconds(10)); // the wait gave up, not the worker
    EXPECT_FALSE(ProbeUrl(p.Url("/ok"), 0));      // no time at all: always down
}

namespace {

int threadCount() {
    ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
         more = ::Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    return count;
}

} // namespace

// The step limit stays at its default: the workers must end because they were given up on.
TEST_F(Probe, WorkersOfASilentServerEndOnceGivenUpOn) {
    HttpPeer& p = sharedPeer();
    ProbeUrl(p.Url("/ok"), 5000); // let WinINet start its own helper threads first
    const int before = threadCount();
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(ProbeUrl(p.Url("/silent"), 50));
    const DWORD deadline = ::GetTickCount() + 10000;
    while (threadCount() > before && ::GetTickCount() < deadline)
        ::Sleep(20);
    EXPECT_LE(threadCount(), before);
}

// Each hostile server, probed with a TimeOut longer than the worker needs to give up on its
// own, then once more given up on by the caller: the program stops talking to it either way.
TEST_F(Probe, HostileServersAreDownAndLetGo) {
    HttpPeer& p = sharedPeer();
    EXPECT_FALSE(ProbeUrl(p.Url("/nohttp"), 5000));

    const int before = p.Requests();
    EXPECT_FALSE(ProbeUrl(p.Url("/loop"), 10000));
    EXPECT_LE(p.Requests() - before, 13); // the first request and at most a dozen redirects

    EXPECT_FALSE(ProbeUrl(p.Url("/endless"), 20000)); // cut off by the byte budget
    EXPECT_FALSE(ProbeUrl(p.Url("/endless"), 200));   // given up on while it streams
    EXPECT_TRUE(p.StreamsLetGo(10000));
}

// The peer answers 200 only to the UTF-8 escaped form; "/?????" or raw bytes get 404.
TEST_F(Probe, NonAsciiUrlsAreSentAsABrowserSendsThem) {
    HttpPeer& p = sharedPeer();
    p.SetDown("/%D0%BA%D0%BD%D0%B8%D0%B3%D0%B8", false);
    p.SetDown("/m%C3%BCnchen?q=%C3%BC", false);
    EXPECT_TRUE(ProbeUrl(p.Url("/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8"), 5000));
    EXPECT_TRUE(ProbeUrl(p.Url("/m\xC3\xBCnchen?q=\xC3\xBC"), 5000));
    EXPECT_TRUE(ProbeUrl(p.Url("/m%C3%BCnchen?q=%C3%BC#top"), 5000));
    EXPECT_FALSE(ProbeUrl(p.Url("/ok\r\nX: 1"), 5000));
    EXPECT_FALSE(ProbeUrl(p.Url("/ok\xC0\xAF"), 5000));

    EXPECT_EQ(WireUrl("http://b\xC3\xBC"
                      "cher.example/b\xC3\xBC"
                      "cher")
                  .value_or("(refused)"),
              "http://xn--bcher-kva.example/b%C3%BCcher");
    std::string labels300;
    for (int i = 0; i < 300; ++i)
        labels300 += "\xC3\xBC.";
    EXPECT_FALSE(WireUrl("http://" + labels300 + "/"));
}

TEST_F(Probe, WithoutSessionEveryProbeFails) {
    CloseInternetSession();
    EXPECT_FALSE(ProbeUrl(sharedPeer().Url("/ok"), 5000));
    OpenInternetSession();
    EXPECT_TRUE(ProbeUrl(sharedPeer().Url("/ok"), 5000));
}

namespace {

// The engine with real probes; everything else recorded.
class ProbingHost : public RecordingHost {
public:
    bool ProbeUrl(const std::string& url) override {
        calls.push_back("probe " + url);
        return ::ProbeUrl(url, 2000);
    }
};

} // namespace

TEST_F(Probe, RealCycleAgainstLoopback) {
    HttpPeer& p = sharedPeer();
    CUserSettings settings;
    settings.Benchmark = p.HostPath("/ok");
    settings.Active = true;
    for (const char* path : {"/ok", "/notfound", "/redirect", "/error"})
        settings.AddUrl(p.Url(path));
    ProbingHost host;
    const std::string down = CheckSites(settings, host);
    EXPECT_EQ(down, p.Url("/notfound") + "\r\n" + p.Url("/error"));
    EXPECT_EQ(settings.UrlStatus(0), UrlStatusUp);
    EXPECT_EQ(settings.UrlStatus(1), 0);
    EXPECT_EQ(settings.UrlStatus(2), UrlStatusUp);
    EXPECT_EQ(host.calls.back(), "refresh");
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "mail " + down), host.calls.end());

    settings.Benchmark = p.HostPath("/error");
    host.calls.clear();
    CheckSites(settings, host);
    EXPECT_EQ(host.calls[5], "tip Disconnected !");
    EXPECT_EQ(settings.UrlStatus(0), UrlStatusUp); // untouched without the benchmark
}
