#include "checkcycle.h"

#include "base/text.h"
#include "monitor/sitetransitions.h"
#include "settings/cusersettings.h"
#include "settings/settingsrules.h"

#include <algorithm>
#include <ctime>

namespace {

void recordSite(CUserSettings& settings, CheckCycleHost& host, CycleOutcome& outcome, int index,
                const std::string& url, const ProbeResult& result) {
    // The host may have changed the list meanwhile; only the entry that was probed gets its
    // status word.
    const bool stillListed = index < settings.UrlCount() && settings.Url(index) == url;
    const std::string shown = UrlWithMaskedPassword(url);
    if (result.Up) {
        outcome.Answered.push_back(url);
        if (stillListed)
            settings.SetUrlStatus(index, UrlStatusUp);
        if (settings.Filter <= 1)
            host.WriteLog("OK --- " + shown);
        if (!result.Warning.empty()) {
            outcome.Warned.emplace_back(url, result.Warning);
            host.AddWarnedSite(shown, result);
            if (settings.Filter <= 1)
                host.WriteLog("Warning --- " + shown + ": " + result.Warning);
        }
        return;
    }
    outcome.Failed.push_back(url);
    host.AddFailedSite(shown, result);
    host.WriteLog("Failed --- " + shown);
    if (stillListed)
        settings.SetUrlStatus(index, 0);
}

std::string shownList(const std::vector<std::string>& urls) {
    std::vector<std::string> shown;
    for (const std::string& url : urls)
        shown.push_back(UrlWithMaskedPassword(url));
    return Join(shown, "\r\n");
}

CycleOutcome outcomeOf(const CycleResults& results) {
    CycleOutcome outcome;
    for (std::size_t i = 0; i < results.Urls.size() && i < results.Sites.size(); ++i) {
        const ProbeResult& result = results.Sites[i];
        if (!result.Up)
            outcome.Failed.push_back(results.Urls[i]);
        else
            outcome.Answered.push_back(results.Urls[i]);
        if (result.Up && !result.Warning.empty())
            outcome.Warned.emplace_back(results.Urls[i], result.Warning);
    }
    return outcome;
}

} // namespace

void StatusReport::CycleStarted() {
    BeginCycle(host_);
}

void StatusReport::CycleDone(const CycleReport& report) {
    const CycleResults& results = report.Results;
    downText_.clear();
    // Without the internet nothing can be judged: status words, log and mail stay as the last
    // cycle that could see the sites left them.
    if (!results.Benchmark.Up) {
        host_.SetTrayIcon(tsDisconnected);
        host_.SetTip("Disconnected !");
        if (settings_.Filter <= 1)
            host_.WriteLog("Benchmark site not reached");
        return;
    }
    CycleOutcome outcome;
    for (std::size_t i = 0; i < results.Urls.size() && i < results.Sites.size(); ++i)
        recordSite(settings_, host_, outcome, static_cast<int>(i), results.Urls[i],
                   results.Sites[i]);
    downText_ = shownList(outcome.Failed);
    if (downText_.empty()) {
        host_.SetTrayIcon(outcome.Warned.empty() ? tsAllUp : tsWarnings);
        downText_ = "Everything is OK !";
    } else {
        host_.SetTrayIcon(tsSitesDown);
    }
    host_.SetTip(downText_);
    host_.RefreshSettingsDialog();
}

MailReport::MailReport(const CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                       std::function<long()> today)
    : settings_(settings), host_(host), policy_(policy), today_(std::move(today)) {}

void MailReport::CycleDone(const CycleReport& report) {
    // A cycle that could not see the sites says nothing about them.
    if (!report.Results.Benchmark.Up || !settings_.Active)
        return;
    const CycleOutcome outcome = outcomeOf(report.Results);
    const AlertDecision mail = policy_.Decide(settings_.Notify, outcome, today_ ? today_() : 0);
    std::vector<std::string> warnings;
    for (const auto& [url, words] : mail.Warnings)
        warnings.push_back(UrlWithMaskedPassword(url) + ": " + words);
    const std::string warningText = Join(warnings, "\r\n");
    if (mail.Report)
        host_.SendStatusMail(shownList(outcome.Failed), warningText);
    else if (!warningText.empty())
        host_.SendStatusMail({}, warningText);
    if (!mail.BackUp.empty())
        host_.SendBackUpMail(shownList(mail.BackUp));
}

long UtcDayNumber() {
    return static_cast<long>(std::time(nullptr) / 86400);
}

void BeginCycle(CheckCycleHost& host) {
    host.SetTrayIcon(tsChecking);
    host.SetTip("Checking...");
    host.ClearFailedSites();
}

std::string ReportCycle(CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                        const CycleResults& results) {
    StatusReport status(settings, host);
    MailReport mail(settings, host, policy, UtcDayNumber);
    const CycleReport report{results, "http://" + settings.Benchmark};
    CycleOutputs{&status, &mail}.CycleDone(report);
    return status.DownText();
}

EngineLimits EngineLimitsFor(const CUserSettings& settings) {
    const auto within = [](std::int32_t value, SettingRange range) {
        return std::clamp(value, range.min, range.max);
    };
    EngineLimits limits;
    limits.Parallel = within(settings.Parallel, ParallelRange);
    limits.Retries = within(settings.Retries, RetriesRange);
    limits.TimeOut = settings.ProbeTimeOut();
    return limits;
}

SiteRecord SiteForCheck(const CUserSettings& settings, int index) {
    SiteRecord site = settings.SiteAt(index);
    if (!site.Checks.CertDays)
        site.Checks.CertDays = std::clamp(settings.CertDays, 0, MaxCertDays);
    return site;
}

std::vector<SiteRecord> SitesForCheck(const CUserSettings& settings,
                                      const std::vector<std::string>& urls) {
    std::vector<SiteRecord> sites;
    const auto proxy = std::make_shared<const ProxySettings>(settings.Proxy());
    for (const std::string& url : urls) {
        int listed = 0;
        while (listed < settings.UrlCount() && settings.Url(listed) != url)
            ++listed;
        SiteRecord site =
            listed < settings.UrlCount() ? settings.SiteAt(listed) : SiteRecord{url, {}};
        if (!site.Checks.CertDays)
            site.Checks.CertDays = std::clamp(settings.CertDays, 0, MaxCertDays);
        site.Proxy = proxy;
        sites.push_back(std::move(site));
    }
    return sites;
}

bool StartCheck(const CUserSettings& settings, CheckEngine& engine) {
    if (engine.Running())
        return false;
    std::vector<SiteRecord> sites;
    const auto proxy = std::make_shared<const ProxySettings>(settings.Proxy());
    for (int i = 0; i < settings.UrlCount(); ++i) {
        sites.push_back(SiteForCheck(settings, i));
        sites.back().Proxy = proxy;
    }
    // The benchmark only tells whether the internet is there: the default checks, and the
    // same way out as the sites.
    return engine.StartCycle(SiteRecord{"http://" + settings.Benchmark, {}, proxy},
                             std::move(sites), EngineLimitsFor(settings));
}

bool StartCheck(const CUserSettings& settings, CheckCycleHost& host, CheckEngine& engine) {
    if (engine.Running())
        return false;
    BeginCycle(host);
    return StartCheck(settings, engine);
}

std::uint32_t ScheduleRule::IntervalFor(std::int32_t timeSpan) {
    if (timeSpan < 1)
        return 0;
    // A Windows timer takes at most 0x7FFFFFFF ms (about 24.8 days); a longer TimeSpan would
    // wrap around in 32 bits and fire far too early.
    constexpr std::uint64_t maximum = 0x7FFFFFFF;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(timeSpan) * 60000u, maximum));
}

bool ScheduleRule::Arm(std::int32_t timeSpan) {
    const bool enabled = timeSpan >= 1;
    const std::uint32_t interval = IntervalFor(timeSpan);
    const bool changed = enabled != enabled_ || interval != interval_;
    enabled_ = enabled;
    interval_ = interval;
    return changed;
}
