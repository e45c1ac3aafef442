#include "frmblind_win.h"

#include "app/mainserv_win.h"
#include "monitor/clogger.h"
#include "monitor/urlprobe_win.h"
#include "settings/cusersettings.h"

#include <stdexcept>

TFormBlind* FormBlind = nullptr;

// Registered when the program loads, before the entry runs.
const UINT WM_TASKBARCREATED = ::RegisterWindowMessageA("TaskbarCreated");

namespace {

constexpr UINT_PTR Timer1Id = 1;

void registerFormClass() {
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSA cls = {};
    cls.lpfnWndProc = ::DefWindowProcA;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = FormBlindClassName;
    registered = ::RegisterClassA(&cls) != 0;
}

} // namespace

TFormBlind::TFormBlind(HWND owner) {
    // 1. The form window: a tool window that is never made visible.
    registerFormClass();
    handle_.Reset(::CreateWindowExA(WS_EX_TOOLWINDOW, FormBlindClassName, FormBlindCaption,
                                    WS_POPUP | WS_CAPTION, 0, 0, 0, 0, owner, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr));
    // 2. TRAY HOOK: construct the tray member (no icon, empty tip, not shown).
    // 3. SETTINGS DIALOG HOOK: FormSettings = nullptr. MailThread is null already.
    FormBlind = this;
    // 4. Our window procedure from here on.
    if (handle_) {
        ::SetWindowLongPtrA(handle_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetWindowLongPtrA(handle_.Get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&wndProc));
    }
    // 5. One session for all probes; a failure shows as every probe failing.
    OpenInternetSession();
    // 6.
    UserSettings.Load();
}

TFormBlind::~TFormBlind() {
    if (handle_)
        ::KillTimer(handle_.Get(), Timer1Id);
    // TRAY HOOK: destroying the tray member removes its icon if still shown.
    if (MailThread)
        ::CloseHandle(MailThread);
    if (FormBlind == this)
        FormBlind = nullptr;
}

void TFormBlind::FormCreate() {
    if (UserSettings.Filter <= 0)
        WriteLog("Application Started");
    UserSettings.Load();
    // TRAY HOOK: icon from image 0 of ImageList1 -> tray SetIcon; tray Show(Handle(), false).
    armTimer1();
    if (timer1_.Enabled())
        CheckSites();
}

void TFormBlind::armTimer1() {
    if (!timer1_.Arm(UserSettings.TimeSpan) || !handle_)
        return;
    ::KillTimer(handle_.Get(), Timer1Id);
    if (timer1_.Enabled())
        ::SetTimer(handle_.Get(), Timer1Id, timer1_.Interval(), nullptr);
}

void TFormBlind::Timer1Timer() {
    if (UserSettings.Filter <= 1)
        WriteLog("Autocheck started");
    CheckSites();
}

void TFormBlind::CheckNow1Click() {
    CheckSites();
}

void TFormBlind::Settings1Click() {
    // SETTINGS DIALOG HOOK: create TFormSettings owned by the form, FormSettings = it, show it
    // modally; on OK: armTimer1() and a cycle when enabled, SetAutoStart(StartOnStartup),
    // UserSettings.Save(), "Settings Changed" when Filter <= 0; then destroy it and
    // FormSettings = nullptr.
}

void TFormBlind::Stop1Click() {
    Close();
}

void TFormBlind::Website1Click() {
    // MENU HOOK: ShellExecuteA(nullptr, "open", <product site>, "", "", SW_SHOWNORMAL).
}

void TFormBlind::Close() {
    if (closing_)
        return;
    FormClose();
    closing_ = true;
    // The main form closing ends the application's loop.
    if (Application)
        Application->Terminate();
}

void TFormBlind::FormClose() {
    // TRAY HOOK: tray Hide(), so the icon goes before the settings are saved.
    UserSettings.Save();
    CloseInternetSession();
    if (UserSettings.Filter <= 0)
        WriteLog("Application Stoped");
    if (Vigrel)
        Vigrel->SetStatus(csStopped);
}

void TFormBlind::CheckSites() {
    ::CheckSites(UserSettings, *this);
}

bool TFormBlind::ProbeUrl(const std::string& url) {
    return ::ProbeUrl(url, static_cast<std::uint32_t>(UserSettings.TimeOut));
}

void TFormBlind::SetTrayIcon(int /*state*/) {
    // TRAY HOOK: icon from that image of ImageList1 -> tray SetIcon, then destroy the icon.
}

void TFormBlind::SetTip(const std::string& /*tip*/) {
    // TRAY HOOK: tray SetTip(tip).
}

void TFormBlind::ClearFailedSites() {
    // MENU HOOK: remove and free every item of PopupMenu2.
}

void TFormBlind::AddFailedSite(const std::string& /*url*/) {
    // MENU HOOK: append an item captioned with the URL to PopupMenu2, no click handler.
}

void TFormBlind::WriteLog(const std::string& text) {
    ::WriteLog(text);
}

void TFormBlind::SendStatusMail(const std::string& /*report*/) {
    // ALERT MAIL HOOK: wait for MailThread, start a mail thread with a copy of the report.
}

void TFormBlind::RefreshSettingsDialog() {
    // SETTINGS DIALOG HOOK: if FormSettings is not null, FormSettings->FillFromSettings().
}

void TFormBlind::onTaskbarCreated() {
    // TRAY HOOK: Sleep(2000); icon from image 0 -> tray SetIcon; tray Show(Handle(), true);
    // WriteLog("Taskbar created") whatever Filter says; destroy the icon.
}

void TFormBlind::onTrayNotify(LPARAM /*mouseMessage*/) {
    // MENU HOOK: WM_LBUTTONUP pops PopupMenu2 up, WM_RBUTTONUP PopupMenu1, each with
    // SetForegroundWindow before and PostMessageA(Handle(), WM_NULL, 0, 0) after.
}

LRESULT TFormBlind::TrayWndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TASKBARCREATED && WM_TASKBARCREATED != 0) {
        onTaskbarCreated();
        return ::DefWindowProcA(handle_.Get(), message, wParam, lParam);
    }
    switch (message) {
    case WM_TRAYNOTIFY:
        onTrayNotify(lParam);
        return 0;
    case WM_TIMER:
        if (wParam == Timer1Id) {
            Timer1Timer();
            return 0;
        }
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case cmdCheckNow1:
            CheckNow1Click();
            return 0;
        case cmdSettings1:
            Settings1Click();
            return 0;
        case cmdStop1:
            Stop1Click();
            return 0;
        case cmdWebsite1:
            Website1Click();
            return 0;
        }
        break;
    case WM_CLOSE:
        // A close from outside (a task manager, a test) takes the same way as "Exit".
        Close();
        return 0;
    }
    return ::DefWindowProcA(handle_.Get(), message, wParam, lParam);
}

LRESULT CALLBACK TFormBlind::wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<TFormBlind*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!form)
        return ::DefWindowProcA(window, message, wParam, lParam);
    // An exception must not unwind through the system's dispatch: it goes to the event log
    // and the program goes on.
    try {
        return form->TrayWndProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        if (Application)
            Application->HandleException(e);
    } catch (...) {
        if (Application)
            Application->HandleException(std::runtime_error("Unknown exception"));
    }
    return 0;
}
