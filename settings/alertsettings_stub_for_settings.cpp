// A minimal stand-in for settings/alertsettings.cpp so that this branch links and its tests run;
// the real file replaces it.
#include "settings/alertsettings.h"

#include "base/text.h"

#include <cstdio>

namespace {

const char* const kindNames[] = {"teams", "slack", "ntfy", "json"};
const char* const dayNames[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

// "Sat 22:00" as minutes since Monday 00:00.
std::optional<std::int64_t> weekTime(const std::string& text) {
    if (text.size() != 9 || text[3] != ' ')
        return std::nullopt;
    int day = -1;
    for (int d = 0; d < 7; ++d)
        if (SameText(text.substr(0, 3), dayNames[d]))
            day = d;
    const std::optional<std::int32_t> h = WholeNumber(text.substr(4, 2));
    const std::optional<std::int32_t> m = WholeNumber(text.substr(7, 2));
    if (day < 0 || text[6] != ':' || !h || !m || *h > 23 || *m > 59 || *h < 0 || *m < 0)
        return std::nullopt;
    return day * 1440 + *h * 60 + *m;
}

std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// "2026-12-24 18:00" as local seconds.
std::optional<std::int64_t> dateTime(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &end) != 5 ||
        mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59)
        return std::nullopt;
    return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60;
}

} // namespace

const char* WebhookKindName(WebhookKind kind) {
    return kindNames[static_cast<int>(kind)];
}

std::optional<WebhookKind> ReadWebhookKind(std::string_view text) {
    for (int k = 0; k < 4; ++k)
        if (SameText(std::string(text), kindNames[k]))
            return static_cast<WebhookKind>(k);
    return std::nullopt;
}

std::string ShownWebhookAddress(std::string_view address) {
    const std::size_t scheme = address.find("://");
    const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t end = address.find_first_of("/?#", start);
    if (end == std::string_view::npos)
        return std::string(address);
    return std::string(address.substr(0, end)) + "/...";
}

std::optional<MaintenanceWindow> ReadMaintenanceWindow(std::string_view line,
                                                       std::string& problem) {
    std::string text(line);
    const std::size_t equals = text.find('=');
    MaintenanceWindow window;
    std::string time = TrimBlanks(text.substr(0, equals));
    if (equals != std::string::npos) {
        std::string sites = text.substr(equals + 1);
        for (std::size_t at = 0; at < sites.size();) {
            const std::size_t blank = std::min(sites.find(' ', at), sites.size());
            if (blank > at)
                window.Sites.push_back(sites.substr(at, blank - at));
            at = blank + 1;
        }
    }
    const std::size_t dash = time.find('-', time.size() > 10 && time[4] == '-' ? 16 : 0);
    if (dash == std::string::npos) {
        problem = time + " is no time.";
        return std::nullopt;
    }
    const std::string from = time.substr(0, dash), to = time.substr(dash + 1);
    if (const auto a = weekTime(from), b = weekTime(to); a && b) {
        window.Start = *a;
        window.End = *b;
        return window;
    }
    const auto a = dateTime(from), b = dateTime(to);
    if (!a || !b || *b <= *a) {
        problem = time + " is no time.";
        return std::nullopt;
    }
    window.Weekly = false;
    window.Start = *a;
    window.End = *b;
    return window;
}

bool MaintenanceOver(const MaintenanceWindow& window, std::int64_t localSeconds) {
    return !window.Weekly && window.End <= localSeconds;
}
