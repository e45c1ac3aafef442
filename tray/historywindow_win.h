// The companion's History window: one row per site with its uptime over 24 hours, 7 days and 30
// days, and for the selected site a chart of its response times over the chosen span, with the
// down periods marked in red and what happened under the mouse on the status line.
//
// It asks through the MonitorLink and shows what comes back through Show, on the companion's
// thread. It lays itself out from its own DPI (the platform's per-window DPI where there is one),
// takes the system's message font at that DPI and lays out again on WM_DPICHANGED.
#pragma once

#include "base/handle_win.h"
#include "control/monitorlink.h"

#include <windows.h>

#include <functional>
#include <string>

// Control ids, for whoever reads the window back.
enum HistoryWindowControl : int {
    idHistoryList = 100,
    idSpanDay = 101,
    idSpanWeek = 102,
    idSpanMonth = 103,
    idHistoryChart = 104,
    idHistoryStatus = 105,
};

class THistoryWindow {
public:
    // Shows the window and asks for the history of every site.
    THistoryWindow(HWND owner, MonitorLink& link);
    ~THistoryWindow();
    THistoryWindow(const THistoryWindow&) = delete;
    THistoryWindow& operator=(const THistoryWindow&) = delete;

    HWND Handle() const { return window_.Get(); }
    // Closed by the user (Esc, the close box): the owner destroys this object when it likes.
    std::function<void()> OnClosed;

    // An answer of the monitor; one for another site or span than the one now chosen updates the
    // list only.
    void Show(const MonitorHistory& history);
    // The link came back (ask again) or went away (say so).
    void Connection(bool connected);

    const std::string& Site() const { return url_; }
    const std::string& Span() const { return span_; }
    UINT Dpi() const { return dpi_; }
    // The chart as drawn now: the points and the time each pixel column stands for.
    const MonitorHistory& Shown() const { return shown_; }

    LRESULT HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ChartMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);

private:
    int scale(int dip) const;
    void applyDpi(UINT dpi);
    void layout();
    void request();
    void fillList(const MonitorHistory& history);
    void select(const std::string& url);
    void setStatus(const std::string& text);
    void paintChart(HDC dc, const RECT& area);
    // The chart's plot area within the chart window.
    RECT plotArea(const RECT& client) const;
    void hover(int x, int y);
    void close();

    MonitorLink& link_;
    ScopedWindow window_;
    HWND list_ = nullptr;
    HWND chart_ = nullptr;
    HWND status_ = nullptr;
    HWND spans_[3] = {};
    ScopedGdiObject font_;
    UINT dpi_ = 96;
    std::string url_;
    std::string span_ = "24h";
    MonitorHistory shown_; // the last answer for url_ and span_
    std::string state_;    // what the status line says when the mouse is not over a point
    bool filling_ = false; // the list is being filled: its selection changes are ours
    bool tracking_ = false;
    // The service did not know the request. It closes the connection after saying so, so the
    // window does not ask again when the link comes back: that would go round for ever.
    bool older_ = false;
};
