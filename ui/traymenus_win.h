// The tray side of the hidden main form: the state images, the icon in the notification
// area, the main menu on the right button and the failed-sites menu on the left button.
//
// The form owns one TTrayUi, creates it after its window exists, and lets it see every message
// first:
//
//     LRESULT FormWndProc(HWND h, UINT m, WPARAM w, LPARAM l) {
//         LRESULT result = 0;
//         if (trayUi->HandleMessage(h, m, w, l, result))
//             return result;
//         return DefWindowProcA(h, m, w, l);
//     }
//
// It reports the menu choices and the "Taskbar created" log line through its events; nothing
// here knows the check cycle, the settings or the log.
#pragma once

#include "ui/csimpletray_win.h"
#include "base/handle_win.h"
#include "base/product_win.h"

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

// Command ids of the main menu; the failed-sites menu numbers its lines from
// FailedSiteFirstId on (they have no action), its "Warnings" header is WarningsHeaderId.
enum TrayCommand : UINT {
    cmdCheckNow = 1001,
    cmdSettings = 1002,
    cmdExit = 1003,
    cmdWebsite = 1004,
    WarningsHeaderId = 1999,
    FailedSiteFirstId = 2000,
};

// The size of every glyph of the menus at 96 DPI: lines of one height, captions in one column.
constexpr int MenuGlyphSize = 16;

// The message id the shell broadcasts when it has re-created the task bar.
UINT TaskbarCreatedMessage();

using ScopedImageList = ScopedHandle<NullHandleTraits<HIMAGELIST, ::ImageList_Destroy>>;

class TTrayUi {
public:
    // Loads the pictures from the module's resources (null: the program file itself).
    explicit TTrayUi(HINSTANCE resources = nullptr,
                     CSimpleTray::Notifier notifier = CSimpleTray::Notifier());
    TTrayUi(const TTrayUi&) = delete;
    TTrayUi& operator=(const TTrayUi&) = delete;

    // Puts the icon up with the given image (the service: 0) and the current (at start: empty)
    // tip.
    void ShowIcon(HWND form, int state = 0);
    // Removes the icon (on Exit, before the settings are saved).
    void HideIcon() { tray.Hide(); }
    // The picture of a tray state (0 all up .. 3 disconnected, the service's; 4 monitor not
    // reachable, the companion's only; 5 all up with warnings; other values are ignored).
    void SetTrayIcon(int state);
    // The tip; the warned sites follow it, under "Warnings:".
    void SetTip(const std::string& text);

    // Gives a line of the main menu a picture (an icon of the resources), drawn like the
    // others at size pixels at 96 DPI and in proportion at the DPI the menu opens at. For
    // lines a program adds of its own: a line without one is laid out too narrow by some
    // shells, next to lines that have one.
    void SetGlyph(UINT id, int icon, int size);

    // The failed-sites menu, refilled by every check cycle; clearing it clears its warnings.
    void ClearFailedSites();
    // The reason, when given, stands beside the address.
    void AddFailedSite(const std::string& url, const std::string& reason = {});
    // A site that is up with a warning: a line of the menu's "Warnings" part, after the failed
    // sites, the warning beside the address; the tip names it too.
    void AddWarnedSite(const std::string& url, const std::string& reason);

    // Handles the shell's and the menus' messages for the form window. Returns true when the
    // message was consumed (result then holds the answer); "TaskbarCreated" is handled and
    // still passed on.
    bool HandleMessage(HWND form, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Menu choices. Website has a default: it opens the product's web site.
    std::function<void()> OnCheckNow;
    std::function<void()> OnSettings;
    std::function<void()> OnExit;
    std::function<void()> OnWebsite = OpenProductWebSite;
    // Log lines of the tray ("Taskbar created"); written whatever the log level.
    std::function<void(const std::string&)> OnLog;
    // How long to let a new task bar settle before the icon is added again.
    DWORD TaskbarSettleMs = 2000;

    HMENU PopupMenu1() const { return popupMenu1.Get(); }
    HMENU PopupMenu2() const { return popupMenu2.Get(); }
    HIMAGELIST ImageList1() const { return imageList1.Get(); }
    const CSimpleTray& Tray() const { return tray; }

private:
    void BuildPopupMenu1();
    void AppendSite(const std::string& url, const std::string& reason, UINT position);
    void ShowTip();
    void TrayNotify(HWND form, LPARAM mouseEvent);
    bool Command(UINT id);

    ScopedImageList imageList1;        // the state pictures, 32 x 32
    std::vector<ScopedIcon> trayIcons; // the same at the notification area's icon size
    ScopedMenu popupMenu1;
    ScopedMenu popupMenu2;
    struct Glyph {
        UINT id;
        int resource;
        int size;   // at 96 DPI
        int pixels; // at glyphDpi
        ScopedIcon icon;
    };
    const Glyph* GlyphFor(UINT id) const;
    // Loads the glyphs again when the menus are to open at another DPI.
    void UseDpi(UINT dpi);

    HINSTANCE pictures; // the module whose resources hold them
    std::string tip;    // as the program set it, before the warned sites
    std::vector<std::string> warned;
    int failedCount = 0; // the failed sites' lines come first in PopupMenu2
    UINT glyphDpi = 96;
    std::vector<Glyph> glyphs; // pictures of PopupMenu1's lines, drawn on the menu's request
    CSimpleTray tray;          // last member: its icon goes first
};
