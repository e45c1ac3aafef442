#include "waitrules.h"

namespace starter {

std::uint32_t StartWaitTime(std::uint32_t waitHint) {
    const std::uint32_t wait = waitHint / 10;
    if (wait < 1000)
        return 1000;
    if (wait > 10000)
        return 10000;
    return wait;
}

int WaitForStart(const ServiceOps& ops) {
    Status status;
    if (!ops.query(status))
        return -1;
    std::uint32_t progressTick = ops.tickCount();
    std::uint32_t checkPoint = status.checkPoint;
    while (status.state == csStartPending) {
        ops.sleep(StartWaitTime(status.waitHint));
        if (!ops.query(status))
            break;
        if (status.checkPoint > checkPoint) {
            checkPoint = status.checkPoint;
            progressTick = ops.tickCount();
            continue;
        }
        // Unsigned subtraction: the tick count wraps after 49.7 days.
        if (ops.tickCount() - progressTick > status.waitHint)
            break;
    }
    return status.state == csRunning ? 1 : -1;
}

std::uint32_t StopAndWait(const ServiceOps& ops, std::uint32_t startTick, std::uint32_t timeOut) {
    Status status;
    if (!ops.query(status))
        return ops.lastError();
    if (status.state == csStopped)
        return 0;
    // A stop already under way is waited for rather than requested again.
    while (status.state == csStopPending) {
        ops.sleep(status.waitHint);
        if (!ops.query(status))
            return ops.lastError();
        if (status.state == csStopped)
            return 0;
        if (ops.tickCount() - startTick > timeOut)
            return ErrorTimeout;
    }
    if (!ops.stop(status))
        return ops.lastError();
    while (status.state != csStopped) {
        ops.sleep(status.waitHint);
        if (!ops.query(status))
            return ops.lastError();
        if (status.state == csStopped)
            break;
        if (ops.tickCount() - startTick > timeOut)
            return ErrorTimeout;
    }
    return 0;
}

} // namespace starter
