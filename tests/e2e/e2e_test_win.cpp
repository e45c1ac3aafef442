// The system as a user meets it: the service installed from a folder with a blank in its path,
// started through the starter, watching pages of a loopback web server, showing its state in
// the notification area of a Wine desktop shell (and again after a new task bar), mailing a real
// SMTP server on loopback, its settings changed in the dialog, ended from the menu, started and
// stopped again, removed.
//
// Runs through tools/e2e.sh, which provides the desktop, the SMTP server (VIGREL_SINK_DIR),
// screenshots (VIGREL_SNAPSHOT_DIR) and the final reading of the mail with Python.
#include "app/frmblind_win.h"
#include "desktop_support_win.h"
#include "fixtures/peer_ports.h"
#include "fixtures/http_peer_win.h"
#include "fixtures/tray_reader_win.h"
#include "fixtures/vigrel_service_win.h"
#include "ui/csimpletray_win.h"
#include "ui/frmsettings_win.h"
#include "ui/res/resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

bool fileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string describe(const std::vector<TrayEntry>& entries) {
    std::string text = std::to_string(entries.size()) + " icon(s):";
    for (const TrayEntry& e : entries)
        text += " [" + std::to_string(e.screen.left) + "," + std::to_string(e.screen.top) + "," +
                std::to_string(e.screen.right) + "," + std::to_string(e.screen.bottom) + " \"" +
                e.tip + "\"]";
    return text;
}

class Scenario : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(waitFor(HasTaskbar)) << "run through tools/e2e.sh: no task bar";
        const char* sink = std::getenv("VIGREL_SINK_DIR");
        ASSERT_TRUE(sink && *sink) << "run through tools/e2e.sh: no SMTP server";
        sink_ = fromUnix(sink);
        smtpPort_ = std::atoi(readFile(sink_ + "\\port").c_str());
        ASSERT_GT(smtpPort_, 0);

        // What a run cut short may have left behind.
        removeService();
        folder_ = "C:\\Program Files\\Vigrel e2e";
        ::CreateDirectoryA(folder_.c_str(), nullptr);
        vigrel_ = folder_ + "\\Vigrel.exe";
        starter_ = folder_ + "\\Vigrelrun.exe";
        companion_ = folder_ + "\\Vigreltray.exe";
        ASSERT_TRUE(::CopyFileA(fromUnix(VIGRELTRAY_EXE).c_str(), companion_.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA(fromUnix(VIGREL_EXE).c_str(), vigrel_.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA(fromUnix(VIGRELRUN_EXE).c_str(), starter_.c_str(), FALSE));
        ::DeleteFileA(LogPath().c_str());
        ::DeleteFileA(IniPath().c_str());
    }

    void TearDown() override { removeService(); }

    // --- the program's files ---
    std::string IniPath() const { return folder_ + "\\Vigrel.INI"; }
    std::string LogPath() const { return TodaysLogPath(folder_); }
    std::string Log() const { return readFile(LogPath()); }
    // The log from a mark on, once it holds the line.
    bool WaitForLog(size_t mark, const std::string& line, int boundMs = 30000) const {
        return waitFor([&] { return contains(Log().substr(std::min(mark, Log().size())), line); },
                       boundMs);
    }
    static std::string Line(const std::string& text) { return " -> " + text + "\r\n"; }

    int MailCount() const {
        int n = 0;
        while (fileExists(MailPath(n + 1)))
            ++n;
        return n;
    }
    std::string MailPath(int n) const {
        char name[16];
        std::snprintf(name, sizeof name, "\\%03d.eml", n);
        return sink_ + name;
    }

    // --- processes ---
    ScopedKernelHandle Launch(const std::string& program, const std::string& args) {
        std::string command = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder_.c_str(), &si, &pi))
            return ScopedKernelHandle();
        ::CloseHandle(pi.hThread);
        return ScopedKernelHandle(pi.hProcess);
    }
    long Run(const std::string& program, const std::string& args, DWORD boundMs = 60000) {
        const ScopedKernelHandle process = Launch(program, args);
        if (!process)
            return -2;
        DWORD code = 0;
        if (::WaitForSingleObject(process.Get(), boundMs) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.Get(), 99);
            code = static_cast<DWORD>(-1);
        } else {
            ::GetExitCodeProcess(process.Get(), &code);
        }
        return static_cast<long>(code);
    }

    // --- the service manager's view ---
    static bool RegistryKeyExists() {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Vigrel", 0,
                            KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

    // --- the program's windows ---
    static HWND Form() { return ::FindWindowA(FormBlindClassName, nullptr); }
    // What choosing a line of the tray menu sends to the form.
    static bool Choose(WORD command) {
        HWND form = nullptr;
        return waitFor([&] { return (form = Form()) != nullptr; }) &&
               ::PostMessageA(form, WM_COMMAND, command, 0);
    }

    // The program's icon, and the companion's beside it when it runs: exactly that many icons
    // stand in the notification area, and each shows the state and tip.
    bool TrayShows(int state, const std::string& tip, size_t icons) {
        last_.clear();
        const std::vector<TrayEntry> entries = trayEntries();
        if (entries.size() != icons) {
            last_ = std::to_string(entries.size()) + " icons";
            return false;
        }
        for (const TrayEntry& entry : entries) {
            std::string detail;
            const int shown = stateShown(entry.screen, vigrel_, &detail, 5);
            last_ +=
                "state " + std::to_string(shown) + " (" + detail + ") tip \"" + entry.tip + "\"; ";
            if (shown != state || entry.tip != tip)
                return false;
        }
        return true;
    }
    ::testing::AssertionResult WaitForTray(int state, const std::string& tip, size_t icons = 1) {
        if (waitFor([&] { return TrayShows(state, tip, icons); }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "expected state " << state << " tip \"" << tip << "\", shown: " << last_;
    }

    std::string folder_, vigrel_, starter_, companion_, sink_;
    int smtpPort_ = 0;
    std::string last_;
    HttpPeer peer_;
};

// The settings dialog of the running program, driven from outside as a user's clicks would.
class RemoteDialog {
public:
    RemoteDialog() {
        // The dialog exists, hidden, before it is filled: it is ready once it shows.
        waitFor(
            [&] {
                handle_ = ::FindWindowA("VigrelSettingsDialog", "Settings");
                return handle_ && ::IsWindowVisible(handle_);
            },
            20000);
    }
    explicit operator bool() const { return handle_ != nullptr; }
    HWND Control(int id) const { return ::GetDlgItem(handle_, id); }
    HWND Handle() const { return handle_; }

    bool Send(int id, UINT message, WPARAM w = 0, LPARAM l = 0) const {
        DWORD_PTR result = 0;
        return ::SendMessageTimeoutA(Control(id), message, w, l, SMTO_ABORTIFHUNG, 20000, &result);
    }
    bool Click(int id) const { return Send(id, BM_CLICK); }
    bool SetText(int id, const std::string& text) const {
        return Send(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    bool Checked(int id) const {
        DWORD_PTR state = 0;
        ::SendMessageTimeoutA(Control(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 20000, &state);
        return state == BST_CHECKED;
    }

    // Clicks the tab of the general settings where it is drawn.
    bool ShowGeneralTab() const {
        RemoteMemory remote(processOf(handle_), sizeof(RECT));
        DWORD_PTR ok = 0;
        RECT tab{};
        if (!remote ||
            !::SendMessageTimeoutA(Control(idTabs), TCM_GETITEMRECT, tabGeneral,
                                   reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG,
                                   20000, &ok) ||
            !ok || !remote.Read(&tab, sizeof tab))
            return false;
        const LPARAM at = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
        ::PostMessageA(Control(idTabs), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageA(Control(idTabs), WM_LBUTTONUP, 0, at);
        return waitFor([&] { return ::IsWindowVisible(Control(idScheduleChecks)) != FALSE; },
                       10000);
    }

    // The text of one column of the URL list.
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> rows;
        HWND list = Control(idUrlList);
        DWORD_PTR n = 0;
        ::SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 20000, &n);
        constexpr size_t TextOffset = 256, TextSize = 512;
        RemoteMemory remote(processOf(handle_), TextOffset + TextSize);
        for (DWORD_PTR i = 0; remote && i < n; ++i) {
            LVITEMA item{};
            item.iSubItem = column;
            item.pszText = remote.Address(TextOffset);
            item.cchTextMax = TextSize;
            char text[TextSize] = {};
            DWORD_PTR length = 0;
            if (remote.Write(&item, sizeof item) &&
                ::SendMessageTimeoutA(list, LVM_GETITEMTEXTA, i,
                                      reinterpret_cast<LPARAM>(remote.Address()), SMTO_ABORTIFHUNG,
                                      20000, &length) &&
                remote.Read(text, sizeof text, TextOffset)) {
                text[TextSize - 1] = 0;
                rows.push_back(text);
            }
        }
        return rows;
    }

    bool Closed() const {
        return waitFor([&] { return !::IsWindow(handle_); }, 30000);
    }

private:
    HWND handle_ = nullptr;
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(Scenario, FromInstallToUninstall) {
    // Every failure names the step it happened in.
    std::optional<::testing::ScopedTrace> step;
    auto Step = [&step](int line, const char* name) {
        step.reset();
        step.emplace(__FILE__, line, name);
    };
    // Pages of every kind, listed so that the failed ones are not neighbours.
    const Strings urls = {peer_.Url("/ok"), peer_.Url("/notfound"), peer_.Url("/redirect"),
                          peer_.Url("/error"), peer_.Url("/silent")};
    const Strings failed = {urls[1], urls[3], urls[4]};
    const std::string downText = failed[0] + "\r\n" + failed[1] + "\r\n" + failed[2];
    peer_.SetDown("/bench", false); // up: 200
    {
        std::ofstream expected(sink_ + "\\expected.txt", std::ios::trunc);
        expected << "admin@localhost\n";
        for (const std::string& url : failed)
            expected << url << "\n";
    }

    // The team's webhook: the receiver checks each message's shape and its signature.
    const int webhookPort = PeerPort("VIGREL_TLS_PEER_DIR", "webhook");
    ASSERT_GT(webhookPort, 0) << "no webhook receiver";
    const std::string webhookAddress =
        "https://localhost:" + std::to_string(webhookPort) + "/ok/json/e2e";
    const std::string webhookLog = PeerPath("VIGREL_TLS_PEER_DIR", "webhook-e2e.log");
    const auto webhookMessages = [&] {
        Strings messages;
        std::istringstream lines(readFile(webhookLog));
        for (std::string line; std::getline(lines, line);)
            messages.push_back(line);
        return messages;
    };

    Step(__LINE__, "step 1: install");
    // 1. Install from a folder with a blank in its path.
    ASSERT_EQ(Run(vigrel_, "-install -silent"), 0);
    ASSERT_TRUE(Installed());
    EXPECT_EQ(QueryConfig().binaryPath, "\"" + vigrel_ + "\"");

    Step(__LINE__, "step 2: start");
    // 2. Benchmark and pages on loopback, a cycle a minute, mail on; start through the starter.
    {
        std::ofstream ini(IniPath(), std::ios::binary | std::ios::trunc);
        ini << "[General]\r\nBenchmark=" << peer_.HostPath("/bench")
            << "\r\nStartOnStartup=1\r\nTimeSpan=1\r\nTimeOut=2000\r\n[Log]\r\nFilter=0\r\n"
            << "[SMTP]\r\nTo=admin@localhost\r\nFrom=vigrel@localhost\r\nActive=1\r\n"
            << "Server=127.0.0.1\r\nPort=" << smtpPort_ << "\r\nUserID=vigrel-e2e\r\n"
            << "[Webhook ops]\r\nKind=json\r\nAddress=" << webhookAddress
            << "\r\nSecret=test-secret\r\n[URLS]\r\n";
        for (const std::string& url : urls)
            ini << url << "=\r\n";
    }
    ASSERT_EQ(Run(starter_, ""), 0);
    ASSERT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));

    Step(__LINE__, "step 3: first cycle");
    // 3. The first cycle: log, tray and one mail.
    ASSERT_TRUE(WaitForLog(0, Line("Failed --- " + failed[2]))) << Log();
    {
        const std::string log = Log();
        const Strings lines = {"Application Started",   "OK --- " + urls[0],
                               "Failed --- " + urls[1], "OK --- " + urls[2],
                               "Failed --- " + urls[3], "Failed --- " + urls[4]};
        size_t at = 0;
        for (const std::string& line : lines) {
            const size_t found = log.find(Line(line), at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n"
                                                << log;
            if (found != std::string::npos)
                at = found + 1;
        }
        EXPECT_FALSE(contains(log, "Benchmark site not reached")) << log;
    }
    EXPECT_TRUE(WaitForTray(1, downText));
    EXPECT_TRUE(Snapshot("e2e-step3-sites-down"));
    ASSERT_TRUE(waitFor([&] { return MailCount() >= 1; })) << "no mail arrived";
    {
        const std::string mail = readFile(MailPath(1));
        EXPECT_TRUE(contains(mail, "Subject: Pelorin Status\r\n")) << mail;
        EXPECT_TRUE(contains(mail, "---------------\r\n" + downText + "\r\n---------------\r\n"))
            << mail;
    }

    // The same cycle's one message to the webhook, signed and in its documented shape.
    ASSERT_TRUE(waitFor([&] { return !webhookMessages().empty(); })) << "no webhook message";
    {
        const Strings messages = webhookMessages();
        ASSERT_EQ(messages.size(), 1u) << readFile(webhookLog);
        EXPECT_TRUE(contains(messages[0], "\"verdict\": \"ok\"")) << messages[0];
        for (const std::string& url : failed)
            EXPECT_TRUE(contains(messages[0], url + " is down")) << messages[0];
    }

    Step(__LINE__, "step 4: check now, all up");
    // The companion, as it starts at logon in the user's session, joins the service through
    // its pipe and shows what the service's icon shows; it follows through steps 4 and 5.
    Step(__LINE__, "step 3: the companion");
    ScopedKernelHandle companion = Launch(companion_, "");
    ASSERT_TRUE(companion);
    EXPECT_TRUE(WaitForTray(1, downText, 2));
    Snapshot("e2e-step3-companion");

    // 4. The failed pages come up; "Check Now" as the menu sends it.
    for (const char* path : {"/notfound", "/error", "/silent"})
        peer_.SetDown(path, false);
    size_t mark = Log().size();
    ASSERT_TRUE(Choose(cmdCheckNow1));
    EXPECT_TRUE(WaitForLog(mark, Line("OK --- " + urls[4]))) << Log().substr(mark);
    EXPECT_FALSE(contains(Log().substr(mark), "Failed --- ")) << Log().substr(mark);
    EXPECT_TRUE(WaitForTray(0, "Everything is OK !", 2));
    EXPECT_EQ(MailCount(), 1);
    // One more message: the three sites back up together.
    ASSERT_TRUE(waitFor([&] { return webhookMessages().size() >= 2; })) << readFile(webhookLog);
    for (const std::string& url : failed)
        EXPECT_TRUE(contains(webhookMessages()[1], url + " is back up")) << webhookMessages()[1];

    Step(__LINE__, "step 5: disconnected");
    // 5. The benchmark goes down: disconnected, the pages are not probed.
    peer_.SetDown("/bench", true);
    mark = Log().size();
    const int requestsBefore = peer_.Requests();
    ASSERT_TRUE(Choose(cmdCheckNow1));
    EXPECT_TRUE(WaitForLog(mark, Line("Benchmark site not reached")));
    EXPECT_TRUE(WaitForTray(3, "Disconnected !", 2));
    // "Close" in the companion's menu ends it alone, and takes its icon along.
    ASSERT_TRUE(::PostMessageA(::FindWindowA("VigrelCompanion", nullptr), WM_COMMAND, cmdExit, 0));
    EXPECT_EQ(::WaitForSingleObject(companion.Get(), 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitForTray(3, "Disconnected !"));
    EXPECT_FALSE(contains(Log().substr(mark), "OK --- ")) << Log().substr(mark);
    EXPECT_FALSE(contains(Log().substr(mark), "Failed --- ")) << Log().substr(mark);
    EXPECT_EQ(peer_.Requests(), requestsBefore + 1) << "only the benchmark was fetched";
    // The steps above count on the cycles they start being the only ones.
    EXPECT_FALSE(contains(Log(), "Autocheck started"))
        << "the schedule's first tick came before step 5 ended; the steps took over a minute";

    Step(__LINE__, "step 6: settings, first round");
    // 6. Settings dialog, first round: a new interval, failures only, not with Windows.
    ASSERT_TRUE(Choose(cmdSettings1));
    {
        RemoteDialog dialog;
        ASSERT_TRUE(dialog) << "the settings dialog did not open";
        // The disconnected cycle left the status words of the cycle before it.
        EXPECT_EQ(dialog.Column(0), urls);
        EXPECT_EQ(dialog.Column(2), Strings(urls.size(), "OK"));
        ASSERT_TRUE(dialog.ShowGeneralTab());
        EXPECT_TRUE(dialog.Checked(idScheduleChecks));
        EXPECT_TRUE(dialog.Checked(idRadioAll));
        EXPECT_TRUE(dialog.Checked(idStartWithWindows));
        ASSERT_TRUE(dialog.SetText(idInterval, "5"));
        ASSERT_TRUE(dialog.Click(idRadioFailure));
        ASSERT_TRUE(dialog.Click(idStartWithWindows));
        EXPECT_TRUE(dialog.Checked(idRadioFailure));
        EXPECT_FALSE(dialog.Checked(idRadioAll));
        Snapshot("e2e-step6-settings");
        mark = Log().size();
        ASSERT_TRUE(dialog.Click(idOk));
        ASSERT_TRUE(dialog.Closed());
    }
    EXPECT_TRUE(waitFor([] { return QueryConfig().startType == SERVICE_DEMAND_START; }))
        << "start type " << QueryConfig().startType;
    EXPECT_TRUE(waitFor([&] {
        const std::string ini = readFile(IniPath());
        return contains(ini, "TimeSpan=5\r\n") && contains(ini, "Filter=2\r\n") &&
               contains(ini, "StartOnStartup=0\r\n");
    })) << readFile(IniPath());
    // The webhook's address and secret, written in clear by hand, are stored protected now.
    EXPECT_FALSE(contains(readFile(IniPath()), webhookAddress)) << readFile(IniPath());
    EXPECT_FALSE(contains(readFile(IniPath()), "test-secret")) << readFile(IniPath());
    EXPECT_TRUE(contains(readFile(IniPath()), "Address=protected:")) << readFile(IniPath());

    Step(__LINE__, "step 6: new task bar");
    // A new task bar, as after the shell restarted: the old one took the icon with it. The
    // icon comes back with image 0 and the last tip, and the event is logged even at level 2.
    EXPECT_TRUE(WaitForTray(3, "Disconnected !"));
    {
        NOTIFYICONDATAA gone{};
        gone.cbSize = sizeof gone;
        gone.hWnd = Form();
        gone.uID = TrayIconId;
        ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &gone));
    }
    EXPECT_TRUE(waitFor([] { return trayEntries().empty(); })) << describe(trayEntries());
    mark = Log().size();
    ASSERT_TRUE(::PostMessageA(Form(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0));
    EXPECT_TRUE(WaitForLog(mark, Line("Taskbar created"))) << Log().substr(mark);
    EXPECT_TRUE(WaitForTray(0, "Disconnected !"));

    Step(__LINE__, "step 6: settings, second round");
    // Second round: all events again and with Windows; now the change is logged.
    ASSERT_TRUE(Choose(cmdSettings1));
    {
        RemoteDialog dialog;
        ASSERT_TRUE(dialog) << "the settings dialog did not open again";
        ASSERT_TRUE(dialog.ShowGeneralTab());
        EXPECT_TRUE(dialog.Checked(idRadioFailure));
        EXPECT_FALSE(dialog.Checked(idStartWithWindows));
        ASSERT_TRUE(dialog.Click(idRadioAll));
        ASSERT_TRUE(dialog.Click(idStartWithWindows));
        ASSERT_TRUE(dialog.Click(idOk));
        ASSERT_TRUE(dialog.Closed());
    }
    EXPECT_TRUE(WaitForLog(mark, Line("Settings Changed")));
    EXPECT_EQ(count(Log().substr(mark), "Settings Changed"), 1u)
        << "logged at level 2: " << Log().substr(mark);
    EXPECT_TRUE(waitFor([] { return QueryConfig().startType == SERVICE_AUTO_START; }))
        << "start type " << QueryConfig().startType;
    {
        const std::string ini = readFile(IniPath());
        EXPECT_TRUE(contains(ini, "TimeSpan=5\r\n")) << ini;
        EXPECT_TRUE(contains(ini, "Filter=0\r\n")) << ini;
        EXPECT_TRUE(contains(ini, "StartOnStartup=1\r\n")) << ini;
    }

    Step(__LINE__, "step 7: exit");
    // 7. Exit from the menu. An empty file shows that the settings are written on the way out.
    { std::ofstream(IniPath(), std::ios::binary | std::ios::trunc); }
    const DWORD pid = Status().dwProcessId;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    mark = Log().size();
    ASSERT_TRUE(Choose(cmdStop1));
    EXPECT_TRUE(waitFor([] { return State() == SERVICE_STOPPED; })) << State();
    if (process) {
        EXPECT_EQ(::WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }
    EXPECT_TRUE(waitFor([] { return trayEntries().empty(); })) << describe(trayEntries());
    Snapshot("e2e-step7-exit");
    EXPECT_TRUE(contains(Log().substr(mark), Line("Application Stoped"))) << Log().substr(mark);
    {
        const std::string ini = readFile(IniPath());
        EXPECT_TRUE(contains(ini, "TimeSpan=5\r\n")) << ini;
        EXPECT_TRUE(contains(ini, "Filter=0\r\n")) << ini;
        EXPECT_TRUE(contains(ini, "[SMTP]")) << ini;
        EXPECT_TRUE(contains(ini, urls[4])) << ini;
    }

    Step(__LINE__, "step 7: restart, starter stop");
    // The companion started while the monitor is away shows its fifth picture; it follows the
    // service's restart and stop on its own.
    const std::string away = "Vigrel is not running or cannot be reached";
    companion = Launch(companion_, "");
    ASSERT_TRUE(companion);
    EXPECT_TRUE(WaitForTray(4, away));
    // Started again, stopped by the starter: Exit's ending, stop line and all; the process ends.
    mark = Log().size();
    ASSERT_EQ(Run(starter_, ""), 0);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(WaitForLog(mark, Line("Application Started")));
    EXPECT_TRUE(WaitForTray(3, "Disconnected !", 2)); // the benchmark is still down
    const DWORD pid2 = Status().dwProcessId;
    HANDLE process2 = ::OpenProcess(SYNCHRONIZE, FALSE, pid2);
    EXPECT_EQ(Run(starter_, "stop"), 0);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOPPED));
    if (process2) {
        EXPECT_EQ(::WaitForSingleObject(process2, 20000), WAIT_OBJECT_0);
        ::CloseHandle(process2);
    }
    EXPECT_TRUE(contains(Log().substr(mark), Line("Application Stoped")));
    EXPECT_TRUE(WaitForTray(4, away));
    ASSERT_TRUE(::PostMessageA(::FindWindowA("VigrelCompanion", nullptr), WM_COMMAND, cmdExit, 0));
    EXPECT_EQ(::WaitForSingleObject(companion.Get(), 20000), WAIT_OBJECT_0);

    Step(__LINE__, "step 7: uninstall");
    // Uninstalled: nothing registered, no window, no icon, and still the one mail.
    EXPECT_EQ(Run(vigrel_, "-uninstall -silent"), 0);
    EXPECT_FALSE(Installed());
    EXPECT_FALSE(RegistryKeyExists());
    EXPECT_EQ(Form(), nullptr);
    EXPECT_TRUE(waitFor([] { return trayEntries().empty(); })) << describe(trayEntries());
    EXPECT_EQ(MailCount(), 1);
}
