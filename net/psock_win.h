// TCP client component on Windows Sockets 1.1 in asynchronous-notification mode. Each operation
// looks blocking to its caller: it waits on flags that the hidden notification window sets,
// pumping only the calling thread's messages, so a component works on a thread without a
// message loop of its own. A component belongs to the thread that created it; only Cancel may
// be called from another thread.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "base/handle_win.h"
#include "base/tstream.h"
#include "base/tstringlist.h"
#include "net/psock_text.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TPowersock;
class TThreadTimer;
class TTlsChannel;

using TNotifyEvent = std::function<void(TPowersock* Sender)>;
using THandlerEvent = std::function<void(bool& Handled)>;

// Asks a handler event whether it dealt with a failure; false when no handler is set.
inline bool Handled(const THandlerEvent& event) {
    bool handled = false;
    if (event)
        event(handled);
    return handled;
}
using TOnHostResolved = std::function<void(TPowersock* Sender)>;
using TOnStatus = std::function<void(TPowersock* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TPowersock* Sender, int Errno, const std::string& Errmsg)>;
using TTimerEvent = std::function<void(TThreadTimer* Sender)>;

// Socket notifications arrive as this message, lookups and Listen(true) accepts as the next.
constexpr UINT WM_PSOCK_SOCKET = WM_USER + 101;                                       // 1125
constexpr UINT WM_PSOCK_LOOKUP = WM_USER + 102;                                       // 1126
constexpr long PsockEventMask = FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 61
constexpr int TransferBufferSize = 65536;

// Exceptions that a timer handler lets escape land here (the notification path never lets a C++
// exception cross a window procedure). Empty by default: they are dropped.
extern std::function<void(const std::exception&)> ApplicationHandleException;

// A Windows timer on a hidden window of the creating thread; fires OnTimer every Interval ms
// while Enabled.
class TThreadTimer {
public:
    TThreadTimer();
    ~TThreadTimer();
    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    bool Enabled() const { return enabled_; }
    unsigned Interval() const { return interval_; }
    const TTimerEvent& OnTimer() const { return onTimer_; }
    void SetEnabled(bool value);
    void SetInterval(unsigned value);
    void SetOnTimer(TTimerEvent event);

    void Timer();
    LRESULT Wndproc(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND Handle() const { return window_.Get(); }

    // Windows timers currently armed by all timers of the process.
    static int ActiveTimers() { return activeTimers_.load(); }

private:
    void UpdateTimer();
    void killTimer();

    bool enabled_ = true;
    unsigned interval_ = 1000;
    TTimerEvent onTimer_;
    ScopedWindow window_;
    bool armed_ = false;
    static std::atomic<int> activeTimers_;
};

HWND PsockAllocateHWnd(TPowersock* component);
HWND TmrAllocateHWnd(TThreadTimer* timer);

class TPowersock {
public:
    TPowersock();
    virtual ~TPowersock();
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;

    // Properties.
    std::string Host;
    int Port = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    std::string Proxy;
    std::uint16_t ProxyPort = 0;
    // Listen binds here; the address that listens on every interface unless a caller narrows it.
    std::string ListenAddress = "0.0.0.0";

    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketSent;
    THandlerEvent OnConnectionRequired;
    TOnErrorEvent OnError;
    TNotifyEvent OnDataAvailable;
    TNotifyEvent OnAccept;
    TNotifyEvent OnPacketRecvd;

    // State. The flags are what the waits of the operations test; each has one rule.
    // Connected: set by a connect notification without error, by an accept notification and
    // by AdoptSocket; cleared by RequestCloseSocket, so by Disconnect and by the peer's close once
    // nothing is left unread.
    bool Connected = false;
    // Canceled: set by Cancel (so by Abort and by the time-out), from any thread; every wait and
    // transfer loop ends on it. Cleared only where an operation reports it (throwIfCanceled and
    // abortOperation), at the start of Connect and before the SMTP session's QUIT: a failed
    // lookup or connect leaves it set.
    std::atomic<bool> Canceled{false};
    // TimedOut: set when the running operation's time-out fires; cleared when one starts.
    bool TimedOut = false;
    // NoError: the error word of the last notification was 0; set by expectNotification.
    bool NoError = true;
    // LookupDone: a lookup completed, an accept was signalled or the time-out fired; cleared by
    // expectNotification and by Listen and Accept.
    bool LookupDone = false;
    // Destroying: set by the destructor; the socket closed then is not replaced by a fresh one.
    bool Destroying = false;
    int LastErrorNo = 0;
    std::string Status;
    std::string LastReply;
    std::int16_t ReplyNumber = 0;
    std::uint32_t RemoteAddress = 0; // network order
    SOCKET ThisSocket = INVALID_SOCKET;
    TStringList WinsockInfo;
    std::uint32_t BytesSent = 0;
    std::uint32_t BytesTotal = 0;
    std::uint32_t BytesRecvd = 0;

    // Connection.
    virtual void Connect();
    virtual void Disconnect();
    void CertifyConnect();
    void Cancel();
    virtual void Abort();
    void ResolveRemoteHost();
    void RequestCloseSocket();
    void Close(SOCKET socket);
    bool DataAvailable();
    void ClearInput();

    // Switches the connected socket to TLS with serverName as the name asked for and checked
    // against the certificate; from then on every byte written is encrypted and every byte read
    // decrypted, so the operations below work unchanged. What the server sent before and is
    // still unread is thrown away. The handshake is bounded by TimeOut (ESockTimedOut); a
    // failed handshake or certificate check raises ETlsError with the reason. Disconnect ends
    // the session.
    void StartTls(const std::string& serverName);
    bool Encrypted() const { return tls_ != nullptr; }

    // Data transfer.
    void SendBuffer(const char* buffer, std::uint16_t length);
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    std::string Read(int count);
    std::string ReadLn();
    virtual std::string Transaction(const std::string& command);
    void SendStream(TStream& stream);
    void SendFile(const std::string& fileName);
    void AppendFile(const std::string& fileName);
    void CaptureFile(const std::string& fileName);
    void CaptureStream(TStream& stream, std::int64_t limit);
    void CaptureString(std::string& text, std::int64_t limit);
    void FilterHeader(TStream& stream);
    void Listen(bool flag);
    virtual SOCKET Accept();

    std::string GetRemoteIP();
    std::string GetLocalIP();
    std::string GetLocalAddress();
    std::string GetPortString();

    // Errors and status.
    std::string SocketErrorStr(int number);
    std::string ErrorManager(int expected);
    void SetWSAError(int number, const std::string& text);
    void StatusMessage(int level, const std::string& text);
    int GetLastErrorNo();
    void SetLastErrorNo(int value);

    // Machinery used by the component itself and by descendants.
    void TimerOn();
    void TimerOff();
    void TimerFired(TThreadTimer* Sender);
    void InitWinsock();
    LRESULT Wndproc(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND Handle() const { return window_.Get(); }

    // Components that have Winsock started, process-wide.
    static int WinsockUsers();
    // Sockets created and not yet closed by all components of the process.
    static int OpenSockets() { return openSockets_.load(); }

protected:
    // Dispatches the calling thread's pending messages.
    void ProcessMessages();
    // Gives the core away for a moment, waking at once when a message arrives.
    void IdleWait(DWORD milliseconds);
    // The component's own waits: pump messages (and wait at most the given time for the next
    // one), then let the time-out of the running operation fire when it has run out.
    void pumpMessages();
    void waitAndPump(DWORD milliseconds);
    // ReadLn with the time-out counted from since (a GetTickCount64 reading) instead of from
    // now, so that the lines of one reply share one deadline. Once it has passed the read ends
    // as a time-out, even with a line waiting: a peer that never pauses never lets a wait run.
    std::string ReadLnSince(ULONGLONG since);
    // Takes over a connected socket (a server instance serving an accepted client).
    void AdoptSocket(SOCKET socket, const sockaddr_in& remote);
    bool beingDestroyed() const { return beingDestroyed_; }
    // Reports a canceled or timed-out operation as the given exception, clearing Canceled: the
    // one way an operation ends on Canceled.
    template <typename E = EAbortError> void throwIfCanceled(const char* text) {
        if (Canceled)
            abortOperation<E>(text);
    }
    template <typename E = EAbortError> [[noreturn]] void abortOperation(const char* text) {
        Canceled = false;
        throw E(text);
    }

private:
    SOCKET newSocket(int protocol);
    // Gives the own socket the options of the component (closing resets the connection at once
    // instead of lingering over unsent data) and registers it with the notification window;
    // the registration's result.
    int prepareOwnSocket();
    // Before an operation waits for a lookup or connect notification.
    void expectNotification();
    void renewSocket();
    void receiveChunks(const std::function<int()>& wanted,
                       const std::function<void(const char*, int)>& sink, bool whileConnected);
    void closeOwnSocket();
    // After the own socket was closed: counted, its TLS session and queued notifications gone.
    void forgetOwnSocket();
    void releaseWinsock();
    sockaddr_in localName();
    void receiveToFile(const std::string& fileName, bool append);
    // TimerOn for the component's own operations: the countdown is kept as a deadline that
    // the operation's wait loop checks, instead of a Windows timer armed and killed around
    // every send and read (two round trips to the window system each, for a send that never
    // waits). It ends the same way: TimerFired when the deadline passes while waiting.
    void countdownOn();
    void checkCountdown();
    void dropStaleNotifications();
    void recvExact(char* data, int length);
    // The body of ReadLn, under a countdown the caller has started.
    std::string readLine();
    void sendStreamBody(TStream& stream);
    bool ownerThread() const;
    // The one way bytes leave and the one way they arrive, with recv's and send's results and
    // error words: the socket itself, or the TLS session on it once StartTls succeeded.
    int receive(char* data, int length, int flags);
    int transmit(const char* data, int length);
    // Raw socket transfer for the TLS session: every byte sent, or at least one received, each
    // waiting within the running countdown.
    void sendRaw(const char* data, std::size_t size);
    std::size_t receiveRaw(char* data, std::size_t size);
    void endTls();

    ScopedWindow window_;
    std::unique_ptr<TThreadTimer> timer_;
    std::vector<char> transferBuffer_;
    std::vector<char> hostEntryBuffer_;
    WSADATA wsaData_{};
    bool beingDestroyed_ = false;
    bool winsockStarted_ = false;
    DWORD ownerThreadId_ = 0;
    HANDLE lookupRequest_ = nullptr;
    ULONGLONG countdownStart_ = 0;
    ULONGLONG countdownLength_ = 0; // 0: no countdown runs
    sockaddr_in remote_{};
    std::unique_ptr<TTlsChannel> tls_;
    // Decrypted and not yet read; refilled only once empty, so it never outgrows what one
    // receive can decrypt.
    std::string plaintext_;
    std::vector<char> cipherBuffer_;
    static std::atomic<int> openSockets_;
};

// A listening component: every accepted client is served by a fresh instance of the server's
// own class, created on a thread of its own that calls the instance's Serve.
class TNMGeneralServer : public TPowersock {
public:
    TNMGeneralServer() = default;
    ~TNMGeneralServer() override;

    // Starts listening on Port; the owner calls it once the properties are set.
    void Loaded();
    void Connect() override {}
    void Abort() override;
    virtual void Serve() {}

    TNotifyEvent OnClientContact;

    // Instances whose serving thread is still running.
    int ClientCount();

protected:
    // A new instance of the concrete server class, constructed on the serving thread.
    virtual std::unique_ptr<TNMGeneralServer> NewServeInstance();
    TNMGeneralServer* Listener() const { return listener_; }

private:
    // The work of a client's thread: a fresh instance takes the socket over and serves it.
    void serveClient(SOCKET socket, const sockaddr_in& remote);
    void ServerAccept();
    void threadEnded(TNMGeneralServer* instance);

    TNMGeneralServer* listener_ = nullptr;
    std::vector<TNMGeneralServer*> instances_;
    std::vector<ScopedKernelHandle> threads_;
};
