#include "settings/sitechecks.h"

#include <gtest/gtest.h>

namespace {

SiteChecks read(const std::string& text) {
    std::string problem;
    const std::optional<SiteChecks> checks = ReadSiteChecks(text, problem);
    EXPECT_TRUE(checks) << text << ": " << problem;
    return checks.value_or(SiteChecks{});
}

std::string refusal(const std::string& text) {
    std::string problem;
    EXPECT_FALSE(ReadSiteChecks(text, problem)) << text;
    return problem;
}

} // namespace

TEST(SiteChecks, Readings) {
    EXPECT_EQ(read(""), SiteChecks{});
    EXPECT_EQ(read(" ; ;"), SiteChecks{}) << "empty parts ask for nothing";
    const SiteChecks all = read(" Status = 200, 301-302 ;redirects=0;contains=Add to cart;"
                                "lacks=\"Error; \"\"fatal\"\" \";STAY=1;certdays=0;slow=1500");
    EXPECT_EQ(all.Statuses, (std::vector<StatusRange>{{200, 200}, {301, 302}}));
    EXPECT_EQ(all.Redirects, 0);
    EXPECT_EQ(all.Contains, "Add to cart");
    EXPECT_EQ(all.Lacks, "Error; \"fatal\" ");
    EXPECT_TRUE(all.Stay);
    EXPECT_EQ(all.CertDays, 0) << "0 is set (off), not absent";
    EXPECT_EQ(all.SlowMs, 1500u);
    EXPECT_EQ(read("contains=a=b \"c\"").Contains, "a=b \"c\"") << "quotes inside stay as typed";
    EXPECT_EQ(read("redirects=12;certdays=3650;slow=600000;status=100-599").Redirects, 12);
}

TEST(SiteChecks, RefusalsSayWhatToFix) {
    EXPECT_EQ(refusal("contains="), "\"contains\" needs a text.");
    EXPECT_EQ(refusal("redirects=13"), "redirects must be 0 to 12.");
    EXPECT_EQ(refusal("something"), "\"something\" needs \"=\" and a value, as in something=...");
    EXPECT_EQ(refusal("status=200;STATUS=301"), "\"status\" is given twice.");
    EXPECT_EQ(refusal("colour=red"),
              "\"colour\" is no option: the options are status, redirects, contains, lacks, "
              "stay, certdays, slow, proxy, auth, user, pass or cert.");
    EXPECT_EQ(refusal("=5"), "An option has no name before its \"=\".");
    EXPECT_EQ(refusal("status=302-301"),
              "The status range 302-301 must go from the lower code to the higher.");
    EXPECT_EQ(refusal("lacks=\"open"), "The value of \"lacks\" lacks its closing quote.");
    for (const char* bad : {"status=",       "status=abc",    "status=99",
                            "status=600",    "status=200,",   "status=-200",
                            "status=0x12C",  "redirects=-1",  "redirects=",
                            "stay=2",        "stay=yes",      "certdays=3651",
                            "slow=0",        "slow=600001",   "slow=99999999999",
                            "lacks=\"a\" b", "contains=a\tb", "contains=\xC2\x85",
                            "contains=\xFF", "contains=\"\""})
        EXPECT_NE(refusal(bad), "") << bad;
    EXPECT_NE(refusal("contains=" + std::string(MaxCheckText + 1, 'x')), "");
    std::string codes = "status=200";
    while (codes.size() <= MaxSiteChecksText)
        codes += ",200";
    EXPECT_EQ(refusal(codes), "The checks are longer than 2047 bytes.");
    EXPECT_EQ(read("contains=" + std::string(MaxCheckText, 'x')).Contains->size(), MaxCheckText);
}

TEST(SiteChecks, WhatIsWrittenReadsBackEqual) {
    EXPECT_EQ(WriteSiteChecks(SiteChecks{}), "") << "the defaults need no words";
    for (const char* text :
         {"status=200,301-302;redirects=0;contains=Add to cart;lacks=Error;stay=1;certdays=5;"
          "slow=2000",
          "contains=\"a;b\"", "lacks=\" padded \"", "contains=\"\"\"quoted\"\"\"",
          "contains=\"semi;\"\"quote\"\" \"", "certdays=14", "status=404"}) {
        const SiteChecks checks = read(text);
        const std::string written = WriteSiteChecks(checks);
        EXPECT_EQ(written, text) << "canonical texts are written as they are";
        EXPECT_EQ(read(written), checks) << written;
    }
    EXPECT_EQ(WriteSiteChecks(read(" SLOW = 5 ; status = 200 ; contains = x ")),
              "contains=x;slow=5")
        << "the table's order, lower case, only what differs from the defaults";
}

TEST(SiteChecks, HowASiteIsReachedAndWhoCalls) {
    const SiteChecks basic = read("proxy=NONE;auth=basic;user=CORP\\probe;pass=\"s;cret\";"
                                  "cert=ab 12:" +
                                  std::string(36, 'c'));
    EXPECT_TRUE(basic.Direct);
    EXPECT_EQ(basic.Auth, SiteAuth::Basic);
    EXPECT_EQ(basic.User, "CORP\\probe");
    EXPECT_EQ(basic.Pass, "s;cret");
    EXPECT_EQ(basic.Cert, "AB12" + std::string(36, 'C')) << "as viewers show it, kept bare";
    EXPECT_EQ(read(WriteSiteChecks(basic)), basic);
    EXPECT_EQ(read("auth=default").Auth, SiteAuth::Default);
    EXPECT_EQ(refusal("auth=ntlm"), "auth=ntlm needs user= and pass=.");
    EXPECT_EQ(refusal("user=x;pass=y"), "user= and pass= go with auth=basic or auth=ntlm.");
    EXPECT_EQ(refusal("auth=default;user=x"), "user= and pass= go with auth=basic or auth=ntlm.");
    EXPECT_EQ(refusal("proxy=fixed"), "proxy= can only be none (this site goes direct).");
    EXPECT_EQ(refusal("cert=abc"),
              "cert= must be the certificate's SHA-1 thumbprint: 40 hexadecimal digits.");
    EXPECT_NE(refusal("cert=" + std::string(40, 'g')), "");

    // What leaves the service names no password, and only one that was set.
    EXPECT_EQ(MaskedChecks("auth=basic;user=u;pass=protected:QUJD"), "auth=basic;user=u;pass=***");
    EXPECT_EQ(MaskedChecks("status=404"), "status=404");
    EXPECT_EQ(MaskedChecks("pass=secret;colour=red"), "pass=***") << "an unread text leaks none";
}
