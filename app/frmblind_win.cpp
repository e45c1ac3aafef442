#include "frmblind_win.h"

#include "app/mainserv_win.h"
#include "app/settingsclick_win.h"
#include "base/window_win.h"
#include "monitor/clogger_win.h"
#include "monitor/urlprobe_win.h"
#include "settings/cusersettings.h"
#include "ui/frmsettings_win.h"

#include <stdexcept>

TFormBlind* FormBlind = nullptr;

namespace {

constexpr UINT_PTR Timer1Id = 1;
// Posted by FormCreate: the first cycle runs from the message loop, once the program is
// connected to the service manager, never before it.
constexpr UINT WM_FIRSTCHECK = WM_APP + 2;

void registerFormClass(WNDPROC formWndProc) {
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSA cls = {};
    cls.lpfnWndProc = formWndProc;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = FormBlindClassName;
    registered = ::RegisterClassA(&cls) != 0;
}

} // namespace

TFormBlind::TFormBlind(HWND owner) {
    // 1. The form window: a tool window that is never made visible. Its messages come to
    // TrayWndProc from the first one on.
    registerFormClass(&wndProc);
    handle_.Reset(::CreateWindowExA(WS_EX_TOOLWINDOW, FormBlindClassName, FormBlindCaption,
                                    WS_POPUP | WS_CAPTION, 0, 0, 0, 0, owner, nullptr,
                                    ::GetModuleHandleA(nullptr), this));
    // 2. The tray member: pictures and menus, no icon yet, empty tip.
    tray_ = std::make_unique<TTrayUi>();
    tray_->OnCheckNow = [this] { CheckNow1Click(); };
    tray_->OnSettings = [this] { Settings1Click(); };
    tray_->OnExit = [this] { Stop1Click(); };
    tray_->OnWebsite = [this] { Website1Click(); };
    tray_->OnLog = [this](const std::string& text) { WriteLog(text); };
    // 3. No dialog is open; MailThread is null already.
    FormSettings = nullptr;
    FormBlind = this;
    // 4. One session for all probes; a failure shows as every probe failing.
    OpenInternetSession();
    // 5.
    UserSettings.Load();
}

TFormBlind::~TFormBlind() {
    // The window is destroyed after the members its last messages would reach: unjoin it.
    DetachWindowObject(handle_.Get());
    if (handle_)
        ::KillTimer(handle_.Get(), Timer1Id);
    // The tray member removes its icon if still shown; a mail thread is not waited for.
    tray_.reset();
    if (FormBlind == this)
        FormBlind = nullptr;
}

void TFormBlind::FormCreate() {
    if (UserSettings.Filter <= 0)
        WriteLog("Application Started");
    UserSettings.Load();
    tray_->ShowIcon(Handle());
    armTimer1();
    // The service manager gives a starting service a few seconds to report that it runs; a
    // first cycle over silent sites takes longer, and run here it would kill the start.
    if (timer1_.Enabled() && !(handle_ && ::PostMessageA(handle_.Get(), WM_FIRSTCHECK, 0, 0)))
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
    SettingsSteps steps;
    steps.ArmSchedule = [this] { armTimer1(); };
    steps.CheckSites = [this] { CheckSites(); };
    steps.WriteLog = [this](const std::string& text) { WriteLog(text); };
    ::Settings1Click(Handle(), UserSettings, steps);
}

void TFormBlind::Stop1Click() {
    Close();
}

void TFormBlind::Website1Click() {
    OpenProductWebSite();
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
    tray_->HideIcon(); // the icon goes before the settings are saved
    UserSettings.Save();
    CloseInternetSession();
    if (UserSettings.Filter <= 0)
        WriteLog("Application Stoped");
    if (Vigrel)
        Vigrel->SetStatus(csStopped);
}

void TFormBlind::CheckSites() {
    ::CheckSites(UserSettings, *this, alertPolicy_);
}

bool TFormBlind::ProbeUrl(const std::string& url) {
    return ::ProbeUrl(url, UserSettings.ProbeTimeOut());
}

void TFormBlind::SetTrayIcon(int state) {
    tray_->SetTrayIcon(state);
}

void TFormBlind::SetTip(const std::string& tip) {
    tray_->SetTip(tip);
}

void TFormBlind::ClearFailedSites() {
    tray_->ClearFailedSites();
}

void TFormBlind::AddFailedSite(const std::string& url) {
    tray_->AddFailedSite(url);
}

void TFormBlind::WriteLog(const std::string& text) {
    ::WriteLog(text);
}

void TFormBlind::SendStatusMail(const std::string& report) {
    alertMail_.SendStatusMail(report, UserSettings);
}

void TFormBlind::SendBackUpMail(const std::string& sites) {
    alertMail_.SendStatusMail(sites, UserSettings, AlertKind::BackUp);
}

void TFormBlind::RefreshSettingsDialog() {
    if (FormSettings)
        FormSettings->FillFromSettings();
}

LRESULT TFormBlind::TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The tray sees every message first: its callback, the menus' commands and glyphs, and
    // the shell's "TaskbarCreated".
    LRESULT result = 0;
    if (tray_ && tray_->HandleMessage(window, message, wParam, lParam, result))
        return result;
    switch (message) {
    case WM_TIMER:
        if (wParam == Timer1Id) {
            Timer1Timer();
            return 0;
        }
        break;
    case WM_FIRSTCHECK:
        if (!closing_)
            CheckSites();
        return 0;
    case WM_CLOSE:
        // A close from outside (a task manager, a test) takes the same way as "Exit".
        Close();
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TFormBlind::wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = WindowObject<TFormBlind>(window, message, lParam);
    if (!form)
        return ::DefWindowProcA(window, message, wParam, lParam);
    // An exception must not unwind through the system's dispatch: it goes to the event log
    // and the program goes on.
    try {
        return form->TrayWndProc(window, message, wParam, lParam);
    } catch (const std::exception& e) {
        if (Application)
            Application->HandleException(e);
    } catch (...) {
        if (Application)
            Application->HandleException(std::runtime_error("Unknown exception"));
    }
    return 0;
}
