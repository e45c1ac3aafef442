#include "control/controlserver_win.h"

#include "base/thread_win.h"
#include "base/token_win.h"

#include <sddl.h>

#include <optional>
#include <utility>

namespace {

// A listening instance whose ConnectNamedPipe failed is tried again after this.
constexpr DWORD RelistenMs = 1000;

using ScopedSecurityDescriptor = ScopedHandle<NullHandleTraits<PSECURITY_DESCRIPTOR, ::LocalFree>>;

// A token's information of a variable size (its user, its groups); empty when it cannot be read.
std::vector<BYTE> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD needed = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !::GetTokenInformation(token, what, buffer.data(), needed, &needed))
        buffer.clear();
    return buffer;
}

// Administrators in the token's groups whether enabled or not: a filtered token of an
// administrator holds the group for denying only.
bool holdsAdministrators(HANDLE token) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size))
        return false;
    std::vector<BYTE> buffer = tokenInformation(token, TokenGroups);
    if (buffer.empty())
        return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i)
        if (::EqualSid(groups->Groups[i].Sid, sid))
            return true;
    return false;
}

bool isKnownRequest(const std::string& type) {
    return type == msg::Status || type == msg::Subscribe || type == msg::CheckNow ||
           type == msg::GetSettings || type == msg::SetSettings || type == msg::CheckList ||
           type == msg::Stop || type == msg::History || type == msg::TestWebhook ||
           type == msg::Maintenance || type == msg::Diagnose;
}

bool signalled(HANDLE event) {
    return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Never an empty message: what cannot be encoded is answered by an error that says so.
std::string encodeReply(const ControlMessage& reply) {
    std::string bytes = EncodeMessage(reply);
    if (bytes.empty())
        bytes = EncodeMessage(ErrorMessage(
            "failed", "The answer to \"" + reply.Type.substr(0, 32) + "\" would exceed " +
                          std::to_string(MaxMessageSize / 1024) + " KiB."));
    return bytes;
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

namespace {

// The user and elevation of a token; empty when it cannot be read.
ClientIdentity identityOf(HANDLE token) {
    ClientIdentity identity;
    std::vector<BYTE> buffer = tokenInformation(token, TokenUser);
    char* text = nullptr;
    if (buffer.empty() || !::ConvertSidToStringSidA(
                              reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return identity;
    identity.User = text;
    ::LocalFree(text);
    // CheckTokenMembership asks for an impersonation token.
    HANDLE copy = nullptr;
    if (::DuplicateToken(token, SecurityIdentification, &copy)) {
        ScopedKernelHandle ownedCopy(copy);
        identity.Administrator = TokenInGroup(copy, WinBuiltinAdministratorsSid);
    }
    return identity;
}

} // namespace

// The client process's token, read as soon as it connects: impersonating the client needs a
// message read first, and the rule must hold for the clients that never send one. A process
// that is gone already (it may have handed its end to another) is known by the token it writes
// with instead, once it has written.
ClientIdentity ReadClientIdentity(HANDLE pipe) {
    ULONG pid = 0;
    if (::GetNamedPipeClientProcessId(pipe, &pid)) {
        ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        HANDLE token = nullptr;
        if (process && ::OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
            ScopedKernelHandle owned(token);
            ClientIdentity identity = identityOf(token);
            if (!identity.User.empty())
                return identity;
        }
    }
    if (!::ImpersonateNamedPipeClient(pipe)) {
        ::RevertToSelf();
        return {};
    }
    HANDLE token = nullptr;
    const BOOL opened =
        ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, &token);
    ::RevertToSelf();
    if (!opened)
        return {};
    ScopedKernelHandle owned(token);
    return identityOf(token);
}

// What crosses from other threads to the server's: answers and status pushes. It outlives the
// server, so a late answer from a worker lands here and is dropped.
struct ControlOutbox {
    struct Answer {
        std::uint64_t Connection;
        std::shared_ptr<const std::string> Bytes;
    };
    std::mutex lock;
    bool open = true;
    std::deque<Answer> answers;
    std::shared_ptr<const std::string> status;
    bool pushStatus = false;
    ScopedKernelHandle wake{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

struct ControlReply::Request {
    std::shared_ptr<ControlOutbox> outbox;
    std::uint64_t connection = 0;
    std::atomic<bool> wanted{true};
};

void ControlReply::Send(const ControlMessage& reply) const {
    if (!request_ || !request_->wanted.exchange(false))
        return;
    auto bytes = std::make_shared<const std::string>(encodeReply(reply));
    ControlOutbox& outbox = *request_->outbox;
    {
        std::lock_guard<std::mutex> guard(outbox.lock);
        if (!outbox.open)
            return;
        outbox.answers.push_back({request_->connection, std::move(bytes)});
    }
    ::SetEvent(outbox.wake.Get());
}

bool ControlReply::Wanted() const {
    return request_ && request_->wanted;
}

struct ControlServer::Slot {
    enum class State { Broken, Listening, Connected, Closing };

    ScopedFileHandle pipe;
    ScopedKernelHandle readEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ScopedKernelHandle writeEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED readOv = {};
    OVERLAPPED writeOv = {};
    State state = State::Broken;
    bool readPending = false;
    bool writePending = false;
    bool helloDone = false;
    bool subscribed = false;
    std::uint64_t id = 0;
    ClientIdentity identity;      // read as it connects
    std::uint64_t lastActive = 0; // ControlServer::activity_ at its last message or read reply
    ULONGLONG deadline = 0;       // hello, closing or relisten bound; 0 for none
    // The request with the handler; the next one is not read before its answer.
    std::shared_ptr<ControlReply::Request> busy;
    // The request with the handler is a checklist, which a later request cuts short.
    bool busyList = false;
    // Requests read behind the one with the handler, carried out in order after it.
    std::deque<std::string> waiting;
    std::vector<char> buffer = std::vector<char>(MaxMessageSize);
    Bytes writing;
    std::deque<Bytes> queue;

    std::size_t unread() const { return queue.size() + (writePending ? 1 : 0); }
    bool open() const { return state == State::Connected || state == State::Closing; }

    // Cancels what is pending and waits for the cancellation, so the buffers are free.
    void finishPending() {
        DWORD n = 0;
        if (readPending || writePending)
            ::CancelIo(pipe.Get());
        if (readPending)
            ::GetOverlappedResult(pipe.Get(), &readOv, &n, TRUE);
        if (writePending)
            ::GetOverlappedResult(pipe.Get(), &writeOv, &n, TRUE);
        readPending = writePending = false;
    }
};

ControlServer::ControlServer(ControlHandler& handler, ControlServerOptions options)
    : handler_(handler), options_(std::move(options)), outbox_(std::make_shared<ControlOutbox>()) {
    if (!options_.Refusal)
        options_.Refusal = [](HANDLE pipe, const std::string& type) {
            return RefusalFor(type, ReadClientFacts(pipe));
        };
    if (!options_.Identify)
        options_.Identify = ReadClientIdentity;
}

ControlServer::~ControlServer() {
    Stop();
}

bool ControlServer::Start(std::string& error) {
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
        // No output buffer: a reply is written only as the client reads it, so what a client
        // leaves unread stays countable here (measured on Wine: with a buffer of n bytes,
        // writes complete unread until n bytes wait).
        slot->pipe.Reset(::CreateNamedPipeA(options_.PipeName.c_str(), openMode,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                                PIPE_REJECT_REMOTE_CLIENTS,
                                            MaxControlConnections, 0, MaxMessageSize, 0, &sa));
        if (!slot->pipe || !slot->readEvent || !slot->writeEvent) {
            const DWORD code = ::GetLastError();
            slots_.clear();
            error = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                        ? PipeNameTakenText
                        : "error " + std::to_string(code);
            return false;
        }
        slot->readOv.hEvent = slot->readEvent.Get();
        slot->writeOv.hEvent = slot->writeEvent.Get();
        slots_.push_back(std::move(slot));
    }
    stop_.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stop_ && outbox_->wake)
        thread_ = StartThread([this] { return run(); });
    if (!thread_) {
        slots_.clear();
        error = "its thread could not be started";
        return false;
    }
    return true;
}

void ControlServer::Stop() {
    if (thread_) {
        ::SetEvent(stop_.Get());
        ::WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    }
    {
        std::lock_guard<std::mutex> guard(outbox_->lock);
        outbox_->open = false;
        outbox_->answers.clear();
    }
    slots_.clear();
}

void ControlServer::SetStatus(const MonitorStatus& status, bool push) {
    auto bytes = std::make_shared<const std::string>(encodeReply(StatusMessage(status)));
    {
        std::lock_guard<std::mutex> guard(outbox_->lock);
        outbox_->status = std::move(bytes);
        outbox_->pushStatus = outbox_->pushStatus || push;
    }
    if (push)
        ::SetEvent(outbox_->wake.Get());
}

// ---------------------------------------------------------------------------------------------
// The steps. Every connection's I/O is started and ended on the server's thread, so CancelIo
// reaches each pending operation.

void ControlServer::listen(Slot& s) {
    s.state = Slot::State::Listening;
    s.deadline = 0;
    // A client that came and went before we listened leaves the instance to be reset once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::ConnectNamedPipe(s.pipe.Get(), &s.readOv) || ::GetLastError() == ERROR_IO_PENDING) {
            s.readPending = true;
            return;
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_PIPE_CONNECTED)
            return connected(s);
        if (code != ERROR_NO_DATA)
            break;
        ::DisconnectNamedPipe(s.pipe.Get());
    }
    s.state = Slot::State::Broken;
    s.deadline = ::GetTickCount64() + RelistenMs;
}

void ControlServer::connected(Slot& s) {
    s.state = Slot::State::Connected;
    s.id = ++nextId_;
    s.lastActive = ++activity_;
    s.deadline = ::GetTickCount64() + options_.HelloBoundMs;
    s.identity = options_.Identify(s.pipe.Get());
    endOneTooMany(s);
    startRead(s);
}

// The same user's connection idle longest goes when this one is one too many.
void ControlServer::endOneTooMany(Slot& s) {
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].get() == &s) {
            if (const auto end = SameUserToEnd(peers(), i))
                disconnect(*slots_[*end]);
            return;
        }
}

void ControlServer::readDone(Slot& s) {
    s.readPending = false;
    DWORD n = 0;
    const BOOL ok = ::GetOverlappedResult(s.pipe.Get(), &s.readOv, &n, FALSE);
    const DWORD code = ok ? 0 : ::GetLastError();
    ::ResetEvent(s.readEvent.Get());
    if (s.state == Slot::State::Listening)
        return ok || code == ERROR_PIPE_CONNECTED ? connected(s) : disconnect(s);
    if (s.state != Slot::State::Connected)
        return;
    if (ok) {
        s.lastActive = ++activity_;
        // The read goes on while the handler works, so that a client that leaves is seen at
        // once; what it sends meanwhile waits, within a bound.
        std::size_t bytes = n;
        for (const std::string& w : s.waiting)
            bytes += w.size();
        if (s.waiting.size() >= MaxWaitingRequests || bytes > MaxMessageSize)
            return disconnect(s);
        s.waiting.emplace_back(s.buffer.data(), n);
        proceed(s);
    } else if (code == ERROR_MORE_DATA)
        return fail(s, "oversized",
                    "A message may hold at most " + std::to_string(MaxMessageSize) + " bytes.");
    else
        return disconnect(s); // the client closed its end
    startRead(s);
}

void ControlServer::writeDone(Slot& s) {
    s.writePending = false;
    DWORD n = 0;
    const BOOL ok = ::GetOverlappedResult(s.pipe.Get(), &s.writeOv, &n, FALSE);
    ::ResetEvent(s.writeEvent.Get());
    s.writing.reset();
    if (!ok)
        return disconnect(s);
    s.lastActive = ++activity_;
    // A closing connection ends once its last reply was read.
    if (s.state == Slot::State::Closing && s.queue.empty())
        return disconnect(s);
    startWrite(s);
}

void ControlServer::answered() {
    std::deque<ControlOutbox::Answer> answers;
    Bytes status;
    {
        std::lock_guard<std::mutex> guard(outbox_->lock);
        answers.swap(outbox_->answers);
        if (std::exchange(outbox_->pushStatus, false))
            status = outbox_->status;
    }
    for (ControlOutbox::Answer& answer : answers) {
        for (auto& slot : slots_) {
            Slot& s = *slot;
            if (!s.open() || s.id != answer.Connection)
                continue;
            s.busy.reset();
            send(s, std::move(answer.Bytes));
            proceed(s);
        }
    }
    if (status)
        for (auto& slot : slots_)
            if (slot->state == Slot::State::Connected && slot->subscribed)
                send(*slot, status);
}

// The waiting requests go to the handler in order, one at a time. A checklist may take its
// addresses' time-outs over and over, so one waited for would hold up the client's next request
// (a stop, say) for minutes: a request behind it cuts it short instead. Its work is abandoned and
// it is answered now, unless its answer is on its way already.
void ControlServer::proceed(Slot& s) {
    while (s.state == Slot::State::Connected && !s.waiting.empty()) {
        if (s.busy) {
            if (!s.busyList || !s.busy->wanted.exchange(false))
                return;
            s.busy.reset();
            send(s, ErrorMessage("failed", "cut short by a later request"));
            continue;
        }
        const std::string next = std::move(s.waiting.front());
        s.waiting.pop_front();
        request(s, next);
    }
}

void ControlServer::request(Slot& s, const std::string& bytes) {
    std::string error;
    std::optional<ControlMessage> decoded = DecodeMessage(bytes, error);
    if (!decoded)
        return fail(s, "malformed", error);
    ControlMessage& message = *decoded;
    if (!s.helloDone)
        return hello(s, message);
    const std::string type = message.Type;
    if (type == msg::Hello)
        return fail(s, "order", "hello was said already.");
    if (!isKnownRequest(type))
        return fail(s, "malformed", "Unknown request \"" + type.substr(0, 32) + "\".");
    const std::string refused = refusal(s, type);
    if (!refused.empty())
        return send(s, ErrorMessage("refused", refused));
    if (type == msg::Status || type == msg::Subscribe) {
        s.subscribed = s.subscribed || type == msg::Subscribe;
        Bytes status;
        {
            std::lock_guard<std::mutex> guard(outbox_->lock);
            status = outbox_->status;
        }
        return status ? send(s, status) : send(s, StatusMessage(MonitorStatus()));
    }
    pass(s, std::move(message));
}

void ControlServer::hello(Slot& s, const ControlMessage& message) {
    if (message.Type != msg::Hello)
        return fail(s, "order", "The first message must be hello.");
    if (message.Get("version") != std::to_string(ControlProtocolVersion))
        return fail(s, "failed",
                    "This monitor speaks version " + std::to_string(ControlProtocolVersion) +
                        " only.");
    const std::string refused = refusal(s, msg::Hello);
    if (!refused.empty())
        return fail(s, "refused", refused);
    s.helloDone = true;
    s.deadline = 0;
    ControlMessage answer(msg::Hello);
    answer.Add("version", std::to_string(ControlProtocolVersion));
    send(s, answer);
    // Not known as it connected: known now by the token it wrote with.
    if (s.identity.User.empty()) {
        s.identity = options_.Identify(s.pipe.Get());
        endOneTooMany(s);
    }
}

void ControlServer::pass(Slot& s, ControlMessage message) {
    const std::string& type = message.Type;
    std::vector<std::string> urls;
    if (type == msg::CheckList) {
        urls = message.GetAll("url");
        const std::string refused = CheckListRefusal(urls);
        if (!refused.empty())
            return send(s, ErrorMessage("failed", refused));
    }
    const std::optional<std::int32_t> minutes = MaintenanceMinutes(message);
    if (type == msg::Maintenance && !minutes)
        return send(s, ErrorMessage("failed", "A maintenance window lasts 1 to " +
                                                  std::to_string(MaxMaintenanceMinutes) +
                                                  " minutes."));
    auto request = std::make_shared<ControlReply::Request>();
    request->outbox = outbox_;
    request->connection = s.id;
    s.busy = request;
    s.busyList = type == msg::CheckList;
    ControlReply reply;
    reply.request_ = request;
    try {
        if (type == msg::CheckNow)
            handler_.CheckNow(reply);
        else if (type == msg::GetSettings)
            handler_.GetSettings(reply);
        else if (type == msg::SetSettings)
            handler_.SetSettings(message, reply);
        else if (type == msg::CheckList)
            handler_.CheckList(urls, reply);
        else if (type == msg::History)
            handler_.History(message.Get("url"), message.Get("span"), reply);
        // A test post may take its whole time-out: unlike a checklist it is not cut short, and
        // what the client asks next waits behind it.
        else if (type == msg::TestWebhook)
            handler_.TestWebhook(message, reply);
        else if (type == msg::Maintenance)
            handler_.StartMaintenance(*minutes, reply);
        else if (type == msg::Diagnose)
            handler_.Diagnose(message.Get("url"), reply);
        else
            handler_.Stop(reply);
    } catch (const std::exception& e) {
        reply.Send(ErrorMessage("failed", e.what()));
    }
}

// Reading requests were allowed with hello; what changes something is asked of the token each
// time, since a client may write as another identity than the one that said hello.
std::string ControlServer::refusal(Slot& s, const std::string& type) {
    if (s.helloDone && !ChangesSomething(type))
        return {};
    return options_.Refusal(s.pipe.Get(), type);
}

std::vector<PipePeer> ControlServer::peers() const {
    std::vector<PipePeer> all;
    for (const auto& slot : slots_) {
        const Slot& s = *slot;
        PipePeer p;
        // A broken instance listens again within RelistenMs: it is no reason to end anyone.
        p.Connected = s.open();
        p.Known = !s.identity.User.empty();
        p.User = s.identity.User;
        p.Administrator = s.identity.Administrator;
        // Replies it leaves unread are no work: a client that never reads is not kept for it.
        p.Busy = s.busy != nullptr || !s.waiting.empty();
        p.Ending = s.state == Slot::State::Closing;
        p.LastActive = s.lastActive;
        all.push_back(std::move(p));
    }
    return all;
}

// An instance ended here may be taken at once by a client that waited, so this goes round until
// one listens; each round ends one connection, so it stops after as many rounds as instances.
void ControlServer::makeRoom() {
    for (std::size_t round = 0; round < slots_.size(); ++round) {
        const auto end = RoomToMake(peers(), slots_.size());
        if (!end)
            return;
        disconnect(*slots_[*end]);
    }
}

void ControlServer::startRead(Slot& s) {
    if (s.state != Slot::State::Connected || s.readPending)
        return;
    if (::ReadFile(s.pipe.Get(), s.buffer.data(), static_cast<DWORD>(s.buffer.size()), nullptr,
                   &s.readOv) ||
        ::GetLastError() == ERROR_IO_PENDING || ::GetLastError() == ERROR_MORE_DATA)
        s.readPending = true; // the event tells the outcome in every one of these cases
    else
        disconnect(s);
}

void ControlServer::startWrite(Slot& s) {
    if (!s.open() || s.writePending || s.queue.empty())
        return;
    s.writing = std::move(s.queue.front());
    s.queue.pop_front();
    if (::WriteFile(s.pipe.Get(), s.writing->data(), static_cast<DWORD>(s.writing->size()), nullptr,
                    &s.writeOv) ||
        ::GetLastError() == ERROR_IO_PENDING)
        s.writePending = true;
    else
        disconnect(s);
}

void ControlServer::send(Slot& s, Bytes bytes) {
    if (!s.open())
        return;
    // A client that does not read is not waited for.
    if (s.unread() >= MaxUnreadReplies)
        return disconnect(s);
    s.queue.push_back(std::move(bytes));
    startWrite(s);
}

void ControlServer::send(Slot& s, const ControlMessage& message) {
    send(s, std::make_shared<const std::string>(encodeReply(message)));
}

// An error reply, then the connection ends once the client read it or the bound passed.
void ControlServer::fail(Slot& s, const std::string& code, const std::string& reason) {
    send(s, ErrorMessage(code, reason));
    if (s.state != Slot::State::Connected)
        return;
    s.state = Slot::State::Closing;
    s.deadline = ::GetTickCount64() + options_.CloseBoundMs;
    if (s.readPending) {
        DWORD n = 0;
        ::CancelIoEx(s.pipe.Get(), &s.readOv);
        ::GetOverlappedResult(s.pipe.Get(), &s.readOv, &n, TRUE);
        ::ResetEvent(s.readEvent.Get());
        s.readPending = false;
    }
}

void ControlServer::disconnect(Slot& s) {
    s.finishPending();
    ::DisconnectNamedPipe(s.pipe.Get());
    // Work for a client that left is abandoned.
    if (s.busy)
        s.busy->wanted = false;
    s.busy.reset();
    s.waiting.clear();
    s.queue.clear();
    s.writing.reset();
    s.helloDone = s.subscribed = false;
    s.id = 0;
    s.identity = ClientIdentity();
    listen(s);
}

void ControlServer::expire(Slot& s, ULONGLONG now) {
    if (!s.deadline || s.deadline > now)
        return;
    s.deadline = 0;
    if (s.state == Slot::State::Broken)
        listen(s);
    else if (s.state == Slot::State::Closing || (s.state == Slot::State::Connected && !s.helloDone))
        disconnect(s);
}

DWORD ControlServer::run() {
    for (auto& slot : slots_)
        listen(*slot);
    makeRoom();

    for (;;) {
        std::vector<HANDLE> waits = {stop_.Get(), outbox_->wake.Get()};
        ULONGLONG nearest = 0;
        for (auto& slot : slots_) {
            if (slot->readPending)
                waits.push_back(slot->readEvent.Get());
            if (slot->writePending)
                waits.push_back(slot->writeEvent.Get());
            if (slot->deadline && (!nearest || slot->deadline < nearest))
                nearest = slot->deadline;
        }
        const ULONGLONG t = ::GetTickCount64();
        const DWORD timeout =
            nearest == 0 ? INFINITE : (nearest <= t ? 0 : static_cast<DWORD>(nearest - t));
        const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                     FALSE, timeout);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            break;
        answered();
        // Every connection whose operation ended takes one step, starting one further each
        // round: the wait names the lowest signalled handle, which would let one busy client
        // keep the others waiting.
        const std::size_t count = slots_.size();
        for (std::size_t k = 0; k < count; ++k) {
            Slot& s = *slots_[(nextTurn_ + k) % count];
            if (s.readPending && signalled(s.readEvent.Get()))
                readDone(s);
            if (s.writePending && signalled(s.writeEvent.Get()))
                writeDone(s);
        }
        nextTurn_ = (nextTurn_ + 1) % count;
        // Bounds that passed: a silent newcomer, a closing connection, a broken instance.
        const ULONGLONG after = ::GetTickCount64();
        for (auto& slot : slots_)
            expire(*slot, after);
        makeRoom();
    }

    // Replies already given (the answer to a stop) get a short chance to reach their clients.
    answered();
    const ULONGLONG flushEnd = ::GetTickCount64() + options_.FlushBoundMs;
    for (auto& slot : slots_) {
        Slot& s = *slot;
        while (s.writePending && ::GetTickCount64() < flushEnd) {
            const ULONGLONG left = flushEnd - ::GetTickCount64();
            if (::WaitForSingleObject(s.writeEvent.Get(), static_cast<DWORD>(left)) !=
                WAIT_OBJECT_0)
                break;
            writeDone(s);
        }
        if (s.busy)
            s.busy->wanted = false;
        s.finishPending();
        ::DisconnectNamedPipe(s.pipe.Get());
    }
    return 0;
}
