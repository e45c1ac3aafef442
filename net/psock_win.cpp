#include "net/psock_win.h"

#include "base/thread_win.h"
#include "base/window_win.h"
#include "net/tlscert_win.h"
#include "net/tlschannel_win.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>

std::function<void(const std::exception&)> ApplicationHandleException;

std::atomic<int> TThreadTimer::activeTimers_{0};
std::atomic<int> TPowersock::openSockets_{0};

namespace {

const char* const PsockClassName = "PsockWindowClass";
const char* const TmrClassName = "TmrWindowClass";

// Start-up and clean-up follow the user count; components on several threads (the listening
// server's clients) may come and go at once, so the count and the calls it decides are locked.
std::mutex winsockLock;
int winsockUsers = 0;
WSADATA sharedWsaData{};

// Lookup buffers of requests given up on (time-out, cancellation): the system may still write
// into them, so they are kept for the life of the process.
std::mutex abandonedLock;
std::vector<std::unique_ptr<std::vector<char>>> abandonedBuffers;

// The server's instances are entered into and taken out of a listener's list under this.
std::mutex serverListLock;

bool ensureClass(const char* name, WNDPROC proc) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (GetClassInfoA(instance, name, &existing))
        return true;
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = name;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND createHiddenWindow(const char* className, WNDPROC proc, void* owner) {
    if (!ensureClass(className, proc))
        return nullptr;
    // Message-only: it only receives posted notifications and timer ticks, needs no desktop
    // (a service without one, a session without a display) and never shows anywhere.
    return CreateWindowExA(WS_EX_TOOLWINDOW, className, "", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE,
                           nullptr, GetModuleHandleA(nullptr), owner);
}

LRESULT CALLBACK psockWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* component = WindowObject<TPowersock>(window, msg, lParam);
    if (component && msg >= WM_PSOCK_SOCKET)
        return component->Wndproc(msg, wParam, lParam);
    return DefWindowProcA(window, msg, wParam, lParam);
}

// The creation messages arrive before the timer knows its window: they get default processing
// here rather than through the timer.
LRESULT CALLBACK timerWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* timer = WindowObject<TThreadTimer>(window, msg, lParam);
    if (!timer || timer->Handle() != window)
        return DefWindowProcA(window, msg, wParam, lParam);
    return timer->Wndproc(msg, wParam, lParam);
}

// A text in a fixed-size field, which is not terminated when it fills the field.
template <std::size_t N> std::string fixedText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string byteVersion(WORD version) {
    return std::to_string(HIBYTE(version)) + "." + std::to_string(LOBYTE(version));
}

// Runs TimerOff when an operation ends, however it ends.
class TimerScope {
public:
    explicit TimerScope(TPowersock& socket) : socket_(socket) {}
    ~TimerScope() {
        try {
            socket_.TimerOff();
        } catch (...) {
        }
    }
    TimerScope(const TimerScope&) = delete;
    TimerScope& operator=(const TimerScope&) = delete;

private:
    TPowersock& socket_;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Hidden windows

HWND PsockAllocateHWnd(TPowersock* component) {
    return createHiddenWindow(PsockClassName, psockWindowProc, component);
}

HWND TmrAllocateHWnd(TThreadTimer* timer) {
    return createHiddenWindow(TmrClassName, timerWindowProc, timer);
}

// ---------------------------------------------------------------------------------------------
// TThreadTimer

// The window is made in the body: its procedure compares it with window_ from the first message.
TThreadTimer::TThreadTimer() {
    window_.Reset(TmrAllocateHWnd(this));
}

TThreadTimer::~TThreadTimer() {
    enabled_ = false;
    killTimer();
}

void TThreadTimer::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(unsigned value) {
    if (value == interval_)
        return;
    interval_ = value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TTimerEvent event) {
    onTimer_ = std::move(event);
    UpdateTimer();
}

void TThreadTimer::Timer() {
    if (onTimer_)
        onTimer_(this);
}

void TThreadTimer::killTimer() {
    if (!armed_)
        return;
    KillTimer(Handle(), 1);
    armed_ = false;
    --activeTimers_;
}

void TThreadTimer::UpdateTimer() {
    killTimer();
    if (interval_ != 0 && enabled_ && onTimer_) {
        if (!window_ || SetTimer(Handle(), 1, interval_, nullptr) == 0)
            throw Exception("No Timer");
        armed_ = true;
        ++activeTimers_;
    }
}

LRESULT TThreadTimer::Wndproc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_ACTIVATEAPP)
        return 0;
    if (msg == WM_TIMER) {
        try {
            Timer();
        } catch (const std::exception& e) {
            if (ApplicationHandleException)
                ApplicationHandleException(e);
        } catch (...) {
        }
        return 0;
    }
    return DefWindowProcA(Handle(), msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TPowersock::TPowersock()
    : transferBuffer_(TransferBufferSize + 1), hostEntryBuffer_(MAXGETHOSTSTRUCT),
      ownerThreadId_(GetCurrentThreadId()) {
    StatusMessage(8, "Create");
    window_.Reset(PsockAllocateHWnd(this));
    timer_ = std::make_unique<TThreadTimer>();
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TThreadTimer* sender) { TimerFired(sender); });
    try {
        InitWinsock();
    } catch (...) {
        timer_.reset();
        window_.Reset();
        throw;
    }
}

TPowersock::~TPowersock() {
    beingDestroyed_ = true;
    try {
        StatusMessage(8, "Destroy");
        // Only the base class's Abort can run here: a descendant is already gone.
        Abort();
        Cancel();
    } catch (...) {
    }
    WinsockInfo.Clear();
    timer_.reset();
    window_.Reset();
    Destroying = true;
    if (winsockStarted_) {
        try {
            RequestCloseSocket();
        } catch (...) {
        }
        // A close that failed above must not leave the handle open behind us.
        closeOwnSocket();
        releaseWinsock();
    }
}

void TPowersock::releaseWinsock() {
    winsockStarted_ = false;
    std::lock_guard<std::mutex> lock(winsockLock);
    if (--winsockUsers == 0)
        WSACleanup();
}

int TPowersock::WinsockUsers() {
    std::lock_guard<std::mutex> lock(winsockLock);
    return winsockUsers;
}

SOCKET TPowersock::newSocket(int protocol) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, protocol);
    if (s != INVALID_SOCKET)
        ++openSockets_;
    return s;
}

void TPowersock::closeOwnSocket() {
    if (ThisSocket == INVALID_SOCKET)
        return;
    closesocket(ThisSocket);
    forgetOwnSocket();
}

void TPowersock::forgetOwnSocket() {
    ThisSocket = INVALID_SOCKET;
    --openSockets_;
    tls_.reset();
    plaintext_.clear();
    dropStaleNotifications();
}

// The next socket may get the closed one's handle value, so notifications still queued for the
// closed socket (a peer's FD_CLOSE, typically) would be taken for the new one's.
void TPowersock::dropStaleNotifications() {
    MSG message;
    while (PeekMessageA(&message, Handle(), WM_PSOCK_SOCKET, WM_PSOCK_SOCKET, PM_REMOVE)) {
        // A quit message comes through every filter; it belongs to the thread's own loop.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
    }
}

void TPowersock::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    try {
        {
            std::lock_guard<std::mutex> lock(winsockLock);
            if (++winsockUsers == 1)
                WSAStartup(0x0101, &sharedWsaData);
            wsaData_ = sharedWsaData;
        }
        winsockStarted_ = true;
        WinsockInfo.Add("Version= " + byteVersion(wsaData_.wVersion));
        WinsockInfo.Add("High Version= " + byteVersion(wsaData_.wHighVersion));
        WinsockInfo.Add("Description= " + fixedText(wsaData_.szDescription));
        WinsockInfo.Add("System= " + fixedText(wsaData_.szSystemStatus));
        WinsockInfo.Add("Max Sockets= " + std::to_string(wsaData_.iMaxSockets));
        WinsockInfo.Add("Max Udp pack size= " + std::to_string(wsaData_.iMaxUdpDg));
        try {
            ThisSocket = newSocket(IPPROTO_TCP);
            if (ThisSocket == INVALID_SOCKET) {
                ErrorManager(10035);
                throw ESockError(SocketErrorStr(WSAGetLastError()));
            }
            if (prepareOwnSocket() != 0)
                ErrorManager(0);
        } catch (...) {
            closeOwnSocket();
            releaseWinsock();
            throw;
        }
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

bool TPowersock::ownerThread() const {
    return GetCurrentThreadId() == ownerThreadId_;
}

// ---------------------------------------------------------------------------------------------
// Notifications and waiting

LRESULT TPowersock::Wndproc(UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        if (msg == WM_PSOCK_SOCKET && static_cast<SOCKET>(wParam) != ThisSocket)
            return 0; // queued before its socket was closed
        if (msg == WM_PSOCK_LOOKUP && WSAGETSELECTEVENT(lParam) != FD_ACCEPT &&
            reinterpret_cast<HANDLE>(wParam) != lookupRequest_)
            return 0; // a lookup given up on earlier
        NoError = WSAGETSELECTERROR(lParam) == 0;
        if (msg == WM_PSOCK_SOCKET) {
            switch (WSAGETSELECTEVENT(lParam)) {
            case FD_READ:
                if (OnDataAvailable)
                    OnDataAvailable(this);
                break;
            case FD_ACCEPT:
                Connected = true;
                if (OnAccept)
                    OnAccept(this);
                break;
            case FD_CONNECT:
                if (NoError) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case FD_CLOSE:
                if (!DataAvailable())
                    RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (msg == WM_PSOCK_LOOKUP) {
            LookupDone = true;
            if (WSAGETSELECTEVENT(lParam) == FD_ACCEPT) {
                Connected = true;
                if (!beingDestroyed_ && OnDisconnect)
                    OnDisconnect(this);
            }
        }
    } catch (...) {
    }
    return 0;
}

void TPowersock::ProcessMessages() {
    MSG msg;
    bool quit = false;
    WPARAM quitCode = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not ours to act on: hand it back to the thread's own loop once we are done.
            quit = true;
            quitCode = msg.wParam;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
}

// Waiting before pumping, not after: a notification that arrives between the socket call that
// would block and the pump is then still in the queue, and the wait returns at once for it
// instead of sleeping its whole time with the data already there.
void TPowersock::IdleWait(DWORD milliseconds) {
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void TPowersock::pumpMessages() {
    ProcessMessages();
    checkCountdown();
}

void TPowersock::waitAndPump(DWORD milliseconds) {
    if (countdownLength_ != 0) {
        const ULONGLONG elapsed = GetTickCount64() - countdownStart_;
        if (elapsed < countdownLength_)
            milliseconds =
                static_cast<DWORD>(std::min<ULONGLONG>(milliseconds, countdownLength_ - elapsed));
        else
            milliseconds = 0;
    }
    if (milliseconds != 0)
        IdleWait(milliseconds);
    pumpMessages();
}

// ---------------------------------------------------------------------------------------------
// Time-out

// A Windows timer instead of countdownOn's deadline, for callers outside an operation's wait.
void TPowersock::TimerOn() {
    countdownOn();
    countdownLength_ = 0;
    timer_->SetInterval(TimeOut > 0 ? static_cast<unsigned>(TimeOut) : 0);
    timer_->SetEnabled(true);
}

void TPowersock::countdownOn() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    // A Windows timer started by TimerOn before is replaced by this countdown.
    timer_->SetEnabled(false);
    countdownStart_ = GetTickCount64();
    countdownLength_ = TimeOut > 0 ? static_cast<ULONGLONG>(TimeOut) : 0;
}

void TPowersock::checkCountdown() {
    if (countdownLength_ != 0 && GetTickCount64() - countdownStart_ >= countdownLength_)
        TimerFired(timer_.get());
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    countdownLength_ = 0;
    timer_->SetEnabled(false);
}

void TPowersock::TimerFired(TThreadTimer* /*Sender*/) {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    LookupDone = true;
    Abort();
}

// ---------------------------------------------------------------------------------------------
// Lookup and connection

void TPowersock::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string name = Proxy.empty() ? Host : Proxy;
    const std::size_t length = std::min<std::size_t>(name.size(), TransferBufferSize);
    std::memcpy(transferBuffer_.data(), name.data(), length);
    transferBuffer_[length] = '\0';
    const char* text = transferBuffer_.data();

    RemoteAddress = inet_addr(text);
    if (RemoteAddress != INADDR_NONE && *text != '\0')
        return;
    RemoteAddress = 0;
    // An empty name would make the system look up this machine itself.
    if (*text == '\0')
        throw ESockError("Host Lookup Failed");

    countdownOn();
    TimerScope timerScope(*this);
    expectNotification();
    lookupRequest_ = WSAAsyncGetHostByName(Handle(), WM_PSOCK_LOOKUP, text, hostEntryBuffer_.data(),
                                           static_cast<int>(hostEntryBuffer_.size()));
    if (!lookupRequest_) {
        LookupDone = true;
        NoError = false;
    }
    while (!(LookupDone || TimedOut || Canceled)) {
        waitAndPump(2);
    }
    HANDLE request = std::exchange(lookupRequest_, nullptr);
    const bool completed = LookupDone && !TimedOut && !Canceled;
    if (request && !completed) {
        WSACancelAsyncRequest(request);
        std::lock_guard<std::mutex> lock(abandonedLock);
        abandonedBuffers.push_back(
            std::make_unique<std::vector<char>>(std::move(hostEntryBuffer_)));
        hostEntryBuffer_.assign(MAXGETHOSTSTRUCT, 0);
    }
    if (TimedOut)
        throw ESockTimedOut("Host Lookup Timed Out");
    if (Canceled)
        throw ESockCanceled("Host Lookup Canceled");
    if (!NoError)
        throw ESockError("Host Lookup Failed");
    const auto* entry = reinterpret_cast<const hostent*>(hostEntryBuffer_.data());
    if (!entry->h_addr_list || !entry->h_addr_list[0] || entry->h_length < 4)
        throw ESockError("Host Lookup Failed");
    std::memcpy(&RemoteAddress, entry->h_addr_list[0], 4);
    if (OnHostResolved)
        OnHostResolved(this);
}

// A socket that tried to connect and failed is spent: a late notification could still mark it
// connected after the failure was raised, and a second connect on it is refused. Replace it.
void TPowersock::renewSocket() {
    closeOwnSocket();
    ThisSocket = newSocket(IPPROTO_TCP);
    if (ThisSocket != INVALID_SOCKET)
        prepareOwnSocket();
}

int TPowersock::prepareOwnSocket() {
    linger off{1, 0};
    setsockopt(ThisSocket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off);
    return WSAAsyncSelect(ThisSocket, Handle(), WM_PSOCK_SOCKET, PsockEventMask);
}

void TPowersock::expectNotification() {
    LookupDone = false;
    NoError = true;
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    Canceled = false;
    if (Connected)
        throw ESockError("Already connected");
    // The port is narrowed to 16 bits below; one outside the range would reach another port.
    const int port = Proxy.empty() ? Port : ProxyPort;
    if (port < 1 || port > 65535)
        throw ESockError("Invalid Port");

    for (int attempt = 0;; ++attempt) {
        try {
            ResolveRemoteHost();
        } catch (const ESockTimedOut&) {
            throw;
        } catch (const ESockCanceled&) {
            throw;
        } catch (const ESockError&) {
            RemoteAddress = 0;
        }
        if (RemoteAddress != 0)
            break;
        // The handler gets one chance to mend the host.
        if (attempt > 0 || !Handled(OnInvalidHost))
            throw ESockError("Null Remote Address");
    }

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<u_short>(port));
    remote.sin_addr.s_addr = RemoteAddress;
    remote_ = remote;

    expectNotification();
    if (connect(ThisSocket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0)
        ErrorManager(10035);
    {
        countdownOn();
        TimerScope timerScope(*this);
        while (!(Connected || TimedOut || Canceled || !NoError)) {
            waitAndPump(2);
        }
    }
    if (!TimedOut && !Canceled && NoError)
        return;
    renewSocket();
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ESockTimedOut("Connection Timed out");
    if (Canceled)
        throw ESockCanceled("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    endTls();
    RequestCloseSocket();
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (ThisSocket == INVALID_SOCKET)
        return;
    if (closesocket(ThisSocket) != 0) {
        ErrorManager(10035);
        return;
    }
    forgetOwnSocket();
    if (!beingDestroyed_ && OnDisconnect)
        OnDisconnect(this);
    if (Destroying)
        return;
    ThisSocket = newSocket(0);
    if (ThisSocket != INVALID_SOCKET)
        WSAAsyncSelect(ThisSocket, Handle(), WM_PSOCK_SOCKET, PsockEventMask);
}

void TPowersock::CertifyConnect() {
    StatusMessage(8, "Checking Connection");
    // The handler gets one chance to connect.
    for (int pass = 0; !Connected; ++pass)
        if (pass > 0 || !Handled(OnConnectionRequired))
            throw Exception("Not Connected");
}

void TPowersock::Cancel() {
    // From another thread only the flag is set: status texts and their event belong to the
    // owner's thread.
    if (ownerThread())
        StatusMessage(8, "Canceling");
    Canceled = true;
}

void TPowersock::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

bool TPowersock::DataAvailable() {
    StatusMessage(8, "Data Available");
    char probe;
    return receive(&probe, 1, MSG_PEEK) >= 1;
}

void TPowersock::ClearInput() {
    StatusMessage(8, "Clearing Input");
    std::vector<char> scratch(TransferBufferSize);
    receive(scratch.data(), TransferBufferSize, 0);
}

void TPowersock::Close(SOCKET socket) {
    StatusMessage(8, "Closing Socket");
    closesocket(socket);
}

void TPowersock::AdoptSocket(SOCKET socket, const sockaddr_in& remote) {
    closeOwnSocket();
    ThisSocket = socket;
    ++openSockets_;
    prepareOwnSocket();
    remote_ = remote;
    RemoteAddress = remote.sin_addr.s_addr;
    Connected = true;
}

// ---------------------------------------------------------------------------------------------
// TLS

int TPowersock::receive(char* data, int length, int flags) {
    if (!tls_)
        return recv(ThisSocket, data, length, flags);
    while (plaintext_.empty() && !tls_->Closed()) {
        const int n =
            recv(ThisSocket, cipherBuffer_.data(), static_cast<int>(cipherBuffer_.size()), 0);
        if (n <= 0)
            return n;
        plaintext_ = tls_->Decrypt(std::string_view(cipherBuffer_.data(), n));
    }
    const int n = std::min(length, static_cast<int>(plaintext_.size()));
    if (n <= 0)
        return 0;
    std::memcpy(data, plaintext_.data(), static_cast<std::size_t>(n));
    if ((flags & MSG_PEEK) == 0)
        plaintext_.erase(0, static_cast<std::size_t>(n));
    return n;
}

int TPowersock::transmit(const char* data, int length) {
    if (!tls_)
        return send(ThisSocket, data, length, 0);
    const std::string records =
        tls_->Encrypt(std::string_view(data, static_cast<std::size_t>(length)));
    sendRaw(records.data(), records.size());
    return length;
}

// Returns early when the operation is canceled; the caller reports it in its own words.
void TPowersock::sendRaw(const char* data, std::size_t size) {
    while (size > 0 && !Canceled) {
        const int n =
            send(ThisSocket, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            throw ESockError(SocketErrorStr(10054));
        ErrorManager(10035);
        waitAndPump(1);
    }
}

// 0 when the peer closed, or when the operation was canceled.
std::size_t TPowersock::receiveRaw(char* data, std::size_t size) {
    while (!Canceled) {
        const int n =
            recv(ThisSocket, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n == 0)
            return 0;
        if (WSAGetLastError() == WSAENOTCONN)
            return 0;
        ErrorManager(10035);
        waitAndPump(1);
    }
    return 0;
}

void TPowersock::StartTls(const std::string& serverName) {
    StatusMessage(4, "Starting TLS");
    if (tls_)
        throw ETlsError("TLS session already started");
    cipherBuffer_.resize(16 * 1024 + 512);
    countdownOn();
    TimerScope timerScope(*this);

    // A server, or someone between us and it, may have queued text behind its last reply; read
    // after the handshake it would pass for the server's word. The rest of a flood reaches the
    // handshake, which refuses anything that is not TLS.
    for (int dropped = 0; dropped < TransferBufferSize;) {
        const int n =
            recv(ThisSocket, cipherBuffer_.data(), static_cast<int>(cipherBuffer_.size()), 0);
        if (n <= 0)
            break;
        dropped += n;
    }

    const auto abandon = [this, serverName] {
        const std::string text = "TLS handshake with " + serverName;
        if (TimedOut)
            abortOperation<ESockTimedOut>((text + " timed out").c_str());
        abortOperation<ESockCanceled>((text + " canceled").c_str());
    };
    TlsTransport transport{[this, abandon](const char* data, std::size_t size) {
                               sendRaw(data, size);
                               if (Canceled)
                                   abandon();
                           },
                           [this, abandon](char* buffer, std::size_t size) {
                               const std::size_t got = receiveRaw(buffer, size);
                               if (Canceled)
                                   abandon();
                               return got;
                           }};
    // Held apart until it is trusted: a close notification pumped during the handshake ends
    // tls_, never the session still being built.
    auto session = std::make_unique<TTlsChannel>(std::move(transport));
    session->Handshake(serverName);
    const std::string verdict = VerifyServerCertificate(session->Context(), serverName);
    if (!verdict.empty())
        throw ETlsError(verdict);
    // A server that speaks first may have sent its greeting with its last handshake message.
    plaintext_ = session->Decrypt({});
    tls_ = std::move(session);
}

// Says close_notify before the socket closes. The session leaves tls_ first: the send may pump
// a close notification that would end it underneath.
void TPowersock::endTls() {
    std::unique_ptr<TTlsChannel> session = std::move(tls_);
    plaintext_.clear();
    if (!session || !Connected)
        return;
    countdownOn();
    TimerScope timerScope(*this);
    session->Shutdown();
}

// ---------------------------------------------------------------------------------------------
// Errors and status

std::string TPowersock::SocketErrorStr(int number) {
    StatusMessage(8, "Looking Up Error Message");
    return WinsockErrorText(number);
}

std::string TPowersock::ErrorManager(int expected) {
    LastErrorNo = WSAGetLastError();
    if (LastErrorNo != expected && LastErrorNo > 10000) {
        const int number = LastErrorNo;
        const std::string text = SocketErrorStr(number);
        if (OnError)
            OnError(this, number, text);
        throw ESockError(text);
    }
    return "";
}

void TPowersock::SetWSAError(int number, const std::string& text) {
    StatusMessage(8, "Setting Winsock Error");
    LastErrorNo = number;
    const std::string message = text.empty() ? SocketErrorStr(number) : text;
    WSASetLastError(number);
    if (OnError)
        OnError(this, number, message);
}

void TPowersock::StatusMessage(int level, const std::string& text) {
    if (level > ReportLevel)
        return;
    Status = text;
    if (beingDestroyed_ || !OnStatus)
        return;
    try {
        OnStatus(this, Status);
    } catch (...) {
    }
}

int TPowersock::GetLastErrorNo() {
    StatusMessage(8, "Getting LastError Number");
    return LastErrorNo;
}

void TPowersock::SetLastErrorNo(int value) {
    StatusMessage(8, "Setting LastError Number");
    LastErrorNo = value;
}

// ---------------------------------------------------------------------------------------------
// Sending

void TPowersock::SendBuffer(const char* buffer, std::uint16_t length) {
    StatusMessage(4, "Sending Buffer");
    countdownOn();
    TimerScope timerScope(*this);
    if (!Canceled) {
        std::size_t total = length;
        if (total == 0) {
            total = strnlen(buffer, 65536);
            if (total > 65535)
                throw ERangeError("Range check error");
        }
        std::size_t remaining = total;
        while (remaining > 0 && !Canceled) {
            const int n = transmit(buffer + total - remaining, static_cast<int>(remaining));
            if (n == 0)
                break;
            if (n < 0)
                ErrorManager(10035);
            else
                remaining -= static_cast<std::size_t>(n);
        }
    }
    throwIfCanceled("Socket send aborted");
}

void TPowersock::Write(const std::string& text) {
    StatusMessage(8, "Write");
    // A text ends at its first zero character.
    const std::size_t length = std::strlen(text.c_str());
    char* buffer = transferBuffer_.data();
    if (length < TransferBufferSize) {
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
        SendBuffer(buffer, 0);
        return;
    }
    // Longer texts go out in pieces rather than being cut short.
    for (std::size_t done = 0; done < length;) {
        const std::size_t piece = std::min<std::size_t>(length - done, 65535);
        std::memcpy(buffer, text.data() + done, piece);
        SendBuffer(buffer, static_cast<std::uint16_t>(piece));
        done += piece;
    }
}

void TPowersock::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

void TPowersock::sendStreamBody(TStream& stream) {
    stream.SetPosition(0);
    if (!Canceled) {
        const std::int64_t size = stream.Size();
        BytesSent = 0;
        BytesTotal = static_cast<std::uint32_t>(size);
        char* buffer = transferBuffer_.data();
        bool ended = false;
        while (!ended && !Canceled && stream.Position() < size) {
            const auto chunk = static_cast<std::int32_t>(
                std::min<std::int64_t>(size - stream.Position(), TransferBufferSize));
            const std::int32_t got = stream.Read(buffer, chunk);
            if (got <= 0)
                break;
            std::int32_t sent = 0;
            while (sent < got && !Canceled) {
                const int n = transmit(buffer + sent, got - sent);
                if (n == 0) {
                    ended = true;
                    break;
                }
                if (n < 0) {
                    ErrorManager(10035);
                    ProcessMessages();
                    IdleWait(1);
                    continue;
                }
                sent += n;
                BytesSent += static_cast<std::uint32_t>(n);
                if (OnPacketSent)
                    OnPacketSent(this);
                ProcessMessages();
            }
        }
    }
    throwIfCanceled("Socket send aborted");
}

void TPowersock::SendStream(TStream& stream) {
    StatusMessage(8, "SendStream");
    sendStreamBody(stream);
}

void TPowersock::SendFile(const std::string& fileName) {
    StatusMessage(8, "SendFile");
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    sendStreamBody(file);
}

// ---------------------------------------------------------------------------------------------
// Reading

void TPowersock::recvExact(char* data, int length) {
    int got = 0;
    while (got < length) {
        const int n = receive(data + got, length - got, 0);
        if (n > 0) {
            got += n;
            continue;
        }
        if (n == 0)
            throw ESockError(SocketErrorStr(10054));
        ErrorManager(10035);
    }
}

std::string TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    countdownOn();
    return readLine();
}

std::string TPowersock::ReadLnSince(ULONGLONG since) {
    StatusMessage(8, "ReadLn");
    countdownOn();
    countdownStart_ = since;
    checkCountdown();
    if (TimedOut)
        abortOperation("Socket readln aborted");
    return readLine();
}

std::string TPowersock::readLine() {
    TimerScope timerScope(*this);
    char* buffer = transferBuffer_.data();
    int consumed = 0;
    do {
        // A line that fills the whole buffer comes back cut there; the rest follows as the next.
        if (consumed >= TransferBufferSize)
            return std::string(buffer, consumed);
        const int n = receive(buffer + consumed, TransferBufferSize - consumed, MSG_PEEK);
        // The peer closed, or the socket was closed under us: what was taken out is the line.
        if (n == 0)
            return std::string(buffer, consumed);
        if (n < 0) {
            LastErrorNo = WSAGetLastError();
            if (LastErrorNo == WSAENOTCONN)
                return std::string(buffer, consumed);
            ErrorManager(10035);
            waitAndPump(1);
            continue;
        }
        const void* lineFeed = std::memchr(buffer + consumed, '\n', static_cast<std::size_t>(n));
        if (lineFeed) {
            const int end = static_cast<int>(static_cast<const char*>(lineFeed) - buffer) + 1;
            recvExact(buffer + consumed, end - consumed);
            return std::string(buffer, end);
        }
        const int got = receive(buffer + consumed, n, 0);
        if (got > 0)
            consumed += got;
        else if (got < 0)
            ErrorManager(10035);
        pumpMessages();
    } while (!Canceled);
    abortOperation("Socket readln aborted");
}

std::string TPowersock::Read(int count) {
    StatusMessage(8, "Read( " + std::to_string(count) + " )");
    char* buffer = transferBuffer_.data();
    if (count <= 0) {
        const int n = receive(buffer, TransferBufferSize, MSG_PEEK);
        if (n < 0)
            ErrorManager(10035);
        if (n <= 0)
            return "";
        recvExact(buffer, n);
        return std::string(buffer, n);
    }
    // The bytes are gathered as they come rather than peeked at until all are there: a peer
    // that closes after sending fewer shows its close only once the data is taken out.
    const int wanted = std::min(count, TransferBufferSize);
    int got = 0;
    while (got < wanted) {
        const int n = receive(buffer + got, wanted - got, 0);
        if (n == 0)
            break;
        if (n > 0) {
            got += n;
            continue;
        }
        if (WSAGetLastError() == WSAENOTCONN)
            break;
        ErrorManager(10035);
        IdleWait(1);
        ProcessMessages();
        throwIfCanceled("Socket send aborted");
    }
    return std::string(buffer, got);
}

std::string TPowersock::Transaction(const std::string& command) {
    StatusMessage(8, "Transaction");
    ReplyNumber = 0;
    Writeln(command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        ReplyNumber = ReplyNumberOf(LastReply);
    }
    return LastReply;
}

// Receives chunks of at most wanted() bytes (0 ends) until the peer closes, the socket is not
// connected or the operation is canceled; the time-out restarts after every chunk.
void TPowersock::receiveChunks(const std::function<int()>& wanted,
                               const std::function<void(const char*, int)>& sink,
                               bool whileConnected) {
    countdownOn();
    TimerScope timerScope(*this);
    char* buffer = transferBuffer_.data();
    while (!Canceled && (!whileConnected || Connected)) {
        const int room = std::min(wanted(), TransferBufferSize);
        if (room <= 0)
            return;
        const int n = receive(buffer, room, 0);
        if (n == 0)
            return;
        if (n > 0) {
            BytesRecvd += static_cast<std::uint32_t>(n);
            sink(buffer, n);
            if (OnPacketRecvd)
                OnPacketRecvd(this);
            countdownOn();
        } else {
            LastErrorNo = WSAGetLastError();
            if (LastErrorNo == WSAENOTCONN)
                return;
            ErrorManager(10035);
            IdleWait(1);
        }
        pumpMessages();
    }
}

void TPowersock::receiveToFile(const std::string& fileName, bool append) {
    BytesRecvd = 0;
    TFileStream file(fileName, append ? fmOpenWrite : fmCreate);
    if (append)
        file.Seek(0, soFromEnd);
    // An append ends with the connection; a capture reads on until the peer closes.
    receiveChunks([] { return TransferBufferSize; },
                  [&](const char* data, int n) { file.WriteBuffer(data, n); }, append);
    throwIfCanceled("Socket send aborted");
}

void TPowersock::AppendFile(const std::string& fileName) {
    StatusMessage(8, "Append File");
    receiveToFile(fileName, true);
}

void TPowersock::CaptureFile(const std::string& fileName) {
    StatusMessage(8, "CaptureFile");
    receiveToFile(fileName, false);
}

void TPowersock::CaptureStream(TStream& stream, std::int64_t limit) {
    StatusMessage(8, "Capture Stream");
    BytesRecvd = 0;
    bool received = false;
    // Below 0: one receive. Otherwise never take more out of the socket than the limit allows.
    auto wanted = [&]() -> int {
        if (limit < 0)
            return received ? 0 : TransferBufferSize;
        return static_cast<int>(
            std::clamp<std::int64_t>(limit - stream.Size(), 0, TransferBufferSize));
    };
    receiveChunks(
        wanted,
        [&](const char* data, int n) {
            stream.WriteBuffer(data, n);
            received = true;
        },
        false);
    throwIfCanceled("Socket capture aborted");
}

void TPowersock::CaptureString(std::string& text, std::int64_t limit) {
    StatusMessage(8, "Capture String");
    BytesRecvd = 0;
    text.clear();
    auto wanted = [&]() -> int {
        if (limit < 0)
            return TransferBufferSize;
        return static_cast<int>(std::clamp<std::int64_t>(
            limit - static_cast<std::int64_t>(text.size()), 0, TransferBufferSize));
    };
    receiveChunks(
        wanted, [&](const char* data, int n) { text.append(data, n); }, false);
    throwIfCanceled("Socket capture aborted");
}

void TPowersock::FilterHeader(TStream& stream) {
    StatusMessage(8, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        if (!line.empty())
            stream.WriteBuffer(line.data(), static_cast<std::int32_t>(line.size()));
        if (line.empty() || line == "\n" || line == "\r\n")
            return;
    }
}

// ---------------------------------------------------------------------------------------------
// Listening side

void TPowersock::Listen(bool flag) {
    StatusMessage(8, "Listening");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(Port));
    local.sin_addr.s_addr = inet_addr(ListenAddress.c_str());
    LookupDone = false;
    if (bind(ThisSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        ErrorManager(10035);
    if (WSAAsyncSelect(ThisSocket, Handle(), flag ? WM_PSOCK_LOOKUP : WM_PSOCK_SOCKET, FD_ACCEPT) !=
        0)
        ErrorManager(10035);
    if (listen(ThisSocket, 1) != 0)
        ErrorManager(10035);
}

SOCKET TPowersock::Accept() {
    StatusMessage(4, "Accepting");
    while (!(LookupDone || Canceled)) {
        waitAndPump(2);
    }
    throwIfCanceled<ESockCanceled>("Accepting Canceled");
    LookupDone = false;
    if (NoError) {
        sockaddr_in remote{};
        int length = sizeof remote;
        const SOCKET data = accept(ThisSocket, reinterpret_cast<sockaddr*>(&remote), &length);
        if (data != INVALID_SOCKET) {
            WSAAsyncSelect(data, Handle(), WM_PSOCK_SOCKET, PsockEventMask);
            remote_ = remote;
            RemoteAddress = remote.sin_addr.s_addr;
            return data;
        }
    }
    throw ESockError("Error creating Data Connection");
}

// ---------------------------------------------------------------------------------------------
// Addresses

std::string TPowersock::GetRemoteIP() {
    StatusMessage(8, "Getting Remote IP");
    in_addr address{};
    address.s_addr = RemoteAddress;
    return inet_ntoa(address);
}

std::string TPowersock::GetLocalIP() {
    StatusMessage(8, "Getting Local IP");
    char name[200] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "";
    const hostent* entry = gethostbyname(name);
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0])
        return "";
    const auto* b = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

sockaddr_in TPowersock::localName() {
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(ThisSocket, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        ErrorManager(0);
    return local;
}

std::string TPowersock::GetLocalAddress() {
    std::string text = inet_ntoa(localName().sin_addr);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string TPowersock::GetPortString() {
    const unsigned port = ntohs(localName().sin_port);
    char text[32];
    std::snprintf(text, sizeof text, ",%u,%u", port >> 8, port & 0xFF);
    return text;
}

// ---------------------------------------------------------------------------------------------
// TNMGeneralServer

TNMGeneralServer::~TNMGeneralServer() {
    Abort();
    // The instances serve on their own threads and refer to this listener until they end.
    for (const ScopedKernelHandle& thread : threads_)
        WaitForSingleObject(thread.Get(), INFINITE);
}

void TNMGeneralServer::Loaded() {
    OnAccept = [this](TPowersock*) { ServerAccept(); };
    Listen(false);
}

void TNMGeneralServer::Abort() {
    TPowersock::Abort();
    std::lock_guard<std::mutex> lock(serverListLock);
    for (TNMGeneralServer* instance : instances_)
        instance->Cancel();
}

int TNMGeneralServer::ClientCount() {
    std::lock_guard<std::mutex> lock(serverListLock);
    return static_cast<int>(instances_.size());
}

std::unique_ptr<TNMGeneralServer> TNMGeneralServer::NewServeInstance() {
    return std::make_unique<TNMGeneralServer>();
}

void TNMGeneralServer::ServerAccept() {
    // Handles of threads that have ended are let go here rather than piling up.
    threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                  [](const ScopedKernelHandle& thread) {
                                      return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0;
                                  }),
                   threads_.end());
    sockaddr_in remote{};
    int length = sizeof remote;
    const SOCKET client = accept(ThisSocket, reinterpret_cast<sockaddr*>(&remote), &length);
    if (client == INVALID_SOCKET) {
        ErrorManager(10035);
        return;
    }
    // The accepted socket inherits the listener's registration; the instance registers it anew.
    WSAAsyncSelect(client, Handle(), 0, 0);
    ScopedKernelHandle thread = StartThread([this, client, remote] {
        serveClient(client, remote);
        return DWORD{0};
    });
    if (!thread) {
        closesocket(client);
        return;
    }
    threads_.push_back(std::move(thread));
    if (OnClientContact)
        OnClientContact(this);
}

void TNMGeneralServer::serveClient(SOCKET socket, const sockaddr_in& remote) {
    std::unique_ptr<TNMGeneralServer> instance;
    try {
        instance = NewServeInstance();
    } catch (...) {
        closesocket(socket);
        return;
    }
    instance->listener_ = this;
    instance->AdoptSocket(socket, remote);
    {
        std::lock_guard<std::mutex> lock(serverListLock);
        instances_.push_back(instance.get());
    }
    try {
        instance->Serve();
    } catch (...) {
    }
    threadEnded(instance.get());
}

void TNMGeneralServer::threadEnded(TNMGeneralServer* instance) {
    std::lock_guard<std::mutex> lock(serverListLock);
    instances_.erase(std::remove(instances_.begin(), instances_.end(), instance), instances_.end());
}
