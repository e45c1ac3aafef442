// The demo's window on the monitor: stays on the Wine desktop while the demo runs (a desktop
// shell closes once no program of its own is left on it, and the service does not count),
// waits for the service's icon to show the result of its first check cycle, says what the
// icon shows, has a picture of the screen taken, clicks the icon so that the menu of the sites
// down opens, has that photographed too and waits until the demo is over.
//
//   trayview.exe VIGREL_EXE QUIT_FILE [COMPANION_EXE]
//
// VIGREL_EXE is the running program (its state pictures are compared with the icon on the
// task bar); the demo creates QUIT_FILE when it is done. With COMPANION_EXE it then starts the
// companion, as a logon would, and says what the companion's icon, beside the service's, shows.
// Pictures are taken by the script's screenshot server named in VIGREL_SNAPSHOT_DIR. Exit code 0
// when the icon was seen.
#include "desktop_support_win.h"
#include "fixtures/tray_reader_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD IconWaitMs = 120000;
constexpr DWORD DemoWaitMs = 30 * 60 * 1000;

const char* stateName(int state) {
    switch (state) {
    case 0:
        return "every site up";
    case 1:
        return "sites down";
    case 2:
        return "checking";
    case 3:
        return "disconnected";
    default:
        return "unknown";
    }
}

// Starts the companion and waits until its icon, the one that is not where the service's
// stood, shows a state; says what it shows and has the task bar photographed with both.
void showCompanion(const std::string& companion, const std::string& program,
                   const RECT& serviceIcon) {
    std::string command = "\"" + companion + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &pi)) {
        std::printf("    the companion did not start\n");
        return;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    TrayEntry icon;
    int state = -1;
    const bool seen = PumpUntil(
        [&] {
            for (const TrayEntry& entry : trayEntries()) {
                if (::EqualRect(&entry.screen, &serviceIcon) || entry.tip.empty())
                    continue;
                icon = entry;
                state = stateShown(icon.screen, program, nullptr, 5);
                return state >= 0 && state != 4;
            }
            return false;
        },
        IconWaitMs);
    if (!seen) {
        std::printf("    the companion's icon did not show the service's state\n");
        return;
    }
    std::printf("    companion's icon (beside the service's): %s (picture %d), tip \"%s\"\n",
                stateName(state), state, icon.tip.c_str());
    std::printf("    screenshot: service and companion %s\n",
                Snapshot("demo-companion") ? "taken" : "not taken");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: trayview VIGREL_EXE QUIT_FILE [COMPANION_EXE]\n");
        return 2;
    }
    const std::string program = argv[1], quit = argv[2];

    if (!PumpUntil(HasTaskbar, IconWaitMs)) {
        std::printf("    no task bar on this desktop\n");
        return 1;
    }
    // The first cycle is over once the icon shows neither the checking picture nor its tip
    // (a cycle with failures shows its picture first and sets the tip after the mail).
    TrayEntry icon;
    int state = -1;
    const bool seen = PumpUntil(
        [&] {
            const std::vector<TrayEntry> entries = trayEntries();
            if (entries.size() != 1 || entries[0].tip.empty() || entries[0].tip == "Checking...")
                return false;
            icon = entries[0];
            state = stateShown(icon.screen, program, nullptr);
            return state >= 0 && state != 2;
        },
        IconWaitMs);
    if (!seen) {
        std::printf("    the service's icon did not show a finished check cycle\n");
        return 1;
    }
    std::printf("    icon: %s (picture %d), tip \"%s\"\n", stateName(state), state,
                icon.tip.c_str());
    const bool trayShot = Snapshot("demo-tray");

    // A click on the icon, as a user would: the menu of the sites that are down opens.
    ::SetCursorPos((icon.screen.left + icon.screen.right) / 2,
                   (icon.screen.top + icon.screen.bottom) / 2);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, click, sizeof click[0]);
    HWND menu = nullptr;
    const bool menuOpen = PumpUntil(
        [&] {
            menu = ::FindWindowA("#32768", nullptr);
            return menu && ::IsWindowVisible(menu);
        },
        10000);
    const bool menuShot = menuOpen && Snapshot("demo-menu");
    if (menuOpen)
        ::PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    std::printf("    screenshots: tray %s, menu of the sites down %s\n",
                trayShot ? "taken" : "not taken", menuShot ? "taken" : "not taken");
    std::fflush(stdout);
    if (argc == 4)
        showCompanion(argv[3], program, icon.screen);

    PumpUntil([&] { return ::GetFileAttributesA(quit.c_str()) != INVALID_FILE_ATTRIBUTES; },
              DemoWaitMs);
    return 0;
}
