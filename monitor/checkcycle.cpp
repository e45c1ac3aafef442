#include "checkcycle.h"

#include "base/text.h"
#include "settings/cusersettings.h"

#include <algorithm>

std::string CheckSites(CUserSettings& settings, CheckCycleHost& host) {
    AlertPolicy policy;
    return CheckSites(settings, host, policy);
}

std::string CheckSites(CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy) {
    host.SetTrayIcon(tsChecking);
    host.SetTip("Checking...");

    CycleOutcome outcome;
    host.ClearFailedSites();

    if (!host.ProbeUrl("http://" + settings.Benchmark)) {
        // Without the internet nothing can be judged: status words, log and mail stay as the
        // last cycle that could see the sites left them.
        host.SetTrayIcon(tsDisconnected);
        host.SetTip("Disconnected !");
        if (settings.Filter <= 1)
            host.WriteLog("Benchmark site not reached");
        return {};
    }

    // The count is read before every pass: the list may grow while a cycle runs.
    for (int i = 0; i < settings.UrlCount(); ++i) {
        // A copy: the host may run other code while it probes.
        const std::string url = settings.Url(i);
        const bool up = host.ProbeUrl(url);
        // The host may have shortened the list meanwhile; only an entry that still exists
        // gets its status word.
        const bool stillListed = i < settings.UrlCount();
        if (up) {
            outcome.Answered.push_back(url);
            if (stillListed)
                settings.SetUrlStatus(i, UrlStatusUp);
            if (settings.Filter <= 1)
                host.WriteLog("OK --- " + url);
            continue;
        }
        outcome.Failed.push_back(url);
        host.AddFailedSite(url);
        host.WriteLog("Failed --- " + url);
        if (stillListed)
            settings.SetUrlStatus(i, 0);
    }

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
