// Where alerts go besides the mail, and the quiet the user sets for every channel: the webhook
// channels ([Webhook NAME] sections), the rules of [Alerts] and the maintenance windows of
// [Maintenance]. Free of the platform, so that the loader, the rules and the dialog share them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the channel's receiver expects: a Teams Workflows webhook (an Adaptive Card), a Slack
// incoming webhook, an ntfy topic, or our own signed JSON document.
enum class WebhookKind { Teams, Slack, Ntfy, Json };

// "teams", "slack", "ntfy", "json": the words of the file, the pipe and the dialog.
const char* WebhookKindName(WebhookKind kind);
// The kind those words name, without regard to case; nullopt for any other text.
std::optional<WebhookKind> ReadWebhookKind(std::string_view text);

struct WebhookChannel {
    // The user's name of it, the NAME of its [Webhook NAME] section: the log and the dialog
    // name the channel by it, never by its address.
    std::string Name;
    WebhookKind Kind = WebhookKind::Json;
    // The address the message is posted to. Its path or query holds the receiver's token, so
    // it is a secret like the mail password: stored protected, never logged or shown whole.
    std::string Address;
    // Of a json channel: the shared key its signature is made with; empty: not signed.
    std::string Secret;

    bool operator==(const WebhookChannel&) const = default;
};

// The channels a settings record holds at most.
constexpr std::size_t MaxWebhooks = 16;

// The address as the log, the dialog and the pipe may show it: its scheme and host, and "/..."
// in place of a path or a query ("https://hooks.slack.com/services/T0/B0/xyz" gives
// "https://hooks.slack.com/...").
std::string ShownWebhookAddress(std::string_view address);

// A time when no alert goes out: every week from a day and time to a day and time
// ("Sat 22:00-Sun 02:00"), or once, from a local date and time to another
// ("2026-12-24 18:00-2026-12-27 08:00"); for every site, or for the sites named.
struct MaintenanceWindow {
    bool Weekly = true;
    // Weekly: minutes since Monday 00:00 (0 to 10079), an end before the start running over
    // the week's end. Once: seconds since 1970-01-01 00:00 of the local clock.
    std::int64_t Start = 0;
    std::int64_t End = 0;
    // The addresses it covers, as the list holds them; empty: every site.
    std::vector<std::string> Sites;

    bool operator==(const MaintenanceWindow&) const = default;
};

// One line of [Maintenance]: the time, then, after "=", the sites it covers separated by blanks
// ("Sat 22:00-Sun 02:00 = https://shop.example/ https://api.example/"). Nullopt with problem set,
// in words, when the line does not read ("Sat 25:00 is no time of day.").
std::optional<MaintenanceWindow> ReadMaintenanceWindow(std::string_view line, std::string& problem);
// The line that reads back as the window.
std::string MaintenanceWindowLine(const MaintenanceWindow& window);
// Whether the window covers the site at the local time (seconds since 1970-01-01 00:00 of the
// local clock): a weekly window from its start to its end, the end not included.
bool MaintenanceCovers(const MaintenanceWindow& window, const std::string& url,
                       std::int64_t localSeconds);
// The local time the window ends that covers the time given (the end of this week's turn of a
// weekly one); nullopt when it covers no site at that time.
std::optional<std::int64_t> MaintenanceEnd(const MaintenanceWindow& window,
                                           std::int64_t localSeconds);
// A one-off window that has ended before the local time: the saver leaves it out.
bool MaintenanceOver(const MaintenanceWindow& window, std::int64_t localSeconds);
