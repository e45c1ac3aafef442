// The history's costs (bench/history.sh):
//   size     bytes of a day's file for 1,000 sites checked every 5 minutes, and the service's
//            buckets for a month of them;
//   append   what HistoryStore::Record adds to a cycle of 200 sites (one write, flushed, and the
//            buckets), against the same call with the history off;
//   start    reading back 30 days of 100 sites at the service's start (on its own thread);
//   planted  reading back a day's file into which 400,000 (and 800,000) addresses that are not
//            in the list were planted, beside the 100 sites of the list: time and memory;
//   window   the History window opened on those 30 days: from creating it to its list filled
//            and its chart painted, with the two answers it asks for built by the service's
//            code, encoded, decoded and shown as the pipe would carry them.
#include "app/historyreply.h"
#include "base/utf_win.h"
#include "control/protocol.h"
#include "fixtures/history_sample.h"
#include "monitor/history_win.h"
#include "tray/historywindow_win.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace {

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// The record's line as the service writes it.
std::string line(const HistoryRecord& r) {
    CycleResults cycle;
    cycle.Benchmark = ProbeResult::Answered(1);
    cycle.Urls = {r.Url};
    if (r.Up)
        cycle.Sites = {ProbeResult::Answered(r.Milliseconds)};
    else if (r.Reason.rfind("HTTP status ", 0) == 0)
        cycle.Sites = {
            ProbeResult::Down(ProbeReason::HttpStatus, r.Milliseconds,
                              static_cast<std::uint32_t>(std::stoul(r.Reason.substr(12))))};
    else if (r.Reason.rfind("timed out", 0) == 0)
        cycle.Sites = {ProbeResult::Down(ProbeReason::TimedOut, r.Milliseconds)};
    else if (r.Reason == "connection refused")
        cycle.Sites = {ProbeResult::Down(ProbeReason::Refused, r.Milliseconds)};
    else
        cycle.Sites = {ProbeResult::Down(ProbeReason::NameNotFound, r.Milliseconds)};
    return HistoryLines(r.Time, cycle, "http://bench.test");
}

double workingSetMb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.WorkingSetSize) / 1e6;
}

// Waits for the store's reading back; its time in ms.
double readBack(HistoryStore& store, const std::vector<std::string>& sites) {
    const double started = nowMs();
    store.Start(sites);
    bool loading = true;
    while (loading) {
        store.Read([&](const HistoryIndex&, bool still) { loading = still; });
        if (loading)
            ::Sleep(5);
    }
    return nowMs() - started;
}

std::string folderFor(const char* name) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + name;
    ::CreateDirectoryA(folder.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\history-*.csv").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
        while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    return folder;
}

void size() {
    const CivilSeconds now = HistoryNow();
    const std::vector<std::string> sites = SampleSites(1000);
    unsigned long long bytes = HistoryHeader.size();
    std::size_t lines = 0;
    SampleHistory(now, sites, 1, 300, [&](const HistoryRecord& r) {
        bytes += line(r).size();
        ++lines;
    });
    std::printf("size: 1,000 sites every 5 min, one day: %zu lines, %.1f MB (%.1f bytes a line)\n",
                lines, static_cast<double>(bytes) / 1e6,
                static_cast<double>(bytes) / static_cast<double>(lines));
    HistoryIndex index;
    SampleHistory(now, sites, 30, 300, [&](const HistoryRecord& r) { index.Add(r); });
    index.Trim(now);
    std::printf("size: buckets of 1,000 sites over 30 days: %zu buckets, about %.1f MB\n",
                index.Buckets(), static_cast<double>(index.Buckets() * 16) / 1e6);
}

void append(int cycles) {
    const std::string folder = folderFor("vigrel-history-append");
    const std::vector<std::string> sites = SampleSites(200);
    CycleResults cycle;
    cycle.Benchmark = ProbeResult::Answered(3);
    cycle.Urls = sites;
    for (std::size_t i = 0; i < sites.size(); ++i)
        cycle.Sites.push_back(i % 50 == 7 ? ProbeResult::Down(ProbeReason::TimedOut, 2000)
                                          : ProbeResult::Answered(80 + i % 120));
    for (int days : {30, 0}) {
        HistoryStore store(folder, [](const std::string&) {});
        store.SetDays(days);
        std::vector<double> times;
        for (int i = 0; i < cycles; ++i) {
            const double start = nowMs();
            store.Record(cycle, "http://bench.test");
            times.push_back(nowMs() - start);
        }
        std::printf("append: 200 sites, history %s: median %.3f ms, p95 %.3f ms, max %.3f ms "
                    "(%d cycles)\n",
                    days ? "on " : "off", percentile(times, 0.5), percentile(times, 0.95),
                    percentile(times, 1.0), cycles);
    }
}

// Answers the window's requests as the service would, after the window asked.
class Answering final : public MonitorLink {
public:
    Answering(const HistoryIndex& index, std::vector<std::string> sites, CivilSeconds now)
        : index_(index), sites_(std::move(sites)), now_(now) {}
    bool Connected() const override { return true; }
    void CheckNow() override {}
    void RequestSettings() override {}
    void ApplySettings(const CUserSettings&) override {}
    void CheckList(const std::vector<std::string>&) override {}
    void StopMonitoring() override {}
    void RequestHistory(const std::string& url, const std::string& span) override {
        asked.push_back({url, span});
    }
    // Answers what was asked, and what that made the window ask; the bytes of each answer.
    void AnswerAll(std::vector<std::size_t>& sizes) {
        while (!asked.empty()) {
            const auto [url, span] = asked.front();
            asked.pop_front();
            const std::string bytes =
                EncodeMessage(HistoryMessage(HistoryAnswer(index_, sites_, url, span, now_)));
            sizes.push_back(bytes.size());
            std::string error;
            OnHistory(*HistoryFromMessage(*DecodeMessage(bytes, error)));
        }
    }
    std::deque<std::pair<std::string, std::string>> asked;

private:
    const HistoryIndex& index_;
    std::vector<std::string> sites_;
    CivilSeconds now_;
};

void startAndWindow(int rounds) {
    const std::string folder = folderFor("vigrel-history-start");
    const CivilSeconds now = HistoryNow();
    const std::vector<std::string> sites = SampleSites(100);
    // A month of files, one a day, as the service writes them.
    std::string day;
    CivilSeconds dayStart = -1;
    unsigned long long total = 0;
    const auto flush = [&] {
        if (dayStart < 0)
            return;
        const std::string date = CivilText(dayStart);
        const std::string name = "history-" + date.substr(0, 10) + ".csv";
        HANDLE file = ::CreateFileA((folder + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
        DWORD put = 0;
        const std::string text = std::string(HistoryHeader) + day;
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
        ::CloseHandle(file);
        total += text.size();
        day.clear();
    };
    SampleHistory(now, sites, 29, 300, [&](const HistoryRecord& r) {
        if (r.Time - r.Time % 86400 != dayStart) {
            flush();
            dayStart = r.Time - r.Time % 86400;
        }
        day += line(r);
    });
    flush();

    HistoryStore store(folder,
                       [](const std::string& text) { std::printf("log: %s\n", text.c_str()); });
    store.SetDays(30);
    std::printf("start: 30 days of 100 sites (%.1f MB of files) read back in %.0f ms\n",
                static_cast<double>(total) / 1e6, readBack(store, sites));

    store.Read([&](const HistoryIndex& index, bool) {
        for (int round = 0; round < rounds; ++round) {
            Answering link(index, sites, now);
            std::vector<std::size_t> sizes;
            const double begin = nowMs();
            THistoryWindow window(nullptr, link);
            const double created = nowMs() - begin;
            link.OnHistory = [&window](const MonitorHistory& h) { window.Show(h); };
            link.AnswerAll(sizes);
            const double answered = nowMs() - begin;
            ::UpdateWindow(window.Handle());
            ::RedrawWindow(window.Handle(), nullptr, nullptr,
                           RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            const double opened = nowMs() - begin;
            // The month's chart, the heaviest span.
            const double month = nowMs();
            ::SendMessageW(::GetDlgItem(window.Handle(), idSpanMonth), BM_CLICK, 0, 0);
            link.AnswerAll(sizes);
            ::RedrawWindow(window.Handle(), nullptr, nullptr,
                           RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            std::printf("window: opened with list and chart in %.1f ms (created %.1f, answered "
                        "%.1f); 30 d chart in %.1f ms; answers of %zu, %zu and %zu bytes (bound "
                        "%zu)\n",
                        opened, created, answered, nowMs() - month, sizes[0], sizes[1], sizes[2],
                        MaxMessageSize);
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&msg);
        }
    });
}

void planted(int addresses) {
    const std::string folder = folderFor("vigrel-history-planted");
    const CivilSeconds now = HistoryNow();
    const std::vector<std::string> sites = SampleSites(100);
    std::string text(HistoryHeader);
    const std::string date = CivilText(now).substr(0, 10);
    SampleHistory(now, sites, 1, 300, [&](const HistoryRecord& r) {
        if (CivilText(r.Time).compare(0, 10, date) == 0)
            text += line(r);
    });
    HistoryRecord r;
    r.Time = now - now % 86400;
    r.Up = true;
    r.Milliseconds = 120;
    for (int i = 0; i < addresses; ++i) {
        r.Url = "http://planted-" + std::to_string(i) + ".example.org/some/path/x";
        text += line(r);
    }
    HANDLE file = ::CreateFileA((folder + "\\history-" + date + ".csv").c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    ::CloseHandle(file);
    const std::size_t bytes = text.size();
    text = std::string();

    const double before = workingSetMb();
    HistoryStore store(folder,
                       [](const std::string& line) { std::printf("log: %s\n", line.c_str()); });
    store.SetDays(30);
    const double ms = readBack(store, sites);
    std::size_t kept = 0;
    store.Read([&](const HistoryIndex& index, bool) { kept = index.Sites(); });
    std::printf("planted: %d addresses not listed (%.1f MB file) read back in %.0f ms; %zu sites "
                "kept; working set %.0f MB after, %.0f MB before\n",
                addresses, static_cast<double>(bytes) / 1e6, ms, kept, workingSetMb(), before);
}

} // namespace

int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "size")
        size();
    if (only.empty() || only == "append")
        append(200);
    if (only.empty() || only == "window")
        startAndWindow(5);
    if (only.empty() || only == "planted") {
        planted(400000);
        planted(800000);
    }
    return 0;
}
