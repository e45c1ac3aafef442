// What a finished cycle tells the people who watch the sites, and when it is better left unsaid:
// one message per cycle with all of its changes, a site back up only after [Alerts] UpAfter
// cycles that answered (one that fails again meanwhile is "flapping", not a new pair of alerts),
// reminders every [Alerts] Remind minutes while a site stays down, nothing about a site during
// its maintenance (a site still down when the window ends is announced then), and this
// computer's own link down for a few minutes, said once it is back. Every channel, the mail
// included, is told from the same message. Times are the service's local clock, in seconds since
// 1970-01-01 00:00 of that clock, handed in by the caller so that tests run on a clock of their
// own.
#pragma once

#include "monitor/proberesult.h"
#include "settings/alertsettings.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A benchmark out of reach for at least this long is worth a word once it answers again.
constexpr std::int64_t LinkNoticeAfterSeconds = 5 * 60;

struct AlertRulesSettings {
    std::int32_t UpAfter = 1; // below 1 acts as 1
    std::int32_t Remind = 0;  // minutes; 0: none
    std::vector<MaintenanceWindow> Windows;
};

// One change of one site, as a message tells it.
struct SiteAlert {
    enum Kind {
        Down,     // the site went down (or was down when its maintenance ended)
        BackUp,   // up for UpAfter cycles after it was announced down
        Flapping, // announced down, answered, then failed again before it was back up
        Warning,  // up, and began to carry a warning (a new warning's words count as a new one)
        Reminder, // still down, Remind minutes after the last word about it
    };
    Kind What = Down;
    std::string Url; // as the list holds it; the channels hide a password it carries
    // Down, Flapping, Reminder: why it is down (ReasonText); Warning: the warning's words.
    std::string Reason;
    // Down, Flapping, Reminder: when it was first seen down; BackUp: when it went down.
    std::int64_t Since = 0;
    // BackUp: seconds it was down, up to the first cycle it answered.
    std::int64_t DownFor = 0;
    // Down: the site went down during a maintenance window that has now ended.
    bool AfterMaintenance = false;

    bool operator==(const SiteAlert&) const = default;
};

// The benchmark could not be reached from From to To (the first cycle that reached it again).
struct LinkNotice {
    std::int64_t From = 0;
    std::int64_t To = 0;
    std::string Reason; // why the benchmark's last failed probe failed (ReasonText)

    bool operator==(const LinkNotice&) const = default;
};

struct AlertMessage {
    std::int64_t Time = 0;          // the cycle's end
    std::vector<SiteAlert> Changes; // in the order of the list, kind by kind as they came
    std::optional<LinkNotice> Link;
    // Changes of messages merged while a channel could not deliver them, left out oldest first
    // to keep the message within MaxMergedChanges; the channels count them.
    std::size_t LeftOut = 0;

    bool Empty() const { return Changes.empty() && !Link; }
    bool operator==(const AlertMessage&) const = default;
};

// The changes a merged message keeps at most: a receiver down for days while a long list
// changes every cycle must not grow what waits for it without end. More than any receiver
// shows of one message.
constexpr std::size_t MaxMergedChanges = 2000;

// One message that tells what both tell: a message that could not be delivered goes out again
// with the next one, older changes first (the newer link notice wins when both hold one).
// Beyond MaxMergedChanges the oldest changes are left out and counted in LeftOut.
AlertMessage MergeAlertMessages(const AlertMessage& older, const AlertMessage& newer);

// The words of a change on one line, the address with its password hidden:
// "https://shop.example/ is down: HTTP status 503 (since 09:12)",
// "https://shop.example/ is back up after 28 minutes",
// "https://shop.example/ is flapping: down again (timed out after 2000 ms)",
// "https://shop.example/ has a warning: certificate of shop.example expires in 5 days, ...",
// "https://shop.example/ is still down: HTTP status 503 (since 09:12)".
std::string AlertLine(const SiteAlert& alert);
// The same, with the date beside the time "since" when that is not on the reference's day (the
// message's Time): a reminder days into an outage must not read as if it began this morning.
std::string AlertLine(const SiteAlert& alert, std::int64_t reference);
// "no site could be checked from 09:12 to 09:40: the benchmark page was not reached (timed out
// after 2000 ms)".
std::string LinkNoticeLine(const LinkNotice& link);
// A title for the whole message: "2 sites down, 1 back up", "1 site has a warning", "Link back",
// for the channels that have a title line.
std::string AlertTitle(const AlertMessage& message);
// "09:12" of a local time; with its date ("2026-12-24 09:12") when it is not on the day of
// the reference.
std::string AlertClockText(std::int64_t localSeconds, std::int64_t reference);

// The sites as the mail's rules see them after the quiet: a site in maintenance is neither down
// nor up; one waiting for UpAfter is still down.
struct AlertView {
    std::vector<std::string> Failed;
    std::vector<std::string> Answered;
    // Sites whose reminder is due in this cycle.
    std::vector<std::string> Remind;
};

class AlertRules {
public:
    // The message of a finished cycle (empty when there is nothing to say). A cycle whose
    // benchmark was down says nothing about the sites: it only starts or extends the link's
    // outage. A site no longer in the list is forgotten without a word.
    AlertMessage Cycle(const CycleResults& results, std::int64_t now,
                       const AlertRulesSettings& settings);
    // The sites of the last Cycle as the mail's rules take them.
    const AlertView& View() const { return view_; }
    // Whether a maintenance window covers the site now.
    static bool InMaintenance(const AlertRulesSettings& settings, const std::string& url,
                              std::int64_t now);

private:
    struct SiteState {
        bool Announced = false;         // told down, not yet told back up
        bool Down = false;              // failed at its last check
        std::int64_t Since = 0;         // first seen down, of this outage
        std::int64_t UpSince = 0;       // first answer after the outage
        std::int32_t UpCycles = 0;      // answers in a row since the last failure
        bool Flapped = false;           // told flapping during this outage
        std::int64_t LastWord = 0;      // the last down, flapping or reminder message about it
        bool HeldByMaintenance = false; // went or stayed down during a window, not announced
        std::string Warning;            // the warning at its last check
        std::string Reason;             // why it failed last
    };
    std::map<std::string, SiteState> sites_;
    std::optional<std::int64_t> linkDownSince_;
    std::string linkReason_;
    AlertView view_;
};
