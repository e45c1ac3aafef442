#include "monitor/history.h"

#include "monitor/clogger.h"
#include "monitor/sitetransitions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace {

constexpr CivilSeconds DaySeconds = 86400;
constexpr CivilSeconds FineWidth = 300;
constexpr CivilSeconds HourWidth = 3600;
// The month's chart puts three hours into one point, so that it has 240 of them.
constexpr CivilSeconds MonthStep = 3 * HourWidth;
// Distinct reasons kept per site; a site that fails in more ways than this shows the later ones
// as down without words.
constexpr std::size_t MaxReasons = 255;

CivilSeconds floorDiv(CivilSeconds value, CivilSeconds width) {
    const CivilSeconds q = value / width;
    return (value % width != 0 && value < 0) ? q - 1 : q;
}

bool digitsAt(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// What a spreadsheet takes for the start of a formula; a line break is a blank by then.
bool startsFormula(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t';
}

// The second character of a field that the writer put a single quote before.
bool guardedAfterQuote(char c) {
    return startsFormula(c) || c == ' ' || c == '\'';
}

// The fields of one CSV line; false when a quote is not closed or text follows a closing quote.
bool splitCsv(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    std::size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size())
                    return false;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ',')
                return false;
            // The single quote CsvField put before what a spreadsheet would run.
            if (field.size() > 1 && field[0] == '\'' && guardedAfterQuote(field[1]))
                field.erase(0, 1);
        } else {
            const std::size_t end = std::min(line.find(',', i), line.size());
            field.assign(line.substr(i, end - i));
            if (field.find('"') != std::string::npos)
                return false;
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= line.size())
            return true;
        ++i; // the comma
    }
}

std::optional<std::uint32_t> parseMs(const std::string& text) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// The buckets of (now - span, now] in numbers of width: first and last, both included.
void bucketRange(CivilSeconds now, CivilSeconds span, CivilSeconds width, CivilSeconds& first,
                 CivilSeconds& last) {
    first = floorDiv(now - span, width) + 1;
    last = floorDiv(now, width);
}

} // namespace

CivilSeconds ToCivilSeconds(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<CivilSeconds>(DaysFromCivil(year, month, day)) * DaySeconds + hour * 3600 +
           minute * 60 + second;
}

std::string CivilText(CivilSeconds time) {
    // The civil date of a day number (the inverse of DaysFromCivil).
    const CivilSeconds days = floorDiv(time, DaySeconds);
    const CivilSeconds secs = time - days * DaySeconds;
    const CivilDate date = CivilFromDays(days);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02lld:%02lld:%02lld", date.Year, date.Month,
                  date.Day, static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return text;
}

std::optional<CivilSeconds> ParseCivilText(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digitsAt(text, 0, 4, year) || !digitsAt(text, 5, 2, month) || !digitsAt(text, 8, 2, day) ||
        !digitsAt(text, 11, 2, hour) || !digitsAt(text, 14, 2, minute) ||
        !digitsAt(text, 17, 2, second))
        return std::nullopt;
    if (!IsRealDate(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return ToCivilSeconds(year, month, day, hour, minute, second);
}

std::string HistoryFileName(int year, int month, int day) {
    char name[40];
    std::snprintf(name, sizeof name, "history-%04d-%02d-%02d.csv", year % 10000,
                  (month % 100 + 100) % 100, (day % 100 + 100) % 100);
    return name;
}

std::optional<long long> HistoryNameDay(std::string_view name) {
    if (name.size() != 22)
        return std::nullopt;
    std::string lower(name);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.compare(0, 8, "history-") != 0 || lower.compare(18, 4, ".csv") != 0 ||
        lower[12] != '-' || lower[15] != '-')
        return std::nullopt;
    int y = 0, m = 0, d = 0;
    if (!digitsAt(lower, 8, 4, y) || !digitsAt(lower, 13, 2, m) || !digitsAt(lower, 16, 2, d) ||
        !IsRealDate(y, m, d))
        return std::nullopt;
    return DaysFromCivil(y, m, d);
}

bool IsOldHistoryName(std::string_view name, int year, int month, int day, int days) {
    const std::optional<long long> dated = HistoryNameDay(name);
    return days > 0 && dated && DaysFromCivil(year, month, day) - *dated >= days;
}

bool IsReadableHistoryName(std::string_view name, int year, int month, int day) {
    const std::optional<long long> dated = HistoryNameDay(name);
    return dated && *dated <= DaysFromCivil(year, month, day);
}

std::string CsvField(std::string_view value) {
    std::string text(value);
    const bool guard =
        !text.empty() && (startsFormula(text.front()) || text.front() == '\r' ||
                          (text.size() > 1 && text.front() == '\'' &&
                           (guardedAfterQuote(text[1]) || text[1] == '\r' || text[1] == '\n')));
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    if (guard)
        text.insert(text.begin(), '\'');
    const bool quote = guard || text.find_first_of(",\"") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

std::string HistoryLines(CivilSeconds time, const CycleResults& cycle, const std::string& benchmark,
                         const std::function<bool(const std::string& url)>& inMaintenance) {
    const std::string stamp = CivilText(time);
    std::string lines;
    const auto line = [&](const std::string& url, const ProbeResult& result) {
        std::string reason = result.Up ? std::string() : ReasonText(result);
        if (inMaintenance && inMaintenance(url))
            reason = reason.empty() ? "maintenance" : "maintenance: " + reason;
        lines += stamp + ',' + CsvField(UrlWithMaskedPassword(url)) + ',' +
                 (result.Up ? '1' : '0') + ',' + std::to_string(result.Milliseconds) + ',' +
                 CsvField(reason) + "\r\n";
    };
    if (cycle.Urls.empty() && !cycle.Benchmark.Up) {
        line(benchmark, cycle.Benchmark);
        return lines;
    }
    for (std::size_t i = 0; i < cycle.Urls.size() && i < cycle.Sites.size(); ++i)
        line(cycle.Urls[i], cycle.Sites[i]);
    return lines;
}

std::optional<HistoryRecord> ParseHistoryLine(std::string_view line) {
    if (line.size() > MaxHistoryLine)
        return std::nullopt;
    std::vector<std::string> fields;
    if (!splitCsv(line, fields) || fields.size() != 5)
        return std::nullopt;
    const std::optional<CivilSeconds> time = ParseCivilText(fields[0]);
    const std::optional<std::uint32_t> ms = parseMs(fields[3]);
    if (!time || fields[1].empty() || (fields[2] != "0" && fields[2] != "1") || !ms)
        return std::nullopt;
    HistoryRecord record;
    record.Time = *time;
    record.Url = std::move(fields[1]);
    record.Up = fields[2] == "1";
    record.Milliseconds = *ms;
    if (!record.Up)
        record.Reason = std::move(fields[4]);
    return record;
}

std::size_t ParseHistoryText(std::string_view text,
                             const std::function<void(HistoryRecord&&)>& take) {
    HistoryTextReader reader(take);
    reader.Feed(text);
    return reader.Finish();
}

HistoryTextReader::HistoryTextReader(std::function<void(HistoryRecord&&)> take)
    : take_(std::move(take)) {}

void HistoryTextReader::Feed(std::string_view piece) {
    while (!piece.empty()) {
        const std::size_t end = piece.find('\n');
        const std::string_view part = piece.substr(0, end);
        if (!skipping_ && partial_.size() + part.size() > MaxHistoryLine + 1) {
            skipping_ = true; // one more than the bound for the CR
            partial_.clear();
        }
        if (!skipping_)
            partial_.append(part);
        if (end == std::string_view::npos)
            return;
        piece.remove_prefix(end + 1);
        if (skipping_) {
            ++damaged_;
            skipping_ = false;
            first_ = false;
            continue;
        }
        std::string_view whole = partial_;
        if (!whole.empty() && whole.back() == '\r')
            whole.remove_suffix(1);
        line(whole);
        partial_.clear();
    }
}

void HistoryTextReader::line(std::string_view text) {
    const bool header = first_ && text == HistoryHeader.substr(0, HistoryHeader.size() - 2);
    first_ = false;
    if (text.empty() || header)
        return;
    std::optional<HistoryRecord> record = ParseHistoryLine(text);
    if (record)
        take_(std::move(*record));
    else
        ++damaged_;
}

std::size_t HistoryTextReader::Finish() {
    // Cut off where the last write stopped.
    if (skipping_ || !partial_.empty())
        ++damaged_;
    skipping_ = false;
    partial_.clear();
    return std::exchange(damaged_, 0);
}

std::optional<HistorySpan> ParseHistorySpan(std::string_view text) {
    if (text == "24h")
        return HistorySpan::Day;
    if (text == "7d")
        return HistorySpan::Week;
    if (text == "30d")
        return HistorySpan::Month;
    return std::nullopt;
}

const char* HistorySpanText(HistorySpan span) {
    return span == HistorySpan::Day ? "24h" : span == HistorySpan::Week ? "7d" : "30d";
}

CivilSeconds HistorySpanSeconds(HistorySpan span) {
    return span == HistorySpan::Day    ? DaySeconds
           : span == HistorySpan::Week ? 7 * DaySeconds
                                       : 30 * DaySeconds;
}

void HistoryIndex::SetDays(int days) {
    days_ = std::clamp(days, 1, 30);
}

void HistoryIndex::addTo(std::vector<Bucket>& buckets, std::int32_t number, const HistoryRecord& r,
                         std::uint16_t reason) {
    // Cycles come in time order, so a record nearly always lands in the last bucket or a new one.
    auto at = buckets.end();
    if (buckets.empty() || buckets.back().Number < number)
        at = buckets.insert(buckets.end(), Bucket{number, 0, 0, 0, 0});
    else if (buckets.back().Number == number)
        at = buckets.end() - 1;
    else {
        at = std::lower_bound(buckets.begin(), buckets.end(), number,
                              [](const Bucket& b, std::int32_t n) { return b.Number < n; });
        if (at == buckets.end() || at->Number != number)
            at = buckets.insert(at, Bucket{number, 0, 0, 0, 0});
    }
    Bucket& b = *at;
    if (b.Checks == std::numeric_limits<std::uint16_t>::max())
        return;
    ++b.Checks;
    if (r.Up) {
        const std::uint64_t sum = std::uint64_t{b.UpMs} + r.Milliseconds;
        b.UpMs = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(sum, std::numeric_limits<std::uint32_t>::max()));
    } else {
        ++b.Downs;
        b.Reason = reason;
    }
}

void HistoryIndex::SetSites(const std::vector<std::string>& urls) {
    std::unordered_set<std::string> list;
    for (const std::string& url : urls)
        list.insert(UrlWithMaskedPassword(url));
    if (listed_ && list == list_)
        return;
    listed_ = true;
    list_ = std::move(list);
    for (auto it = sites_.begin(); it != sites_.end();)
        it = list_.count(it->first) ? std::next(it) : sites_.erase(it);
}

void HistoryIndex::SetNow(CivilSeconds now) {
    now_ = now;
}

bool HistoryIndex::Add(const HistoryRecord& record) {
    if (now_ && (record.Time <= *now_ - days_ * DaySeconds || record.Time > *now_ + DaySeconds))
        return false;
    std::string key = UrlWithMaskedPassword(record.Url);
    if (listed_ && !list_.count(key)) {
        ++skipped_;
        return false;
    }
    Site& s = sites_[std::move(key)];
    std::uint16_t reason = 0;
    if (!record.Up) {
        const std::string_view words = std::string_view(record.Reason).substr(0, MaxHistoryReason);
        auto known = std::find(s.Reasons.begin(), s.Reasons.end(), words);
        if (known == s.Reasons.end() && s.Reasons.size() < MaxReasons)
            known = s.Reasons.insert(s.Reasons.end(), std::string(words));
        if (known != s.Reasons.end())
            reason = static_cast<std::uint16_t>(1 + (known - s.Reasons.begin()));
    }
    addTo(s.Fine, static_cast<std::int32_t>(floorDiv(record.Time, FineWidth)), record, reason);
    addTo(s.Hourly, static_cast<std::int32_t>(floorDiv(record.Time, HourWidth)), record, reason);
    return true;
}

void HistoryIndex::Trim(CivilSeconds now) {
    const auto dropBefore = [](std::vector<Bucket>& buckets, CivilSeconds first) {
        auto keep = std::lower_bound(buckets.begin(), buckets.end(), first,
                                     [](const Bucket& b, CivilSeconds n) { return b.Number < n; });
        buckets.erase(buckets.begin(), keep);
    };
    CivilSeconds first = 0, last = 0;
    for (auto it = sites_.begin(); it != sites_.end();) {
        Site& site = it->second;
        bucketRange(now, DaySeconds, FineWidth, first, last);
        dropBefore(site.Fine, first);
        bucketRange(now, days_ * DaySeconds, HourWidth, first, last);
        dropBefore(site.Hourly, first);
        it = site.Fine.empty() && site.Hourly.empty() ? sites_.erase(it) : std::next(it);
    }
}

const HistoryIndex::Site* HistoryIndex::find(const std::string& url) const {
    auto site = sites_.find(UrlWithMaskedPassword(url));
    return site == sites_.end() ? nullptr : &site->second;
}

std::optional<double> HistoryIndex::Uptime(const std::string& url, CivilSeconds now,
                                           HistorySpan span) const {
    const Site* site = find(url);
    if (!site)
        return std::nullopt;
    const bool day = span == HistorySpan::Day;
    const CivilSeconds width = day ? FineWidth : HourWidth;
    CivilSeconds first = 0, last = 0;
    bucketRange(now, HistorySpanSeconds(span), width, first, last);
    std::uint64_t checks = 0, downs = 0;
    for (const Bucket& b : day ? site->Fine : site->Hourly)
        if (b.Number >= first && b.Number <= last) {
            checks += b.Checks;
            downs += b.Downs;
        }
    if (checks == 0)
        return std::nullopt;
    return 100.0 * static_cast<double>(checks - downs) / static_cast<double>(checks);
}

std::vector<HistoryPoint> HistoryIndex::Points(const std::string& url, CivilSeconds now,
                                               HistorySpan span, CivilSeconds& step) const {
    const bool day = span == HistorySpan::Day;
    const CivilSeconds width = day ? FineWidth : HourWidth;
    step = day ? FineWidth : span == HistorySpan::Week ? HourWidth : MonthStep;
    std::vector<HistoryPoint> points;
    const Site* site = find(url);
    if (!site)
        return points;
    CivilSeconds first = 0, last = 0;
    bucketRange(now, HistorySpanSeconds(span), step, first, last);
    std::vector<std::uint64_t> upMs;
    for (const Bucket& b : day ? site->Fine : site->Hourly) {
        const CivilSeconds number = floorDiv(b.Number * width, step);
        if (number < first || number > last)
            continue;
        if (points.empty() || points.back().Start != number * step) {
            points.push_back(HistoryPoint{number * step, 0, 0, 0, {}});
            upMs.push_back(0);
        }
        HistoryPoint& p = points.back();
        p.Checks += b.Checks;
        p.Downs += b.Downs;
        upMs.back() += b.UpMs;
        if (b.Downs > 0 && b.Reason > 0)
            p.Reason = site->Reasons[b.Reason - 1];
    }
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::uint32_t ups = points[i].Checks - points[i].Downs;
        points[i].Milliseconds = ups == 0 ? 0 : static_cast<std::uint32_t>(upMs[i] / ups);
    }
    return points;
}

std::size_t HistoryIndex::Buckets() const {
    std::size_t count = 0;
    for (const auto& [url, site] : sites_)
        count += site.Fine.size() + site.Hourly.size();
    return count;
}
