// Vigrel.exe and Vigrelrun.exe against Wine's own service manager, in a prefix of their own,
// installed into a folder whose path holds a blank. Every test removes what it registered.
#include "fixtures/http_peer_win.h"
#include "fixtures/vigrel_service_win.h"
#include "app/frmblind_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace {

struct Process {
    HANDLE handle = nullptr;
    ~Process() {
        if (handle)
            ::CloseHandle(handle);
    }
    // The exit code, or -1 when the process did not end within the bound.
    long Wait(DWORD boundMs = 30000) {
        if (::WaitForSingleObject(handle, boundMs) != WAIT_OBJECT_0) {
            ::TerminateProcess(handle, 99);
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(handle, &code);
        return static_cast<long>(code);
    }
};

// The text of a message box: its static controls, joined.
std::string boxText(HWND box) {
    std::string text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {}, buffer[1024] = {};
        ::GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0 && ::GetWindowTextA(child, buffer, sizeof buffer) > 0)
            text += buffer;
    }
    return text;
}

class Service : public ::testing::Test {
protected:
    static std::string folder_; // with a blank in it
    static std::string vigrel_;
    static std::string starter_;

    static void SetUpTestSuite() {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "vigrel svc " + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(folder_.c_str(), nullptr);
        vigrel_ = folder_ + "\\Vigrel.exe";
        starter_ = folder_ + "\\Vigrelrun.exe";
        ASSERT_TRUE(::CopyFileA(fromUnix(VIGREL_EXE).c_str(), vigrel_.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA(fromUnix(VIGRELRUN_EXE).c_str(), starter_.c_str(), FALSE));
    }

    void SetUp() override {
        removeService();
        removeLogs();
        // Filter 0, a benchmark that answers and one URL up, one down.
        WriteIni(0, 1);
    }

    void TearDown() override {
        removeService();
        dismissBoxes();
    }

    HttpPeer peer_;

    std::string IniPath() const { return folder_ + "\\Vigrel.INI"; }

    // A silent site with a long TimeOut makes a first cycle longer than the service
    // manager's start limit.
    void WriteIni(int filter, int timeSpan, bool benchmarkUp = true, int silentTimeOut = 0) {
        const std::string benchmark =
            "127.0.0.1:" + std::to_string(benchmarkUp ? peer_.Port() : 1) + "/ok";
        std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
        out << "[General]\r\nBenchmark=" << benchmark << "\r\nTimeSpan=" << timeSpan
            << "\r\nTimeOut=" << (silentTimeOut ? silentTimeOut : 3000)
            << "\r\n[Log]\r\nFilter=" << filter << "\r\n[URLS]\r\n"
            << peer_.Url("/ok") << "=\r\n"
            << peer_.Url("/notfound") << "=\r\n";
        if (silentTimeOut)
            out << peer_.Url("/silent") << "=\r\n";
    }

    std::string Log() const { return readFile(TodaysLogPath(folder_)); }
    bool WaitForLog(const std::string& part, int boundMs = 20000) {
        return waitFor([&] { return contains(Log(), part); }, boundMs);
    }

    void removeLogs() {
        WIN32_FIND_DATAA found;
        HANDLE h = ::FindFirstFileA((folder_ + "\\log*.log").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return;
        do {
            const std::string path = folder_ + "\\" + found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ::RemoveDirectoryA(path.c_str());
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(h, &found));
        ::FindClose(h);
    }

    // Runs a program of the install folder. Wine writes the event log's error entries to the
    // debug channel "eventlog" on the standard error it inherited from this test, which the
    // test's command line sends to VIGREL_STDERR_LOG.
    Process Start(const std::string& program, const std::string& args) {
        std::string command = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        const BOOL ok = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                         nullptr, folder_.c_str(), &si, &pi);
        EXPECT_TRUE(ok) << command;
        Process p;
        p.handle = pi.hProcess;
        if (pi.hThread)
            ::CloseHandle(pi.hThread);
        return p;
    }

    // Event-log entries written since the mark.
    static std::string stderrFile() {
        const char* path = std::getenv("VIGREL_STDERR_LOG");
        return path ? fromUnix(path) : std::string();
    }
    size_t EventsMark() const { return readFile(stderrFile()).size(); }
    std::string EventsSince(size_t mark) const {
        const std::string all = readFile(stderrFile());
        return mark < all.size() ? all.substr(mark) : std::string();
    }
    static ::testing::AssertionResult OneErrorEntry(const std::string& events) {
        const std::string entry = "err:eventlog:ReportEventW L\"";
        const size_t first = events.find(entry);
        if (first == std::string::npos)
            return ::testing::AssertionFailure() << "no event-log entry in: " << events;
        if (events.find(entry, first + 1) != std::string::npos)
            return ::testing::AssertionFailure() << "more than one entry in: " << events;
        return ::testing::AssertionSuccess();
    }

    // Finds the message box with this title, checks its text and presses OK like a user.
    ::testing::AssertionResult PressOk(const char* title, const std::string& expectedText) {
        HWND box = nullptr;
        if (!waitFor([&] { return (box = ::FindWindowA("#32770", title)) != nullptr; }))
            return ::testing::AssertionFailure() << "no message box titled " << title;
        std::string text;
        waitFor([&] { return !(text = boxText(box)).empty(); }, 5000);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        if (!waitFor([&] { return !::IsWindow(box); }))
            return ::testing::AssertionFailure() << "the box did not go away";
        if (!contains(text, expectedText))
            return ::testing::AssertionFailure() << "box text: " << text;
        return ::testing::AssertionSuccess();
    }

    void dismissBoxes() {
        for (HWND box; (box = ::FindWindowA("#32770", nullptr)) != nullptr;) {
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
            if (!waitFor([&] { return !::IsWindow(box); }, 5000))
                break;
        }
    }

    static bool WaitForState(DWORD state, int boundMs = 20000) {
        return waitFor([&] { return Status().dwCurrentState == state; }, boundMs);
    }
    void Install() {
        Process p = Start(vigrel_, "/INSTALL /SILENT");
        ASSERT_EQ(p.Wait(), 0);
        ASSERT_TRUE(Installed());
    }

    // Starts the service through the starter; returns when the starter has ended.
    void StartThroughStarter() {
        Process p = Start(starter_, "");
        ASSERT_EQ(p.Wait(), 0);
        ASSERT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    }

    static HWND FormWindow() { return ::FindWindowA(FormBlindClassName, nullptr); }
    bool PostToForm(UINT message, WPARAM wParam) {
        HWND form = nullptr;
        if (!waitFor([&] { return (form = FormWindow()) != nullptr; }))
            return false;
        return ::PostMessageA(form, message, wParam, 0) != 0;
    }
};

std::string Service::folder_;
std::string Service::vigrel_;
std::string Service::starter_;

} // namespace

TEST_F(Service, SilentInstallRegistersQuotedPathAndUninstallSwitchesRemove) {
    Install();
    // Quoted, so that the blank in the folder cannot split the command line.
    EXPECT_EQ(QueryConfig().binaryPath, "\"" + vigrel_ + "\"");
    const VigrelConfig config = QueryConfig();
    ASSERT_TRUE(config.found);
    EXPECT_EQ(config.serviceType, 0x110u);
    EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(config.displayName, "Vigrel");
    EXPECT_EQ(config.startName, "LocalSystem");

    Process lower = Start(vigrel_, "-uninstall -silent");
    EXPECT_EQ(lower.Wait(), 0);
    EXPECT_FALSE(Installed());

    Install();
    Process upper = Start(vigrel_, "/UNINSTALL /SILENT");
    EXPECT_EQ(upper.Wait(), 0);
    EXPECT_FALSE(Installed());
    // No form was built for any of these: no log at all.
    EXPECT_EQ(::GetFileAttributesA(TodaysLogPath(folder_).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Service, MessagesWithoutSilentAndFailureTextsEvenWithIt) {
    Process install = Start(vigrel_, "-install");
    EXPECT_TRUE(PressOk("Information", "Service installed successfully"));
    EXPECT_EQ(install.Wait(), 0);
    EXPECT_TRUE(Installed());

    Process twice = Start(vigrel_, "-install -silent");
    EXPECT_TRUE(PressOk("Error", "Service \"Vigrel\" failed to install with error: \""));
    EXPECT_EQ(twice.Wait(), 0);

    Process uninstall = Start(vigrel_, "/uninstall");
    EXPECT_TRUE(PressOk("Information", "Service uninstalled successfully"));
    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_FALSE(Installed());

    Process again = Start(vigrel_, "/uninstall /silent");
    EXPECT_TRUE(PressOk("Error", "Service \"Vigrel\" failed to uninstall with error: \""));
    EXPECT_EQ(again.Wait(), 0);
}

TEST_F(Service, NoSwitchMeansANonServiceStartWithoutForm) {
    // "-installx" and a lone "-silent" are ordinary arguments: no form, no registration, and
    // the dispatcher's failure goes to the event log.
    for (const char* args : {"-installx", "/silent"}) {
        const size_t mark = EventsMark();
        Process p = Start(vigrel_, args);
        EXPECT_EQ(p.Wait(), 0) << args;
        EXPECT_FALSE(Installed()) << args;
        EXPECT_TRUE(OneErrorEntry(EventsSince(mark))) << args;
    }
    EXPECT_EQ(::GetFileAttributesA(TodaysLogPath(folder_).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Service, DirectStartRunsOneCycleLogsTheDispatcherErrorAndEnds) {
    const std::string iniBefore = readFile(IniPath());
    const size_t mark = EventsMark();
    Process p = Start(vigrel_, "");
    EXPECT_EQ(p.Wait(), 0);
    const std::string log = Log();
    EXPECT_TRUE(contains(log, " -> Application Started\r\n")) << log;
    EXPECT_TRUE(contains(log, " -> OK --- " + peer_.Url("/ok") + "\r\n")) << log;
    EXPECT_TRUE(contains(log, " -> Failed --- " + peer_.Url("/notfound") + "\r\n")) << log;
    EXPECT_FALSE(contains(log, "Application Stoped")) << log;
    // Not saved: the file is byte for byte what we wrote.
    EXPECT_EQ(readFile(IniPath()), iniBefore);
    EXPECT_TRUE(OneErrorEntry(EventsSince(mark)));
}

TEST_F(Service, LogLevelsAndOutOfRangeValuesAcrossRestarts) {
    // Level 1: web events only.
    WriteIni(1, 1);
    EXPECT_EQ(Start(vigrel_, "").Wait(), 0);
    std::string log = Log();
    EXPECT_FALSE(contains(log, "Application Started")) << log;
    EXPECT_TRUE(contains(log, "OK --- ")) << log;
    EXPECT_TRUE(contains(log, "Failed --- ")) << log;

    // Above 2 acts like 2, failures only; appended to the same day's file.
    for (int filter : {5}) {
        WriteIni(filter, 1);
        const size_t before = Log().size();
        EXPECT_EQ(Start(vigrel_, "").Wait(), 0);
        log = Log().substr(before);
        EXPECT_FALSE(contains(log, "OK --- ")) << filter << log;
        EXPECT_TRUE(contains(log, "Failed --- ")) << filter << log;
        EXPECT_EQ(log.find("Failed"), 11u) << "one failure line only: " << log;
    }

    // A negative level acts like 0; a benchmark that does not answer ends the cycle.
    WriteIni(-1, 1, false);
    const size_t before = Log().size();
    EXPECT_EQ(Start(vigrel_, "").Wait(), 0);
    log = Log().substr(before);
    EXPECT_TRUE(contains(log, "Application Started\r\n")) << log;
    EXPECT_TRUE(contains(log, "Benchmark site not reached\r\n")) << log;
    EXPECT_FALSE(contains(log, "Failed --- ")) << log;
}

TEST_F(Service, LevelTwoDayWithoutFailuresLeavesNoFile) {
    {
        std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
        out << "[General]\r\nBenchmark=127.0.0.1:" << peer_.Port()
            << "/ok\r\nTimeSpan=1\r\nTimeOut=3000\r\n[Log]\r\nFilter=2\r\n[URLS]\r\n"
            << peer_.Url("/ok") << "=\r\n";
    }
    EXPECT_EQ(Start(vigrel_, "").Wait(), 0);
    EXPECT_EQ(::GetFileAttributesA(TodaysLogPath(folder_).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Service, UnopenableLogLosesLinesAndTheProgramRuns) {
    ASSERT_TRUE(::CreateDirectoryA(TodaysLogPath(folder_).c_str(), nullptr));
    const size_t mark = EventsMark();
    Process p = Start(vigrel_, "");
    EXPECT_EQ(p.Wait(), 0);
    // It ran to its end: the dispatcher's failure was reported.
    EXPECT_TRUE(OneErrorEntry(EventsSince(mark)));
    EXPECT_TRUE(::GetFileAttributesA(TodaysLogPath(folder_).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ::RemoveDirectoryA(TodaysLogPath(folder_).c_str());
}

TEST_F(Service, StarterRunsItPauseAndContinueWhileCyclesGoOnStarterStops) {
    Install();
    StartThroughStarter();
    // The quoted path kept the command line whole, so the form exists and ran a first cycle.
    EXPECT_TRUE(WaitForLog("Failed --- " + peer_.Url("/notfound")));
    EXPECT_TRUE(waitFor([] { return FormWindow() != nullptr; }));
    EXPECT_EQ(Status().dwControlsAccepted, 7u);
    EXPECT_EQ(Status().dwWaitHint, 5000u);

    // A starter call on a running service ends at once.
    EXPECT_EQ(Start(starter_, "").Wait(5000), 0);

    ASSERT_TRUE(Control(SERVICE_CONTROL_PAUSE));
    EXPECT_TRUE(WaitForState(SERVICE_PAUSED));
    // The main thread is not paused: a scheduled tick and "Check Now" still run cycles.
    const size_t before = Log().size();
    ASSERT_TRUE(PostToForm(WM_TIMER, 1));
    EXPECT_TRUE(waitFor([&] { return contains(Log().substr(before), "Autocheck started"); }));
    const size_t before2 = Log().size();
    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdCheckNow1));
    EXPECT_TRUE(waitFor([&] { return contains(Log().substr(before2), "Failed --- "); }));
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));

    ASSERT_TRUE(Control(SERVICE_CONTROL_CONTINUE));
    EXPECT_TRUE(WaitForState(SERVICE_RUNNING));
    // Interrogate answers with the current state.
    EXPECT_TRUE(Control(SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    // A second copy, even with a switch, only signals the first one and ends.
    Process second = Start(vigrel_, "/uninstall");
    EXPECT_EQ(second.Wait(10000), 0);
    EXPECT_TRUE(Installed());
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(::FindWindowA("#32770", nullptr), nullptr);
    // The signal changes nothing visible, and the end of a user's session does not end us.
    HWND app = ::FindWindowA(nullptr, "Vigrel");
    ASSERT_NE(app, nullptr);
    EXPECT_FALSE(::IsWindowVisible(app));
    EXPECT_FALSE(::IsWindowVisible(FormWindow()));
    ::SendMessageTimeoutA(app, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
    const size_t before3 = Log().size();
    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdCheckNow1));
    EXPECT_TRUE(waitFor([&] { return contains(Log().substr(before3), "Failed --- "); }));
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    // Stop through the starter: the process ends without saving or the stop line.
    const std::string iniBefore = readFile(IniPath());
    const DWORD pid = Status().dwProcessId;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    EXPECT_EQ(Start(starter_, "stop").Wait(), 0);
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    if (process) {
        EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }
    EXPECT_EQ(readFile(IniPath()), iniBefore);
    EXPECT_FALSE(contains(Log(), "Application Stoped"));
}

TEST_F(Service, FirstCycleLongerThanTheStartLimitDoesNotStopTheStart) {
    WriteIni(0, 1, true, 12000);
    Install();
    StartThroughStarter();
    EXPECT_TRUE(WaitForLog("Failed --- " + peer_.Url("/silent"), 40000)) << Log();
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(Service, ExitThroughTheFormSavesLogsAndReportsStopped) {
    Install();
    StartThroughStarter();
    ASSERT_TRUE(WaitForLog("Failed --- "));
    const DWORD pid = Status().dwProcessId;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);

    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdStop1));
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    if (process) {
        EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }
    EXPECT_TRUE(contains(Log(), " -> Application Stoped\r\n")) << Log();
    // Saved: the sections our file lacked are written now.
    const std::string ini = readFile(IniPath());
    EXPECT_TRUE(contains(ini, "[SMTP]")) << ini;
    EXPECT_TRUE(contains(ini, "StartOnStartup=")) << ini;
}

TEST_F(Service, StarterWithoutTheServiceEndsAtOnce) {
    ASSERT_FALSE(Installed());
    EXPECT_EQ(Start(starter_, "").Wait(5000), 0);
    EXPECT_EQ(Start(starter_, "-stop").Wait(5000), 0);
    EXPECT_FALSE(Installed());
}

TEST_F(Service, FailedSaveOnExitLeavesTheProgramRunning) {
    Install();
    StartThroughStarter();
    ASSERT_TRUE(WaitForLog("Failed --- "));
    // Hold the settings file without sharing: the save on Exit is refused and raises.
    HANDLE held = ::CreateFileA(IniPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdStop1));
    // The handler's exception goes to the event log and the program goes on: "Check Now"
    // still runs a cycle.
    const size_t before = Log().size();
    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdCheckNow1));
    EXPECT_TRUE(waitFor([&] { return contains(Log().substr(before), "Failed --- "); }));
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(contains(Log(), "Application Stoped"));
    ::CloseHandle(held);

    // Once the file is free again, Exit completes.
    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdStop1));
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_TRUE(WaitForLog("Application Stoped"));
}
