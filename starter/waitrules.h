// How the starter waits for the service: portable rules over a status query, a sleep and a
// millisecond tick count, so that they can run against scripted status sequences.
#pragma once

#include "base/servicestate.h"

#include <cstdint>
#include <functional>

namespace starter {

constexpr std::uint32_t ErrorTimeout = 1460;

// How long the stop path waits for the service to report stopped, from the start of the
// operation. Our own service stops within a second; this leaves room for a slow machine.
constexpr std::uint32_t StopTimeOut = 30000;

struct Status {
    std::uint32_t state = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

struct ServiceOps {
    // Fills the status; false when the query fails.
    std::function<bool(Status&)> query;
    // Sends the stop control; on success fills the status the control returned.
    std::function<bool(Status&)> stop;
    std::function<void(std::uint32_t ms)> sleep;
    std::function<std::uint32_t()> tickCount;
    // The system's last error code, for outcomes that report it.
    std::function<std::uint32_t()> lastError;
};

// The pause between two queries while the service starts: a tenth of its wait hint, kept
// within 1000 and 10000 ms.
std::uint32_t StartWaitTime(std::uint32_t waitHint);

// After the start request: waits while the service reports start pending and makes progress
// within its wait hint. 1 when the last known state is running, else -1.
int WaitForStart(const ServiceOps& ops);

// The stop path after the service was opened; startTick is when the operation began.
// 0 when the service is stopped, ERROR_TIMEOUT past the time-out, else the failing call's
// last error code.
std::uint32_t StopAndWait(const ServiceOps& ops, std::uint32_t startTick,
                          std::uint32_t timeOut = StopTimeOut);

} // namespace starter
