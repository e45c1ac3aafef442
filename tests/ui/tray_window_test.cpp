// The tray icon and its menus on a real task bar (Wine desktop shell), with a small window
// standing in for the main form.
#include "base/utf_win.h"
#include "base/window_win.h"
#include "desktop_support_win.h"
#include "ui/dpi_win.h"
#include "ui/res/resource.h"
#include "ui/traymenus_win.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The pixels of an icon, to tell which picture the shell was given.
std::vector<BYTE> Pixels(HICON icon, int* size = nullptr) {
    std::vector<BYTE> out;
    ICONINFO ii{};
    if (!icon || !::GetIconInfo(icon, &ii))
        return out;
    BITMAP bm{};
    ::GetObjectA(ii.hbmColor, sizeof(bm), &bm);
    if (size)
        *size = bm.bmWidth;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = bm.bmWidth;
    info.bmiHeader.biHeight = -bm.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    out.resize(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight * 4);
    HDC dc = ::GetDC(nullptr);
    if (ii.hbmColor)
        ::GetDIBits(dc, ii.hbmColor, 0, bm.bmHeight, out.data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(ii.hbmColor);
    ::DeleteObject(ii.hbmMask);
    return out;
}

// Which state picture (0..5) an icon shows: the nearest of the six resource icons.
int StateOf(HICON sent) {
    int size = 0;
    const std::vector<BYTE> pixels = Pixels(sent, &size);
    if (pixels.empty())
        return -1;
    int best = -1;
    long long bestDiff = -1;
    for (int state = 0; state < 6; ++state) {
        HICON icon = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr),
                                                     MAKEINTRESOURCEA(IDI_STATE_ALLUP + state),
                                                     IMAGE_ICON, size, size, 0));
        const std::vector<BYTE> ref = Pixels(icon);
        ::DestroyIcon(icon);
        long long diff = 0;
        for (std::size_t i = 0; i < ref.size() && i < pixels.size(); ++i)
            diff += std::abs(int(ref[i]) - int(pixels[i]));
        if (bestDiff < 0 || diff < bestDiff) {
            bestDiff = diff;
            best = state;
        }
    }
    return best;
}

struct ShellCall {
    DWORD message;
    BOOL result;
    int state; // picture sent, -1 when the record carried no icon
    std::string tip;
};

// The stand-in for the main form: a hidden window whose procedure gives TTrayUi every message
// first, and which watches the menus that pop up on it.
class TrayWindow : public ::testing::Test {
protected:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        auto* self = WindowObject<TrayWindow>(h, m, l);
        if (self && self->ui) {
            if (m == WM_INITMENUPOPUP)
                self->OnMenuOpen(reinterpret_cast<HMENU>(w));
            if (m == WM_ENTERIDLE && w == MSGF_MENU && self->menuOpen)
                self->OnMenuIdle();
            LRESULT result = 0;
            if (self->ui->HandleMessage(h, m, w, l, result))
                return result;
        }
        return ::DefWindowProcA(h, m, w, l);
    }

    void SetUp() override {
        ASSERT_TRUE(HasTaskbar()) << "run through tools/with-desktop.sh";
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "VigrelTrayTestForm";
        ::RegisterClassA(&wc);
        form.Reset(::CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, "FormBlind", 0, 0, 0, 0, 0,
                                     nullptr, nullptr, wc.hInstance, this));
        ASSERT_TRUE(form);
        ui = std::make_unique<TTrayUi>(nullptr, Recorder());
        // Put the mouse where a user clicks the icon, so the menus open where they would.
        ::SetCursorPos(1000, 760);
    }
    void TearDown() override {
        ui.reset();
        form.Reset();
    }

    CSimpleTray::Notifier Recorder() {
        return [this](DWORD message, NOTIFYICONDATAW* data) {
            const BOOL result = ::Shell_NotifyIconW(message, data);
            const bool hasIcon = data->uFlags & NIF_ICON;
            const bool hasTip = data->uFlags & NIF_TIP;
            calls.push_back({message, result, hasIcon ? StateOf(data->hIcon) : -1,
                             hasTip ? Narrow(data->szTip) : ""});
            return result;
        };
    }

    void OnMenuOpen(HMENU menu) {
        menuOpen = menu;
        opened.push_back(menu);
        items.clear();
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            wchar_t text[256] = {};
            ::GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
            items.push_back(text[0] ? Narrow(text) : "-");
        }
    }
    void OnMenuIdle() {
        HMENU menu = std::exchange(menuOpen, nullptr);
        if (!snapshotName.empty())
            Snapshot(snapshotName);
        if (!keys.empty()) {
            for (WPARAM key : keys) {
                ::PostMessageA(form.Get(), WM_KEYDOWN, key, 0);
                ::PostMessageA(form.Get(), WM_KEYUP, key, 0xC0000000);
            }
            return;
        }
        (void)menu;
        ::EndMenu();
    }

    void Click(UINT button) { ::SendMessageA(form.Get(), WM_TRAYNOTIFY, TrayIconId, button); }

    ScopedWindow form;
    std::unique_ptr<TTrayUi> ui;
    std::vector<ShellCall> calls;
    HMENU menuOpen = nullptr;
    std::vector<HMENU> opened;
    std::vector<std::string> items;
    std::string snapshotName;
    std::vector<WPARAM> keys;
};

} // namespace

TEST_F(TrayWindow, IconAppearsWithImageZeroAndEmptyTipThenFollowsTheStates) {
    ui->ShowIcon(form.Get());
    ASSERT_TRUE(ui->Tray().Shown());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[0].state, 0);
    EXPECT_EQ(calls[0].tip, "");
    // A fresh task bar lays its icons out a moment after the first add.
    PumpUntil([] { return false; }, 1000);
    Snapshot("tray-state0-allup");

    const char* tips[] = {
        "Everything is OK !", "http://down.test/", "Checking...", "Disconnected !", "",
        "Everything is OK !"};
    const char* names[] = {
        "", "tray-state1-sitesdown", "tray-state2-checking", "tray-state3-disconnected",
        "", "tray-state5-warnings"};
    for (int state : {1, 2, 3, 5}) {
        calls.clear();
        ui->SetTrayIcon(state);
        ui->SetTip(tips[state]);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].message, static_cast<DWORD>(NIM_MODIFY));
        EXPECT_TRUE(calls[0].result);
        EXPECT_EQ(calls[0].state, state);
        EXPECT_EQ(calls[1].tip, tips[state]);
        EXPECT_TRUE(calls[1].result);
        Snapshot(names[state]);
    }
}

TEST_F(TrayWindow, LongTipIsAcceptedByTheShell) {
    ui->ShowIcon(form.Get());
    std::string tip;
    for (int i = 0; i < 30; ++i)
        tip += (i ? "\r\n" : "") + std::string("http://failed-") + std::to_string(i) + ".test/";
    calls.clear();
    ui->SetTip(tip);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].result);
    EXPECT_EQ(calls[0].tip.size(), 127u);
    EXPECT_EQ(ui->Tray().Tip(), tip);
}

TEST_F(TrayWindow, RefusedAddLeavesTheIconHiddenUntilShowSendsTheStoredTip) {
    ui->ShowIcon(form.Get());
    // A second tray on the same window and id is refused while the first one stands.
    TTrayUi second(nullptr, Recorder());
    second.ShowIcon(form.Get());
    EXPECT_FALSE(second.Tray().Shown());
    second.SetTrayIcon(3);
    second.SetTip("Disconnected !");

    ui->HideIcon();
    EXPECT_FALSE(ui->Tray().Shown());
    calls.clear();
    second.ShowIcon(form.Get()); // image 0 again, with the tip stored meanwhile
    ASSERT_TRUE(second.Tray().Shown());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls.back().tip, "Disconnected !");
    second.HideIcon();
}

TEST_F(TrayWindow, LeftButtonListsTheFailedSitesInOrder) {
    ui->ShowIcon(form.Get());
    Click(WM_LBUTTONUP);
    EXPECT_TRUE(opened.empty()) << "no failed site: no menu";

    ui->SetTip("http://first.test/");
    // A warning that comes before the failed sites still stands after them.
    ui->AddWarnedSite("http://shop.test/", "certificate expires in 5 days");
    ui->AddFailedSite("http://first.test/?a&b", "text \"Fish & Chips\" not found");
    ui->AddFailedSite("http://second.test/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8",
                      "timed out after 2000 ms");
    ui->AddFailedSite("http://third.test/");
    ui->AddWarnedSite("http://slow.test/", "answer took 2300 ms");
    snapshotName = "menu-failed-sites";
    Click(WM_LBUTTONUP);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], ui->PopupMenu2());
    EXPECT_EQ(items, (std::vector<std::string>{
                         "http://first.test/?a&&b\ttext \"Fish && Chips\" not found",
                         "http://second.test/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8\ttimed "
                         "out after 2000 ms",
                         "http://third.test/", "-", "Warnings",
                         "http://shop.test/\tcertificate expires in 5 days",
                         "http://slow.test/\tanswer took 2300 ms"}));
    EXPECT_EQ(::GetMenuState(ui->PopupMenu2(), WarningsHeaderId, MF_BYCOMMAND) & MF_GRAYED,
              UINT(MF_GRAYED));
    EXPECT_EQ(ui->Tray().Tip(),
              "http://first.test/\r\nWarnings:\r\nhttp://shop.test/\r\nhttp://slow.test/");
    EXPECT_EQ(::GetForegroundWindow(), form.Get());

    // Choosing a line does nothing, and the next cycle empties the menu.
    LRESULT result = 0;
    EXPECT_TRUE(ui->HandleMessage(form.Get(), WM_COMMAND, FailedSiteFirstId + 1, 0, result));
    ui->ClearFailedSites();
    EXPECT_EQ(::GetMenuItemCount(ui->PopupMenu2()), 0);
    EXPECT_EQ(ui->Tray().Tip(), "http://first.test/") << "the warnings went with the menu";
    opened.clear();
    Click(WM_LBUTTONUP);
    EXPECT_TRUE(opened.empty());
}

TEST_F(TrayWindow, RightButtonOpensTheMainMenuAndCheckNowRuns) {
    ui->ShowIcon(form.Get());
    int checks = 0, others = 0;
    ui->OnCheckNow = [&] { ++checks; };
    ui->OnSettings = ui->OnExit = ui->OnWebsite = [&] { ++others; };

    snapshotName = "menu-main";
    keys = {VK_DOWN, VK_RETURN}; // the first line: "Check Now"
    Click(WM_RBUTTONUP);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], ui->PopupMenu1());
    EXPECT_EQ(items,
              (std::vector<std::string>{"Check Now", "-", "Settings", "Exit", "-", "Pelorin"}));
    EXPECT_TRUE(PumpUntil([&] { return checks == 1; }));
    EXPECT_EQ(others, 0);

    // Every line carries its glyph.
    for (UINT id : {cmdCheckNow, cmdSettings, cmdExit, cmdWebsite}) {
        MENUITEMINFOA mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_BITMAP;
        ASSERT_TRUE(::GetMenuItemInfoA(ui->PopupMenu1(), id, FALSE, &mii));
        EXPECT_NE(mii.hbmpItem, nullptr) << id;
        // All of one size, so that no line stands taller than the others.
        MEASUREITEMSTRUCT mi{};
        mi.CtlType = ODT_MENU;
        mi.itemID = id;
        LRESULT measured = 0;
        ASSERT_TRUE(ui->HandleMessage(form.Get(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mi),
                                      measured));
        EXPECT_EQ(mi.itemHeight, UINT(ForDpi(MenuGlyphSize, WindowDpi(nullptr)))) << id;
    }
    // Other mouse events open nothing.
    opened.clear();
    Click(WM_MOUSEMOVE);
    Click(WM_LBUTTONDOWN);
    Click(WM_RBUTTONDOWN);
    EXPECT_TRUE(opened.empty());
}

TEST_F(TrayWindow, NewTaskbarBringsTheIconBackWithImageZeroAndTheLastTip) {
    std::vector<std::string> log;
    ui->OnLog = [&](const std::string& line) { log.push_back(line); };
    ui->TaskbarSettleMs = 0;
    ui->ShowIcon(form.Get());
    ui->SetTrayIcon(1);
    ui->SetTip("http://down.test/");
    // The old task bar took the icon with it.
    NOTIFYICONDATAW gone = ui->Tray().NotifyData();
    ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &gone));

    calls.clear();
    LRESULT result = 0;
    EXPECT_FALSE(ui->HandleMessage(form.Get(), TaskbarCreatedMessage(), 0, 0, result))
        << "the broadcast goes on to the default procedure";
    ASSERT_FALSE(calls.empty());
    const ShellCall& add = calls.back();
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_TRUE(add.result);
    EXPECT_EQ(add.state, 0);
    EXPECT_EQ(add.tip, "http://down.test/");
    EXPECT_EQ(log, std::vector<std::string>{"Taskbar created"});
    EXPECT_TRUE(ui->Tray().Shown());
}
