// The hidden main form: never shown, it receives the tray icon's callbacks, owns the menus and
// the schedule timer, and drives every check cycle from the main thread. The probes themselves
// run on the platform's threads; their answers come back to this thread as messages, so the
// tray, the menus, the control channel and a stop are answered while a cycle runs.
#pragma once

#include "base/handle_win.h"
#include "control/controlserver_win.h"
#include "monitor/alertmail_win.h"
#include "app/historyoutput_win.h"
#include "app/monitorchannels_win.h"
#include "app/pipestatus_win.h"
#include "app/settingsclick_win.h"
#include "monitor/checkcycle.h"
#include "monitor/checkengine.h"
#include "monitor/history_win.h"
#include "monitor/webhooksender_win.h"
#include "monitor/winhttpprobe_win.h"
#include "ui/traymenus_win.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Command ids of the main menu's items: choosing an item sends WM_COMMAND with its id to the
// form, so posting the same message does what the user's click does.
enum TFormBlindCommand : WORD {
    cmdCheckNow1 = cmdCheckNow,
    cmdSettings1 = cmdSettings,
    cmdStop1 = cmdExit, // "Exit"
    cmdWebsite1 = cmdWebsite
};

// The form window's class and caption, for whoever needs to find it.
inline constexpr const char* FormBlindClassName = "TFormBlind";
inline constexpr const char* FormBlindCaption = "FormBlind";

class TFormBlind : public CheckCycleHost, public ControlHandler {
public:
    // Construction order: window, tray member, globals, session, settings Load.
    explicit TFormBlind(HWND owner);
    ~TFormBlind() override;
    TFormBlind(const TFormBlind&) = delete;
    TFormBlind& operator=(const TFormBlind&) = delete;

    HWND Handle() const { return handle_.Get(); }

    // Event handlers.
    void FormCreate();
    void FormClose();
    void Timer1Timer();
    void CheckNow1Click();
    void Settings1Click();
    void Stop1Click();
    void Website1Click();

    // Closing the main form ends the program: FormClose, then the application terminates.
    void Close();

    // Starts a check cycle with this form as its host; during one, asks for one more after it.
    void CheckSites();
    bool CycleRunning() const { return engine_ && engine_->Running(); }

    // CheckCycleHost
    void SetTrayIcon(int state) override;
    void SetTip(const std::string& tip) override;
    void ClearFailedSites() override;
    void AddFailedSite(const std::string& url, const ProbeResult& result) override;
    void AddWarnedSite(const std::string& url, const ProbeResult& result) override;
    void WriteLog(const std::string& text) override;
    void SendAlertMail(const CycleMail& mail) override;
    void RefreshSettingsDialog() override;

    // ControlHandler: called on the channel's thread, each hands its work to this form's
    // thread. A request whose client has left by then is dropped.
    void CheckNow(ControlReply reply) override;
    void GetSettings(ControlReply reply) override;
    void SetSettings(const ControlMessage& settings, ControlReply reply) override;
    void CheckList(const std::vector<std::string>& urls, ControlReply reply) override;
    void Diagnose(const std::string& url, ControlReply reply) override;
    void Stop(ControlReply reply) override;
    void History(const std::string& url, const std::string& span, ControlReply reply) override;
    void TestWebhook(const ControlMessage& request, ControlReply reply) override;
    void StartMaintenance(std::int32_t minutes, ControlReply reply) override;

    // The settings dialog's "Send a test": posts to the channel, the outcome comes back to the
    // dialog on this form's thread.
    void TestWebhookFromDialog(const WebhookChannel& channel);

    // The mail thread; null until a mail was sent.
    HANDLE MailThread() const { return alertMail_.MailThread(); }

    LRESULT TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Applies TimeSpan to Timer1; the timer restarts only when its interval or state changes.
    void armTimer1();
    SettingsSteps settingsSteps();
    // Runs work on this form's thread, from any thread; false when it cannot be queued.
    bool postToForm(std::function<void()> work);
    // Posts a client's request to the form, or answers that the form cannot take it.
    void serveOnForm(const ControlReply& reply, std::function<void()> work);
    void runPosted();
    // Empty when the settings were applied; otherwise why not.
    std::string applyControlSettings(const ControlMessage& message);
    void publishStatus(bool push);
    // The webhook sender, set to the proxy of the settings in force.
    WebhookSender& webhooks();
    // A cycle the gate let through: reads an unread settings file first, then starts probing.
    void runCycle();
    void cycleDone(const CycleResults& results);
    // The outputs of every cycle, in the order they are told; registered in one place.
    CycleOutputs outputsOfCycles();
    // The end of every cycle, also of one that could not start: the queued one, if any, follows.
    void cycleEnded();

    ScopedWindow handle_;
    // The icon, its pictures and both menus; it sees every message of the form first.
    std::unique_ptr<TTrayUi> tray_;
    TAlertMail alertMail_;
    AlertPolicy alertPolicy_;
    ScheduleRule timer1_;
    // The probes of every cycle and the engine that schedules them; both end with FormClose.
    std::unique_ptr<WinHttpEngineProbe> probe_;
    std::unique_ptr<CheckEngine> engine_;
    CycleGate cycleGate_;
    bool closing_ = false;
    // What the icon shows, as the control channel reports it.
    MonitorStatus status_;
    std::unique_ptr<ControlServer> control_;
    // Every cycle's outcome, kept beside the program for [History] Days.
    HistoryStore history_;
    // The outputs of a cycle.
    StatusReport statusReport_;
    AlertReport alertReport_;
    // The alert channels besides the mail: each posts on a thread of its own.
    WebhookSender webhooks_;
    EventLogOutput eventLog_;
    MetricsOutput metrics_;
    HistoryOutput historyOutput_{history_, UserSettings};
    PipeStatusOutput pipeStatus_{status_, [this](bool push) { publishStatus(push); }};
    CycleOutputs outputs_;
    std::mutex postedLock_;
    std::deque<std::function<void()>> posted_;
    // The answer to a "stop", given once the settings were saved or failed to be.
    ControlReply stopReply_;
    // Lists being checked for clients, each on a thread of its own.
    std::shared_ptr<std::atomic<int>> checkLists_ = std::make_shared<std::atomic<int>>(0);
};

extern TFormBlind* FormBlind;
