// Times the status push of the control pipe against the running service, and what 16 idle
// subscribers cost it.
//   companion_pipe_driver FOLDER CYCLES LINES_PER_CYCLE IDLE [STARTER]
// FOLDER holds the service's log files; STARTER, when given, is run first to start the service.
// Or, against hostile clients (see hostile() below):
//   companion_pipe_driver hostile SILENT_URL ROUNDS [STARTER]
//
// For every "Check Now" (sent through PipeMonitorLink, as the companion sends it) it notes, on
// one clock (QueryPerformanceCounter):
//   request  when CheckNow was called;
//   logend   when the cycle's last result line was seen in the log (a change notification on
//            the folder, then the lines counted): the end of the cycle as seen from outside;
//   raw      when a plain subscriber, blocked in a read on its own pipe connection, got the
//            pushed status;
//   link     when PipeMonitorLink's OnStatus ran on this thread (the companion's event).
// Three phases of CYCLES cycles each: no other client, IDLE idle subscribers connected, none
// again. The service serves at most 16 clients, the link and the timing subscriber included.
#include "control/pipeclient_win.h"
#include "control/protocol.h"
#include "base/product.h"

#include "bench_service_win.h"
#include "bench_stats.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

double nowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMs;
}

// Counts result lines in every log file of the folder, reading only what was added.
// Watches the log folder on a thread of its own and remembers when each count was first seen.
class LogWatch {
public:
    explicit LogWatch(const std::string& folder) : log_(folder) {
        change_ = FindFirstChangeNotificationA(
            folder.c_str(), FALSE,
            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME);
        seen_.push_back({log_.Count(), nowMs(), true});
        thread_ = std::thread([this] { run(); });
    }
    ~LogWatch() {
        stop_ = true;
        thread_.join();
        if (change_ != INVALID_HANDLE_VALUE)
            FindCloseChangeNotification(change_);
    }
    long Count() {
        std::lock_guard<std::mutex> hold(lock_);
        return seen_.back().count;
    }
    // When the count first reached target; false while it has not.
    bool Reached(long target, double& when, bool& byNotification) {
        std::lock_guard<std::mutex> hold(lock_);
        for (const Seen& s : seen_)
            if (s.count >= target) {
                when = s.time;
                byNotification = s.byNotification;
                return true;
            }
        return false;
    }

private:
    struct Seen {
        long count;
        double time;
        bool byNotification;
    };
    void run() {
        while (!stop_) {
            bool notified = false;
            if (change_ != INVALID_HANDLE_VALUE) {
                notified = WaitForSingleObject(change_, 50) == WAIT_OBJECT_0;
                if (notified)
                    FindNextChangeNotification(change_);
            } else {
                Sleep(50);
            }
            const double t = nowMs();
            const long count = log_.Count();
            std::lock_guard<std::mutex> hold(lock_);
            if (count > seen_.back().count)
                seen_.push_back({count, t, notified});
        }
    }
    LogCounter log_;
    HANDLE change_ = INVALID_HANDLE_VALUE;
    std::mutex lock_;
    std::vector<Seen> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A plain pipe client: hello and subscribe, then reads with overlapped I/O.
class RawClient {
public:
    bool Open() {
        for (int i = 0; i < 100; ++i) {
            pipe_ = CreateFileA(ControlPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (pipe_ != INVALID_HANDLE_VALUE)
                break;
            WaitNamedPipeA(ControlPipeName, 100);
        }
        if (pipe_ == INVALID_HANDLE_VALUE)
            return false;
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ControlMessage hello(msg::Hello);
        hello.Add("version", std::to_string(ControlProtocolVersion));
        std::string type;
        if (!send(hello) || !readNow(type) || type != msg::Hello)
            return false;
        if (!send(ControlMessage(msg::Subscribe)) || !readNow(type) || type != msg::Status)
            return false;
        return true;
    }
    ~RawClient() {
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CancelIo(pipe_);
            CloseHandle(pipe_);
        }
        if (event_)
            CloseHandle(event_);
    }
    // Starts a read; its completion sets Event().
    void StartRead() {
        ResetEvent(event_);
        overlapped_ = {};
        overlapped_.hEvent = event_;
        ReadFile(pipe_, buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &overlapped_);
    }
    // After Event() was set: the message read, or nothing when the pipe failed.
    std::optional<ControlMessage> Finish() {
        DWORD n = 0;
        if (!GetOverlappedResult(pipe_, &overlapped_, &n, FALSE))
            return std::nullopt;
        std::string error;
        return DecodeMessage(std::string(buffer_.data(), n), error);
    }
    HANDLE Event() const { return event_; }

private:
    bool send(const ControlMessage& message) {
        const std::string bytes = EncodeMessage(message);
        OVERLAPPED o{};
        o.hEvent = event_;
        ResetEvent(event_);
        DWORD n = 0;
        WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &o);
        return GetOverlappedResult(pipe_, &o, &n, TRUE) && n == bytes.size();
    }
    bool readNow(std::string& type) {
        StartRead();
        if (WaitForSingleObject(event_, 10000) != WAIT_OBJECT_0)
            return false;
        std::optional<ControlMessage> m = Finish();
        type = m ? m->Type : "";
        return m.has_value();
    }
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    OVERLAPPED overlapped_{};
    std::vector<char> buffer_ = std::vector<char>(MaxMessageSize + 1);
};

// Clients read on one thread of their own, as an idle companion does: every push is taken.
class Readers {
public:
    // onStatus: called on the readers' thread with the index of the client and the time.
    Readers(std::vector<RawClient*> clients, std::function<void(size_t, double)> onStatus)
        : clients_(std::move(clients)), onStatus_(std::move(onStatus)),
          stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this] { run(); }) {}
    ~Readers() {
        SetEvent(stop_);
        thread_.join();
        CloseHandle(stop_);
    }
    long Messages() const { return messages_; }

private:
    void run() {
        std::vector<HANDLE> waits;
        for (RawClient* c : clients_) {
            c->StartRead();
            waits.push_back(c->Event());
        }
        waits.push_back(stop_);
        for (;;) {
            const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                   FALSE, INFINITE);
            const double t = nowMs();
            const size_t i = r - WAIT_OBJECT_0;
            if (i >= clients_.size())
                return;
            std::optional<ControlMessage> m = clients_[i]->Finish();
            if (!m) {
                // A failed connection stops taking part; its event stays set otherwise.
                ResetEvent(waits[i]);
                waits[i] = stop_;
                continue;
            }
            ++messages_;
            if (m->Type == msg::Status)
                onStatus_(i, t);
            clients_[i]->StartRead();
        }
    }
    std::vector<RawClient*> clients_;
    std::function<void(size_t, double)> onStatus_;
    HANDLE stop_;
    std::atomic<long> messages_{0};
    std::thread thread_;
};

struct Memory {
    double workingSetKb = 0;
};

Memory memoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX m{};
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
    return {m.WorkingSetSize / 1024.0};
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void printRow(const char* what, const std::vector<double>& v) {
    double mean = 0;
    for (double x : v)
        mean += x;
    mean = v.empty() ? 0 : mean / static_cast<double>(v.size());
    std::printf("  %-28s n=%zu min %.2f median %.2f mean %.2f p95 %.2f max %.2f ms\n", what,
                v.size(), v.empty() ? 0 : *std::min_element(v.begin(), v.end()), median(v), mean,
                percentile(v, 0.95), v.empty() ? 0 : *std::max_element(v.begin(), v.end()));
}

void pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

// Pumps this thread's messages until done() or the time is up.
bool pumpUntil(const std::function<bool()>& done, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
        pump();
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Hostile clients. A flooder says hello and then writes "status" as fast as it can without
// reading; a non-reader says hello, subscribes and asks for a status every 100 ms without
// reading. Each connects again whenever the service drops it. Meanwhile a well-behaved client
// connects, says hello and asks for a status, ROUNDS times; and the service's working set and
// thread count are sampled every 100 ms against their idle values. Then a client asks for a
// checklist of 100 silent addresses and leaves at once, and a well-behaved client's hello and
// getsettings are timed from that moment.

// One overlapped connection with bounded steps.
class Conn {
public:
    ~Conn() { Close(); }
    bool Open() {
        for (int i = 0; i < 200 && pipe_ == INVALID_HANDLE_VALUE; ++i) {
            pipe_ = CreateFileA(ControlPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (pipe_ == INVALID_HANDLE_VALUE)
                WaitNamedPipeA(ControlPipeName, 50);
        }
        if (pipe_ == INVALID_HANDLE_VALUE)
            return false;
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
        return true;
    }
    void Close() {
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CancelIo(pipe_);
            CloseHandle(pipe_);
        }
        pipe_ = INVALID_HANDLE_VALUE;
    }
    bool Send(const ControlMessage& m, DWORD boundMs = 5000) {
        const std::string bytes = EncodeMessage(m);
        OVERLAPPED o{};
        o.hEvent = event_;
        ResetEvent(event_);
        DWORD n = 0;
        if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &o) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        if (WaitForSingleObject(event_, boundMs) != WAIT_OBJECT_0) {
            CancelIo(pipe_);
            GetOverlappedResult(pipe_, &o, &n, TRUE);
            return false;
        }
        return GetOverlappedResult(pipe_, &o, &n, FALSE) != FALSE;
    }
    // The next message of this type (status pushes skipped), or nothing within the bound.
    std::optional<ControlMessage> Await(const std::string& type, DWORD boundMs = 60000) {
        const ULONGLONG end = GetTickCount64() + boundMs;
        for (;;) {
            OVERLAPPED o{};
            o.hEvent = event_;
            ResetEvent(event_);
            DWORD n = 0;
            if (!ReadFile(pipe_, buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &o) &&
                GetLastError() != ERROR_IO_PENDING)
                return std::nullopt;
            const ULONGLONG now = GetTickCount64();
            if (now >= end ||
                WaitForSingleObject(event_, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) {
                CancelIo(pipe_);
                GetOverlappedResult(pipe_, &o, &n, TRUE);
                return std::nullopt;
            }
            if (!GetOverlappedResult(pipe_, &o, &n, FALSE))
                return std::nullopt;
            std::string error;
            std::optional<ControlMessage> m = DecodeMessage(std::string(buffer_.data(), n), error);
            if (!m || m->Type == type || m->Type != msg::Status)
                return m;
        }
    }
    bool Hello() {
        ControlMessage hello(msg::Hello);
        hello.Add("version", std::to_string(ControlProtocolVersion));
        if (!Send(hello))
            return false;
        std::optional<ControlMessage> answer = Await(msg::Hello, 30000);
        return answer && answer->Type == msg::Hello;
    }

private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<char> buffer_ = std::vector<char>(MaxMessageSize + 1);
};

// Connects, says hello and asks; the time in ms, or -1 when it failed.
double timedAsk(const char* type, const char* answer) {
    const double start = nowMs();
    Conn c;
    if (!c.Open() || !c.Hello() || !c.Send(ControlMessage(type)))
        return -1;
    std::optional<ControlMessage> reply = c.Await(answer);
    return reply && reply->Type == answer ? nowMs() - start : -1;
}

int hostile(int argc, char** argv) {
    const std::string silent = argv[2];
    const int rounds = std::atoi(argv[3]);
    if (argc > 4 && !RunAndWait(argv[4])) {
        std::fprintf(stderr, "cannot start %s\n", argv[4]);
        return 1;
    }
    const DWORD pid = ServiceProcessId(ProductName);
    HANDLE process =
        pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
    if (!process) {
        std::fprintf(stderr, "service process not found\n");
        return 1;
    }
    Sleep(3000); // the first cycle
    if (timedAsk(msg::Status, msg::Status) < 0) {
        std::fprintf(stderr, "no answer from the service\n");
        return 1;
    }
    Sleep(1000);
    const double idleKb = memoryOf(process).workingSetKb;
    const int idleThreads = threadsOf(pid);

    std::atomic<bool> stop{false};
    std::atomic<long> flooded{0}, flooderDrops{0}, nonReaderDrops{0};
    std::thread flooder([&] {
        while (!stop) {
            Conn c;
            if (!c.Open() || !c.Hello())
                continue;
            while (!stop && c.Send(ControlMessage(msg::Status), 1000))
                ++flooded;
            ++flooderDrops;
        }
    });
    std::thread nonReader([&] {
        while (!stop) {
            Conn c;
            if (!c.Open() || !c.Hello() || !c.Send(ControlMessage(msg::Subscribe)))
                continue;
            while (!stop && c.Send(ControlMessage(msg::Status), 1000))
                Sleep(100);
            ++nonReaderDrops;
        }
    });
    double maxKb = idleKb;
    int maxThreads = idleThreads;
    std::thread sampler([&] {
        while (!stop) {
            maxKb = std::max(maxKb, memoryOf(process).workingSetKb);
            maxThreads = std::max(maxThreads, threadsOf(pid));
            Sleep(100);
        }
    });
    Sleep(1000);
    std::vector<double> waits;
    long failed = 0;
    for (int i = 0; i < rounds; ++i) {
        const double t = timedAsk(msg::Status, msg::Status);
        if (t < 0)
            ++failed;
        else
            waits.push_back(t);
        Sleep(200);
    }
    stop = true;
    flooder.join();
    nonReader.join();
    sampler.join();
    std::printf("hostile clients: a flooder (%ld statuses written, dropped %ld times) and a "
                "non-reader (dropped %ld times)\n",
                flooded.load(), flooderDrops.load(), nonReaderDrops.load());
    printRow("connect+hello+status", waits);
    std::printf("  failed exchanges: %ld of %d\n", failed, rounds);
    std::printf("  service working set: idle %.0f kB, at most %.0f kB under attack (+%.0f kB)\n",
                idleKb, maxKb, maxKb - idleKb);
    std::printf("  service threads: idle %d, at most %d under attack (+%d)\n", idleThreads,
                maxThreads, maxThreads - idleThreads);

    std::vector<double> afterList;
    int threadsAfter = 0;
    for (int i = 0; i < 5; ++i) {
        {
            Conn leaving;
            ControlMessage list(msg::CheckList);
            for (int u = 0; u < 100; ++u)
                list.Add("url", silent + "/" + std::to_string(u));
            if (!leaving.Open() || !leaving.Hello() || !leaving.Send(list)) {
                std::fprintf(stderr, "the checklist could not be sent\n");
                return 1;
            }
            Sleep(100); // the list reaches the service and its first probes start
        }
        const double t = timedAsk(msg::GetSettings, msg::Settings);
        if (t >= 0)
            afterList.push_back(t);
        threadsAfter = std::max(threadsAfter, threadsOf(pid));
        Sleep(3000);
    }
    printRow("abandoned list -> settings", afterList);
    std::printf("  service threads: at most %d right after, %d three seconds after the last\n",
                threadsAfter, threadsOf(pid));
    CloseHandle(process);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "hostile")
        return hostile(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: companion_pipe_driver FOLDER CYCLES LINES_PER_CYCLE IDLE "
                             "[STARTER]\n");
        return 2;
    }
    if (argc > 5 && !RunAndWait(argv[5])) {
        std::fprintf(stderr, "cannot start %s\n", argv[5]);
        return 1;
    }
    const long cycles = std::atol(argv[2]);
    const long perCycle = std::atol(argv[3]);
    const int idleCount = std::atoi(argv[4]);
    const DWORD pid = ServiceProcessId(ProductName);
    HANDLE process =
        pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
    if (!process) {
        std::fprintf(stderr, "service process not found\n");
        return 1;
    }
    LogWatch log(argv[1]);

    // The companion's link, on this thread.
    std::atomic<long> linkStatuses{0};
    double linkTime = 0;
    bool linkRunning = true;
    PipeMonitorLink link;
    link.OnStatus = [&](const MonitorStatus& status) {
        linkTime = nowMs();
        linkRunning = status.CycleRunning;
        ++linkStatuses;
    };
    if (!pumpUntil([&] { return link.Connected() && linkStatuses > 0; }, 30000)) {
        std::fprintf(stderr, "the link did not connect\n");
        return 1;
    }

    // The plain subscriber whose read is the pipe's own arrival time.
    RawClient timing;
    if (!timing.Open()) {
        std::fprintf(stderr, "cannot subscribe on the pipe\n");
        return 1;
    }
    std::mutex rawLock;
    std::vector<double> rawTimes;
    Readers timingReader({&timing}, [&](size_t, double t) {
        std::lock_guard<std::mutex> hold(rawLock);
        rawTimes.push_back(t);
    });
    auto rawCount = [&] {
        std::lock_guard<std::mutex> hold(rawLock);
        return rawTimes.size();
    };

    struct Cycle {
        double request, logEnd, raw, link;
        bool byNotification;
    };
    auto runPhase = [&](const char* name) -> bool {
        std::vector<Cycle> results;
        const Memory before = memoryOf(process);
        for (long i = 0; i < cycles; ++i) {
            const long target = log.Count() + perCycle;
            const long linkBefore = linkStatuses;
            const size_t rawBefore = rawCount();
            Cycle c{};
            c.request = nowMs();
            link.CheckNow();
            double logEnd = 0;
            const bool ended = pumpUntil(
                [&] {
                    return linkStatuses > linkBefore && !linkRunning && rawCount() > rawBefore &&
                           log.Reached(target, logEnd, c.byNotification);
                },
                60000);
            if (!ended) {
                std::fprintf(stderr, "%s: cycle %ld did not end within 60 s\n", name, i + 1);
                return false;
            }
            c.logEnd = logEnd;
            c.link = linkTime;
            {
                std::lock_guard<std::mutex> hold(rawLock);
                c.raw = rawTimes[rawBefore];
            }
            results.push_back(c);
        }
        const Memory after = memoryOf(process);
        std::vector<double> linkLat, rawLat, hop, roundTrip, toLog;
        long notified = 0;
        for (const Cycle& c : results) {
            linkLat.push_back(c.link - c.logEnd);
            rawLat.push_back(c.raw - c.logEnd);
            hop.push_back(c.link - c.raw);
            roundTrip.push_back(c.raw - c.request);
            toLog.push_back(c.logEnd - c.request);
            notified += c.byNotification;
        }
        std::printf("phase %s: %zu cycles (cycle end seen by notification: %ld)\n", name,
                    results.size(), notified);
        printRow("cycle end -> OnStatus", linkLat);
        printRow("cycle end -> raw read", rawLat);
        printRow("raw read -> OnStatus", hop);
        printRow("checknow -> raw read", roundTrip);
        printRow("checknow -> cycle end", toLog);
        std::printf("  service working set: %.0f kB at the start, %.0f kB at the end\n",
                    before.workingSetKb, after.workingSetKb);
        std::fflush(stdout);
        return true;
    };

    // A warm-up cycle, not recorded: first use of WinINet and of the log file.
    {
        const long before = linkStatuses;
        link.CheckNow();
        pumpUntil([&] { return linkStatuses > before && !linkRunning; }, 60000);
        Sleep(1000);
    }
    if (!runPhase("no other client"))
        return 1;
    {
        std::vector<std::unique_ptr<RawClient>> idle;
        std::vector<RawClient*> idlePointers;
        for (int i = 0; i < idleCount; ++i) {
            idle.push_back(std::make_unique<RawClient>());
            if (!idle.back()->Open()) {
                std::fprintf(stderr, "idle client %d could not subscribe\n", i + 1);
                return 1;
            }
            idlePointers.push_back(idle.back().get());
        }
        std::atomic<long> idleStatuses{0};
        Readers idleReaders(idlePointers, [&](size_t, double) { ++idleStatuses; });
        Sleep(2000);
        if (!runPhase("idle subscribers"))
            return 1;
        std::printf("  idle subscribers received %ld statuses (expected %ld)\n",
                    idleStatuses.load(), idleCount * cycles);
    }
    Sleep(2000);
    if (!runPhase("no other client, again"))
        return 1;
    CloseHandle(process);
    return 0;
}
