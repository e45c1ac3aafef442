#include "checkcycle.h"

#include "base/text.h"
#include "monitor/sitetransitions.h"
#include "settings/cusersettings.h"
#include "settings/settingsrules.h"

#include <algorithm>
#include <ctime>
#include <optional>

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

// The warnings a mail may tell: those of sites answering outside a maintenance window.
std::vector<std::pair<std::string, std::string>>
warningsOf(const CycleResults& results, const AlertRulesSettings& rules, std::int64_t now) {
    std::vector<std::pair<std::string, std::string>> warned;
    for (std::size_t i = 0; i < results.Urls.size() && i < results.Sites.size(); ++i) {
        const ProbeResult& result = results.Sites[i];
        if (result.Up && !result.Warning.empty() &&
            !AlertRules::InMaintenance(rules, results.Urls[i], now))
            warned.emplace_back(results.Urls[i], result.Warning);
    }
    return warned;
}

// The lines of the message that the mail has no part of its own for.
std::string notesOf(const AlertMessage& message) {
    std::vector<std::string> notes;
    for (const SiteAlert& alert : message.Changes)
        if (alert.What == SiteAlert::Flapping)
            notes.push_back(AlertLine(alert, message.Time));
    if (message.Link)
        notes.push_back(LinkNoticeLine(*message.Link));
    return Join(notes, "\r\n");
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
        // Where the way out broke, when the probe could tell (monitor/pathstep.h).
        if (settings_.Filter <= 1)
            host_.WriteLog(results.Benchmark.Step.empty()
                               ? "Benchmark site not reached"
                               : "Benchmark site not reached: " + ReasonText(results.Benchmark));
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

AlertReport::AlertReport(const CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                         std::function<long()> today, std::function<std::int64_t()> now)
    : settings_(settings), host_(host), policy_(policy), today_(std::move(today)),
      now_(std::move(now)) {}

void AlertReport::CycleDone(const CycleReport& report) {
    const AlertRulesSettings rules = AlertRulesFor(settings_);
    const std::int64_t now = now_ ? now_() : 0;
    const AlertMessage message = rules_.Cycle(report.Results, now, rules);
    if (OnMessage && !message.Empty())
        OnMessage(message);
    // A cycle that could not see the sites says nothing about them.
    if (!report.Results.Benchmark.Up || !settings_.Active)
        return;
    const AlertView& view = rules_.View();
    CycleOutcome outcome{view.Failed, view.Answered, warningsOf(report.Results, rules, now)};
    outcome.Remind = !view.Remind.empty();
    const AlertDecision mail = policy_.Decide(settings_.Notify, outcome, today_ ? today_() : 0);
    std::vector<std::string> warnings;
    for (const auto& [url, words] : mail.Warnings)
        warnings.push_back(UrlWithMaskedPassword(url) + ": " + words);
    CycleMail cycleMail{mail.Report ? shownList(outcome.Failed) : std::string(),
                        shownList(mail.BackUp), Join(warnings, "\r\n"), notesOf(message)};
    if (!cycleMail.Report.empty() || !cycleMail.BackUp.empty() || !cycleMail.Warnings.empty())
        host_.SendAlertMail(cycleMail);
}

AlertRulesSettings AlertRulesFor(const CUserSettings& settings) {
    AlertRulesSettings rules;
    rules.UpAfter = settings.UpAfter;
    rules.Remind = settings.Remind;
    for (const std::string& line : settings.Maintenance) {
        std::string problem;
        if (std::optional<MaintenanceWindow> window = ReadMaintenanceWindow(line, problem))
            rules.Windows.push_back(std::move(*window));
    }
    return rules;
}

std::vector<WebhookChannel> SendingWebhooks(const CUserSettings& settings) {
    std::vector<WebhookChannel> channels;
    for (const WebhookChannel& channel : settings.Webhooks)
        if (!channel.Name.empty() && channel.Address.size() > 8 &&
            SameText(channel.Address.substr(0, 8), "https://"))
            channels.push_back(channel);
    return channels;
}

std::string MaintenanceStatusText(const CUserSettings& settings, std::int64_t now) {
    const AlertRulesSettings rules = AlertRulesFor(settings);
    std::optional<std::int64_t> until; // the end of the latest window over every site
    for (const MaintenanceWindow& window : rules.Windows)
        if (const std::optional<std::int64_t> end = MaintenanceEnd(window, now);
            end && window.Sites.empty())
            until = std::max(until.value_or(*end), *end);
    if (until)
        return "in maintenance until " + AlertClockText(*until, now);
    int covered = 0;
    for (int i = 0; i < settings.UrlCount(); ++i)
        covered += AlertRules::InMaintenance(rules, settings.Url(i), now) ? 1 : 0;
    if (covered == 0)
        return {};
    return std::to_string(covered) + (covered == 1 ? " site" : " sites") + " in maintenance";
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
    AlertReport mail(settings, host, policy, UtcDayNumber,
                     [] { return static_cast<std::int64_t>(std::time(nullptr)); });
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
    // same way out as the sites; with BenchmarkText, a page without it is not its own (a
    // sign-in page between this computer and the internet).
    SiteChecks benchmark;
    if (!settings.BenchmarkText.empty())
        benchmark.Contains = settings.BenchmarkText;
    return engine.StartCycle(SiteRecord{"http://" + settings.Benchmark, benchmark, proxy, true},
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
