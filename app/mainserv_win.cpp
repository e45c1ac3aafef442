#include "mainserv_win.h"

#include "app/eventsource_win.h"
#include "app/frmblind_win.h"
#include "base/paths_win.h"
#include "base/product.h"
#include "base/text.h"
#include "base/window_win.h"
#include "base/thread_win.h"
#include "base/utf_win.h"

#include <shellapi.h>

#include <cstdlib>
#include <stdexcept>
#include <typeinfo>
#ifdef __GNUC__
#include <cxxabi.h>
#endif

#include "vigrelevents.h"

TVigrel* Vigrel = nullptr;
TServiceApplication* Application = nullptr;

namespace {

const char* const ApplicationWindowClass = "TApplication";

// -install and -uninstall need an administrator, but the program stays "as invoker" for the
// service manager: a copy started without the rights asks for consent and lets an elevated
// copy of itself do the work, before either takes the single-instance mutex.
bool registrationNeedsConsent() {
    std::vector<std::string> args(__argv + 1, __argv + __argc);
    if (!FindCmdLineSwitch(args, "INSTALL") && !FindCmdLineSwitch(args, "UNINSTALL"))
        return false;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    ScopedKernelHandle owned(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           !elevation.TokenIsElevated;
}

int runElevatedCopy() {
    // The arguments as given.
    const wchar_t* rest = CommandLineArguments();
    const std::wstring program = Widen(ProgramPath());
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = rest;
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info) || !info.hProcess)
        return static_cast<int>(::GetLastError()); // ERROR_CANCELLED when consent is refused
    ScopedKernelHandle process(info.hProcess);
    ::WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

std::string className(const std::exception& e) {
    const char* name = typeid(e).name();
#ifdef __GNUC__
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (plain) {
        std::string result = plain;
        std::free(plain);
        return result;
    }
#endif
    return name;
}

void showMessage(const std::string& text, UINT icon, const char* title) {
    ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(title).c_str(), MB_OK | icon | MB_TASKMODAL);
}

class SystemError : public std::runtime_error {
public:
    explicit SystemError(DWORD code) : std::runtime_error(SysErrorMessage(code)) {}
};

} // namespace

std::string SysErrorMessage(DWORD code) {
    std::string text = SystemErrorText(code);
    if (text.empty())
        text = "System Error.  Code: " + std::to_string(code) + ".";
    return text;
}

void TEventLogger::LogMessage(const std::string& text, WORD type) {
    Report(MSG_ERROR, type, {text});
}

void TEventLogger::Report(DWORD id, WORD type, const std::vector<std::string>& strings) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!handle_)
        handle_.Reset(::RegisterEventSourceW(nullptr, Widen(source_).c_str()));
    if (!handle_)
        return;
    // The texts may carry a path or a URL outside the ANSI code page. An insertion is cut
    // below the 31,839 characters an entry's string may have.
    constexpr size_t MaxInsertion = 31000;
    std::vector<std::wstring> wide;
    std::vector<const wchar_t*> pointers;
    for (const std::string& text : strings)
        wide.push_back(Widen(text).substr(0, MaxInsertion));
    // The pointers once every text is in place: the vector may move them while it grows.
    for (const std::wstring& text : wide)
        pointers.push_back(text.c_str());
    ::ReportEventW(handle_.Get(), type, 0, id, nullptr, static_cast<WORD>(pointers.size()), 0,
                   pointers.data(), nullptr);
}

TEventLogger& ProgramEvents() {
    // Never destroyed: a thread still writing while the process ends finds it whole.
    static TEventLogger* const events = new TEventLogger(ProductName);
    return *events;
}

// ---------------------------------------------------------------------------------------------
// TService

TService::TService(std::string name)
    : Name(name), DisplayName(name), logger_(name),
      resume_(::CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      queueReady_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

TService::~TService() = default;

void TService::SetStatus(TCurrentStatus status) {
    std::lock_guard<std::mutex> guard(statusLock_);
    ServiceStatusRecord r = statusRule_.Next(status);
    if (!statusHandle_)
        return;
    // The record's fields in the order of SERVICE_STATUS.
    SERVICE_STATUS s = {r.serviceType,
                        r.currentState,
                        r.controlsAccepted,
                        r.win32ExitCode,
                        r.serviceSpecificExitCode,
                        r.checkPoint,
                        WaitHint};
    if (!::SetServiceStatus(statusHandle_, &s))
        logger_.LogMessage(SysErrorMessage(::GetLastError()));
}

void TService::Main(DWORD argc, LPSTR* argv) {
    for (DWORD i = 0; i < argc; ++i)
        params_.push_back(argv[i] ? argv[i] : "");
    statusHandle_ = ::RegisterServiceCtrlHandlerA(Name.c_str(), GetServiceController());
    if (!statusHandle_) {
        logger_.LogMessage(SysErrorMessage(::GetLastError()));
        return;
    }
    SetStatus(csStartPending);
    DWORD threadId = 0;
    ScopedKernelHandle thread = StartThread(
        [this] {
            runServiceThread();
            return DWORD{0};
        },
        &threadId);
    threadId_ = threadId;
    if (thread) {
        // The control handler posts to the thread's queue, which must exist first.
        const HANDLE waits[] = {queueReady_.Get(), thread.Get()};
        ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        ::WaitForSingleObject(thread.Get(), INFINITE);
        logger_.Report(MSG_SERVICE_STOPPED, EVENTLOG_INFORMATION_TYPE, {Name});
    } else {
        logger_.LogMessage(ServiceFailedText("start", SysErrorMessage(::GetLastError())));
    }
    SetStatus(csStopped);
}

void TService::runServiceThread() {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    ::SetEvent(queueReady_.Get());
    try {
        SetStatus(csStartPending);
        SetStatus(csRunning);
    } catch (const std::exception& e) {
        logger_.LogMessage(ServiceFailedText("start", e.what()));
        return;
    }
    logger_.Report(MSG_SERVICE_STARTED, EVENTLOG_INFORMATION_TYPE, {Name});
    try {
        if (OnExecute)
            OnExecute(*this);
        else
            while (!terminated_)
                ProcessRequests(true);
    } catch (const std::exception& e) {
        logger_.LogMessage(ServiceFailedText("execute", e.what()));
    }
    while (ProcessRequests(false)) {
    }
}

bool TService::ProcessRequests(bool wait) {
    MSG msg;
    if (wait) {
        if (::GetMessageA(&msg, nullptr, 0, 0) <= 0) {
            terminated_ = true;
            return false;
        }
    } else if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (msg.hwnd == nullptr && msg.message == CM_SERVICE_CONTROL_CODE)
        doControl(static_cast<DWORD>(msg.wParam));
    else
        ::DispatchMessageA(&msg);
    return true;
}

void TService::doControl(DWORD code) {
    const TCurrentStatus before = Status();
    try {
        switch (code) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            SetStatus(csStopPending);
            if (OnStop)
                OnStop();
            else
                terminated_ = true;
            break;
        case SERVICE_CONTROL_PAUSE:
            SetStatus(csPausePending);
            SetStatus(csPaused);
            // Only this thread stops; the main form's timer and cycles go on.
            ::WaitForSingleObject(resume_.Get(), INFINITE);
            break;
        case SERVICE_CONTROL_CONTINUE:
            SetStatus(csContinuePending);
            SetStatus(csRunning);
            break;
        case SERVICE_CONTROL_INTERROGATE:
            SetStatus(Status());
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        if (code != SERVICE_CONTROL_SHUTDOWN)
            SetStatus(before);
        logger_.LogMessage(ServiceFailedText(code, e.what()));
    }
}

void TService::End() {
    // A paused service thread is let go first.
    ::SetEvent(resume_.Get());
    if (threadId_)
        ::PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
}

void TService::Controller(DWORD code) {
    // A pause holds the service thread until the next request of any kind; resetting before
    // posting means a continue that overtakes the pause still lets it go.
    if (code == SERVICE_CONTROL_PAUSE)
        ::ResetEvent(resume_.Get());
    ::PostThreadMessageA(threadId_, CM_SERVICE_CONTROL_CODE, code, 0);
    if (code != SERVICE_CONTROL_PAUSE)
        ::SetEvent(resume_.Get());
}

// ---------------------------------------------------------------------------------------------
// TVigrel

namespace {

void WINAPI vigrelController(DWORD code) {
    if (Vigrel)
        Vigrel->Controller(code);
}

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
    if (!Application || argc == 0)
        return;
    if (TService* service = Application->FindService(argv[0]))
        service->Main(argc, argv);
}

} // namespace

TVigrel::TVigrel() : TService(ProductName) {
    DisplayName = ProductName;
    OnExecute = [this](TService& sender) { ServiceExecute(sender); };
    // A stop through the service manager ends the program as "Exit" does.
    OnStop = [] {
        if (Application)
            Application->RequestEnd();
    };
}

void TVigrel::ServiceExecute(TService& sender) {
    while (!sender.Terminated())
        sender.ProcessRequests(true);
}

LPHANDLER_FUNCTION TVigrel::GetServiceController() {
    return vigrelController;
}

// ---------------------------------------------------------------------------------------------
// TServiceApplication

// Under the service's own source, whose message table formats every entry of the program.
TServiceApplication::TServiceApplication() : eventLogger_(ProductName) {
    for (int i = 1; i < __argc; ++i)
        args_.push_back(__argv[i]);
}

TServiceApplication::~TServiceApplication() {
    // The form goes first: its destruction removes the tray icon.
    mainForm_.reset();
    services_.clear();
    Vigrel = nullptr;
}

LRESULT CALLBACK TServiceApplication::appWndProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    switch (message) {
    case WM_ENDSESSION:
        // Logging off must not end the service with the user's session.
        return 0;
    case WM_SYSCOMMAND:
        // A second copy's restore request: the window stays hidden, nothing to show.
        if ((wParam & 0xFFF0) == SC_RESTORE)
            return 0;
        break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void TServiceApplication::Initialize() {
    RegisterWindowClass(ApplicationWindowClass, appWndProc);
    const std::string title = ApplicationTitle(ProgramPath());
    handle_.Reset(::CreateWindowExA(WS_EX_TOOLWINDOW, ApplicationWindowClass, title.c_str(),
                                    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr));
}

void TServiceApplication::CreateMainForm() {
    mainForm_ = std::make_unique<TFormBlind>(handle_.Get());
    formWindow_ = mainForm_->Handle();
    mainForm_->FormCreate();
}

void TServiceApplication::AddService(std::unique_ptr<TService> service) {
    services_.push_back(std::move(service));
}

TService* TServiceApplication::FindService(const std::string& name) {
    for (auto& service : services_)
        if (SameText(service->Name, name))
            return service.get();
    return nullptr;
}

void TServiceApplication::Terminate() {
    terminated_ = true;
    ::PostQuitMessage(0);
}

void TServiceApplication::RequestEnd() {
    if (HWND form = formWindow_)
        ::PostMessageA(form, WM_CLOSE, 0, 0);
    else
        ::PostMessageA(Handle(), WM_QUIT, 0, 0);
}

void TServiceApplication::HandleException(const std::exception& e) {
    eventLogger_.LogMessage(e.what());
}

void TServiceApplication::Run() {
    const bool silent = FindCmdLineSwitch(args_, "SILENT");
    if (FindCmdLineSwitch(args_, "INSTALL")) {
        registerServices(true, silent);
        return;
    }
    if (FindCmdLineSwitch(args_, "UNINSTALL")) {
        registerServices(false, silent);
        return;
    }
    runServices();
}

void TServiceApplication::registerServices(bool install, bool silent) {
    // Wide throughout: a program folder outside the ANSI code page must reach the registration
    // as it is, or the service manager cannot start the program.
    ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        throw SystemError(::GetLastError());
    const std::wstring binaryPath = Widen(QuotedBinaryPath(ProgramPath()));
    bool allDone = true;
    for (auto& service : services_) {
        try {
            if (install) {
                const DWORD type = SERVICE_WIN32_OWN_PROCESS |
                                   (service->Interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
                ScopedServiceHandle created(
                    ::CreateServiceW(manager.Get(), Widen(service->Name).c_str(),
                                     Widen(service->DisplayName).c_str(), SERVICE_ALL_ACCESS, type,
                                     service->StartType, service->ErrorSeverity, binaryPath.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr));
                if (!created)
                    throw SystemError(::GetLastError());
                if (std::string error = InstallEventSource(ProgramPath()); !error.empty())
                    throw std::runtime_error(error);
            } else {
                ScopedServiceHandle opened(::OpenServiceW(
                    manager.Get(), Widen(service->Name).c_str(), SERVICE_ALL_ACCESS));
                if (!opened || !::DeleteService(opened.Get()))
                    throw SystemError(::GetLastError());
                if (std::string error = RemoveEventSource(); !error.empty())
                    throw std::runtime_error(error);
            }
        } catch (const std::exception& e) {
            allDone = false;
            showMessage(install ? InstallFailedText(service->DisplayName, e.what())
                                : UninstallFailedText(service->DisplayName, e.what()),
                        MB_ICONERROR, "Error");
        }
    }
    if (allDone && !silent)
        showMessage(install ? InstallOkText : UninstallOkText, MB_ICONINFORMATION, "Information");
}

void TServiceApplication::runDispatcher() {
    std::vector<std::string> names;
    for (auto& service : services_)
        names.push_back(service->Name);
    std::vector<SERVICE_TABLE_ENTRYA> table;
    for (auto& name : names)
        table.push_back({name.data(), serviceMain});
    table.push_back({nullptr, nullptr});
    dispatcherResult_ = ::StartServiceCtrlDispatcherA(table.data()) ? 0 : ::GetLastError();
    ::PostMessageA(Handle(), WM_QUIT, 0, 0);
}

void TServiceApplication::runServices() {
    ScopedKernelHandle dispatcher = StartThread([this] {
        runDispatcher();
        return DWORD{0};
    });
    if (!dispatcher) {
        eventLogger_.LogMessage(SysErrorMessage(::GetLastError()));
        return;
    }
    // One message; false when the loop is to end.
    const auto dispatchOne = [this] {
        MSG msg;
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            return false;
        try {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        } catch (const std::exception& e) {
            HandleException(e);
        } catch (...) {
            HandleException(std::runtime_error("Unknown exception"));
        }
        return true;
    };
    while (!terminated_ && dispatchOne()) {
    }
    // Started by hand rather than by the service manager, the dispatcher returns at once: the
    // cycle the form has begun is let finish first (its probes all end within their time-out).
    while (!terminated_ && mainForm_ && mainForm_->CycleRunning() && dispatchOne()) {
    }
    endServices(dispatcher.Get());
}

void TServiceApplication::endServices(HANDLE dispatcher) {
    // The icon and the pipe's name go with the form, then the single-instance lock: a start
    // that follows STOPPED finds nothing of this process in its way.
    formWindow_ = nullptr;
    mainForm_.reset();
    if (OnEnding)
        OnEnding();
    // The service thread reports STOPPED and the dispatcher returns; a thread that does not
    // end is not waited for long, the process ends anyway.
    for (auto& service : services_)
        service->End();
    constexpr DWORD EndBoundMs = 3000;
    ::WaitForSingleObject(dispatcher, EndBoundMs);
    if (dispatcherResult_ != 0)
        eventLogger_.LogMessage(SysErrorMessage(dispatcherResult_));
}

// ---------------------------------------------------------------------------------------------
// Entry

void PostRestoreSignal() {
    if (HWND window = ::FindWindowA(nullptr, ProductName))
        ::PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
}

int VigrelMain() {
    if (registrationNeedsConsent())
        return runElevatedCopy();
    ScopedKernelHandle mutex(::CreateMutexA(nullptr, TRUE, ProductName));
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        PostRestoreSignal();
        return 0;
    }
    try {
        TServiceApplication app;
        Application = &app;
        try {
            app.Initialize();
            if (app.Args().empty())
                app.CreateMainForm();
            app.OnEnding = [&mutex] {
                if (mutex)
                    ::ReleaseMutex(mutex.Get());
                mutex.Reset();
            };
            auto vigrel = std::make_unique<TVigrel>();
            Vigrel = vigrel.get();
            app.AddService(std::move(vigrel));
            app.Run();
        } catch (...) {
            Application = nullptr;
            throw;
        }
        Application = nullptr;
    } catch (const std::exception& e) {
        const std::string text =
            ApplicationErrorText(className(e), ProgramFileName(ProgramPath()), nullptr, e.what());
        ::MessageBoxW(nullptr, Widen(text).c_str(), L"Application Error", MB_OK | MB_ICONERROR);
    } catch (...) {
        const std::string text = ApplicationErrorText("Exception", ProgramFileName(ProgramPath()),
                                                      nullptr, "Unknown exception");
        ::MessageBoxW(nullptr, Widen(text).c_str(), L"Application Error", MB_OK | MB_ICONERROR);
    }
    if (mutex)
        ::ReleaseMutex(mutex.Get());
    return 0;
}
