#include "settings/alertsettings.h"

#include "base/civil.h"
#include "base/text.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::int64_t DayMinutes = 24 * 60;
constexpr std::int64_t WeekMinutes = 7 * DayMinutes;
constexpr std::int64_t DaySeconds = 24 * 60 * 60;
// The local clock counts from 1970: a window before it is a typing mistake.
constexpr int FirstYear = 1970;

const char* const dayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a % b < 0) != (b < 0) ? 1 : 0);
}

std::string twoDigits(std::int64_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", static_cast<int>(value));
    return text;
}

// A refusal quotes what the user wrote, within reason.
std::string shownPart(std::string_view text) {
    return std::string(text.substr(0, 40));
}

// One end of a window: a day of the week or a date, then a time of day.
struct Point {
    bool Weekly = true;
    std::int64_t Value = 0; // minutes since Monday 00:00, or seconds since 1970-01-01 00:00
};

class PointReader {
public:
    explicit PointReader(std::string_view text) : text_(text) {}

    void SkipBlanks() {
        while (at_ < text_.size() && isBlank(text_[at_]))
            ++at_;
    }
    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
    void Take() { ++at_; }
    std::string_view Rest() const { return text_.substr(at_); }

    std::optional<Point> Read(std::string& problem) {
        SkipBlanks();
        const std::size_t begin = at_;
        const std::string_view word = Word();
        if (word.empty()) {
            problem = "A maintenance window needs a start and an end, as in Sat 22:00-Sun 02:00 "
                      "or 2026-12-24 18:00-2026-12-27 08:00.";
            return std::nullopt;
        }
        Point point;
        std::int64_t dayPart = 0;
        if (isLetter(word[0])) {
            const std::optional<int> day = dayOf(word);
            if (!day) {
                problem = "\"" + shownPart(word) +
                          "\" is no day of the week: the days are Mon, Tue, Wed, Thu, Fri, Sat "
                          "and Sun.";
                return std::nullopt;
            }
            dayPart = *day * DayMinutes;
        } else {
            point.Weekly = false;
            const std::optional<std::int64_t> days = dateOf(word, problem);
            if (!days)
                return std::nullopt;
            dayPart = *days * DaySeconds;
        }
        if (!isBlank(Peek())) {
            problem = "\"" + shownPart(text_.substr(begin)) +
                      "\" needs a time of day after a blank, as in " +
                      (point.Weekly ? "Sat 22:00." : "2026-12-24 18:00.");
            return std::nullopt;
        }
        SkipBlanks();
        const std::string_view clock = Clock();
        const std::optional<int> minutes = minutesOf(clock);
        if (!minutes) {
            problem = shownPart(text_.substr(begin, at_ - begin)) +
                      " is no time of day: write it as HH:MM, from 00:00 to 23:59.";
            if (clock.empty())
                problem =
                    "\"" + shownPart(text_.substr(begin)) + "\" needs a time of day, as in 22:00.";
            return std::nullopt;
        }
        point.Value = dayPart + (point.Weekly ? *minutes : std::int64_t{*minutes} * 60);
        return point;
    }

private:
    // Letters or digits and "-" of a date: up to a blank, or, for a day name, up to the first
    // character that is no letter.
    std::string_view Word() {
        const std::size_t begin = at_;
        if (isLetter(Peek())) {
            while (isLetter(Peek()))
                ++at_;
        } else {
            while (!AtEnd() && !isBlank(Peek()))
                ++at_;
        }
        return text_.substr(begin, at_ - begin);
    }
    // A time of day ends where a digit and ":" end, so that "22:00-Sun" splits at its "-".
    std::string_view Clock() {
        const std::size_t begin = at_;
        while (!AtEnd() && (isDigit(Peek()) || Peek() == ':'))
            ++at_;
        // Letters glued to the time belong to it in the refusal ("22:00pm").
        while (!AtEnd() && !isBlank(Peek()) && Peek() != '-' && !isDigit(Peek()) && Peek() != ':')
            ++at_;
        return text_.substr(begin, at_ - begin);
    }

    static std::optional<int> dayOf(std::string_view word) {
        if (word.size() != 3)
            return std::nullopt;
        for (int day = 0; day < 7; ++day)
            if (SameText(std::string(word), dayNames[day]))
                return day;
        return std::nullopt;
    }

    static std::optional<int> minutesOf(std::string_view clock) {
        const std::size_t colon = clock.find(':');
        if (colon == std::string_view::npos || colon < 1 || colon > 2 || clock.size() != colon + 3)
            return std::nullopt;
        for (std::size_t i = 0; i < clock.size(); ++i)
            if (i != colon && !isDigit(clock[i]))
                return std::nullopt;
        const int hour = colon == 1 ? clock[0] - '0' : (clock[0] - '0') * 10 + (clock[1] - '0');
        const int minute = (clock[colon + 1] - '0') * 10 + (clock[colon + 2] - '0');
        if (hour > 23 || minute > 59)
            return std::nullopt;
        return hour * 60 + minute;
    }

    static std::optional<std::int64_t> dateOf(std::string_view word, std::string& problem) {
        const bool shaped = word.size() == 10 && word[4] == '-' && word[7] == '-';
        bool digits = shaped;
        for (std::size_t i = 0; digits && i < word.size(); ++i)
            digits = i == 4 || i == 7 || isDigit(word[i]);
        if (!digits) {
            problem = "\"" + shownPart(word) +
                      "\" is neither a day of the week nor a date: write a date as YYYY-MM-DD, "
                      "as in 2026-12-24.";
            return std::nullopt;
        }
        const auto number = [&](std::size_t from, std::size_t count) {
            int value = 0;
            for (std::size_t i = from; i < from + count; ++i)
                value = value * 10 + (word[i] - '0');
            return value;
        };
        const int year = number(0, 4);
        const int month = number(5, 2);
        const int day = number(8, 2);
        if (!IsRealDate(year, month, day)) {
            problem = std::string(word) + " is no date.";
            return std::nullopt;
        }
        if (year < FirstYear) {
            problem = std::string(word) + " is before 1970.";
            return std::nullopt;
        }
        return static_cast<std::int64_t>(DaysFromCivil(year, month, day));
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::string weeklyText(std::int64_t minutes) {
    const std::int64_t m = ((minutes % WeekMinutes) + WeekMinutes) % WeekMinutes;
    return std::string(dayNames[m / DayMinutes]) + " " + twoDigits(m % DayMinutes / 60) + ":" +
           twoDigits(m % 60);
}

std::string dateText(std::int64_t seconds) {
    const std::int64_t days = floorDiv(seconds, DaySeconds);
    const std::int64_t inDay = seconds - days * DaySeconds;
    const CivilDate date = CivilFromDays(days);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d", date.Year, date.Month, date.Day,
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay % 3600 / 60));
    return text;
}

} // namespace

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

std::optional<WebhookKind> ReadWebhookKind(std::string_view text) {
    for (WebhookKind kind :
         {WebhookKind::Teams, WebhookKind::Slack, WebhookKind::Ntfy, WebhookKind::Json})
        if (SameText(std::string(text), WebhookKindName(kind)))
            return kind;
    return std::nullopt;
}

std::string ShownWebhookAddress(std::string_view address) {
    // Only a scheme and a host that read as such are shown; anything else might be a token
    // pasted in the wrong place.
    const std::string hidden = "...";
    const std::size_t colon = address.find("://");
    if (colon == std::string_view::npos || colon == 0 || colon > 16 || !isLetter(address[0]))
        return hidden;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = address[i];
        if (!isLetter(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return hidden;
    }
    const std::size_t start = colon + 3;
    const std::size_t end = address.find_first_of("/?#", start);
    std::string_view authority =
        address.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host = authority;
    std::string_view port;
    if (!host.empty() && host[0] == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos || close == 1)
            return hidden;
        for (char c : host.substr(1, close - 1))
            if (!isDigit(c) && !((c | 0x20) >= 'a' && (c | 0x20) <= 'f') && c != ':' && c != '.')
                return hidden;
        port = host.substr(close + 1);
        host = host.substr(0, close + 1);
        if (!port.empty() && port[0] != ':')
            return hidden;
    } else {
        const std::size_t portColon = host.find(':');
        if (portColon != std::string_view::npos) {
            port = host.substr(portColon);
            host = host.substr(0, portColon);
        }
        if (host.empty() || host.size() > 253)
            return hidden;
        for (char c : host)
            if (!isLetter(c) && !isDigit(c) && c != '-' && c != '.' && c != '_' &&
                static_cast<unsigned char>(c) < 0x80)
                return hidden;
        if (HasControlCharacter(host))
            return hidden;
    }
    if (!port.empty()) {
        if (port.size() < 2 || port.size() > 6)
            return hidden;
        for (char c : port.substr(1))
            if (!isDigit(c))
                return hidden;
    }
    const std::string shown =
        std::string(address.substr(0, start)) + std::string(host) + std::string(port) + "/";
    if (end == std::string_view::npos || address.substr(end) == "/")
        return shown;
    return shown + "...";
}

std::optional<MaintenanceWindow> ReadMaintenanceWindow(std::string_view line,
                                                       std::string& problem) {
    problem.clear();
    std::string untabbed(line); // tabs are blanks here
    for (char& c : untabbed)
        c = c == '\t' ? ' ' : c;
    if (HasControlCharacter(untabbed)) {
        problem = "A maintenance line holds a control character.";
        return std::nullopt;
    }
    const std::size_t equals = line.find('=');
    PointReader reader(line.substr(0, equals));
    const std::optional<Point> start = reader.Read(problem);
    if (!start)
        return std::nullopt;
    reader.SkipBlanks();
    if (reader.Peek() != '-') {
        problem = reader.AtEnd() ? "The window has no end: write \"-\" and its end after its "
                                   "start, as in Sat 22:00-Sun 02:00."
                                 : "\"" + shownPart(reader.Rest()) +
                                       "\" follows the start where \"-\" and the end belong, as "
                                       "in Sat 22:00-Sun 02:00.";
        return std::nullopt;
    }
    reader.Take();
    const std::optional<Point> end = reader.Read(problem);
    if (!end)
        return std::nullopt;
    reader.SkipBlanks();
    if (!reader.AtEnd()) {
        problem = "\"" + shownPart(reader.Rest()) +
                  "\" follows the window's end; the sites come after \"=\".";
        return std::nullopt;
    }
    if (start->Weekly != end->Weekly) {
        problem = "A window runs from a day of the week to a day of the week, or from a date to "
                  "a date.";
        return std::nullopt;
    }
    if (start->Weekly && start->Value == end->Value) {
        problem = "The window ends when it starts: give it an end at another time.";
        return std::nullopt;
    }
    if (!start->Weekly && end->Value <= start->Value) {
        problem = "The window ends before it starts: give it an end after its start.";
        return std::nullopt;
    }
    MaintenanceWindow window;
    window.Weekly = start->Weekly;
    window.Start = start->Value;
    window.End = end->Value;
    if (equals != std::string_view::npos) {
        const std::string_view sites = line.substr(equals + 1);
        std::size_t at = 0;
        while (at < sites.size()) {
            while (at < sites.size() && isBlank(sites[at]))
                ++at;
            const std::size_t begin = at;
            while (at < sites.size() && !isBlank(sites[at]))
                ++at;
            if (at > begin)
                window.Sites.emplace_back(sites.substr(begin, at - begin));
        }
        if (window.Sites.empty()) {
            problem = "No site follows \"=\": name the sites the window covers, or leave out "
                      "\"=\" for every site.";
            return std::nullopt;
        }
    }
    return window;
}

std::string MaintenanceWindowLine(const MaintenanceWindow& window) {
    std::string line = window.Weekly ? weeklyText(window.Start) + "-" + weeklyText(window.End)
                                     : dateText(window.Start) + "-" + dateText(window.End);
    if (!window.Sites.empty())
        line += " = " + Join(window.Sites, " ");
    return line;
}

namespace {

// Minutes since Monday 00:00 of the week the local time falls in.
std::int64_t minuteOfWeek(std::int64_t localSeconds) {
    // Day 0 of the local clock, 1970-01-01, was a Thursday: three days after a Monday.
    const std::int64_t days = floorDiv(localSeconds, DaySeconds);
    return ((days + 3) % 7 + 7) % 7 * DayMinutes + (localSeconds - days * DaySeconds) / 60;
}

bool coversTime(const MaintenanceWindow& window, std::int64_t localSeconds) {
    if (!window.Weekly)
        return window.Start <= localSeconds && localSeconds < window.End;
    const std::int64_t minute = minuteOfWeek(localSeconds);
    if (window.Start < window.End)
        return window.Start <= minute && minute < window.End;
    if (window.Start > window.End)
        return minute >= window.Start || minute < window.End;
    return false;
}

} // namespace

bool MaintenanceCovers(const MaintenanceWindow& window, const std::string& url,
                       std::int64_t localSeconds) {
    // The time first: every site of a long list asks each cycle, and a window's own list may
    // be as long.
    if (!coversTime(window, localSeconds))
        return false;
    return window.Sites.empty() ||
           std::find(window.Sites.begin(), window.Sites.end(), url) != window.Sites.end();
}

bool MaintenanceOver(const MaintenanceWindow& window, std::int64_t localSeconds) {
    return !window.Weekly && window.End <= localSeconds;
}

std::optional<std::int64_t> MaintenanceEnd(const MaintenanceWindow& window,
                                           std::int64_t localSeconds) {
    if (!coversTime(window, localSeconds))
        return std::nullopt;
    if (!window.Weekly)
        return window.End;
    const std::int64_t ahead =
        ((window.End - minuteOfWeek(localSeconds)) % WeekMinutes + WeekMinutes) % WeekMinutes;
    return floorDiv(localSeconds, 60) * 60 + ahead * 60;
}
