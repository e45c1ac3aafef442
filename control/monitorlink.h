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

// What the service's own icon shows, and when its last cycle ended.
struct MonitorStatus {
    int Picture = 0;                // the state picture 0..3, as the service's tray shows it
    std::string Tip;                // the tip text, cut only when a message cannot hold it
    std::vector<FailedSite> Failed; // the failed-sites menu, in order
    std::string LastCycleEnd;       // local time "yyyy-mm-dd hh:nn:ss"; empty before the first
    bool CycleRunning = false;
    // Failed sites that did not fit in the message, after those in Failed.
    std::size_t More = 0;
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

    // Ends monitoring: the service takes its "Exit" path. The outcome through OnReply.
    virtual void StopMonitoring() = 0;

    std::function<void(const MonitorReply&)> OnReply;
};
