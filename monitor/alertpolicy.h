// Which alert mail a finished check cycle calls for: a report of the sites down, a "sites back
// up" mail, or nothing. It remembers what the recipient was last told, across cycles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What one cycle that reached the benchmark found, each list in the order of the URL list.
struct CycleOutcome {
    std::vector<std::string> Failed;
    std::vector<std::string> Answered;
};

struct AlertDecision {
    bool Report = false; // mail the sites down (all of them, not only the new ones)
    // Sites last mailed as down that answered in this cycle, in the order they were mailed;
    // empty when no "sites back up" mail is due.
    std::vector<std::string> BackUp;
};

class AlertPolicy {
public:
    // For a cycle that reached the benchmark and has mail on; a cycle that could not see the
    // sites must not be passed, as it says nothing about them. notify is the Notify setting.
    AlertDecision Decide(std::int32_t notify, const CycleOutcome& outcome);

private:
    // The sites down as of the last cycle with mail on: what the recipient was last told.
    std::vector<std::string> down_;
};
