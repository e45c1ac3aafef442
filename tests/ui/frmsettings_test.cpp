// The settings dialog on a real desktop, driven by the messages a user's typing and clicks
// produce, and read back through Win32.
#include "ui/frmsettings_win.h"

#include "base/paths_win.h"
#include "base/utf_win.h"
#include "desktop_support_win.h"
#include "fixtures/text_fit_win.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
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

    void Open(const std::function<void(TFormSettings&)>& beforeShow = {}) {
        dialog = std::make_unique<TFormSettings>(nullptr, record);
        FormSettings = dialog.get();
        if (beforeShow)
            beforeShow(*dialog);
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
        ::SendMessageW(C(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
        Pump();
    }
    void General() { Page(tabGeneral); }
    void Page(int tab) {
        // As a click on the tab does: the control selects, then tells its parent.
        TabCtrl_SetCurSel(C(idTabs), tab);
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
        for (int i = 0; i < ListView_GetItemCount(C(idUrlList)); ++i) {
            wchar_t buf[512] = {};
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = buf;
            item.cchTextMax = 512;
            ::SendMessageW(C(idUrlList), LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            rows.push_back(Narrow(buf));
        }
        return rows;
    }
    void SelectRow(int row, int list = idUrlList) {
        ::SetFocus(C(list));
        ListView_SetItemState(C(list), row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        Pump();
    }
    std::vector<std::string> ChannelRow(int row) const {
        std::vector<std::string> cells;
        for (int column = 0; column < 3; ++column) {
            wchar_t buf[512] = {};
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = buf;
            item.cchTextMax = 512;
            ::SendMessageW(C(idChannelList), LVM_GETITEMTEXTW, row,
                           reinterpret_cast<LPARAM>(&item));
            cells.push_back(Narrow(buf));
        }
        return cells;
    }
    void ChooseKind(WebhookKind kind) {
        ::SendMessageA(C(idChannelKind), CB_SETCURSEL, static_cast<WPARAM>(kind), 0);
        ::SendMessageA(dialog->Handle(), WM_COMMAND, MAKEWPARAM(idChannelKind, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(C(idChannelKind)));
        Pump();
    }
    std::vector<std::string> Urls() const {
        std::vector<std::string> urls;
        for (int i = 0; i < record.UrlCount(); ++i)
            urls.push_back(record.Url(i));
        return urls;
    }
    void Ok() { Click(idOk); }

    // The checks dialog of the selected row, opened as a user opens it.
    TFormSiteChecks* OpenChecks() {
        Click(idEditChecks);
        return dialog->ChecksDialog();
    }
    HWND K(int id) const { return dialog->ChecksDialog()->Control(id); }
    std::string KText(int id) const {
        wchar_t buf[1024] = {};
        ::GetWindowTextW(K(id), buf, 1024);
        return Narrow(buf);
    }
    void KType(int id, const std::string& text) {
        ::SetFocus(K(id));
        ::SendMessageW(K(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
        Pump();
    }

    CUserSettings record;
    std::unique_ptr<TFormSettings> dialog;
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(SettingsDialog, WindowAndControlsAsTheUserSeesThem) {
    // Mail on, so that the picture of the "General" tab shows its fields as in use.
    record.Active = true;
    record.SetChecks("http://one.test/", "contains=Add to cart;certdays=30");
    record.To = "ops@example.test";
    record.From = "watch@example.test";
    record.Server = "mail.example.test";
    record.Port = 587;
    record.Security = SecurityStartTls;
    Open();
    HWND h = dialog->Handle();
    char caption[64] = {};
    ::GetWindowTextA(h, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Settings");
    RECT client{};
    ::GetClientRect(h, &client);
    // The design's size at 96 DPI, grown where the font needs more room.
    EXPECT_GE(client.right, 402);
    EXPECT_GE(client.bottom, 350);
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
    EXPECT_EQ(TabCtrl_GetItemCount(C(idTabs)), 3);
    EXPECT_NEAR(ListView_GetColumnWidth(C(idUrlList), 0) * 402, 136 * client.right, client.right);
    EXPECT_NEAR(ListView_GetColumnWidth(C(idUrlList), 1) * 402, 100 * client.right, client.right);
    EXPECT_NEAR(ListView_GetColumnWidth(C(idUrlList), 2) * 402, 50 * client.right, client.right);
    EXPECT_EQ(Text(idWebSiteLink), "Pelorin");
    EXPECT_EQ(Text(idGo), "Go");
    EXPECT_FALSE(Enabled(idDeleteUrl)) << "delete starts disabled";
    EXPECT_FALSE(Enabled(idEditChecks)) << "no row, no checks";
    EXPECT_EQ(::SendMessageA(C(idPassword), EM_GETPASSWORDCHAR, 0, 0), 0) << "password unmasked";

    EXPECT_EQ(Text(idBenchmarkUrl), "bench.test");
    EXPECT_EQ(Rows(), (Strings{"http://one.test/", "http://two.test/"}));
    EXPECT_EQ(Rows(1), (Strings{"contains=Add to cart;certdays=30", ""}));
    EXPECT_EQ(Rows(2), (Strings{"OK", "FAILED"}));
    Snapshot("settings-tab-urls");
    General();
    EXPECT_TRUE(::IsWindowVisible(C(idScheduleChecks)));
    EXPECT_FALSE(::IsWindowVisible(C(idUrlList)));
    EXPECT_TRUE(Checked(idStartWithWindows));
    EXPECT_TRUE(Checked(idRadioWeb));
    EXPECT_EQ(Text(idPort), "587");
    Snapshot("settings-tab-general");
}

TEST_F(SettingsDialog, AlertsTabEditsChannelsWithoutShowingAddressesAndSendsTests) {
    const std::string slack = "https://hooks.slack.com/services/T0/B0/xyz";
    record.Webhooks = {{"team", WebhookKind::Slack, slack, ""}};
    record.UpAfter = 2;
    record.Maintenance = {"Sun 03:00-Sun 04:00"};
    std::vector<WebhookChannel> tests;
    Open([&](TFormSettings& form) {
        form.OnTestWebhook = [&](const WebhookChannel& channel) { tests.push_back(channel); };
    });
    Page(tabAlerts);
    EXPECT_TRUE(::IsWindowVisible(C(idChannelList)));
    EXPECT_FALSE(::IsWindowVisible(C(idUrlList)));
    EXPECT_EQ(ChannelRow(0), (Strings{"team", "slack", "https://hooks.slack.com/..."}));
    EXPECT_EQ(Text(idUpAfter), "2");
    EXPECT_EQ(Text(idRemind), "0");
    EXPECT_FALSE(Enabled(idTestChannel)) << "no channel chosen";

    SelectRow(0, idChannelList);
    EXPECT_EQ(Text(idChannelName), "team");
    EXPECT_EQ(Text(idChannelAddress), "https://hooks.slack.com/...");
    EXPECT_FALSE(Enabled(idChannelSecret)) << "a secret only signs json";
    EXPECT_NE(::SendMessageA(C(idChannelSecret), EM_GETPASSWORDCHAR, 0, 0), 0);
    ChooseKind(WebhookKind::Json);
    EXPECT_TRUE(Enabled(idChannelSecret));
    ChooseKind(WebhookKind::Teams);
    EXPECT_FALSE(Enabled(idChannelSecret));

    // The test asks the monitor for the address it stores; the outcome shows beside the channel
    // it went to, and only there.
    Click(idTestChannel);
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_EQ(tests[0].Name, "team");
    EXPECT_EQ(tests[0].Address, "");
    EXPECT_EQ(tests[0].Kind, WebhookKind::Teams);
    dialog->ShowWebhookTest("other", "delivered");
    EXPECT_EQ(Text(idTestOutcome), "Sending a test...");
    dialog->ShowWebhookTest("team", "HTTP status 404 from hooks.slack.com");
    EXPECT_EQ(Text(idTestOutcome), "HTTP status 404 from hooks.slack.com");
    Snapshot("settings-tab-alerts");

    // Stored with its new kind, the address left as shown: the whole one stays.
    Click(idAddChannel);
    // A new channel from the fields, Enter in its address adding it.
    Type(idChannelName, "pager");
    ChooseKind(WebhookKind::Ntfy);
    Type(idChannelAddress, "https://ntfy.example/ops-7f3a");
    Key(VK_RETURN);
    EXPECT_EQ(dialog->ModalResult(), 0);
    EXPECT_EQ(ChannelRow(1), (Strings{"pager", "ntfy", "https://ntfy.example/..."}));
    EXPECT_EQ(Text(idChannelAddress), "https://ntfy.example/...") << "never shown whole";

    // A maintenance line that does not read says why and is not added; Enter adds one that does.
    Type(idMaintenanceLine, "Sat 25:00-Sun 02:00");
    Click(idAddMaintenance);
    EXPECT_EQ(::SendMessageA(C(idMaintenanceList), LB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(Text(idMaintenanceHint).rfind("Like:", 0), std::string::npos) << "the problem";
    Type(idMaintenanceLine, " Sat 22:00-Sun 02:00 = https://shop.example/");
    Key(VK_RETURN);
    EXPECT_EQ(Text(idMaintenanceHint).rfind("Like:", 0), 0u);
    ::SendMessageA(C(idMaintenanceList), LB_SETCURSEL, 0, 0);
    ::SendMessageA(dialog->Handle(), WM_COMMAND, MAKEWPARAM(idMaintenanceList, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(C(idMaintenanceList)));
    Click(idRemoveMaintenance);

    Type(idUpAfter, "99");
    Type(idRemind, "30");
    Ok();
    ASSERT_EQ(dialog->ModalResult(), IDOK);
    EXPECT_EQ(record.Webhooks,
              (std::vector<WebhookChannel>{
                  {"team", WebhookKind::Teams, slack, ""},
                  {"pager", WebhookKind::Ntfy, "https://ntfy.example/ops-7f3a", ""}}));
    EXPECT_EQ(record.UpAfter, 60);
    EXPECT_EQ(record.Remind, 30);
    EXPECT_EQ(record.Maintenance, (Strings{"Sat 22:00-Sun 02:00 = https://shop.example/"}));

    // Removed, and without a test to send the button stays off.
    Open();
    Page(tabAlerts);
    SelectRow(0, idChannelList);
    EXPECT_FALSE(Enabled(idTestChannel));
    Click(idRemoveChannel);
    Key(VK_ESCAPE); // Cancel, as on the "General" tab
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
    EXPECT_EQ(record.Webhooks.size(), 2u);
}

TEST_F(SettingsDialog, ScheduleOffOpensClearAndStoresZero) {
    record.TimeSpan = 0;
    Open();
    EXPECT_FALSE(Checked(idScheduleChecks));
    EXPECT_FALSE(Enabled(idInterval));
    EXPECT_EQ(Text(idInterval), "1");
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
    Click(idScheduleChecks);
    EXPECT_TRUE(Enabled(idInterval));
    Type(idInterval, "30");
    Ok();
    EXPECT_EQ(record.TimeSpan, 30);

    Open();
    General();
    Click(idScheduleChecks); // clear it again
    EXPECT_FALSE(Enabled(idInterval));
    Ok();
    EXPECT_EQ(record.TimeSpan, 0);
}

TEST_F(SettingsDialog, SpinFieldsClampTypedAndSteppedValues) {
    Open();
    General();
    Type(idInterval, "200");
    Key(VK_TAB);
    EXPECT_EQ(Text(idInterval), "120");
    Type(idTimeOut, "20");
    Key(VK_TAB);
    EXPECT_EQ(Text(idTimeOut), "500");
    Type(idTimeOut, "abc");
    Key(VK_TAB);
    EXPECT_EQ(Text(idTimeOut), "500") << "junk reads as the minimum";

    Type(idTimeOut, "29995");
    Key(VK_UP); // one step of 10, kept within the limit
    EXPECT_EQ(Text(idTimeOut), "30000");
    Type(idInterval, "1");
    Key(VK_DOWN);
    EXPECT_EQ(Text(idInterval), "1");
    Key(VK_UP);
    EXPECT_EQ(Text(idInterval), "2");

    EXPECT_EQ(Text(idParallel), "16");
    Type(idParallel, "65");
    Key(VK_TAB);
    EXPECT_EQ(Text(idParallel), "64");
    Key(VK_UP); // the tab went to the retries
    EXPECT_EQ(Text(idRetries), "1");

    // A value typed but never left is clamped when stored.
    Type(idInterval, "999");
    Ok();
    EXPECT_EQ(record.TimeSpan, 120);
    EXPECT_EQ(record.TimeOut, 30000);
    EXPECT_EQ(record.Parallel, 64);
    EXPECT_EQ(record.Retries, 1);
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
        EXPECT_TRUE(Checked(idScheduleChecks)) << c.timeSpan;
        EXPECT_EQ(Text(idInterval), c.shownSpan);
        EXPECT_EQ(Text(idTimeOut), c.shownOut);
        Ok();
        EXPECT_EQ(record.TimeSpan, c.storedSpan);
        EXPECT_EQ(record.TimeOut, c.storedOut);
    }
}

TEST_F(SettingsDialog, AddTrimsPrefixesAndIgnoresBlanks) {
    Open();
    Type(idNewUrl, "  www.three.test/x  ");
    Click(idAddUrl);
    EXPECT_EQ(Rows(), (Strings{"http://one.test/", "http://two.test/", "http://www.three.test/x"}));
    EXPECT_EQ(Rows(2), (Strings{"OK", "FAILED", ""}));
    EXPECT_EQ(Text(idNewUrl), "");
    Type(idNewUrl, "   ");
    Click(idAddUrl);
    Type(idNewUrl, "");
    Click(idAddUrl);
    EXPECT_EQ(Rows().size(), 3u);

    // Enter in the field adds, once per key press.
    Type(idNewUrl, "four.test");
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
    EXPECT_TRUE(Enabled(idDeleteUrl));
    Key(VK_ESCAPE);
    EXPECT_EQ(Rows(), (Strings{"http://two.test/"}));
    EXPECT_FALSE(Enabled(idDeleteUrl)) << "the selection went with the row";

    SelectRow(0);
    Click(idDeleteUrl);
    EXPECT_TRUE(Rows().empty());

    // Esc on the other tab deletes nothing: there it is Cancel.
    Type(idNewUrl, "x.test");
    Click(idAddUrl);
    SelectRow(0);
    General();
    ::SetFocus(C(idStartWithWindows));
    Key(VK_ESCAPE);
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
}

TEST_F(SettingsDialog, OkStoresRowsInShownOrderWithStatusZero) {
    record.TimeSpan = 0;
    Open();
    // Text outside the ANSI code page comes back as typed.
    const std::string three = "three.test/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8";
    Type(idNewUrl, three);
    Click(idAddUrl);
    SelectRow(0);
    Click(idDeleteUrl);
    Ok();
    EXPECT_EQ(Urls(), (Strings{"http://two.test/", "http://" + three}));
    EXPECT_EQ(record.UrlStatus(0), 0);
    EXPECT_EQ(record.UrlStatus(1), 0);
    Open();
    EXPECT_EQ(Rows(0), Urls());
    EXPECT_EQ(Rows(2), (Strings{"FAILED", "FAILED"}));
}

TEST_F(SettingsDialog, AuthenticationClearedEmptiesUserAndPassword) {
    record.Active = true;
    Open();
    General();
    EXPECT_FALSE(Checked(idAuthentication));
    EXPECT_FALSE(Enabled(idUser));
    EXPECT_FALSE(Enabled(idPassword));
    Click(idAuthentication);
    EXPECT_TRUE(Enabled(idUser));
    Type(idUser, "user");
    Type(idPassword, "secret");
    Click(idAuthentication);
    EXPECT_FALSE(Enabled(idUser));
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
    for (int id : {idMailTo, idMailFrom, idServer, idPort, idSecurity, idAuthentication, idNotify})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Checked(idAuthentication));
    EXPECT_TRUE(Enabled(idUser));
    EXPECT_TRUE(Enabled(idPassword));
    EXPECT_EQ(Text(idPassword), "pw");

    // Switching mail on and off takes the user fields along, whatever "Authentication" says.
    General();
    Click(idSendMails);
    const int mailFields[] = {idMailTo,         idMailFrom, idServer,   idPort,  idSecurity,
                              idAuthentication, idUser,     idPassword, idNotify};
    for (int id : mailFields)
        EXPECT_TRUE(Enabled(id)) << id;
    Click(idSendMails);
    for (int id : mailFields)
        EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(SettingsDialog, SecurityAndNotifyShowAndStoreAndAHandWrittenSecurityIsKept) {
    const auto choice = [this] {
        return static_cast<int>(::SendMessageA(C(idSecurity), CB_GETCURSEL, 0, 0));
    };
    record.Security = SecurityTls;
    record.Notify = NotifyOnChange;
    Open();
    EXPECT_EQ(choice(), SecurityTls);
    EXPECT_TRUE(Checked(idNotify));
    General();
    ::SendMessageA(C(idSecurity), CB_SETCURSEL, SecurityStartTls, 0);
    Click(idNotify);
    Ok();
    EXPECT_EQ(record.Security, SecurityStartTls);
    EXPECT_EQ(record.Notify, NotifyEveryCycle);

    // Values the list and the box have no state for: Security is kept unless chosen anew,
    // Notify reads as unchecked.
    record.Security = 7;
    record.Notify = 5;
    Open();
    EXPECT_EQ(choice(), -1);
    EXPECT_FALSE(Checked(idNotify));
    Ok();
    EXPECT_EQ(record.Security, 7);
    EXPECT_EQ(record.Notify, NotifyEveryCycle);
    Open();
    ::SendMessageA(C(idSecurity), CB_SETCURSEL, SecurityNone, 0);
    Ok();
    EXPECT_EQ(record.Security, SecurityNone);
}

TEST_F(SettingsDialog, PortThatIsNoNumberKeepsTheUserThere) {
    record.Active = true;
    Open();
    General();
    Type(idPort, "25x");
    Key(VK_TAB);
    EXPECT_EQ(::GetFocus(), C(idPort));
    DWORD from = 1, to = 0;
    ::SendMessageA(C(idPort), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                   reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, 3u);

    Type(idBenchmarkUrl, "changed.test");
    Ok();
    EXPECT_EQ(dialog->ModalResult(), 0) << "the dialog stays open";
    EXPECT_EQ(record.Benchmark, "bench.test") << "nothing stored";
    EXPECT_EQ(record.Port, 25);
    EXPECT_EQ(::GetFocus(), C(idPort));

    Type(idPort, "587");
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
    Click(idDeleteUrl);
    Type(idNewUrl, "new.test");
    Click(idAddUrl);
    Type(idBenchmarkUrl, "edited.test");
    Click(idGo);
    EXPECT_EQ(cycles, 1);
    // The refresh shows the new statuses and puts the record's values back in every field.
    EXPECT_EQ(Rows(2), (Strings{"OK", "FAILED"}));
    EXPECT_EQ(Text(idBenchmarkUrl), "bench.test");

    ::SendMessageA(dialog->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
    EXPECT_EQ(Urls(), (Strings{"http://two.test/", "http://new.test"}));
    EXPECT_EQ(::GetFileAttributesA(IniPathFor(ProgramPath()).c_str()), INVALID_FILE_ATTRIBUTES)
        << "Go writes no file";
}

TEST_F(SettingsDialog, ScheduledCycleRefreshesAnOpenDialog) {
    Open();
    Type(idBenchmarkUrl, "unsaved.test");
    Type(idNewUrl, "pending.test");
    Click(idAddUrl);
    record.SetUrlStatus(1, 112);
    FormSettings->FillFromSettings();
    EXPECT_EQ(Text(idBenchmarkUrl), "bench.test");
    EXPECT_EQ(Rows(), (Strings{"http://one.test/", "http://two.test/"}));
    EXPECT_EQ(Rows(2), (Strings{"OK", "OK"}));
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
    ::PostMessageA(dialog->Handle(), WM_COMMAND, MAKEWPARAM(idGo, BN_CLICKED),
                   reinterpret_cast<LPARAM>(C(idGo)));
    ::PostMessageA(dialog->Handle(), WM_COMMAND, MAKEWPARAM(idOk, BN_CLICKED),
                   reinterpret_cast<LPARAM>(C(idOk)));
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
    EXPECT_EQ(record.UrlStatus(0), 112) << "the record changes only when the file has";
    Ok();
    EXPECT_EQ(dialog->ModalResult(), IDOK);
}

TEST_F(SettingsDialog, EnterAddsOnlyOnTheUrlTabAndIsOkOnTheGeneralTabWhereEscIsCancel) {
    Open();
    Type(idNewUrl, "five.test");
    General();
    ::SetFocus(C(idMailTo));
    Key(VK_ESCAPE);
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
    Open();
    Type(idNewUrl, "five.test");
    General();
    ::SetFocus(C(idMailTo));
    Key(VK_RETURN);
    EXPECT_EQ(Rows().size(), 2u) << "nothing added from the other tab";
    EXPECT_EQ(dialog->ModalResult(), IDOK);
}

TEST_F(SettingsDialog, MnemonicsTakeTheFocusToTheirFieldAndTabFollowsTheRows) {
    record.Active = true;
    Open();
    General();
    ::SetFocus(C(idStartWithWindows));
    const auto alt = [&](char letter) {
        ::PostMessageA(::GetFocus(), WM_SYSCHAR, letter, 1 << 29);
        Pump();
        return ::GetFocus();
    };
    EXPECT_EQ(alt('t'), C(idTimeOut));
    EXPECT_EQ(alt('n'), C(idParallel));
    Key(VK_TAB);
    EXPECT_EQ(::GetFocus(), C(idRetries));
    Key(VK_TAB);
    EXPECT_EQ(::GetFocus(), C(idScheduleChecks));
    EXPECT_EQ(alt('v'), C(idServer));
}

TEST_F(SettingsDialog, CancelIsReachableWithABadPort) {
    record.Active = true;
    Open();
    General();
    Type(idPort, "x");
    ::SetFocus(C(idCancel));
    Pump();
    EXPECT_EQ(::GetFocus(), C(idCancel));
    Key(VK_RETURN); // Enter on a focused button presses it
    EXPECT_EQ(dialog->ModalResult(), IDCANCEL);
    EXPECT_EQ(record.Port, 25);
}

// Each page at 100 % and, after moves to monitors at 150 % and 200 %, at those: every text
// whole, the dialog and its fonts in proportion, each page's picture saved.
TEST_F(SettingsDialog, EveryTextFitsAt100And150And200Percent) {
    record.Active = true;
    record.To = "operations@example.test";
    record.From = "watch@example.test";
    record.Server = "smtp.provider.example";
    record.Port = 587;
    record.Security = SecurityStartTls;
    record.UserID = "watch";
    record.Pass = "secret";
    record.Webhooks = {{"team", WebhookKind::Slack, "https://hooks.slack.com/services/T0/B0/x", ""},
                       {"ops pager", WebhookKind::Ntfy, "https://ntfy.example/ops-7f3a", ""}};
    record.Maintenance = {"Sat 22:00-Sun 02:00 = https://shop.example/"};
    Open([](TFormSettings& form) {
        form.OnTestWebhook = [&form](const WebhookChannel& channel) {
            form.ShowWebhookTest(channel.Name, "HTTP status 404 from hooks.slack.com");
        };
    });
    RECT before{};
    ::GetClientRect(dialog->Handle(), &before);
    UINT current = 96;
    for (UINT dpi : {96u, 144u, 192u}) {
        if (dpi != current) {
            // Where the system would put it on the other monitor: in proportion, centred.
            RECT window{};
            ::GetWindowRect(dialog->Handle(), &window);
            RECT work{};
            ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
            const LONG w = (window.right - window.left) * static_cast<LONG>(dpi) / current;
            const LONG h = (window.bottom - window.top) * static_cast<LONG>(dpi) / current;
            current = dpi;
            RECT suggested{std::max(0L, (work.right - w) / 2), std::max(0L, (work.bottom - h) / 2),
                           0, 0};
            suggested.right = suggested.left + w;
            suggested.bottom = suggested.top + h;
            ::SendMessageW(dialog->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                           reinterpret_cast<LPARAM>(&suggested));
            Pump();
            RECT after{};
            ::GetClientRect(dialog->Handle(), &after);
            // In proportion, give or take what the larger font's own proportions need.
            EXPECT_NEAR(after.right, before.right * static_cast<LONG>(dpi) / 96, before.right / 10);
            EXPECT_NEAR(after.bottom, before.bottom * static_cast<LONG>(dpi) / 96,
                        before.bottom / 10);
        }
        for (int tab : {tabURLs, tabGeneral, tabAlerts}) {
            if (tab == tabURLs)
                dialog->SelectTab(tab);
            else
                Page(tab);
            if (tab == tabAlerts) {
                SelectRow(0, idChannelList);
                Click(idTestChannel);
            }
            Pump();
            for (HWND c = ::GetWindow(dialog->Handle(), GW_CHILD); c;
                 c = ::GetWindow(c, GW_HWNDNEXT))
                if (::IsWindowVisible(c)) {
                    EXPECT_EQ(Unfit(c, dpi), "")
                        << "control " << ::GetDlgCtrlID(c) << " at " << dpi;
                }
            const char* const names[] = {"urls", "general", "alerts"};
            Snapshot("settings-" + std::string(names[tab]) + "-" + std::to_string(dpi * 100 / 96));
            // A label paints the page's colour around its text, not a box of its own.
            for (int label : {idBenchmarkLabel, idBenchmarkPrefix, idStartWithWindows, idMsLabel,
                              idUpAfterLabel})
                if (::IsWindowVisible(C(label))) {
                    RECT r{};
                    ::GetWindowRect(C(label), &r);
                    HDC screen = ::GetDC(nullptr);
                    const COLORREF inside = ::GetPixel(screen, r.right - 2, r.top + 1);
                    const COLORREF page = ::GetPixel(screen, r.left - 2, r.top + 1);
                    ::ReleaseDC(nullptr, screen);
                    EXPECT_EQ(inside, page) << "control " << label << " at " << dpi;
                }
        }
        // The checks dialog follows the settings dialog's DPI.
        dialog->SelectTab(tabURLs);
        SelectRow(0);
        TFormSiteChecks* checks = OpenChecks();
        ASSERT_NE(checks, nullptr);
        Pump();
        RECT client{};
        ::GetClientRect(checks->Handle(), &client);
        EXPECT_GE(client.right, static_cast<LONG>(320 * dpi / 96));
        for (HWND c = ::GetWindow(checks->Handle(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
            if (::IsWindowVisible(c) && c != K(idChecksProblem)) {
                EXPECT_EQ(Unfit(c, dpi), "")
                    << "checks control " << ::GetDlgCtrlID(c) << " at " << dpi;
            }
        Snapshot("settings-checks-" + std::to_string(dpi * 100 / 96));
        Key(VK_ESCAPE);
        ASSERT_EQ(dialog->ChecksDialog(), nullptr);
    }
}

TEST_F(SettingsDialog, ChecksOfARowOpenFromItsButtonAndGoBackWithOk) {
    Open();
    SelectRow(0);
    ASSERT_TRUE(Enabled(idEditChecks));
    TFormSiteChecks* checks = OpenChecks();
    ASSERT_NE(checks, nullptr);
    EXPECT_TRUE(::IsWindowVisible(checks->Handle()));
    EXPECT_FALSE(::IsWindowEnabled(dialog->Handle())) << "modal over the settings";
    EXPECT_EQ(::GetFocus(), K(idStatuses));
    wchar_t caption[128] = {};
    ::GetWindowTextW(checks->Handle(), caption, 128);
    EXPECT_EQ(Narrow(caption), "Checks of http://one.test/");
    // The defaults, as a site without checks has them.
    EXPECT_EQ(KText(idStatuses), "200");
    EXPECT_EQ(KText(idRedirects), "12");
    EXPECT_EQ(KText(idCertDays), "");
    EXPECT_EQ(KText(idCertDaysHint), "Empty: general setting (14)");

    // A value that does not read keeps the dialog open on its field, the reason below.
    KType(idContains, "Add to cart; now");
    KType(idRedirects, "13");
    Key(VK_RETURN);
    EXPECT_EQ(checks->ModalResult(), 0);
    EXPECT_EQ(::GetFocus(), K(idRedirects));
    EXPECT_NE(KText(idChecksProblem), "");
    Snapshot("settings-checks-problem");

    KType(idRedirects, "0");
    ::SendMessageA(K(idStay), BM_CLICK, 0, 0);
    KType(idCertDays, "30");
    Key(VK_RETURN);
    EXPECT_EQ(dialog->ChecksDialog(), nullptr);
    EXPECT_TRUE(::IsWindowEnabled(dialog->Handle()));
    const std::string written = Rows(1)[0];
    std::string problem;
    const std::optional<SiteChecks> read = ReadSiteChecks(written, problem);
    ASSERT_TRUE(read) << written << ": " << problem;
    EXPECT_EQ(read->Contains, "Add to cart; now");
    EXPECT_EQ(read->Redirects, 0);
    EXPECT_TRUE(read->Stay);
    EXPECT_EQ(read->CertDays, 30);
    EXPECT_EQ(record.Checks(0), "") << "the record waits for OK";

    // Reopened, the fields show what was written; Esc leaves it.
    checks = OpenChecks();
    ASSERT_NE(checks, nullptr);
    EXPECT_EQ(KText(idContains), "Add to cart; now");
    KType(idContains, "other");
    Key(VK_ESCAPE);
    EXPECT_EQ(dialog->ChecksDialog(), nullptr);
    EXPECT_EQ(Rows(1)[0], written);

    Ok();
    EXPECT_EQ(dialog->ModalResult(), IDOK);
    EXPECT_EQ(record.Checks(0), written);
    EXPECT_EQ(record.Checks(1), "");
}

TEST_F(SettingsDialog, EnterAndADoubleClickOnARowOpenItsChecksAndAnOldValueStays) {
    // As a file that held it left it: a value that did not read stays until it is changed.
    record.SetChecks("http://two.test/", "something");
    record.UnreadChecks["http://two.test/"] = "something";
    Open();
    EXPECT_EQ(Rows(1), (Strings{"", "something"})) << "shown as it stands";
    SelectRow(1);
    Key(VK_RETURN);
    ASSERT_NE(dialog->ChecksDialog(), nullptr);
    EXPECT_EQ(Rows().size(), 2u) << "Enter on a row adds nothing";
    EXPECT_NE(KText(idChecksProblem).find("something"), std::string::npos);
    Key(VK_RETURN); // nothing changed: the value stays as written
    EXPECT_EQ(dialog->ChecksDialog(), nullptr);
    EXPECT_EQ(Rows(1)[1], "something");

    // Double-click on the first row.
    SelectRow(0);
    NMITEMACTIVATE click{};
    click.hdr = {C(idUrlList), static_cast<UINT_PTR>(idUrlList), static_cast<UINT>(NM_DBLCLK)};
    click.iItem = 0;
    ::SendMessageA(dialog->Handle(), WM_NOTIFY, idUrlList, reinterpret_cast<LPARAM>(&click));
    Pump();
    ASSERT_NE(dialog->ChecksDialog(), nullptr);
    // Mnemonics and Tab as in any dialog.
    const auto alt = [&](char letter) {
        ::PostMessageA(::GetFocus(), WM_SYSCHAR, letter, 1 << 29);
        Pump();
        return ::GetFocus();
    };
    EXPECT_EQ(alt('c'), K(idContains));
    EXPECT_EQ(alt('l'), K(idSlow));
    EXPECT_EQ(alt('h'), K(idStay));
    Key(VK_TAB);
    EXPECT_EQ(::GetFocus(), K(idCertDays));
    ::SendMessageA(K(idChecksCancel), BM_CLICK, 0, 0);
    Pump();
    EXPECT_EQ(dialog->ChecksDialog(), nullptr);
    // And "Chec&ks..." by its mnemonic.
    SelectRow(0);
    ::PostMessageA(::GetFocus(), WM_SYSCHAR, 'k', 1 << 29);
    Pump();
    ASSERT_NE(dialog->ChecksDialog(), nullptr);
    Key(VK_ESCAPE);
    EXPECT_EQ(dialog->ChecksDialog(), nullptr);
    Ok();
    EXPECT_EQ(record.Checks(1), "something");
}
