#include "app/controlpipe_win.h"

#include "base/product.h"
#include "base/thread_win.h"
#include "base/token_win.h"

#include <sddl.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

// A client must say hello within this time; afterwards it may stay silent as long as it likes.
constexpr DWORD HelloBoundMs = 10000;
// After an error that ends a connection the client is given this long to read the reply.
constexpr DWORD CloseBoundMs = 2000;
// Replies waiting for a client that does not read: beyond this the client is dropped.
constexpr std::size_t MaxQueuedReplies = 32;
// A listening instance whose ConnectNamedPipe failed is tried again after this.
constexpr DWORD RelistenMs = 1000;
// How long Stop lets the replies already given reach their clients.
constexpr DWORD FlushBoundMs = 300;

using ScopedSecurityDescriptor = ScopedHandle<NullHandleTraits<PSECURITY_DESCRIPTOR, ::LocalFree>>;

// Administrators in the token's groups whether enabled or not: a filtered token of an
// administrator holds the group for denying only.
bool holdsAdministrators(HANDLE token) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size))
        return false;
    DWORD needed = 0;
    ::GetTokenInformation(token, TokenGroups, nullptr, 0, &needed);
    if (needed == 0)
        return false;
    std::vector<BYTE> buffer(needed);
    auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
    if (!::GetTokenInformation(token, TokenGroups, groups, needed, &needed))
        return false;
    for (DWORD i = 0; i < groups->GroupCount; ++i)
        if (::EqualSid(groups->Groups[i].Sid, sid))
            return true;
    return false;
}

} // namespace

ClientFacts ReadClientFacts(HANDLE pipe) {
    ClientFacts facts;
    if (!::ImpersonateNamedPipeClient(pipe)) {
        ::RevertToSelf();
        return facts;
    }
    HANDLE token = nullptr;
    const BOOL opened = ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    // Nothing else is done in the client's name.
    ::RevertToSelf();
    if (!opened)
        return facts;
    ScopedKernelHandle owned(token);
    facts.Interactive = TokenInGroup(token, WinInteractiveSid);
    facts.Network = TokenInGroup(token, WinNetworkSid);
    // Administrators is enabled only in an elevated token.
    facts.Elevated = TokenInGroup(token, WinBuiltinAdministratorsSid);
    facts.Administrator = facts.Elevated || holdsAdministrators(token);
    return facts;
}

struct ControlPipe::Slot {
    enum class State { Broken, Listening, Connected, Closing };

    ScopedFileHandle pipe;
    ScopedKernelHandle readEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ScopedKernelHandle writeEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED readOv = {};
    OVERLAPPED writeOv = {};
    State state = State::Broken;
    bool readPending = false;
    bool writePending = false;
    // A request waits for the form: the next one is not read before its reply is queued, so
    // that replies go out in the order of the requests.
    bool waitingForForm = false;
    bool helloDone = false;
    bool subscribed = false;
    std::uint64_t id = 0;
    ULONGLONG deadline = 0; // hello, closing or relisten bound; 0 for none
    std::vector<char> buffer = std::vector<char>(MaxMessageSize);
    std::string writing;
    std::deque<std::string> queue;
};

ControlPipe::ControlPipe(HWND form, UINT requestMessage)
    : form_(form), requestMessage_(requestMessage) {}

ControlPipe::~ControlPipe() {
    Stop();
}

bool ControlPipe::Start(std::string& error) {
    ScopedSecurityDescriptor descriptor;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(ControlPipeSddl, SDDL_REVISION_1,
                                                                &sd, nullptr)) {
        error = "its security descriptor could not be built";
        return false;
    }
    descriptor.Reset(sd);
    SECURITY_ATTRIBUTES sa = {sizeof sa, descriptor.Get(), FALSE};
    for (DWORD i = 0; i < MaxControlConnections; ++i) {
        auto slot = std::make_unique<Slot>();
        // Only the first instance claims the name: a program holding it already keeps it.
        const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                               (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        slot->pipe.Reset(::CreateNamedPipeA(
            ControlPipeName, openMode,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            MaxControlConnections, MaxMessageSize, MaxMessageSize, 0, &sa));
        if (!slot->pipe || !slot->readEvent || !slot->writeEvent) {
            const DWORD code = ::GetLastError();
            slots_.clear();
            error = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                        ? "the name is taken by another program"
                        : "error " + std::to_string(code);
            return false;
        }
        slot->readOv.hEvent = slot->readEvent.Get();
        slot->writeOv.hEvent = slot->writeEvent.Get();
        slots_.push_back(std::move(slot));
    }
    stop_.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    wake_.Reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (stop_ && wake_)
        thread_ = StartThread([this] { return run(); });
    if (!thread_) {
        slots_.clear();
        error = "its thread could not be started";
        return false;
    }
    return true;
}

void ControlPipe::Stop() {
    if (thread_) {
        ::SetEvent(stop_.Get());
        ::WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    }
    slots_.clear();
}

std::optional<ControlRequest> ControlPipe::TakeRequest() {
    std::lock_guard<std::mutex> guard(lock_);
    if (requests_.empty())
        return std::nullopt;
    ControlRequest request = std::move(requests_.front());
    requests_.pop_front();
    return request;
}

void ControlPipe::Answer(std::uint64_t connection, const ControlMessage& reply) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        outgoing_.push_back({connection, EncodeMessage(reply)});
    }
    wake();
}

void ControlPipe::SetStatus(const MonitorStatus& status, bool push) {
    std::string bytes = EncodeMessage(StatusMessage(status));
    {
        std::lock_guard<std::mutex> guard(lock_);
        statusBytes_ = bytes;
        if (push)
            outgoing_.push_back({0, std::move(bytes)});
    }
    if (push)
        wake();
}

void ControlPipe::wake() {
    if (wake_)
        ::SetEvent(wake_.Get());
}

// Every connection's I/O is started and ended on this thread, so CancelIo reaches each pending
// operation.
DWORD ControlPipe::run() {
    std::uint64_t nextId = 0;
    const auto now = [] { return ::GetTickCount64(); };

    const auto finishPending = [](Slot& s) {
        DWORD n = 0;
        if (s.readPending || s.writePending)
            ::CancelIo(s.pipe.Get());
        if (s.readPending)
            ::GetOverlappedResult(s.pipe.Get(), &s.readOv, &n, TRUE);
        if (s.writePending)
            ::GetOverlappedResult(s.pipe.Get(), &s.writeOv, &n, TRUE);
        s.readPending = s.writePending = false;
    };

    std::function<void(Slot&)> listen;
    std::function<void(Slot&)> startRead;
    std::function<void(Slot&)> connected;

    const auto disconnect = [&](Slot& s) {
        finishPending(s);
        ::DisconnectNamedPipe(s.pipe.Get());
        s.queue.clear();
        s.writing.clear();
        s.waitingForForm = s.helloDone = s.subscribed = false;
        s.id = 0;
        listen(s);
    };

    const auto startWrite = [&](Slot& s) {
        if (s.writePending || s.queue.empty())
            return;
        s.writing = std::move(s.queue.front());
        s.queue.pop_front();
        if (::WriteFile(s.pipe.Get(), s.writing.data(), static_cast<DWORD>(s.writing.size()),
                        nullptr, &s.writeOv) ||
            ::GetLastError() == ERROR_IO_PENDING)
            s.writePending = true;
        else
            disconnect(s);
    };

    const auto send = [&](Slot& s, const ControlMessage& message) {
        s.queue.push_back(EncodeMessage(message));
        startWrite(s);
    };

    // An error reply, then the connection ends once the client read it or the bound passed.
    const auto fail = [&](Slot& s, const std::string& code, const std::string& reason) {
        send(s, ErrorMessage(code, reason));
        if (s.state == Slot::State::Connected) {
            s.state = Slot::State::Closing;
            s.deadline = now() + CloseBoundMs;
        }
    };

    listen = [&](Slot& s) {
        s.state = Slot::State::Listening;
        s.deadline = 0;
        if (::ConnectNamedPipe(s.pipe.Get(), &s.readOv) || ::GetLastError() == ERROR_IO_PENDING) {
            s.readPending = true;
            return;
        }
        if (::GetLastError() == ERROR_PIPE_CONNECTED)
            return connected(s);
        s.state = Slot::State::Broken;
        s.deadline = now() + RelistenMs;
    };

    const auto handle = [&](Slot& s, const char* data, DWORD size) {
        if (s.state == Slot::State::Closing)
            return; // whatever comes after the error is dropped
        std::string error;
        std::optional<ControlMessage> message = DecodeMessage(std::string(data, size), error);
        if (!message)
            return fail(s, "malformed", error);
        const std::string& type = message->Type;
        if (!s.helloDone) {
            if (type != msg::Hello)
                return fail(s, "order", "The first message must be hello.");
            if (message->Get("version") != std::to_string(ControlProtocolVersion))
                return fail(s, "failed",
                            "This monitor speaks version " +
                                std::to_string(ControlProtocolVersion) + " only.");
        } else if (type == msg::Hello) {
            return fail(s, "order", "hello was said already.");
        }
        const bool known = type == msg::Hello || type == msg::Status || type == msg::Subscribe ||
                           type == msg::CheckNow || type == msg::GetSettings ||
                           type == msg::SetSettings || type == msg::CheckList || type == msg::Stop;
        if (!known)
            return fail(s, "malformed", "Unknown request \"" + type + "\".");
        const std::string refusal = RefusalFor(type, ReadClientFacts(s.pipe.Get()));
        if (!refusal.empty()) {
            if (!s.helloDone)
                return fail(s, "refused", refusal);
            return send(s, ErrorMessage("refused", refusal));
        }
        if (type == msg::Hello) {
            s.helloDone = true;
            s.deadline = 0;
            ControlMessage hello(msg::Hello);
            hello.Add("version", std::to_string(ControlProtocolVersion));
            return send(s, hello);
        }
        if (type == msg::Status || type == msg::Subscribe) {
            if (type == msg::Subscribe)
                s.subscribed = true;
            std::string bytes;
            {
                std::lock_guard<std::mutex> guard(lock_);
                bytes = statusBytes_;
            }
            s.queue.push_back(bytes.empty() ? EncodeMessage(StatusMessage(MonitorStatus()))
                                            : bytes);
            return startWrite(s);
        }
        if (type == msg::CheckList && message->GetAll("url").size() > MaxCheckListUrls)
            return send(s, ErrorMessage("failed", "At most " + std::to_string(MaxCheckListUrls) +
                                                      " addresses can be checked at once."));
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back({s.id, std::move(*message)});
        }
        if (!::PostMessageA(form_, requestMessage_, 0, 0)) {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.pop_back();
            return send(s, ErrorMessage("failed", "The monitor cannot take requests now."));
        }
        s.waitingForForm = true;
    };

    startRead = [&](Slot& s) {
        if (s.readPending || s.waitingForForm)
            return;
        if (::ReadFile(s.pipe.Get(), s.buffer.data(), static_cast<DWORD>(s.buffer.size()), nullptr,
                       &s.readOv) ||
            ::GetLastError() == ERROR_IO_PENDING || ::GetLastError() == ERROR_MORE_DATA)
            s.readPending = true; // the event tells the outcome in every one of these cases
        else
            disconnect(s);
    };

    connected = [&](Slot& s) {
        s.state = Slot::State::Connected;
        s.id = ++nextId;
        s.deadline = now() + HelloBoundMs;
        startRead(s);
    };

    const auto readDone = [&](Slot& s) {
        s.readPending = false;
        DWORD n = 0;
        const BOOL ok = ::GetOverlappedResult(s.pipe.Get(), &s.readOv, &n, FALSE);
        const DWORD code = ok ? 0 : ::GetLastError();
        ::ResetEvent(s.readEvent.Get());
        if (s.state == Slot::State::Listening) {
            if (ok || code == ERROR_PIPE_CONNECTED)
                return connected(s);
            return disconnect(s);
        }
        if (ok) {
            handle(s, s.buffer.data(), n);
        } else if (code == ERROR_MORE_DATA) {
            if (s.state == Slot::State::Connected)
                fail(s, "oversized",
                     "A message may hold at most " + std::to_string(MaxMessageSize) + " bytes.");
        } else {
            return disconnect(s); // the client closed its end
        }
        if (s.state != Slot::State::Listening)
            startRead(s);
    };

    const auto writeDone = [&](Slot& s) {
        s.writePending = false;
        DWORD n = 0;
        const BOOL ok = ::GetOverlappedResult(s.pipe.Get(), &s.writeOv, &n, FALSE);
        ::ResetEvent(s.writeEvent.Get());
        s.writing.clear();
        if (!ok)
            return disconnect(s);
        startWrite(s);
    };

    // Replies of the form and status pushes, moved to their connections.
    const auto deliver = [&] {
        std::deque<Outgoing> batch;
        {
            std::lock_guard<std::mutex> guard(lock_);
            batch.swap(outgoing_);
        }
        for (Outgoing& out : batch) {
            for (auto& slot : slots_) {
                Slot& s = *slot;
                if (s.state != Slot::State::Connected && s.state != Slot::State::Closing)
                    continue;
                const bool addressed = out.Connection ? s.id == out.Connection : s.subscribed;
                if (!addressed)
                    continue;
                if (s.queue.size() >= MaxQueuedReplies) {
                    disconnect(s); // a client that does not read is not waited for
                    continue;
                }
                s.queue.push_back(out.Bytes);
                if (out.Connection) {
                    s.waitingForForm = false;
                    if (s.state == Slot::State::Connected)
                        startRead(s);
                }
                startWrite(s);
            }
        }
    };

    for (auto& slot : slots_)
        listen(*slot);

    for (;;) {
        std::vector<HANDLE> waits = {stop_.Get(), wake_.Get()};
        std::vector<std::pair<Slot*, bool>> owners; // the slot and whether it is its read
        ULONGLONG nearest = 0;
        for (auto& slot : slots_) {
            Slot& s = *slot;
            if (s.readPending) {
                waits.push_back(s.readEvent.Get());
                owners.push_back({&s, true});
            }
            if (s.writePending) {
                waits.push_back(s.writeEvent.Get());
                owners.push_back({&s, false});
            }
            if (s.deadline && (!nearest || s.deadline < nearest))
                nearest = s.deadline;
        }
        const ULONGLONG t = now();
        const DWORD timeout =
            nearest == 0 ? INFINITE : (nearest <= t ? 0 : static_cast<DWORD>(nearest - t));
        const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                     FALSE, timeout);
        if (woken == WAIT_OBJECT_0)
            break;
        if (woken == WAIT_OBJECT_0 + 1) {
            deliver();
        } else if (woken >= WAIT_OBJECT_0 + 2 && woken < WAIT_OBJECT_0 + waits.size()) {
            auto [s, isRead] = owners[woken - WAIT_OBJECT_0 - 2];
            if (isRead)
                readDone(*s);
            else
                writeDone(*s);
        } else if (woken == WAIT_FAILED) {
            break;
        }
        // Bounds that passed: a silent newcomer, a closing connection, a broken instance.
        const ULONGLONG after = now();
        for (auto& slot : slots_) {
            Slot& s = *slot;
            if (!s.deadline || s.deadline > after)
                continue;
            s.deadline = 0;
            if (s.state == Slot::State::Broken)
                listen(s);
            else if (s.state == Slot::State::Connected && !s.helloDone)
                disconnect(s);
            else if (s.state == Slot::State::Closing)
                disconnect(s);
        }
        // A closing connection ends as soon as its last reply is out and the client has gone.
        for (auto& slot : slots_) {
            Slot& s = *slot;
            if (s.state == Slot::State::Closing && !s.readPending && !s.writePending &&
                s.queue.empty())
                disconnect(s);
        }
    }

    // Replies already given (the "ok" to a stop) get a short chance to reach their clients.
    deliver();
    const ULONGLONG flushEnd = now() + FlushBoundMs;
    for (auto& slot : slots_) {
        Slot& s = *slot;
        while (s.writePending && now() < flushEnd) {
            const ULONGLONG left = flushEnd - now();
            if (::WaitForSingleObject(s.writeEvent.Get(), static_cast<DWORD>(left)) !=
                WAIT_OBJECT_0)
                break;
            writeDone(s);
        }
        finishPending(s);
        ::DisconnectNamedPipe(s.pipe.Get());
    }
    return 0;
}
