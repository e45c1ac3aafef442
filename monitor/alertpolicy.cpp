#include "monitor/alertpolicy.h"

#include "settings/cusersettings.h"

#include <algorithm>
#include <iterator>

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// A mail thread that never reports back must not make the list grow without end; one result
// at a time is the rule, so a handful covers any order the results arrive in.
constexpr std::size_t kMaxPending = 8;

} // namespace

AlertDecision AlertPolicy::Decide(std::int32_t notify, const CycleOutcome& outcome, long day) {
    AlertDecision decision;
    const bool anyDown = !outcome.Failed.empty();
    if (notify != NotifyOnChange) {
        decision.Report = anyDown;
    } else {
        // Only a site that was up and now fails is news worth a report; one that was already
        // reported stays quiet until it answers again, unless that report never arrived. A
        // site taken off the list in between neither failed nor answered: it is forgotten
        // without a mail.
        decision.Report =
            ((undelivered_ || outcome.Remind) && anyDown) ||
            std::any_of(outcome.Failed.begin(), outcome.Failed.end(),
                        [&](const std::string& url) { return !contains(down_, url); });
        for (const std::string& url : told_)
            if (contains(outcome.Answered, url) && !contains(outcome.Failed, url))
                decision.BackUp.push_back(url);
    }
    // Kept in every mode, so that turning Notify on does not re-announce what is known.
    std::vector<std::string> stillDown;
    for (const std::string& url : told_)
        if (contains(outcome.Failed, url))
            stillDown.push_back(url);
    told_ = std::move(stillDown);
    down_.clear();
    for (const std::string& url : outcome.Failed)
        if (!contains(down_, url))
            down_.push_back(url);

    // Yesterday's marks say nothing about today: dropping them keeps the map to today's sites.
    for (auto it = warnedOn_.begin(); it != warnedOn_.end();)
        it = it->second == day ? std::next(it) : warnedOn_.erase(it);
    for (const auto& warned : outcome.Warned) {
        if (!decision.Report && warnedOn_.count(warned.first))
            continue;
        decision.Warnings.push_back(warned);
        warnedOn_[warned.first] = day;
    }

    lastReport_ = 0;
    if (decision.Report) {
        lastReport_ = ++numbered_ == 0 ? ++numbered_ : numbered_;
        if (pending_.size() == kMaxPending)
            pending_.erase(pending_.begin());
        pending_.push_back({lastReport_, down_});
        undelivered_ = false;
    }
    return decision;
}

void AlertPolicy::ReportDelivered(std::uint32_t report, bool delivered) {
    const auto found = std::find_if(pending_.begin(), pending_.end(),
                                    [&](const Pending& p) { return p.Report == report; });
    if (found == pending_.end())
        return;
    const bool latest = report == numbered_;
    if (delivered) {
        for (const std::string& url : found->Sites)
            if (!contains(told_, url))
                told_.push_back(url);
    } else if (latest) {
        undelivered_ = true;
    }
    pending_.erase(found);
}
