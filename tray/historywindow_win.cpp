#include "tray/historywindow_win.h"

#include "base/civil.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "base/window_win.h"
#include "ui/res/resource.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

constexpr const wchar_t* WindowClass = L"VigrelHistory";
constexpr const wchar_t* ChartClass = L"VigrelHistoryChart";
constexpr const char* Spans[3] = {"24h", "7d", "30d"};
constexpr const wchar_t* SpanCaptions[3] = {L"24 h", L"7 d", L"30 d"};

// Sizes in pixels at 96 DPI.
constexpr int WindowWidth = 760;
constexpr int WindowHeight = 560;
constexpr int Margin = 8;
constexpr int ListHeight = 170;
constexpr int ButtonWidth = 64;
constexpr int ButtonHeight = 26;
constexpr int StatusHeight = 22;
constexpr int UptimeColumn = 80;

LRESULT CALLBACK windowProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (auto* self = WindowObject<THistoryWindow>(h, m, l))
        return self->HandleMessage(h, m, w, l);
    return ::DefWindowProcW(h, m, w, l);
}

LRESULT CALLBACK chartProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (auto* self = WindowObject<THistoryWindow>(h, m, l))
        return self->ChartMessage(h, m, w, l);
    return ::DefWindowProcW(h, m, w, l);
}

void registerClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = windowProc;
    c.hInstance = ::GetModuleHandleW(nullptr);
    c.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.hIcon = ::LoadIconW(c.hInstance, MAKEINTRESOURCEW(IDI_STATE_ALLUP));
    c.lpszClassName = WindowClass;
    ::RegisterClassExW(&c);
    c.lpfnWndProc = chartProc;
    c.hbrBackground = nullptr;
    c.hIcon = nullptr;
    c.lpszClassName = ChartClass;
    ::RegisterClassExW(&c);
}

// The window's DPI where the platform has per-window DPI (Windows 10 1607 on); the screen's
// otherwise.
UINT windowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi && window)
        if (const UINT dpi = getDpi(window))
            return dpi;
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The system's message font at a DPI: asked for that DPI where the platform can, else the
// screen's font scaled.
HFONT messageFont(UINT dpi) {
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = reinterpret_cast<ForDpiFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return ::CreateFontIndirectW(&metrics.lfMessageFont);
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    metrics.lfMessageFont.lfHeight =
        ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), windowDpi(nullptr));
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

std::string uptimeText(double percent) {
    if (percent < 0)
        return "-";
    // Cut, not rounded: 99.996 % is not "100.00 %".
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %%", std::floor(percent * 100) / 100);
    return text;
}

// "yyyy-mm-dd hh:nn" of the service's clock.
std::string timeText(std::int64_t seconds) {
    const std::int64_t minutes = seconds / 60;
    const CivilDate date = CivilFromDays(minutes / 1440);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02lld:%02lld", date.Year, date.Month,
                  date.Day, static_cast<long long>(minutes / 60 % 24),
                  static_cast<long long>(minutes % 60));
    return text;
}

std::int64_t spanSeconds(const std::string& span) {
    return span == "30d" ? 30 * 86400 : span == "7d" ? 7 * 86400 : 86400;
}

// A round top for the time axis: 1, 2 or 5 times a power of ten, at least 100 ms.
std::uint32_t axisTop(std::uint32_t highest) {
    std::uint64_t top = 100;
    for (;;) {
        for (int f : {1, 2, 5})
            if (top * f >= highest)
                return static_cast<std::uint32_t>(top * f);
        top *= 10;
    }
}

void text(HDC dc, int x, int y, const std::string& s, UINT align) {
    ::SetTextAlign(dc, align);
    const std::wstring w = Widen(s);
    ::TextOutW(dc, x, y, w.c_str(), static_cast<int>(w.size()));
}

// A cell of a list view in UTF-8 (the 8-bit macros would read it in the ANSI code page).
std::string itemText(HWND list, int row, int column) {
    wchar_t text[2100] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 2100;
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return Narrow(text);
}

bool highContrast() {
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof hc;
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) &&
           (hc.dwFlags & HCF_HIGHCONTRASTON);
}

} // namespace

THistoryWindow::THistoryWindow(HWND owner, MonitorLink& link) : link_(link) {
    registerClasses();
    const std::wstring title = Widen(std::string(ProductName) + " - History");
    window_.Reset(::CreateWindowExW(0, WindowClass, title.c_str(),
                                    WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                    CW_USEDEFAULT, WindowWidth, WindowHeight, owner, nullptr,
                                    ::GetModuleHandleW(nullptr), this));
    if (!window_)
        return;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    list_ = ::CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0,
        0, 0, window_.Get(), reinterpret_cast<HMENU>(INT_PTR{idHistoryList}), instance, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    const wchar_t* columns[] = {L"Site", L"24 h", L"7 d", L"30 d"};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_FMT;
        column.fmt = i == 0 ? LVCFMT_LEFT : LVCFMT_RIGHT;
        column.pszText = const_cast<wchar_t*>(columns[i]);
        ::SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    for (int i = 0; i < 3; ++i)
        spans_[i] =
            ::CreateWindowExW(0, WC_BUTTONW, SpanCaptions[i],
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON |
                                  BS_PUSHLIKE | (i == 0 ? WS_GROUP : 0),
                              0, 0, 0, 0, window_.Get(),
                              reinterpret_cast<HMENU>(INT_PTR{idSpanDay + i}), instance, nullptr);
    ::SendMessageW(spans_[0], BM_SETCHECK, BST_CHECKED, 0);
    chart_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, ChartClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                               window_.Get(), reinterpret_cast<HMENU>(INT_PTR{idHistoryChart}),
                               instance, this);
    status_ = ::CreateWindowExW(
        0, WC_STATICW, L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 0, 0, 0, window_.Get(),
        reinterpret_cast<HMENU>(INT_PTR{idHistoryStatus}), instance, nullptr);
    // Created at the screen's DPI, the window takes its own monitor's at once.
    dpi_ = 96;
    applyDpi(windowDpi(window_.Get()));
    RECT r{};
    ::GetWindowRect(window_.Get(), &r);
    ::SetWindowPos(window_.Get(), nullptr, 0, 0, scale(WindowWidth), scale(WindowHeight),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    layout();
    ::ShowWindow(window_.Get(), SW_SHOWNORMAL);
    ::SetForegroundWindow(window_.Get());
    ::SetFocus(list_);
    state_ = "Reading the history...";
    setStatus(state_);
    request();
}

THistoryWindow::~THistoryWindow() {
    DetachWindowObject(chart_);
    DetachWindowObject(window_.Get());
    // The controls go before the font they were given.
    window_.Reset();
}

int THistoryWindow::scale(int dip) const {
    return ::MulDiv(dip, static_cast<int>(dpi_), 96);
}

void THistoryWindow::applyDpi(UINT dpi) {
    dpi_ = dpi ? dpi : 96;
    font_.Reset(messageFont(dpi_));
    for (HWND child : {list_, spans_[0], spans_[1], spans_[2], status_})
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
}

void THistoryWindow::layout() {
    RECT client{};
    ::GetClientRect(window_.Get(), &client);
    const int m = scale(Margin);
    const int width = std::max(0, static_cast<int>(client.right) - 2 * m);
    const int listHeight = scale(ListHeight);
    ::MoveWindow(list_, m, m, width, listHeight, TRUE);
    const int uptime = scale(UptimeColumn);
    ListView_SetColumnWidth(
        list_, 0,
        std::max(scale(120), width - 3 * uptime - ::GetSystemMetrics(SM_CXVSCROLL) - scale(4)));
    for (int i = 1; i <= 3; ++i)
        ListView_SetColumnWidth(list_, i, uptime);
    const int buttonsTop = m + listHeight + m;
    for (int i = 0; i < 3; ++i)
        ::MoveWindow(spans_[i], m + i * (scale(ButtonWidth) + scale(4)), buttonsTop,
                     scale(ButtonWidth), scale(ButtonHeight), TRUE);
    const int chartTop = buttonsTop + scale(ButtonHeight) + m;
    const int statusTop = client.bottom - m - scale(StatusHeight);
    ::MoveWindow(chart_, m, chartTop, width, std::max(0, statusTop - m - chartTop), TRUE);
    ::MoveWindow(status_, m, statusTop, width, scale(StatusHeight), TRUE);
}

void THistoryWindow::request() {
    if (!older_)
        link_.RequestHistory(url_, span_);
}

void THistoryWindow::setStatus(const std::string& text) {
    ::SetWindowTextW(status_, Widen(text).c_str());
}

void THistoryWindow::Connection(bool connected) {
    if (older_)
        return;
    if (!connected) {
        state_ = "The monitor cannot be reached.";
        setStatus(state_);
        return;
    }
    request();
}

void THistoryWindow::fillList(const MonitorHistory& history) {
    filling_ = true;
    const int count = ListView_GetItemCount(list_);
    bool same = count == static_cast<int>(history.Sites.size());
    for (int i = 0; same && i < count; ++i) {
        same = itemText(list_, i, 0) == history.Sites[i].Url;
    }
    // One repaint for the whole list rather than one per row.
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    if (!same) {
        ListView_DeleteAllItems(list_);
        ListView_SetItemCount(list_, static_cast<int>(history.Sites.size()) + 1);
        for (std::size_t i = 0; i < history.Sites.size(); ++i) {
            const std::wstring url = Widen(history.Sites[i].Url);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.pszText = const_cast<wchar_t*>(url.c_str());
            ::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        if (history.More > 0) {
            const std::wstring more = Widen("... and " + std::to_string(history.More) + " more");
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(history.Sites.size());
            item.pszText = const_cast<wchar_t*>(more.c_str());
            ::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
    }
    for (std::size_t i = 0; i < history.Sites.size(); ++i) {
        const SiteUptime& s = history.Sites[i];
        const double values[] = {s.Day, s.Week, s.Month};
        for (int column = 1; column <= 3; ++column) {
            const std::wstring value = Widen(uptimeText(values[column - 1]));
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = const_cast<wchar_t*>(value.c_str());
            ::SendMessageW(list_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        }
        if (s.Url == url_) {
            ListView_SetItemState(list_, static_cast<int>(i), LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
        }
    }
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
    filling_ = false;
}

void THistoryWindow::Show(const MonitorHistory& history) {
    if (!window_)
        return;
    older_ = older_ || history.Older;
    if (!history.Error.empty() || history.Older || history.Off) {
        filling_ = true;
        ListView_DeleteAllItems(list_);
        filling_ = false;
        shown_ = MonitorHistory();
        state_ = history.Older ? "The monitor service is older than this companion and keeps no "
                                 "history. Update the service to see it here."
                 : history.Off ? "The monitor keeps no history: [History] Days is 0 in its "
                                 "settings file."
                               : history.Error;
        setStatus(state_);
        ::InvalidateRect(chart_, nullptr, TRUE);
        return;
    }
    fillList(history);
    // The first answer chooses the first site, so that the window opens with a chart.
    if (url_.empty() && !history.Sites.empty()) {
        select(history.Sites[0].Url);
        return;
    }
    if (history.Url == url_ && history.Span == span_) {
        shown_ = history;
        state_ = history.Loading ? "The monitor is still reading its history files: the "
                                   "figures are not complete yet."
                 : url_.empty()  ? "No site is being checked."
                                 : "";
        setStatus(state_);
        ::InvalidateRect(chart_, nullptr, TRUE);
    }
}

void THistoryWindow::select(const std::string& url) {
    url_ = url;
    filling_ = true;
    const int count = ListView_GetItemCount(list_);
    for (int i = 0; i < count; ++i) {
        if (itemText(list_, i, 0) == url)
            ListView_SetItemState(list_, i, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
    }
    filling_ = false;
    request();
}

void THistoryWindow::close() {
    if (!window_)
        return;
    // Hidden now, destroyed with this object: its owner is told and decides when.
    ::ShowWindow(window_.Get(), SW_HIDE);
    if (OnClosed)
        OnClosed();
}

LRESULT THistoryWindow::HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {scale(420), scale(380)};
        return 0;
    }
    case WM_DPICHANGED: {
        applyDpi(HIWORD(wParam));
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(h, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        layout();
        ::InvalidateRect(h, nullptr, TRUE);
        return 0;
    }
    case WM_SETTINGCHANGE:
        // A new message font or high-contrast scheme.
        applyDpi(dpi_);
        layout();
        ::InvalidateRect(chart_, nullptr, TRUE);
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) >= idSpanDay &&
            LOWORD(wParam) <= idSpanMonth) {
            span_ = Spans[LOWORD(wParam) - idSpanDay];
            ::SetFocus(list_);
            request();
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            close();
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == list_ && header->code == LVN_KEYDOWN &&
            reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == VK_ESCAPE) {
            close();
            return 0;
        }
        if (header->hwndFrom == list_ && header->code == LVN_ITEMCHANGED && !filling_) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED) &&
                change->iItem >= 0) {
                const std::string chosen = itemText(list_, change->iItem, 0);
                if (chosen != url_ && chosen.rfind("... and ", 0) != 0)
                    select(chosen);
            }
        }
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            close();
            return 0;
        }
        break;
    case WM_CLOSE:
        close();
        return 0;
    }
    return ::DefWindowProcW(h, message, wParam, lParam);
}

RECT THistoryWindow::plotArea(const RECT& client) const {
    // Room on the left for the times' labels and below for the dates'.
    return RECT{client.left + scale(64), client.top + scale(12), client.right - scale(14),
                client.bottom - scale(26)};
}

void THistoryWindow::paintChart(HDC dc, const RECT& area) {
    const bool contrast = highContrast();
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ oldFont = ::SelectObject(dc, font_.Get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    const RECT plot = plotArea(area);
    if (plot.right <= plot.left || plot.bottom <= plot.top) {
        ::SelectObject(dc, oldFont);
        return;
    }
    const MonitorHistory& h = shown_;
    if (url_.empty() || h.Points.empty()) {
        const std::string note = url_.empty()    ? "Choose a site in the list."
                                 : h.Url != url_ ? ""
                                                 : "No checks of this site in this span.";
        text(dc, (area.left + area.right) / 2, (area.top + area.bottom) / 2, note, TA_CENTER);
        ::SelectObject(dc, oldFont);
        return;
    }
    const std::int64_t span = spanSeconds(h.Span);
    const std::int64_t from = h.Now - span;
    const auto xOf = [&](std::int64_t t) {
        return plot.left + static_cast<int>((t - from) * (plot.right - plot.left) / span);
    };
    std::uint32_t highest = 0;
    for (const ChartPoint& p : h.Points)
        highest = std::max(highest, p.Milliseconds);
    const std::uint32_t top = axisTop(highest);
    const auto yOf = [&](std::uint32_t ms) {
        return plot.bottom - static_cast<int>(std::uint64_t{ms} * (plot.bottom - plot.top) / top);
    };

    // Down periods first, under everything else: light where some probes failed, strong where
    // all did.
    ScopedGdiObject partly(contrast
                               ? ::CreateHatchBrush(HS_BDIAGONAL, ::GetSysColor(COLOR_WINDOWTEXT))
                               : ::CreateSolidBrush(RGB(255, 214, 214)));
    ScopedGdiObject wholly(contrast
                               ? ::CreateHatchBrush(HS_DIAGCROSS, ::GetSysColor(COLOR_WINDOWTEXT))
                               : ::CreateSolidBrush(RGB(232, 96, 96)));
    for (const ChartPoint& p : h.Points) {
        if (p.Downs == 0)
            continue;
        RECT band{std::max<LONG>(plot.left, xOf(p.Start)), plot.top,
                  std::min<LONG>(plot.right, std::max(xOf(p.Start + h.Step), xOf(p.Start) + 2)),
                  plot.bottom};
        ::FillRect(dc, &band,
                   static_cast<HBRUSH>(p.Downs == p.Checks ? wholly.Get() : partly.Get()));
    }

    // The axes, four lines across and their times.
    ScopedGdiObject grid(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_GRAYTEXT)));
    HGDIOBJ oldPen = ::SelectObject(dc, grid.Get());
    for (int i = 0; i <= 4; ++i) {
        const std::uint32_t ms = top / 4 * i;
        const int y = yOf(ms);
        ::MoveToEx(dc, plot.left, y, nullptr);
        ::LineTo(dc, plot.right, y);
        text(dc, plot.left - scale(4), y - scale(8), std::to_string(ms) + " ms", TA_RIGHT);
    }
    // Dates or hours below, at most eight labels.
    const std::int64_t tick = h.Span == "30d" ? 5 * 86400 : h.Span == "7d" ? 86400 : 4 * 3600;
    for (std::int64_t t = (from / tick + 1) * tick; t < h.Now; t += tick) {
        const int x = xOf(t);
        ::MoveToEx(dc, x, plot.top, nullptr);
        ::LineTo(dc, x, plot.bottom + scale(3));
        const std::string when = timeText(t);
        text(dc, x, plot.bottom + scale(5), h.Span == "24h" ? when.substr(11) : when.substr(5, 5),
             TA_CENTER);
    }

    // The response times, a line through the points that had a probe up; a gap breaks it.
    ScopedGdiObject line(::CreatePen(PS_SOLID, std::max(2, scale(2)),
                                     contrast ? ::GetSysColor(COLOR_HIGHLIGHT) : RGB(32, 96, 200)));
    ::SelectObject(dc, line.Get());
    const ChartPoint* previous = nullptr;
    for (const ChartPoint& p : h.Points) {
        const bool up = p.Checks > p.Downs;
        if (!up) {
            previous = nullptr;
            continue;
        }
        const int x = xOf(p.Start + h.Step / 2);
        const int y = yOf(p.Milliseconds);
        if (previous && p.Start - previous->Start <= h.Step)
            ::LineTo(dc, x, y);
        else
            ::MoveToEx(dc, x, y, nullptr);
        // A lone point still shows.
        ::SetPixel(dc, x, y, contrast ? ::GetSysColor(COLOR_HIGHLIGHT) : RGB(32, 96, 200));
        previous = &p;
    }
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldFont);
}

void THistoryWindow::hover(int x, int /*y*/) {
    RECT client{};
    ::GetClientRect(chart_, &client);
    const RECT plot = plotArea(client);
    const MonitorHistory& h = shown_;
    std::string line = state_;
    if (!h.Points.empty() && x >= plot.left && x < plot.right && h.Step > 0) {
        const std::int64_t span = spanSeconds(h.Span);
        const std::int64_t t = h.Now - span + (x - plot.left) * span / (plot.right - plot.left);
        for (const ChartPoint& p : h.Points) {
            if (t < p.Start || t >= p.Start + h.Step)
                continue;
            line = timeText(p.Start) + " - " + timeText(p.Start + h.Step).substr(11) + ": " +
                   std::to_string(p.Checks) + (p.Checks == 1 ? " check" : " checks");
            if (p.Checks > p.Downs)
                line += ", " + std::to_string(p.Milliseconds) + " ms on average";
            if (p.Downs > 0)
                line += ", down " + std::to_string(p.Downs) + "x" +
                        (p.Reason.empty() ? std::string() : " (" + p.Reason + ")");
            break;
        }
    }
    setStatus(line);
}

LRESULT THistoryWindow::ChartMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(h, &ps);
        RECT client{};
        ::GetClientRect(h, &client);
        // Drawn off screen and copied once, so that a resize does not flicker.
        HDC memory = ::CreateCompatibleDC(dc);
        ScopedGdiObject bitmap(::CreateCompatibleBitmap(dc, std::max<LONG>(1, client.right),
                                                        std::max<LONG>(1, client.bottom)));
        HGDIOBJ old = ::SelectObject(memory, bitmap.Get());
        paintChart(memory, client);
        ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, old);
        ::DeleteDC(memory);
        ::EndPaint(h, &ps);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (!tracking_) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, h, 0};
            tracking_ = ::TrackMouseEvent(&track) != FALSE;
        }
        hover(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_MOUSELEAVE:
        tracking_ = false;
        setStatus(state_);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            close();
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(h, message, wParam, lParam);
}
