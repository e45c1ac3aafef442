// Minimal versions of the alert settings' functions the dialog calls, until the settings'
// own ones are merged in (then this file goes).
#include "settings/alertsettings.h"

#include <cctype>

const char* WebhookKindName(WebhookKind kind) {
    switch (kind) {
    case WebhookKind::Teams:
        return "teams";
    case WebhookKind::Slack:
        return "slack";
    case WebhookKind::Ntfy:
        return "ntfy";
    case WebhookKind::Json:
        break;
    }
    return "json";
}

std::string ShownWebhookAddress(std::string_view address) {
    const std::size_t scheme = address.find("://");
    const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
    std::size_t hostEnd = address.find_first_of("/?#", hostStart);
    if (hostEnd == std::string_view::npos)
        hostEnd = address.size();
    std::string_view host = address.substr(hostStart, hostEnd - hostStart);
    if (const std::size_t at = host.rfind('@'); at != std::string_view::npos)
        host = host.substr(at + 1);
    std::string shown = std::string(address.substr(0, hostStart)) + std::string(host);
    if (hostEnd < address.size())
        shown += "/...";
    return shown;
}

namespace {

// "Sat 22:00": minutes since Monday 00:00.
bool readWeekTime(std::string_view text, std::int64_t& minutes) {
    static const char* const days[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    if (text.size() != 9 || text[3] != ' ' || text[6] != ':')
        return false;
    int day = -1;
    for (int i = 0; i < 7; ++i) {
        bool same = true;
        for (int c = 0; c < 3; ++c)
            same = same && std::tolower(static_cast<unsigned char>(text[c])) == days[i][c];
        if (same)
            day = i;
    }
    const auto digit = [&](std::size_t at) {
        return std::isdigit(static_cast<unsigned char>(text[at])) ? text[at] - '0' : -100;
    };
    const int hour = digit(4) * 10 + digit(5);
    const int minute = digit(7) * 10 + digit(8);
    if (day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    minutes = day * 1440 + hour * 60 + minute;
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

} // namespace

// Weekly windows only: enough for the dialog to tell a line that reads from one that does not.
std::optional<MaintenanceWindow> ReadMaintenanceWindow(std::string_view line,
                                                       std::string& problem) {
    const std::size_t equals = line.find('=');
    const std::string_view time = trimmed(line.substr(0, equals));
    const std::size_t dash = time.find('-');
    MaintenanceWindow window;
    if (dash == std::string_view::npos ||
        !readWeekTime(trimmed(time.substr(0, dash)), window.Start) ||
        !readWeekTime(trimmed(time.substr(dash + 1)), window.End)) {
        problem = "\"" + std::string(time) + "\" is no time of the week.";
        return std::nullopt;
    }
    if (equals != std::string_view::npos) {
        std::string_view sites = line.substr(equals + 1);
        while (!(sites = trimmed(sites)).empty()) {
            const std::size_t end = sites.find(' ');
            window.Sites.emplace_back(sites.substr(0, end));
            sites = end == std::string_view::npos ? std::string_view() : sites.substr(end);
        }
    }
    return window;
}
