#include "monitor/clogger_win.h"
#include "base/paths_win.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace {

std::string todaysLog() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return LogFilePath(ProgramPath(), now.wYear, now.wMonth, now.wDay);
}

} // namespace

TEST(WriteLog, AppendsStampedLinesToTodaysFileBesideTheProgram) {
    const std::string path = todaysLog();
    std::remove(path.c_str());
    WriteLog("Application Started");
    WriteLog("Failed --- http://127.0.0.1:1/");
    const std::string text = ReadWholeFile(path);
    // "hh?nn a -> " with the locale's one-character separator.
    ASSERT_EQ(text.size(), 11u + 19 + 2 + 11 + 30 + 2) << text;
    EXPECT_TRUE(text.substr(5, 6) == " a -> " || text.substr(5, 6) == " p -> ") << text;
    EXPECT_EQ(text.substr(11, 21), "Application Started\r\n");
    EXPECT_EQ(text.substr(43), "Failed --- http://127.0.0.1:1/\r\n");
    std::remove(path.c_str());
}

TEST(WriteLog, BlockedDayFileIsSilentlyLost) {
    const std::string path = todaysLog();
    std::remove(path.c_str());
    ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));
    WriteLog("lost");
    EXPECT_TRUE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ::RemoveDirectoryA(path.c_str());
}

TEST(RemoveOldLogs, DeletesOnlyDailyFilesDatedBeforeTheDaysKept) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const std::string folder = FolderOf(ProgramPath());
    const std::string today = todaysLog();
    const std::string old = folder + "\\log20000101.log";
    const std::string oldUpper = folder + "\\LOG20000102.LOG";
    const std::string notOurs = folder + "\\log2000010.log";
    for (const std::string& path : {today, old, oldUpper, notOurs})
        AppendLogLine(path, "", "x");

    SetLogDays(0);
    RemoveOldLogs();
    EXPECT_TRUE(::GetFileAttributesA(old.c_str()) != INVALID_FILE_ATTRIBUTES);

    SetLogDays(2);
    RemoveOldLogs();
    EXPECT_EQ(::GetFileAttributesA(old.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesA(oldUpper.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesA(today.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesA(notOurs.c_str()), INVALID_FILE_ATTRIBUTES);
    SetLogDays(90);
    for (const std::string& path : {today, notOurs})
        std::remove(path.c_str());
}
