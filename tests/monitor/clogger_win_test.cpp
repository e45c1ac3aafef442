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
