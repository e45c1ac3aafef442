// The monitor link over the service's control pipe, for the programs of a user's session.
//
// A thread of the link's own does all pipe I/O: it connects (again every second while the
// service is away), makes sure the pipe's server is the service itself, says hello, subscribes
// and carries the requests. Events come back to the thread that created the link through a
// message-only window of that thread, so the creator must run a message loop and never waits.
#pragma once

#include "base/handle_win.h"
#include "control/monitorlink.h"
#include "control/protocol.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The process id of the running service as the service manager knows it; 0 when it does not
// run or cannot be asked.
DWORD ServiceProcessId(const char* serviceName);

class PipeMonitorLink : public MonitorLink {
public:
    // serverCheck tells whether a process id is that of the monitor; the default asks the
    // service manager for the service's process.
    explicit PipeMonitorLink(std::function<bool(DWORD serverProcessId)> serverCheck = {});
    ~PipeMonitorLink() override;
    PipeMonitorLink(const PipeMonitorLink&) = delete;
    PipeMonitorLink& operator=(const PipeMonitorLink&) = delete;

    bool Connected() const override { return connected_; }
    void CheckNow() override;
    void RequestSettings() override;
    void ApplySettings(const CUserSettings& settings) override;
    void CheckList(const std::vector<std::string>& urls) override;
    void Diagnose(const std::string& url) override;
    void StopMonitoring() override;
    void RequestHistory(const std::string& url, const std::string& span) override;
    void TestWebhook(const WebhookChannel& channel) override;
    void StartMaintenance(std::int32_t minutes) override;

private:
    DWORD run();
    void request(const ControlMessage& message);
    // From the link's thread: queue an event for the creator's thread and wake it.
    void deliver(std::function<void()> event);
    void drainEvents();
    static LRESULT CALLBACK wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::function<bool(DWORD)> serverCheck_;
    bool connected_ = false; // the creator's view, changed with OnConnection
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    ScopedWindow window_;
    ScopedKernelHandle stop_;
    ScopedKernelHandle requestReady_;
    ScopedKernelHandle thread_;

    std::mutex lock_;
    std::deque<ControlMessage> requests_;
    std::deque<std::function<void()>> events_;
};
