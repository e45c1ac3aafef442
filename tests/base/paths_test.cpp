#include "base/paths.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(Paths, FolderIsCutBeforeTheLastBackslash) {
    EXPECT_EQ(FolderOf("C:\\Program Files\\Vigrel\\Vigrel.exe"), "C:\\Program Files\\Vigrel");
    EXPECT_EQ(FolderOf("Vigrel.exe"), "Vigrel.exe");
    EXPECT_EQ(FolderOf("C:\\Vigrel.exe"), "C:");
}

TEST(Paths, ExtensionIsReplacedOnlyInTheFileName) {
    EXPECT_EQ(ChangeFileExt("C:\\a\\Vigrel.exe", ".INI"), "C:\\a\\Vigrel.INI");
    EXPECT_EQ(ChangeFileExt("C:\\a.b\\Vigrel", ".INI"), "C:\\a.b\\Vigrel.INI");
    EXPECT_EQ(ChangeFileExt("C:\\a\\x.tar.gz", ".INI"), "C:\\a\\x.tar.INI");
}

TEST(Paths, FilesOpenByTheirUtf8Names) {
    const std::string path = TempPath("\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8.txt");
    std::FILE* file = OpenFileUtf8(path, "wb");
    ASSERT_TRUE(file);
    std::fputs("x", file);
    std::fclose(file);
#ifdef _WIN32
    // The name on disk is the Cyrillic one, not its bytes read in the ANSI code page.
    const std::string ascii = TempPath("");
    const std::wstring wide =
        std::wstring(ascii.begin(), ascii.end()) + L"\x043A\x043D\x0438\x0433\x0438.txt";
    file = ::_wfopen(wide.c_str(), L"rb");
#else
    file = std::fopen(path.c_str(), "rb");
#endif
    ASSERT_TRUE(file);
    EXPECT_EQ(std::fgetc(file), 'x');
    std::fclose(file);
#ifdef _WIN32
    ::_wremove(wide.c_str());
#else
    std::remove(path.c_str());
#endif
    EXPECT_FALSE(OpenFileUtf8(TempPath("\xC0\xAF.txt"), "wb")) << "not UTF-8";
}
