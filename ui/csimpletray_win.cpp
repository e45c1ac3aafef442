#include "ui/csimpletray_win.h"

#include "base/utf_win.h"
#include "ui/traytip.h"

#include <algorithm>
#include <cwchar>

static_assert(sizeof(NOTIFYICONDATAW) >= TrayNotifyDataSize, "record smaller than what is sent");

CSimpleTray::CSimpleTray() : CSimpleTray(Notifier(::Shell_NotifyIconW)) {}

CSimpleTray::CSimpleTray(Notifier notifier) : notify(std::move(notifier)) {}

CSimpleTray::~CSimpleTray() {
    Hide();
}

void CSimpleTray::CopyTip() {
    const std::wstring text = Widen(TrayTipText(tip));
    // TrayTipText keeps within the field; the bound here guards the field whatever it returns.
    const std::size_t field = sizeof(notifyData.szTip) / sizeof(notifyData.szTip[0]);
    const std::size_t n = std::min(text.size(), field - 1);
    std::wmemcpy(notifyData.szTip, text.data(), n);
    std::wmemset(notifyData.szTip + n, 0, field - n);
}

void CSimpleTray::Show(HWND owner, bool force) {
    if (!icon || (!force && shown == 1))
        return;
    notifyData.cbSize = TrayNotifyDataSize;
    notifyData.hWnd = owner;
    notifyData.uID = TrayIconId;
    notifyData.uCallbackMessage = WM_TRAYNOTIFY;
    CopyTip();
    notifyData.hIcon = icon;
    notifyData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    shown = notify(NIM_ADD, &notifyData) ? 1 : 0;
}

void CSimpleTray::Hide() {
    if (shown != 1)
        return;
    notifyData.uFlags = 0;
    if (notify(NIM_DELETE, &notifyData))
        shown = 0;
}

void CSimpleTray::SetIcon(HICON newIcon) {
    if (!newIcon)
        return;
    icon = newIcon;
    if (shown != 1)
        return;
    notifyData.hIcon = icon;
    notifyData.uFlags = NIF_ICON;
    notify(NIM_MODIFY, &notifyData);
}

void CSimpleTray::SetTip(const std::string& text) {
    tip = text;
    if (shown != 1)
        return;
    CopyTip();
    notifyData.uFlags = NIF_TIP;
    notify(NIM_MODIFY, &notifyData);
}
