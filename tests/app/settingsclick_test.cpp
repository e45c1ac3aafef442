// "Settings" from the tray menu: what happens after OK, in which order, and after Cancel.
#include "app/settingsclick_win.h"

#include "base/exception.h"
#include "base/handle_win.h"
#include "base/paths_win.h"
#include "ui/frmsettings_win.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// What the user does once the dialog is up: a thread timer, which fires inside the dialog's
// loop, presses one button per tick.
std::vector<int> presses;
std::size_t pressed = 0;

void CALLBACK Press(HWND, UINT, UINT_PTR id, DWORD) {
    if (!FormSettings)
        return;
    if (pressed >= presses.size()) {
        ::KillTimer(nullptr, id);
        return;
    }
    const int button = presses[pressed++];
    if (button == 0)
        ::PostMessageA(FormSettings->Handle(), WM_CLOSE, 0, 0);
    else
        ::PostMessageA(FormSettings->Handle(), WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

class SettingsClick : public ::testing::Test {
protected:
    void SetUp() override {
        record.Benchmark = "bench.test";
        record.TimeSpan = 5;
        record.TimeOut = 500;
        record.Port = 25;
        record.StartOnStartup = false;
        hooks.ArmSchedule = [this] { steps.push_back("arm"); };
        hooks.CheckSites = [this] {
            steps.push_back(FormSettings ? "cycle with dialog" : "cycle");
        };
        hooks.SetAutoStart = [this](bool on) {
            steps.push_back(on ? "autostart on" : "autostart off");
            return false;
        };
        hooks.Save = [this](const CUserSettings&) {
            if (refuseSave)
                throw Exception("Unable to write to Vigrel.INI");
            steps.push_back("save");
        };
        hooks.WriteLog = [this](const std::string& line) { steps.push_back("log " + line); };
    }
    int Run(std::vector<int> buttons) {
        presses = std::move(buttons);
        pressed = 0;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, Press);
        const int result = Settings1Click(nullptr, record, hooks);
        ::KillTimer(nullptr, timer);
        return result;
    }

    CUserSettings record;
    SettingsSteps hooks;
    bool refuseSave = false;
    std::vector<std::string> steps;
};

using Steps = std::vector<std::string>;

} // namespace

TEST_F(SettingsClick, OkAppliesEverythingInOrder) {
    EXPECT_EQ(Run({idOk}), IDOK);
    EXPECT_EQ(steps, (Steps{"save", "arm", "cycle", "autostart off", "log Settings Changed"}));
    EXPECT_EQ(FormSettings, nullptr);
}

TEST_F(SettingsClick, OkWithoutScheduleRunsNoCycleAndQuietLevelsLogNothing) {
    record.TimeSpan = 0;
    record.Filter = 2;
    EXPECT_EQ(Run({idOk}), IDOK);
    EXPECT_EQ(steps, (Steps{"save", "arm", "autostart off"}));
}

TEST_F(SettingsClick, CancelAndTheCloseBoxChangeNothing) {
    EXPECT_EQ(Run({idCancel}), IDCANCEL);
    EXPECT_EQ(Run({0}), IDCANCEL);
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(FormSettings, nullptr);
}

TEST_F(SettingsClick, GoRunsTheCycleWhileTheDialogIsOpen) {
    EXPECT_EQ(Run({idGo, idCancel}), IDCANCEL);
    EXPECT_EQ(steps, (Steps{"cycle with dialog"}));
}

TEST_F(SettingsClick, AChangeFromElsewhereIsInForceOnlyOnceItKeepsTheRulesAndIsSaved) {
    CUserSettings next = record;
    next.TimeSpan = 9;
    next.AddUrl("http://127.0.0.1/new");
    refuseSave = true;
    EXPECT_EQ(ChangeSettings(record, next, hooks), "Unable to write to Vigrel.INI");
    EXPECT_EQ(record.TimeSpan, 5);
    EXPECT_EQ(record.UrlCount(), 0);
    EXPECT_EQ(steps, (Steps{"log Unable to write to Vigrel.INI"})) << "no cycle of the new list";

    steps.clear();
    refuseSave = false;
    next.From = "v@example.com\r\n[Evil]";
    EXPECT_NE(ChangeSettings(record, next, hooks), "");
    EXPECT_TRUE(steps.empty());

    next.From = "v@example.com";
    EXPECT_EQ(ChangeSettings(record, next, hooks), "");
    EXPECT_EQ(record.TimeSpan, 9);
    EXPECT_EQ(steps, (Steps{"save", "arm", "cycle", "autostart off", "log Settings Changed"}));
}

TEST_F(SettingsClick, AnUnreadableFileIsReportedOnceAndReadWhenItIsFree) {
    const std::string path = IniPathFor(ProgramPath());
    std::ofstream(path, std::ios::binary) << "[General]\r\nTimeSpan=7\r\n";
    std::vector<std::string> reports;
    hooks.ReportUnreadable = [&](const std::string& text) { reports.push_back(text); };
    {
        ScopedHandle<FileHandleTraits> held(::CreateFileA(
            path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(LoadSettings(record, hooks));
        EXPECT_FALSE(LoadSettings(record, hooks));
    }
    ASSERT_EQ(reports.size(), 1u) << "said once, not at every try";
    EXPECT_NE(reports[0].find(path), std::string::npos);
    EXPECT_EQ(record.TimeSpan, 15) << "never read: the defaults, whose schedule tries again";
    EXPECT_TRUE(LoadSettings(record, hooks));
    EXPECT_EQ(record.TimeSpan, 7);
    EXPECT_EQ(steps,
              (Steps{"log " + reports[0], "log The settings file " + path + " has been read."}));
    ::DeleteFileA(path.c_str());
}
