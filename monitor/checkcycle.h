// One check cycle over the benchmark and the URL list, independent of any window system: the
// engine probes, and what the answers mean for the icon, the menu, the log and the mail is here.
// The main form runs it with itself as host; tests run it with a recording fake.
#pragma once

#include "monitor/alertpolicy.h"
#include "monitor/alertrules.h"
#include "monitor/checkengine.h"
#include "monitor/cycleoutput.h"
#include "monitor/proberesult.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    // Empties the failed-sites menu with its warnings, and appends one item to it with what its
    // probe found. The address is as a person may see it (UrlWithMaskedPassword).
    virtual void ClearFailedSites() = 0;
    virtual void AddFailedSite(const std::string& url, const ProbeResult& result) = 0;
    // A site up whose result carries a Warning.
    virtual void AddWarnedSite(const std::string& url, const ProbeResult& result) = 0;
    virtual void WriteLog(const std::string& text) = 0;
    // Hands a cycle's one alert mail to the mail thread; never waits for an earlier mail.
    virtual void SendAlertMail(const CycleMail& mail) = 0;
    // Reloads an open settings dialog from the settings; does nothing when none is open.
    virtual void RefreshSettingsDialog() = 0;
};

// The cycle's words for the tray and the pipe's status: the log lines, the picture, the tip, the
// menus of failed and warned sites, the status words of the list, and the open dialog. The log
// lines and the menus follow the order of the list; every address is shown with its password
// hidden.
class StatusReport : public CycleOutput {
public:
    StatusReport(CUserSettings& settings, CheckCycleHost& host)
        : settings_(settings), host_(host) {}
    void CycleStarted() override;
    void CycleDone(const CycleReport& report) override;
    // The tip of the last cycle: the failed addresses joined by CR LF, or "Everything is OK !",
    // or empty when the benchmark was not reached.
    const std::string& DownText() const { return downText_; }

private:
    CUserSettings& settings_;
    CheckCycleHost& host_;
    std::string downText_;
};

// The alerts of a cycle. The rules ([Alerts], [Maintenance]) say what changed; every channel
// but the mail gets their message through OnMessage, and the mail, when it is on, one mail that
// keeps its own rules over the sites as the rules let it see them: the policy decides, the host
// sends. Warnings go with a report under their own heading, or alone at most once per site per
// day.
class AlertReport : public CycleOutput {
public:
    // today: the local calendar day as a number (days since 1970); now: the local clock in
    // seconds since 1970, for the rules.
    AlertReport(const CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                std::function<long()> today, std::function<std::int64_t()> now);
    void CycleDone(const CycleReport& report) override;

    // The message of a cycle that has something to say, for the channels besides the mail.
    std::function<void(const AlertMessage&)> OnMessage;

private:
    const CUserSettings& settings_;
    CheckCycleHost& host_;
    AlertPolicy& policy_;
    std::function<long()> today_;
    std::function<std::int64_t()> now_;
    AlertRules rules_;
};

// The rules' settings from the record: the maintenance lines that read, UpAfter and Remind.
AlertRulesSettings AlertRulesFor(const CUserSettings& settings);
// The channels of the record fit to post to: named, with an https address.
std::vector<WebhookChannel> SendingWebhooks(const CUserSettings& settings);
// The status's words for the maintenance windows in force at now (local seconds since 1970):
// "in maintenance until 11:40" when one covers every site, "2 sites in maintenance" when they
// cover some of the list, empty when none is in force.
std::string MaintenanceStatusText(const CUserSettings& settings, std::int64_t now);

// The local day of the portable build's clock (UTC), for hosts without a calendar of their own.
long UtcDayNumber();

// BeginCycle when the cycle starts, ReportCycle with every result once the last one is in: the
// status report then the mail, over one host. ReportCycle returns the status report's DownText.
// The policy must live as long as the host for Notify's "on change" to work; the alert rules
// start afresh each time, which is the default rules' view (UpAfter 1, no reminder).
void BeginCycle(CheckCycleHost& host);
std::string ReportCycle(CUserSettings& settings, CheckCycleHost& host, AlertPolicy& policy,
                        const CycleResults& results);

// The engine's limits from the settings, each brought within its range as a probe acts on it;
// the record keeps the values as read.
EngineLimits EngineLimitsFor(const CUserSettings& settings);
// The listed site at index as a probe takes it: its checks, with [General] CertDays where it
// names none.
SiteRecord SiteForCheck(const CUserSettings& settings, int index);
// Addresses to check on request: a listed one with its own checks (its first entry), any other
// with the defaults; CertDays filled as for a cycle.
std::vector<SiteRecord> SitesForCheck(const CUserSettings& settings,
                                      const std::vector<std::string>& urls);
// A cycle of engine over "http://" + Benchmark and the list as it stands now; false, and
// nothing done, while the engine runs a cycle.
bool StartCheck(const CUserSettings& settings, CheckEngine& engine);
// As above, with BeginCycle on host first.
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
