// One check cycle over the benchmark and the URL list, independent of any window system: the
// engine probes, and what the answers mean for the icon, the menu, the log and the mail is here.
// The main form runs it with itself as host; tests run it with a recording fake.
#pragma once

#include "monitor/alertpolicy.h"
#include "monitor/checkengine.h"
#include "monitor/proberesult.h"

#include <cstdint>
#include <string>

class CUserSettings;

// 4 is the companion's own picture (the monitor is not running); 5 is every site up, some with
// warnings.
enum TrayState : int {
    tsAllUp = 0,
    tsSitesDown = 1,
    tsChecking = 2,
    tsDisconnected = 3,
    tsWarnings = 5
};

// What the cycle needs from the rest of the program.
class CheckCycleHost {
public:
    virtual ~CheckCycleHost() = default;
    virtual void SetTrayIcon(int state) = 0;
    virtual void SetTip(const std::string& tip) = 0;
    // Empties the failed-sites menu, and appends one item to it with what its probe found.
    virtual void ClearFailedSites() = 0;
    virtual void AddFailedSite(const std::string& url, const ProbeResult& result) = 0;
    virtual void WriteLog(const std::string& text) = 0;
    // Hands the report to the alert mail; may wait for an earlier mail to finish.
    virtual void SendStatusMail(const std::string& report) = 0;
    // Hands the sites that answer again (joined by CR LF) to the alert mail, like a report.
    virtual void SendBackUpMail(const std::string& sites) = 0;
    // Reloads an open settings dialog from the settings; does nothing when none is open.
    virtual void RefreshSettingsDialog() = 0;
};

// A cycle in two halves, for probes that run while the host goes on with other work:
// BeginCycle when the cycle starts, ReportCycle with every result once the last one is in. It
// returns DownText: the failed URLs joined by CR LF, or "Everything is OK !", or empty when the
// benchmark was not reached. The log lines, the menu and the status words follow the order of
// the list. With mail on, the policy decides which mails the cycle hands over; it must live as
// long as the host for Notify's "on change" to work.
void BeginCycle(CheckCycleHost& host);
std::string ReportCycle(CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                        const CycleResults& results);

// The engine's limits from the settings, each brought within its range as a probe acts on it;
// the record keeps the values as read.
EngineLimits EngineLimitsFor(const CUserSettings& settings);
// BeginCycle, and a cycle of engine over "http://" + Benchmark and the list as it stands now;
// false, and nothing done, while the engine runs a cycle. The engine's OnCycleDone is where
// ReportCycle goes.
bool StartCheck(const CUserSettings& settings, CheckCycleHost& host, CheckEngine& engine);

// The schedule timer's arming rule. A timer restarts its count only when its interval or its
// enabled state actually changes, so re-arming with an unchanged TimeSpan keeps the phase.
class ScheduleRule {
public:
    // Applies TimeSpan (minutes); returns true when the timer must be (re)started or stopped.
    bool Arm(std::int32_t timeSpan);
    bool Enabled() const { return enabled_; }
    // Milliseconds; 0 when disabled.
    std::uint32_t Interval() const { return interval_; }

    // TimeSpan in milliseconds, kept within what a Windows timer accepts.
    static std::uint32_t IntervalFor(std::int32_t timeSpan);

private:
    bool enabled_ = false;
    std::uint32_t interval_ = 0;
};
