// The companion in the user's session: the service's icon, menus and settings dialog, shown
// where the user can see them, with the service reached only through a MonitorLink.
//
// Everything runs on the thread that created the companion: the link's events arrive from its
// message loop, so nothing here ever waits on the service.
#pragma once

#include "base/handle_win.h"
#include "control/monitorlink.h"
#include "ui/traymenus_win.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class TFormSettings;
class THistoryWindow;

// Lines of the main menu that only the companion has.
enum CompanionCommand : UINT {
    cmdStopMonitoring = 1101,
    cmdStartMonitor = 1102,
    cmdHistory = 1103,
    cmdMaintenance = 1104,      // "Maintenance for an hour"
    cmdMaintenanceState = 1105, // the monitor's words for its maintenance, greyed
    cmdDiagnose = 1106,         // "Diagnose...": one address's way, as the service sees it
};

// The picture the companion shows while the monitor cannot be reached.
constexpr int NotRunningState = 4;
// The service's picture of every site up, some with a warning.
constexpr int WarningsState = 5;

// The tip of that picture.
std::string NotRunningTip();

// The link to the running monitor; owner is the companion's window, for a link that needs
// one to deliver its events on the companion's thread.
std::unique_ptr<MonitorLink> CreateMonitorLink(HWND owner);

// True when the user of this process is an administrator, elevated or not.
bool UserIsAdministrator();

class TCompanion {
public:
    using LinkFactory = std::function<std::unique_ptr<MonitorLink>(HWND owner)>;

    // Creates the hidden window, puts up the icon and joins the link made by makeLink.
    // administrator adds "Stop monitoring" to the main menu.
    TCompanion(const LinkFactory& makeLink, bool administrator,
               CSimpleTray::Notifier notifier = CSimpleTray::Notifier());
    ~TCompanion();
    TCompanion(const TCompanion&) = delete;
    TCompanion& operator=(const TCompanion&) = delete;

    // "Close": the companion ends; monitoring goes on. Unset, the thread's loop is quit.
    std::function<void()> OnClose = [] { ::PostQuitMessage(0); };
    // Starts the monitor; unset, the starter beside this program through the consent prompt.
    std::function<void()> OnStartMonitor;

    HWND Handle() const { return window.Get(); }
    TTrayUi& Ui() { return *ui; }
    MonitorLink& Link() { return *link; }
    // The picture shown now (0..3 and WarningsState the service's, NotRunningState).
    int State() const { return state; }
    // The History window while it is open, else null.
    THistoryWindow* History() const { return history.get(); }

    LRESULT HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Connection(bool connected);
    void Status(const MonitorStatus& status);
    void Settings(const CUserSettings& settings);
    void CheckList(const std::vector<MonitorCheckResult>& results);
    void Reply(const MonitorReply& reply);
    void OpenSettings();
    void ShowNote();
    void StartMonitor();
    void SetState(int picture);
    // The greyed first line of the main menu while maintenance windows cover sites.
    void ShowMaintenance(const std::string& words);
    void MarkMenu(bool connected);
    void OpenHistory();
    void Diagnose();

    ScopedWindow window;
    std::unique_ptr<TTrayUi> ui;
    CUserSettings edited; // what the dialog edits: the service's settings without the password
    bool settingsWanted = false;
    TFormSettings* dialog = nullptr;
    std::string note;        // a reply's message waiting to be shown
    std::string firstFailed; // offered to "Diagnose"
    int state = NotRunningState;
    bool administrator;
    std::unique_ptr<THistoryWindow> history;
    std::unique_ptr<MonitorLink> link; // first to go: its events use everything above
};
