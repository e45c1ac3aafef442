// The records CSimpleTray sends to the shell, caught by a recorder in the shell's place.
#include "ui/csimpletray_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

struct Sent {
    DWORD message;
    NOTIFYICONDATAW data;
};

struct Recorder {
    std::vector<Sent> sent;
    BOOL addResult = TRUE;
    BOOL deleteResult = TRUE;

    CSimpleTray::Notifier Notifier() {
        return [this](DWORD message, NOTIFYICONDATAW* data) {
            Sent s{message, {}};
            // The shell reads only cbSize bytes; copy as much to show what it would see.
            std::memcpy(&s.data, data, data->cbSize);
            sent.push_back(s);
            if (message == NIM_ADD)
                return addResult;
            if (message == NIM_DELETE)
                return deleteResult;
            return TRUE;
        };
    }
};

const HWND Owner = reinterpret_cast<HWND>(0x1234);
const HICON IconA = reinterpret_cast<HICON>(0x10);
const HICON IconB = reinterpret_cast<HICON>(0x20);

// Puts the icon up with IconA and forgets the add, for tests of what follows.
void showWithIconA(CSimpleTray& tray, Recorder& shell) {
    tray.SetIcon(IconA);
    tray.Show(Owner, false);
    shell.sent.clear();
}

} // namespace

TEST(CSimpleTray, ShowSendsTheWholeRecordOnce) {
    Recorder shell;
    CSimpleTray tray(shell.Notifier());
    EXPECT_FALSE(tray.Shown());
    tray.Show(Owner, false); // no icon yet: nothing to show
    EXPECT_TRUE(shell.sent.empty());

    tray.SetIcon(IconA);
    EXPECT_TRUE(shell.sent.empty()); // not shown: stored only
    tray.Show(Owner, false);
    ASSERT_EQ(shell.sent.size(), 1u);
    const Sent& add = shell.sent[0];
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.data.cbSize, 952u); // the wide version-2 record of a 64-bit program
    EXPECT_EQ(add.data.hWnd, Owner);
    EXPECT_EQ(add.data.uID, 100u);
    EXPECT_EQ(add.data.uCallbackMessage, 0x8001u);
    EXPECT_EQ(add.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(add.data.hIcon, IconA);
    EXPECT_STREQ(add.data.szTip, L"");
    EXPECT_TRUE(tray.Shown());

    tray.Show(Owner, false); // shown already
    EXPECT_EQ(shell.sent.size(), 1u);
    tray.Show(Owner, true); // the task bar came back: add again
    ASSERT_EQ(shell.sent.size(), 2u);
    EXPECT_EQ(shell.sent[1].message, static_cast<DWORD>(NIM_ADD));
}

TEST(CSimpleTray, IconAndTipChangesWhileShown) {
    Recorder shell;
    CSimpleTray tray(shell.Notifier());
    showWithIconA(tray, shell);

    tray.SetIcon(nullptr); // ignored
    EXPECT_TRUE(shell.sent.empty());
    EXPECT_EQ(tray.Icon(), IconA);

    tray.SetIcon(IconB);
    ASSERT_EQ(shell.sent.size(), 1u);
    EXPECT_EQ(shell.sent[0].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(shell.sent[0].data.uFlags, static_cast<UINT>(NIF_ICON));
    EXPECT_EQ(shell.sent[0].data.hIcon, IconB);

    tray.SetTip("http://a.test/\r\nhttp://b.test/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8");
    ASSERT_EQ(shell.sent.size(), 2u);
    EXPECT_EQ(shell.sent[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(shell.sent[1].data.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_STREQ(shell.sent[1].data.szTip,
                 L"http://a.test/\r\nhttp://b.test/\x043A\x043D\x0438\x0433\x0438");
}

TEST(CSimpleTray, LongTipIsCutInsideTheFieldAndKeptWhole) {
    Recorder shell;
    CSimpleTray tray(shell.Notifier());
    showWithIconA(tray, shell);

    std::string tip;
    for (int i = 0; i < 40; ++i)
        tip += (i ? "\r\n" : "") + std::string("http://www.site-number-") + std::to_string(i) +
               ".test/";
    tray.SetTip(tip);
    EXPECT_EQ(tray.Tip(), tip);
    ASSERT_EQ(shell.sent.size(), 1u);
    const NOTIFYICONDATAW& d = shell.sent[0].data;
    const std::size_t len = wcsnlen(d.szTip, 128);
    EXPECT_EQ(len, 127u);
    EXPECT_EQ(std::wstring(d.szTip, 3), L"htt");
    EXPECT_EQ(std::wstring(d.szTip + len - 3), L"...");
    // The field right behind the tip is untouched.
    EXPECT_EQ(tray.NotifyData().dwState, 0u);
    EXPECT_EQ(tray.NotifyData().dwStateMask, 0u);
    EXPECT_EQ(tray.NotifyData().szInfo[0], L'\0');
}

TEST(CSimpleTray, RefusedAddSendsNothingUntilTheNextShow) {
    Recorder shell;
    shell.addResult = FALSE;
    CSimpleTray tray(shell.Notifier());
    tray.SetIcon(IconA);
    tray.Show(Owner, false);
    EXPECT_FALSE(tray.Shown());
    shell.sent.clear();

    tray.SetIcon(IconB);
    tray.SetTip("Disconnected !");
    EXPECT_TRUE(shell.sent.empty());

    shell.addResult = TRUE;
    tray.Show(Owner, false);
    ASSERT_EQ(shell.sent.size(), 1u);
    EXPECT_EQ(shell.sent[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(shell.sent[0].data.hIcon, IconB);
    EXPECT_STREQ(shell.sent[0].data.szTip, L"Disconnected !");
    EXPECT_TRUE(tray.Shown());
}

TEST(CSimpleTray, HideAndDestruction) {
    Recorder shell;
    {
        CSimpleTray tray(shell.Notifier());
        tray.Hide(); // never shown: nothing sent
        EXPECT_TRUE(shell.sent.empty());
        tray.SetIcon(IconA);
        tray.Show(Owner, false);

        shell.deleteResult = FALSE;
        tray.Hide();
        EXPECT_TRUE(tray.Shown()); // the shell still has it
        EXPECT_EQ(shell.sent.back().message, static_cast<DWORD>(NIM_DELETE));
        EXPECT_EQ(shell.sent.back().data.uFlags, 0u);
        EXPECT_EQ(shell.sent.back().data.uID, 100u);
        shell.deleteResult = TRUE;
        shell.sent.clear();
    }
    // Destruction removed the icon that was still shown.
    ASSERT_EQ(shell.sent.size(), 1u);
    EXPECT_EQ(shell.sent[0].message, static_cast<DWORD>(NIM_DELETE));
}
