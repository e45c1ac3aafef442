// What a program in the user's session needs of the running monitor, whatever carries it: the
// companion in the notification area speaks to the service only through this interface, so it
// can be driven by a stand-in in its tests and by the control pipe in real use.
//
// Every call returns at once; answers come back as events. An implementation calls the events
// on the thread that created it (from that thread's message loop), never on another thread, so
// a user interface can act on them directly and its own thread never waits on the service.
#pragma once

#include "settings/cusersettings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A line of the failed-sites menu: the address, why it counts as down, and how long its last
// probe took.
struct FailedSite {
    std::string Url;
    // In plain words ("timed out after 2000 ms", "HTTP status 503"); empty from a monitor too
    // old to say.
    std::string Reason;
    std::uint32_t Milliseconds = 0;

    bool operator==(const FailedSite&) const = default;
};

// The pictures of MonitorStatus that the protocol treats apart: TrayState's tsAllUp and
// tsWarnings, which the monitor's headers hold.
constexpr int PictureAllUp = 0;
constexpr int PictureWarnings = 5;

// What the service's own icon shows, and when its last cycle ended.
struct MonitorStatus {
    int Picture = 0; // the state picture (TrayState: 0..3, or 5), as the service's tray shows it
    std::string Tip; // the tip text, cut only when a message cannot hold it
    std::vector<FailedSite> Failed; // the failed-sites menu, in order
    // Sites up with a warning, in order, Reason holding the warning's words; the menu's
    // "Warnings" part.
    std::vector<FailedSite> Warnings;
    std::string LastCycleEnd; // local time "yyyy-mm-dd hh:nn:ss"; empty before the first
    bool CycleRunning = false;
    // While a maintenance window covers sites: the words for it ("in maintenance until 11:40",
    // "2 sites in maintenance until 11:40"); empty when none does.
    std::string Maintenance = {};
    // Failed sites that did not fit in the message, after those in Failed.
    std::size_t More = 0;
    // Warned sites that did not fit in the message, after those in Warnings.
    std::size_t MoreWarnings = 0;
};

// The outcome of a request that changes something or is refused.
struct MonitorReply {
    bool Ok = false;
    // A refusal's reason in plain words, e.g. "Changing the settings needs an administrator
    // whose rights are elevated."; empty when Ok.
    std::string Reason;
    // True when the refusal was for the client's rights (the companion can then offer to
    // elevate); false for every other failure.
    bool NeedsElevation = false;
};

// One URL of "check this list now" with its outcome.
struct MonitorCheckResult {
    std::string Url;
    bool Up = false;
};

// A site's share of probes that were up, in percent; below 0 when it had no probe in that span.
struct SiteUptime {
    std::string Url;
    double Day = -1;
    double Week = -1;
    double Month = -1;
};

// One point of a response-time chart: the probes of [Start, Start + step).
struct ChartPoint {
    std::int64_t Start = 0;
    std::uint32_t Milliseconds = 0; // mean of the probes that were up
    std::uint32_t Checks = 0;
    std::uint32_t Downs = 0;
    std::string Reason; // why the point's last down probe was down
};

// What the History window shows: uptime per site and one site's chart over a span. Times are the
// service's local clock in seconds since 1970-01-01 00:00 of that clock.
struct MonitorHistory {
    std::string Url;  // the site of the chart; empty: none chosen
    std::string Span; // "24h", "7d" or "30d"
    std::int64_t Now = 0;
    std::int64_t Step = 0; // the width of each point
    std::vector<SiteUptime> Sites;
    std::size_t More = 0; // sites that did not fit in the answer
    std::vector<ChartPoint> Points;
    bool Loading = false; // the service is still reading its files back: uptime is partial
    bool Off = false;     // [History] Days is 0
    bool Older = false;   // the service is older than the history and keeps none
    std::string Error;    // not answered: why, in plain words
};

class MonitorLink {
public:
    virtual ~MonitorLink() = default;

    // The link connects by itself and again after the service restarts; Connected says whether
    // it is connected now. Every change is told through OnConnection.
    virtual bool Connected() const = 0;
    std::function<void(bool connected)> OnConnection;

    // Pushed by the service after connecting, when a cycle ends and when the settings change.
    std::function<void(const MonitorStatus&)> OnStatus;

    // "Check Now": the service runs a cycle; the new status arrives through OnStatus.
    virtual void CheckNow() = 0;

    // Every setting except the password, and whether one is set: through OnSettings.
    virtual void RequestSettings() = 0;
    std::function<void(const CUserSettings& settings, bool passwordSet)> OnSettings;

    // Applies settings as the dialog's OK does in the service. settings.Pass empty keeps the
    // stored password; otherwise it is the new one. The outcome through OnReply.
    virtual void ApplySettings(const CUserSettings& settings) = 0;

    // Probes these URLs with the service's own reach (the dialog's "Go"): through OnCheckList.
    virtual void CheckList(const std::vector<std::string>& urls) = 0;
    std::function<void(const std::vector<MonitorCheckResult>&)> OnCheckList;

    // The steps of one probe of url as the service sees them ("Diagnose"): through OnDiagnose,
    // or an error through OnReply. A link without it answers nothing.
    virtual void Diagnose(const std::string& url) { (void)url; }
    std::function<void(const std::string& url, const std::vector<std::string>& lines)> OnDiagnose;

    // Ends monitoring: the service takes its "Exit" path. The outcome through OnReply.
    virtual void StopMonitoring() = 0;

    std::function<void(const MonitorReply&)> OnReply;

    // Uptime of every site, and the chart of url (may be empty) over span ("24h", "7d", "30d"):
    // through OnHistory, also when it cannot be had (Error, Older).
    virtual void RequestHistory(const std::string& url, const std::string& span) = 0;
    std::function<void(const MonitorHistory&)> OnHistory;

    // The dialog's "Send a test": the service posts a test message to the channel as given (an
    // empty address: the one it stores under the channel's name). The outcome in words
    // ("delivered", "HTTP status 404 from hooks.slack.com") through OnWebhookTest.
    // A link that cannot carry the request answers that it cannot.
    virtual void TestWebhook(const WebhookChannel& channel) {
        if (OnWebhookTest)
            OnWebhookTest(channel.Name, "The monitor cannot send a test.");
    }
    std::function<void(const std::string& name, const std::string& outcome)> OnWebhookTest;

    // Starts a maintenance window for every site from now, for minutes. Through OnReply.
    virtual void StartMaintenance(std::int32_t minutes) {
        (void)minutes;
        if (OnReply)
            OnReply({false, "The monitor knows no maintenance windows.", false});
    }
};
