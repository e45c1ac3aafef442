// The settings record against real INI files through the platform's profile functions.
#include "base/exception.h"
#include "base/handle_win.h"
#include "base/paths_win.h"
#include "settings/cusersettings.h"
#include "settings/profilestore_win.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class IniFile : public ::testing::Test {
protected:
    void TearDown() override { ::DeleteFileA(path.c_str()); }
    std::string path = TempPath(
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".INI");
    ProfileStore ini{path};
    CUserSettings s;
};

} // namespace

TEST_F(IniFile, FirstStartWithoutFileCreatesNothingUntilSave) {
    s.Load(ini);
    EXPECT_EQ(s.TimeSpan, 15);
    EXPECT_FALSE(exists(path));
    s.AddUrl("http://127.0.0.1/a");
    s.Save(ini);
    const std::string text = ReadWholeFile(path);
    const size_t general = text.find("[General]"), log = text.find("[Log]"),
                 smtp = text.find("[SMTP]"), urls = text.find("[URLS]");
    ASSERT_NE(urls, std::string::npos);
    EXPECT_LT(general, log);
    EXPECT_LT(log, smtp);
    EXPECT_LT(smtp, urls);
    EXPECT_NE(text.find("http://127.0.0.1/a="), std::string::npos);
    EXPECT_NE(text.find("TimeSpan=15"), std::string::npos);
}

TEST_F(IniFile, HandWrittenFileDecodes) {
    writeFile(path, "[general]\r\nTimeSpan=0x1E\r\nBenchmark=\r\n[smtp]\r\nPort=abc\r\nActive=2\r\n"
                    "[URLS]\r\nhttp://one/=\r\nhttp://two/=ignored\r\nHTTP://ONE/=\r\n");
    s.Load(ini);
    EXPECT_EQ(s.TimeSpan, 30);
    EXPECT_EQ(s.Benchmark, "");
    EXPECT_EQ(s.Port, 25);
    EXPECT_TRUE(s.Active);
    ASSERT_GE(s.UrlCount(), 2);
    EXPECT_EQ(s.Url(0), "http://one/");
    EXPECT_EQ(s.Url(1), "http://two/");
}

TEST_F(IniFile, UrlsWithEqualsSignsSurviveTheFile) {
    s.AddUrl("http://127.0.0.1/page?a=1&b=2");
    s.AddUrl("http://127.0.0.1/plain");
    s.Save(ini);
    s.URLList.Clear();
    s.Load(ini);
    ASSERT_EQ(s.UrlCount(), 2);
    EXPECT_EQ(s.Url(0), "http://127.0.0.1/page?a=1&b=2");
    EXPECT_EQ(s.Url(1), "http://127.0.0.1/plain");
    s.URLList.Clear();
    s.Save(ini);
    EXPECT_EQ(ReadWholeFile(path).find("[URLS]"), std::string::npos);
}

TEST_F(IniFile, RefusedWriteRaisesWithThePathAndKeepsEarlierKeys) {
    s.Load(ini);
    s.Save(ini);
    s.TimeSpan = 77;
    std::string message;
    {
        // Held open without sharing: as root, file modes would not stop the write.
        ScopedFileHandle lock(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.Valid());
        try {
            s.Save(ini);
        } catch (const Exception& e) {
            message = e.Message();
        }
    }
    EXPECT_EQ(message, "Unable to write to " + path);
    EXPECT_EQ(s.TimeSpan, 77);
    CUserSettings t;
    t.Load(ini);
    EXPECT_EQ(t.TimeSpan, 15);
}

TEST_F(IniFile, UrlSectionLongerThanOneBufferLoadsAndSavesBackWhole) {
    // 600 names of about 60 characters: more than twice the platform's first buffer.
    auto url = [](int i) {
        return "http://127.0.0.1/some/rather/long/path/for/the/list/n" + std::to_string(i);
    };
    std::string text = "[URLS]\r\n";
    for (int i = 0; i < 600; ++i)
        text += url(i) + "=\r\n";
    writeFile(path, text);
    s.Load(ini);
    ASSERT_EQ(s.UrlCount(), 600);
    EXPECT_EQ(s.Url(599), url(599));
    s.Save(ini);
    CUserSettings t;
    t.Load(ini);
    ASSERT_EQ(t.UrlCount(), 600);
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(t.Url(i), url(i));
}

TEST(ProgramIni, LoadAndSaveUseTheFileBesideTheProgram) {
    const std::string path = IniPathFor(ProgramPath());
    EXPECT_EQ(path.substr(path.size() - 4), ".INI");
    ::DeleteFileA(path.c_str());
    CUserSettings s;
    s.Load();
    s.Filter = 1;
    s.Save();
    EXPECT_TRUE(exists(path));
    CUserSettings t;
    t.Load();
    EXPECT_EQ(t.Filter, 1);
    ::DeleteFileA(path.c_str());
}
