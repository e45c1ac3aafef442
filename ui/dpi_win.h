// The DPI of a window's monitor and what follows from it: fonts, icon and frame sizes.
// The functions of Windows 10 that answer per monitor are looked up at run time, so that the
// programs still start on older systems, where the system's DPI is the answer.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

constexpr UINT DesignDpi = 96; // the dialog's and the menus' sizes are given for it

// The DPI the window is laid out for (the system's DPI where there is no per-monitor answer).
UINT WindowDpi(HWND window);

// A design length at the given DPI.
inline int ForDpi(int length, UINT dpi) {
    return ::MulDiv(length, static_cast<int>(dpi), DesignDpi);
}

// The system's message font as it is at the given DPI.
LOGFONTW MessageFontForDpi(UINT dpi);

// The size of small icons (16 at 96 DPI: 20, 24, 32 at 125, 150, 200 %).
int SmallIconSizeForDpi(UINT dpi);

// AdjustWindowRectEx at the given DPI.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);

// True while the user has a high-contrast theme on: what the program draws itself takes the
// system's colours only.
bool HighContrast();

// Pixels a dialog's control (label, button, check box, group box, drop-down list) needs across
// for its whole text, and down for a line of it, with its font at the given DPI; 0 where it
// has no text or is of another kind.
SIZE TextRoomNeeded(HWND control, HDC dc, UINT dpi);

// Sizes a dialog for a client area of clientWidth x clientHeight pixels at the given DPI and puts
// it at suggested's top left (a move to another monitor) or, without one, centred over `over`
// within the work area of the monitor `over` is on.
void PlaceDialog(HWND dialog, int clientWidth, int clientHeight, DWORD style, DWORD exStyle,
                 UINT dpi, const RECT* suggested, const RECT& over);

// How much a dialog designed at DesignDpi grows across and down at the given DPI: by dpi /
// DesignDpi at least, more where a control's text would otherwise be cut, evenly so that the
// layout keeps its proportions. need gives a control's room (TextRoomNeeded, or the dialog's own
// rule); a control whose need is 0 does not count.
struct DialogScale {
    double X;
    double Y;
};
DialogScale ScaleToFit(HWND dialog, const std::vector<std::pair<int, RECT>>& designPlaces, UINT dpi,
                       const std::function<SIZE(HWND control, HDC dc)>& need);
