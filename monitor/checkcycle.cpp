#include "checkcycle.h"

#include "base/text.h"
#include "settings/cusersettings.h"
#include "settings/settingsrules.h"

#include <algorithm>

namespace {

// Without the internet nothing can be judged: status words, log and mail stay as the last cycle
// that could see the sites left them.
void benchmarkDown(const CUserSettings& settings, CheckCycleHost& host) {
    host.SetTrayIcon(tsDisconnected);
    host.SetTip("Disconnected !");
    if (settings.Filter <= 1)
        host.WriteLog("Benchmark site not reached");
}

void recordSite(CUserSettings& settings, CheckCycleHost& host, CycleOutcome& outcome, int index,
                const std::string& url, const ProbeResult& result) {
    // The host may have changed the list meanwhile; only the entry that was probed gets its
    // status word.
    const bool stillListed = index < settings.UrlCount() && settings.Url(index) == url;
    if (result.Up) {
        outcome.Answered.push_back(url);
        if (stillListed)
            settings.SetUrlStatus(index, UrlStatusUp);
        if (settings.Filter <= 1)
            host.WriteLog("OK --- " + url);
        return;
    }
    outcome.Failed.push_back(url);
    host.AddFailedSite(url, result);
    host.WriteLog("Failed --- " + url);
    if (stillListed)
        settings.SetUrlStatus(index, 0);
}

std::string endCycle(const CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                     const CycleOutcome& outcome) {
    const AlertDecision mail =
        settings.Active ? policy.Decide(settings.Notify, outcome) : AlertDecision{};
    std::string downText = Join(outcome.Failed, "\r\n");
    if (downText.empty()) {
        host.SetTrayIcon(tsAllUp);
        downText = "Everything is OK !";
    } else {
        host.SetTrayIcon(tsSitesDown);
        if (mail.Report)
            host.SendStatusMail(downText);
    }
    if (!mail.BackUp.empty())
        host.SendBackUpMail(Join(mail.BackUp, "\r\n"));
    host.SetTip(downText);
    host.RefreshSettingsDialog();
    return downText;
}

} // namespace

void BeginCycle(CheckCycleHost& host) {
    host.SetTrayIcon(tsChecking);
    host.SetTip("Checking...");
    host.ClearFailedSites();
}

std::string ReportCycle(CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                        const CycleResults& results) {
    if (!results.Benchmark.Up) {
        benchmarkDown(settings, host);
        return {};
    }
    CycleOutcome outcome;
    for (std::size_t i = 0; i < results.Urls.size() && i < results.Sites.size(); ++i)
        recordSite(settings, host, outcome, static_cast<int>(i), results.Urls[i], results.Sites[i]);
    return endCycle(settings, host, policy, outcome);
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

bool StartCheck(const CUserSettings& settings, CheckCycleHost& host, CheckEngine& engine) {
    if (engine.Running())
        return false;
    BeginCycle(host);
    std::vector<std::string> urls;
    for (int i = 0; i < settings.UrlCount(); ++i)
        urls.push_back(settings.Url(i));
    return engine.StartCycle("http://" + settings.Benchmark, urls, EngineLimitsFor(settings));
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
