#include "ui/frmsettings_win.h"

#include "base/exception.h"
#include "ui/frmsettingsrules.h"
#include "ui/res/resource.h"

#include <commctrl.h>

#include <vector>

TFormSettings* FormSettings = nullptr;

namespace {

const char* const ClassName = "VigrelSettingsDialog";
constexpr int ClientWidth = 402;
constexpr int ClientHeight = 270;

const int UrlPage[] = {idStaticText1, idPanel1, idEdtBenchURL, idListView1, idBitBtn1,
                       idBitBtn5,     idPanel2, idEdit1,       idBitBtn2};
const int GeneralPage[] = {
    idGroupGeneral, idCheckBox2, idGroupSchedule, idCheckBox1, idCSpinEdit1, idUpDown1,
    idStaticText3,  idLabel4,    idCSpinEdit2,    idUpDown2,   idLabel5,     idRadioGroup1,
    idRadioAll,     idRadioWeb,  idRadioFailure,  idGroupMail, idCheckBox3,  idEdit4,
    idLabel3,       idEdit6,     idLabel1,        idEdit2,     idLabel2,     idEdit3,
    idCheckBox4,    idEdit5,     idEdit7};
// Fields that "Send Mails To ...." switches on and off.
const int MailFields[] = {idEdit4, idEdit6, idEdit2, idEdit3, idEdit5, idEdit7, idCheckBox4};

const SpinLimits& LimitsOf(int edit) {
    return edit == idCSpinEdit1 ? IntervalLimits : TimeOutLimits;
}

// Inserts a row with the URL at index; returns where it went.
int InsertRow(HWND list, int index, const std::string& url) {
    LVITEMA row{};
    row.mask = LVIF_TEXT;
    row.iItem = index;
    row.pszText = const_cast<char*>(url.c_str());
    return static_cast<int>(
        ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
}

void RegisterClassOnce(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSA wc{};
    if (::GetClassInfoA(instance, ClassName, &wc))
        return;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = ClassName;
    ::RegisterClassA(&wc);
}

} // namespace

TFormSettings::TFormSettings(HWND ownerWindow, CUserSettings& record)
    : settings(record), owner(ownerWindow) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    RegisterClassOnce(instance, WndProc);

    RECT r{0, 0, ClientWidth, ClientHeight};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
    ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    RECT desk{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &desk, 0);
    const int x = desk.left + (desk.right - desk.left - w) / 2;
    const int y = desk.top + (desk.bottom - desk.top - h) / 2;
    handle = ::CreateWindowExA(exStyle, ClassName, "Settings", style, x, y, w, h, owner, nullptr,
                               instance, this);
    if (!handle)
        throw Exception("Cannot create the settings dialog");
    CreateControls();
}

TFormSettings::~TFormSettings() {
    if (FormSettings == this)
        FormSettings = nullptr;
    if (handle) {
        ::SetWindowLongPtrA(handle, GWLP_USERDATA, 0);
        ::DestroyWindow(handle);
    }
}

HWND TFormSettings::Add(const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
                        int id, DWORD exStyle) {
    HWND control = ::CreateWindowExA(exStyle, cls, text, WS_CHILD | style, x, y, w, h, handle,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     ::GetModuleHandleA(nullptr), nullptr);
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    return control;
}

void TFormSettings::AddTip(int id, const char* text) {
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = handle;
    ti.uId = reinterpret_cast<UINT_PTR>(Control(id));
    ti.lpszText = const_cast<char*>(text);
    ::SendMessageA(tooltip.Get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void TFormSettings::CreateControls() {
    NONCLIENTMETRICSA ncm{};
    ncm.cbSize = sizeof(ncm);
    ::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
    font.Reset(::CreateFontIndirectA(&ncm.lfMessageFont));
    LOGFONTA lf = ncm.lfMessageFont;
    lf.lfUnderline = TRUE;
    linkFont.Reset(::CreateFontIndirectA(&lf));

    const DWORD tab = WS_TABSTOP;
    const DWORD edit = WS_BORDER | ES_AUTOHSCROLL | tab;
    // Controls are siblings of the tab control, not its children, so that Tab moves through
    // them; the tab control lies beneath them and clips them out of its painting.
    HWND tabs = Add(WC_TABCONTROLA, "", WS_VISIBLE | WS_CLIPSIBLINGS | tab, 4, 4, 394, 226, idTabs);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>("URL's");
    ::SendMessageA(tabs, TCM_INSERTITEMA, tabURLs, reinterpret_cast<LPARAM>(&item));
    item.pszText = const_cast<char*>("General");
    ::SendMessageA(tabs, TCM_INSERTITEMA, tabGeneral, reinterpret_cast<LPARAM>(&item));

    // "URL's"
    Add("STATIC", "Benchmark URL", 0, 12, 38, 86, 16, idStaticText1);
    Add("STATIC", "http://", SS_CENTERIMAGE, 100, 34, 38, 21, idPanel1, WS_EX_STATICEDGE);
    Add("EDIT", "", edit, 138, 34, 252, 21, idEdtBenchURL);
    HWND list =
        Add(WC_LISTVIEWA, "",
            LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER | tab, 12,
            62, 306, 122, idListView1);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = 250;
    col.pszText = const_cast<char*>("URL");
    ::SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));
    col.cx = 50;
    col.pszText = const_cast<char*>("Status");
    ::SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&col));
    Add("BUTTON", "", BS_OWNERDRAW | WS_DISABLED | tab, 326, 62, 30, 28, idBitBtn1);
    Add("BUTTON", "Go", BS_OWNERDRAW | tab, 326, 96, 64, 88, idBitBtn5);
    Add("STATIC", "http://", SS_CENTERIMAGE, 12, 196, 38, 21, idPanel2, WS_EX_STATICEDGE);
    Add("EDIT", "", edit, 50, 196, 268, 21, idEdit1);
    Add("BUTTON", "", BS_OWNERDRAW | tab, 326, 192, 30, 28, idBitBtn2);

    // "General"
    Add("BUTTON", "General", BS_GROUPBOX | WS_CLIPSIBLINGS, 12, 30, 140, 72, idGroupGeneral);
    Add("BUTTON", "Start with Windows", BS_AUTOCHECKBOX | tab, 20, 56, 128, 18, idCheckBox2);
    Add("BUTTON", "Schedule", BS_GROUPBOX | WS_CLIPSIBLINGS, 158, 30, 232, 72, idGroupSchedule);
    Add("BUTTON", "Check URL's at every", BS_AUTOCHECKBOX | tab, 166, 48, 128, 18, idCheckBox1);
    Add("EDIT", "", edit, 296, 46, 50, 21, idCSpinEdit1);
    const DWORD updown = UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idUpDown1);
    Add("STATIC", "minutes", 0, 350, 49, 38, 16, idStaticText3);
    Add("STATIC", "Timeout", 0, 184, 76, 60, 16, idLabel4);
    Add("EDIT", "", edit, 296, 73, 50, 21, idCSpinEdit2);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idUpDown2);
    Add("STATIC", "ms", 0, 350, 76, 30, 16, idLabel5);
    for (int id : {idUpDown1, idUpDown2}) {
        const int buddy = id == idUpDown1 ? idCSpinEdit1 : idCSpinEdit2;
        ::SendMessageA(Control(id), UDM_SETBUDDY, reinterpret_cast<WPARAM>(Control(buddy)), 0);
        ::SendMessageA(Control(id), UDM_SETRANGE32, static_cast<WPARAM>(LimitsOf(buddy).min),
                       LimitsOf(buddy).max);
    }
    Add("BUTTON", "Log", BS_GROUPBOX | WS_CLIPSIBLINGS, 12, 104, 378, 40, idRadioGroup1);
    Add("BUTTON", "All Events", BS_AUTORADIOBUTTON | WS_GROUP | tab, 20, 120, 110, 18, idRadioAll);
    Add("BUTTON", "Web Events", BS_AUTORADIOBUTTON, 146, 120, 110, 18, idRadioWeb);
    Add("BUTTON", "Only Failure", BS_AUTORADIOBUTTON, 272, 120, 110, 18, idRadioFailure);
    Add("BUTTON", "Mails To ...", BS_GROUPBOX | WS_CLIPSIBLINGS | WS_GROUP, 12, 146, 378, 80,
        idGroupMail);
    Add("BUTTON", "Send Mails To ....", BS_AUTOCHECKBOX | tab, 20, 162, 112, 18, idCheckBox3);
    Add("EDIT", "", edit, 136, 160, 246, 20, idEdit4);
    Add("STATIC", "From", 0, 20, 184, 30, 16, idLabel3);
    Add("EDIT", "", edit, 52, 182, 150, 20, idEdit6);
    Add("STATIC", "using server", 0, 208, 184, 62, 16, idLabel1);
    Add("EDIT", "", edit, 272, 182, 110, 20, idEdit2);
    Add("STATIC", "port", 0, 20, 206, 30, 16, idLabel2);
    Add("EDIT", "", edit, 52, 204, 44, 20, idEdit3);
    Add("BUTTON", "Authentication", BS_AUTOCHECKBOX | tab, 104, 205, 92, 18, idCheckBox4);
    Add("EDIT", "", edit, 200, 204, 88, 20, idEdit5);
    // The password is shown as typed: the file holds it in clear text anyway.
    Add("EDIT", "", edit, 294, 204, 88, 20, idEdit7);

    // Below the tabs.
    Add("STATIC", "Pelorin", SS_NOTIFY | WS_VISIBLE, 12, 242, 60, 16, idStaticText2);
    ::SendMessageA(Control(idStaticText2), WM_SETFONT, reinterpret_cast<WPARAM>(linkFont.Get()), 0);
    Add("BUTTON", "&Cancel", BS_OWNERDRAW | WS_VISIBLE | tab, 236, 236, 78, 28, idBitBtn4);
    Add("BUTTON", "&OK", BS_OWNERDRAW | WS_VISIBLE | tab, 320, 236, 78, 28, idBitBtn3);
    ::SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    tooltip.Reset(::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                    WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, handle, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr));
    AddTip(idBitBtn1, "Delete URL from List");
    AddTip(idBitBtn2, "Add URL to list");
    AddTip(idEdit5, "User");
    AddTip(idEdit7, "Password");

    ShowPage(tabURLs);
}

int TFormSettings::ActiveTab() const {
    return static_cast<int>(::SendMessageA(Control(idTabs), TCM_GETCURSEL, 0, 0));
}

void TFormSettings::SelectTab(int tab) {
    ::SendMessageA(Control(idTabs), TCM_SETCURSEL, tab, 0);
    ShowPage(tab);
}

void TFormSettings::ShowPage(int tab) {
    for (int id : UrlPage)
        ::ShowWindow(Control(id), tab == tabURLs ? SW_SHOW : SW_HIDE);
    for (int id : GeneralPage)
        ::ShowWindow(Control(id), tab == tabGeneral ? SW_SHOW : SW_HIDE);
}

// ---- reading and writing controls --------------------------------------------------------

std::string TFormSettings::Text(int id) const {
    HWND c = Control(id);
    std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(c)) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(::GetWindowTextA(c, text.data(), static_cast<int>(text.size()))));
    return text;
}

void TFormSettings::SetText(int id, const std::string& text) {
    ::SetWindowTextA(Control(id), text.c_str());
}

bool TFormSettings::Checked(int id) const {
    return ::SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TFormSettings::SetChecked(int id, bool on) {
    ::SendMessageA(Control(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TFormSettings::Enable(int id, bool on) {
    ::EnableWindow(Control(id), on);
}

// ---- the record and the controls ---------------------------------------------------------

void TFormSettings::FillFromSettings() {
    SetText(idEdtBenchURL, settings.Benchmark);

    HWND list = Control(idListView1);
    ListView_DeleteAllItems(list);
    for (int i = 0; i < settings.UrlCount(); ++i) {
        const int at = InsertRow(list, i, settings.Url(i));
        ListView_SetItemText(list, at, 1, const_cast<char*>(StatusText(settings.UrlStatus(i))));
    }
    ListView1SelectItem();

    SetText(idCSpinEdit1, std::to_string(Clamp(settings.TimeSpan, IntervalLimits)));
    SetText(idCSpinEdit2, std::to_string(Clamp(settings.TimeOut, TimeOutLimits)));
    SetChecked(idCheckBox1, settings.TimeSpan != 0);
    CheckBox1Click();
    SetChecked(idCheckBox2, settings.StartOnStartup);

    const int choice = LogChoiceFor(settings.Filter);
    SetChecked(idRadioAll, choice == 0);
    SetChecked(idRadioWeb, choice == 1);
    SetChecked(idRadioFailure, choice == 2);

    SetChecked(idCheckBox3, settings.Active);
    CheckBox3Click();
    SetText(idEdit4, settings.To);
    SetText(idEdit6, settings.From);
    SetText(idEdit2, settings.Server);
    SetText(idEdit3, std::to_string(settings.Port));
    // After the mail box: "Authentication" has the last word on the user and password.
    SetChecked(idCheckBox4, !settings.UserID.empty());
    CheckBox4Click();
    SetText(idEdit5, settings.UserID);
    SetText(idEdit7, settings.Pass);
}

void TFormSettings::CommitRows() {
    HWND list = Control(idListView1);
    const int count = ListView_GetItemCount(list);
    settings.URLList.Clear();
    for (int i = 0; i < count; ++i) {
        char text[2048] = {};
        ListView_GetItemText(list, i, 0, text, sizeof(text));
        settings.AddUrl(text);
    }
}

bool TFormSettings::StoreToSettings() {
    const std::optional<std::int32_t> port = WholeNumber(Text(idEdit3));
    if (!port) {
        if (ActiveTab() != tabGeneral)
            SelectTab(tabGeneral);
        FocusPort();
        return false;
    }
    settings.Benchmark = Text(idEdtBenchURL);
    CommitRows();
    settings.TimeSpan = Checked(idCheckBox1) ? SpinValue(Text(idCSpinEdit1), IntervalLimits) : 0;
    settings.TimeOut = SpinValue(Text(idCSpinEdit2), TimeOutLimits);
    settings.StartOnStartup = Checked(idCheckBox2);
    settings.Filter = Checked(idRadioAll)       ? 0
                      : Checked(idRadioWeb)     ? 1
                      : Checked(idRadioFailure) ? 2
                                                : -1;
    settings.Active = Checked(idCheckBox3);
    settings.To = Text(idEdit4);
    settings.From = Text(idEdit6);
    settings.Server = Text(idEdit2);
    settings.Port = *port;
    const bool authentication = Checked(idCheckBox4);
    settings.UserID = authentication ? Text(idEdit5) : std::string();
    settings.Pass = authentication ? Text(idEdit7) : std::string();
    settings.Save();
    return true;
}

// ---- event handlers ----------------------------------------------------------------------

void TFormSettings::FormShow() {
    FillFromSettings();
}

void TFormSettings::BitBtn3Click() {
    try {
        if (StoreToSettings())
            modalResult = IDOK;
    } catch (const Exception& e) {
        // The dialog stays open, so the user can try again or cancel.
        if (OnError)
            OnError(e.Message());
        else
            ::MessageBoxA(handle, e.Message().c_str(), "Settings", MB_OK | MB_ICONERROR);
    }
}

void TFormSettings::BitBtn2Click() {
    const std::string url = NewUrlFromText(Text(idEdit1));
    if (url.empty())
        return;
    HWND list = Control(idListView1);
    InsertRow(list, ListView_GetItemCount(list), url);
    SetText(idEdit1, "");
}

void TFormSettings::BitBtn1Click() {
    HWND list = Control(idListView1);
    const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (selected >= 0)
        ListView_DeleteItem(list, selected);
    ListView1SelectItem();
}

void TFormSettings::ListView1SelectItem() {
    const bool any = ListView_GetNextItem(Control(idListView1), -1, LVNI_SELECTED) >= 0;
    Enable(idBitBtn1, any);
}

void TFormSettings::BitBtn5Click() {
    CommitRows();
    if (OnGo)
        OnGo();
}

void TFormSettings::CheckBox1Click() {
    Enable(idCSpinEdit1, Checked(idCheckBox1));
    Enable(idUpDown1, Checked(idCheckBox1));
}

void TFormSettings::CheckBox3Click() {
    for (int id : MailFields)
        Enable(id, Checked(idCheckBox3));
}

void TFormSettings::CheckBox4Click() {
    Enable(idEdit5, Checked(idCheckBox4));
    Enable(idEdit7, Checked(idCheckBox4));
}

void TFormSettings::Edit3Exit(HWND newFocus) {
    if (WholeNumber(Text(idEdit3)))
        return;
    // Keep the user at the field, but not when leaving the dialog or cancelling it.
    if (!newFocus || ::GetParent(newFocus) != handle || newFocus == Control(idBitBtn4))
        return;
    FocusPort();
}

void TFormSettings::FocusPort() {
    ::SetFocus(Control(idEdit3));
    ::SendMessageA(Control(idEdit3), EM_SETSEL, 0, -1);
}

void TFormSettings::StaticText2Click() {
    if (OnLink)
        OnLink();
}

void TFormSettings::SpinExit(int edit) {
    const std::string shown = std::to_string(SpinValue(Text(edit), LimitsOf(edit)));
    if (Text(edit) != shown)
        SetText(edit, shown);
}

void TFormSettings::SpinStep(int edit, int delta) {
    const SpinLimits& limits = LimitsOf(edit);
    const std::int64_t value =
        std::int64_t{SpinValue(Text(edit), limits)} + std::int64_t{delta} * limits.step;
    SetText(edit, std::to_string(Clamp(value, limits)));
}

// ---- showing -----------------------------------------------------------------------------

void TFormSettings::Show() {
    modalResult = 0;
    SelectTab(tabURLs);
    FormShow();
    ::ShowWindow(handle, SW_SHOW);
    ::SetForegroundWindow(handle);
    ::SetFocus(Control(idEdtBenchURL));
}

int TFormSettings::ShowModal() {
    const bool ownerWasEnabled = owner && ::IsWindowEnabled(owner);
    if (ownerWasEnabled)
        ::EnableWindow(owner, FALSE);
    Show();
    MSG msg;
    while (modalResult == 0) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // WM_QUIT belongs to the program's own loop: leave it there.
            if (got == 0)
                ::PostQuitMessage(static_cast<int>(msg.wParam));
            modalResult = IDCANCEL;
            break;
        }
        if (!PreTranslate(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    // The owner comes back first, or the system would activate some other window.
    if (ownerWasEnabled)
        ::EnableWindow(owner, TRUE);
    ::ShowWindow(handle, SW_HIDE);
    return modalResult;
}

bool TFormSettings::PreTranslate(MSG& msg) {
    if (!handle || (msg.hwnd != handle && !::IsChild(handle, msg.hwnd)))
        return false;
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
        const bool urlPage = ActiveTab() == tabURLs;
        HWND focus = ::GetFocus();
        char cls[16] = {};
        ::GetClassNameA(focus, cls, sizeof(cls));
        const bool onButton = lstrcmpiA(cls, "Button") == 0 &&
                              (::GetWindowLongA(focus, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
        if (msg.wParam == VK_RETURN) {
            if (onButton)
                ::SendMessageA(focus, BM_CLICK, 0, 0);
            else if (urlPage)
                BitBtn2Click();
        } else if (urlPage && ::IsWindowEnabled(Control(idBitBtn1))) {
            BitBtn1Click();
        }
        return true;
    }
    if (msg.message == WM_CHAR && (msg.wParam == '\r' || msg.wParam == 27))
        return true; // handled on key down; no beep from the edit field
    return ::IsDialogMessageA(handle, &msg) != FALSE;
}

// ---- window procedure --------------------------------------------------------------------

LRESULT CALLBACK TFormSettings::WndProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(l);
        ::SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        reinterpret_cast<TFormSettings*>(cs->lpCreateParams)->handle = h;
    }
    auto* self = reinterpret_cast<TFormSettings*>(::GetWindowLongPtrA(h, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcA(h, m, w, l);
    return self->Dispatch(m, w, l);
}

LRESULT TFormSettings::Dispatch(UINT m, WPARAM w, LPARAM l) {
    switch (m) {
    case WM_CLOSE:
        modalResult = IDCANCEL;
        return 0;
    case WM_COMMAND: {
        const int id = LOWORD(w);
        const int code = HIWORD(w);
        if (code == BN_CLICKED) {
            switch (id) {
            case idBitBtn3:
                BitBtn3Click();
                break;
            case idBitBtn4:
                modalResult = IDCANCEL;
                break;
            case idBitBtn2:
                BitBtn2Click();
                break;
            case idBitBtn1:
                BitBtn1Click();
                break;
            case idBitBtn5:
                BitBtn5Click();
                break;
            case idCheckBox1:
                CheckBox1Click();
                break;
            case idCheckBox3:
                CheckBox3Click();
                break;
            case idCheckBox4:
                CheckBox4Click();
                break;
            default:
                break;
            }
        } else if (code == EN_KILLFOCUS) {
            if (id == idEdit3)
                Edit3Exit(::GetFocus());
            else if (id == idCSpinEdit1 || id == idCSpinEdit2)
                SpinExit(id);
        } else if (code == STN_CLICKED && id == idStaticText2) {
            StaticText2Click();
        }
        return 0;
    }
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(l);
        if (hdr->idFrom == idTabs && hdr->code == TCN_SELCHANGE) {
            ShowPage(ActiveTab());
        } else if (hdr->idFrom == idListView1 && hdr->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(l);
            if ((change->uChanged & LVIF_STATE) &&
                ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
                ListView1SelectItem();
        } else if ((hdr->idFrom == idUpDown1 || hdr->idFrom == idUpDown2) &&
                   hdr->code == UDN_DELTAPOS) {
            const auto* step = reinterpret_cast<const NMUPDOWN*>(l);
            SpinStep(hdr->idFrom == idUpDown1 ? idCSpinEdit1 : idCSpinEdit2, step->iDelta);
            return TRUE; // the field holds the value, not the arrows
        } else if (hdr->code == HDN_BEGINTRACKA || hdr->code == HDN_BEGINTRACKW ||
                   hdr->code == HDN_DIVIDERDBLCLICKA || hdr->code == HDN_DIVIDERDBLCLICKW) {
            return TRUE; // the list's columns have fixed widths
        }
        return 0;
    }
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(l) == Control(idStaticText2)) {
            HDC dc = reinterpret_cast<HDC>(w);
            ::SetTextColor(dc, RGB(0, 0, 255));
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(w) == Control(idStaticText2)) {
            ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649))); // IDC_HAND
            return TRUE;
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcA(handle, m, w, l);
}

void TFormSettings::DrawButton(const DRAWITEMSTRUCT& di) {
    int iconId = 0;
    switch (di.CtlID) {
    case idBitBtn1:
        iconId = IDI_BUTTON_DELETE;
        break;
    case idBitBtn2:
        iconId = IDI_BUTTON_ADD;
        break;
    case idBitBtn5:
        iconId = IDI_BUTTON_GO;
        break;
    case idBitBtn3:
        iconId = IDI_BUTTON_OK;
        break;
    case idBitBtn4:
        iconId = IDI_BUTTON_CANCEL;
        break;
    default:
        return;
    }
    RECT r = di.rcItem;
    const bool pushed = di.itemState & ODS_SELECTED;
    const bool disabled = di.itemState & ODS_DISABLED;
    ::DrawFrameControl(di.hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    if (pushed)
        ::OffsetRect(&r, 1, 1);

    char text[32] = {};
    ::GetWindowTextA(di.hwndItem, text, sizeof(text));
    HICON icon = static_cast<HICON>(::LoadImageA(
        ::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId), IMAGE_ICON, 16, 16, LR_SHARED));
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const bool tall = h > w && text[0];
    SIZE extent{};
    HGDIOBJ oldFont = ::SelectObject(di.hDC, font.Get());
    ::GetTextExtentPoint32A(di.hDC, text, lstrlenA(text), &extent);
    int ix = r.left + (w - 16) / 2;
    int iy = r.top + (h - 16) / 2;
    RECT textRect = r;
    if (text[0] && tall) { // icon above the caption
        iy = r.top + (h - 16 - 4 - extent.cy) / 2;
        textRect.top = iy + 20;
        textRect.bottom = textRect.top + extent.cy;
    } else if (text[0]) { // icon before the caption
        ix = r.left + (w - 16 - 4 - extent.cx) / 2;
        textRect.left = ix + 20;
    }
    if (icon)
        ::DrawStateA(di.hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, ix, iy, 16, 16,
                     DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    if (text[0]) {
        ::SetBkMode(di.hDC, TRANSPARENT);
        ::SetTextColor(di.hDC, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        ::DrawTextA(di.hDC, text, -1, &textRect,
                    (tall ? DT_CENTER : DT_LEFT) | DT_VCENTER | DT_SINGLELINE);
    }
    ::SelectObject(di.hDC, oldFont);
    if (di.itemState & ODS_FOCUS) {
        RECT f = di.rcItem;
        ::InflateRect(&f, -4, -4);
        ::DrawFocusRect(di.hDC, &f);
    }
}
