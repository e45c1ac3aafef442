#include "tray/companion_win.h"

#include "base/paths.h"
#include "base/paths_win.h"
#include "base/product.h"
#include "base/token_win.h"
#include "base/utf_win.h"
#include "base/window_win.h"
#include "tray/diagnose_win.h"
#include "tray/historywindow_win.h"
#include "ui/frmsettings_win.h"
#include "ui/res/resource.h"
#include "ui/traytip.h"

#include <shellapi.h>

namespace {

// Posted to ourselves, so that a dialog or a message box never runs its loop inside one of the
// link's events.
constexpr UINT WM_OPENSETTINGS = WM_APP + 10;
constexpr UINT WM_SHOWNOTE = WM_APP + 11;
// Posted by the History window when it was closed: it is destroyed outside its own messages.
constexpr UINT WM_HISTORYCLOSED = WM_APP + 12;

constexpr const char* CompanionClass = "VigrelCompanion";

LRESULT CALLBACK CompanionProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (TCompanion* self = WindowObject<TCompanion>(h, m, l))
        return self->HandleMessage(h, m, w, l);
    return ::DefWindowProcA(h, m, w, l);
}

std::string StartCaption() {
    return std::string("Start ") + ProductName;
}

} // namespace

std::string NotRunningTip() {
    return std::string(ProductName) + " is not running or cannot be reached";
}

bool UserIsAdministrator() {
    HANDLE raw = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        ScopedKernelHandle token(raw);
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD size = 0;
        // A split token is given only to administrators, whether this process is elevated or
        // not; without one, the groups tell.
        if (::GetTokenInformation(token.Get(), TokenElevationType, &type, sizeof type, &size) &&
            type != TokenElevationTypeDefault)
            return true;
    }
    return TokenInGroup(nullptr, WinBuiltinAdministratorsSid);
}

TCompanion::TCompanion(const LinkFactory& makeLink, bool administrator,
                       CSimpleTray::Notifier notifier)
    : administrator(administrator) {
    RegisterWindowClass(CompanionClass, CompanionProc);
    window.Reset(::CreateWindowExA(WS_EX_TOOLWINDOW, CompanionClass, ProductName, 0, 0, 0, 0, 0,
                                   nullptr, nullptr, ::GetModuleHandleA(nullptr), this));

    ui = std::make_unique<TTrayUi>(nullptr, std::move(notifier));
    HMENU menu = ui->PopupMenu1();
    MENUITEMINFOA close{};
    close.cbSize = sizeof close;
    close.fMask = MIIM_STRING;
    close.dwTypeData = const_cast<char*>("Close");
    ::SetMenuItemInfoA(menu, cmdExit, FALSE, &close);
    // Closing ends only this icon; the power sign belongs to ending the monitoring.
    ui->SetGlyph(cmdExit, IDI_BUTTON_CANCEL, MenuGlyphSize);
    // "History" right after "Settings": both open a window about the monitor.
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
        if (::GetMenuItemID(menu, i) == cmdSettings) {
            ::InsertMenuA(menu, i + 1, MF_BYPOSITION | MF_STRING, cmdHistory, "History");
            ui->SetGlyph(cmdHistory, IDI_GLYPH_HISTORY, MenuGlyphSize);
            ::InsertMenuA(menu, i + 2, MF_BYPOSITION | MF_STRING, cmdDiagnose, "Diagnose...");
            break;
        }
    // Right after "Check Now": both act on the monitoring itself. Refused, it says why, as the
    // other requests do.
    ::InsertMenuA(menu, 1, MF_BYPOSITION | MF_STRING, cmdMaintenance, "Maintenance for an hour");
    ui->SetGlyph(cmdMaintenance, IDI_STATE_CHECKING, MenuGlyphSize);
    if (administrator) {
        // Right after "Close", so the two ways of ending stand together.
        const int at = ::GetMenuItemCount(menu) - 2;
        ::InsertMenuA(menu, at, MF_BYPOSITION | MF_STRING, cmdStopMonitoring, "Stop monitoring");
        ui->SetGlyph(cmdStopMonitoring, IDI_GLYPH_EXIT, MenuGlyphSize);
    }
    ui->OnCheckNow = [this] { link->CheckNow(); };
    ui->OnSettings = [this] {
        if (dialog) {
            ::SetForegroundWindow(dialog->Handle());
            return;
        }
        settingsWanted = true;
        link->RequestSettings();
    };
    ui->OnExit = [this] {
        ui->HideIcon();
        if (OnClose)
            OnClose();
    };

    link = makeLink(window.Get());
    link->OnConnection = [this](bool connected) { Connection(connected); };
    link->OnStatus = [this](const MonitorStatus& status) { Status(status); };
    link->OnSettings = [this](const CUserSettings& settings, bool) { Settings(settings); };
    link->OnCheckList = [this](const std::vector<MonitorCheckResult>& r) { CheckList(r); };
    link->OnReply = [this](const MonitorReply& reply) { Reply(reply); };
    link->OnDiagnose = [this](const std::string& url, const std::vector<std::string>& lines) {
        const std::string text = DiagnosisText(url, lines, UserProxyWords());
        ::MessageBoxA(window.Get(), text.c_str(), ProductName, MB_OK | MB_ICONINFORMATION);
    };
    link->OnWebhookTest = [this](const std::string& name, const std::string& outcome) {
        if (dialog)
            dialog->ShowWebhookTest(name, outcome);
    };
    link->OnHistory = [this](const MonitorHistory& h) {
        if (history)
            history->Show(h);
    };

    // Until the first status arrives there is nothing true to show but "not reachable".
    ui->SetTip(NotRunningTip());
    ui->ShowIcon(window.Get(), NotRunningState);
    MarkMenu(link->Connected());
}

TCompanion::~TCompanion() {
    link.reset();
    history.reset();
    ui.reset();
    DetachWindowObject(window.Get());
}

void TCompanion::SetState(int picture) {
    state = picture;
    ui->SetTrayIcon(picture);
}

void TCompanion::MarkMenu(bool connected) {
    HMENU menu = ui->PopupMenu1();
    const bool offered = ::GetMenuState(menu, cmdStartMonitor, MF_BYCOMMAND) != UINT(-1);
    if (!connected && !offered) {
        ::InsertMenuA(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        ::InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING, cmdStartMonitor, StartCaption().c_str());
        ui->SetGlyph(cmdStartMonitor, IDI_STATE_ALLUP, MenuGlyphSize);
    } else if (connected && offered) {
        ::DeleteMenu(menu, 1, MF_BYPOSITION); // its separator
        ::DeleteMenu(menu, cmdStartMonitor, MF_BYCOMMAND);
    }
    const UINT enable = MF_BYCOMMAND | (connected ? MF_ENABLED : MF_GRAYED);
    for (UINT id : {UINT(cmdCheckNow), UINT(cmdMaintenance), UINT(cmdSettings), UINT(cmdHistory),
                    UINT(cmdDiagnose), UINT(cmdStopMonitoring)})
        ::EnableMenuItem(menu, id, enable);
}

void TCompanion::Connection(bool connected) {
    MarkMenu(connected);
    if (history)
        history->Connection(connected);
    if (connected)
        return; // the service pushes its status at once
    settingsWanted = false;
    ui->ClearFailedSites();
    ShowMaintenance({});
    ui->SetTip(NotRunningTip());
    SetState(NotRunningState);
}

void TCompanion::Status(const MonitorStatus& status) {
    // The service's pictures are 0..3 and 5; "not running" is the companion's own, and any
    // other from the service would be a fault of its own.
    if ((status.Picture >= 0 && status.Picture < NotRunningState) ||
        status.Picture == WarningsState)
        SetState(status.Picture);
    ui->SetTip(TipWithMaintenance(status.Tip, status.Maintenance));
    ShowMaintenance(status.Maintenance);
    ui->ClearFailedSites();
    firstFailed = status.Failed.empty() ? std::string() : status.Failed.front().Url;
    for (const FailedSite& site : status.Failed)
        ui->AddFailedSite(site.Url, site.Reason);
    if (status.More > 0)
        ui->AddFailedSite("... and " + std::to_string(status.More) + " more");
    for (const FailedSite& site : status.Warnings)
        ui->AddWarnedSite(site.Url, site.Reason);
}

void TCompanion::ShowMaintenance(const std::string& words) {
    HMENU menu = ui->PopupMenu1();
    int at = -1;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
        if (::GetMenuItemID(menu, i) == cmdMaintenanceState)
            at = i;
    if (words.empty()) {
        if (at >= 0) {
            ::DeleteMenu(menu, static_cast<UINT>(at) + 1, MF_BYPOSITION); // its separator
            ::DeleteMenu(menu, cmdMaintenanceState, MF_BYCOMMAND);
        }
        return;
    }
    // "&" would mark a mnemonic.
    std::string text;
    for (char c : MaintenanceLine(words))
        text += c == '&' ? std::string("&&") : std::string(1, c);
    if (at >= 0) {
        ::ModifyMenuW(menu, cmdMaintenanceState, MF_BYCOMMAND | MF_STRING | MF_GRAYED,
                      cmdMaintenanceState, Widen(text).c_str());
        return;
    }
    // First, above what can be chosen: it tells, it does nothing.
    ::InsertMenuW(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    ::InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING | MF_GRAYED, cmdMaintenanceState,
                  Widen(text).c_str());
    ui->SetGlyph(cmdMaintenanceState, IDI_STATE_CHECKING, MenuGlyphSize);
}

void TCompanion::Settings(const CUserSettings& settings) {
    if (!settingsWanted || dialog)
        return;
    settingsWanted = false;
    edited = settings;
    // The box stays empty: sent empty, the stored password is kept.
    edited.Pass.clear();
    ::PostMessageA(window.Get(), WM_OPENSETTINGS, 0, 0);
}

void TCompanion::OpenSettings() {
    if (dialog)
        return;
    TFormSettings form(window.Get(), edited);
    form.OnSave = [this] { link->ApplySettings(edited); };
    form.OnTestWebhook = [this](const WebhookChannel& channel) { link->TestWebhook(channel); };
    form.OnGo = [this] {
        std::vector<std::string> urls;
        for (int i = 0; i < edited.UrlCount(); ++i)
            urls.push_back(edited.Url(i));
        link->CheckList(urls);
    };
    dialog = &form;
    form.ShowModal();
    dialog = nullptr;
}

void TCompanion::CheckList(const std::vector<MonitorCheckResult>& results) {
    if (!dialog)
        return;
    for (const MonitorCheckResult& result : results) {
        const int at = edited.URLList.IndexOf(result.Url);
        if (at >= 0)
            edited.SetUrlStatus(at, result.Up ? UrlStatusUp : 0);
    }
    dialog->ShowUrlStatuses();
}

void TCompanion::Reply(const MonitorReply& reply) {
    if (reply.Ok)
        return;
    std::string text =
        reply.Reason.empty() ? std::string("The monitor refused the request.") : reply.Reason;
    if (reply.NeedsElevation)
        text += std::string("\r\n\r\nThis needs an administrator whose rights are elevated: "
                            "close this icon and start ") +
                ProductName + "tray.exe again with \"Run as administrator\".";
    const bool waiting = !note.empty();
    note = text;
    if (!waiting)
        ::PostMessageA(window.Get(), WM_SHOWNOTE, 0, 0);
}

void TCompanion::OpenHistory() {
    if (history) {
        ::ShowWindow(history->Handle(), SW_SHOWNORMAL);
        ::SetForegroundWindow(history->Handle());
        return;
    }
    history = std::make_unique<THistoryWindow>(nullptr, *link);
    HWND self = window.Get();
    history->OnClosed = [self] { ::PostMessageA(self, WM_HISTORYCLOSED, 0, 0); };
}

void TCompanion::Diagnose() {
    // The first failed site is offered: the one most likely asked about.
    if (const std::optional<std::string> url = AskDiagnoseAddress(window.Get(), firstFailed))
        link->Diagnose(*url);
}

void TCompanion::ShowNote() {
    const std::string text = std::exchange(note, std::string());
    if (!text.empty())
        ::MessageBoxA(window.Get(), text.c_str(), ProductName,
                      MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

void TCompanion::StartMonitor() {
    if (OnStartMonitor) {
        OnStartMonitor();
        return;
    }
    const std::string starter = FolderOf(ProgramPath()) + "\\" + ProductName + "run.exe";
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = window.Get();
    // The starter asks the service manager, which needs an administrator: the consent prompt
    // elevates it.
    info.lpVerb = "runas";
    info.lpFile = starter.c_str();
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExA(&info) && ::GetLastError() != ERROR_CANCELLED) {
        const std::string text = "Could not start " + starter + ".";
        ::MessageBoxA(window.Get(), text.c_str(), ProductName, MB_OK | MB_ICONWARNING);
    }
}

LRESULT TCompanion::HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!ui)
        return ::DefWindowProcA(h, message, wParam, lParam);
    if (message == WM_OPENSETTINGS) {
        OpenSettings();
        return 0;
    }
    if (message == WM_SHOWNOTE) {
        ShowNote();
        return 0;
    }
    if (message == WM_HISTORYCLOSED) {
        if (history && !::IsWindowVisible(history->Handle()))
            history.reset();
        return 0;
    }
    LRESULT result = 0;
    if (ui->HandleMessage(h, message, wParam, lParam, result))
        return result;
    // A new task bar got the icon back with picture 0: the service's "all up" is not ours to
    // claim.
    if (message == TaskbarCreatedMessage())
        SetState(state);
    if (message == WM_COMMAND && HIWORD(wParam) == 0 && lParam == 0) {
        switch (LOWORD(wParam)) {
        case cmdStopMonitoring:
            link->StopMonitoring();
            return 0;
        case cmdMaintenance:
            link->StartMaintenance(60);
            return 0;
        case cmdStartMonitor:
            StartMonitor();
            return 0;
        case cmdHistory:
            OpenHistory();
            return 0;
        case cmdDiagnose:
            Diagnose();
            return 0;
        }
    }
    return ::DefWindowProcA(h, message, wParam, lParam);
}
