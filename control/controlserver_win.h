// The service's side of the control channel: the named pipe that the programs of the users'
// sessions speak the control protocol over.
//
// One thread of the server's own serves every connection with overlapped I/O, one function per
// step: a client connected, a read done, a write done, a request answered. It says hello,
// checks who may do what, answers "status" and "subscribe" itself, and hands every other request
// to a ControlHandler, which the monitor implements. The handler answers when it is done,
// through the ControlReply it was given, from whatever thread it likes; the server never waits
// for the handler, nor the handler for a client.
//
// Bounds, so that no client can jam the others or grow the service:
// - a client has at most one request with the handler; what it sends meanwhile waits (at most
//   MaxWaitingRequests and MaxMessageSize bytes; more drops the client) and is carried out in order
//   after the answer, so its replies keep the order of its requests. A checklist, the one slow
//   request, is not waited for: a request behind it cuts it short (its work abandoned, answered
//   by an error at once). A client that leaves takes its waiting requests with it, and the
//   handler's work for it is abandoned (ControlReply);
// - the pipe buffers nothing for a client (an answer stays the server's until the client reads
//   it), and at most MaxUnreadReplies replies may wait unread: one more drops the client;
// - the ready connections are served in turn, one step each, never the lowest one first;
// - a client that has not said hello within the hello limit is dropped; after hello a client
//   may stay silent as long as it likes, but who keeps an instance is decided by the rule of
//   control/admission.h: a few connections per user, and one instance always listening, so that
//   no user's idle connections shut out another user's companion or an administrator's stop.
#pragma once

#include "base/handle_win.h"
#include "base/product.h"
#include "control/admission.h"
#include "control/protocol.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// At most this many connections at once; the pipe itself turns away the next one.
constexpr DWORD MaxControlConnections = 16;
// Replies a client may leave unread; the next one drops the client.
constexpr std::size_t MaxUnreadReplies = 32;
// Requests that may wait behind the one with the handler; the next one drops the client.
constexpr std::size_t MaxWaitingRequests = 8;

// SYSTEM and Administrators all rights; a user logged on at this computer may read, write
// messages and switch the handle to message mode, but never create an instance of the pipe.
inline constexpr const char* ControlPipeSddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12018b;;;IU)";

// The facts of the client's token that the access rule needs, read while impersonating it.
// All false when the token cannot be read, which refuses everything.
ClientFacts ReadClientFacts(HANDLE pipe);

// Who the client is, for the rule of who keeps an instance: the user SID of its token and whether
// that token is an elevated administrator's. Empty and false when the token cannot be read.
struct ClientIdentity {
    std::string User;
    bool Administrator = false;
};
ClientIdentity ReadClientIdentity(HANDLE pipe);

struct ControlOutbox;

// The answer to one request. Copyable; the first Send counts, later ones are dropped, and so is
// an answer whose client has left or whose server has stopped. Wanted() tells whether an
// answer is still awaited: work for a client that left is abandoned.
class ControlReply {
public:
    ControlReply() = default;
    void Send(const ControlMessage& reply) const;
    bool Wanted() const;

private:
    friend class ControlServer;
    struct Request;
    std::shared_ptr<Request> request_;
};

// What the requests that need the monitor do. Each method is called on the server's thread and
// must return at once; the answer goes through reply when it is ready.
class ControlHandler {
public:
    virtual ~ControlHandler() = default;
    virtual void CheckNow(ControlReply reply) = 0;
    virtual void GetSettings(ControlReply reply) = 0;
    virtual void SetSettings(const ControlMessage& settings, ControlReply reply) = 0;
    // At most MaxCheckListUrls addresses, whose answer fits in one message.
    virtual void CheckList(const std::vector<std::string>& urls, ControlReply reply) = 0;
    virtual void Stop(ControlReply reply) = 0;
    // The History window's data: uptime of every site, the chart of url over span. A monitor
    // that keeps no history says so.
    virtual void History(const std::string& url, const std::string& span, ControlReply reply) {
        (void)url;
        (void)span;
        reply.Send(ErrorMessage("failed", "This monitor keeps no history."));
    }
    // "Send a test" of a webhook channel: the channel as the message gives it (testwebhook),
    // its address taken from the stored channel of that name when the message holds none. The
    // answer, webhooktest with outcome= in words, comes once the post is done.
    virtual void TestWebhook(const ControlMessage& request, ControlReply reply) {
        (void)request;
        reply.Send(ErrorMessage("failed", "This monitor sends no webhooks."));
    }
    // The steps of one probe of url as the service makes it (diagnose), in lines, once the
    // probe is done.
    virtual void Diagnose(const std::string& url, ControlReply reply) {
        (void)url;
        reply.Send(ErrorMessage("failed", "This monitor cannot diagnose."));
    }
    // Starts a maintenance window for every site, from now for minutes (maintenance).
    virtual void StartMaintenance(std::int32_t minutes, ControlReply reply) {
        (void)minutes;
        reply.Send(ErrorMessage("failed", "This monitor knows no maintenance windows."));
    }
};

struct ControlServerOptions {
    std::string PipeName = ControlPipeName;
    DWORD HelloBoundMs = 10000;
    // After an error that ends a connection the client is given this long to read the reply.
    DWORD CloseBoundMs = 2000;
    // How long Stop lets the replies already given reach their clients.
    DWORD FlushBoundMs = 300;
    // Tells whether the client may make the request (empty) or why not; the default reads the
    // client's token and applies RefusalFor.
    std::function<std::string(HANDLE pipe, const std::string& requestType)> Refusal;
    // Who connected; the default reads the token of the client's process.
    std::function<ClientIdentity(HANDLE pipe)> Identify;
};

// The reason Start gives when another program holds the pipe's name.
inline constexpr const char* PipeNameTakenText = "the name is taken by another program";

class ControlServer {
public:
    explicit ControlServer(ControlHandler& handler,
                           ControlServerOptions options = ControlServerOptions());
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Creates the pipe's instances and the thread. False, with the reason, when the name is
    // taken or the pipe cannot be created; the program then runs on without the channel.
    bool Start(std::string& error);
    // Ends the thread: replies already given are written within a short bound, then every
    // connection is closed and the pipe's name is free.
    void Stop();

    // The status that "status" and "subscribe" read; with push, subscribers receive it now.
    // Any thread.
    void SetStatus(const MonitorStatus& status, bool push);

private:
    struct Slot;
    using Bytes = std::shared_ptr<const std::string>;

    DWORD run();
    // The steps, on the server's thread.
    void listen(Slot& s);
    void connected(Slot& s);
    void readDone(Slot& s);
    void writeDone(Slot& s);
    void answered(); // replies and pushes handed in from other threads
    void proceed(Slot& s);
    void request(Slot& s, const std::string& bytes);
    void hello(Slot& s, const ControlMessage& message);
    void pass(Slot& s, ControlMessage message);

    void startRead(Slot& s);
    void startWrite(Slot& s);
    void send(Slot& s, Bytes bytes);
    void send(Slot& s, const ControlMessage& message);
    void fail(Slot& s, const std::string& code, const std::string& reason);
    void disconnect(Slot& s);
    void expire(Slot& s, ULONGLONG now);
    std::string refusal(Slot& s, const std::string& type);
    std::vector<PipePeer> peers() const;
    void endOneTooMany(Slot& s);
    void makeRoom();

    ControlHandler& handler_;
    ControlServerOptions options_;
    std::shared_ptr<ControlOutbox> outbox_;
    ScopedKernelHandle thread_;
    ScopedKernelHandle stop_;
    // Created by Start, used by the thread alone from then on.
    std::vector<std::unique_ptr<Slot>> slots_;
    std::uint64_t nextId_ = 0;
    // Counts every connection's steps, so that which one is idle longest never ties.
    std::uint64_t activity_ = 0;
    std::size_t nextTurn_ = 0;
};
