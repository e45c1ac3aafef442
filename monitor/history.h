// The history of every check: one CSV file a day beside the program, one line per probe, which a
// spreadsheet opens as it is; and what the History window needs of it (uptime and response times
// per site), kept in memory as buckets so that a window never makes the service read a month of
// files. Portable: the files are read and written in history_win.cpp.
//
// Times are the local clock's, as the daily log has them, counted in seconds since 1970-01-01
// 00:00 of that clock ("civil seconds"): an hour the clock repeats in autumn is counted twice and
// an hour it skips in spring stays empty, which moves an uptime by a hair at most.
#pragma once

#include "monitor/proberesult.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using CivilSeconds = std::int64_t;

CivilSeconds ToCivilSeconds(int year, int month, int day, int hour, int minute, int second);
// "yyyy-mm-dd hh:nn:ss".
std::string CivilText(CivilSeconds time);
// The time of "yyyy-mm-dd hh:nn:ss", or nothing when the text is not exactly a real one.
std::optional<CivilSeconds> ParseCivilText(std::string_view text);

// The day's file: "history-yyyy-mm-dd.csv".
std::string HistoryFileName(int year, int month, int day);
// The day number (DaysFromCivil) of a history file's name ("history-yyyy-mm-dd.csv", any case,
// a real date); nothing for any other name, which the history neither reads nor removes.
std::optional<long long> HistoryNameDay(std::string_view name);
// True when name is a history file dated days or more days before the given day; as for the
// daily log, the date in the name decides, and days <= 0 or any other name is never old.
bool IsOldHistoryName(std::string_view name, int year, int month, int day, int days);
// True when name is a history file dated the given day or before: a file dated later than today
// (planted, or left by a clock that ran ahead) is not read, and it is not removed either, since
// its day may yet come.
bool IsReadableHistoryName(std::string_view name, int year, int month, int day);

// The first line of every file, so that a spreadsheet names its columns.
constexpr std::string_view HistoryHeader = "time,url,up,ms,reason\r\n";
// A reason is kept up to this many bytes: the probes' words are far shorter, and a planted file's
// reasons would otherwise cost what its lines are long, 255 times per site.
constexpr std::size_t MaxHistoryReason = 200;
// A line longer than this is damaged, whatever it holds.
constexpr std::size_t MaxHistoryLine = 8192;

struct HistoryRecord {
    CivilSeconds Time = 0;
    std::string Url;
    bool Up = false;
    std::uint32_t Milliseconds = 0;
    std::string Reason; // empty when up
};

// A field as CSV needs it: quoted, with its quotes doubled, when it holds a comma, a quote or
// blanks at its ends. A line break inside a field becomes a blank, so that every record is one
// line and a reader can find the records without reading the quotes of the ones before.
// A value that a spreadsheet would take for a formula (one beginning with =, +, -, @, a tab or a
// carriage return) is written quoted behind a single quote, as spreadsheet-safe exports do; so
// is one beginning with a single quote followed by such a character or another single quote,
// so that the reader can take exactly one quote off a quoted field whose second character is
// one of those, and an older file's fields read as they always did.
std::string CsvField(std::string_view value);

// The lines of one cycle, each ending in CR LF, the addresses with their passwords hidden
// (UrlWithMaskedPassword). A cycle whose benchmark was down checked no site:
// it stores one line for the benchmark's address with its reason, which shows when this
// computer's own connection was out while the sites' uptime neither gains nor loses.
// A site a maintenance window covered (inMaintenance) is marked in the reason column:
// "maintenance" when it answered, "maintenance: " and the reason when it did not; the column of
// an answer is not read back, so readers of older files see no difference.
std::string HistoryLines(CivilSeconds time, const CycleResults& cycle, const std::string& benchmark,
                         const std::function<bool(const std::string& url)>& inMaintenance = {});

// One line without its line end; nothing when it is not exactly a record.
std::optional<HistoryRecord> ParseHistoryLine(std::string_view line);

// Hands every record of a file's text to take, in order, and returns how many lines were damaged
// (not a record, or the last line without its line end, as a power cut leaves it). The header
// line and empty lines are neither.
std::size_t ParseHistoryText(std::string_view text,
                             const std::function<void(HistoryRecord&&)>& take);

// The same for a file read piece by piece, so that reading a file back holds one piece and one
// line in memory, whatever the file's size; a line longer than MaxHistoryLine is skipped as
// damaged without being kept.
class HistoryTextReader {
public:
    explicit HistoryTextReader(std::function<void(HistoryRecord&&)> take);
    void Feed(std::string_view piece);
    // The damaged lines, the unended last one included.
    std::size_t Finish();

private:
    void line(std::string_view line);
    std::function<void(HistoryRecord&&)> take_;
    std::string partial_;
    bool skipping_ = false; // inside a line already too long
    bool first_ = true;
    std::size_t damaged_ = 0;
};

// Spans of the History window.
enum class HistorySpan { Day, Week, Month };
std::optional<HistorySpan> ParseHistorySpan(std::string_view text); // "24h", "7d", "30d"
const char* HistorySpanText(HistorySpan span);
CivilSeconds HistorySpanSeconds(HistorySpan span);

// One point of a chart: the probes in [Start, Start + step).
struct HistoryPoint {
    CivilSeconds Start = 0;
    std::uint32_t Milliseconds = 0; // mean response time of the probes that were up
    std::uint32_t Checks = 0;
    std::uint32_t Downs = 0;
    std::string Reason; // why the last down probe of the point was down
};

// The most points one chart has: a day in five-minute steps.
constexpr std::size_t MaxHistoryPoints = 288;

// Per site, what its probes came to: five-minute buckets for the last day, hourly ones for the
// last month. Records are added as cycles end (and from the files at start); old buckets go as
// newer ones arrive.
//
// Sites are known by their addresses with the password hidden, as the files have them: records
// and questions alike are masked, so an address with a password finds its own history.
class HistoryIndex {
public:
    // How far back hourly buckets stay, in days (at most 30, the longest span).
    void SetDays(int days);
    // The sites kept from now on: records of other addresses are skipped (and counted), and the
    // buckets of sites no longer listed go. Without a list every address is kept.
    void SetSites(const std::vector<std::string>& urls);
    // Records from now on are kept only when they fall in the spans seen from now (up to a day
    // ahead, for a clock put back): a file may hold any times, and each one kept would cost a
    // bucket, inserted in the middle when out of order.
    void SetNow(CivilSeconds now);
    // False when the record's address is not listed or its time is out of the spans.
    bool Add(const HistoryRecord& record);
    // Records skipped since the last call, since they were of no listed site.
    std::size_t TakeSkipped() { return std::exchange(skipped_, 0); }
    // Drops what is older than the spans need as seen from now.
    void Trim(CivilSeconds now);

    // Percent of the site's probes in (now - span, now] that were up; nothing without a probe.
    std::optional<double> Uptime(const std::string& url, CivilSeconds now, HistorySpan span) const;
    // The chart over (now - span, now]: at most MaxHistoryPoints points, only those with probes,
    // in time order; step is the width of each.
    std::vector<HistoryPoint> Points(const std::string& url, CivilSeconds now, HistorySpan span,
                                     CivilSeconds& step) const;

    std::size_t Sites() const { return sites_.size(); }
    // Buckets held, for the bench's figure of memory.
    std::size_t Buckets() const;

private:
    struct Bucket {
        std::int32_t Number = 0; // start / width
        std::uint16_t Checks = 0;
        std::uint16_t Downs = 0;
        std::uint32_t UpMs = 0;   // sum over the probes that were up
        std::uint16_t Reason = 0; // 1 + index into the site's reasons; 0 none
    };
    struct Site {
        std::vector<Bucket> Fine;   // FineWidth
        std::vector<Bucket> Hourly; // HourWidth
        std::vector<std::string> Reasons;
    };
    static void addTo(std::vector<Bucket>& buckets, std::int32_t number, const HistoryRecord& r,
                      std::uint16_t reason);
    const Site* find(const std::string& url) const;

    int days_ = 30;
    std::optional<CivilSeconds> now_;
    bool listed_ = false; // SetSites was called
    std::unordered_set<std::string> list_;
    std::size_t skipped_ = 0;
    // Hashed, so that reading back grows with the records, not with the addresses times them.
    std::unordered_map<std::string, Site> sites_;
};
