// Start-up: how long from launching the starter until the installed service runs, RUNS times.
//   startup_driver STARTER RUNS
// Each run launches "STARTER" (no argument: start the service), watches the service manager's
// status every millisecond and notes when the service reports SERVICE_RUNNING and when the
// starter ends; then stops the service with "STARTER stop" and waits until its process is
// gone. Prints one line per run and the medians, in milliseconds.
#include "bench_stats.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart * 1000.0 / frequency.QuadPart;
}

HANDLE launch(const std::string& commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

bool query(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof status, &needed) != 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_driver STARTER RUNS\n");
        return 2;
    }
    const std::string starter = std::string("\"") + argv[1] + "\"";
    const int runs = std::atoi(argv[2]);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "Vigrel", SERVICE_QUERY_STATUS) : nullptr;
    if (!service) {
        std::fprintf(stderr, "service Vigrel not installed\n");
        return 1;
    }
    std::vector<double> running, ended;
    std::printf("run running_ms starter_ended_ms\n");
    for (int run = 1; run <= runs; ++run) {
        SERVICE_STATUS_PROCESS status{};
        if (!query(service, status) || status.dwCurrentState != SERVICE_STOPPED) {
            std::fprintf(stderr, "run %d: the service is not stopped\n", run);
            return 1;
        }
        const double began = nowMs();
        HANDLE process = launch(starter);
        if (!process) {
            std::fprintf(stderr, "cannot start %s\n", starter.c_str());
            return 1;
        }
        double isRunning = -1, hasEnded = -1;
        while ((isRunning < 0 || hasEnded < 0) && nowMs() - began < 60000) {
            if (isRunning < 0 && query(service, status) && status.dwCurrentState == SERVICE_RUNNING)
                isRunning = nowMs() - began;
            if (hasEnded < 0 && WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
                hasEnded = nowMs() - began;
            Sleep(1);
        }
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        if (isRunning < 0 || hasEnded < 0) {
            std::fprintf(stderr, "run %d: no start within 60 s\n", run);
            return 1;
        }
        std::printf("%d %.1f %.1f\n", run, isRunning, hasEnded);
        std::fflush(stdout);
        running.push_back(isRunning);
        ended.push_back(hasEnded);

        // Stop, and wait until the service's process is gone, so the next start is a cold one.
        query(service, status);
        HANDLE old = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
        HANDLE stopper = launch(starter + " stop");
        if (stopper) {
            WaitForSingleObject(stopper, 60000);
            CloseHandle(stopper);
        }
        if (old) {
            WaitForSingleObject(old, 60000);
            CloseHandle(old);
        }
        for (int i = 0;
             i < 600 && query(service, status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
            Sleep(100);
        Sleep(500);
    }
    std::printf("median running_ms %.1f starter_ended_ms %.1f (runs %d)\n", median(running),
                median(ended), runs);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
