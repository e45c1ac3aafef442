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
    // Planted: a day still to come and a name that is no date, both with a down probe of the
    // site that would show in its uptime if they were read.
    const std::string future = folder + "\\history-2999-01-01.csv";
    const std::string noDate = folder + "\\history-2020-02-30.csv";
    for (const std::string& path : {today, old, kept, future, noDate})
        std::remove(path.c_str());
    std::ofstream(old) << HistoryHeader;
    std::ofstream(kept) << "x";
    for (const std::string& path : {future, noDate})
        std::ofstream(path) << HistoryHeader << CivilText(HistoryNow())
                            << ",http://a.test/,0,1,x\r\n";
    std::vector<std::string> logged;
    {
        HistoryStore store(folder, [&](const std::string& line) { logged.push_back(line); });
        store.Record(cycleOf("http://a.test/", true), "http://bench.test");
        EXPECT_EQ(::GetFileAttributesA(old.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the first cycle of a day removes the files older than [History] Days";
        for (const std::string& path : {kept, future, noDate})
            EXPECT_NE(::GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
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
    // An address that is not in the list.
    std::ofstream(today, std::ios::app | std::ios::binary)
        << CivilText(HistoryNow()) << ",http://planted.test/,1,1,\r\n";
    {
        HistoryStore store(folder, [&](const std::string& line) { logged.push_back(line); });
        store.Start({"http://a.test/"});
        bool loading = true;
        for (int i = 0; i < 3000 && loading; ++i) {
            store.Read([&](const HistoryIndex&, bool stillLoading) { loading = stillLoading; });
            ::Sleep(10);
        }
        ASSERT_FALSE(loading);
        store.Read([](const HistoryIndex& index, bool) {
            EXPECT_DOUBLE_EQ(*index.Uptime("http://a.test/", HistoryNow(), HistorySpan::Day), 50.0);
            EXPECT_EQ(index.Sites(), 1u);
        });
        ASSERT_EQ(logged.size(), 2u);
        EXPECT_NE(logged[0].find("1 damaged lines skipped"), std::string::npos) << logged[0];
        EXPECT_EQ(logged[1], "History: 1 lines of addresses that are not in the list skipped");

        // Off: nothing more is written.
        store.SetDays(0);
        const std::string before = ReadWholeFile(today);
        store.Record(cycleOf("http://a.test/", true), "http://bench.test");
        EXPECT_EQ(ReadWholeFile(today), before);
    }
    for (const std::string& path : {today, kept, future, noDate})
        std::remove(path.c_str());
    ::RemoveDirectoryA(folder.c_str());
}
