// Which alert mail a finished check cycle calls for: a report of the sites down, a "sites back
// up" mail, or nothing. It remembers, across cycles, what the recipient was actually told: a
// report counts once its mail has been delivered.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// What one cycle that reached the benchmark found, each list in the order of the URL list.
struct CycleOutcome {
    std::vector<std::string> Failed;
    std::vector<std::string> Answered;
    // Sites up with a warning: the address and the warning's words.
    std::vector<std::pair<std::string, std::string>> Warned;
    // A reminder is due for a site still down: the report goes out again.
    bool Remind = false;
};

struct AlertDecision {
    bool Report = false; // mail the sites down (all of them, not only the new ones)
    // Sites the recipient was told were down that answered in this cycle, in the order they
    // were reported; empty when no "sites back up" mail is due.
    std::vector<std::string> BackUp;
    // The warnings to mail, in the order of the list: every one with a report; without one,
    // those of sites not yet mailed about on this day.
    std::vector<std::pair<std::string, std::string>> Warnings;
};

// The one alert mail of a cycle, each part one line per site (joined by CR LF) or empty: the
// report of the sites down (all of them), the sites back up, the warnings and the notes (a site
// flapping, this computer's link back). A mail goes out when any of the first three holds lines;
// notes only ride along.
struct CycleMail {
    std::string Report;
    std::string BackUp;
    std::string Warnings;
    std::string Notes;
};

class AlertPolicy {
public:
    // For a cycle that reached the benchmark and has mail on; a cycle that could not see the
    // sites must not be passed, as it says nothing about them. notify is the Notify setting.
    // day numbers the local calendar day, for the rule that a warning alone mails at most once
    // per site per day.
    AlertDecision Decide(std::int32_t notify, const CycleOutcome& outcome, long day = 0);

    // The number of the report the last Decide called for, 0 when it called for none. The
    // mail thread's result is given back with it.
    std::uint32_t LastReport() const { return lastReport_; }

    // Whether the report numbered report reached the mail server. A delivered report makes its
    // sites known to the recipient; an undelivered one is sent again at the next cycle with
    // sites down, unless a later report has gone out meanwhile.
    void ReportDelivered(std::uint32_t report, bool delivered);

private:
    struct Pending {
        std::uint32_t Report;
        std::vector<std::string> Sites;
    };

    // The sites down as of the last cycle with mail on.
    std::vector<std::string> down_;
    // Sites a delivered report named that have not been announced back up since.
    std::vector<std::string> told_;
    // Reports whose result has not come back yet, oldest first.
    std::vector<Pending> pending_;
    // The day each site's warning was last mailed, for this day's sites only.
    std::map<std::string, long> warnedOn_;
    std::uint32_t lastReport_ = 0;
    std::uint32_t numbered_ = 0;
    bool undelivered_ = false;
};
