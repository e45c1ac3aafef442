#include "monitor/metricsfile_win.h"
#include "base/paths_win.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

// The file is replaced whole and no temporary file stays behind, also when the write fails;
// a relative folder lies beside the program, as a service's working folder is the system's.
TEST(WriteFileReplacing, ReplacesWholeLeavesNoTemporaryAndSaysWhyNot) {
    const std::string folder = "metrics test " + std::to_string(::GetCurrentProcessId());
    const std::string full = FolderOf(ProgramPath()) + "\\" + folder;
    ASSERT_TRUE(::CreateDirectoryA(full.c_str(), nullptr));
    const std::string file = full + "\\vigrel.prom";
    EXPECT_EQ(WriteFileReplacing(folder, "vigrel.prom", std::string(5000, 'a')), "");
    EXPECT_EQ(WriteFileReplacing(folder + "\\", "vigrel.prom", "b 1\n"), "");
    EXPECT_EQ(ReadWholeFile(file), "b 1\n");
    EXPECT_EQ(::GetFileAttributesA((file + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);

    // A reader holding the file without sharing delete: the move fails, the old text stays.
    HANDLE reader = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_NE(WriteFileReplacing(folder, "vigrel.prom", "c 1\n"), "");
    ::CloseHandle(reader);
    EXPECT_EQ(ReadWholeFile(file), "b 1\n");
    EXPECT_EQ(::GetFileAttributesA((file + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);

    const std::string missing = WriteFileReplacing(folder + "\\none", "vigrel.prom", "d 1\n");
    EXPECT_NE(missing.find("error 3"), std::string::npos) << missing;
    ::DeleteFileA(file.c_str());
    EXPECT_TRUE(::RemoveDirectoryA(full.c_str()));
}
