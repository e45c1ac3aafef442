#include "ui/frmsitechecks_win.h"

#include "base/exception.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "base/window_win.h"
#include "ui/dpi_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

namespace {

const std::string ClassName = std::string(ProductName) + "SiteChecksDialog";
// The client area and every place below are given for 96 DPI, as in the settings dialog.
constexpr int ClientWidth = 320;
constexpr int ClientHeight = 278;
constexpr DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD DialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
// Room for a number and a little more: what a number field accepts is the reader's to judge.
constexpr int NumberFieldLimit = 32;

// The field a problem is about.
int ControlOf(SiteCheckField field) {
    switch (field) {
    case SiteCheckField::Statuses:
        return idStatuses;
    case SiteCheckField::Redirects:
        return idRedirects;
    case SiteCheckField::Contains:
        return idContains;
    case SiteCheckField::Lacks:
        return idLacks;
    case SiteCheckField::CertDays:
        return idCertDays;
    case SiteCheckField::SlowMs:
        return idSlow;
    }
    return idStatuses;
}

} // namespace

TFormSiteChecks::TFormSiteChecks(HWND ownerWindow, UINT ownerDpi, const std::string& url,
                                 const std::string& storedText, int generalCertDays)
    : stored(storedText), owner(ownerWindow) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    // A wide window class: the caption carries the address, which may be outside the ANSI
    // code page.
    const std::wstring className = Widen(ClassName);
    WNDCLASSW wc{};
    if (!::GetClassInfoW(instance, className.c_str(), &wc)) {
        wc.lpfnWndProc = WndProc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = className.c_str();
        ::RegisterClassW(&wc);
    }
    // The address in the caption: a long one is cut there rather than widen the dialog.
    handle.Reset(::CreateWindowExW(DialogExStyle, className.c_str(),
                                   Widen("Checks of " + url).c_str(), DialogStyle, 0, 0,
                                   ClientWidth, ClientHeight, owner, nullptr, instance, this));
    if (!handle)
        throw Exception("Cannot create the checks dialog");
    CreateControls();
    const SiteChecksView view = ViewOfStoredChecks(stored);
    shown = view.Fields;
    Fill(shown);
    SetText(idChecksProblem, view.Note);
    SetText(idCertDaysHint, "Empty: general setting (" + std::to_string(generalCertDays) + ")");
    Layout(ownerDpi, nullptr);
}

TFormSiteChecks::~TFormSiteChecks() {
    DetachWindowObject(handle.Get());
    handle.Reset();
}

void TFormSiteChecks::Add(const char* cls, const char* text, DWORD style, int x, int y, int w,
                          int h, int id, DWORD exStyle) {
    ::CreateWindowExW(exStyle, Widen(cls).c_str(), Widen(text).c_str(),
                      WS_CHILD | WS_VISIBLE | style, x, y, w, h, Handle(),
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                      ::GetModuleHandleA(nullptr), nullptr);
    designPlaces.push_back({id, RECT{x, y, x + w, y + h}});
}

void TFormSiteChecks::CreateControls() {
    const DWORD edit = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
    // Labels before their fields: a label's mnemonic takes the focus to the field after it.
    Add("STATIC", "Accepted &status codes", 0, 10, 15, 150, 16, idStatusesLabel);
    Add("EDIT", "", edit, 166, 12, 144, 20, idStatuses);
    Add("STATIC", "&Redirects followed (0-12)", 0, 10, 41, 150, 16, idRedirectsLabel);
    Add("EDIT", "", edit | ES_NUMBER, 166, 38, 50, 20, idRedirects);
    Add(UPDOWN_CLASSA, "", UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_SETBUDDYINT, 0, 0,
        0, 0, idRedirectsArrows);
    Add("STATIC", "Page must &contain", 0, 10, 67, 150, 16, idContainsLabel);
    Add("EDIT", "", edit, 166, 64, 144, 20, idContains);
    Add("STATIC", "Page must &not contain", 0, 10, 93, 150, 16, idLacksLabel);
    Add("EDIT", "", edit, 166, 90, 144, 20, idLacks);
    Add("BUTTON", "Must stay on its &host", BS_AUTOCHECKBOX | WS_TABSTOP, 10, 116, 300, 18, idStay);
    Add("STATIC", "Certificate &warning (days)", 0, 10, 143, 150, 16, idCertDaysLabel);
    Add("EDIT", "", edit | ES_NUMBER, 166, 140, 50, 20, idCertDays);
    Add("STATIC", "", 0, 166, 162, 144, 16, idCertDaysHint);
    Add("STATIC", "S&low above (ms)", 0, 10, 187, 150, 16, idSlowLabel);
    Add("EDIT", "", edit | ES_NUMBER, 166, 184, 70, 20, idSlow);
    // Wraps: a reader's words and an unreadable stored value may be long.
    Add("STATIC", "", SS_NOPREFIX, 10, 210, 300, 30, idChecksProblem);
    Add("BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 150, 246, 76, 24, idChecksOk);
    Add("BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 234, 246, 76, 24, idChecksCancel);

    ::SendMessageW(Control(idRedirectsArrows), UDM_SETBUDDY,
                   reinterpret_cast<WPARAM>(Control(idRedirects)), 0);
    ::SendMessageW(Control(idRedirectsArrows), UDM_SETRANGE32, 0, MaxSiteRedirects);
    for (int id : {idContains, idLacks})
        ::SendMessageW(Control(id), EM_LIMITTEXT, MaxCheckText, 0);
    for (int id : {idStatuses, idRedirects, idCertDays, idSlow})
        ::SendMessageW(Control(id), EM_LIMITTEXT, NumberFieldLimit, 0);
}

void TFormSiteChecks::Layout(UINT newDpi, const RECT* suggested) {
    dpi = newDpi ? newDpi : DesignDpi;
    LOGFONTW lf = MessageFontForDpi(dpi);
    ScopedGdiObject newFont(::CreateFontIndirectW(&lf));
    for (const auto& [id, place] : designPlaces)
        ::SendMessageW(Control(id), WM_SETFONT, reinterpret_cast<WPARAM>(newFont.Get()), FALSE);
    font = std::move(newFont);

    // As the settings dialog does: scaled for the DPI, grown where a text would be cut. The
    // problem line wraps instead.
    const DialogScale scale = ScaleToFit(Handle(), designPlaces, dpi, [this](HWND control, HDC dc) {
        return ::GetDlgCtrlID(control) == idChecksProblem ? SIZE{}
                                                          : TextRoomNeeded(control, dc, dpi);
    });
    const auto across = [&scale](LONG v) { return static_cast<int>(std::lround(v * scale.X)); };
    const auto down = [&scale](LONG v) { return static_cast<int>(std::lround(v * scale.Y)); };
    for (const auto& [id, place] : designPlaces) {
        if (place.right == place.left) // the arrows follow their field
            continue;
        const int x = across(place.left);
        const int y = down(place.top);
        ::SetWindowPos(Control(id), nullptr, x, y, across(place.right) - x, down(place.bottom) - y,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SendMessageW(Control(idRedirectsArrows), UDM_SETBUDDY,
                   reinterpret_cast<WPARAM>(Control(idRedirects)), 0);

    // Centred over the settings dialog.
    RECT over{};
    if (!owner || !::GetWindowRect(owner, &over))
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    PlaceDialog(Handle(), across(ClientWidth), down(ClientHeight), DialogStyle, DialogExStyle, dpi,
                suggested, over);
    ::RedrawWindow(Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

std::string TFormSiteChecks::Text(int id) const {
    return WindowText(Control(id));
}

void TFormSiteChecks::SetText(int id, const std::string& text) {
    ::SetWindowTextW(Control(id), Widen(text).c_str());
}

void TFormSiteChecks::Fill(const SiteCheckFields& fields) {
    SetText(idStatuses, fields.Statuses);
    SetText(idRedirects, fields.Redirects);
    SetText(idContains, fields.Contains);
    SetText(idLacks, fields.Lacks);
    ::SendMessageW(Control(idStay), BM_SETCHECK, fields.Stay ? BST_CHECKED : BST_UNCHECKED, 0);
    SetText(idCertDays, fields.CertDays);
    SetText(idSlow, fields.SlowMs);
}

SiteCheckFields TFormSiteChecks::Fields() const {
    SiteCheckFields fields;
    fields.Statuses = Text(idStatuses);
    fields.Redirects = Text(idRedirects);
    fields.Contains = Text(idContains);
    fields.Lacks = Text(idLacks);
    fields.Stay = ::SendMessageW(Control(idStay), BM_GETCHECK, 0, 0) == BST_CHECKED;
    fields.CertDays = Text(idCertDays);
    fields.SlowMs = Text(idSlow);
    return fields;
}

void TFormSiteChecks::Show() {
    ::ShowWindow(Handle(), SW_SHOW);
    ::SetForegroundWindow(Handle());
    ::SetFocus(Control(idStatuses));
    ::SendMessageW(Control(idStatuses), EM_SETSEL, 0, -1);
}

void TFormSiteChecks::OkClick() {
    SiteCheckProblem problem;
    const std::optional<std::string> value = ChecksOnOk(stored, shown, Fields(), problem);
    if (!value) {
        // The dialog stays open on the field at fault, its problem in words below.
        SetText(idChecksProblem, problem.Text);
        const int field = ControlOf(problem.Field);
        ::SetFocus(Control(field));
        ::SendMessageW(Control(field), EM_SETSEL, 0, -1);
        return;
    }
    checks = *value;
    Close(IDOK);
}

void TFormSiteChecks::Close(int result) {
    if (modalResult != 0)
        return;
    modalResult = result;
    if (OnClose)
        OnClose();
}

bool TFormSiteChecks::PreTranslate(MSG& msg) {
    if (!handle || (msg.hwnd != Handle() && !::IsChild(Handle(), msg.hwnd)))
        return false;
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
        HWND focus = ::GetFocus();
        if (msg.wParam == VK_ESCAPE)
            Close(IDCANCEL);
        else if (focus == Control(idChecksCancel))
            Close(IDCANCEL);
        else
            OkClick();
        return true;
    }
    if (msg.message == WM_CHAR && (msg.wParam == '\r' || msg.wParam == 27))
        return true; // handled on key down; no beep from the edit field
    return ::IsDialogMessageW(Handle(), &msg) != FALSE;
}

LRESULT CALLBACK TFormSiteChecks::WndProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (TFormSiteChecks* self = WindowObject<TFormSiteChecks>(h, m, l))
        return self->Dispatch(h, m, w, l);
    return ::DefWindowProcW(h, m, w, l);
}

LRESULT TFormSiteChecks::Dispatch(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
    case WM_CLOSE:
        Close(IDCANCEL);
        return 0;
    case WM_NEXTDLGCTL: {
        // A label's mnemonic: the focus goes on to the field after it.
        HWND next = LOWORD(l) ? reinterpret_cast<HWND>(w)
                              : ::GetNextDlgTabItem(h, ::GetFocus(), w != 0 ? TRUE : FALSE);
        if (next)
            ::SetFocus(next);
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(w) == BN_CLICKED && LOWORD(w) == idChecksOk)
            OkClick();
        else if (HIWORD(w) == BN_CLICKED && LOWORD(w) == idChecksCancel)
            Close(IDCANCEL);
        return 0;
    case WM_DPICHANGED:
        Layout(LOWORD(w), reinterpret_cast<const RECT*>(l));
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(l) == Control(idChecksProblem) ||
            reinterpret_cast<HWND>(l) == Control(idCertDaysHint)) {
            HDC dc = reinterpret_cast<HDC>(w);
            const bool problem = reinterpret_cast<HWND>(l) == Control(idChecksProblem);
            ::SetTextColor(dc, HighContrast() ? ::GetSysColor(COLOR_WINDOWTEXT)
                               : problem      ? RGB(176, 0, 0)
                                              : ::GetSysColor(COLOR_GRAYTEXT));
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcW(h, m, w, l);
}
