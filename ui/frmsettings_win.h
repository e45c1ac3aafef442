// The settings dialog: the one place where the user edits the settings record.
//
// The main form opens it from its tray menu, fresh each time:
//
//     TFormSettings dialog(formWindow);           // edits UserSettings
//     dialog.OnGo = [this] { CheckSites(); };     // "Go" runs a cycle inside the dialog
//     FormSettings = &dialog;
//     const int result = dialog.ShowModal();     // IDOK once the settings are stored and saved
//     FormSettings = nullptr;
//
// and every check cycle that reaches the benchmark ends with
// `if (FormSettings) FormSettings->FillFromSettings();`.
#pragma once

#include "base/handle_win.h"
#include "base/product_win.h"
#include "settings/cusersettings.h"
#include "ui/alertsform.h"
#include "ui/frmsitechecks_win.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Control ids, named for what each control is for. The handlers keep the form's names of
// their controls, given in the comments (OK is BitBtn3, so it runs BitBtn3Click).
enum SettingsControl : int {
    idTabs = 100,
    idBenchmarkLabel,  // StaticText1
    idBenchmarkPrefix, // Panel1: "http://" before the benchmark
    idBenchmarkUrl,    // EdtBenchURL
    idUrlList,         // ListView1
    idDeleteUrl,       // BitBtn1
    idGo,              // BitBtn5
    idNewUrlPrefix,    // Panel2: "http://" before the new URL
    idNewUrl,          // Edit1
    idAddUrl,          // BitBtn2
    idGroupGeneral,
    idStartWithWindows, // CheckBox2
    idGroupSchedule,
    idScheduleChecks, // CheckBox1: "Check URL's at every"
    idInterval,       // CSpinEdit1
    idIntervalArrows,
    idMinutesLabel, // StaticText3
    idTimeOutLabel, // Label4
    idTimeOut,      // CSpinEdit2
    idTimeOutArrows,
    idMsLabel,       // Label5
    idParallelLabel, // sites fetched at once during a check
    idParallel,
    idParallelArrows,
    idRetriesLabel, // further fetches of a failed site within the check
    idRetries,
    idRetriesArrows,
    idLogGroup, // RadioGroup1
    idRadioAll,
    idRadioWeb,
    idRadioFailure,
    idGroupMail,
    idSendMails,      // CheckBox3: "Send Mails To ...."
    idMailTo,         // Edit4
    idMailFromLabel,  // Label3
    idMailFrom,       // Edit6
    idServerLabel,    // Label1
    idServer,         // Edit2
    idPortLabel,      // Label2
    idPort,           // Edit3
    idSecurity,       // connection security of the alert mail, beside the port
    idAuthentication, // CheckBox4
    idUser,           // Edit5
    idPassword,       // Edit7
    idNotify,         // "Mail only when the list of failed sites changes"
    idWebSiteLink,    // StaticText2
    idCancel,         // BitBtn4
    idOk,             // BitBtn3
    idEditChecks,     // "Checks..." of the selected URL
    // "Alerts"
    idChannelList, // the webhook channels: name, kind, address as shown
    idAddChannel,  // the fields' channel, in place of the one of its name or added
    idRemoveChannel,
    idChannelNameLabel,
    idChannelName,
    idChannelKindLabel,
    idChannelKind,
    idChannelSecretLabel,
    idChannelSecret, // a json channel's signing key
    idChannelAddressLabel,
    idChannelAddress,
    idTestChannel, // "Send a test"
    idTestOutcome, // what the test's sending came to, in words
    idUpAfterLabel,
    idUpAfter,
    idUpAfterArrows,
    idUpAfterUnit,
    idRemindLabel,
    idRemind,
    idRemindArrows,
    idRemindUnit,
    idMaintenanceLabel,
    idMaintenanceList, // the lines of [Maintenance]
    idRemoveMaintenance,
    idMaintenanceLine,
    idAddMaintenance,
    idMaintenanceHint, // the lines' syntax, or why a typed line does not read
};

// Tabs of the dialog, in their order.
enum SettingsTab : int { tabURLs = 0, tabGeneral = 1, tabAlerts = 2 };

class TFormSettings {
public:
    // Builds the dialog (hidden) over the given owner; it edits the given record.
    explicit TFormSettings(HWND owner, CUserSettings& settings = UserSettings);
    ~TFormSettings();
    TFormSettings(const TFormSettings&) = delete;
    TFormSettings& operator=(const TFormSettings&) = delete;

    // Shows the dialog, filled from the record, and runs its loop with the owner disabled.
    // IDOK after OK (the record stored and saved), IDCANCEL after Cancel or the close box.
    int ShowModal();

    // Copies the record into the controls.
    void FillFromSettings();
    // Copies only the URLs' statuses from the record into the list's status column, leaving
    // every edit the user has not yet confirmed in place; rows whose URL the record does not
    // hold keep theirs.
    void ShowUrlStatuses();
    // Copies the controls into the record and saves it. False, with nothing stored and the
    // focus on the port field, when the port is no whole number.
    bool StoreToSettings();

    // Runs a check cycle on the main form ("Go"); unset, "Go" only commits the rows.
    std::function<void()> OnGo;
    // Stores the record once OK has filled it; unset, the record goes to the INI file beside
    // the program. The companion sends it to the service instead.
    std::function<void()> OnSave;
    // Shows a failed save's message; unset, a message box shows it.
    std::function<void(const std::string&)> OnError;
    // Opens the product's web site (by default in the browser).
    std::function<void()> OnLink = OpenProductWebSite;
    // "Send a test" of the "Alerts" tab: posts a test message to the channel (its address
    // empty when it is the one the monitor stores under the name). Unset, the button is
    // disabled. The outcome comes back through ShowWebhookTest.
    std::function<void(const WebhookChannel&)> OnTestWebhook;
    // Shows a test's outcome in words beside the channel, if the fields still show the channel
    // the test went to.
    void ShowWebhookTest(const std::string& name, const std::string& outcome);

    // For the loop of whoever shows the dialog modelessly (tests): the dialog's keyboard
    // handling (Tab, Enter, Esc). True when the message was used.
    bool PreTranslate(MSG& msg);
    // Shows the dialog without a loop of its own, filled from the record (tests).
    void Show();
    // 0 while open; IDOK or IDCANCEL once closed.
    int ModalResult() const { return modalResult; }

    HWND Handle() const { return handle.Get(); }
    HWND Control(int id) const { return ::GetDlgItem(handle.Get(), id); }
    int ActiveTab() const;
    void SelectTab(int tab);
    // The checks dialog of a row while it is open, else null.
    TFormSiteChecks* ChecksDialog() const { return checksDialog.get(); }

private:
    static LRESULT CALLBACK WndProc(HWND h, UINT m, WPARAM w, LPARAM l);
    static LRESULT CALLBACK GroupBoxProc(HWND h, UINT m, WPARAM w, LPARAM l, UINT_PTR,
                                         DWORD_PTR self);
    LRESULT Dispatch(HWND h, UINT m, WPARAM w, LPARAM l);
    void CreateControls();
    HWND Add(const char* cls, const char* text, DWORD style, int x, int y, int w, int h, int id,
             DWORD exStyle = 0);
    void AddTip(int id, const char* text);
    // Lays the dialog out for the DPI of its monitor: fonts, places and sizes, grown where a
    // text would not fit. Suggested: where the system wants the window after a move to a
    // monitor of another DPI; null when the dialog is new, which centres it.
    void Layout(UINT newDpi, const RECT* suggested);
    // Pixels the control needs across for its whole text, and down for a line of it.
    SIZE Needed(HWND control, HDC dc) const;
    HICON ButtonIcon(int iconId);
    void ShowPage(int tab);
    void DrawButton(const DRAWITEMSTRUCT& di);

    // Event handlers, named after the dialog's controls.
    void FormShow();
    void BitBtn3Click();
    void BitBtn2Click();
    void BitBtn1Click();
    void BitBtn5Click();
    void ListView1SelectItem();
    void CheckBox1Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void Edit3Exit(HWND newFocus);
    // Puts the focus on the port field with its text selected.
    void FocusPort();
    void StaticText2Click();
    void SpinExit(int edit);
    void SpinStep(int edit, int delta);
    void CommitRows();
    // Opens the checks dialog of the selected row; ChecksClosed takes its value back.
    void EditChecks();
    void ChecksClosed();
    // The colour of the tab pages, for the labels that lie on them.
    void TakePageColour();
    // "Alerts": the fields as typed, the channel list's rows, the row chosen, the buttons.
    WebhookFields ChannelFields() const;
    void ShowChannelFields(const WebhookFields& fields);
    void FillChannelList();
    void ChannelSelected();
    void AddChannel();
    void RemoveChannel();
    void TestChannel();
    void ChannelFieldsChanged();
    void AddMaintenance();
    void RemoveMaintenance();
    void ShowMaintenanceHint(const std::string& problem);

    std::string Text(int id) const;
    void SetText(int id, const std::string& text);
    bool Checked(int id) const;
    void SetChecked(int id, bool on);
    // Enables the control unless group policy sets what it edits.
    void Enable(int id, bool on);
    bool Locked(int id) const;
    // The controls of what policy sets, from the record's Enforced; each disabled, with a tip.
    void LockEnforced();
    // A disabled control gets no mouse: its tip is the dialog's, over the control's place, for
    // the controls of the page shown.
    void TipLocked();

    CUserSettings& settings;
    HWND owner;
    ScopedWindow handle;  // destroyed first, with the controls that use the fonts
    ScopedGdiObject font; // the dialog's text
    ScopedGdiObject linkFont;
    ScopedWindow tooltip;
    int modalResult = 0;

    // Each control's place at the design DPI, in the order of creation.
    std::vector<std::pair<int, RECT>> designPlaces;
    UINT dpi = 96;
    double scaleX = 1; // design pixels to the monitor's, across and down
    double scaleY = 1;
    std::vector<std::pair<int, ScopedIcon>> buttonIcons; // at the size for dpi
    ScopedGdiObject pageBrush;                           // the tab pages' background
    COLORREF pageColour = 0;
    std::unique_ptr<TFormSiteChecks> checksDialog;
    int checksRow = -1;
    AlertsForm alerts;
    bool fillingChannel = false; // the fields are being set from a row, not typed
    std::vector<int> locked;     // controls of what group policy sets
};

// The dialog while it is open, else null; the check cycle refreshes it through this.
extern TFormSettings* FormSettings;
