#include "control/pipeclient_win.h"

#include "base/product.h"
#include "base/thread_win.h"
#include "base/window_win.h"

#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr UINT WM_LINKEVENTS = WM_APP + 1;
constexpr const char* LinkWindowClass = "VigrelMonitorLink";
// While the service is away the link tries again this often.
constexpr DWORD RetryMs = 1000;
// A service that takes longer than this to take a message or answer hello is not reachable.
constexpr DWORD ExchangeBoundMs = 5000;
constexpr const char* NotReachable = "The monitor is not running or not reachable.";

// One connection's pipe and its two overlapped operations, all on the link's thread.
struct Connection {
    ScopedFileHandle pipe;
    ScopedKernelHandle readEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ScopedKernelHandle writeEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED readOv = {};
    bool readPending = false;
    std::vector<char> buffer = std::vector<char>(MaxMessageSize);

    ~Connection() { cancelRead(); }

    void cancelRead() {
        if (!readPending)
            return;
        DWORD n = 0;
        ::CancelIo(pipe.Get());
        ::GetOverlappedResult(pipe.Get(), &readOv, &n, TRUE);
        readPending = false;
    }

    bool startRead() {
        readOv = {};
        readOv.hEvent = readEvent.Get();
        readPending = ::ReadFile(pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                 nullptr, &readOv) ||
                      ::GetLastError() == ERROR_IO_PENDING;
        return readPending;
    }

    // The message read, or nothing when the pipe broke or the message was too long.
    std::optional<ControlMessage> finishRead() {
        DWORD n = 0;
        const BOOL ok = ::GetOverlappedResult(pipe.Get(), &readOv, &n, FALSE);
        readPending = false;
        if (!ok)
            return std::nullopt;
        std::string error;
        return DecodeMessage(std::string(buffer.data(), n), error);
    }

    // Sends one message, waiting at most the exchange bound and never past a stop.
    bool write(const ControlMessage& message, HANDLE stop) {
        const std::string bytes = EncodeMessage(message);
        if (bytes.empty())
            return false;
        OVERLAPPED ov = {};
        ov.hEvent = writeEvent.Get();
        if (!::WriteFile(pipe.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                         &ov) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return false;
        HANDLE waits[] = {writeEvent.Get(), stop};
        DWORD n = 0;
        if (::WaitForMultipleObjects(2, waits, FALSE, ExchangeBoundMs) != WAIT_OBJECT_0) {
            ::CancelIo(pipe.Get());
            ::GetOverlappedResult(pipe.Get(), &ov, &n, TRUE);
            return false;
        }
        return ::GetOverlappedResult(pipe.Get(), &ov, &n, FALSE) && n == bytes.size();
    }
};

// The monitor's pipe, opened only when its server is the monitor itself: a program that holds
// the name could otherwise show false states or collect the settings.
std::unique_ptr<Connection> open(const std::function<bool(DWORD)>& serverCheck) {
    auto c = std::make_unique<Connection>();
    // Identification is all the monitor needs of the user's token; the write attributes right
    // lets this end read whole messages.
    c->pipe.Reset(::CreateFileA(
        ControlPipeName, GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
        nullptr));
    if (!c->pipe || !c->readEvent || !c->writeEvent)
        return nullptr;
    ULONG server = 0;
    if (!::GetNamedPipeServerProcessId(c->pipe.Get(), &server) || !serverCheck(server))
        return nullptr;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!::SetNamedPipeHandleState(c->pipe.Get(), &mode, nullptr, nullptr))
        return nullptr;
    return c;
}

} // namespace

DWORD ServiceProcessId(const char* serviceName) {
    ScopedServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return 0;
    ScopedServiceHandle service(::OpenServiceA(manager.Get(), serviceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!service ||
        !::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof status, &needed) ||
        status.dwCurrentState == SERVICE_STOPPED)
        return 0;
    return status.dwProcessId;
}

PipeMonitorLink::PipeMonitorLink(std::function<bool(DWORD)> serverCheck)
    : serverCheck_(std::move(serverCheck)) {
    if (!serverCheck_)
        serverCheck_ = [](DWORD pid) { return pid != 0 && pid == ServiceProcessId(ProductName); };
    RegisterWindowClass(LinkWindowClass, &wndProc);
    window_.Reset(::CreateWindowExA(0, LinkWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleA(nullptr), this));
    stop_.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    requestReady_.Reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (window_ && stop_ && requestReady_)
        thread_ = StartThread([this] { return run(); });
}

PipeMonitorLink::~PipeMonitorLink() {
    *alive_ = false;
    if (thread_) {
        ::SetEvent(stop_.Get());
        ::WaitForSingleObject(thread_.Get(), INFINITE);
    }
    DetachWindowObject(window_.Get());
}

void PipeMonitorLink::CheckNow() {
    request(ControlMessage(msg::CheckNow));
}

void PipeMonitorLink::RequestSettings() {
    request(ControlMessage(msg::GetSettings));
}

void PipeMonitorLink::ApplySettings(const CUserSettings& settings) {
    request(SettingsMessage(msg::SetSettings, settings, !settings.Pass.empty(), true));
}

void PipeMonitorLink::CheckList(const std::vector<std::string>& urls) {
    ControlMessage message(msg::CheckList);
    for (const std::string& url : urls)
        message.Add("url", url);
    request(message);
}

void PipeMonitorLink::Diagnose(const std::string& url) {
    request(ControlMessage(msg::Diagnose).Add("url", url));
}

void PipeMonitorLink::StopMonitoring() {
    request(ControlMessage(msg::Stop));
}

void PipeMonitorLink::RequestHistory(const std::string& url, const std::string& span) {
    ControlMessage message(msg::History);
    message.Add("url", url).Add("span", span);
    request(message);
}

void PipeMonitorLink::TestWebhook(const WebhookChannel& channel) {
    request(TestWebhookMessage(channel));
}

void PipeMonitorLink::StartMaintenance(std::int32_t minutes) {
    request(MaintenanceMessage(minutes));
}

void PipeMonitorLink::request(const ControlMessage& message) {
    // Too large for one message: said here, rather than taken for a service that went away.
    if (EncodeMessage(message).empty()) {
        const std::string reason = "This is too large to send to the monitor in one message of " +
                                   std::to_string(MaxMessageSize / 1024) + " KiB.";
        if (message.Type == msg::TestWebhook) {
            deliver([this, name = message.Get("name"), reason] {
                if (OnWebhookTest)
                    OnWebhookTest(name, reason);
            });
            return;
        }
        deliver([this, reason] {
            if (OnReply)
                OnReply(MonitorReply{false, reason, false});
        });
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(message);
    }
    ::SetEvent(requestReady_.Get());
}

void PipeMonitorLink::deliver(std::function<void()> event) {
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        first = events_.empty();
        events_.push_back(std::move(event));
    }
    if (first)
        ::PostMessageA(window_.Get(), WM_LINKEVENTS, 0, 0);
}

void PipeMonitorLink::drainEvents() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> guard(lock_);
        batch.swap(events_);
    }
    // A handler may destroy the link: the flag outlives it.
    const std::shared_ptr<bool> alive = alive_;
    for (auto& event : batch) {
        if (!*alive)
            return;
        event();
    }
}

LRESULT CALLBACK PipeMonitorLink::wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* link = WindowObject<PipeMonitorLink>(window, message, lParam);
    if (link && message == WM_LINKEVENTS) {
        link->drainEvents();
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

DWORD PipeMonitorLink::run() {
    const HANDLE stop = stop_.Get();
    // The requests that await their replies: each one's type, and the channel a test names.
    struct Pending {
        std::string Type;
        std::string Name;
    };
    std::deque<Pending> pending;

    const auto pendingOf = [](const ControlMessage& m) {
        return Pending{m.Type, m.Type == msg::TestWebhook ? m.Get("name") : std::string()};
    };
    const auto takeRequests = [this] {
        std::deque<ControlMessage> taken;
        std::lock_guard<std::mutex> guard(lock_);
        taken.swap(requests_);
        return taken;
    };
    const auto failReply = [this](const Pending& asked, const std::string& reason,
                                  bool needsElevation) {
        const std::string& type = asked.Type;
        if (type == msg::Status || type == msg::Subscribe)
            return;
        // A test's outcome, whatever it is, is shown beside its channel.
        if (type == msg::TestWebhook) {
            deliver([this, name = asked.Name, reason] {
                if (OnWebhookTest)
                    OnWebhookTest(name, reason);
            });
            return;
        }
        if (type == msg::History) {
            MonitorHistory history;
            history.Error = reason;
            deliver([this, history] {
                if (OnHistory)
                    OnHistory(history);
            });
            return;
        }
        MonitorReply reply{false, reason, needsElevation};
        deliver([this, reply] {
            if (OnReply)
                OnReply(reply);
        });
    };
    const auto setConnected = [this](bool connected) {
        deliver([this, connected] {
            connected_ = connected;
            if (OnConnection)
                OnConnection(connected);
        });
    };

    // One incoming message; false ends the connection.
    const auto dispatch = [&](const ControlMessage& m) {
        const std::string type = m.Type;
        if (type == msg::Status) {
            if (!pending.empty() &&
                (pending.front().Type == msg::Status || pending.front().Type == msg::Subscribe))
                pending.pop_front();
            std::optional<MonitorStatus> status = StatusFromMessage(m);
            if (!status)
                return false;
            deliver([this, s = *status] {
                if (OnStatus)
                    OnStatus(s);
            });
            return true;
        }
        if (pending.empty())
            return false; // a reply nobody asked for
        const Pending asked = pending.front();
        pending.pop_front();
        if (type == msg::Error && asked.Type == msg::TestWebhook && IsUnknownRequestError(m)) {
            // A service from before the webhooks: the words of a link that cannot carry it.
            failReply(asked, "The monitor cannot send a test.", false);
        } else if (type == msg::Error && asked.Type == msg::Maintenance &&
                   IsUnknownRequestError(m)) {
            failReply(asked, "The monitor knows no maintenance windows.", false);
        } else if (type == msg::Error && asked.Type == msg::History && IsUnknownRequestError(m)) {
            // A service from before the history: it closes the connection after this answer,
            // and the link connects again as after any break.
            MonitorHistory older;
            older.Older = true;
            deliver([this, older] {
                if (OnHistory)
                    OnHistory(older);
            });
        } else if (type == msg::Error) {
            failReply(asked, m.Get("reason"), m.Get("code") == "refused");
        } else if (type == msg::Ok) {
            if (asked.Type == msg::SetSettings || asked.Type == msg::Stop ||
                asked.Type == msg::Maintenance)
                deliver([this] {
                    if (OnReply)
                        OnReply(MonitorReply{true, {}, false});
                });
        } else if (type == msg::WebhookTest && asked.Type == msg::TestWebhook) {
            deliver([this, name = m.Get("name"), outcome = m.Get("outcome")] {
                if (OnWebhookTest)
                    OnWebhookTest(name, outcome);
            });
        } else if (type == msg::Settings && asked.Type == msg::GetSettings) {
            // Saved back, a list that came in part would delete the sites left out.
            if (!SettingsComplete(m)) {
                failReply(asked, "The list of addresses did not arrive whole.", false);
                return true;
            }
            CUserSettings settings;
            bool passwordSet = false;
            if (!SettingsFromMessage(m, settings, passwordSet))
                return false;
            settings.Pass.clear();
            deliver([this, settings, passwordSet] {
                if (OnSettings)
                    OnSettings(settings, passwordSet);
            });
        } else if (type == msg::History && asked.Type == msg::History) {
            std::optional<MonitorHistory> history = HistoryFromMessage(m);
            if (!history)
                return false;
            deliver([this, h = std::move(*history)] {
                if (OnHistory)
                    OnHistory(h);
            });
        } else if (type == msg::Diagnose && asked.Type == msg::Diagnose) {
            deliver([this, url = m.Get("url"), lines = m.GetAll("line")] {
                if (OnDiagnose)
                    OnDiagnose(url, lines);
            });
        } else if (type == msg::CheckList && asked.Type == msg::CheckList) {
            const std::vector<std::string> urls = m.GetAll("url");
            const std::vector<std::string> ups = m.GetAll("up");
            std::vector<MonitorCheckResult> results;
            for (std::size_t i = 0; i < urls.size(); ++i)
                results.push_back({urls[i], i < ups.size() && ups[i] == "1"});
            deliver([this, results] {
                if (OnCheckList)
                    OnCheckList(results);
            });
        } else {
            return false;
        }
        return true;
    };

    for (;;) {
        std::unique_ptr<Connection> c = open(serverCheck_);
        // Hello, with its answer awaited within the bound, then the subscription.
        bool linked = false;
        if (c) {
            ControlMessage hello(msg::Hello);
            hello.Add("version", std::to_string(ControlProtocolVersion));
            if (c->write(hello, stop) && c->startRead()) {
                HANDLE waits[] = {c->readEvent.Get(), stop};
                if (::WaitForMultipleObjects(2, waits, FALSE, ExchangeBoundMs) == WAIT_OBJECT_0) {
                    std::optional<ControlMessage> answer = c->finishRead();
                    linked = answer && answer->Type == msg::Hello &&
                             c->write(ControlMessage(msg::Subscribe), stop) && c->startRead();
                }
            }
        }
        if (!linked) {
            c.reset();
            for (const ControlMessage& m : takeRequests())
                failReply(pendingOf(m), NotReachable, false);
            HANDLE waits[] = {stop, requestReady_.Get()};
            const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, RetryMs);
            if (woken == WAIT_OBJECT_0)
                return 0;
            if (woken == WAIT_OBJECT_0 + 1)
                for (const ControlMessage& m : takeRequests())
                    failReply(pendingOf(m), NotReachable, false);
            continue;
        }
        pending.assign(1, Pending{msg::Subscribe, {}});
        setConnected(true);
        bool open = true;
        while (open) {
            HANDLE waits[] = {stop, requestReady_.Get(), c->readEvent.Get()};
            const DWORD woken = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
            if (woken == WAIT_OBJECT_0) {
                c.reset();
                return 0;
            }
            if (woken == WAIT_OBJECT_0 + 1) {
                for (const ControlMessage& m : takeRequests()) {
                    if (open && c->write(m, stop))
                        pending.push_back(pendingOf(m));
                    else {
                        open = false;
                        failReply(pendingOf(m), NotReachable, false);
                    }
                }
            } else if (woken == WAIT_OBJECT_0 + 2) {
                std::optional<ControlMessage> m = c->finishRead();
                open = m && dispatch(*m) && c->startRead();
            } else {
                open = false;
            }
        }
        c.reset();
        for (const Pending& asked : pending)
            failReply(asked, NotReachable, false);
        pending.clear();
        setConnected(false);
    }
}
