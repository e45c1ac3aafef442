#include "frmblind_win.h"

#include "app/alertrequests.h"
#include "app/checklist_win.h"
#include "app/historyreply.h"
#include "app/mainserv_win.h"
#include "app/settingsclick_win.h"
#include "base/paths_win.h"
#include "base/window_win.h"
#include "monitor/clogger.h"
#include "monitor/clogger_win.h"
#include "monitor/pathstep_win.h"
#include "settings/cusersettings.h"
#include "settings/profilestore_win.h"
#include "base/product.h"
#include "base/thread_win.h"
#include "ui/frmsettingsrules.h"
#include "ui/frmsettings_win.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "vigrelevents.h"

TFormBlind* FormBlind = nullptr;

namespace {

constexpr UINT_PTR Timer1Id = 1;
// The engine's wake-up for a retry that waits for its time; one-shot.
constexpr UINT_PTR RetryTimerId = 2;
// Posted by FormCreate: the first cycle runs from the message loop, once the program is
// connected to the service manager, never before it.
constexpr UINT WM_FIRSTCHECK = WM_APP + 2;
// Posted when work of the control channel waits for the form.
constexpr UINT WM_CONTROLREQUEST = WM_APP + 3;
// Posted from the platform's threads when answers of probes wait for the engine.
constexpr UINT WM_PROBEANSWERS = WM_APP + 4;
// Posted by the mail thread when a report is done: wParam its number, lParam 1 if delivered.
constexpr UINT WM_MAILDONE = WM_APP + 20;
// Lists checked for clients at once; each ends within one probe's time after its client left.
constexpr int MaxCheckListThreads = 4;

// The local calendar day, for the rule that a warning alone mails once a day.
long localDay() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return DaysFromCivil(t.wYear, t.wMonth, t.wDay);
}

} // namespace

TFormBlind::TFormBlind(HWND owner)
    : history_(FolderOf(ProgramPath()), [](const std::string& text) { ::WriteLog(text); }),
      statusReport_(UserSettings, *this),
      alertReport_(UserSettings, *this, alertPolicy_, localDay, [] { return HistoryNow(); }),
      webhooks_([](const std::string& line) {
          ::WriteLog(line);
          ProgramEvents().Report(MSG_WEBHOOK_FAILED, EVENTLOG_ERROR_TYPE, {line});
      }),
      metrics_(UserSettings, [this](const std::string& text) { WriteLog(text); }),
      outputs_(outputsOfCycles()) {
    // 1. The form window: a tool window that is never made visible. Its messages come to
    // TrayWndProc from the first one on.
    RegisterWindowClass(FormBlindClassName, &wndProc);
    handle_.Reset(::CreateWindowExA(WS_EX_TOOLWINDOW, FormBlindClassName, FormBlindCaption,
                                    WS_POPUP | WS_CAPTION, 0, 0, 0, 0, owner, nullptr,
                                    ::GetModuleHandleA(nullptr), this));
    // 2. The tray member: pictures and menus, no icon yet, empty tip.
    tray_ = std::make_unique<TTrayUi>();
    tray_->OnCheckNow = [this] { CheckNow1Click(); };
    tray_->OnSettings = [this] { Settings1Click(); };
    tray_->OnExit = [this] { Stop1Click(); };
    tray_->OnWebsite = [this] { Website1Click(); };
    tray_->OnLog = [this](const std::string& text) { WriteLog(text); };
    // 3. No dialog is open; MailThread is null already.
    FormSettings = nullptr;
    FormBlind = this;
    // 4. One session for all probes; a failure shows as every probe failing.
    HWND window = handle_.Get();
    probe_ = std::make_unique<WinHttpEngineProbe>(
        [window] { ::PostMessageA(window, WM_PROBEANSWERS, 0, 0); });
    engine_ = std::make_unique<CheckEngine>(*probe_);
    engine_->OnCycleDone = [this](const CycleResults& results) { cycleDone(results); };
    engine_->OnWakeAfter = [window](std::uint32_t ms) {
        ::SetTimer(window, RetryTimerId, std::max<std::uint32_t>(ms, USER_TIMER_MINIMUM), nullptr);
    };
    alertReport_.OnMessage = [this](const AlertMessage& message) {
        webhooks().Send(SendingWebhooks(UserSettings), message);
    };
    alertMail_.OnMailFailed = [](const std::string& line) {
        ::WriteLog(line);
        ProgramEvents().Report(MSG_MAIL_FAILED, EVENTLOG_ERROR_TYPE, {line});
    };
    // 5.
    UserSettings.Load();
}

TFormBlind::~TFormBlind() {
    // The channel's thread goes before anything its requests would reach.
    control_.reset();
    // The window is destroyed after the members its last messages would reach: unjoin it.
    DetachWindowObject(handle_.Get());
    if (handle_) {
        ::KillTimer(handle_.Get(), Timer1Id);
        ::KillTimer(handle_.Get(), RetryTimerId);
    }
    // The tray member removes its icon if still shown; a mail thread is not waited for.
    tray_.reset();
    if (FormBlind == this)
        FormBlind = nullptr;
}

void TFormBlind::FormCreate() {
    if (UserSettings.Filter <= 0)
        WriteLog("Application Started");
    LoadSettings(UserSettings, settingsSteps());
    // Also when no line is written at start (the "Only Failure" level).
    SetLogDays(UserSettings.LogDays);
    RemoveOldLogs();
    history_.SetDays(UserSettings.HistoryDays);
    std::vector<std::string> sites;
    for (int i = 0; i < UserSettings.UrlCount(); ++i)
        sites.push_back(UserSettings.Url(i));
    // The lines of sites no longer listed are a note for the level that logs the program's own
    // events.
    history_.Start(sites, UserSettings.Filter <= 0);
    tray_->ShowIcon(Handle());
    armTimer1();
    // The service manager gives a starting service a few seconds to report that it runs; a
    // first cycle over silent sites takes longer, and run here it would kill the start.
    if (timer1_.Enabled() && !(handle_ && ::PostMessageA(handle_.Get(), WM_FIRSTCHECK, 0, 0)))
        CheckSites();
    // Without the channel the service still checks, logs and mails: the failure is reported
    // once and the program goes on.
    if (!handle_ || closing_)
        return;
    auto control = std::make_unique<ControlServer>(*this);
    std::string error;
    if (control->Start(error)) {
        control_ = std::move(control);
        publishStatus(false);
    } else if (error == PipeNameTakenText) {
        ProgramEvents().Report(MSG_PIPE_TAKEN, EVENTLOG_ERROR_TYPE, {ControlPipeName});
    } else if (Application) {
        Application->EventLogger().LogMessage(std::string("The control pipe ") + ControlPipeName +
                                              " could not be opened: " + error);
    }
}

void TFormBlind::armTimer1() {
    if (!timer1_.Arm(UserSettings.TimeSpan) || !handle_)
        return;
    ::KillTimer(handle_.Get(), Timer1Id);
    if (timer1_.Enabled())
        ::SetTimer(handle_.Get(), Timer1Id, timer1_.Interval(), nullptr);
}

void TFormBlind::Timer1Timer() {
    // A cycle longer than the interval is not followed by another at once: the next tick comes.
    if (CycleRunning())
        return;
    if (UserSettings.Filter <= 1)
        WriteLog("Autocheck started");
    CheckSites();
}

void TFormBlind::CheckNow1Click() {
    CheckSites();
}

SettingsSteps TFormBlind::settingsSteps() {
    SettingsSteps steps;
    steps.ArmSchedule = [this] { armTimer1(); };
    steps.CheckSites = [this] { CheckSites(); };
    steps.WriteLog = [this](const std::string& text) { WriteLog(text); };
    steps.ReportUnreadable = [](const std::string& text) {
        if (Application)
            Application->EventLogger().LogMessage(text);
    };
    steps.TestWebhook = [this](const WebhookChannel& channel) { TestWebhookFromDialog(channel); };
    return steps;
}

void TFormBlind::Settings1Click() {
    if (::Settings1Click(Handle(), UserSettings, settingsSteps()) == IDOK)
        publishStatus(true);
}

void TFormBlind::Stop1Click() {
    Close();
}

void TFormBlind::Website1Click() {
    OpenProductWebSite();
}

void TFormBlind::Close() {
    if (closing_)
        return;
    closing_ = true;
    FormClose();
    // The main form closing ends the application's loop; the process then reports that the
    // service stopped, as its last act.
    if (Application)
        Application->Terminate();
}

// Every way of ending comes here: "Exit", "stop" on the pipe, the service manager's stop. A
// settings file that cannot be written is reported, and the program ends all the same.
void TFormBlind::FormClose() {
    if (Vigrel)
        Vigrel->SetStatus(csStopPending);
    tray_->HideIcon(); // the icon goes before the settings are saved
    std::string unsaved;
    try {
        if (!UserSettings.Save())
            unsaved = "the settings file could not be written";
    } catch (const std::exception& e) {
        unsaved = e.what();
    }
    if (!unsaved.empty()) {
        WriteLog("Settings not saved: " + unsaved);
        if (Application)
            Application->EventLogger().LogMessage("The settings were not saved: " + unsaved);
    }
    stopReply_.Send(unsaved.empty()
                        ? ControlMessage(msg::Ok)
                        : ErrorMessage("failed", "Monitoring stops, but the settings could not "
                                                 "be saved: " +
                                                     unsaved));
    if (control_)
        control_->Stop();
    // A cycle under way ends unreported; the platform is given a moment to let go of its
    // requests.
    engine_.reset();
    probe_.reset();
    outputs_.Stopped();
    if (UserSettings.Filter <= 0)
        WriteLog("Application Stoped");
}

void TFormBlind::CheckSites() {
    if (cycleGate_.Request())
        runCycle();
}

void TFormBlind::runCycle() {
    if (closing_ || !engine_)
        return;
    // A settings file that could not be read is tried again before every cycle; until it has
    // been read there is nothing true to check.
    if (ProgramSettingsFile().Unread()) {
        if (!LoadSettings(UserSettings, settingsSteps())) {
            // Nothing is checked: the icon and the status must not go on saying all is well.
            SetTrayIcon(tsDisconnected);
            SetTip(ProgramSettingsFile().Problem());
            publishStatus(true);
            cycleEnded();
            return;
        }
        armTimer1();
    } else if (ProgramSettingsFile().PolicyChanged() &&
               LoadSettings(UserSettings, settingsSteps())) {
        // Group policy changes without telling anyone; its key costs a few reads, so each cycle
        // asks, and what it sets now is in force from this cycle on.
        armTimer1();
        publishStatus(true);
    }
    outputs_.CycleStarted();
    // The engine may end the cycle at once (cycleDone runs inside this call).
    StartCheck(UserSettings, *engine_);
}

CycleOutputs TFormBlind::outputsOfCycles() {
    // The tray's words first, the mail after them, the pipe's status last: it pushes what the
    // others have set.
    return {&statusReport_, &alertReport_, &eventLog_, &metrics_, &historyOutput_, &pipeStatus_};
}

void TFormBlind::cycleDone(const CycleResults& results) {
    outputs_.CycleDone({results, "http://" + UserSettings.Benchmark});
    cycleEnded();
}

void TFormBlind::cycleEnded() {
    if (cycleGate_.Finished())
        runCycle();
}

void TFormBlind::publishStatus(bool push) {
    status_.Maintenance = MaintenanceStatusText(UserSettings, HistoryNow());
    if (control_)
        control_->SetStatus(status_, push);
}

bool TFormBlind::postToForm(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        posted_.push_back(std::move(work));
        if (posted_.size() > 1)
            return true; // the message that takes the first takes this one too
    }
    if (handle_ && ::PostMessageA(handle_.Get(), WM_CONTROLREQUEST, 0, 0))
        return true;
    std::lock_guard<std::mutex> guard(postedLock_);
    posted_.clear();
    return false;
}

void TFormBlind::runPosted() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        batch.swap(posted_);
    }
    for (auto& work : batch) {
        if (closing_)
            return;
        try {
            work();
        } catch (const std::exception& e) {
            if (Application)
                Application->HandleException(e);
        }
    }
}

void TFormBlind::serveOnForm(const ControlReply& reply, std::function<void()> work) {
    // Work for a client that has left by the time the form takes it up is not done at all.
    const bool queued = postToForm([reply, work = std::move(work)] {
        if (reply.Wanted())
            work();
    });
    if (!queued)
        reply.Send(ErrorMessage("failed", "The monitor cannot take requests now."));
}

void TFormBlind::CheckNow(ControlReply reply) {
    serveOnForm(reply, [this, reply] {
        reply.Send(ControlMessage(msg::Ok));
        CheckNow1Click();
    });
}

void TFormBlind::GetSettings(ControlReply reply) {
    serveOnForm(reply, [this, reply] {
        reply.Send(SettingsReply(UserSettings, !UserSettings.Pass.empty()));
    });
}

void TFormBlind::SetSettings(const ControlMessage& settings, ControlReply reply) {
    serveOnForm(reply, [this, settings, reply] {
        try {
            const std::string refusal = applyControlSettings(settings);
            reply.Send(refusal.empty() ? ControlMessage(msg::Ok) : ErrorMessage("failed", refusal));
        } catch (const std::exception& e) {
            reply.Send(ErrorMessage("failed", e.what()));
            throw;
        }
    });
}

void TFormBlind::CheckList(const std::vector<std::string>& urls, ControlReply reply) {
    serveOnForm(reply, [this, urls, reply] {
        if (*checkLists_ >= MaxCheckListThreads) {
            reply.Send(ErrorMessage("failed", "Other lists are being checked; try again shortly."));
            return;
        }
        // The probes run on a thread of their own, with a session of their own, so that this
        // form goes on; the list's addresses that are listed are judged by their own checks.
        std::vector<SiteRecord> sites = SitesForCheck(UserSettings, urls);
        const EngineLimits limits = EngineLimitsFor(UserSettings);
        std::shared_ptr<std::atomic<int>> running = checkLists_;
        ++*running;
        ScopedKernelHandle thread = StartThread([sites = std::move(sites), limits, reply, running] {
            const std::vector<MonitorCheckResult> results =
                CheckSiteList(sites, limits, [&reply] { return reply.Wanted(); });
            if (!results.empty() || sites.empty())
                reply.Send(CheckListMessage(results));
            --*running;
            return DWORD{0};
        });
        if (!thread) {
            --*running;
            reply.Send(ErrorMessage("failed", "The list could not be checked now."));
        }
    });
}

void TFormBlind::Diagnose(const std::string& url, ControlReply reply) {
    serveOnForm(reply, [this, url, reply] {
        const std::string address = TrimBlanks(url);
        if (address.empty()) {
            reply.Send(ErrorMessage("failed", "Give the address to diagnose."));
            return;
        }
        if (*checkLists_ >= MaxCheckListThreads) {
            reply.Send(ErrorMessage("failed", "Other lists are being checked; try again shortly."));
            return;
        }
        // As a cycle would probe it: the listed address with its own checks, the proxy of the
        // settings; on a thread of its own, as a checklist.
        const std::string full =
            address.find("://") == std::string::npos ? "http://" + address : address;
        SiteRecord site = SitesForCheck(UserSettings, {full}).front();
        const std::uint32_t timeOut = EngineLimitsFor(UserSettings).TimeOut;
        std::shared_ptr<std::atomic<int>> running = checkLists_;
        ++*running;
        ScopedKernelHandle thread = StartThread([site = std::move(site), timeOut, reply, running] {
            try {
                reply.Send(DiagnoseMessage(site.Url, DiagnoseSite(site, timeOut)));
            } catch (const std::exception& e) {
                reply.Send(ErrorMessage("failed", e.what()));
            }
            --*running;
            return DWORD{0};
        });
        if (!thread) {
            --*running;
            reply.Send(ErrorMessage("failed", "The address could not be diagnosed now."));
        }
    });
}

void TFormBlind::Stop(ControlReply reply) {
    serveOnForm(reply, [this, reply] {
        // Answered once the settings were saved, or failed to be.
        stopReply_ = reply;
        Close();
    });
}

void TFormBlind::History(const std::string& url, const std::string& span, ControlReply reply) {
    serveOnForm(reply, [this, url, span, reply] {
        std::vector<std::string> urls;
        for (int i = 0; i < UserSettings.UrlCount(); ++i)
            urls.push_back(UserSettings.Url(i));
        MonitorHistory answer;
        history_.Read([&](const HistoryIndex& index, bool loading) {
            answer = HistoryAnswer(index, urls, url, span, HistoryNow());
            answer.Loading = loading;
        });
        answer.Off = UserSettings.HistoryDays <= 0;
        reply.Send(HistoryMessage(answer));
    });
}

void TFormBlind::TestWebhook(const ControlMessage& request, ControlReply reply) {
    serveOnForm(reply, [this, request, reply] {
        std::string refusal;
        const std::optional<WebhookChannel> channel =
            WebhookToTest(request, UserSettings.Webhooks, refusal);
        if (!channel) {
            reply.Send(ErrorMessage("failed", refusal));
            return;
        }
        // Answered from the post's own thread: the form goes on meanwhile.
        const std::string name = channel->Name;
        webhooks().Test(*channel, [reply, name](const std::string& outcome) {
            reply.Send(WebhookTestMessage(name, outcome));
        });
    });
}

void TFormBlind::TestWebhookFromDialog(const WebhookChannel& given) {
    std::string refusal;
    const std::optional<WebhookChannel> channel = WebhookToTest(UserSettings, given, refusal);
    if (!channel) {
        if (FormSettings)
            FormSettings->ShowWebhookTest(given.Name, refusal);
        return;
    }
    webhooks().Test(*channel, [this, name = channel->Name](const std::string& outcome) {
        postToForm([name, outcome] {
            if (FormSettings)
                FormSettings->ShowWebhookTest(name, outcome);
        });
    });
}

WebhookSender& TFormBlind::webhooks() {
    // The posts go out the way the checks do, as the settings say now.
    webhooks_.SetProxy(UserSettings.Proxy());
    return webhooks_;
}

void TFormBlind::StartMaintenance(std::int32_t minutes, ControlReply reply) {
    serveOnForm(reply, [this, minutes, reply] {
        if (FormSettings) {
            reply.Send(ErrorMessage("failed",
                                    "The settings dialog is open at the monitor; close it first."));
            return;
        }
        CUserSettings next = UserSettings;
        next.Maintenance = WithMaintenanceFromNow(next.Maintenance, HistoryNow(), minutes);
        const std::string refusal = ChangeSettings(UserSettings, next, settingsSteps());
        if (refusal.empty())
            publishStatus(true);
        reply.Send(refusal.empty() ? ControlMessage(msg::Ok) : ErrorMessage("failed", refusal));
    });
}

std::string TFormBlind::applyControlSettings(const ControlMessage& message) {
    if (FormSettings)
        return "The settings dialog is open at the monitor; close it first.";
    CUserSettings next = UserSettings;
    bool passwordSet = false;
    if (!SettingsFromMessage(message, next, passwordSet))
        return "A value in the settings does not read: a number that is no whole number, a "
               "webhook's kind, or a count that does not match its list.";
    // A list that no answer to getsettings could carry back would lock every client out of
    // the settings.
    if (std::string refusal = SettingsSizeRefusal(next); !refusal.empty())
        return refusal;
    // The password never comes out of the service, so an empty one means "keep it".
    if (next.Pass.empty())
        next.Pass = UserSettings.Pass;
    const std::string refusal = ChangeSettings(UserSettings, next, settingsSteps());
    if (refusal.empty())
        publishStatus(true);
    return refusal;
}

void TFormBlind::SetTrayIcon(int state) {
    tray_->SetTrayIcon(state);
    if ((state >= tsAllUp && state <= tsDisconnected) || state == tsWarnings)
        status_.Picture = state;
}

void TFormBlind::SetTip(const std::string& tip) {
    tray_->SetTip(tip);
    status_.Tip = tip;
}

void TFormBlind::ClearFailedSites() {
    tray_->ClearFailedSites(); // the warnings part too
    status_.Failed.clear();
    status_.Warnings.clear();
}

void TFormBlind::AddFailedSite(const std::string& url, const ProbeResult& result) {
    const std::string reason = ReasonText(result);
    tray_->AddFailedSite(url, reason);
    status_.Failed.push_back({url, reason, result.Milliseconds});
}

void TFormBlind::AddWarnedSite(const std::string& url, const ProbeResult& result) {
    tray_->AddWarnedSite(url, result.Warning);
    status_.Warnings.push_back({url, result.Warning, result.Milliseconds});
}

void TFormBlind::WriteLog(const std::string& text) {
    SetLogDays(UserSettings.LogDays);
    ::WriteLog(text);
}

void TFormBlind::SendAlertMail(const CycleMail& mail) {
    // The policy learns a report's outcome on this thread, as it learns everything else.
    const std::uint32_t number = alertPolicy_.LastReport();
    HWND window = handle_.Get();
    const auto done = [window, number](bool delivered) {
        ::PostMessageA(window, WM_MAILDONE, number, delivered ? 1 : 0);
    };
    if (!alertMail_.SendCycleMail(mail, UserSettings, done) && !mail.Report.empty())
        alertPolicy_.ReportDelivered(number, false);
}

void TFormBlind::RefreshSettingsDialog() {
    if (FormSettings)
        FormSettings->FillFromSettings();
}

LRESULT TFormBlind::TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The tray sees every message first: its callback, the menus' commands and glyphs, and
    // the shell's "TaskbarCreated".
    LRESULT result = 0;
    if (tray_ && tray_->HandleMessage(window, message, wParam, lParam, result))
        return result;
    switch (message) {
    case WM_TIMER:
        if (wParam == Timer1Id) {
            Timer1Timer();
            return 0;
        }
        if (wParam == RetryTimerId) {
            ::KillTimer(window, RetryTimerId);
            if (engine_)
                engine_->Tick();
            return 0;
        }
        break;
    case WM_FIRSTCHECK:
        if (!closing_)
            CheckSites();
        return 0;
    case WM_CONTROLREQUEST:
        runPosted();
        return 0;
    case WM_PROBEANSWERS:
        if (probe_ && engine_)
            probe_->DrainInto(*engine_);
        return 0;
    case WM_MAILDONE:
        alertPolicy_.ReportDelivered(static_cast<std::uint32_t>(wParam), lParam != 0);
        return 0;
    case WM_CLOSE:
        // A close from outside (a task manager, a test) takes the same way as "Exit".
        Close();
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TFormBlind::wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = WindowObject<TFormBlind>(window, message, lParam);
    if (!form)
        return ::DefWindowProcA(window, message, wParam, lParam);
    // An exception must not unwind through the system's dispatch: it goes to the event log
    // and the program goes on.
    try {
        return form->TrayWndProc(window, message, wParam, lParam);
    } catch (const std::exception& e) {
        if (Application)
            Application->HandleException(e);
    } catch (...) {
        if (Application)
            Application->HandleException(std::runtime_error("Unknown exception"));
    }
    return 0;
}
