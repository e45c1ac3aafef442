#include "monitor/clogger.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

TEST(LogFilePath, DayFileBesideTheProgram) {
    EXPECT_EQ(LogFilePath("C:\\Program Files\\Vigrel\\Vigrel.exe", 2004, 3, 15),
              "C:\\Program Files\\Vigrel\\log20040315.log");
    EXPECT_EQ(LogFilePath("C:\\Vigrel.exe", 2024, 12, 1), "C:\\log20241201.log");
    // A path without a backslash is used whole as the folder.
    EXPECT_EQ(LogFilePath("Vigrel.exe", 1999, 1, 9), "Vigrel.exe\\log19990109.log");
    // Out-of-range clock values still give eight digits.
    EXPECT_EQ(LogFilePath("C:\\x\\a.exe", 12345, 123, -1).size(),
              std::string("C:\\x\\log12345678.log").size());
}

TEST(LogTimePrefix, TwelveHourClock) {
    EXPECT_EQ(LogTimePrefix(0, 30, ":"), "12:30 a -> ");
    EXPECT_EQ(LogTimePrefix(0, 0, ":"), "12:00 a -> ");
    EXPECT_EQ(LogTimePrefix(9, 5, ":"), "09:05 a -> ");
    EXPECT_EQ(LogTimePrefix(11, 59, ":"), "11:59 a -> ");
    EXPECT_EQ(LogTimePrefix(12, 5, ":"), "12:05 p -> ");
    EXPECT_EQ(LogTimePrefix(13, 0, ":"), "01:00 p -> ");
    EXPECT_EQ(LogTimePrefix(23, 40, ":"), "11:40 p -> ");
}

TEST(LogTimePrefix, LocaleSeparator) {
    EXPECT_EQ(LogTimePrefix(9, 5, "."), "09.05 a -> ");
    EXPECT_EQ(LogTimePrefix(21, 7, "h"), "09h07 p -> ");
    EXPECT_EQ(LogTimePrefix(21, 7, ""), "0907 p -> ");
}

TEST(LogTimePrefix, BrokenClockValuesStayWellFormed) {
    EXPECT_EQ(LogTimePrefix(24, 60, ":"), "12:00 a -> ");
    EXPECT_EQ(LogTimePrefix(-1, -1, ":"), "11:59 p -> ");
}

TEST(AppendLogLine, CreatesThenAppendsInCallOrder) {
    const std::string path = TempPath("append.log");
    std::remove(path.c_str());
    ASSERT_TRUE(AppendLogLine(path, "09:05 a -> ", "Application Started"));
    EXPECT_EQ(ReadWholeFile(path), "09:05 a -> Application Started\r\n");
    ASSERT_TRUE(AppendLogLine(path, "09:05 a -> ", "Failed --- http://a/"));
    ASSERT_TRUE(AppendLogLine(path, "09:05 a -> ", ""));
    EXPECT_EQ(ReadWholeFile(path), "09:05 a -> Application Started\r\n"
                                   "09:05 a -> Failed --- http://a/\r\n"
                                   "09:05 a -> \r\n");
    std::remove(path.c_str());
}

TEST(AppendLogLine, UnopenableFileLosesTheLineQuietly) {
    // A folder where the day's file should be: no rights trick needed when running as root.
    const std::string path = TempPath("blocked.log");
#ifdef _WIN32
    ASSERT_EQ(_mkdir(path.c_str()), 0);
#else
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
#endif
    EXPECT_FALSE(AppendLogLine(path, "01:00 p -> ", "lost"));
#ifdef _WIN32
    _rmdir(path.c_str());
#else
    rmdir(path.c_str());
#endif
    // A missing folder is never created.
    EXPECT_FALSE(AppendLogLine(TempPath("no-such-folder") + "/x/log.log", "", "lost"));
}

TEST(IsOldLogName, TheDateInTheNameAgainstTodayAndDays) {
    // With 90 days, the file of 2026-03-01 and those of the 89 days before it stay.
    EXPECT_FALSE(IsOldLogName("log20260301.log", 2026, 3, 1, 90));
    EXPECT_FALSE(IsOldLogName("log20251202.log", 2026, 3, 1, 90));
    EXPECT_TRUE(IsOldLogName("log20251201.log", 2026, 3, 1, 90));
    EXPECT_TRUE(IsOldLogName("LOG19991231.LOG", 2026, 3, 1, 90));
    // Across a leap day and a year's end.
    EXPECT_FALSE(IsOldLogName("log20240229.log", 2024, 3, 1, 2));
    EXPECT_TRUE(IsOldLogName("log20240228.log", 2024, 3, 1, 2));
    EXPECT_TRUE(IsOldLogName("log20241231.log", 2025, 1, 1, 1));
    // A clock set back leaves the later files alone.
    EXPECT_FALSE(IsOldLogName("log20300101.log", 2026, 3, 1, 1));
    // 0, or less, keeps everything.
    EXPECT_FALSE(IsOldLogName("log19990101.log", 2026, 3, 1, 0));
    EXPECT_FALSE(IsOldLogName("log19990101.log", 2026, 3, 1, -5));
}

TEST(IsOldLogName, OnlyTheProgramsOwnDailyNames) {
    for (const char* name : {"log20250230.log", "log20251301.log", "log20250100.log",
                             "log2025123.log", "log202512310.log", "log20251231.log.bak",
                             "xlog20251231.log", "log2025-1231.log", "Vigrel.INI", ""})
        EXPECT_FALSE(IsOldLogName(name, 2026, 3, 1, 1)) << name;
}
