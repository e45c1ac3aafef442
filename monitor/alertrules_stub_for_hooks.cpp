// Stand-ins for the alert rules' and the alert settings' words until their own files land:
// only what the webhook bodies and their sender call. To be deleted when they are merged.
#include "monitor/alertrules.h"
#include "monitor/sitetransitions.h"
#include "settings/alertsettings.h"

#include <cstdio>
#include <string>

namespace {
std::string clock(std::int64_t seconds) {
    const std::int64_t minutes = ((seconds % 86400) + 86400) % 86400 / 60;
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(minutes / 60),
                  static_cast<int>(minutes % 60));
    return text;
}
} // namespace

AlertMessage MergeAlertMessages(const AlertMessage& older, const AlertMessage& newer) {
    AlertMessage merged = newer;
    merged.Changes = older.Changes;
    merged.Changes.insert(merged.Changes.end(), newer.Changes.begin(), newer.Changes.end());
    if (!merged.Link)
        merged.Link = older.Link;
    return merged;
}

std::string AlertLine(const SiteAlert& alert) {
    const std::string url = UrlWithMaskedPassword(alert.Url);
    switch (alert.What) {
    case SiteAlert::Down:
        return url + " is down: " + alert.Reason + " (since " + clock(alert.Since) + ")";
    case SiteAlert::BackUp:
        return url + " is back up after " + std::to_string(alert.DownFor / 60) + " minutes";
    case SiteAlert::Flapping:
        return url + " is flapping: down again (" + alert.Reason + ")";
    case SiteAlert::Warning:
        return url + " has a warning: " + alert.Reason;
    case SiteAlert::Reminder:
        return url + " is still down: " + alert.Reason + " (since " + clock(alert.Since) + ")";
    }
    return url;
}

std::string LinkNoticeLine(const LinkNotice& link) {
    return "no site could be checked from " + clock(link.From) + " to " + clock(link.To) +
           ": the benchmark page was not reached (" + link.Reason + ")";
}

std::string AlertTitle(const AlertMessage& message) {
    std::size_t down = 0, up = 0, other = 0;
    for (const SiteAlert& change : message.Changes) {
        if (change.What == SiteAlert::BackUp)
            ++up;
        else if (change.What == SiteAlert::Down)
            ++down;
        else
            ++other;
    }
    std::string title;
    if (down)
        title += std::to_string(down) + (down == 1 ? " site down" : " sites down");
    if (up)
        title += (title.empty() ? "" : ", ") + std::to_string(up) + " back up";
    if (other)
        title += (title.empty() ? "" : ", ") + std::to_string(other) + " other changes";
    return title.empty() ? "Link back" : title;
}

const char* WebhookKindName(WebhookKind kind) {
    switch (kind) {
    case WebhookKind::Teams:
        return "teams";
    case WebhookKind::Slack:
        return "slack";
    case WebhookKind::Ntfy:
        return "ntfy";
    case WebhookKind::Json:
        return "json";
    }
    return "json";
}
