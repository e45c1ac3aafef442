#include "monitor/alertrules.h"

#include "monitor/clogger.h"
#include "monitor/sitetransitions.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

constexpr std::int64_t DaySeconds = 24 * 60 * 60;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a % b < 0) != (b < 0) ? 1 : 0);
}

std::string counted(std::int64_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

// The two largest units that say it, the smaller one left out when it is zero.
std::string durationText(std::int64_t seconds) {
    const std::int64_t minutes = std::max<std::int64_t>(seconds, 0) / 60;
    if (minutes == 0)
        return "less than a minute";
    if (minutes < 60)
        return counted(minutes, "minute");
    const auto pair = [](std::int64_t big, const char* bigUnit, std::int64_t small,
                         const char* smallUnit) {
        return counted(big, bigUnit) + (small ? " " + counted(small, smallUnit) : "");
    };
    if (minutes < 24 * 60)
        return pair(minutes / 60, "hour", minutes % 60, "minute");
    return pair(minutes / (24 * 60), "day", minutes % (24 * 60) / 60, "hour");
}

std::string sinceText(const SiteAlert& alert, std::int64_t reference) {
    return " (since " + AlertClockText(alert.Since, reference) +
           (alert.AfterMaintenance ? ", during maintenance)" : ")");
}

} // namespace

bool AlertRules::InMaintenance(const AlertRulesSettings& settings, const std::string& url,
                               std::int64_t now) {
    for (const MaintenanceWindow& window : settings.Windows)
        if (MaintenanceCovers(window, url, now))
            return true;
    return false;
}

AlertMessage AlertRules::Cycle(const CycleResults& results, std::int64_t now,
                               const AlertRulesSettings& settings) {
    AlertMessage message;
    message.Time = now;
    view_ = {};
    if (!results.Benchmark.Up) {
        // Nothing can be said about the sites: they keep the state the last cycle that saw
        // them left.
        if (!linkDownSince_)
            linkDownSince_ = now;
        linkReason_ = ReasonText(results.Benchmark);
        return message;
    }
    if (linkDownSince_) {
        if (now - *linkDownSince_ >= LinkNoticeAfterSeconds)
            message.Link = LinkNotice{*linkDownSince_, now, linkReason_};
        linkDownSince_.reset();
        linkReason_.clear();
    }

    const std::int32_t upAfter = std::max<std::int32_t>(settings.UpAfter, 1);
    const std::int64_t remindAfter = std::int64_t{settings.Remind} * 60;
    std::map<std::string, SiteState> next;
    const std::size_t count = std::min(results.Urls.size(), results.Sites.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& url = results.Urls[i];
        const ProbeResult& result = results.Sites[i];
        // An address listed twice is one site: its first entry counts.
        if (next.count(url))
            continue;
        const auto known = sites_.find(url);
        SiteState site = known != sites_.end() ? known->second : SiteState{};
        const bool quiet = InMaintenance(settings, url, now);
        const std::string lastWarning = site.Warning;
        site.Warning = result.Up ? result.Warning : std::string();
        const auto tell = [&](SiteAlert::Kind what, std::string reason) {
            SiteAlert alert;
            alert.What = what;
            alert.Url = url;
            alert.Reason = std::move(reason);
            alert.Since = site.Since;
            message.Changes.push_back(std::move(alert));
            return &message.Changes.back();
        };

        if (!result.Up) {
            site.Reason = ReasonText(result);
            if (!site.Down && !site.Announced)
                site.Since = now; // a new outage (or the first sight of one at the start)
            site.Down = true;
            if (quiet) {
                site.HeldByMaintenance = !site.Announced;
                site.UpCycles = 0;
            } else if (!site.Announced) {
                tell(SiteAlert::Down, site.Reason)->AfterMaintenance = site.HeldByMaintenance;
                site.Announced = true;
                site.HeldByMaintenance = false;
                site.Flapped = false;
                site.UpCycles = 0;
                site.LastWord = now;
            } else {
                if (site.UpCycles > 0 && !site.Flapped) {
                    tell(SiteAlert::Flapping, site.Reason);
                    site.Flapped = true;
                    site.LastWord = now;
                }
                site.UpCycles = 0;
                if (remindAfter > 0 && now - site.LastWord >= remindAfter) {
                    tell(SiteAlert::Reminder, site.Reason);
                    site.LastWord = now;
                    view_.Remind.push_back(url);
                }
            }
            if (!quiet)
                view_.Failed.push_back(url);
        } else {
            site.Down = false;
            site.HeldByMaintenance = false;
            bool waiting = false;
            if (site.Announced) {
                if (site.UpCycles == 0)
                    site.UpSince = now;
                ++site.UpCycles;
                if (!quiet && site.UpCycles >= upAfter) {
                    tell(SiteAlert::BackUp, {})->DownFor = site.UpSince - site.Since;
                    const std::string warning = site.Warning;
                    site = SiteState{};
                    site.Warning = warning;
                } else {
                    waiting = true;
                }
            } else {
                site.UpCycles = 0;
            }
            if (!quiet && !result.Warning.empty() && result.Warning != lastWarning)
                tell(SiteAlert::Warning, result.Warning);
            if (!quiet)
                (waiting ? view_.Failed : view_.Answered).push_back(url);
        }
        next.emplace(url, std::move(site));
    }
    sites_ = std::move(next);
    return message;
}

AlertMessage MergeAlertMessages(const AlertMessage& older, const AlertMessage& newer) {
    AlertMessage merged;
    merged.Time = newer.Time;
    merged.Link = newer.Link ? newer.Link : older.Link;
    merged.LeftOut = older.LeftOut + newer.LeftOut;
    const std::size_t total = older.Changes.size() + newer.Changes.size();
    const std::size_t drop = total > MaxMergedChanges ? total - MaxMergedChanges : 0;
    merged.LeftOut += drop;
    const std::size_t fromOlder = std::min(drop, older.Changes.size());
    merged.Changes.reserve(total - drop);
    merged.Changes.insert(merged.Changes.end(), older.Changes.begin() + fromOlder,
                          older.Changes.end());
    merged.Changes.insert(merged.Changes.end(), newer.Changes.begin() + (drop - fromOlder),
                          newer.Changes.end());
    return merged;
}

std::string AlertClockText(std::int64_t localSeconds, std::int64_t reference) {
    const std::int64_t day = floorDiv(localSeconds, DaySeconds);
    const std::int64_t inDay = localSeconds - day * DaySeconds;
    char text[48];
    if (day == floorDiv(reference, DaySeconds)) {
        std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(inDay / 3600),
                      static_cast<int>(inDay % 3600 / 60));
    } else {
        const CivilDate date = CivilFromDays(day);
        std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d", date.Year, date.Month,
                      date.Day, static_cast<int>(inDay / 3600),
                      static_cast<int>(inDay % 3600 / 60));
    }
    return text;
}

std::string AlertLine(const SiteAlert& alert) {
    return AlertLine(alert, alert.Since);
}

std::string AlertLine(const SiteAlert& alert, std::int64_t reference) {
    const std::string url = UrlWithMaskedPassword(alert.Url);
    switch (alert.What) {
    case SiteAlert::Down:
        return url + " is down: " + alert.Reason + sinceText(alert, reference);
    case SiteAlert::BackUp:
        return url + " is back up after " + durationText(alert.DownFor);
    case SiteAlert::Flapping:
        return url + " is flapping: down again (" + alert.Reason + ")";
    case SiteAlert::Warning:
        return url + " has a warning: " + alert.Reason;
    case SiteAlert::Reminder:
        return url + " is still down: " + alert.Reason + sinceText(alert, reference);
    }
    return url;
}

std::string LinkNoticeLine(const LinkNotice& link) {
    std::string line = "no site could be checked from " + AlertClockText(link.From, link.To) +
                       " to " + AlertClockText(link.To, link.To) +
                       ": the benchmark page was not reached";
    if (!link.Reason.empty())
        line += " (" + link.Reason + ")";
    return line;
}

std::string AlertTitle(const AlertMessage& message) {
    std::size_t counts[5] = {};
    for (const SiteAlert& alert : message.Changes)
        ++counts[alert.What];
    // Down first, as the most urgent; the first part names the sites, the others count them.
    const struct {
        SiteAlert::Kind What;
        const char* First;
        const char* FirstMany;
        const char* Later;
    } parts[] = {
        {SiteAlert::Down, "down", "down", "down"},
        {SiteAlert::Flapping, "flapping", "flapping", "flapping"},
        {SiteAlert::Reminder, "still down", "still down", "still down"},
        {SiteAlert::BackUp, "back up", "back up", "back up"},
        {SiteAlert::Warning, "has a warning", "have a warning", "with a warning"},
    };
    std::string title;
    for (const auto& part : parts) {
        const std::size_t n = counts[part.What];
        if (n == 0)
            continue;
        if (title.empty())
            title = counted(static_cast<std::int64_t>(n), "site") + " " +
                    (n == 1 ? part.First : part.FirstMany);
        else
            title += ", " + std::to_string(n) + " " + part.Later;
    }
    if (message.Link)
        title += title.empty() ? "Link back" : ", link back";
    return title;
}
