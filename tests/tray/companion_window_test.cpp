// The companion on a real task bar (Wine desktop shell), driven by a recording link in place
// of the service: what the shell shows, what the menus hold and what reaches the link.
#include "app/historyreply.h"
#include "base/paths_win.h"
#include "base/utf_win.h"
#include "control/protocol.h"
#include "desktop_support_win.h"
#include "fixtures/history_sample.h"
#include "fixtures/text_fit_win.h"
#include "fixtures/tray_reader_win.h"
#include "tray/companion_win.h"
#include "tray/historywindow_win.h"
#include "ui/frmsettings_win.h"

#include <commctrl.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingLink final : public MonitorLink {
public:
    bool Connected() const override { return connected; }
    void CheckNow() override { ++checks; }
    void RequestSettings() override { ++settingsRequests; }
    void ApplySettings(const CUserSettings& settings) override { applied.push_back(settings); }
    void CheckList(const std::vector<std::string>& urls) override { lists.push_back(urls); }
    void StopMonitoring() override { ++stops; }
    void StartMaintenance(std::int32_t minutes) override { maintenance.push_back(minutes); }
    // Answers at once, as a monitor that delivered it would a moment later.
    void TestWebhook(const WebhookChannel& channel) override {
        webhookTests.push_back(channel);
        OnWebhookTest(channel.Name, "delivered");
    }
    void RequestHistory(const std::string& url, const std::string& span) override {
        histories.push_back({url, span});
    }

    void Connect(bool on) {
        connected = on;
        OnConnection(on);
    }

    bool connected = false;
    int checks = 0;
    int settingsRequests = 0;
    int stops = 0;
    std::vector<CUserSettings> applied;
    std::vector<std::vector<std::string>> lists;
    std::vector<std::pair<std::string, std::string>> histories;
    std::vector<std::int32_t> maintenance;
    std::vector<WebhookChannel> webhookTests;
};

// What a menu held when it opened, and what a message box said; filled by the thread's hooks,
// which see the menus' and the box's own loops.
struct Seen {
    std::vector<std::string> items;
    std::vector<bool> grayed;
    std::string snapshot;     // taken while the menu is open
    std::vector<WPARAM> keys; // pressed in the open menu; none: it is closed
    std::string boxText;
    std::string password;    // the dialog's password box when it opened
    std::string goStatus[2]; // the list's status column after "Go"
    std::string testOutcome; // beside the channel after "Send a test"
    bool dialogDone = false;
} seen;

RecordingLink* recording = nullptr;

LRESULT CALLBACK WatchMenus(int code, WPARAM w, LPARAM l) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(l);
    if (code == HC_ACTION && call->message == WM_INITMENUPOPUP) {
        HMENU menu = reinterpret_cast<HMENU>(call->wParam);
        seen.items.clear();
        seen.grayed.clear();
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            char text[256] = {};
            ::GetMenuStringA(menu, i, text, sizeof(text), MF_BYPOSITION);
            seen.items.push_back(text[0] ? text : "-");
            seen.grayed.push_back(::GetMenuState(menu, i, MF_BYPOSITION) & MF_GRAYED);
        }
    }
    if (code == HC_ACTION && call->message == WM_ENTERIDLE && call->wParam == MSGF_MENU &&
        !seen.items.empty()) {
        if (!seen.snapshot.empty())
            Snapshot(std::exchange(seen.snapshot, std::string()));
        if (seen.keys.empty()) {
            ::EndMenu();
        } else {
            for (WPARAM key : std::exchange(seen.keys, {})) {
                ::PostMessageA(call->hwnd, WM_KEYDOWN, key, 0);
                ::PostMessageA(call->hwnd, WM_KEYUP, key, 0xC0000000);
            }
        }
    }
    return ::CallNextHookEx(nullptr, code, w, l);
}

// The first window of this thread that passes the test, or null.
HWND threadWindow(bool (*test)(HWND)) {
    struct Search {
        bool (*test)(HWND);
        HWND found = nullptr;
    } search{test};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (!s->test(window))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool isMessageBox(HWND window) {
    char cls[32] = {};
    ::GetClassNameA(window, cls, sizeof cls);
    return std::string(cls) == "#32770";
}

bool isSettingsDialog(HWND window) {
    char title[32] = {};
    ::GetWindowTextA(window, title, sizeof title);
    return std::string(title) == "Settings" && ::IsWindowVisible(window);
}

// Runs inside the message box's own loop: reads its text and presses OK.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = threadWindow(isMessageBox);
    if (!box)
        return;
    ::KillTimer(nullptr, timer);
    char text[1024] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    seen.boxText = text;
    Snapshot("companion-refused");
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Runs inside the settings dialog's own loop: "Go", the service's answer, then OK.
void CALLBACK DriveSettings(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = threadWindow(isSettingsDialog);
    if (!dialog)
        return;
    ::KillTimer(nullptr, timer);
    char text[256] = {};
    ::GetDlgItemTextA(dialog, idPassword, text, sizeof text);
    seen.password = text;
    ::SendMessageA(::GetDlgItem(dialog, idGo), BM_CLICK, 0, 0);
    if (recording->lists.size() == 1 && recording->lists[0].size() == 2)
        recording->OnCheckList({{recording->lists[0][1], true}, {recording->lists[0][0], false}});
    HWND list = ::GetDlgItem(dialog, idUrlList);
    for (int row = 0; row < 2; ++row) {
        ListView_GetItemText(list, row, 2, text, sizeof text); // the status column
        seen.goStatus[row] = text;
    }
    // This thread paints only when asked while it runs the test's steps.
    // The channel's test goes through the link and its outcome comes back beside it.
    ListView_SetItemState(::GetDlgItem(dialog, idChannelList), 0, LVIS_SELECTED, LVIS_SELECTED);
    ::SendMessageA(::GetDlgItem(dialog, idTestChannel), BM_CLICK, 0, 0);
    ::GetDlgItemTextA(dialog, idTestOutcome, text, sizeof text);
    seen.testOutcome = text;
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Snapshot("companion-settings");
    ::SendMessageA(::GetDlgItem(dialog, idOk), BM_CLICK, 0, 0);
    seen.dialogDone = true;
}

class Companion : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HasTaskbar()) << "run through tools/with-desktop.sh";
        seen = Seen();
        hook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchMenus, nullptr, ::GetCurrentThreadId());
        companion = std::make_unique<TCompanion>(
            [this](HWND) {
                auto made = std::make_unique<RecordingLink>();
                link = recording = made.get();
                return made;
            },
            true);
        companion->OnStartMonitor = [this] { ++starts; };
        ::SetCursorPos(1000, 760);
    }
    void TearDown() override {
        companion.reset();
        ::UnhookWindowsHookEx(hook);
    }

    // Waits until the shell shows our icon with this tip and picture.
    bool Shows(int state, const std::string& tip) {
        std::string detail;
        const bool shown = PumpUntil([&] {
            for (const TrayEntry& entry : trayEntries())
                if (entry.tip == tip) {
                    detail.clear();
                    return stateShown(entry.screen, ProgramPath(), &detail, 6) == state;
                }
            detail = " no icon with that tip";
            return false;
        });
        if (!shown)
            ADD_FAILURE() << "state " << state << " tip \"" << tip << "\":" << detail;
        return shown;
    }

    void Click(UINT button) {
        ::SendMessageA(companion->Handle(), WM_TRAYNOTIFY, TrayIconId, button);
    }

    HHOOK hook = nullptr;
    RecordingLink* link = nullptr;
    std::unique_ptr<TCompanion> companion;
    int starts = 0;
};

const std::vector<std::string> ConnectedMenu{
    "Check Now", "Maintenance for an hour", "-", "Settings", "History", "Diagnose...",
    "Close",     "Stop monitoring",         "-", "Pelorin"};

} // namespace

TEST_F(Companion, UnreachableMonitorShowsTheFifthPictureAndOffersToStartIt) {
    EXPECT_EQ(companion->State(), NotRunningState);
    ASSERT_TRUE(Shows(NotRunningState, NotRunningTip()));
    Snapshot("companion-notrunning");

    seen.snapshot = "companion-menu-notrunning";
    seen.keys = {VK_DOWN, VK_RETURN}; // the first line
    Click(WM_RBUTTONUP);
    ASSERT_EQ(seen.items.size(), ConnectedMenu.size() + 2);
    EXPECT_EQ(seen.items[0], "Start Vigrel");
    // Nothing that needs the service can be chosen.
    for (std::size_t at : {2u, 3u, 5u, 6u, 7u, 9u})
        EXPECT_TRUE(seen.grayed[at]) << seen.items[at];
    EXPECT_TRUE(PumpUntil([&] { return starts == 1; }));
    EXPECT_EQ(link->checks, 0);
}

TEST_F(Companion, StatusOfTheServiceIsShownAsItsIconShowsIt) {
    link->Connect(true);
    MonitorStatus status;
    status.Picture = 1;
    status.Tip = "http://down.test/\r\nhttp://also-down.test/a?x=1&y=2";
    status.Failed = {{"http://down.test/", "HTTP status 503", 9},
                     {"http://also-down.test/a?x=1&y=2", "", 0}};
    link->OnStatus(status);
    ASSERT_TRUE(Shows(1, status.Tip));
    Snapshot("companion-sitesdown");

    seen.snapshot = "companion-menu-failed";
    Click(WM_LBUTTONUP);
    // The reason in a column of its own; an address's "&" shown as itself, not as a mnemonic.
    EXPECT_EQ(seen.items, (std::vector<std::string>{"http://down.test/\tHTTP status 503",
                                                    "http://also-down.test/a?x=1&&y=2"}));

    seen.items.clear();
    seen.snapshot = "companion-menu-main";
    seen.keys = {VK_DOWN, VK_RETURN}; // "Check Now"
    Click(WM_RBUTTONUP);
    EXPECT_EQ(seen.items, ConnectedMenu);
    EXPECT_TRUE(PumpUntil([&] { return link->checks == 1; }));
    EXPECT_EQ(starts, 0);

    ::SendMessageA(companion->Handle(), WM_COMMAND, cmdStopMonitoring, 0);
    EXPECT_EQ(link->stops, 1);

    // A later cycle with every site up, one with a warning: its picture, and the warned site
    // in the menu's "Warnings" part and in the tip.
    MonitorStatus warned;
    warned.Picture = WarningsState;
    warned.Tip = "Everything is OK !";
    warned.Warnings = {{"http://shop.test/", "certificate expires in 5 days", 40}};
    link->OnStatus(warned);
    ASSERT_TRUE(Shows(WarningsState, "Everything is OK !\r\nWarnings:\r\nhttp://shop.test/"));
    Snapshot("companion-warnings");
    seen.items.clear();
    Click(WM_LBUTTONUP);
    EXPECT_EQ(seen.items, (std::vector<std::string>{
                              "Warnings", "http://shop.test/\tcertificate expires in 5 days"}));

    // And one with every site up empties the failed-sites menu.
    MonitorStatus allUp;
    allUp.Tip = "Everything is OK !";
    link->OnStatus(allUp);
    ASSERT_TRUE(Shows(0, "Everything is OK !"));
    seen.items.clear();
    Click(WM_LBUTTONUP);
    EXPECT_TRUE(seen.items.empty()) << "no failed site: no menu";
}

TEST_F(Companion, SettingsComeFromTheServiceAndGoBackWithoutThePassword) {
    link->Connect(true);
    ::SendMessageA(companion->Handle(), WM_COMMAND, cmdSettings, 0);
    EXPECT_EQ(link->settingsRequests, 1);

    CUserSettings service;
    service.Benchmark = "bench.test";
    service.Port = 25;
    service.AddUrl("http://one.test/");
    service.AddUrl("http://two.test/");
    service.TimeSpan = 15;
    service.TimeOut = 4000;
    service.UserID = "mailer";
    service.Pass = "must-not-show"; // a faulty link: the box must still stay empty
    // As the service tells it: the address in its shown form only.
    service.Webhooks = {{"team", WebhookKind::Slack, "https://hooks.slack.com/...", ""}};
    ::SetTimer(nullptr, 0, 100, DriveSettings);
    link->OnSettings(service, true);
    ASSERT_TRUE(PumpUntil([] { return seen.dialogDone; }));

    EXPECT_EQ(seen.password, "");
    ASSERT_EQ(link->lists.size(), 1u);
    EXPECT_EQ(link->lists[0], (std::vector<std::string>{"http://one.test/", "http://two.test/"}));
    EXPECT_EQ(seen.goStatus[0], "FAILED");
    EXPECT_EQ(seen.goStatus[1], "OK");
    ASSERT_TRUE(PumpUntil([&] { return link->applied.size() == 1; }));
    const CUserSettings& sent = link->applied[0];
    EXPECT_EQ(sent.UrlCount(), 2);
    EXPECT_EQ(sent.TimeSpan, 15);
    EXPECT_EQ(sent.TimeOut, 4000);
    EXPECT_EQ(sent.UserID, "mailer");
    EXPECT_EQ(sent.Pass, "") << "an empty password keeps the stored one";
    ASSERT_EQ(link->webhookTests.size(), 1u);
    EXPECT_EQ(link->webhookTests[0].Name, "team");
    EXPECT_EQ(link->webhookTests[0].Address, "") << "the service posts to the one it stores";
    EXPECT_EQ(seen.testOutcome, "delivered");
    EXPECT_EQ(sent.Webhooks, service.Webhooks) << "unchanged, for the service to keep its own";
}

TEST_F(Companion, MaintenanceIsShownInTheTipAndMenuAndAnHourOfItIsAsked) {
    link->Connect(true);
    MonitorStatus status;
    status.Tip = "Everything is OK !";
    status.Maintenance = "in maintenance until 11:40";
    link->OnStatus(status);
    ASSERT_TRUE(Shows(0, "In maintenance until 11:40\r\nEverything is OK !"));
    seen.snapshot = "companion-menu-maintenance";
    Click(WM_RBUTTONUP);
    ASSERT_EQ(seen.items.size(), ConnectedMenu.size() + 2);
    EXPECT_EQ(seen.items[0], "In maintenance until 11:40");
    EXPECT_TRUE(seen.grayed[0]);
    EXPECT_EQ(std::vector<std::string>(seen.items.begin() + 2, seen.items.end()), ConnectedMenu);
    ::SendMessageA(companion->Handle(), WM_COMMAND, cmdMaintenance, 0);
    EXPECT_EQ(link->maintenance, (std::vector<std::int32_t>{60}));

    // Over: the line goes.
    status.Maintenance.clear();
    link->OnStatus(status);
    ASSERT_TRUE(Shows(0, "Everything is OK !"));
    Click(WM_RBUTTONUP);
    EXPECT_EQ(seen.items, ConnectedMenu);
}

TEST_F(Companion, RefusalSaysWhatIsNeeded) {
    link->Connect(true);
    ::SetTimer(nullptr, 0, 100, AnswerBox);
    link->OnReply(MonitorReply{false, "Changing the settings needs an administrator.", true});
    ASSERT_TRUE(PumpUntil([] { return !seen.boxText.empty(); }));
    EXPECT_NE(seen.boxText.find("Changing the settings needs an administrator."),
              std::string::npos);
    EXPECT_NE(seen.boxText.find("Run as administrator"), std::string::npos) << seen.boxText;
}

TEST_F(Companion, LostServiceTurnsToTheFifthStateAndItsReturnBringsTheStatusBack) {
    link->Connect(true);
    link->OnStatus(MonitorStatus{2, "Checking...", {}, {}, "", true, {}});
    ASSERT_TRUE(Shows(2, "Checking..."));

    link->Connect(false);
    ASSERT_TRUE(Shows(NotRunningState, NotRunningTip()));
    link->Connect(true);
    link->OnStatus(MonitorStatus{3, "Disconnected !", {}, {}, "", false, {}});
    ASSERT_TRUE(Shows(3, "Disconnected !"));
    Click(WM_RBUTTONUP);
    EXPECT_EQ(seen.items, ConnectedMenu) << "the offer to start it is gone";
}

namespace {

std::string windowText(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return Narrow(text);
}

std::string cell(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return Narrow(text);
}

int fontHeight(HWND control) {
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
                 &font);
    return std::abs(font.lfHeight);
}

} // namespace

// The window fed with a month of checks as the service answers it, through the protocol's own
// encoding: what the list and the chart show, what the mouse finds, 200 % and Esc.
TEST_F(Companion, HistoryShowsUptimeAndTheChartOfTheChosenSite) {
    link->Connect(true);
    const CivilSeconds now = ToCivilSeconds(2026, 12, 8, 14, 2, 0);
    const std::vector<std::string> sites = SampleSites(4);
    HistoryIndex index;
    SampleHistory(now, sites, 30, 300, [&](const HistoryRecord& r) { index.Add(r); });
    const auto answer = [&](const std::pair<std::string, std::string>& asked) {
        std::string error;
        const auto decoded = DecodeMessage(EncodeMessage(HistoryMessage(HistoryAnswer(
                                               index, sites, asked.first, asked.second, now))),
                                           error);
        ASSERT_TRUE(decoded) << error;
        link->OnHistory(*HistoryFromMessage(*decoded));
    };

    ::SendMessageA(companion->Handle(), WM_COMMAND, cmdHistory, 0);
    THistoryWindow* window = companion->History();
    ASSERT_TRUE(window);
    ASSERT_EQ(link->histories.size(), 1u);
    EXPECT_EQ(link->histories[0], (std::pair<std::string, std::string>{"", "24h"}));
    answer(link->histories[0]);
    // The first answer chooses the first site.
    ASSERT_EQ(link->histories.size(), 2u);
    EXPECT_EQ(link->histories[1].first, sites[0]);
    answer(link->histories[1]);

    HWND list = ::GetDlgItem(window->Handle(), idHistoryList);
    ASSERT_EQ(ListView_GetItemCount(list), 4);
    EXPECT_EQ(cell(list, 1, 0), sites[1]);
    // 8 of the day's 288 checks of the shop were down: 280 / 288 = 97.22 %, cut, not rounded.
    EXPECT_EQ(cell(list, 1, 1), "97.22 %");
    EXPECT_NE(cell(list, 2, 2), cell(list, 2, 3)) << "the long outage is in 7 days and 30 days";
    EXPECT_EQ(window->Shown().Points.size(), 288u);

    // Choosing the shop asks for its chart; the mouse over its outage tells why.
    ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ASSERT_EQ(link->histories.back(), (std::pair<std::string, std::string>{sites[1], "24h"}));
    answer(link->histories.back());
    HWND chart = ::GetDlgItem(window->Handle(), idHistoryChart);
    ::RedrawWindow(window->Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    ::GetClientRect(chart, &client);
    // The outage began 3 h 40 min before now, of a day across the plot (64 and 14 pixels in).
    const int left = 64, right = client.right - 14;
    const int x = left + (right - left) * (24 * 60 - 3 * 60 - 20) / (24 * 60);
    // The pointer itself goes there too, so that the chart does not hear it leave.
    POINT at{x, client.bottom / 2};
    ::ClientToScreen(chart, &at);
    ::SetCursorPos(at.x, at.y);
    ::SendMessageW(chart, WM_MOUSEMOVE, 0, MAKELPARAM(x, client.bottom / 2));
    const std::string hover = windowText(::GetDlgItem(window->Handle(), idHistoryStatus));
    EXPECT_NE(hover.find("HTTP status 503"), std::string::npos) << hover;
    // What is queued now is painted (and reaches the screen) before the photograph.
    for (MSG msg; ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
        ::DispatchMessageW(&msg);
    Snapshot("history");

    ::SendMessageW(::GetDlgItem(window->Handle(), idSpanMonth), BM_CLICK, 0, 0);
    ASSERT_EQ(link->histories.back(), (std::pair<std::string, std::string>{sites[1], "30d"}));
    answer(link->histories.back());
    EXPECT_EQ(window->Shown().Points.size(), 240u);
    ::RedrawWindow(window->Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Snapshot("history-30d");

    // Every text whole, here and at 200 %.
    const auto allFit = [&](UINT dpi) {
        for (HWND c = ::GetWindow(window->Handle(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
            if (::IsWindowVisible(c)) {
                EXPECT_EQ(Unfit(c, dpi), "") << "control " << ::GetDlgCtrlID(c) << " at " << dpi;
            }
    };
    allFit(96);

    // Moved to a monitor at 200 %: twice the font, and the list's rows grow with it.
    const int before = fontHeight(list);
    RECT r{};
    ::GetWindowRect(window->Handle(), &r);
    RECT doubled{0, 0, 2 * (r.right - r.left), 2 * (r.bottom - r.top)};
    ::SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(192, 192),
                   reinterpret_cast<LPARAM>(&doubled));
    EXPECT_EQ(window->Dpi(), 192u);
    EXPECT_GE(fontHeight(list), 2 * before - 1);
    EXPECT_EQ(fontHeight(::GetDlgItem(window->Handle(), idHistoryStatus)), fontHeight(list));
    RECT button{};
    ::GetWindowRect(::GetDlgItem(window->Handle(), idSpanDay), &button);
    EXPECT_GE(button.bottom - button.top, 2 * fontHeight(list) * 3 / 4 + 4)
        << "text fits the button";
    ::RedrawWindow(window->Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Snapshot("history-200");
    allFit(192);

    // Esc closes it; a service from before the history is named as such.
    ::SendMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(PumpUntil([&] { return companion->History() == nullptr; }));
    ::SendMessageA(companion->Handle(), WM_COMMAND, cmdHistory, 0);
    MonitorHistory older;
    older.Older = true;
    link->OnHistory(older);
    const std::string said =
        windowText(::GetDlgItem(companion->History()->Handle(), idHistoryStatus));
    EXPECT_NE(said.find("older"), std::string::npos) << said;
    // That service closes the connection after saying so: coming back, it is not asked again.
    const std::size_t asked = link->histories.size();
    link->Connect(false);
    link->Connect(true);
    ::SendMessageW(::GetDlgItem(companion->History()->Handle(), idSpanWeek), BM_CLICK, 0, 0);
    EXPECT_EQ(link->histories.size(), asked);
}
