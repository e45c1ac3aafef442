// Vigrel.exe and Vigrelrun.exe against Wine's own service manager, in a prefix of their own,
// installed into a folder whose path holds a blank. Every test removes what it registered.
#include "fixtures/http_peer_win.h"
#include "fixtures/pipe_client_win.h"
#include "fixtures/vigrel_service_win.h"
#include "app/eventsource_win.h"
#include "app/frmblind_win.h"
#include "base/paths.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "control/pipeclient_win.h"
#include "control/protocol.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <optional>
#include <thread>
#include <vector>

#include "vigrelevents.h"

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

// Waits while dispatching this thread's messages, where the monitor link delivers its events.
bool pumpUntil(const std::function<bool()>& condition) {
    return waitFor([&] {
        MSG m;
        while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&m);
        return condition();
    });
}

// The event source's registration: its message file, and the kinds of entry it writes; an
// empty file when the source is not registered.
struct EventSourceValues {
    std::string messageFile;
    DWORD types = 0;
};
EventSourceValues eventSource() {
    EventSourceValues values;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey, 0, KEY_QUERY_VALUE, &key) != 0)
        return values;
    wchar_t file[1024] = {};
    DWORD size = sizeof file - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file),
                           &size) == 0 &&
        type == REG_EXPAND_SZ)
        values.messageFile = Narrow(file);
    size = sizeof values.types;
    ::RegQueryValueExW(key, L"TypesSupported", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&values.types), &size);
    ::RegCloseKey(key);
    return values;
}

// An entry's text as an event viewer shows it: the message of its id in the program's table,
// the insertion strings put in.
std::string eventText(const std::string& program, DWORD id, std::vector<std::wstring> strings) {
    HMODULE module = ::LoadLibraryExW(Widen(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return "(not loaded: " + std::to_string(::GetLastError()) + ")";
    std::vector<DWORD_PTR> arguments;
    for (const std::wstring& text : strings)
        arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                             FORMAT_MESSAGE_ARGUMENT_ARRAY,
                         module, id, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                         reinterpret_cast<va_list*>(arguments.data()));
    std::string text = length ? Narrow(std::wstring_view(buffer, length))
                              : "(no message: " + std::to_string(::GetLastError()) + ")";
    if (buffer)
        ::LocalFree(buffer);
    ::FreeLibrary(module);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

int threadCount(DWORD pid) {
    ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
         more = ::Thread32Next(snapshot.Get(), &entry))
        count += entry.th32OwnerProcessID == pid;
    return count;
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
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Vigrel");
    }

    HttpPeer peer_;
    // [Metrics] TextfileDir of the next WriteIni: the program's folder.
    std::string textfileDir_ = ".";
    // [URLS] lines of the next WriteIni after the two sites, each ending in CR LF.
    std::string moreSites_;

    std::string IniPath() const { return folder_ + "\\Vigrel.INI"; }

    // A silent site with a long TimeOut makes a first cycle longer than the service
    // manager's start limit.
    void WriteIni(int filter, int timeSpan, bool benchmarkUp = true, int silentTimeOut = 0) {
        const std::string benchmark =
            "127.0.0.1:" + std::to_string(benchmarkUp ? peer_.Port() : 1) + "/ok";
        std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
        out << "[General]\r\nBenchmark=" << benchmark << "\r\nTimeSpan=" << timeSpan
            << "\r\nTimeOut=" << (silentTimeOut ? silentTimeOut : 3000)
            << "\r\n[Log]\r\nFilter=" << filter << "\r\n[Metrics]\r\nTextfileDir=" << textfileDir_
            << "\r\n[URLS]\r\n"
            << peer_.Url("/ok") << "=\r\n"
            << peer_.Url("/notfound") << "=\r\n"
            << moreSites_;
        if (silentTimeOut)
            out << peer_.Url("/silent") << "=\r\n";
    }

    std::string Log() const { return readFile(TodaysLogPath(folder_)); }
    static std::string todaysHistoryName() {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        return HistoryFileName(now.wYear, now.wMonth, now.wDay);
    }
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
        const std::string command = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
        std::wstring wide = Widen(command);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        const BOOL ok = ::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                         Widen(folder_).c_str(), &si, &pi);
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
    // The event source names this program's message table: error, warning and information.
    EXPECT_EQ(eventSource().messageFile, vigrel_);
    EXPECT_EQ(eventSource().types, 7u);
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
    EXPECT_EQ(eventSource().messageFile, "") << "the event source goes with the service";

    Install();
    Process upper = Start(vigrel_, "/UNINSTALL /SILENT");
    EXPECT_EQ(upper.Wait(), 0);
    EXPECT_FALSE(Installed());
    // No form was built for any of these: no log at all.
    EXPECT_EQ(::GetFileAttributesA(TodaysLogPath(folder_).c_str()), INVALID_FILE_ATTRIBUTES);

    // A folder outside the ANSI code page is registered as it is, and the service starts there.
    const std::string other = folder_ + " Мониторинг";
    ::CreateDirectoryW(Widen(other).c_str(), nullptr); // left from an earlier run, or new
    for (const char* name : {"\\Vigrel.exe", "\\Vigrelrun.exe", "\\Vigrel.INI"})
        ASSERT_TRUE(::CopyFileW(Widen(folder_ + name).c_str(), Widen(other + name).c_str(), FALSE));
    Process install = Start(other + "\\Vigrel.exe", "-install -silent");
    ASSERT_EQ(install.Wait(), 0);
    EXPECT_EQ(QueryConfig().binaryPath, "\"" + other + "\\Vigrel.exe\"");
    EXPECT_EQ(eventSource().messageFile, other + "\\Vigrel.exe");
    Process starter = Start(other + "\\Vigrelrun.exe", "");
    EXPECT_EQ(starter.Wait(), 0);
    EXPECT_TRUE(WaitForState(SERVICE_RUNNING));
    const std::string log = TodaysLogPath(other);
    EXPECT_TRUE(waitFor([&] {
        std::FILE* file = OpenFileUtf8(log, "rb");
        char text[64] = {};
        const bool started = file && std::fread(text, 1, sizeof text - 1, file) &&
                             contains(text, "Application Started");
        if (file)
            std::fclose(file);
        return started;
    })) << log;
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
    const std::string metrics = folder_ + "\\vigrel.prom";
    ::DeleteFileA(metrics.c_str());
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
    const std::string events = EventsSince(mark);
    EXPECT_TRUE(OneErrorEntry(events));
    // The site down is a warning of its own (Wine prints each insertion string of an entry),
    // and the program's message table words it as an event viewer shows it.
    const std::string down = peer_.Url("/notfound");
    EXPECT_TRUE(contains(events, "warn:eventlog:ReportEventW L\"" + down + "\"")) << events;
    EXPECT_TRUE(contains(events, "warn:eventlog:ReportEventW L\"HTTP status 404\"")) << events;
    EXPECT_FALSE(contains(events, peer_.Url("/ok") + "\"")) << "no entry for a site up";
    EXPECT_EQ(eventText(vigrel_, MSG_SITE_DOWN, {Widen(down), L"HTTP status 404"}),
              "The site " + down + " is down: HTTP status 404.");
    EXPECT_EQ(eventText(vigrel_, MSG_ERROR, {L"Мониторинг"}), "Мониторинг");
    // The cycle's figures, beside the program for a relative folder.
    const std::string prom = readFile(metrics);
    EXPECT_TRUE(contains(prom, "\nvigrel_site_up{url=\"" + down + "\"} 0\n")) << prom;
    EXPECT_TRUE(contains(prom, "\nvigrel_sites_down 1\n")) << prom;
}

TEST_F(Service, ASiteOfEachKindThroughThePipesStatusAndTheMetricsFile) {
    const std::string text = peer_.Url("/ok#text");
    const std::string slow = peer_.Url("/slow");
    moreSites_ = text + "=contains=Not on the page\r\n" + slow + "=slow=100\r\n";
    WriteIni(0, 1);
    const std::string metrics = folder_ + "\\vigrel.prom";
    ::DeleteFileA(metrics.c_str());
    Install();
    StartThroughStarter();
    ASSERT_TRUE(WaitForLog("Warning --- " + slow + ": "));
    PipeMonitorLink link;
    std::optional<MonitorStatus> linked;
    link.OnStatus = [&](const MonitorStatus& s) { linked = s; };
    ASSERT_TRUE(pumpUntil([&] { return linked && !linked->LastCycleEnd.empty(); }));
    EXPECT_EQ(linked->Picture, 1);
    ASSERT_EQ(linked->Failed.size(), 2u);
    EXPECT_EQ(linked->Failed[1].Url, text);
    EXPECT_EQ(linked->Failed[1].Reason, "text \"Not on the page\" not found");
    ASSERT_EQ(linked->Warnings.size(), 1u);
    EXPECT_EQ(linked->Warnings[0].Url, slow);
    const std::string prom = readFile(metrics);
    EXPECT_TRUE(contains(prom, "\nvigrel_site_up{url=\"" + peer_.Url("/ok") + "\"} 1\n")) << prom;
    EXPECT_TRUE(contains(prom, "\nvigrel_site_up{url=\"" + slow + "\"} 1\n")) << prom;
    EXPECT_TRUE(contains(prom, "\nvigrel_site_down_info{url=\"" + text +
                                   "\",reason=\"text \\\"Not on the page\\\" not found\"} 1\n"))
        << prom;
    EXPECT_TRUE(contains(prom, "\nvigrel_site_warning_info{url=\"" + slow + "\",reason=\""))
        << prom;
    EXPECT_TRUE(contains(prom, "\nvigrel_sites_down 2\n")) << prom;
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
    // A metrics folder that does not exist: every cycle's write fails.
    textfileDir_ = "no such folder";
    WriteIni(0, 1);
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
    // Four cycles found the metrics folder missing: said once. (The service's event entries
    // reach no standard error a test can read; its log does.)
    const std::string log = Log();
    const std::string unwritten = "Metrics file no such folder\\vigrel.prom not written: error 3";
    const size_t first = log.find(unwritten);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(unwritten, first + 1), std::string::npos) << log;

    // Stop through the starter takes Exit's way: saved, the stop line; STOPPED comes last, so
    // a start right after it finds nothing of the old process in its way.
    const DWORD pid = Status().dwProcessId;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    EXPECT_EQ(Start(starter_, "stop").Wait(), 0);
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(contains(Log(), "Application Stoped"));
    EXPECT_TRUE(contains(readFile(IniPath()), "[SMTP]"));
    StartThroughStarter();
    EXPECT_NE(Status().dwProcessId, pid);
    if (process) {
        EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }
    EXPECT_EQ(Start(starter_, "stop").Wait(), 0);
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
    const std::string metrics = folder_ + "\\vigrel.prom";
    EXPECT_TRUE(waitFor([&] { return contains(readFile(metrics), "vigrel_site_up{"); }));
    const DWORD pid = Status().dwProcessId;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);

    ASSERT_TRUE(PostToForm(WM_COMMAND, cmdStop1));
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    if (process) {
        EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }
    EXPECT_TRUE(contains(Log(), " -> Application Stoped\r\n")) << Log();
    // No figures of checks that no longer run.
    EXPECT_EQ(::GetFileAttributesA(metrics.c_str()), INVALID_FILE_ATTRIBUTES);
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

TEST_F(Service, UnreadableSettingsAreShownNeverSavedOverAndAFailedSaveStillEndsTheProgram) {
    Install();
    // Held without sharing from before the start: the service cannot read its settings.
    const std::string before = readFile(IniPath());
    HANDLE held = ::CreateFileA(IniPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    StartThroughStarter();
    const DWORD pid = Status().dwProcessId;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    PipeClient client;
    ASSERT_TRUE(waitFor([&] { return client.Open(); }));
    ASSERT_TRUE(client.Hello());
    // Nothing is checked, and the status must not claim that all is well.
    ControlMessage status;
    EXPECT_TRUE(waitFor([&] {
        status = client.Ask(ControlMessage(msg::Status), msg::Status);
        return status.Get("picture") == "3";
    })) << status.Get("picture");
    EXPECT_TRUE(contains(status.Get("tip"), "cannot be read")) << status.Get("tip");

    const ControlMessage reply = client.Ask(ControlMessage(msg::Stop), msg::Ok);
    EXPECT_EQ(reply.Type, msg::Error);
    EXPECT_TRUE(contains(reply.Get("reason"), "could not be saved")) << reply.Get("reason");
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    if (process) {
        EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }
    ::CloseHandle(held);
    EXPECT_EQ(readFile(IniPath()), before) << "never saved over";
    EXPECT_TRUE(contains(Log(), "Settings not saved: ")) << Log();
    EXPECT_TRUE(contains(Log(), "Application Stoped")) << Log();
}

TEST_F(Service, ControlPipeMirrorsTheIconChangesSettingsResistsBadClientsAndStops) {
    {
        std::ofstream ini(IniPath(), std::ios::binary | std::ios::app);
        ini << "[SMTP]\r\nPass=Sesame-4711\r\n";
    }
    // Group policy, written as the administrator's tools write it, wins over the file.
    for (const char* value :
         {"/v MailServer /t REG_SZ /d mail.policy.example", "/v UpAfter /t REG_DWORD /d 3"})
        ASSERT_EQ(Start("reg", std::string("add HKLM\\SOFTWARE\\Policies\\Vigrel ") + value + " /f")
                      .Wait(),
                  0)
            << value;
    Install();
    StartThroughStarter();
    ASSERT_TRUE(WaitForLog("Failed --- " + peer_.Url("/notfound")));
    const DWORD pid = Status().dwProcessId;

    PipeClient client;
    ASSERT_TRUE(waitFor([&] { return client.Open(); }));
    // Only the service's own account, Administrators and interactive users, with the rights
    // given; the descriptor is protected from inheritance.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(::GetSecurityInfo(client.pipe.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &dacl, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    const std::pair<WELL_KNOWN_SID_TYPE, DWORD> expected[] = {
        {WinLocalSystemSid, FILE_ALL_ACCESS},
        {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
        {WinInteractiveSid, FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES}};
    ASSERT_EQ(dacl->AceCount, 3u);
    for (DWORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_EQ(ace->Mask, expected[i].second) << i;
        EXPECT_EQ(ace->Mask & FILE_CREATE_PIPE_INSTANCE,
                  expected[i].second & FILE_CREATE_PIPE_INSTANCE);
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        ASSERT_TRUE(::CreateWellKnownSid(expected[i].first, nullptr, sid, &size));
        EXPECT_TRUE(::EqualSid(&ace->SidStart, sid)) << i;
    }
    ::LocalFree(sd);

    // Before hello nothing is served; the connection ends.
    {
        PipeClient early;
        ASSERT_TRUE(early.Open());
        ASSERT_TRUE(early.Send(ControlMessage(msg::Status)));
        const ControlMessage reply = early.Receive();
        EXPECT_EQ(reply.Type, msg::Error);
        EXPECT_EQ(reply.Get("code"), "order");
    }

    ControlMessage hello(msg::Hello);
    hello.Add("version", "1");
    ASSERT_EQ(client.Ask(hello, msg::Hello).Get("version"), "1");
    // What the service's icon shows after the first cycle: sites down, the failed site.
    ControlMessage status = client.Ask(ControlMessage(msg::Subscribe), msg::Status);
    ASSERT_EQ(status.Type, msg::Status);
    EXPECT_EQ(status.Get("picture"), "1");
    EXPECT_TRUE(contains(status.Get("tip"), peer_.Url("/notfound"))) << status.Get("tip");
    EXPECT_EQ(status.GetAll("failed"), std::vector<std::string>{peer_.Url("/notfound")});
    EXPECT_EQ(status.Get("why"), "HTTP status 404");
    EXPECT_EQ(status.Get("lastcycle").size(), 19u);
    EXPECT_EQ(status.Get("running"), "0");

    // The companion's link sees the same, after making sure the server is the service.
    PipeMonitorLink link;
    std::optional<MonitorStatus> linked;
    std::vector<bool> connections;
    link.OnStatus = [&](const MonitorStatus& s) { linked = s; };
    link.OnConnection = [&](bool up) { connections.push_back(up); };
    ASSERT_TRUE(pumpUntil([&] { return linked.has_value(); }));
    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(linked->Picture, 1);
    EXPECT_EQ(linked->Tip, status.Get("tip"));
    ASSERT_EQ(linked->Failed.size(), 1u);
    EXPECT_EQ(linked->Failed[0].Url, peer_.Url("/notfound"));
    EXPECT_EQ(linked->Failed[0].Reason, "HTTP status 404");
    bool linkPasswordSet = false;
    link.OnSettings = [&](const CUserSettings&, bool set) { linkPasswordSet = set; };
    link.RequestSettings();
    EXPECT_TRUE(pumpUntil([&] { return linkPasswordSet; }));

    // Check Now: ok, a cycle, and its status pushed unasked.
    size_t before = Log().size();
    EXPECT_EQ(client.Ask(ControlMessage(msg::CheckNow), msg::Ok).Type, msg::Ok);
    EXPECT_EQ(client.Receive().Type, msg::Status);
    EXPECT_TRUE(contains(Log().substr(before), "Failed --- "));

    // Both cycles are in the history beside the program, and its request answers from them.
    EXPECT_TRUE(contains(readFile(folder_ + "\\" + todaysHistoryName()),
                         "," + peer_.Url("/notfound") + ",0,"));
    ControlMessage history;
    ASSERT_TRUE(waitFor([&] {
        ControlMessage ask(msg::History);
        ask.Add("url", peer_.Url("/notfound")).Add("span", "24h");
        history = client.Ask(ask, msg::History);
        return history.Type == msg::History && !history.Has("loading");
    }));
    EXPECT_EQ(history.GetAll("site"),
              (std::vector<std::string>{peer_.Url("/ok"), peer_.Url("/notfound")}));
    EXPECT_EQ(history.GetAll("up"), (std::vector<std::string>{"100,100,100", "0,0,0"}));
    ASSERT_FALSE(history.GetAll("p").empty());
    EXPECT_TRUE(contains(history.GetAll("p").back(), ",HTTP status 404")) << history.Get("p");

    // The password stays inside; whether one is set does not.
    const ControlMessage settings = client.Ask(ControlMessage(msg::GetSettings), msg::Settings);
    ASSERT_EQ(settings.Type, msg::Settings);
    EXPECT_EQ(settings.Get("passwordset"), "1");
    EXPECT_FALSE(settings.Has("pass"));
    EXPECT_FALSE(contains(EncodeMessage(settings), "Sesame-4711"));
    EXPECT_EQ(settings.Get("server"), "mail.policy.example");
    EXPECT_EQ(settings.Get("upafter"), "3");
    EXPECT_EQ(settings.GetAll("enforced"), (std::vector<std::string>{"server", "upafter"}));

    // Out of the dialog's limits: refused, nothing changes, the connection stays.
    CUserSettings changed;
    bool passwordSet = false;
    ASSERT_TRUE(SettingsFromMessage(settings, changed, passwordSet));
    changed.Port = 70000;
    ControlMessage bad =
        client.Ask(SettingsMessage(msg::SetSettings, changed, false, true), msg::Ok);
    EXPECT_EQ(bad.Type, msg::Error);
    EXPECT_EQ(bad.Get("code"), "failed");
    // What policy sets is refused with the reason, and sent back unchanged it passes below.
    changed.Port = 25;
    changed.Server = "mail.mine.example";
    bad = client.Ask(SettingsMessage(msg::SetSettings, changed, false, true), msg::Ok);
    EXPECT_EQ(bad.Get("reason"), "The mail server is set by your administrator's policy.");
    changed.Server = "mail.policy.example";
    // Applied as the dialog's OK: INI, start type, the log line; an empty password keeps it.
    changed.Port = 25;
    changed.TimeSpan = 7;
    changed.StartOnStartup = false;
    changed.Pass.clear();
    before = Log().size();
    EXPECT_EQ(client.Ask(SettingsMessage(msg::SetSettings, changed, false, true), msg::Ok).Type,
              msg::Ok);
    const std::string ini = readFile(IniPath());
    EXPECT_TRUE(contains(ini, "TimeSpan=7")) << ini;
    EXPECT_TRUE(contains(ini, "Pass=protected:")) << ini;
    EXPECT_FALSE(contains(ini, "Sesame-4711")) << ini;
    EXPECT_FALSE(contains(ini, "policy.example")) << ini;
    EXPECT_FALSE(contains(ini, "UpAfter")) << ini;
    EXPECT_EQ(QueryConfig().startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_TRUE(contains(Log().substr(before), "Settings Changed"));

    // Fifty clients that send garbage, an oversized message or nothing: answered or dropped,
    // and the service keeps neither threads nor handles for them.
    ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid));
    DWORD handlesBefore = 0, handlesAfter = 0;
    ::GetProcessHandleCount(process.Get(), &handlesBefore);
    const int threadsBefore = threadCount(pid);
    for (int i = 0; i < 50; ++i) {
        PipeClient bad;
        if (!waitFor([&] { return bad.Open(); }, 10000))
            ADD_FAILURE() << "client " << i << " found no free instance";
        if (i % 3 == 0)
            bad.SendBytes("\x01garbage without a line end");
        else if (i % 3 == 1)
            bad.SendBytes(std::string(MaxMessageSize + 10, 'x'));
        if (i % 3 == 1) {
            const ControlMessage reply = bad.Receive(5000);
            EXPECT_EQ(reply.Get("code"), "oversized");
        }
    }
    EXPECT_TRUE(waitFor([&] {
        ::GetProcessHandleCount(process.Get(), &handlesAfter);
        return handlesAfter <= handlesBefore + 4 && threadCount(pid) <= threadsBefore + 1;
    }));
    before = Log().size();
    EXPECT_EQ(client.Ask(ControlMessage(msg::CheckNow), msg::Ok).Type, msg::Ok);
    EXPECT_TRUE(waitFor([&] { return contains(Log().substr(before), "Failed --- "); }));

    // A list of silent sites whose client leaves holds up neither the other clients nor the
    // end of the program.
    {
        PipeClient leaving;
        ASSERT_TRUE(leaving.Open());
        ASSERT_TRUE(leaving.Hello());
        ControlMessage list(msg::CheckList);
        for (int i = 0; i < 100; ++i)
            list.Add("url", peer_.Url("/silent"));
        const int before = peer_.Requests();
        ASSERT_TRUE(leaving.Send(list));
        ASSERT_TRUE(waitFor([&] { return peer_.Requests() > before; }));
    }
    EXPECT_EQ(client.Ask(ControlMessage(msg::GetSettings), msg::Settings).Type, msg::Settings);

    // A cycle of parallel probes over silent sites runs off the form's thread: the request
    // that starts it, the settings, the status and the stop are answered while it runs.
    changed.URLList.Clear();
    for (int i = 0; i < 32; ++i)
        changed.AddUrl(peer_.Url("/silent#" + std::to_string(i)));
    changed.TimeOut = 5000;
    changed.Parallel = 16;
    changed.Retries = 1;
    EXPECT_EQ(client.Ask(SettingsMessage(msg::SetSettings, changed, false, true), msg::Ok).Type,
              msg::Ok);
    ASSERT_TRUE(waitFor([&] {
        return client.Ask(ControlMessage(msg::Status), msg::Status).Get("running") == "1";
    }));
    const ControlMessage during = client.Ask(ControlMessage(msg::GetSettings), msg::Settings);
    EXPECT_EQ(during.Get("parallel"), "16");
    EXPECT_EQ(during.Get("retries"), "1");
    EXPECT_EQ(client.Ask(ControlMessage(msg::Status), msg::Status).Get("running"), "1");

    // Stop takes the form's Exit path.
    EXPECT_EQ(client.Ask(ControlMessage(msg::Stop), msg::Ok).Type, msg::Ok);
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_TRUE(WaitForLog("Application Stoped"));
    // The link noticed, and goes on trying by itself.
    EXPECT_TRUE(pumpUntil([&] { return !link.Connected(); }));
    EXPECT_EQ(connections, (std::vector<bool>{true, false}));
}
