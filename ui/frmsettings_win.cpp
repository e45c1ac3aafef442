#include "ui/frmsettings_win.h"

#include "base/exception.h"
#include "base/utf_win.h"
#include "base/product.h"
#include "base/window_win.h"
#include "settings/inivalues.h"
#include "settings/policy.h"
#include "ui/dpi_win.h"
#include "ui/frmsettingsrules.h"
#include "ui/res/resource.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <cmath>
#include <vector>

TFormSettings* FormSettings = nullptr;

namespace {

const std::string ClassName = std::string(ProductName) + "SettingsDialog";
// The client area and every place below are given for 96 DPI and the font they were drawn
// with; Layout scales them to the monitor and grows them where a text needs more room.
constexpr int ClientWidth = 402;
constexpr int ClientHeight = 350;
constexpr DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD DialogExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
// The URL, its checks as written in the settings file, its status.
constexpr int ListColumnWidths[] = {136, 100, 50};
enum ListColumn : int { colUrl = 0, colChecks = 1, colStatus = 2 };
// A channel's name, kind and address as shown.
constexpr int ChannelColumnWidths[] = {76, 46, 156};
// Posted to the dialog when the checks dialog has closed: it is destroyed outside its own
// messages.
constexpr UINT WM_CHECKSCLOSED = WM_APP + 1;

const int UrlPage[] = {idBenchmarkLabel, idBenchmarkPrefix, idBenchmarkUrl, idUrlList,
                       idDeleteUrl,      idEditChecks,      idGo,           idNewUrlPrefix,
                       idNewUrl,         idAddUrl};
const int GeneralPage[] = {
    idGroupGeneral,   idStartWithWindows, idGroupSchedule, idScheduleChecks, idInterval,
    idIntervalArrows, idMinutesLabel,     idTimeOutLabel,  idTimeOut,        idTimeOutArrows,
    idMsLabel,        idParallelLabel,    idParallel,      idParallelArrows, idRetriesLabel,
    idRetries,        idRetriesArrows,    idLogGroup,      idRadioAll,       idRadioWeb,
    idRadioFailure,   idGroupMail,        idSendMails,     idMailTo,         idMailFromLabel,
    idMailFrom,       idServerLabel,      idServer,        idPortLabel,      idPort,
    idSecurity,       idAuthentication,   idUser,          idPassword,       idNotify};
const int AlertsPage[] = {
    idChannelList,     idAddChannel,          idRemoveChannel,   idChannelNameLabel,
    idChannelName,     idChannelKindLabel,    idChannelKind,     idChannelSecretLabel,
    idChannelSecret,   idChannelAddressLabel, idChannelAddress,  idTestChannel,
    idTestOutcome,     idUpAfterLabel,        idUpAfter,         idUpAfterArrows,
    idUpAfterUnit,     idRemindLabel,         idRemind,          idRemindArrows,
    idRemindUnit,      idMaintenanceLabel,    idMaintenanceList, idRemoveMaintenance,
    idMaintenanceLine, idAddMaintenance,      idMaintenanceHint};
const int GroupBoxes[] = {idGroupGeneral, idGroupSchedule, idLogGroup, idGroupMail};
// Fields where Enter adds the channel they describe.
const int ChannelFieldIds[] = {idChannelName, idChannelAddress, idChannelSecret};
const WebhookKind ChannelKinds[] = {WebhookKind::Teams, WebhookKind::Slack, WebhookKind::Ntfy,
                                    WebhookKind::Json};
const char* const MaintenanceSyntax =
    "Like: Sat 22:00-Sun 02:00 = https://shop.example/ (no sites: all)";
// Fields that "Send Mails To ...." switches on and off.
const int MailFields[] = {idMailTo, idMailFrom, idServer,         idPort,  idSecurity,
                          idUser,   idPassword, idAuthentication, idNotify};
// Items of the security choice, in the order of their values.
const char* const SecurityChoices[] = {"None", "STARTTLS", "TLS"};

// The controls that edit what group policy may set, by the name CUserSettings::Enforced has for
// it; a control not named here edits nothing policy sets.
const std::vector<std::pair<std::string, std::vector<int>>>& PolicyControls() {
    static const std::vector<std::pair<std::string, std::vector<int>>> controls = {
        {"benchmark", {idBenchmarkUrl}},
        {"timespan", {idScheduleChecks, idInterval, idIntervalArrows}},
        {"timeout", {idTimeOut, idTimeOutArrows}},
        {"parallel", {idParallel, idParallelArrows}},
        {"retries", {idRetries, idRetriesArrows}},
        {"active", {idSendMails}},
        {"to", {idMailTo}},
        {"from", {idMailFrom}},
        {"server", {idServer}},
        {"port", {idPort}},
        {"security", {idSecurity}},
        {"notify", {idNotify}},
        {"upafter", {idUpAfter, idUpAfterArrows}},
        {"remind", {idRemind, idRemindArrows}},
        {EnforcedUrls, {idNewUrl, idAddUrl, idDeleteUrl, idEditChecks}},
        {EnforcedWebhooks,
         {idChannelName, idChannelKind, idChannelAddress, idChannelSecret, idAddChannel,
          idRemoveChannel}},
    };
    return controls;
}
const char* const LockedTip = "Set by your administrator";
// The tips of locked controls are the dialog's tools with ids of their own, apart from the
// controls' handles.
constexpr UINT_PTR LockedTipBase = 0x10000;

// The number fields with arrows: the field, its arrows and the values it offers.
struct SpinField {
    int edit;
    int arrows;
    const SpinLimits& limits;
};
const SpinField SpinFields[] = {
    {idInterval, idIntervalArrows, IntervalLimits}, {idTimeOut, idTimeOutArrows, TimeOutLimits},
    {idParallel, idParallelArrows, ParallelLimits}, {idRetries, idRetriesArrows, RetriesLimits},
    {idUpAfter, idUpAfterArrows, UpAfterLimits},    {idRemind, idRemindArrows, RemindLimits}};

// The spin field whose field or arrows have this id; null for any other control.
const SpinField* SpinFieldOf(int id) {
    for (const SpinField& field : SpinFields)
        if (field.edit == id || field.arrows == id)
            return &field;
    return nullptr;
}

const SpinLimits& LimitsOf(int edit) {
    return SpinFieldOf(edit)->limits;
}

void SetCell(HWND list, int index, int column, const std::string& value) {
    std::wstring text = Widen(value);
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = text.data();
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&cell));
}

// Inserts a row with the URL and its checks at index; returns where it went. Texts go in and
// out of the list in UTF-16, so that one outside the ANSI code page comes back as it went in.
int InsertRow(HWND list, int index, const std::string& url, const std::string& checks) {
    std::wstring text = Widen(url);
    LVITEMW row{};
    row.mask = LVIF_TEXT;
    row.iItem = index;
    row.pszText = text.data();
    const int at =
        static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
    if (at >= 0)
        SetCell(list, at, colChecks, checks);
    return at;
}

// The text of a cell, whole: the buffer grows until the text leaves room in it, so that a long
// hand-written value is never stored back cut.
std::string Cell(HWND list, int index, int column) {
    std::wstring text(512, L'\0');
    for (;;) {
        LVITEMW cell{};
        cell.iSubItem = column;
        cell.pszText = text.data();
        cell.cchTextMax = static_cast<int>(text.size());
        const auto length = static_cast<std::size_t>(::SendMessageW(
            list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&cell)));
        if (length + 1 < text.size() || text.size() >= (1u << 20))
            return Narrow(std::wstring_view(text.data(), std::min(length, text.size())));
        text.assign(text.size() * 4, L'\0');
    }
}

std::string RowUrl(HWND list, int index) {
    return Cell(list, index, colUrl);
}

// The colour a window paints at the middle of its client area, into a memory picture: what
// the tab control gives its pages, themed or not. CLR_INVALID when it cannot be had.
COLORREF PaintedColour(HWND window, const RECT& area) {
    RECT client{};
    ::GetClientRect(window, &client);
    if (client.right <= 0 || client.bottom <= 0)
        return CLR_INVALID;
    HDC screen = ::GetDC(window);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP picture = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = ::SelectObject(memory, picture);
    ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
                   PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF colour =
        ::GetPixel(memory, (area.left + area.right) / 2, (area.top + area.bottom) / 2);
    ::SelectObject(memory, old);
    ::DeleteObject(picture);
    ::DeleteDC(memory);
    ::ReleaseDC(window, screen);
    return colour;
}
template <std::size_t N> bool OnPage(const int (&page)[N], int id) {
    return std::find(std::begin(page), std::end(page), id) != std::end(page);
}

bool OnTabPage(int id) {
    return OnPage(UrlPage, id) || OnPage(GeneralPage, id) || OnPage(AlertsPage, id);
}

// Appends a row of texts to a list.
void AppendRow(HWND list, const std::vector<std::string>& texts) {
    std::wstring first = Widen(texts.empty() ? std::string() : texts[0]);
    LVITEMW row{};
    row.mask = LVIF_TEXT;
    row.iItem = ListView_GetItemCount(list);
    row.pszText = first.data();
    const int at =
        static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
    for (std::size_t column = 1; at >= 0 && column < texts.size(); ++column)
        SetCell(list, at, static_cast<int>(column), texts[column]);
}

void AddColumns(HWND list, const char* const* names, const int* widths, int count) {
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    for (int column = 0; column < count; ++column) {
        LVCOLUMNA col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.cx = widths[column];
        col.pszText = const_cast<char*>(names[column]);
        ::SendMessageA(list, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&col));
    }
}

// A disabled or read-only field asks for its colours as a label does; it keeps the system's.
bool IsEditControl(HWND control) {
    wchar_t cls[16] = {};
    ::GetClassNameW(control, cls, static_cast<int>(std::size(cls)));
    return lstrcmpiW(cls, L"Edit") == 0;
}

void RegisterClassOnce(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSA wc{};
    if (::GetClassInfoA(instance, ClassName.c_str(), &wc))
        return;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = ClassName.c_str();
    ::RegisterClassA(&wc);
}

} // namespace

TFormSettings::TFormSettings(HWND ownerWindow, CUserSettings& record)
    : settings(record), owner(ownerWindow) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    RegisterClassOnce(instance, WndProc);

    // Placed and sized by Layout, once the window knows its monitor.
    handle.Reset(::CreateWindowExA(DialogExStyle, ClassName.c_str(), "Settings", DialogStyle, 0, 0,
                                   ClientWidth, ClientHeight, owner, nullptr, instance, this));
    if (!handle)
        throw Exception("Cannot create the settings dialog");
    CreateControls();
    Layout(WindowDpi(Handle()), nullptr);
}

TFormSettings::~TFormSettings() {
    if (FormSettings == this)
        FormSettings = nullptr;
    // Before the window it is owned by, which would take it along with its object still
    // attached.
    checksDialog.reset();
    DetachWindowObject(handle.Get());
    handle.Reset();
}

HWND TFormSettings::Add(const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
                        int id, DWORD exStyle) {
    // Wide controls hold any text; an 8-bit edit field keeps only the ANSI code page.
    HWND control = ::CreateWindowExW(
        exStyle, Widen(cls).c_str(), Widen(text).c_str(), WS_CHILD | style, x, y, w, h, Handle(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr), nullptr);
    designPlaces.push_back({id, RECT{x, y, x + w, y + h}});
    return control;
}

void TFormSettings::AddTip(int id, const char* text) {
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Control(id));
    ti.lpszText = const_cast<char*>(text);
    ::SendMessageA(tooltip.Get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void TFormSettings::CreateControls() {
    const DWORD tab = WS_TABSTOP;
    const DWORD edit = WS_BORDER | ES_AUTOHSCROLL | tab;
    // Controls are siblings of the tab control, not its children, so that Tab moves through
    // them; the tab control lies beneath them and clips them out of its painting.
    HWND tabs = Add(WC_TABCONTROLA, "", WS_VISIBLE | WS_CLIPSIBLINGS | tab, 4, 4, 394, 306, idTabs);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>("URL's");
    ::SendMessageA(tabs, TCM_INSERTITEMA, tabURLs, reinterpret_cast<LPARAM>(&item));
    item.pszText = const_cast<char*>("General");
    ::SendMessageA(tabs, TCM_INSERTITEMA, tabGeneral, reinterpret_cast<LPARAM>(&item));
    item.pszText = const_cast<char*>("Alerts");
    ::SendMessageA(tabs, TCM_INSERTITEMA, tabAlerts, reinterpret_cast<LPARAM>(&item));

    // "URL's"
    Add("STATIC", "&Benchmark URL", 0, 12, 38, 86, 16, idBenchmarkLabel);
    Add("STATIC", "http://", SS_CENTERIMAGE, 100, 34, 38, 21, idBenchmarkPrefix, WS_EX_STATICEDGE);
    Add("EDIT", "", edit, 138, 34, 252, 21, idBenchmarkUrl);
    HWND list =
        Add(WC_LISTVIEWA, "",
            LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER | tab, 12,
            62, 290, 202, idUrlList);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = ListColumnWidths[0];
    col.pszText = const_cast<char*>("URL");
    ::SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));
    col.cx = ListColumnWidths[colChecks];
    col.pszText = const_cast<char*>("Checks");
    ::SendMessageA(list, LVM_INSERTCOLUMNA, colChecks, reinterpret_cast<LPARAM>(&col));
    col.cx = ListColumnWidths[colStatus];
    col.pszText = const_cast<char*>("Status");
    ::SendMessageA(list, LVM_INSERTCOLUMNA, colStatus, reinterpret_cast<LPARAM>(&col));
    Add("BUTTON", "", BS_OWNERDRAW | WS_DISABLED | tab, 310, 62, 30, 28, idDeleteUrl);
    // A site's checks are one click from its row: the button names what it opens.
    Add("BUTTON", "Chec&ks...", BS_OWNERDRAW | WS_DISABLED | tab, 310, 96, 80, 28, idEditChecks);
    Add("BUTTON", "Go", BS_OWNERDRAW | tab, 310, 130, 80, 76, idGo);
    Add("STATIC", "http://", SS_CENTERIMAGE, 12, 276, 38, 21, idNewUrlPrefix, WS_EX_STATICEDGE);
    Add("EDIT", "", edit, 50, 276, 252, 21, idNewUrl);
    Add("BUTTON", "", BS_OWNERDRAW | tab, 310, 272, 30, 28, idAddUrl);

    const DWORD updown = UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
    // "General". The mail group holds four rows, so the groups above it sit closer together.
    Add("BUTTON", "General", BS_GROUPBOX | WS_CLIPSIBLINGS, 12, 28, 140, 82, idGroupGeneral);
    Add("BUTTON", "&Start with Windows", BS_AUTOCHECKBOX | tab, 20, 43, 128, 18,
        idStartWithWindows);
    Add("STATIC", "Sites at o&nce", 0, 20, 67, 74, 16, idParallelLabel);
    Add("EDIT", "", edit, 96, 64, 50, 20, idParallel);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idParallelArrows);
    Add("STATIC", "&Retries", 0, 20, 89, 74, 16, idRetriesLabel);
    Add("EDIT", "", edit, 96, 86, 50, 20, idRetries);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idRetriesArrows);
    Add("BUTTON", "Schedule", BS_GROUPBOX | WS_CLIPSIBLINGS, 158, 28, 232, 82, idGroupSchedule);
    Add("BUTTON", "Check &URL's at every", BS_AUTOCHECKBOX | tab, 166, 43, 128, 18,
        idScheduleChecks);
    Add("EDIT", "", edit, 296, 42, 50, 20, idInterval);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idIntervalArrows);
    Add("STATIC", "minutes", 0, 350, 45, 38, 16, idMinutesLabel);
    Add("STATIC", "&Timeout", 0, 184, 67, 60, 16, idTimeOutLabel);
    Add("EDIT", "", edit, 296, 64, 50, 20, idTimeOut);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idTimeOutArrows);
    Add("STATIC", "ms", 0, 350, 67, 30, 16, idMsLabel);
    Add("BUTTON", "Log", BS_GROUPBOX | WS_CLIPSIBLINGS, 12, 112, 378, 34, idLogGroup);
    Add("BUTTON", "&All Events", BS_AUTORADIOBUTTON | WS_GROUP | tab, 20, 126, 110, 16, idRadioAll);
    Add("BUTTON", "&Web Events", BS_AUTORADIOBUTTON, 146, 126, 110, 16, idRadioWeb);
    Add("BUTTON", "Only Fai&lure", BS_AUTORADIOBUTTON, 272, 126, 110, 16, idRadioFailure);
    Add("BUTTON", "Mails To ...", BS_GROUPBOX | WS_CLIPSIBLINGS | WS_GROUP, 12, 148, 378, 100,
        idGroupMail);
    // A group of its own: the radio buttons' group ends before it.
    Add("BUTTON", "Send &Mails To ....", BS_AUTOCHECKBOX | WS_GROUP | tab, 20, 164, 112, 18,
        idSendMails);
    Add("EDIT", "", edit, 136, 162, 246, 20, idMailTo);
    Add("STATIC", "&From", 0, 20, 186, 30, 16, idMailFromLabel);
    // The server's name is often the longest of the three: it gets the widest field.
    Add("EDIT", "", edit, 52, 184, 126, 20, idMailFrom);
    Add("STATIC", "using ser&ver", 0, 184, 186, 62, 16, idServerLabel);
    Add("EDIT", "", edit, 248, 184, 134, 20, idServer);
    Add("STATIC", "&port", 0, 20, 208, 30, 16, idPortLabel);
    Add("EDIT", "", edit, 52, 206, 40, 20, idPort);
    // The height is that of the open list; the closed box takes the font's height.
    Add("COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | tab, 96, 206, 80, 120, idSecurity);
    for (const char* choice : SecurityChoices)
        ::SendMessageA(Control(idSecurity), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
    Add("BUTTON", "Aut&hentication", BS_AUTOCHECKBOX | tab, 180, 207, 92, 18, idAuthentication);
    Add("EDIT", "", edit, 274, 206, 52, 20, idUser);
    // The password is shown as typed: the file holds it in clear text anyway.
    Add("EDIT", "", edit, 330, 206, 52, 20, idPassword);
    Add("BUTTON", "Mail only when the l&ist of failed sites changes", BS_AUTOCHECKBOX | tab, 20,
        228, 362, 18, idNotify);

    // "Alerts". The whole address of a channel is never shown: the list and the field show its
    // scheme and host.
    HWND channels =
        Add(WC_LISTVIEWA, "",
            LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER | tab, 12,
            32, 286, 66, idChannelList);
    const char* const channelColumns[] = {"Name", "Kind", "Address"};
    AddColumns(channels, channelColumns, ChannelColumnWidths,
               static_cast<int>(std::size(ChannelColumnWidths)));
    Add("BUTTON", "A&dd", BS_OWNERDRAW | tab, 306, 32, 84, 28, idAddChannel);
    Add("BUTTON", "Remove", BS_OWNERDRAW | WS_DISABLED | tab, 306, 66, 84, 28, idRemoveChannel);
    Add("STATIC", "Nam&e", 0, 12, 106, 34, 16, idChannelNameLabel);
    Add("EDIT", "", edit, 48, 104, 96, 20, idChannelName);
    Add("STATIC", "Kind", 0, 150, 106, 28, 16, idChannelKindLabel);
    Add("COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | tab, 180, 104, 62, 120, idChannelKind);
    for (WebhookKind kind : ChannelKinds)
        ::SendMessageA(Control(idChannelKind), CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(WebhookKindName(kind)));
    Add("STATIC", "Secret", 0, 248, 106, 38, 16, idChannelSecretLabel);
    Add("EDIT", "", edit | ES_PASSWORD, 288, 104, 102, 20, idChannelSecret);
    Add("STATIC", "Address", 0, 12, 130, 46, 16, idChannelAddressLabel);
    Add("EDIT", "", edit, 60, 128, 330, 20, idChannelAddress);
    Add("BUTTON", "Send a te&st", BS_OWNERDRAW | WS_DISABLED | tab, 12, 152, 90, 24, idTestChannel);
    Add("STATIC", "", SS_ENDELLIPSIS | SS_NOPREFIX, 108, 156, 282, 16, idTestOutcome);
    Add("STATIC", "Back up after", 0, 12, 186, 66, 16, idUpAfterLabel);
    Add("EDIT", "", edit, 80, 184, 44, 20, idUpAfter);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idUpAfterArrows);
    Add("STATIC", "checks", 0, 128, 186, 40, 16, idUpAfterUnit);
    Add("STATIC", "Remind every", 0, 178, 186, 66, 16, idRemindLabel);
    Add("EDIT", "", edit, 246, 184, 50, 20, idRemind);
    Add(UPDOWN_CLASSA, "", updown, 0, 0, 0, 0, idRemindArrows);
    Add("STATIC", "minutes, 0: never", 0, 300, 186, 90, 16, idRemindUnit);
    Add("STATIC", "Maintenance windows", 0, 12, 208, 120, 16, idMaintenanceLabel);
    Add("LISTBOX", "", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | tab, 12, 224,
        286, 40, idMaintenanceList);
    Add("BUTTON", "Remove", BS_OWNERDRAW | WS_DISABLED | tab, 306, 224, 84, 26,
        idRemoveMaintenance);
    Add("EDIT", "", edit, 12, 266, 286, 20, idMaintenanceLine);
    Add("BUTTON", "Add", BS_OWNERDRAW | tab, 306, 262, 84, 26, idAddMaintenance);
    Add("STATIC", MaintenanceSyntax, SS_NOPREFIX, 12, 290, 378, 16, idMaintenanceHint);

    for (const SpinField& field : SpinFields) {
        ::SendMessageA(Control(field.arrows), UDM_SETBUDDY,
                       reinterpret_cast<WPARAM>(Control(field.edit)), 0);
        ::SendMessageA(Control(field.arrows), UDM_SETRANGE32, static_cast<WPARAM>(field.limits.min),
                       field.limits.max);
    }

    // Below the tabs.
    Add("STATIC", BrandName, SS_NOTIFY | WS_VISIBLE, 12, 322, 60, 16, idWebSiteLink);
    Add("BUTTON", "&Cancel", BS_OWNERDRAW | WS_VISIBLE | tab, 236, 316, 78, 28, idCancel);
    Add("BUTTON", "&OK", BS_OWNERDRAW | WS_VISIBLE | tab, 320, 316, 78, 28, idOk);
    // The group boxes paint the page beneath the controls they frame (nothing else reaches
    // there: the tab control clips its siblings out, the dialog its children), so they lie
    // below those controls and above the tab control.
    for (int id : GroupBoxes) {
        ::SetWindowSubclass(Control(id), GroupBoxProc, 0, reinterpret_cast<DWORD_PTR>(this));
        ::SetWindowPos(Control(id), HWND_BOTTOM, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ::SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // Its pages in the dialog's own colour: a themed page is lighter than the labels,
    // check boxes and group boxes that lie on it as siblings and paint their own background.
    ::SetWindowTheme(tabs, L"", L"");

    tooltip.Reset(::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                    WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, Handle(), nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr));
    AddTip(idDeleteUrl, "Delete URL from List");
    AddTip(idAddUrl, "Add URL to list");
    AddTip(idEditChecks, "What makes the selected URL count as up");
    AddTip(idUser, "User");
    AddTip(idPassword, "Password");
    AddTip(idSecurity, "Connection security");
    AddTip(idAddChannel, "Add the channel, or replace the one of the same name");
    AddTip(idChannelKind, "What the receiver expects: teams, slack, ntfy or json");
    AddTip(idChannelSecret, "Key of the json channel's signature; empty: not signed");
    AddTip(idChannelAddress, "Left as shown, the stored address stays");
    AddTip(idUpAfter, "Checks in a row a site that was down must answer before it counts as up");
    AddTip(idRemind, "Remind every N minutes while a site stays down, 0 never");
    AddTip(idMaintenanceLine,
           "From a time to a time every week (Sat 22:00-Sun 02:00) or once "
           "(2026-12-24 18:00-2026-12-27 08:00); after \"=\" the sites it covers, none: all");

    ShowPage(tabURLs);
}

void TFormSettings::Layout(UINT newDpi, const RECT* suggested) {
    dpi = newDpi ? newDpi : DesignDpi;
    buttonIcons.clear();
    // The new fonts go to the controls before the old ones are deleted.
    LOGFONTW lf = MessageFontForDpi(dpi);
    ScopedGdiObject newFont(::CreateFontIndirectW(&lf));
    lf.lfUnderline = TRUE;
    ScopedGdiObject newLinkFont(::CreateFontIndirectW(&lf));
    for (const auto& [id, place] : designPlaces) {
        HFONT f = static_cast<HFONT>(id == idWebSiteLink ? newLinkFont.Get() : newFont.Get());
        ::SendMessageW(Control(id), WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
    }
    font = std::move(newFont);
    linkFont = std::move(newLinkFont);

    // Scaled for the DPI, then grown evenly until the control that is shortest of room has
    // enough: the dialog grows rather than cut a text, whatever the font.
    const DialogScale scale = ScaleToFit(
        Handle(), designPlaces, dpi, [this](HWND control, HDC dc) { return Needed(control, dc); });
    scaleX = scale.X;
    scaleY = scale.Y;
    const auto across = [this](LONG v) { return static_cast<int>(std::lround(v * scaleX)); };
    const auto down = [this](LONG v) { return static_cast<int>(std::lround(v * scaleY)); };

    HDWP moves = ::BeginDeferWindowPos(static_cast<int>(designPlaces.size()));
    for (const auto& [id, place] : designPlaces) {
        if (place.right == place.left) // the arrows follow their field below
            continue;
        const int x = across(place.left);
        const int y = down(place.top);
        const int flags = SWP_NOZORDER | SWP_NOACTIVATE;
        const int w = across(place.right) - x;
        const int h = id == idSecurity || id == idChannelKind
                          ? ForDpi(place.bottom - place.top, dpi)
                          : down(place.bottom) - y;
        if (moves)
            moves = ::DeferWindowPos(moves, Control(id), nullptr, x, y, w, h, flags);
        else
            ::SetWindowPos(Control(id), nullptr, x, y, w, h, flags);
    }
    if (moves)
        ::EndDeferWindowPos(moves);
    for (const SpinField& field : SpinFields)
        ::SendMessageA(Control(field.arrows), UDM_SETBUDDY,
                       reinterpret_cast<WPARAM>(Control(field.edit)), 0);
    for (int column = 0; column < static_cast<int>(std::size(ListColumnWidths)); ++column)
        ListView_SetColumnWidth(Control(idUrlList), column, across(ListColumnWidths[column]));
    for (int column = 0; column < static_cast<int>(std::size(ChannelColumnWidths)); ++column)
        ListView_SetColumnWidth(Control(idChannelList), column,
                                across(ChannelColumnWidths[column]));

    // Centred on its monitor's work area.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST), &monitor);
    PlaceDialog(Handle(), across(ClientWidth), down(ClientHeight), DialogStyle, DialogExStyle, dpi,
                suggested, monitor.rcWork);
    TakePageColour();
    TipLocked();
    ::RedrawWindow(Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TFormSettings::TakePageColour() {
    HWND tabs = Control(idTabs);
    RECT page{};
    ::GetClientRect(tabs, &page);
    TabCtrl_AdjustRect(tabs, FALSE, &page);
    COLORREF colour = PaintedColour(tabs, page);
    if (colour == CLR_INVALID)
        colour = ::GetSysColor(COLOR_BTNFACE);
    if (pageBrush && colour == pageColour)
        return;
    pageColour = colour;
    pageBrush.Reset(::CreateSolidBrush(colour));
}

SIZE TFormSettings::Needed(HWND control, HDC dc) const {
    const int id = ::GetDlgCtrlID(control);
    // Texts that come and go (a test's outcome, a line's problem) must not grow the dialog.
    if (id == idTestOutcome || id == idMaintenanceHint)
        return SIZE{0, 0};
    SIZE need = TextRoomNeeded(control, dc, dpi);
    // "Checks..." and "Send a test" are captions without a picture.
    if ((id == idEditChecks || id == idTestChannel) && need.cx > 0)
        need.cx -= SmallIconSizeForDpi(dpi) + ForDpi(4, dpi);
    return need;
}

HICON TFormSettings::ButtonIcon(int iconId) {
    for (const auto& [id, icon] : buttonIcons)
        if (id == iconId)
            return icon.Get();
    const int size = SmallIconSizeForDpi(dpi);
    buttonIcons.emplace_back(iconId, ScopedIcon(static_cast<HICON>(::LoadImageA(
                                         ::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId),
                                         IMAGE_ICON, size, size, 0))));
    return buttonIcons.back().second.Get();
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
    for (int id : AlertsPage)
        ::ShowWindow(Control(id), tab == tabAlerts ? SW_SHOW : SW_HIDE);
    TipLocked();
}

// ---- reading and writing controls --------------------------------------------------------

std::string TFormSettings::Text(int id) const {
    return WindowText(Control(id));
}

void TFormSettings::SetText(int id, const std::string& text) {
    ::SetWindowTextW(Control(id), Widen(text).c_str());
}

bool TFormSettings::Checked(int id) const {
    return ::SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TFormSettings::SetChecked(int id, bool on) {
    ::SendMessageA(Control(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TFormSettings::Enable(int id, bool on) {
    ::EnableWindow(Control(id), on && !Locked(id));
}

bool TFormSettings::Locked(int id) const {
    return std::find(locked.begin(), locked.end(), id) != locked.end();
}

void TFormSettings::LockEnforced() {
    locked.clear();
    for (const auto& [name, ids] : PolicyControls())
        if (settings.Enforced.count(name))
            locked.insert(locked.end(), ids.begin(), ids.end());
    for (int id : locked)
        ::EnableWindow(Control(id), FALSE);
    TipLocked();
}

void TFormSettings::TipLocked() {
    for (const auto& [name, ids] : PolicyControls()) {
        for (int id : ids) {
            TOOLINFOA ti{};
            ti.cbSize = sizeof(ti);
            ti.hwnd = Handle();
            ti.uId = LockedTipBase + static_cast<UINT_PTR>(id);
            ::SendMessageA(tooltip.Get(), TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
            if (!Locked(id) || !::IsWindowVisible(Control(id)))
                continue;
            ti.uFlags = TTF_SUBCLASS;
            ti.lpszText = const_cast<char*>(LockedTip);
            ::GetWindowRect(Control(id), &ti.rect);
            ::MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&ti.rect), 2);
            ::SendMessageA(tooltip.Get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
        }
    }
}

// ---- the record and the controls ---------------------------------------------------------

void TFormSettings::FillFromSettings() {
    // Before any control is enabled by what it shows.
    locked.clear();
    SetText(idBenchmarkUrl, settings.Benchmark);

    HWND list = Control(idUrlList);
    ListView_DeleteAllItems(list);
    for (int i = 0; i < settings.UrlCount(); ++i) {
        const int at = InsertRow(list, i, settings.Url(i), settings.Checks(i));
        SetCell(list, at, colStatus, StatusText(settings.UrlStatus(i)));
    }
    ListView1SelectItem();

    SetText(idInterval, std::to_string(Clamp(settings.TimeSpan, IntervalLimits)));
    SetText(idTimeOut, std::to_string(Clamp(settings.TimeOut, TimeOutLimits)));
    SetText(idParallel, std::to_string(Clamp(settings.Parallel, ParallelLimits)));
    SetText(idRetries, std::to_string(Clamp(settings.Retries, RetriesLimits)));
    SetChecked(idScheduleChecks, settings.TimeSpan != 0);
    CheckBox1Click();
    SetChecked(idStartWithWindows, settings.StartOnStartup);

    const int choice = LogChoiceFor(settings.Filter);
    SetChecked(idRadioAll, choice == 0);
    SetChecked(idRadioWeb, choice == 1);
    SetChecked(idRadioFailure, choice == 2);

    SetChecked(idSendMails, settings.Active);
    CheckBox3Click();
    SetText(idMailTo, settings.To);
    SetText(idMailFrom, settings.From);
    SetText(idServer, settings.Server);
    SetText(idPort, std::to_string(settings.Port));
    // A value without an item shows no choice, and OK keeps it (see StoreToSettings).
    const bool knownSecurity =
        settings.Security >= SecurityNone && settings.Security <= SecurityTls;
    ::SendMessageA(Control(idSecurity), CB_SETCURSEL, knownSecurity ? settings.Security : -1, 0);
    SetChecked(idNotify, settings.Notify == NotifyOnChange);
    // After the mail box: "Authentication" has the last word on the user and password.
    SetChecked(idAuthentication, !settings.UserID.empty());
    CheckBox4Click();
    SetText(idUser, settings.UserID);
    SetText(idPassword, settings.Pass);

    alerts = AlertsForm(settings.Webhooks);
    FillChannelList();
    ShowChannelFields(alerts.Select(-1));
    SetText(idUpAfter, std::to_string(Clamp(settings.UpAfter, UpAfterLimits)));
    SetText(idRemind, std::to_string(Clamp(settings.Remind, RemindLimits)));
    HWND lines = Control(idMaintenanceList);
    ::SendMessageW(lines, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : settings.Maintenance)
        ::SendMessageW(lines, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(line).c_str()));
    SetText(idMaintenanceLine, "");
    ShowMaintenanceHint({});
    Enable(idRemoveMaintenance, false);
    LockEnforced();
}

void TFormSettings::ShowUrlStatuses() {
    HWND list = Control(idUrlList);
    const int count = ListView_GetItemCount(list);
    for (int row = 0; row < count; ++row) {
        const int at = settings.URLList.IndexOf(RowUrl(list, row));
        if (at >= 0)
            SetCell(list, row, colStatus, StatusText(settings.UrlStatus(at)));
    }
}

void TFormSettings::CommitRows() {
    HWND list = Control(idUrlList);
    const int count = ListView_GetItemCount(list);
    settings.URLList.Clear();
    for (int i = 0; i < count; ++i) {
        const std::string url = RowUrl(list, i);
        settings.AddUrl(url);
        settings.SetChecks(url, Cell(list, i, colChecks));
    }
}

bool TFormSettings::StoreToSettings() {
    const std::optional<std::int32_t> port = SettingsNumber(Text(idPort));
    if (!port) {
        if (ActiveTab() != tabGeneral)
            SelectTab(tabGeneral);
        FocusPort();
        return false;
    }
    // The record changes only when the file has: a change the rules refuse, or a failed save,
    // puts it back as it was.
    const CUserSettings before = settings;
    settings.Benchmark = Text(idBenchmarkUrl);
    CommitRows();
    settings.TimeSpan = Checked(idScheduleChecks) ? SpinValue(Text(idInterval), IntervalLimits) : 0;
    settings.TimeOut = SpinValue(Text(idTimeOut), TimeOutLimits);
    settings.Parallel = SpinValue(Text(idParallel), ParallelLimits);
    settings.Retries = SpinValue(Text(idRetries), RetriesLimits);
    settings.StartOnStartup = Checked(idStartWithWindows);
    settings.Filter = Checked(idRadioAll)       ? 0
                      : Checked(idRadioWeb)     ? 1
                      : Checked(idRadioFailure) ? 2
                                                : -1;
    settings.Active = Checked(idSendMails);
    settings.To = Text(idMailTo);
    settings.From = Text(idMailFrom);
    settings.Server = Text(idServer);
    settings.Port = *port;
    // No choice means the file holds a value the list has no item for (written by hand) and the
    // user did not pick one: keep it rather than rewrite it silently.
    const LRESULT security = ::SendMessageA(Control(idSecurity), CB_GETCURSEL, 0, 0);
    if (security != CB_ERR)
        settings.Security = static_cast<std::int32_t>(security);
    settings.Notify = Checked(idNotify) ? NotifyOnChange : NotifyEveryCycle;
    const bool authentication = Checked(idAuthentication);
    settings.UserID = authentication ? Text(idUser) : std::string();
    settings.Pass = authentication ? Text(idPassword) : std::string();
    settings.Webhooks = alerts.Channels();
    settings.UpAfter = SpinValue(Text(idUpAfter), UpAfterLimits);
    settings.Remind = SpinValue(Text(idRemind), RemindLimits);
    settings.Maintenance.clear();
    HWND lines = Control(idMaintenanceList);
    const int lineCount = static_cast<int>(::SendMessageW(lines, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < lineCount; ++i) {
        std::wstring line(static_cast<std::size_t>(::SendMessageW(lines, LB_GETTEXTLEN, i, 0)) + 1,
                          L'\0');
        const auto length =
            ::SendMessageW(lines, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        settings.Maintenance.push_back(Narrow(
            std::wstring_view(line.data(), length > 0 ? static_cast<std::size_t>(length) : 0)));
    }
    try {
        if (std::string refusal = PolicyRefusal(before, settings); !refusal.empty())
            throw Exception(refusal);
        const CUserSettings judged = JudgedSettings(settings, before);
        const std::string problem = SettingsProblem(judged);
        if (!problem.empty()) {
            // The user sees the page the problem is on.
            if (AlertsProblem(judged) && ActiveTab() != tabAlerts)
                SelectTab(tabAlerts);
            throw Exception(problem);
        }
        if (OnSave)
            OnSave();
        else
            settings.Save();
    } catch (...) {
        settings = before;
        throw;
    }
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
            ::MessageBoxA(Handle(), e.Message().c_str(), "Settings", MB_OK | MB_ICONERROR);
    }
}

void TFormSettings::BitBtn2Click() {
    if (Locked(idAddUrl))
        return;
    const std::string url = NewUrlFromText(Text(idNewUrl));
    if (url.empty())
        return;
    HWND list = Control(idUrlList);
    InsertRow(list, ListView_GetItemCount(list), url, "");
    SetText(idNewUrl, "");
}

void TFormSettings::BitBtn1Click() {
    if (Locked(idAddUrl))
        return;
    HWND list = Control(idUrlList);
    const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (selected >= 0)
        ListView_DeleteItem(list, selected);
    ListView1SelectItem();
}

void TFormSettings::ListView1SelectItem() {
    const bool any = ListView_GetNextItem(Control(idUrlList), -1, LVNI_SELECTED) >= 0;
    Enable(idDeleteUrl, any);
    Enable(idEditChecks, any);
}

void TFormSettings::EditChecks() {
    if (Locked(idEditChecks))
        return;
    HWND list = Control(idUrlList);
    const int row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (row < 0 || checksDialog)
        return;
    checksRow = row;
    checksDialog = std::make_unique<TFormSiteChecks>(Handle(), dpi, RowUrl(list, row),
                                                     Cell(list, row, colChecks), settings.CertDays);
    checksDialog->OnClose = [this] { ::PostMessageW(Handle(), WM_CHECKSCLOSED, 0, 0); };
    // Modal over this dialog, inside its loop: PreTranslate hands the keys over.
    ::EnableWindow(Handle(), FALSE);
    checksDialog->Show();
}

void TFormSettings::ChecksClosed() {
    if (!checksDialog || checksDialog->ModalResult() == 0)
        return;
    HWND list = Control(idUrlList);
    if (checksDialog->ModalResult() == IDOK && checksRow < ListView_GetItemCount(list))
        SetCell(list, checksRow, colChecks, checksDialog->Checks());
    // Enabled before the other goes, so that the system gives this dialog the activation.
    ::EnableWindow(Handle(), TRUE);
    checksDialog.reset();
    ::SetFocus(list);
}

void TFormSettings::BitBtn5Click() {
    CommitRows();
    if (OnGo)
        OnGo();
}

void TFormSettings::CheckBox1Click() {
    Enable(idInterval, Checked(idScheduleChecks));
    Enable(idIntervalArrows, Checked(idScheduleChecks));
}

void TFormSettings::CheckBox3Click() {
    for (int id : MailFields)
        Enable(id, Checked(idSendMails));
}

void TFormSettings::CheckBox4Click() {
    Enable(idUser, Checked(idAuthentication));
    Enable(idPassword, Checked(idAuthentication));
}

void TFormSettings::Edit3Exit(HWND newFocus) {
    if (SettingsNumber(Text(idPort)))
        return;
    // Keep the user at the field, but not when leaving the dialog or cancelling it.
    if (!newFocus || ::GetParent(newFocus) != Handle() || newFocus == Control(idCancel))
        return;
    FocusPort();
}

void TFormSettings::FocusPort() {
    ::SetFocus(Control(idPort));
    ::SendMessageA(Control(idPort), EM_SETSEL, 0, -1);
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

// ---- the "Alerts" tab ----------------------------------------------------------------------

WebhookFields TFormSettings::ChannelFields() const {
    WebhookFields fields;
    fields.Name = Text(idChannelName);
    const LRESULT kind = ::SendMessageW(Control(idChannelKind), CB_GETCURSEL, 0, 0);
    if (kind >= 0 && kind < static_cast<LRESULT>(std::size(ChannelKinds)))
        fields.Kind = ChannelKinds[kind];
    fields.Address = Text(idChannelAddress);
    fields.Secret = Text(idChannelSecret);
    return fields;
}

void TFormSettings::ShowChannelFields(const WebhookFields& fields) {
    fillingChannel = true;
    SetText(idChannelName, fields.Name);
    const auto kind = std::find(std::begin(ChannelKinds), std::end(ChannelKinds), fields.Kind);
    ::SendMessageW(Control(idChannelKind), CB_SETCURSEL, kind - std::begin(ChannelKinds), 0);
    SetText(idChannelAddress, fields.Address);
    SetText(idChannelSecret, fields.Secret);
    fillingChannel = false;
    // An outcome belongs to the channel it was sent to.
    SetText(idTestOutcome, "");
    ChannelFieldsChanged();
}

void TFormSettings::FillChannelList() {
    HWND list = Control(idChannelList);
    fillingChannel = true;
    ListView_DeleteAllItems(list);
    for (int row = 0; row < alerts.Count(); ++row) {
        const WebhookChannel& channel = alerts.Channel(row);
        AppendRow(list, {channel.Name, WebhookKindName(channel.Kind),
                         ShownWebhookAddress(channel.Address)});
    }
    if (alerts.Selected() >= 0)
        ListView_SetItemState(list, alerts.Selected(), LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
    fillingChannel = false;
}

void TFormSettings::ChannelSelected() {
    if (fillingChannel)
        return;
    ShowChannelFields(
        alerts.Select(ListView_GetNextItem(Control(idChannelList), -1, LVNI_SELECTED)));
}

void TFormSettings::ChannelFieldsChanged() {
    if (fillingChannel)
        return;
    const AlertsControls controls = alerts.Enabled(ChannelFields(), OnTestWebhook != nullptr);
    Enable(idChannelSecretLabel, controls.Secret);
    Enable(idChannelSecret, controls.Secret);
    Enable(idRemoveChannel, controls.Remove);
    Enable(idTestChannel, controls.Test);
}

void TFormSettings::AddChannel() {
    if (Locked(idAddChannel))
        return;
    std::string problem;
    const int row = alerts.Add(ChannelFields(), problem);
    if (row < 0) {
        SetText(idTestOutcome, problem);
        return;
    }
    FillChannelList();
    // What is stored now, its address in the shown form.
    ShowChannelFields(alerts.Select(row));
}

void TFormSettings::RemoveChannel() {
    if (Locked(idAddChannel))
        return;
    alerts.Remove();
    FillChannelList();
    ShowChannelFields(alerts.Select(-1));
    ::SetFocus(Control(idChannelList));
}

void TFormSettings::TestChannel() {
    const std::optional<WebhookChannel> channel = alerts.TestChannel(ChannelFields());
    if (!OnTestWebhook || !channel)
        return;
    // Before the call: a link that cannot send answers within it.
    SetText(idTestOutcome, "Sending a test...");
    OnTestWebhook(*channel);
}

void TFormSettings::ShowWebhookTest(const std::string& name, const std::string& outcome) {
    const std::optional<WebhookChannel> shown = alerts.TestChannel(ChannelFields());
    if (shown && shown->Name == name)
        SetText(idTestOutcome, outcome);
}

void TFormSettings::AddMaintenance() {
    std::string problem;
    const std::optional<std::string> line = MaintenanceLineToAdd(Text(idMaintenanceLine), problem);
    if (!line) {
        if (!problem.empty())
            ShowMaintenanceHint(problem);
        return;
    }
    ::SendMessageW(Control(idMaintenanceList), LB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(Widen(*line).c_str()));
    SetText(idMaintenanceLine, "");
}

void TFormSettings::RemoveMaintenance() {
    HWND list = Control(idMaintenanceList);
    const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR)
        ::SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
    Enable(idRemoveMaintenance, false);
    ::SetFocus(list);
}

void TFormSettings::ShowMaintenanceHint(const std::string& problem) {
    SetText(idMaintenanceHint, problem.empty() ? std::string(MaintenanceSyntax) : problem);
}

// ---- showing -----------------------------------------------------------------------------

void TFormSettings::Show() {
    modalResult = 0;
    SelectTab(tabURLs);
    FormShow();
    ::ShowWindow(Handle(), SW_SHOW);
    ::SetForegroundWindow(Handle());
    ::SetFocus(Control(idBenchmarkUrl));
}

int TFormSettings::ShowModal() {
    const bool ownerWasEnabled = owner && ::IsWindowEnabled(owner);
    if (ownerWasEnabled)
        ::EnableWindow(owner, FALSE);
    Show();
    MSG msg;
    while (modalResult == 0) {
        // Wide, so that what the user types into the wide fields reaches them whole.
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // WM_QUIT belongs to the program's own loop: leave it there.
            if (got == 0)
                ::PostQuitMessage(static_cast<int>(msg.wParam));
            modalResult = IDCANCEL;
            break;
        }
        if (!PreTranslate(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    // The owner comes back first, or the system would activate some other window.
    if (ownerWasEnabled)
        ::EnableWindow(owner, TRUE);
    ::ShowWindow(Handle(), SW_HIDE);
    return modalResult;
}

bool TFormSettings::PreTranslate(MSG& msg) {
    if (checksDialog)
        return checksDialog->PreTranslate(msg);
    if (!handle || (msg.hwnd != Handle() && !::IsChild(Handle(), msg.hwnd)))
        return false;
    const bool enterOrEsc = msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE;
    // An open drop-down list takes Enter and Esc itself: they choose or close.
    if (enterOrEsc && (msg.message == WM_KEYDOWN || msg.message == WM_CHAR) &&
        (::SendMessageA(Control(idSecurity), CB_GETDROPPEDSTATE, 0, 0) ||
         ::SendMessageA(Control(idChannelKind), CB_GETDROPPEDSTATE, 0, 0)))
        return false;
    if (msg.message == WM_KEYDOWN && enterOrEsc) {
        const bool urlPage = ActiveTab() == tabURLs;
        HWND focus = ::GetFocus();
        char cls[16] = {};
        ::GetClassNameA(focus, cls, sizeof(cls));
        const bool onButton = lstrcmpiA(cls, "Button") == 0 &&
                              (::GetWindowLongA(focus, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
        // On the "URL's" tab Enter adds and Esc deletes; on the "General" tab they are OK and
        // Cancel, as in any dialog.
        // Enter on a row opens its checks.
        const bool onRow = focus == Control(idUrlList) && ::IsWindowEnabled(Control(idEditChecks));
        // On the "Alerts" tab Enter in a channel's field adds the channel, in the maintenance
        // field the line.
        const bool onChannel = std::any_of(std::begin(ChannelFieldIds), std::end(ChannelFieldIds),
                                           [&](int id) { return focus == Control(id); });
        if (msg.wParam == VK_RETURN) {
            if (onButton)
                ::SendMessageA(focus, BM_CLICK, 0, 0);
            else if (onRow)
                EditChecks();
            else if (urlPage)
                BitBtn2Click();
            else if (onChannel)
                AddChannel();
            else if (focus == Control(idMaintenanceLine))
                AddMaintenance();
            else
                BitBtn3Click();
        } else if (!urlPage) {
            modalResult = IDCANCEL;
        } else if (::IsWindowEnabled(Control(idDeleteUrl))) {
            BitBtn1Click();
        }
        return true;
    }
    if (msg.message == WM_CHAR && (msg.wParam == '\r' || msg.wParam == 27))
        return true; // handled on key down; no beep from the edit field
    return ::IsDialogMessageW(Handle(), &msg) != FALSE;
}

// ---- window procedure --------------------------------------------------------------------

LRESULT CALLBACK TFormSettings::GroupBoxProc(HWND h, UINT m, WPARAM w, LPARAM l, UINT_PTR,
                                             DWORD_PTR self) {
    const auto* form = reinterpret_cast<const TFormSettings*>(self);
    if (m == WM_NCDESTROY)
        ::RemoveWindowSubclass(h, GroupBoxProc, 0);
    if ((m == WM_ERASEBKGND || m == WM_PAINT) && form->pageBrush) {
        // Its siblings above it are clipped out: the controls inside keep their pixels.
        RECT r{};
        ::GetClientRect(h, &r);
        HDC dc = m == WM_ERASEBKGND ? reinterpret_cast<HDC>(w) : ::GetDC(h);
        ::FillRect(dc, &r, static_cast<HBRUSH>(form->pageBrush.Get()));
        if (m == WM_ERASEBKGND)
            return TRUE;
        ::ReleaseDC(h, dc);
    }
    return ::DefSubclassProc(h, m, w, l);
}

LRESULT CALLBACK TFormSettings::WndProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (TFormSettings* self = WindowObject<TFormSettings>(h, m, l))
        return self->Dispatch(h, m, w, l);
    return ::DefWindowProcA(h, m, w, l);
}

LRESULT TFormSettings::Dispatch(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
    case WM_CLOSE:
        modalResult = IDCANCEL;
        return 0;
    case WM_NEXTDLGCTL: {
        // What the dialog manager's keyboard handling asks of a dialog: a label's mnemonic
        // moves the focus to the control, then on to the field after it.
        HWND next = LOWORD(l) ? reinterpret_cast<HWND>(w)
                              : ::GetNextDlgTabItem(h, ::GetFocus(), w != 0 ? TRUE : FALSE);
        if (next)
            ::SetFocus(next);
        return 0;
    }
    case WM_COMMAND: {
        const int id = LOWORD(w);
        const int code = HIWORD(w);
        if (code == BN_CLICKED) {
            switch (id) {
            case idOk:
                BitBtn3Click();
                break;
            case idCancel:
                modalResult = IDCANCEL;
                break;
            case idAddUrl:
                BitBtn2Click();
                break;
            case idDeleteUrl:
                BitBtn1Click();
                break;
            case idGo:
                BitBtn5Click();
                break;
            case idEditChecks:
                EditChecks();
                break;
            case idScheduleChecks:
                CheckBox1Click();
                break;
            case idSendMails:
                CheckBox3Click();
                break;
            case idAuthentication:
                CheckBox4Click();
                break;
            case idAddChannel:
                AddChannel();
                break;
            case idRemoveChannel:
                RemoveChannel();
                break;
            case idTestChannel:
                TestChannel();
                break;
            case idAddMaintenance:
                AddMaintenance();
                break;
            case idRemoveMaintenance:
                RemoveMaintenance();
                break;
            default:
                break;
            }
        } else if (code == EN_KILLFOCUS) {
            if (id == idPort)
                Edit3Exit(::GetFocus());
            else if (SpinFieldOf(id))
                SpinExit(id);
        } else if (code == STN_CLICKED && id == idWebSiteLink) {
            StaticText2Click();
        } else if ((code == EN_CHANGE &&
                    (id == idChannelName || id == idChannelAddress || id == idChannelSecret)) ||
                   (code == CBN_SELCHANGE && id == idChannelKind)) {
            ChannelFieldsChanged();
        } else if (code == EN_CHANGE && id == idMaintenanceLine) {
            ShowMaintenanceHint({});
        } else if (code == LBN_SELCHANGE && id == idMaintenanceList) {
            Enable(idRemoveMaintenance,
                   ::SendMessageW(Control(idMaintenanceList), LB_GETCURSEL, 0, 0) != LB_ERR);
        }
        return 0;
    }
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(l);
        if (hdr->idFrom == idTabs && hdr->code == TCN_SELCHANGE) {
            ShowPage(ActiveTab());
        } else if (hdr->idFrom == idUrlList && hdr->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(l);
            if ((change->uChanged & LVIF_STATE) &&
                ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
                ListView1SelectItem();
        } else if (hdr->idFrom == idChannelList && hdr->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(l);
            if ((change->uChanged & LVIF_STATE) &&
                ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
                ChannelSelected();
        } else if (hdr->idFrom == idUrlList && hdr->code == NM_DBLCLK) {
            if (reinterpret_cast<const NMITEMACTIVATE*>(l)->iItem >= 0)
                EditChecks();
        } else if (const SpinField* field = SpinFieldOf(static_cast<int>(hdr->idFrom));
                   field && hdr->code == UDN_DELTAPOS) {
            const auto* step = reinterpret_cast<const NMUPDOWN*>(l);
            SpinStep(field->edit, step->iDelta);
            return TRUE; // the field holds the value, not the arrows
        } else if (hdr->code == HDN_BEGINTRACKA || hdr->code == HDN_BEGINTRACKW ||
                   hdr->code == HDN_DIVIDERDBLCLICKA || hdr->code == HDN_DIVIDERDBLCLICKW) {
            return TRUE; // the list's columns have fixed widths
        }
        return 0;
    }
    case WM_DPICHANGED:
        Layout(LOWORD(w), reinterpret_cast<const RECT*>(l));
        return 0;
    case WM_CHECKSCLOSED:
        ChecksClosed();
        return 0;
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
        TakePageColour();
        break;
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(l) == Control(idWebSiteLink)) {
            HDC dc = reinterpret_cast<HDC>(w);
            ::SetTextColor(dc, HighContrast() ? ::GetSysColor(COLOR_HOTLIGHT) : RGB(0, 0, 255));
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        if (OnTabPage(::GetDlgCtrlID(reinterpret_cast<HWND>(l))) &&
            !IsEditControl(reinterpret_cast<HWND>(l)) && pageBrush) {
            // Labels, check boxes and group boxes lie on the page as siblings of the tab
            // control: they paint their own background, which must be the page's.
            HDC dc = reinterpret_cast<HDC>(w);
            ::DefWindowProcW(h, m, w, l); // the text colour the system gives them
            ::SetBkColor(dc, pageColour);
            return reinterpret_cast<LRESULT>(pageBrush.Get());
        }
        break;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(w) == Control(idWebSiteLink)) {
            ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649))); // IDC_HAND
            return TRUE;
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcA(h, m, w, l);
}

void TFormSettings::DrawButton(const DRAWITEMSTRUCT& di) {
    int iconId = 0;
    switch (di.CtlID) {
    case idDeleteUrl:
    case idRemoveChannel:
    case idRemoveMaintenance:
        iconId = IDI_BUTTON_DELETE;
        break;
    case idAddUrl:
    case idAddChannel:
    case idAddMaintenance:
        iconId = IDI_BUTTON_ADD;
        break;
    case idGo:
        iconId = IDI_BUTTON_GO;
        break;
    case idOk:
        iconId = IDI_BUTTON_OK;
        break;
    case idCancel:
        iconId = IDI_BUTTON_CANCEL;
        break;
    case idEditChecks: // its caption says it all
    case idTestChannel:
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
    HICON icon = iconId ? ButtonIcon(iconId) : nullptr;
    const int size = SmallIconSizeForDpi(dpi);
    const int gap = ForDpi(4, dpi);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const bool tall = h > w && text[0];
    SIZE extent{};
    HGDIOBJ oldFont = ::SelectObject(di.hDC, font.Get());
    ::GetTextExtentPoint32A(di.hDC, text, lstrlenA(text), &extent);
    int ix = r.left + (w - size) / 2;
    int iy = r.top + (h - size) / 2;
    RECT textRect = r;
    if (!icon) {                  // the caption alone, in the middle
    } else if (text[0] && tall) { // icon above the caption
        iy = r.top + (h - size - gap - extent.cy) / 2;
        textRect.top = iy + size + gap;
        textRect.bottom = textRect.top + extent.cy;
    } else if (text[0]) { // icon before the caption
        ix = r.left + (w - size - gap - extent.cx) / 2;
        textRect.left = ix + size + gap;
    }
    if (icon)
        ::DrawStateA(di.hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, ix, iy, size,
                     size, DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    if (text[0]) {
        ::SetBkMode(di.hDC, TRANSPARENT);
        ::SetTextColor(di.hDC, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        ::DrawTextA(di.hDC, text, -1, &textRect,
                    (tall || !icon ? DT_CENTER : DT_LEFT) | DT_VCENTER | DT_SINGLELINE);
    }
    ::SelectObject(di.hDC, oldFont);
    if (di.itemState & ODS_FOCUS) {
        RECT f = di.rcItem;
        ::InflateRect(&f, -gap, -gap);
        ::DrawFocusRect(di.hDC, &f);
    }
}
