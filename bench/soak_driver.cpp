// Drives the running service through COUNT check cycles, one after another, each started the
// way the tray menu's "Check Now" starts it, and samples the service process as it goes.
//   soak_driver FOLDER COUNT LINES_PER_CYCLE
// FOLDER holds the service's daily log files. A cycle counts as ended when the log has
// LINES_PER_CYCLE more "OK --- "/"Failed --- " lines. Prints one sample line every 100
// cycles: cycle, seconds, handles, threads, private bytes, working set.
#include "app/frmblind_win.h"
#include "bench_service_win.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace {

// The form is looked for on our own desktop first, then on every desktop of every window
// station we may open, saying where it was found: under Wine a service's process does not
// always share the desktop of a program started from the shell.
HWND findForm() {
    if (HWND form = FindWindowA(FormBlindClassName, nullptr))
        return form;
    struct Search {
        HWND found = nullptr;
        std::string where;
    } search;
    EnumWindowStationsA(
        [](LPSTR station, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            HWINSTA handle = OpenWindowStationA(station, FALSE, MAXIMUM_ALLOWED);
            if (!handle)
                return TRUE;
            // OpenDesktopA looks in the process's window station only.
            HWINSTA previous = GetProcessWindowStation();
            SetProcessWindowStation(handle);
            s.where = station;
            EnumDesktopsA(
                handle,
                [](LPSTR desktop, LPARAM param) -> BOOL {
                    auto& s = *reinterpret_cast<Search*>(param);
                    HDESK handle = OpenDesktopA(desktop, 0, FALSE, MAXIMUM_ALLOWED);
                    if (!handle)
                        return TRUE;
                    EnumDesktopWindows(
                        handle,
                        [](HWND window, LPARAM param) -> BOOL {
                            char name[64] = "";
                            GetClassNameA(window, name, sizeof name);
                            if (std::string(name) != FormBlindClassName)
                                return TRUE;
                            reinterpret_cast<Search*>(param)->found = window;
                            return FALSE;
                        },
                        param);
                    CloseDesktop(handle);
                    if (s.found) {
                        std::fprintf(stderr, "form found on %s\\%s\n", s.where.c_str(), desktop);
                        return FALSE;
                    }
                    return TRUE;
                },
                param);
            SetProcessWindowStation(previous);
            CloseWindowStation(handle);
            return !s.found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK printClassName(HWND window, LPARAM) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    std::fprintf(stderr, " %s", name);
    return TRUE;
}

BOOL CALLBACK printDesktop(LPSTR desktop, LPARAM) {
    std::fprintf(stderr, "  desktop %s:", desktop);
    if (HDESK handle = OpenDesktopA(desktop, 0, FALSE, MAXIMUM_ALLOWED)) {
        EnumDesktopWindows(handle, printClassName, 0);
        CloseDesktop(handle);
    }
    std::fprintf(stderr, "\n");
    return TRUE;
}

BOOL CALLBACK printStation(LPSTR station, LPARAM) {
    std::fprintf(stderr, "station %s\n", station);
    HWINSTA handle = OpenWindowStationA(station, FALSE, MAXIMUM_ALLOWED);
    if (!handle) {
        std::fprintf(stderr, "  (cannot open: %lu)\n", GetLastError());
        return TRUE;
    }
    HWINSTA previous = GetProcessWindowStation();
    SetProcessWindowStation(handle);
    EnumDesktopsA(handle, printDesktop, 0);
    SetProcessWindowStation(previous);
    CloseWindowStation(handle);
    return TRUE;
}

// What a failed search saw: every window station and desktop, and the classes on each.
void listDesktops() {
    char own[256] = "";
    GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, own, sizeof own,
                              nullptr);
    std::fprintf(stderr, "own desktop: %s, desktop window %p, top-level:", own,
                 static_cast<void*>(GetDesktopWindow()));
    EnumWindows(printClassName, 0);
    std::fprintf(stderr, "\n");
    EnumWindowStationsA(printStation, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: soak_driver FOLDER COUNT LINES_PER_CYCLE\n");
        return 2;
    }
    // Start the service from here, as a Windows child, before looking for its form.
    if (argc > 4 && !RunAndWait(argv[4])) {
        std::fprintf(stderr, "cannot start %s\n", argv[4]);
        return 1;
    }
    const long count = std::atol(argv[2]);
    const long perCycle = std::atol(argv[3]);
    LogCounter log(argv[1], perCycle);
    const DWORD pid = ServiceProcessId(ProductName);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!pid || !process) {
        std::fprintf(stderr, "service process not found\n");
        return 1;
    }
    HWND form = nullptr;
    for (int i = 0; i < 200 && !(form = findForm()); ++i)
        Sleep(100);
    if (!form) {
        std::fprintf(stderr, "form window not found\n");
        listDesktops();
        return 1;
    }
    const long start = log.Count();
    const ULONGLONG began = GetTickCount64();
    auto sample = [&](long cycle) {
        DWORD handles = 0;
        GetProcessHandleCount(process, &handles);
        PROCESS_MEMORY_COUNTERS_EX memory{};
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory);
        std::printf("%ld %.1f %lu %d %zu %zu\n", cycle, (GetTickCount64() - began) / 1000.0,
                    handles, threadsOf(pid), static_cast<size_t>(memory.PrivateUsage),
                    static_cast<size_t>(memory.WorkingSetSize));
        std::fflush(stdout);
    };
    sample(0);
    for (long cycle = 1; cycle <= count; ++cycle) {
        PostMessageA(form, WM_COMMAND, cmdCheckNow1, 0);
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (log.Count() < start + cycle * perCycle) {
            if (GetTickCount64() > deadline) {
                std::fprintf(stderr, "cycle %ld did not end within 60 s (%ld lines)\n", cycle,
                             log.Count() - start);
                return 1;
            }
            Sleep(2);
        }
        if (cycle % 100 == 0)
            sample(cycle);
    }
    std::printf("lines %ld, cycles skipped (benchmark not reached) %ld\n", log.Count() - start,
                log.Skipped());
    CloseHandle(process);
    return 0;
}
