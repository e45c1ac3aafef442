// The settings dialog on a real desktop, driven by the messages a user's typing and clicks
// produce, and read back through Win32.
#include "ui/frmsettings_win.h"

#include "base/paths.h"
#include "desktop_support_win.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ::DeleteFileA(IniPathFor(ProgramPath()).c_str());
        record.Benchmark = "bench.test";
        record.StartOnStartup = true;
        record.TimeSpan = 15;
        record.TimeOut = 500;
        record.Filter = 1;
        record.Port = 25;
        record.AddUrl("http://one.test/");
        record.AddUrl("http://two.test/");
        record.SetUrlStatus(0, 112);
    }
    void TearDown() override {
        dialog.reset();
        ::DeleteFileA(IniPathFor(ProgramPath()).c_str());
    }

    void Open() {
        dialog = std::make_unique<TFormSettings>(nullptr, record);
        FormSettings = dialog.get();
        dialog->Show();
        Pump();
    }
    HWND C(int id) const { return dialog->Control(id); }

    // Runs the queue through the dialog's keyboard handling, as its loop does.
    void Pump() {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!dialog->PreTranslate(msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
    }
    void Key(WPARAM vk) {
        HWND focus = ::GetFocus();
        ::PostMessageA(focus, WM_KEYDOWN, vk, 1);
        ::PostMessageA(focus, WM_KEYUP, vk, 0xC0000001);
        Pump();
    }
    void Click(int id) {
        ::SendMessageA(C(id), BM_CLICK, 0, 0);
        Pump();
    }
    void Type(int id, const std::string& text) {
        ::SetFocus(C(id));
        ::SendMessageA(C(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        Pump();
    }
    void General() {
        // As a click on the tab does: the control selects, then tells its parent.
        TabCtrl_SetCurSel(C(idTabs), tabGeneral);
        NMHDR hdr{C(idTabs), static_cast<UINT_PTR>(idTabs), static_cast<UINT>(TCN_SELCHANGE)};
        ::SendMessageA(dialog->Handle(), WM_NOTIFY, idTabs, reinterpret_cast<LPARAM>(&hdr));
        Pump();
    }
    std::string Text(int id) const {
        char buf[512] = {};
        ::GetWindowTextA(C(id), buf, sizeof(buf));
        return buf;
    }
    bool Checked(int id) const { return ::SendMessageA(C(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) const { return ::IsWindowEnabled(C(id)) != FALSE; }
    std::vector<std::string> Rows(int column = 0) const {
        std::vector<std::string> rows;
        for (int i = 0; i < ListView_GetItemCount(C(idListView1)); ++i) {
            char buf[512] = {};
            ListView_GetItemText(C(idListView1), i, column, buf, sizeof(buf));
            rows.push_back(buf);
        }
        return rows;
    }
    void SelectRow(int row) {
        ::SetFocus(C(idListView1));
        ListView_SetItemState(C(idListView1), row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        Pump();
    }
    std::vector<std::string> Urls() const {
        std::vector<std::string> urls;
        for (int i = 0; i < record.UrlCount(); ++i)
            urls.push_back(record.Url(i));
        return urls;
    }
    void Ok() { Click(idBitBtn3); }

    CUserSettings record;
    std::unique_ptr<TFormSettings> dialog;
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(SettingsDialog, WindowAndControlsAsTheUserSeesThem) {
    Open();
    HWND h = dialog->Handle();
    char caption[64] = {};
    ::GetWindowTextA(h, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Settings");
    RECT client{};
    ::GetClientRect(h, &client);
    EXPECT_EQ(client.right, 402);
    EXPECT_EQ(client.bottom, 270);
    const LONG_PTR ex = ::GetWindowLongPtrA(h, GWL_EXSTYLE);
    EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    const LONG_PTR style = ::GetWindowLongPtrA(h, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    RECT win{};
    ::GetWindowRect(h, &win);
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((win.left + win.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((win.top + win.bottom) / 2, (work.top + work.bottom) / 2, 1);

    EXPECT_EQ(dialog->ActiveTab(), tabURLs);
    EXPECT_EQ(TabCtrl_GetItemCount(C(idTabs)), 2);
    EXPECT_EQ(ListView_GetColumnWidth(C(idListView1), 0), 250);
    EXPECT_EQ(ListView_GetColumnWidth(C(idListView1), 1), 50);
    EXPECT_EQ(Text(idStaticText2), "Pelorin");
    EXPECT_EQ(Text(idBitBtn5), "Go");
    EXPECT_FALSE(Enabled(idBitBtn1)) << "delete starts disabled";
    EXPECT_EQ(::SendMessageA(C(idEdit7), EM_GETPASSWORDCHAR, 0, 0), 0) << "password unmasked";

    EXPECT_EQ(Text(idEdtBenchURL), "bench.test");
    EXPECT_EQ(Rows(), (Strings{"http://one.test/", "http://two.test/"}));
    EXPECT_EQ(Rows(1), (Strings{"OK", "FAILED"}));
    Snapshot("settings-tab-urls");
    General();
    EXPECT_TRUE(::IsWindowVisible(C(idCheckBox1)));
    EXPECT_FALSE(::IsWindowVisible(C(idListView1)));
    EXPECT_TRUE(Checked(idCheckBox2));
    EXPECT_TRUE(Checked(idRadioWeb));
    EXPECT_EQ(Text(idEdit3), "25");
    Snapshot("settings-tab-general");
}

TEST_F(SettingsDialog, ScheduleOffOpensClearAndStoresZero) {
    record.TimeSpan = 0;
    Open();
    EXPECT_FALSE(Checked(idCheckBox1));
    EXPECT_FALSE(Enabled(idCSpinEdit1));
    EXPECT_EQ(Text(idCSpinEdit1), "1");
    Ok();
    EXPECT_EQ(dialog->ModalResult(), IDOK);
    EXPECT_EQ(record.TimeSpan, 0);
    EXPECT_EQ(::GetFileAttributesA(IniPathFor(ProgramPath()).c_str()) != INVALID_FILE_ATTRIBUTES,
              true)
        << "OK saves the file";
}

TEST_F(SettingsDialog, ScheduleBoxDecidesWhatIsStored) {
    record.TimeSpan = 0;
    Open();
    General();
    Click(idCheckBox1);
    EXPECT_TRUE(Enabled(idCSpinEdit1));
    Type(idCSpinEdit1, "30");
    Ok();
    EXPECT_EQ(record.TimeSpan, 30);

    Open();
    General();
    Click(idCheckBox1); // clear it again
    EXPECT_FALSE(Enabled(idCSpinEdit1));
    Ok();
    EXPECT_EQ(record.TimeSpan, 0);
}

TEST_F(SettingsDialog, SpinFieldsClampTypedAndSteppedValues) {
    Open();
    General();
    Type(idCSpinEdit1, "200");
    Key(VK_TAB);
    EXPECT_EQ(Text(idCSpinEdit1), "120");
    Type(idCSpinEdit2, "20");
    Key(VK_TAB);
    EXPECT_EQ(Text(idCSpinEdit2), "500");
    Type(idCSpinEdit2, "abc");
    Key(VK_TAB);
    EXPECT_EQ(Text(idCSpinEdit2), "500") << "junk reads as the minimum";

    Type(idCSpinEdit2, "29995");
    Key(VK_UP); // one step of 10, kept within the limit
    EXPECT_EQ(Text(idCSpinEdit2), "30000");
    Type(idCSpinEdit1, "1");
    Key(VK_DOWN);
    EXPECT_EQ(Text(idCSpinEdit1), "1");
    Key(VK_UP);
    EXPECT_EQ(Text(idCSpinEdit1), "2");

    // A value typed but never left is clamped when stored.
    Type(idCSpinEdit1, "999");
    Ok();
    EXPECT_EQ(record.TimeSpan, 120);
    EXPECT_EQ(record.TimeOut, 30000);
}

TEST_F(SettingsDialog, StoredValuesOutOfRangeOpenClampedAndAreStoredClamped) {
    struct Case {
        std::int32_t timeSpan, timeOut;
        const char* shownSpan;
        const char* shownOut;
        std::int32_t storedSpan, storedOut;
    };
    for (const Case& c : {Case{500, 500, "120", "500", 120, 500}, Case{-5, 500, "1", "500", 1, 500},
                          Case{15, 100, "15", "500", 15, 500}}) {
        record.TimeSpan = c.timeSpan;
        record.TimeOut = c.timeOut;
        Open();
        EXPECT_TRUE(Checked(idCheckBox1)) << c.timeSpan;
        EXPECT_EQ(Text(idCSpinEdit1), c.shownSpan);
        EXPECT_EQ(Text(idCSpinEdit2), c.shownOut);
        Ok();
        EXPECT_EQ(record.TimeSpan, c.storedSpan);
        EXPECT_EQ(record.TimeOut, c.storedOut);
    }
}

TEST_F(SettingsDialog, AddTrimsPrefixesAndIgnoresBlanks) {
    Open();
    Type(idEdit1, "  www.three.test/x  ");
    Click(idBitBtn2);
    EXPECT_EQ(Rows(), (Strings{"http://one.test/", "http://two.test/", "http://www.three.test/x"}));
    EXPECT_EQ(Rows(1), (Strings{"OK", "FAILED", ""}));
    EXPECT_EQ(Text(idEdit1), "");
    Type(idEdit1, "   ");
    Click(idBitBtn2);
    Type(idEdit1, "");
    Click(idBitBtn2);
    EXPECT_EQ(Rows().size(), 3u);

    // Enter in the field adds, once per key press.
    Type(idEdit1, "four.test");
    Key(VK_RETURN);
    EXPECT_EQ(Rows().back(), "http://four.test");
    EXPECT_EQ(Rows().size(), 4u);
    EXPECT_EQ(dialog->ModalResult(), 0);
    EXPECT_EQ(record.UrlCount(), 2) << "the record waits for OK or Go";
}

TEST_F(SettingsDialog, DeleteAndEscOnTheUrlTab) {
    Open();
    Key(VK_ESCAPE); // nothing selected: nothing happens, the dialog stays
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_EQ(dialog->ModalResult(), 0);

    SelectRow(0);
    EXPECT_TRUE(Enabled(idBitBtn1));
    Key(VK_ESCAPE);
    EXPECT_EQ(Rows(), (Strings{"http://two.test/"}));
    EXPECT_FALSE(Enabled(idBitBtn1)) << "the selection went with the row";

    SelectRow(0);
    Click(idBitBtn1);
    EXPECT_TRUE(Rows().empty());

    // Esc on the other tab deletes nothing.
    Type(idEdit1, "x.test");
    Click(idBitBtn2);
    SelectRow(0);
    General();
    ::SetFocus(C(idCheckBox2));
    Key(VK_ESCAPE);
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_EQ(dialog->ModalResult(), 0);
}

TEST_F(SettingsDialog, OkStoresRowsInShownOrderWithStatusZero) {
    record.TimeSpan = 0;
    Open();
    Type(idEdit1, "three.test");
    Click(idBitBtn2);
    SelectRow(0);
    Click(idBitBtn1);
    Ok();
    EXPECT_EQ(Urls(), (Strings{"http://two.test/", "http://three.test"}));
    EXPECT_EQ(record.UrlStatus(0), 0);
    EXPECT_EQ(record.UrlStatus(1), 0);
    Open();
    EXPECT_EQ(Rows(1), (Strings{"FAILED", "FAILED"}));
}

TEST_F(SettingsDialog, AuthenticationClearedEmptiesUserAndPassword) {
    record.Active = true;
    Open();
    General();
    EXPECT_FALSE(Checked(idCheckBox4));
    EXPECT_FALSE(Enabled(idEdit5));
    EXPECT_FALSE(Enabled(idEdit7));
    Click(idCheckBox4);
    EXPECT_TRUE(Enabled(idEdit5));
    Type(idEdit5, "user");
    Type(idEdit7, "secret");
    Click(idCheckBox4);
    EXPECT_FALSE(Enabled(idEdit5));
    Ok();
    EXPECT_EQ(record.UserID, "");
    EXPECT_EQ(record.Pass, "");

    record.UserID = "me";
    record.Pass = "pw";
    Open();
    Ok();
    EXPECT_EQ(record.UserID, "me");
    EXPECT_EQ(record.Pass, "pw");
}

TEST_F(SettingsDialog, MailOffWithAUserKeepsUserAndPasswordEnabled) {
    record.Active = false;
    record.UserID = "me";
    record.Pass = "pw";
    Open();
    for (int id : {idEdit4, idEdit6, idEdit2, idEdit3, idCheckBox4})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Checked(idCheckBox4));
    EXPECT_TRUE(Enabled(idEdit5));
    EXPECT_TRUE(Enabled(idEdit7));
    EXPECT_EQ(Text(idEdit7), "pw");

    // Switching mail on and off takes the user fields along, whatever "Authentication" says.
    General();
    Click(idCheckBox3);
    for (int id : {idEdit4, idEdit6, idEdit2, idEdit3, idCheckBox4, idEdit5, idEdit7})
        EXPECT_TRUE(Enabled(id)) << id;
    Click(idCheckBox3);
    for (int id : {idEdit4, idEdit6, idEdit2, idEdit3, idCheckBox4, idEdit5, idEdit7})
        EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(SettingsDialog, PortThatIsNoNumberKeepsTheUserThere) {
    record.Active = true;
    Open();
    General();
    Type(idEdit3, "25x");
    Key(VK_TAB);
    EXPECT_EQ(::GetFocus(), C(idEdit3));
    DWORD from = 1, to = 0;
    ::SendMessageA(C(idEdit3), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                   reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, 3u);

    Type(idEdtBenchURL, "changed.test");
    Ok();
    EXPECT_EQ(dialog->ModalResult(), 0) << "the dialog stays open";
    EXPECT_EQ(record.Benchmark, "bench.test") << "nothing stored";
    EXPECT_EQ(record.Port, 25);
    EXPECT_EQ(::GetFocus(), C(idEdit3));

    Type(idEdit3, "587");
    Ok();
    EXPECT_EQ(dialog->ModalResult(), IDOK);
    EXPECT_EQ(record.Port, 587);
    EXPECT_EQ(record.Benchmark, "changed.test");
}

TEST_F(SettingsDialog, GoCommitsTheRowsRunsACycleAndCancelKeepsThem) {
    int cycles = 0;
    Open();
    dialog->OnGo = [&] {
        ++cycles;
        // The cycle sees the edited list, all unchecked, and nothing else stored.
        EXPECT_EQ(Urls(), (Strings{"http://two.test/", "http://new.test"}));
        EXPECT_EQ(record.UrlStatus(0), 0);
        EXPECT_EQ(record.Benchmark, "bench.test");
        record.SetUrlStatus(0, 112);
        record.SetUrlStatus(1, 0);
        if (FormSettings)
            FormSettings->FillFromSettings();
    };
    SelectRow(0);
    Click(idBitBtn1);
    Type(idEdit1, "new.test");
    Click(idBitBtn2);
    Type(idEdtBenchURL, "edited.test");
    Click(idBitBtn5);
    EXPECT_EQ(cycles, 1);
    // The refresh shows the new statuses and puts the record's values back in every field.
    EXPECT_EQ(Rows(1), (Strings{"OK", "FAILED"}));
    EXPECT_EQ(Text(idEdtBenchURL), "bench.test");

    ::SendMessageA(dialog->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
    EXPECT_EQ(Urls(), (Strings{"http://two.test/", "http://new.test"}));
    EXPECT_EQ(::GetFileAttributesA(IniPathFor(ProgramPath()).c_str()), INVALID_FILE_ATTRIBUTES)
        << "Go writes no file";
}

TEST_F(SettingsDialog, ScheduledCycleRefreshesAnOpenDialog) {
    Open();
    Type(idEdtBenchURL, "unsaved.test");
    Type(idEdit1, "pending.test");
    Click(idBitBtn2);
    record.SetUrlStatus(1, 112);
    FormSettings->FillFromSettings();
    EXPECT_EQ(Text(idEdtBenchURL), "bench.test");
    EXPECT_EQ(Rows(), (Strings{"http://one.test/", "http://two.test/"}));
    EXPECT_EQ(Rows(1), (Strings{"OK", "OK"}));
}

TEST_F(SettingsDialog, ShowModalRunsItsOwnLoopOverADisabledOwner) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "VigrelSettingsTestOwner";
    ::RegisterClassA(&wc);
    HWND owner = ::CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, "FormBlind", 0, 0, 0, 0, 0,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(owner);

    dialog = std::make_unique<TFormSettings>(owner, record);
    bool ownerDisabled = false;
    dialog->OnGo = [&] { ownerDisabled = !::IsWindowEnabled(owner); };
    // Queued before the loop starts, handled by it: Go, then OK.
    ::PostMessageA(dialog->Handle(), WM_COMMAND, MAKEWPARAM(idBitBtn5, BN_CLICKED),
                   reinterpret_cast<LPARAM>(C(idBitBtn5)));
    ::PostMessageA(dialog->Handle(), WM_COMMAND, MAKEWPARAM(idBitBtn3, BN_CLICKED),
                   reinterpret_cast<LPARAM>(C(idBitBtn3)));
    EXPECT_EQ(dialog->ShowModal(), IDOK);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner));

    ::PostMessageA(dialog->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog->ShowModal(), IDCANCEL);
    dialog.reset();
    ::DestroyWindow(owner);
}

TEST_F(SettingsDialog, FailedSaveIsShownAndTheDialogStaysOpen) {
    // A folder where the file should be makes every write fail.
    const std::string ini = IniPathFor(ProgramPath());
    ASSERT_TRUE(::CreateDirectoryA(ini.c_str(), nullptr));
    std::vector<std::string> errors;
    Open();
    dialog->OnError = [&](const std::string& text) { errors.push_back(text); };
    Ok();
    ::RemoveDirectoryA(ini.c_str());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Unable to write to " + ini);
    EXPECT_EQ(dialog->ModalResult(), 0);
    Ok();
    EXPECT_EQ(dialog->ModalResult(), IDOK);
}

TEST_F(SettingsDialog, EnterAddsOnlyOnTheUrlTab) {
    Open();
    Type(idEdit1, "five.test");
    General();
    ::SetFocus(C(idEdit4));
    Key(VK_RETURN);
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_EQ(dialog->ModalResult(), 0);
}

TEST_F(SettingsDialog, CancelIsReachableWithABadPort) {
    record.Active = true;
    Open();
    General();
    Type(idEdit3, "x");
    ::SetFocus(C(idBitBtn4));
    Pump();
    EXPECT_EQ(::GetFocus(), C(idBitBtn4));
    Key(VK_RETURN); // Enter on a focused button presses it
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
    EXPECT_EQ(record.Port, 25);
}
