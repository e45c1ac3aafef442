#include "monitor/history_win.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::string todaysFile(const std::string& folder) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return folder + "\\" + HistoryFileName(now.wYear, now.wMonth, now.wDay);
}

CycleResults cycleOf(const std::string& url, bool up) {
    CycleResults cycle;
    cycle.Benchmark = ProbeResult::Answered(1);
    cycle.Urls = {url};
    cycle.Sites = {up ? ProbeResult::Answered(42) : ProbeResult::Down(ProbeReason::Refused, 3)};
    return cycle;
}

} // namespace

// Appends, the tail a power cut leaves, the reading back at start and the files that go.
TEST(HistoryStore, AppendsEachCycleWholeAndReadsTheFilesBackAtStart) {
    const std::string folder = TempPath("history");
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string today = todaysFile(folder);
    const std::string old = folder + "\\history-2000-01-01.csv";
    const std::string kept = folder + "\\history-2000-01-02.csv.bak";
    for (const std::string& path : {today, old, kept})
        std::remove(path.c_str());
    std::ofstream(old) << HistoryHeader;
    std::ofstream(kept) << "x";
    std::vector<std::string> logged;
    {
        HistoryStore store(folder, [&](const std::string& line) { logged.push_back(line); });
        store.Record(cycleOf("http://a.test/", true), "http://bench.test");
        EXPECT_EQ(::GetFileAttributesA(old.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the first cycle of a day removes the files older than [History] Days";
        EXPECT_NE(::GetFileAttributesA(kept.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    // A power cut in the middle of the next line.
    std::ofstream(today, std::ios::app | std::ios::binary) << "2026-01-01 00:00:00,http://a.te";
    {
        HistoryStore store(folder, [&](const std::string& line) { logged.push_back(line); });
        store.Record(cycleOf("http://a.test/", false), "http://bench.test");
        const std::string text = ReadWholeFile(today);
        EXPECT_EQ(text.rfind(HistoryHeader, 0), 0u) << text;
        EXPECT_NE(text.find("http://a.te\r\n"), std::string::npos) << "the cut line is ended";
        const std::string last = ",http://a.test/,0,3,connection refused\r\n";
        EXPECT_EQ(text.substr(text.size() - last.size()), last) << text;
    }
    {
        HistoryStore store(folder, [&](const std::string& line) { logged.push_back(line); });
        store.Start();
        bool loading = true;
        for (int i = 0; i < 3000 && loading; ++i) {
            store.Read([&](const HistoryIndex&, bool stillLoading) { loading = stillLoading; });
            ::Sleep(10);
        }
        ASSERT_FALSE(loading);
        store.Read([](const HistoryIndex& index, bool) {
            EXPECT_DOUBLE_EQ(*index.Uptime("http://a.test/", HistoryNow(), HistorySpan::Day), 50.0);
        });
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_NE(logged[0].find("1 damaged lines skipped"), std::string::npos) << logged[0];

        // Off: nothing more is written.
        store.SetDays(0);
        const std::string before = ReadWholeFile(today);
        store.Record(cycleOf("http://a.test/", true), "http://bench.test");
        EXPECT_EQ(ReadWholeFile(today), before);
    }
    for (const std::string& path : {today, kept})
        std::remove(path.c_str());
    ::RemoveDirectoryA(folder.c_str());
}
