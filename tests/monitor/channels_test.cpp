// What the machine's own monitoring is told about a cycle: the site changes for the event log
// and the Prometheus text. The text's syntax is checked by promtool (metrics_sample.cpp); here
// what it says.
#include "monitor/metricstext.h"
#include "monitor/sitetransitions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

CycleResults cycle(std::vector<std::pair<std::string, ProbeResult>> sites, bool benchmark = true) {
    CycleResults r;
    r.Benchmark = benchmark ? ProbeResult::Answered(5) : ProbeResult::Down(ProbeReason::Refused);
    if (!benchmark)
        return r;
    for (auto& [url, result] : sites) {
        r.Urls.push_back(url);
        r.Sites.push_back(result);
    }
    return r;
}

const ProbeResult up = ProbeResult::Answered(42);
const ProbeResult notFound = ProbeResult::Down(ProbeReason::HttpStatus, 7, 404);

std::vector<std::string> changes(SiteTransitions& t, const CycleResults& r) {
    std::vector<std::string> out;
    for (const SiteChange& c : t.Update(r))
        out.push_back((c.What == SiteChange::Warned     ? "warned "
                       : c.What == SiteChange::CameBack ? "up "
                                                        : "down ") +
                      c.Url);
    return out;
}

ProbeResult warnedOf(const char* words) {
    ProbeResult r = ProbeResult::Answered(42);
    r.Warning = words;
    return r;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(SiteTransitions, EntriesOnlyOnChangeAndAnOutageAtStartCounts) {
    SiteTransitions t;
    EXPECT_EQ(changes(t, cycle({{"http://a/", up}, {"http://b/", notFound}})),
              (Lines{"down http://b/"}));
    EXPECT_EQ(changes(t, cycle({{"http://a/", up}, {"http://b/", notFound}})), Lines{});
    // The benchmark down says nothing about the sites: no change, and none lost.
    EXPECT_EQ(changes(t, cycle({}, false)), Lines{});
    EXPECT_EQ(changes(t, cycle({{"http://a/", notFound}, {"http://b/", up}, {"http://b/", up}})),
              (Lines{"down http://a/", "up http://b/"}));
    // A site taken off the list and put back is new again: up says nothing.
    EXPECT_EQ(changes(t, cycle({{"http://b/", up}})), Lines{});
    EXPECT_EQ(changes(t, cycle({{"http://a/", up}, {"http://b/", up}})), Lines{});
}

TEST(SiteTransitions, AWarningIsAnEntryWhenItBeginsNotWhileItLasts) {
    SiteTransitions t;
    EXPECT_EQ(changes(t, cycle({{"http://a/", warnedOf("slow")}})), Lines{"warned http://a/"});
    EXPECT_EQ(changes(t, cycle({{"http://a/", warnedOf("slower")}})), Lines{});
    EXPECT_EQ(changes(t, cycle({{"http://a/", up}})), Lines{});
    EXPECT_EQ(changes(t, cycle({{"http://a/", notFound}})), Lines{"down http://a/"});
    EXPECT_EQ(changes(t, cycle({{"http://a/", warnedOf("slow")}})),
              (Lines{"up http://a/", "warned http://a/"}));
}

TEST(MetricsText, WarningsAndCertificateExpiryPerSite) {
    ProbeResult expiring = warnedOf("certificate of a expires in 5 days, on 2026-12-14");
    expiring.CertExpiry = 1797206400;
    ProbeResult plain = up;
    plain.CertExpiry = 1900000000;
    const std::string text = MetricsText(
        cycle({{"https://u:pw@a/", expiring}, {"https://b/", plain}, {"http://c/", up}}), 1, 1);
    EXPECT_NE(text.find("\nvigrel_site_warning_info{url=\"https://a/\",reason=\"certificate of a "
                        "expires in 5 days, on 2026-12-14\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nvigrel_site_certificate_expiry_timestamp_seconds{url=\"https://a/\"} "
                        "1797206400\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("{url=\"https://b/\"} 1900000000\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("warning_info{url=\"https://b/"), std::string::npos) << text;
    EXPECT_EQ(text.find("expiry_timestamp_seconds{url=\"http://c/"), std::string::npos) << text;
    EXPECT_EQ(text.find("vigrel_site_down_info"), std::string::npos) << text;
}

TEST(SiteTransitions, UserInfoNeverLeavesTheProgram) {
    EXPECT_EQ(UrlWithoutUserInfo("https://me:s3cr@t@host:8080/p?q=@x#f"),
              "https://host:8080/p?q=@x#f");
    EXPECT_EQ(UrlWithoutUserInfo("http://host/a@b"), "http://host/a@b");
    EXPECT_EQ(UrlWithoutUserInfo("host@x/path"), "host@x/path");
}

TEST(MetricsText, LabelValuesAreEscapedAndAlwaysUtf8) {
    EXPECT_EQ(MetricsLabelValue("a\\b\"c\nd\te"), "a\\\\b\\\"c\\nd\te");
    EXPECT_EQ(MetricsLabelValue("\xC3\xA9\xFF"
                                "x\xE2\x82"),
              "\xC3\xA9\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(MetricsText, SitesOnceEachWithTheirReasonAndTheCycleFigures) {
    const std::string text = MetricsText(cycle({{"http://a/", up},
                                                {"http://u:pw@b/", notFound},
                                                {"http://b/", up},
                                                {"http://a/", notFound}}),
                                         1234, 1700000000);
    const auto has = [&](const std::string& line) {
        return text.find("\n" + line + "\n") != std::string::npos;
    };
    EXPECT_TRUE(has("vigrel_benchmark_up 1")) << text;
    EXPECT_TRUE(has("vigrel_cycle_duration_seconds 1.234")) << text;
    EXPECT_TRUE(has("vigrel_cycle_end_time_seconds 1700000000")) << text;
    EXPECT_TRUE(has("vigrel_sites_down 1")) << text;
    EXPECT_TRUE(has("vigrel_site_up{url=\"http://a/\"} 1")) << text;
    EXPECT_TRUE(has("vigrel_site_up{url=\"http://b/\"} 0")) << text;
    EXPECT_TRUE(has("vigrel_site_response_time_seconds{url=\"http://a/\"} 0.042")) << text;
    EXPECT_TRUE(has("vigrel_site_down_info{url=\"http://b/\",reason=\"HTTP status 404\"} 1"))
        << text;
    EXPECT_EQ(text.find("pw"), std::string::npos) << text;
    EXPECT_EQ(text.find("\r"), std::string::npos);
    size_t samples = 0;
    for (size_t at = text.find("vigrel_site_up{"); at != std::string::npos;
         at = text.find("vigrel_site_up{", at + 1))
        ++samples;
    EXPECT_EQ(samples, 2u) << "one series per address";
}

TEST(MetricsText, ABenchmarkDownLeavesTheSitesUnknown) {
    const std::string text = MetricsText(cycle({}, false), 500, 1);
    EXPECT_NE(text.find("\nvigrel_build_info{version=\"" VIGREL_VERSION "\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nvigrel_benchmark_up 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nvigrel_sites_down 0\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("vigrel_site_"), std::string::npos) << text;
}
