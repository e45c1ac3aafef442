#include "ui/dpi_win.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

template <typename Function> Function User32(const char* name) {
    static const HMODULE user32 = ::GetModuleHandleA("user32.dll");
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(user32 ? ::GetProcAddress(user32, name) : nullptr));
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

UINT SystemDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : DesignDpi;
}

} // namespace

UINT WindowDpi(HWND window) {
    static const auto forWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = forWindow && window ? forWindow(window) : 0;
    return dpi ? dpi : SystemDpi();
}

LOGFONTW MessageFontForDpi(UINT dpi) {
    static const auto forDpi = User32<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return metrics.lfMessageFont;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    // The answer is for the system's DPI.
    metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                              static_cast<int>(SystemDpi()));
    return metrics.lfMessageFont;
}

int SmallIconSizeForDpi(UINT dpi) {
    static const auto forDpi = User32<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    const int size = forDpi ? forDpi(SM_CXSMICON, dpi) : 0;
    return size > 0 ? size : ForDpi(16, dpi);
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto forDpi = User32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (!forDpi || !forDpi(&rect, style, FALSE, exStyle, dpi))
        ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

bool HighContrast() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

SIZE TextRoomNeeded(HWND control, HDC dc, UINT dpi) {
    wchar_t cls[32] = {};
    ::GetClassNameW(control, cls, static_cast<int>(std::size(cls)));
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    const bool button = lstrcmpiW(cls, L"Button") == 0;
    const bool label = lstrcmpiW(cls, L"Static") == 0;
    const bool combo = lstrcmpiW(cls, L"ComboBox") == 0;
    if (!button && !label && !combo)
        return SIZE{0, 0};
    // The widest text: the caption, or the longest item of a drop-down list.
    std::vector<std::wstring> texts;
    if (combo) {
        const int count = static_cast<int>(::SendMessageW(control, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(
                                  0, ::SendMessageW(control, CB_GETLBTEXTLEN, i, 0))) +
                                  1,
                              L'\0');
            ::SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
            texts.push_back(item.c_str());
        }
    } else {
        std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
        texts.push_back(text);
    }
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE text{0, 0};
    for (const std::wstring& t : texts) {
        RECT r{0, 0, 0, 0};
        ::DrawTextW(dc, t.empty() ? L" " : t.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
        text.cx = std::max<LONG>(text.cx, t.empty() ? 0 : r.right);
        text.cy = std::max<LONG>(text.cy, r.bottom);
    }
    ::SelectObject(dc, old);
    if (text.cx == 0)
        return SIZE{0, 0};
    const int kind = style & BS_TYPEMASK;
    if (combo)
        return SIZE{text.cx + SmallIconSizeForDpi(dpi) + ForDpi(10, dpi), 0};
    if (label)
        return SIZE{text.cx + ((::GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_STATICEDGE)
                                   ? ForDpi(6, dpi)
                                   : 0),
                    text.cy};
    if (kind == BS_GROUPBOX)
        return SIZE{text.cx + ForDpi(16, dpi), 0};
    if (kind == BS_AUTOCHECKBOX || kind == BS_AUTORADIOBUTTON)
        return SIZE{text.cx + ForDpi(20, dpi), text.cy};
    if (kind == BS_OWNERDRAW) {
        const int icon = SmallIconSizeForDpi(dpi);
        RECT r{};
        ::GetWindowRect(control, &r);
        const bool tall = r.bottom - r.top > r.right - r.left;
        return tall ? SIZE{std::max<LONG>(text.cx, icon) + ForDpi(12, dpi),
                           icon + ForDpi(4, dpi) + text.cy + ForDpi(12, dpi)}
                    : SIZE{icon + ForDpi(4, dpi) + text.cx + ForDpi(16, dpi),
                           std::max<LONG>(icon, text.cy) + ForDpi(8, dpi)};
    }
    return SIZE{0, 0};
}

void PlaceDialog(HWND dialog, int clientWidth, int clientHeight, DWORD style, DWORD exStyle,
                 UINT dpi, const RECT* suggested, const RECT& over) {
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectForDpi(frame, style, exStyle, dpi);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    int x = 0;
    int y = 0;
    if (suggested) {
        x = suggested->left;
        y = suggested->top;
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        ::GetMonitorInfoW(::MonitorFromRect(&over, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& work = monitor.rcWork;
        x = std::clamp<int>((over.left + over.right - w) / 2, work.left,
                            std::max<int>(work.left, work.right - w));
        y = std::clamp<int>((over.top + over.bottom - h) / 2, work.top,
                            std::max<int>(work.top, work.bottom - h));
    }
    ::SetWindowPos(dialog, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

DialogScale ScaleToFit(HWND dialog, const std::vector<std::pair<int, RECT>>& designPlaces, UINT dpi,
                       const std::function<SIZE(HWND control, HDC dc)>& need) {
    DialogScale scale{static_cast<double>(dpi) / DesignDpi, static_cast<double>(dpi) / DesignDpi};
    HDC dc = ::GetDC(dialog);
    for (const auto& [id, place] : designPlaces) {
        const SIZE room = need(::GetDlgItem(dialog, id), dc);
        const LONG w = place.right - place.left;
        const LONG h = place.bottom - place.top;
        if (w > 0 && room.cx > 0)
            scale.X = std::max(scale.X, static_cast<double>(room.cx) / w);
        if (h > 0 && room.cy > 0)
            scale.Y = std::max(scale.Y, static_cast<double>(room.cy) / h);
    }
    ::ReleaseDC(dialog, dc);
    return scale;
}
