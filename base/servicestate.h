// Service states as the service manager numbers them: the service reports them, the starter
// waits on them. Portable, so the rules over them run anywhere.
#pragma once

#include <cstdint>

enum TCurrentStatus : std::uint32_t {
    csStopped = 1,
    csStartPending = 2,
    csStopPending = 3,
    csRunning = 4,
    csContinuePending = 5,
    csPausePending = 6,
    csPaused = 7
};
