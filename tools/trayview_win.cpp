// The demo's window on the monitor: stays on the Wine desktop while the demo runs (a desktop
// shell closes once no program of its own is left on it, and the service does not count),
// waits for the service's icon to show the result of its first check cycle, says what the
// icon shows, has a picture of the screen taken, clicks the icon so that the menu of the sites
// down opens, has that photographed too and waits until the demo is over.
//
//   trayview.exe VIGREL_EXE QUIT_FILE
//
// VIGREL_EXE is the running program (its state pictures are compared with the icon on the
// task bar); the demo creates QUIT_FILE when it is done. Pictures are taken by the script's
// screenshot server named in VIGREL_SNAPSHOT_DIR. Exit code 0 when the icon was seen.
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: trayview VIGREL_EXE QUIT_FILE\n");
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

    PumpUntil([&] { return ::GetFileAttributesA(quit.c_str()) != INVALID_FILE_ATTRIBUTES; },
              DemoWaitMs);
    return 0;
}
