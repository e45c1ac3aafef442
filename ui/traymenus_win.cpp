#include "ui/traymenus_win.h"

#include "base/product.h"
#include "base/utf_win.h"
#include "ui/dpi_win.h"
#include "ui/res/resource.h"
#include "ui/traytip.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

UINT TaskbarCreatedMessage() {
    static const UINT id = ::RegisterWindowMessageA("TaskbarCreated");
    return id;
}

TTrayUi::TTrayUi(HINSTANCE resources, CSimpleTray::Notifier notifier)
    : pictures(resources ? resources : ::GetModuleHandleA(nullptr)), glyphDpi(WindowDpi(nullptr)),
      tray(notifier ? std::move(notifier) : CSimpleTray::Notifier(::Shell_NotifyIconW)) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    imageList1.Reset(::ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 6, 0));
    // The notification area shows small icons: it gets each picture in the form drawn for
    // that size, which stays recognisable where a scaled-down 32-pixel image would blur.
    const int small = ::GetSystemMetrics(SM_CXSMICON);
    for (int id : {IDI_STATE_ALLUP, IDI_STATE_SITESDOWN, IDI_STATE_CHECKING, IDI_STATE_DISCONNECTED,
                   IDI_STATE_NOTRUNNING, IDI_STATE_WARNINGS}) {
        ScopedIcon icon(static_cast<HICON>(
            ::LoadImageA(pictures, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, 0)));
        if (imageList1 && icon)
            ::ImageList_AddIcon(imageList1.Get(), icon.Get());
        trayIcons.emplace_back(static_cast<HICON>(
            ::LoadImageA(pictures, MAKEINTRESOURCEA(id), IMAGE_ICON, small, small, 0)));
    }
    BuildPopupMenu1();
    popupMenu2.Reset(::CreatePopupMenu());
    // Touch the id now, so the broadcast is recognised from the first message on.
    TaskbarCreatedMessage();
}

void TTrayUi::BuildPopupMenu1() {
    popupMenu1.Reset(::CreatePopupMenu());
    struct Item {
        UINT id;
        const char* caption;
        int glyph;
        int size;
    };
    static const Item items[] = {
        {cmdCheckNow, "Check Now", IDI_GLYPH_CHECKNOW, MenuGlyphSize},
        {0, nullptr, 0, 0},
        {cmdSettings, "Settings", IDI_GLYPH_SETTINGS, MenuGlyphSize},
        {cmdExit, "Exit", IDI_GLYPH_EXIT, MenuGlyphSize},
        {0, nullptr, 0, 0},
        {cmdWebsite, BrandName, IDI_GLYPH_WEBSITE, MenuGlyphSize},
    };
    for (const Item& item : items) {
        if (!item.caption) {
            ::AppendMenuA(popupMenu1.Get(), MF_SEPARATOR, 0, nullptr);
            continue;
        }
        ::AppendMenuA(popupMenu1.Get(), MF_STRING, item.id, item.caption);
        SetGlyph(item.id, item.glyph, item.size);
    }
}

void TTrayUi::SetGlyph(UINT id, int icon, int size) {
    const int pixels = ForDpi(size, glyphDpi);
    ScopedIcon glyph(static_cast<HICON>(
        ::LoadImageA(pictures, MAKEINTRESOURCEA(icon), IMAGE_ICON, pixels, pixels, 0)));
    if (!glyph)
        return;
    std::erase_if(glyphs, [id](const Glyph& g) { return g.id == id; });
    glyphs.push_back({id, icon, size, pixels, std::move(glyph)});
    // The form draws the glyph itself (WM_DRAWITEM), so its alpha edges blend with the
    // menu's background whether the line is highlighted or not.
    MENUITEMINFOA mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_BITMAP;
    mii.hbmpItem = HBMMENU_CALLBACK;
    ::SetMenuItemInfoA(popupMenu1.Get(), id, FALSE, &mii);
}

void TTrayUi::UseDpi(UINT dpi) {
    if (dpi == glyphDpi)
        return;
    glyphDpi = dpi;
    for (Glyph& g : glyphs) {
        const int pixels = ForDpi(g.size, dpi);
        ScopedIcon icon(static_cast<HICON>(
            ::LoadImageA(pictures, MAKEINTRESOURCEA(g.resource), IMAGE_ICON, pixels, pixels, 0)));
        if (icon) {
            g.icon = std::move(icon);
            g.pixels = pixels;
        }
    }
}

const TTrayUi::Glyph* TTrayUi::GlyphFor(UINT id) const {
    for (const Glyph& g : glyphs)
        if (g.id == id)
            return &g;
    return nullptr;
}

void TTrayUi::ShowIcon(HWND form, int state) {
    SetTrayIcon(state);
    tray.Show(form, false);
}

void TTrayUi::SetTrayIcon(int state) {
    if (state < 0 || state >= static_cast<int>(trayIcons.size()))
        return;
    if (trayIcons[state]) {
        tray.SetIcon(trayIcons[state].Get());
        return;
    }
    // The shell copies the picture, so an icon made here need live only for the call.
    ScopedIcon icon(::ImageList_GetIcon(imageList1.Get(), state, ILD_NORMAL));
    tray.SetIcon(icon.Get());
}

void TTrayUi::SetTip(const std::string& text) {
    tip = text;
    ShowTip();
}

void TTrayUi::ShowTip() {
    tray.SetTip(TipWithWarnings(tip, warned));
}

void TTrayUi::ClearFailedSites() {
    while (::GetMenuItemCount(popupMenu2.Get()) > 0)
        ::DeleteMenu(popupMenu2.Get(), 0, MF_BYPOSITION);
    failedCount = 0;
    if (!warned.empty()) {
        warned.clear();
        ShowTip();
    }
}

void TTrayUi::AppendSite(const std::string& url, const std::string& reason, UINT position) {
    // "&" in a menu's text marks a mnemonic; an address's own, and a reason's (a text check's
    // words), are doubled to show as themselves.
    const auto shown = [](const std::string& words) {
        std::string text;
        for (char c : words)
            text += c == '&' ? "&&" : std::string(1, c);
        return text;
    };
    std::string text = shown(url);
    // After a tab the reason lines up in a column of its own at the menu's right.
    if (!reason.empty())
        text += "\t" + shown(reason);
    const UINT id = FailedSiteFirstId + ::GetMenuItemCount(popupMenu2.Get());
    ::InsertMenuW(popupMenu2.Get(), position, MF_BYPOSITION | MF_STRING, id, Widen(text).c_str());
}

void TTrayUi::AddFailedSite(const std::string& url, const std::string& reason) {
    // Before the "Warnings" part, whichever came first.
    AppendSite(url, reason, static_cast<UINT>(failedCount));
    if (failedCount == 0 && !warned.empty())
        ::InsertMenuW(popupMenu2.Get(), 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    ++failedCount;
}

void TTrayUi::AddWarnedSite(const std::string& url, const std::string& reason) {
    HMENU menu = popupMenu2.Get();
    if (warned.empty()) {
        if (failedCount > 0)
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        // A header line, greyed: it names the part and does nothing.
        ::AppendMenuW(menu, MF_STRING | MF_GRAYED, WarningsHeaderId, L"Warnings");
    }
    AppendSite(url, reason, static_cast<UINT>(::GetMenuItemCount(menu)));
    warned.push_back(url);
    ShowTip();
}

void TTrayUi::TrayNotify(HWND form, LPARAM mouseEvent) {
    const UINT event = static_cast<UINT>(mouseEvent);
    if (event != WM_LBUTTONUP && event != WM_RBUTTONUP)
        return;
    HMENU menu = event == WM_LBUTTONUP ? popupMenu2.Get() : popupMenu1.Get();
    // An empty menu would show as a stray empty box: no failed site, no menu.
    if (::GetMenuItemCount(menu) <= 0)
        return;
    POINT at{};
    ::GetCursorPos(&at);
    // Without the foreground the menu would not close when the user clicks elsewhere, and
    // the WM_NULL afterwards lets a second click open it again at once.
    ::SetForegroundWindow(form);
    UseDpi(WindowDpi(form));
    const UINT flags = event == WM_LBUTTONUP
                           ? TPM_BOTTOMALIGN | TPM_RIGHTBUTTON
                           : TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_VERNEGANIMATION;
    ::TrackPopupMenu(menu, flags, at.x, at.y, 0, form, nullptr);
    ::PostMessageA(form, WM_NULL, 0, 0);
}

bool TTrayUi::Command(UINT id) {
    std::function<void()>* handler = nullptr;
    switch (id) {
    case cmdCheckNow:
        handler = &OnCheckNow;
        break;
    case cmdSettings:
        handler = &OnSettings;
        break;
    case cmdExit:
        handler = &OnExit;
        break;
    case cmdWebsite:
        handler = &OnWebsite;
        break;
    default:
        // Lines of the failed-sites menu do nothing.
        return id >= FailedSiteFirstId &&
               id < FailedSiteFirstId + static_cast<UINT>(::GetMenuItemCount(popupMenu2.Get()));
    }
    if (*handler)
        (*handler)();
    return true;
}

bool TTrayUi::HandleMessage(HWND form, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT& result) {
    result = 0;
    if (message == TaskbarCreatedMessage()) {
        // The new task bar needs a moment before it takes icons.
        ::Sleep(TaskbarSettleMs);
        SetTrayIcon(0);
        tray.Show(form, true);
        if (OnLog)
            OnLog("Taskbar created");
        return false;
    }
    if (message == WM_TRAYNOTIFY) {
        TrayNotify(form, lParam);
        return true;
    }
    if (message == WM_MEASUREITEM) {
        auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        const Glyph* g = mi->CtlType == ODT_MENU ? GlyphFor(mi->itemID) : nullptr;
        if (!g)
            return false;
        // The captions start in one column, after the widest glyph; a line that counted only
        // its own glyph would be laid out too narrow for its caption. A little air follows.
        int widest = 0;
        for (const Glyph& each : glyphs)
            widest = std::max(widest, each.pixels);
        mi->itemWidth = static_cast<UINT>(widest + ForDpi(6, glyphDpi));
        mi->itemHeight = static_cast<UINT>(g->pixels);
        result = TRUE;
        return true;
    }
    if (message == WM_DRAWITEM) {
        auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        const Glyph* g = di->CtlType == ODT_MENU ? GlyphFor(di->itemID) : nullptr;
        if (!g)
            return false;
        const int x = di->rcItem.left + (di->rcItem.right - di->rcItem.left - g->pixels) / 2;
        const int y = di->rcItem.top + (di->rcItem.bottom - di->rcItem.top - g->pixels) / 2;
        ::DrawIconEx(di->hDC, x, y, g->icon.Get(), g->pixels, g->pixels, 0, nullptr, DI_NORMAL);
        result = TRUE;
        return true;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == 0 && lParam == 0)
        return Command(LOWORD(wParam));
    return false;
}
