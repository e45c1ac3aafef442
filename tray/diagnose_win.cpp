#include "tray/diagnose_win.h"

#include "base/utf_win.h"

#include <winhttp.h>

#include <cstring>

namespace {

constexpr WORD AddressId = 100;

// An in-memory dialog template: a header, then each item aligned to a DWORD.
class DialogTemplate {
public:
    DialogTemplate(const wchar_t* title, short cx, short cy, WORD items) {
        DLGTEMPLATE head{};
        head.style = DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        head.cdit = items;
        head.cx = cx;
        head.cy = cy;
        add(&head, sizeof head);
        word(0); // no menu
        word(0); // the default class
        text(title);
        word(9);
        text(L"Segoe UI");
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD kind,
              const wchar_t* caption) {
        bytes_.resize((bytes_.size() + 3) & ~std::size_t{3});
        DLGITEMTEMPLATE item{};
        item.style = style | WS_CHILD | WS_VISIBLE;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = id;
        add(&item, sizeof item);
        word(0xFFFF);
        word(kind);
        text(caption);
        word(0); // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
    void add(const void* data, std::size_t size) {
        const auto* from = static_cast<const unsigned char*>(data);
        bytes_.insert(bytes_.end(), from, from + size);
    }
    void word(WORD w) { add(&w, sizeof w); }
    void text(const wchar_t* t) { add(t, (std::wcslen(t) + 1) * sizeof(wchar_t)); }
    std::vector<unsigned char> bytes_;
};

struct Asked {
    std::wstring text;
};

INT_PTR CALLBACK askProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::SetDlgItemTextW(dialog, AddressId, reinterpret_cast<Asked*>(lParam)->text.c_str());
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        if (LOWORD(wParam) == IDOK) {
            auto* asked = reinterpret_cast<Asked*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            wchar_t typed[2048] = {};
            ::GetDlgItemTextW(dialog, AddressId, typed, 2048);
            asked->text = typed;
        }
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

std::optional<std::string> AskDiagnoseAddress(HWND owner, const std::string& initial) {
    DialogTemplate form(L"Diagnose", 260, 62, 4);
    form.Item(SS_LEFT, 7, 7, 246, 9, 0xFFFF, 0x0082,
              L"The address to probe as the service does, step by step:");
    form.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 19, 246, 13, AddressId, 0x0081, L"");
    form.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 149, 41, 50, 14, IDOK, 0x0080, L"Diagnose");
    form.Item(BS_PUSHBUTTON | WS_TABSTOP, 203, 41, 50, 14, IDCANCEL, 0x0080, L"Cancel");
    Asked asked{Widen(initial)};
    const INT_PTR chosen = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), form.Get(), owner,
                                                     askProc, reinterpret_cast<LPARAM>(&asked));
    if (chosen != IDOK)
        return std::nullopt;
    return Narrow(asked.text);
}

std::string UserProxyWords() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config))
        return "direct";
    std::string words;
    const auto add = [&words](const std::string& part) {
        words += (words.empty() ? "" : ", then ") + part;
    };
    if (config.fAutoDetect)
        add("automatic detection");
    if (config.lpszAutoConfigUrl)
        add("the PAC file " + Narrow(config.lpszAutoConfigUrl));
    if (config.lpszProxy)
        add("proxy " + Narrow(config.lpszProxy));
    for (wchar_t* text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass})
        if (text)
            ::GlobalFree(text);
    return words.empty() ? "direct" : words;
}

std::string DiagnosisText(const std::string& url, const std::vector<std::string>& lines,
                          const std::string& userProxy) {
    std::string text = "The service's way to " + url + ":\r\n";
    std::string route;
    for (const std::string& line : lines) {
        text += "\r\n" + line;
        if (line.rfind("route: ", 0) == 0)
            route = line.substr(7);
    }
    if (route != userProxy)
        text += "\r\n\r\nYour own proxy settings, which the service does not use: " + userProxy;
    return text;
}
