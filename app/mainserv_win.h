// The service application: program entry, the service object TVigrel, the event-log writer and
// the message loop that the hidden main form lives in.
#pragma once

#include "app/mainserv.h"
#include "base/handle_win.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Entries in the Application event log under one source name; any thread.
class TEventLogger {
public:
    explicit TEventLogger(std::string source) : source_(std::move(source)) {}
    // A failure in words of its own: the table's generic entry, its text the one insertion.
    void LogMessage(const std::string& text, WORD type = EVENTLOG_ERROR_TYPE);
    // The entry id of the message table (vigrelevents.h) with its insertion strings.
    void Report(DWORD id, WORD type, const std::vector<std::string>& strings);

private:
    std::string source_;
    std::mutex lock_;
    ScopedEventSource handle_;
};

// The program's entries under the source "Vigrel", from any thread at any time while the
// process lives (a mail thread may outlast the application object).
TEventLogger& ProgramEvents();

// The system's text for an error code, without the line end.
std::string SysErrorMessage(DWORD code);

// A service of this process: its registration values, its status towards the service manager
// and the thread that carries out the manager's control requests.
class TService {
public:
    explicit TService(std::string name);
    virtual ~TService();
    TService(const TService&) = delete;
    TService& operator=(const TService&) = delete;

    std::string Name;
    std::string DisplayName;
    bool Interactive = true;
    DWORD StartType = SERVICE_AUTO_START;
    DWORD ErrorSeverity = SERVICE_ERROR_NORMAL;
    bool AllowStop = true;
    bool AllowPause = true;
    DWORD WaitHint = VigrelWaitHint;

    // Runs on the service thread; the default carries out control requests until stopped.
    std::function<void(TService& sender)> OnExecute;
    // Called on the service thread when the manager asks for a stop or the system shuts down,
    // after STOP_PENDING was reported: the program ends its own way and then calls End.
    // Unset, the service thread ends at once and reports STOPPED.
    std::function<void()> OnStop;
    // Ends the service thread, which reports STOPPED as its last act; any thread.
    void End();

    // Sets the status and reports it to the service manager at once (when it started us).
    void SetStatus(TCurrentStatus status);
    TCurrentStatus Status() const { return static_cast<TCurrentStatus>(statusRule_.State()); }
    bool Terminated() const { return terminated_; }
    // Handles the next control request (waiting for one when wait is true); false when none.
    bool ProcessRequests(bool wait);

    // The service-main routine for this service, and the control entry the manager calls.
    void Main(DWORD argc, LPSTR* argv);
    void Controller(DWORD code);
    // The plain function registered as the control handler; it forwards to Controller.
    virtual LPHANDLER_FUNCTION GetServiceController() = 0;

    TEventLogger& EventLogger() { return logger_; }
    const std::vector<std::string>& Params() const { return params_; }

private:
    void runServiceThread();
    void doControl(DWORD code);

    std::mutex statusLock_; // the form's thread reports a stop too
    StatusReportRule statusRule_;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    TEventLogger logger_;
    std::vector<std::string> params_;
    bool terminated_ = false; // only the service thread touches it
    std::atomic<DWORD> threadId_{0};
    // Set while the service thread may run; reset by a pause request, set by any other.
    ScopedKernelHandle resume_;
    ScopedKernelHandle queueReady_;
};

class TVigrel : public TService {
public:
    TVigrel();
    void ServiceExecute(TService& sender);
    LPHANDLER_FUNCTION GetServiceController() override;
};

// The service object; created by the entry, owned by the application.
extern TVigrel* Vigrel;

class TFormBlind;

class TServiceApplication {
public:
    TServiceApplication();
    ~TServiceApplication();
    TServiceApplication(const TServiceApplication&) = delete;
    TServiceApplication& operator=(const TServiceApplication&) = delete;

    // Creates the hidden application window; the main form is never shown by it.
    void Initialize();
    void CreateMainForm();
    void AddService(std::unique_ptr<TService> service);
    // Registration with the INSTALL/UNINSTALL switches, else the dispatcher and message loop.
    void Run();
    // Ends the message loop; used when the main form closes.
    void Terminate();
    // Asks the main form to close as "Exit" does (or, without a form, the loop to end); any
    // thread.
    void RequestEnd();
    // Called once the form is gone and right before the services report STOPPED: whatever a
    // new start of the program would find taken is given up here.
    std::function<void()> OnEnding;
    // Where exceptions escaping event handlers go while the loop runs.
    void HandleException(const std::exception& e);

    HWND Handle() const { return handle_.Get(); }
    TEventLogger& EventLogger() { return eventLogger_; }
    TService* FindService(const std::string& name);
    const std::vector<std::string>& Args() const { return args_; }

private:
    // The service thread of the process: hands the control dispatcher every service's name.
    void runDispatcher();
    static LRESULT CALLBACK appWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void registerServices(bool install, bool silent);
    void runServices();
    // The last steps of the process, however it was asked to end; the services report
    // STOPPED last.
    void endServices(HANDLE dispatcher);

    std::vector<std::string> args_;
    ScopedWindow handle_;
    TEventLogger eventLogger_;
    std::vector<std::unique_ptr<TService>> services_;
    std::unique_ptr<TFormBlind> mainForm_;
    std::atomic<HWND> formWindow_{nullptr}; // read by the service thread
    bool terminated_ = false;
    DWORD dispatcherResult_ = 0;
};

extern TServiceApplication* Application;

// The program's main routine: single instance, application, form, service, loop. Exit code 0.
int VigrelMain();

// The restore signal a second copy posts to the first one's window titled ProductName.
void PostRestoreSignal();
