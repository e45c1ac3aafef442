// The settings record against real INI files: whole-file reads and writes, the password's
// protection, and a file that another program holds.
#include "base/exception.h"
#include "base/handle_win.h"
#include "base/paths_win.h"
#include "base/platform_win.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "settings/inidocument.h"
#include "settings/policystore_win.h"
#include "settings/profilestore_win.h"
#include "settings/settingstable.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <fstream>
#include <map>

namespace {

// The file's access list as SDDL, read back from the file system.
std::wstring daclOf(const std::string& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetNamedSecurityInfoW(Widen(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
        return L"unreadable";
    wchar_t* text = nullptr;
    std::wstring sddl;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        sddl = text;
    ::LocalFree(text);
    ::LocalFree(sd);
    return sddl;
}

// Wine keeps a file's rights as its file modes: SYSTEM and the owner, and Everyone's read
// while others may read it; it neither keeps Administrators' entry nor says "protected".
// Elsewhere the list reads back as it was put.
bool forSystemAndAdministratorsOnly(const std::string& path) {
    const std::wstring dacl = daclOf(path);
    if (!RunningOnWine())
        return dacl == FileOfSecretsSddl;
    return dacl.find(L"(A;;FA;;;SY)") != std::wstring::npos &&
           dacl.find(L";;;WD)") == std::wstring::npos;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Held open without sharing, as an editor or a backup program may: as root, file modes would
// not stop a write.
ScopedHandle<FileHandleTraits> holdOpen(const std::string& path) {
    return ScopedHandle<FileHandleTraits>(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                        0, nullptr, OPEN_EXISTING, 0, nullptr));
}

class IniFile : public ::testing::Test {
protected:
    void TearDown() override {
        ::DeleteFileA(path.c_str());
        ::DeleteFileA((path + ".new").c_str());
    }
    std::string path = TempPath(
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".INI");
    SettingsFile ini{path};
    CUserSettings s;
};

} // namespace

TEST_F(IniFile, FirstStartWithoutFileCreatesNothingUntilSaveThenWritesUtf8InOrder) {
    EXPECT_TRUE(ini.Load(s));
    EXPECT_EQ(s.TimeSpan, 15);
    EXPECT_FALSE(exists(path));
    s.AddUrl("http://127.0.0.1/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8");
    ini.Save(s);
    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.rfind("[General]\r\nBenchmark=", 0), 0u) << "UTF-8 without a mark";
    const size_t log = text.find("[Log]\r\nFilter=0\r\nDays=90\r\n"), smtp = text.find("[SMTP]"),
                 urls = text.find("[URLS]\r\nhttp://127.0.0.1/\xD0\xBA");
    EXPECT_LT(log, smtp);
    EXPECT_LT(smtp, urls);
    EXPECT_NE(urls, std::string::npos) << text;
    EXPECT_FALSE(exists(path + ".new"));
}

TEST_F(IniFile, AnAnsiFileStaysAnsiUntilItHoldsWhatTheCodePageLacks) {
    writeFile(path, "[SMTP]\r\nTo=M\xFCller@127.0.0.1\r\n");
    ASSERT_TRUE(ini.Load(s));
    EXPECT_EQ(s.To, "M\xC3\xBCller@127.0.0.1");
    ini.Save(s);
    EXPECT_NE(ReadWholeFile(path).find("To=M\xFCller@"), std::string::npos);
    s.AddUrl("http://127.0.0.1/\xD0\xBA");
    ini.Save(s);
    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF[SMTP]\r\nTo=M\xC3\xBCller@", 0), 0u) << text;
    CUserSettings t;
    ASSERT_TRUE(ini.Load(t));
    EXPECT_EQ(t.Url(0), "http://127.0.0.1/\xD0\xBA");
}

TEST_F(IniFile, PasswordIsProtectedForTheMachineAndAnOldClearOneStillWorks) {
    writeFile(path, "[SMTP]\r\nPass=  old clear  \r\n");
    ASSERT_TRUE(ini.Load(s));
    EXPECT_EQ(s.Pass, "old clear");
    s.Pass = "  \"my pass\"  ";
    ini.Save(s);
    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.find("my pass"), std::string::npos) << text;
    EXPECT_NE(text.find("Pass=protected:"), std::string::npos) << text;
    CUserSettings t;
    ASSERT_TRUE(ini.Load(t));
    EXPECT_EQ(t.Pass, "  \"my pass\"  ");
    EXPECT_TRUE(ini.Notes().empty());
}

// The description stored with the protected password is the product's name from base/product.h.
TEST(MachinePassword, ProtectedWithTheProductsName) {
    const std::optional<std::string> blob = MachinePasswordCodec().Protect("secret");
    ASSERT_TRUE(blob);
    DATA_BLOB in{static_cast<DWORD>(blob->size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(blob->data()))};
    DATA_BLOB out{};
    LPWSTR description = nullptr;
    ASSERT_TRUE(::CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr,
                                     CRYPTPROTECT_UI_FORBIDDEN, &out));
    EXPECT_EQ(Narrow(description), ProductName);
    ::LocalFree(description);
    ::LocalFree(out.pbData);
}

// Machine scope holds against nobody who may read the file.
TEST_F(IniFile, AFileWithAProtectedPasswordIsForSystemAndAdministratorsOnly) {
    writeFile(path, "[General]\r\nTimeSpan=7\r\n");
    ASSERT_TRUE(ini.Load(s));
    ini.Save(s);
    EXPECT_FALSE(forSystemAndAdministratorsOnly(path)) << "no secret: the folder's rights stand";
    s.Pass = "secret";
    ini.Save(s);
    EXPECT_TRUE(forSystemAndAdministratorsOnly(path));
    // The replacing save keeps them (Wine's ReplaceFileW takes the new file's, measured).
    s.TimeSpan = 9;
    ini.Save(s);
    EXPECT_TRUE(forSystemAndAdministratorsOnly(path));

    // A file that got its password some other way is narrowed at start.
    const std::string text = ReadWholeFile(path);
    ::DeleteFileA(path.c_str());
    writeFile(path, text);
    ASSERT_FALSE(forSystemAndAdministratorsOnly(path));
    ASSERT_TRUE(ini.Load(s));
    EXPECT_TRUE(forSystemAndAdministratorsOnly(path));
    EXPECT_TRUE(ini.Notes().empty());
}

TEST_F(IniFile, UnreadableFileIsReportedRetriedAndNeverSavedOver) {
    const std::string user = "[General]\r\nTimeSpan=7\r\n[URLS]\r\nhttp://127.0.0.1/mine=\r\n";
    writeFile(path, user);
    {
        auto lock = holdOpen(path);
        ASSERT_TRUE(lock.Valid());
        EXPECT_FALSE(ini.Load(s));
        EXPECT_TRUE(ini.Unread());
        EXPECT_NE(ini.Problem().find(path), std::string::npos);
        EXPECT_EQ(s.TimeSpan, 15) << "defaults keep the schedule, and with it the next try";
    }
    // Readable again, but no Load yet: the defaults must not go over the user's file.
    EXPECT_THROW(ini.Save(s), Exception);
    EXPECT_EQ(ReadWholeFile(path), user);
    ASSERT_TRUE(ini.Load(s));
    EXPECT_EQ(s.TimeSpan, 7);
    EXPECT_EQ(s.UrlCount(), 1);
    ini.Save(s);
}

TEST_F(IniFile, FailedWriteOrReplaceKeepsTheOldFileWholeAndRaises) {
    const std::string user = "; mine\r\n[General]\r\nTimeSpan=7\r\n";
    writeFile(path, user);
    ASSERT_TRUE(ini.Load(s));
    s.TimeSpan = 9;
    // A full disk: the first 4096 bytes go, then the write fails.
    ini.WriteBytes = [](HANDLE file, std::string_view bytes) {
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), std::min<DWORD>(4096, static_cast<DWORD>(bytes.size())),
                    &written, nullptr);
        return false;
    };
    EXPECT_THROW(ini.Save(s), Exception);
    EXPECT_EQ(ReadWholeFile(path), user);
    EXPECT_FALSE(exists(path + ".new"));
    ini.WriteBytes = nullptr;
    {
        auto lock = holdOpen(path);
        try {
            ini.Save(s);
            ADD_FAILURE() << "saved over a file held open";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Unable to write to " + path);
        }
    }
    EXPECT_EQ(ReadWholeFile(path), user);
    EXPECT_FALSE(exists(path + ".new"));
    ini.Save(s);
    EXPECT_EQ(ReadWholeFile(path).rfind("; mine\r\n[General]\r\nTimeSpan=9\r\n", 0), 0u);
}

TEST(ProgramIni, LoadAndSaveUseTheFileBesideTheProgram) {
    const std::string path = IniPathFor(ProgramPath());
    EXPECT_EQ(ProgramSettingsFile().Path(), path);
    ::DeleteFileA(path.c_str());
    CUserSettings s;
    EXPECT_TRUE(s.Load());
    s.Filter = 1;
    s.Save();
    CUserSettings t;
    t.Load();
    EXPECT_EQ(t.Filter, 1);
    ::DeleteFileA(path.c_str());
}

// Every value the administrative template writes, as the registry holds it, is read and wins
// over the file; the key is the test prefix's own.
TEST(GroupPolicy, EveryValueOfTheTemplateIsReadFromTheRegistryAndWins) {
    const std::wstring key = SettingsPolicyKey();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    const auto text = [&](const std::wstring& subkey, const std::string& name,
                          const std::string& value) {
        const std::wstring data = Widen(value);
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), Widen(name).c_str(), REG_SZ,
                                    data.c_str(),
                                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS)
            << name;
    };
    std::map<std::string, std::string> expected;
    for (const SettingRow& row : SettingRows()) {
        if (!row.Policy)
            continue;
        std::string value;
        if (row.Kind == SettingKind::Text) {
            value = std::string(row.Key) == "From" || std::string(row.Key) == "To"
                        ? "policy@example.com"
                        : std::string("policy-") + row.Key;
            text(key, row.Policy, value);
        } else {
            const DWORD number = row.Kind == SettingKind::Flag ? 1
                                 : row.Fit == SettingFit::Kept ? 2
                                                               : static_cast<DWORD>(row.Range.max);
            ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), Widen(row.Policy).c_str(),
                                        REG_DWORD, &number, sizeof number),
                      ERROR_SUCCESS)
                << row.Policy;
            value = std::to_string(number);
        }
        expected[row.Policy] = value;
    }
    text(key + L"\\URLS", "https://policy.example/", "contains=Welcome");
    text(key + L"\\Webhooks", "ops", "slack https://hooks.example/T0/B0/token");

    std::vector<std::string> notes;
    const SettingsPolicy policy = ReadSettingsPolicy(notes);
    CUserSettings s;
    s.Load(IniDocument(), PasswordCodec{}, notes, policy);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    for (const SettingRow& row : SettingRows()) {
        if (!row.Policy)
            continue;
        const std::string held = row.Kind == SettingKind::Text ? s.*row.Text
                                 : row.Kind == SettingKind::Flag
                                     ? std::to_string(s.*row.Flag ? 1 : 0)
                                     : std::to_string(s.*row.Number);
        EXPECT_EQ(held, expected[row.Policy]) << row.Policy;
        EXPECT_EQ(s.Enforced.count(EnforcedName(row)), 1u) << row.Policy;
    }
    ASSERT_EQ(s.UrlCount(), 1);
    EXPECT_EQ(s.Url(0), "https://policy.example/");
    EXPECT_EQ(s.Checks(0), "contains=Welcome");
    ASSERT_EQ(s.Webhooks.size(), 1u);
    EXPECT_EQ(s.Webhooks[0].Address, "https://hooks.example/T0/B0/token");
    EXPECT_EQ(s.Webhooks[0].Kind, WebhookKind::Slack);
}
