// One icon in the notification area, owned by a window that receives its callback messages.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

// Identifier of the program's one icon, and the message its mouse events arrive with.
constexpr UINT TrayIconId = 100;
constexpr UINT WM_TRAYNOTIFY = WM_APP + 1;
// The record goes to the shell in its version-2 form, which every shell since 2000 accepts;
// wide, so that a tip with failed sites outside the ANSI code page shows as it is.
constexpr DWORD TrayNotifyDataSize = NOTIFYICONDATAW_V2_SIZE;

class CSimpleTray {
public:
    // How a record reaches the shell; tests put a recorder here.
    using Notifier = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

    CSimpleTray();
    explicit CSimpleTray(Notifier notifier);
    // Removes the icon if it is still shown.
    ~CSimpleTray();
    CSimpleTray(const CSimpleTray&) = delete;
    CSimpleTray& operator=(const CSimpleTray&) = delete;

    // Adds the icon with the stored icon and tip. Does nothing without an icon, or when the
    // icon is shown already and force is false (force re-adds after the task bar came back).
    void Show(HWND owner, bool force);
    // Removes the icon; it stays counted as shown when the shell refuses.
    void Hide();
    // The shell copies the image, so the caller may destroy the icon once this returns while
    // shown; otherwise it must live until Show. A null icon is ignored.
    void SetIcon(HICON newIcon);
    // Keeps the whole text; the shell gets what fits its field (see TrayTipText).
    void SetTip(const std::string& text);

    bool Shown() const { return shown != 0; }
    HICON Icon() const { return icon; }
    const std::string& Tip() const { return tip; }
    const NOTIFYICONDATAW& NotifyData() const { return notifyData; }

private:
    void CopyTip();

    int shown = 0;
    HICON icon = nullptr; // not owned
    NOTIFYICONDATAW notifyData{};
    std::string tip;
    Notifier notify;
};
