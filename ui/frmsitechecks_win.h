// The checks of one site: a small properties dialog over the settings dialog, one field per
// option. The settings dialog opens it for the selected row ("Checks...", a double-click, Enter
// on the row) and takes its value back when it closes with OK:
//
//     checks = std::make_unique<TFormSiteChecks>(Handle(), dpi, url, storedText, certDays);
//     checks->OnClose = [this] { ... checks->ModalResult(), checks->Checks() ... };
//     checks->Show();
//
// It runs in the settings dialog's loop, which hands it its keyboard messages (PreTranslate),
// so no second loop waits inside the first.
#pragma once

#include "base/handle_win.h"
#include "ui/sitechecksform.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

enum SiteChecksControl : int {
    idStatusesLabel = 300,
    idStatuses,
    idRedirectsLabel,
    idRedirects,
    idRedirectsArrows,
    idContainsLabel,
    idContains,
    idLacksLabel,
    idLacks,
    idStay,
    idCertDaysLabel,
    idCertDays,
    idCertDaysHint,
    idSlowLabel,
    idSlow,
    idChecksProblem, // what does not read, in words
    idChecksOk = IDOK,
    idChecksCancel = IDCANCEL,
};

class TFormSiteChecks {
public:
    // Built hidden over owner, laid out for dpi (the owner's), showing the stored value of url;
    // generalCertDays is what an empty certificate field stands for.
    TFormSiteChecks(HWND owner, UINT dpi, const std::string& url, const std::string& stored,
                    int generalCertDays);
    ~TFormSiteChecks();
    TFormSiteChecks(const TFormSiteChecks&) = delete;
    TFormSiteChecks& operator=(const TFormSiteChecks&) = delete;

    void Show();
    // Enter is OK (or the focused button), Esc is Cancel; Tab and the mnemonics as in any
    // dialog. True when the message was used.
    bool PreTranslate(MSG& msg);
    // 0 while open; IDOK or IDCANCEL once closed.
    int ModalResult() const { return modalResult; }
    // After OK: the value to store for the site.
    const std::string& Checks() const { return checks; }
    // Called once when OK or Cancel has closed the dialog; the owner destroys it afterwards,
    // outside the dialog's own messages.
    std::function<void()> OnClose;

    HWND Handle() const { return handle.Get(); }
    HWND Control(int id) const { return ::GetDlgItem(handle.Get(), id); }

private:
    static LRESULT CALLBACK WndProc(HWND h, UINT m, WPARAM w, LPARAM l);
    LRESULT Dispatch(HWND h, UINT m, WPARAM w, LPARAM l);
    void CreateControls();
    void Add(const char* cls, const char* text, DWORD style, int x, int y, int w, int h, int id,
             DWORD exStyle = 0);
    void Layout(UINT newDpi, const RECT* suggested);
    void Fill(const SiteCheckFields& fields);
    SiteCheckFields Fields() const;
    std::string Text(int id) const;
    void SetText(int id, const std::string& text);
    void OkClick();
    void Close(int result);

    std::string stored;
    SiteCheckFields shown; // the fields as opened, to tell whether the user changed any
    std::string checks;
    int modalResult = 0;
    HWND owner;
    ScopedWindow handle;
    ScopedGdiObject font;
    std::vector<std::pair<int, RECT>> designPlaces;
    UINT dpi = 96;
};
