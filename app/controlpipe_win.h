// The service's control channel: the named pipe that the programs of the users' sessions speak
// the control protocol over. One thread of its own serves every connection with overlapped I/O;
// what needs the form (a cycle, the settings, the probe, Exit) is queued for the form's thread,
// which takes it when told by a posted message and answers through Answer. Neither side ever
// waits for the other, and no client can make either wait.
#pragma once

#include "base/handle_win.h"
#include "control/protocol.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// At most this many connections at once; the pipe itself turns away the next one.
constexpr DWORD MaxControlConnections = 16;
// The most URLs one "checklist" may ask for: they are probed one after the other.
constexpr std::size_t MaxCheckListUrls = 100;

// SYSTEM and Administrators all rights; a user logged on at this computer may read, write
// messages and switch the handle to message mode, but never create an instance of the pipe.
inline constexpr const char* ControlPipeSddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12018b;;;IU)";

// A request the form carries out; its reply goes back through ControlPipe::Answer.
struct ControlRequest {
    std::uint64_t Connection = 0;
    ControlMessage Message;
};

// The facts of the client's token that the access rule needs, read while impersonating it.
// All false when the token cannot be read, which refuses everything.
ClientFacts ReadClientFacts(HANDLE pipe);

class ControlPipe {
public:
    // requestMessage is posted to form whenever a request waits for it.
    ControlPipe(HWND form, UINT requestMessage);
    ~ControlPipe();
    ControlPipe(const ControlPipe&) = delete;
    ControlPipe& operator=(const ControlPipe&) = delete;

    // Creates the pipe's instances and the thread. False, with the reason, when the name is
    // taken or the pipe cannot be created; the program then runs on without the channel.
    bool Start(std::string& error);
    // Ends the thread: replies already given are written within a short bound, then every
    // connection is closed.
    void Stop();

    // The form's side, on the form's thread.
    std::optional<ControlRequest> TakeRequest();
    void Answer(std::uint64_t connection, const ControlMessage& reply);
    // The status that "status" and "subscribe" read; with push, subscribers receive it now.
    void SetStatus(const MonitorStatus& status, bool push);

private:
    struct Slot;
    DWORD run();
    void wake();

    HWND form_;
    UINT requestMessage_;
    ScopedKernelHandle thread_;
    ScopedKernelHandle stop_;
    ScopedKernelHandle wake_;
    // The pipe's instances; created by Start, used by the thread alone from then on.
    std::vector<std::unique_ptr<Slot>> slots_;

    struct Outgoing {
        std::uint64_t Connection; // 0: to every subscriber
        std::string Bytes;
    };
    std::mutex lock_;
    std::deque<ControlRequest> requests_;
    std::deque<Outgoing> outgoing_;
    std::string statusBytes_;
};
