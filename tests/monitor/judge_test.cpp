// The judge's rules as one table: facts and checks in, the verdict and its words out.
#include "monitor/judge.h"
#include "monitor/pathstep.h"

#include <gtest/gtest.h>

namespace {

// 2026-12-09 10:00:00 UTC.
constexpr std::int64_t Now = 1796810400;
constexpr std::int64_t Day = 86400;

ProbeFacts answer(std::uint32_t status = 200, std::string body = "<p>Add to cart</p>") {
    ProbeFacts f;
    f.Status = status;
    f.Url = "https://Shop.example.com:8443/start";
    f.FinalUrl = "https://shop.example.com/home";
    f.Body = std::move(body);
    f.BodyRead = true;
    f.Milliseconds = 120;
    return f;
}

struct Row {
    const char* what;
    ProbeFacts facts;
    void (*checks)(SiteChecks&); // from the defaults; nullptr: the defaults
    bool up;
    std::string words; // ReasonText
    std::string warning;
};

} // namespace

TEST(Judge, OneTableOfFactsAndVerdicts) {
    ProbeFacts reset;
    reset.Failure = ProbeReason::ConnectionReset;
    reset.Milliseconds = 30;
    ProbeFacts expired;
    expired.Failure = ProbeReason::CertExpired;
    expired.Detail = "2026-12-01";
    ProbeFacts away = answer();
    away.FinalUrl = "https://login.example.com/?next=shop";
    ProbeFacts userAndDot = answer();
    userAndDot.Url = "http://user:pw@shop.example.com./";
    userAndDot.FinalUrl = "http://SHOP.example.com:81/x";
    ProbeFacts hostile = answer();
    hostile.FinalUrl = "http://evil\r\nfake line \x7f" + std::string(300, 'x') + "/";
    ProbeFacts wrongName;
    wrongName.Failure = ProbeReason::CertWrongName;
    wrongName.Detail = "a\nb";
    ProbeFacts unread = answer();
    unread.BodyRead = false;
    unread.Body.clear();
    ProbeFacts deep = answer(200, std::string(MaxCheckedBody, ' ') + "Add to cart");
    ProbeFacts expiring = answer();
    expiring.EarliestExpiry = Now + 4 * Day + 20 * 3600; // 2026-12-14 06:00
    ProbeFacts today = answer();
    today.EarliestExpiry = Now + 3600;
    ProbeFacts gone = answer();
    gone.EarliestExpiry = Now - 3600;
    ProbeFacts slowAndExpiring = expiring;
    slowAndExpiring.Milliseconds = 2500;
    ProbeFacts later = answer();
    later.EarliestExpiry = Now + 15 * Day;

    const Row rows[] = {
        {"defaults: 200 is up", answer(), nullptr, true, "up", ""},
        {"a failure passes through", reset, nullptr, false, "connection reset", ""},
        {"its detail too", expired, nullptr, false, "certificate expired on 2026-12-01", ""},
        {"status not accepted", answer(302), nullptr, false, "HTTP status 302", ""},
        {"status in a range", answer(302),
         [](SiteChecks& c) {
             c.Statuses = {{200, 200}, {301, 302}};
         },
         true, "up", ""},
        {"stay: same host, other case and port", answer(), [](SiteChecks& c) { c.Stay = true; },
         true, "up", ""},
        {"stay: user part and a final dot are no host", userAndDot,
         [](SiteChecks& c) { c.Stay = true; }, true, "up", ""},
        {"stay: another host", away, [](SiteChecks& c) { c.Stay = true; }, false,
         "redirected to login.example.com", ""},
        {"another host without stay", away, nullptr, true, "up", ""},
        {"a peer's host: no line break, no longer than a host name", hostile,
         [](SiteChecks& c) { c.Stay = true; }, false,
         "redirected to evilfake line " + std::string(253 - 14, 'x'), ""},
        {"a certificate's name likewise", wrongName, nullptr, false, "certificate is for ab", ""},
        {"contains: found", answer(), [](SiteChecks& c) { c.Contains = "Add to cart"; }, true, "up",
         ""},
        {"contains: case counts", answer(), [](SiteChecks& c) { c.Contains = "add to cart"; },
         false, "text \"add to cart\" not found", ""},
        {"contains: beyond the checked bytes", deep,
         [](SiteChecks& c) { c.Contains = "Add to cart"; }, false, "text \"Add to cart\" not found",
         ""},
        {"lacks: found", answer(200, "Error 17"), [](SiteChecks& c) { c.Lacks = "Error"; }, false,
         "text \"Error\" found", ""},
        {"lacks: absent", answer(), [](SiteChecks& c) { c.Lacks = "Error"; }, true, "up", ""},
        {"a page a text check needed was not read", unread,
         [](SiteChecks& c) { c.Lacks = "Error"; }, false, "page could not be read", ""},
        {"status before the text", answer(500), [](SiteChecks& c) { c.Contains = "x"; }, false,
         "HTTP status 500", ""},
        {"certificate within the default days", expiring, nullptr, true, "up",
         "certificate of shop.example.com expires in 5 days, on 2026-12-14"},
        {"certdays=0 is off", expiring, [](SiteChecks& c) { c.CertDays = 0; }, true, "up", ""},
        {"certdays of the site over the default", expiring, [](SiteChecks& c) { c.CertDays = 4; },
         true, "up", ""},
        {"certificate beyond the days", later, nullptr, true, "up", ""},
        {"expires today", today, nullptr, true, "up",
         "certificate of shop.example.com expires today, on 2026-12-09"},
        {"expired, yet answered", gone, nullptr, true, "up",
         "certificate of shop.example.com expired on 2026-12-09"},
        {"slow and expiring, joined", slowAndExpiring, [](SiteChecks& c) { c.SlowMs = 2000; }, true,
         "up",
         "certificate of shop.example.com expires in 5 days, on 2026-12-14; "
         "slow: answered in 2500 ms (more than 2000 ms)"},
        {"not slower than slow=", answer(), [](SiteChecks& c) { c.SlowMs = 120; }, true, "up", ""},
    };
    for (const Row& row : rows) {
        SiteChecks checks;
        if (row.checks)
            row.checks(checks);
        const ProbeResult r = Judge(row.facts, checks, 14, Now);
        EXPECT_EQ(r.Up, row.up) << row.what;
        EXPECT_EQ(ReasonText(r), row.words) << row.what;
        EXPECT_EQ(r.Warning, row.warning) << row.what;
        EXPECT_EQ(r.Milliseconds, row.facts.Milliseconds) << row.what;
        EXPECT_EQ(r.CertExpiry, row.facts.EarliestExpiry) << row.what;
    }
    EXPECT_EQ(CertificateDate(0), "1970-01-01");
    EXPECT_EQ(CertificateDate(951782400), "2000-02-29");
}

// Where the way to a failed benchmark broke, in the words its reason begins with.
TEST(PathStep, EachStepFromItsFacts) {
    const ProbeResult refused = ProbeResult::Down(ProbeReason::Refused);
    const ProbeResult timedOut = ProbeResult::Down(ProbeReason::TimedOut, 2000);
    ProbeResult portal = ProbeResult::Down(ProbeReason::TextMissing, 5, 200, "Example Domain");
    const ProbeResult asks = ProbeResult::Down(ProbeReason::HttpStatus, 5, 407);
    const ProbeResult missing = ProbeResult::Down(ProbeReason::HttpStatus, 5, 404);
    PathFacts direct;
    direct.Lookup = NameLookup::Found;
    direct.Host = "bench.example";
    PathFacts offline = direct;
    offline.NetworkUp = false;
    PathFacts silentDns = direct;
    silentDns.Lookup = NameLookup::NoAnswer;
    PathFacts unknown = direct;
    unknown.Lookup = NameLookup::NotFound;
    PathFacts proxied;
    proxied.ThroughProxy = true;
    proxied.Proxy = "proxy:8080";
    const struct {
        const PathFacts& facts;
        const ProbeResult& result;
        const char* words;
    } rows[] = {
        {offline, timedOut, "this computer has no network"},
        {silentDns, timedOut, "the name server does not answer"},
        {unknown, timedOut, "the name server does not know bench.example"},
        {proxied, refused, "the proxy proxy:8080 does not answer or refuses"},
        {proxied, timedOut, "the proxy proxy:8080 does not answer or refuses"},
        {proxied, asks, "the proxy proxy:8080 refuses: it asks who is calling"},
        {direct, portal, "the benchmark page answers, but not with its own page (a sign-in page?)"},
        {proxied, portal,
         "the benchmark page answers, but not with its own page (a sign-in page?)"},
        {direct, refused, ""}, // the reason alone says it
        {direct, missing, ""},
        {direct, ProbeResult::Answered(3), ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PathStepWords(row.facts, row.result), row.words) << ReasonText(row.result);
    portal.Step = PathStepWords(direct, portal);
    EXPECT_EQ(ReasonText(portal), "the benchmark page answers, but not with its own page (a "
                                  "sign-in page?): text \"Example Domain\" not found");
}

// A probe's steps in lines, each as far as the probe got.
TEST(PathStep, DiagnoseLinesStopWhereTheProbeStopped) {
    PathFacts facts;
    facts.Lookup = NameLookup::Found;
    facts.Host = "shop.example";
    using Lines = std::vector<std::string>;
    EXPECT_EQ(DiagnoseLines("direct", facts, true, ProbeResult::Answered(40)),
              (Lines{"route: direct", "network: an adapter is up",
                     "name lookup: shop.example found", "connect: shop.example reached", "TLS: ok",
                     "HTTP answer: status 200", "verdict: up"}));
    PathFacts proxied;
    proxied.ThroughProxy = true;
    EXPECT_EQ(
        DiagnoseLines("proxy p:8080", proxied, true,
                      ProbeResult::Down(ProbeReason::CertUnknownAuthority)),
        (Lines{"route: proxy p:8080", "network: an adapter is up", "name lookup: left to the proxy",
               "connect: the proxy reached", "TLS: certificate from an unknown authority",
               "verdict: down: certificate from an unknown authority"}));
    facts.Lookup = NameLookup::NoAnswer;
    EXPECT_EQ(DiagnoseLines("direct", facts, false, ProbeResult::Down(ProbeReason::TimedOut, 500)),
              (Lines{"route: direct", "network: an adapter is up",
                     "name lookup: the name server does not answer",
                     "connect: failed (timed out after 500 ms)",
                     "verdict: down: timed out after 500 ms"}));
}
