#include "monitor/alertpolicy.h"

#include "settings/cusersettings.h"

#include <algorithm>

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

AlertDecision AlertPolicy::Decide(std::int32_t notify, const CycleOutcome& outcome) {
    AlertDecision decision;
    if (notify != NotifyOnChange) {
        decision.Report = !outcome.Failed.empty();
    } else {
        // Only a site that was up and now fails is news worth a report; one that was already
        // reported stays quiet until it answers again. A site taken off the list in between
        // neither failed nor answered: it is forgotten without a mail.
        decision.Report =
            std::any_of(outcome.Failed.begin(), outcome.Failed.end(),
                        [&](const std::string& url) { return !contains(down_, url); });
        for (const std::string& url : down_)
            if (contains(outcome.Answered, url) && !contains(outcome.Failed, url))
                decision.BackUp.push_back(url);
    }
    // Kept in every mode, so that turning Notify on does not re-announce what is known.
    down_.clear();
    for (const std::string& url : outcome.Failed)
        if (!contains(down_, url))
            down_.push_back(url);
    return decision;
}
