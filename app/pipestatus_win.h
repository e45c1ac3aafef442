// The control pipe's status: whether a cycle runs and when the last one ended, pushed to the
// clients that subscribed. The picture, the tip and the menus in it follow the tray's, which
// the form mirrors into the same record.
#pragma once

#include "control/monitorlink.h"
#include "monitor/cycleoutput.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

class PipeStatusOutput : public CycleOutput {
public:
    // publish: hands the status to the pipe, to every subscriber when push.
    PipeStatusOutput(MonitorStatus& status, std::function<void(bool push)> publish)
        : status_(status), publish_(std::move(publish)) {}
    void CycleStarted() override {
        status_.CycleRunning = true;
        publish_(false);
    }
    void CycleDone(const CycleReport&) override {
        status_.CycleRunning = false;
        status_.LastCycleEnd = localTimeNow();
        publish_(true);
    }

private:
    static std::string localTimeNow() {
        SYSTEMTIME t;
        ::GetLocalTime(&t);
        char text[32];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                      t.wHour, t.wMinute, t.wSecond);
        return text;
    }

    MonitorStatus& status_;
    std::function<void(bool push)> publish_;
};
