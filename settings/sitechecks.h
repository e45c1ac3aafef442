// A site of the list: its address and the checks written beside it in the settings file.
//
// A [URLS] line keeps its old form, address=value; the value, when it reads as options, is the
// site's checks, separated by ";":
//   status=200,301-302  redirects=N  contains=TEXT  lacks=TEXT  stay=1  certdays=N  slow=MS
//   proxy=none  auth=default|basic|ntlm  user=NAME  pass=PASSWORD  cert=THUMBPRINT
// pass= is kept in the file as "protected:" and the base64 of the platform's protection of it
// (settings/cusersettings.h); a password written there by hand is protected at the next save.
// A value holding ";" or blanks at its ends is written in double quotes ("" for a quote). An
// empty value asks for nothing: up is status 200 after at most 12 redirects.
//
// Portable: the settings, the engine, the prober and the judge all read this one record.
#pragma once

#include "settings/proxysettings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The most redirects a probe follows, whatever a site asks for.
constexpr int MaxSiteRedirects = 12;
// The most a text check may name, in bytes of UTF-8.
constexpr std::size_t MaxCheckText = 512;
// The most a site's checks may take in all, in bytes, as any other text of the settings: a
// longer value (a status list of thousands of codes) is no checks a person wrote.
constexpr std::size_t MaxSiteChecksText = 2047;
// The most certdays= and [General] CertDays may be.
constexpr int MaxCertDays = 3650;

// Who the site is told is calling.
enum class SiteAuth {
    None,
    Default, // Negotiate or NTLM with the service account's own credentials
    Basic,   // User and Pass
    Ntlm,    // User and Pass, by NTLM or Negotiate
};

struct StatusRange {
    std::uint32_t First = 200;
    std::uint32_t Last = 200;
    bool operator==(const StatusRange&) const = default;
};

struct SiteChecks {
    // Accepted status codes of the last answer; never empty.
    std::vector<StatusRange> Statuses{StatusRange{}};
    // Redirects followed, 0 to MaxSiteRedirects; with 0 the first answer is judged.
    int Redirects = MaxSiteRedirects;
    // Down unless the page holds Contains; down when it holds Lacks (case-sensitive).
    std::optional<std::string> Contains;
    std::optional<std::string> Lacks;
    // Down when the redirects end on another host than the address's.
    bool Stay = false;
    // Warning when a certificate of the chain expires within this many days; 0 off; absent:
    // [General] CertDays.
    std::optional<int> CertDays;
    // Warning when the answer takes longer than this many milliseconds.
    std::optional<std::uint32_t> SlowMs;

    // proxy=none: this site goes direct, whatever [Proxy] says.
    bool Direct = false;
    SiteAuth Auth = SiteAuth::None;
    std::string User;
    // As the text holds it: "protected:..." or, until the next save, as typed.
    std::string Pass;
    // The client certificate's SHA-1 thumbprint in the machine's personal store: 40 hex
    // digits, upper case; empty: none.
    std::string Cert;

    // Whether the prober must read the page for these checks.
    bool WantsBody() const { return Contains.has_value() || Lacks.has_value(); }
    bool operator==(const SiteChecks&) const = default;
};

struct SiteRecord {
    std::string Url;
    SiteChecks Checks;
    // The way out for the probe ([Proxy]); none: the platform's own (automatic).
    std::shared_ptr<const ProxySettings> Proxy = nullptr;
    // The benchmark: a failure is traced step by step along the way out (monitor/pathstep.h).
    bool Benchmark = false;
};

// The checks a [URLS] value (or the pipe's, or the dialog's) stands for; nullopt with problem in
// words a user can act on ("status=abc is no status code.") when it does not read as options.
// An empty value reads as the defaults.
std::optional<SiteChecks> ReadSiteChecks(std::string_view text, std::string& problem);
// The value that reads back as checks: only the options that differ from the defaults, in the
// order of the table above; empty for the defaults.
std::string WriteSiteChecks(const SiteChecks& checks);

// What stands for a site's password wherever the checks leave the service (the pipe).
constexpr const char* MaskedSitePass = "***";
// The checks text as it may leave the service: pass= as MaskedSitePass. A text that does not
// read but names pass= becomes "pass=***" alone, so that nothing of it leaks.
std::string MaskedChecks(const std::string& text);
