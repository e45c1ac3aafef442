// What the benchmarks that drive the installed service share: counting a process's threads,
// starting a program and waiting for it, and counting the result lines of its log (the
// service's process id: ServiceProcessId of control/pipeclient_win.h).
#pragma once

#include "base/product.h"
#include "control/pipeclient_win.h"

#include <windows.h>

#include <tlhelp32.h>

#include <fstream>
#include <map>
#include <string>

// Starts a program (a Windows path) and waits up to a minute for it; false when it did not start.
// The threads of a process now, or -1 when they cannot be counted.
inline int threadsOf(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == pid;
    CloseHandle(snapshot);
    return count;
}

inline bool RunAndWait(const char* program) {
    std::string line = std::string("\"") + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    WaitForSingleObject(info.hProcess, 60000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

// Counts result lines in every log file of the folder, reading only what was added. A cycle
// whose benchmark fetch failed ends with no results: with perCycle it counts as a whole
// cycle's worth, and is reported as skipped.
class LogCounter {
public:
    explicit LogCounter(std::string folder, long perCycle = 0)
        : folder_(std::move(folder)), perCycle_(perCycle) {}
    long Skipped() const { return skipped_; }
    long Count() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder_ + "\\log*.log").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return total_;
        do {
            std::ifstream in(folder_ + "\\" + found.cFileName, std::ios::binary);
            std::streamoff& offset = offsets_[found.cFileName];
            in.seekg(offset);
            std::string line;
            // Only whole lines: a line still being written is read again next time.
            while (std::getline(in, line) && !in.eof()) {
                offset = in.tellg();
                if (line.find("OK --- ") != std::string::npos ||
                    line.find("Failed --- ") != std::string::npos)
                    ++total_;
                if (perCycle_ && line.find("Benchmark site not reached") != std::string::npos) {
                    total_ += perCycle_;
                    ++skipped_;
                }
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return total_;
    }

private:
    std::string folder_;
    std::map<std::string, std::streamoff> offsets_;
    long perCycle_;
    long total_ = 0;
    long skipped_ = 0;
};
