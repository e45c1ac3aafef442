#include "settings/proxysettings.h"

#include <gtest/gtest.h>

namespace {

ProxySettings fixed(const std::string& bypass) {
    ProxySettings s;
    s.Mode = ProxyMode::Fixed;
    s.Server = " proxy.corp:3128 ";
    s.Bypass = bypass;
    return s;
}

} // namespace

TEST(ProxySettings, BypassPatternsPortsAndLocalNames) {
    const std::string list = "intranet.corp; *.internal.corp,10.* <local>;[::1];db.corp:8443";
    struct Case {
        const char* host;
        unsigned port;
        bool direct;
    } cases[] = {
        {"INTRANET.corp.", 80, true},
        {"intranet.corp.example", 80, false},
        {"a.b.internal.corp", 443, true},
        {"internal.corp", 443, false},
        {"10.1.2.3", 80, true},
        {"110.1.2.3", 80, false},
        {"fileserver", 80, true},
        {"fileserver.corp", 80, false},
        {"::1", 80, true},
        {"db.corp", 8443, true},
        {"db.corp", 443, false},
        {"", 80, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProxyBypassed(list, c.host, c.port), c.direct) << c.host << ":" << c.port;
    EXPECT_TRUE(ProxyBypassed("*", "any.where", 1));
    EXPECT_FALSE(ProxyBypassed("", "any.where", 1));
    EXPECT_EQ(PlatformBypassList(" a.example, *.corp\t<local>;;10.* "),
              "a.example;*.corp;<local>;10.*");
}

TEST(ProxySettings, TheRouteOfEachProbe) {
    const ProxySettings s = fixed("*.corp;<local>");
    EXPECT_EQ(PlanProxy(s, "https://shop.example:8443/x", false),
              (ProxyRoute{ProxyRouteKind::Named, "proxy.corp:3128", ""}));
    EXPECT_EQ(PlanProxy(s, "http://user:pw@wiki.corp/", false).Kind, ProxyRouteKind::Direct);
    EXPECT_EQ(PlanProxy(s, "http://printer/", false).Kind, ProxyRouteKind::Direct);
    EXPECT_EQ(PlanProxy(s, "https://shop.example/", true).Kind, ProxyRouteKind::Direct)
        << "proxy=none of the site wins";

    ProxySettings pac;
    pac.Mode = ProxyMode::Pac;
    pac.Pac = "http://wpad.corp/proxy.pac";
    EXPECT_EQ(PlanProxy(pac, "http://shop.example/", false),
              (ProxyRoute{ProxyRouteKind::Pac, "", "http://wpad.corp/proxy.pac"}));
    EXPECT_EQ(PlanProxy(ProxySettings{}, "http://shop.example/", false).Kind,
              ProxyRouteKind::Platform);
    ProxySettings none;
    none.Mode = ProxyMode::None;
    EXPECT_EQ(PlanProxy(none, "http://shop.example/", false).Kind, ProxyRouteKind::Direct);

    EXPECT_EQ(HostPortOf("https://[::1]:8443/x").Host, "::1");
    EXPECT_EQ(HostPortOf("https://[::1]:8443/x").Port, 8443u);
    EXPECT_EQ(HostPortOf("HTTPS://Shop.Example/").Port, 443u);
    EXPECT_EQ(HostPortOf("http://shop.example:99999/").Port, 80u) << "no port, the scheme's";
}

TEST(ProxySettings, ProblemsInWords) {
    EXPECT_EQ(ProxyProblem("", "", "", ""), "");
    EXPECT_EQ(ProxyProblem(" Fixed ", "", "proxy.corp:8080", "*.corp;<local>"), "");
    EXPECT_EQ(ProxyProblem("pac", "https://wpad.corp/p.pac", "", ""), "");
    EXPECT_EQ(ProxyProblem("manual", "", "", ""),
              "The proxy mode \"manual\" is not known: write automatic, none, pac or fixed.");
    EXPECT_EQ(ProxyProblem("pac", "file:///c:/p.pac", "", ""),
              "The proxy mode pac needs the PAC file's address, beginning with http:// or "
              "https://.");
    for (const char* server : {"", "proxy.corp", "proxy.corp:0", "proxy.corp:65536", ":8080",
                               "http://proxy.corp:8080", "proxy.corp:80x"})
        EXPECT_EQ(ProxyProblem("fixed", "", server, ""),
                  "The proxy server must be written host:port, as in proxy.example.com:8080.")
            << server;
    EXPECT_EQ(ProxyProblem("fixed", "", "[fd00::1]:3128", ""), "");
    EXPECT_EQ(ProxyProblem("none", "", "", "http://x.corp"),
              "The proxy bypass list holds \"http://x.corp\": write host names, *.domain "
              "patterns or <local>, separated by \";\".");
}
