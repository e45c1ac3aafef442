#include "starter/waitrules.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

using namespace starter;

namespace {

// A service whose answers are scripted and a clock that moves only when the starter sleeps.
struct ScriptedService {
    std::deque<Status> answers; // one per query; an empty script makes the query fail
    bool stopSucceeds = true;
    Status stopAnswer{csStopPending, 0, 5000};
    int stopsSent = 0;
    std::uint32_t now = 0;
    std::vector<std::uint32_t> sleeps;

    ServiceOps Ops() {
        ServiceOps ops;
        ops.query = [this](Status& s) {
            if (answers.empty())
                return false;
            s = answers.front();
            answers.pop_front();
            return true;
        };
        ops.stop = [this](Status& s) {
            ++stopsSent;
            if (stopSucceeds)
                s = stopAnswer;
            return stopSucceeds;
        };
        ops.sleep = [this](std::uint32_t ms) {
            sleeps.push_back(ms);
            now += ms;
        };
        ops.tickCount = [this] { return now; };
        ops.lastError = [] { return 1062u; };
        return ops;
    }
};

Status pending(std::uint32_t checkPoint, std::uint32_t waitHint) {
    return {csStartPending, checkPoint, waitHint};
}

} // namespace

TEST(StartWait, WaitTimeIsATenthOfTheHintWithinBounds) {
    EXPECT_EQ(StartWaitTime(0), 1000u);
    EXPECT_EQ(StartWaitTime(5000), 1000u);
    EXPECT_EQ(StartWaitTime(25000), 2500u);
    EXPECT_EQ(StartWaitTime(100000), 10000u);
    EXPECT_EQ(StartWaitTime(0xFFFFFFFFu), 10000u);
}

TEST(StartWait, RunningOrFailedQueryEndsAtOnce) {
    ScriptedService running;
    running.answers = {{csRunning, 0, 0}};
    EXPECT_EQ(WaitForStart(running.Ops()), 1);
    EXPECT_TRUE(running.sleeps.empty());

    ScriptedService missing; // not installed: the query fails on the missing handle
    EXPECT_EQ(WaitForStart(missing.Ops()), -1);
    EXPECT_TRUE(missing.sleeps.empty());

    ScriptedService stopped;
    stopped.answers = {{csStopped, 0, 0}};
    EXPECT_EQ(WaitForStart(stopped.Ops()), -1);
}

TEST(StartWait, CheckpointProgressKeepsWaitingUntilRunning) {
    ScriptedService s;
    s.answers = {pending(0, 5000), pending(0, 5000), pending(1, 5000),
                 pending(1, 5000), pending(2, 5000), {csRunning, 0, 0}};
    EXPECT_EQ(WaitForStart(s.Ops()), 1);
    EXPECT_EQ(s.sleeps, std::vector<std::uint32_t>(5, 1000));
}

TEST(StartWait, NoProgressForLongerThanTheHintGivesUp) {
    ScriptedService s;
    for (int i = 0; i < 20; ++i)
        s.answers.push_back(pending(3, 5000));
    EXPECT_EQ(WaitForStart(s.Ops()), -1);
    // 1000 ms per wait; gives up once more than 5000 ms passed without progress.
    EXPECT_EQ(s.sleeps.size(), 6u);
}

TEST(StartWait, ZeroHintGivesUpAfterTheFirstWaitWithoutProgress) {
    ScriptedService s;
    s.answers = {pending(0, 0), pending(0, 0), {csRunning, 0, 0}};
    EXPECT_EQ(WaitForStart(s.Ops()), -1);
    EXPECT_EQ(s.sleeps, std::vector<std::uint32_t>{1000});
}

TEST(StartWait, HugeHintWaitsTenSecondsAtATime) {
    ScriptedService s;
    s.answers = {pending(0, 200000), pending(1, 200000), {csRunning, 0, 0}};
    EXPECT_EQ(WaitForStart(s.Ops()), 1);
    EXPECT_EQ(s.sleeps, (std::vector<std::uint32_t>{10000, 10000}));
}

TEST(StartWait, QueryFailureDuringTheWaitEndsIt) {
    ScriptedService s;
    s.answers = {pending(0, 5000), pending(1, 5000)};
    EXPECT_EQ(WaitForStart(s.Ops()), -1);
    EXPECT_EQ(s.sleeps.size(), 2u);
}

TEST(StartWait, TickCountWrapDoesNotEndTheWaitEarly) {
    ScriptedService s;
    s.now = 0xFFFFFF00u;
    s.answers = {pending(0, 5000), pending(0, 5000), {csRunning, 0, 0}};
    EXPECT_EQ(WaitForStart(s.Ops()), 1);
}

TEST(StopWait, AlreadyStoppedSendsNoControl) {
    ScriptedService s;
    s.answers = {{csStopped, 0, 0}};
    EXPECT_EQ(StopAndWait(s.Ops(), 0), 0u);
    EXPECT_EQ(s.stopsSent, 0);
}

TEST(StopWait, StopsAndWaitsOneHintAtATime) {
    ScriptedService s;
    s.answers = {{csRunning, 0, 5000}, {csStopPending, 1, 5000}, {csStopped, 0, 0}};
    EXPECT_EQ(StopAndWait(s.Ops(), 0), 0u);
    EXPECT_EQ(s.stopsSent, 1);
    EXPECT_EQ(s.sleeps, (std::vector<std::uint32_t>{5000, 5000}));
}

TEST(StopWait, StopAlreadyUnderWayIsWaitedForWithoutAControl) {
    ScriptedService s;
    s.answers = {{csStopPending, 1, 2000}, {csStopPending, 2, 2000}, {csStopped, 0, 0}};
    EXPECT_EQ(StopAndWait(s.Ops(), 0), 0u);
    EXPECT_EQ(s.stopsSent, 0);
}

TEST(StopWait, TimeOutAndFailuresGiveTheirCodes) {
    ScriptedService slow;
    for (int i = 0; i < 10; ++i)
        slow.answers.push_back({csStopPending, 0, 5000});
    EXPECT_EQ(StopAndWait(slow.Ops(), 0, 12000), ErrorTimeout);

    ScriptedService hung; // accepts the stop, never reports stopped
    hung.answers = {{csRunning, 0, 5000}};
    for (int i = 0; i < 10; ++i)
        hung.answers.push_back({csStopPending, 0, 5000});
    EXPECT_EQ(StopAndWait(hung.Ops(), 0, 12000), ErrorTimeout);
    EXPECT_EQ(hung.stopsSent, 1);

    ScriptedService refused;
    refused.answers = {{csRunning, 0, 5000}};
    refused.stopSucceeds = false;
    EXPECT_EQ(StopAndWait(refused.Ops(), 0), 1062u);

    ScriptedService gone;
    EXPECT_EQ(StopAndWait(gone.Ops(), 0), 1062u);
}
