// The check cycle over many sites at once: the benchmark first and alone, then the list with a
// bounded number of requests in flight, each site retried after the others before it counts as
// down, and the results handed over in the order of the list whatever the order of the answers.
//
// The engine only schedules; an AsyncProbe sends the requests. It is not thread-safe: every call
// into it (StartCycle, Complete, Released, Tick) comes from one thread, so a probe whose platform
// answers on threads of its own queues its answers (CompletionQueue) and lets that thread drain
// them.
#pragma once

#include "monitor/proberesult.h"
#include "settings/sitechecks.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

using ProbeTicket = std::uint64_t;

class AsyncProbe {
public:
    virtual ~AsyncProbe() = default;
    // Sends a request for the site, to be judged by its checks. Its result must come back through
    // CheckEngine::Complete within timeOut milliseconds, a TimedOut one if need be. When the
    // platform goes on with a request given up on, Complete says so, and CheckEngine::Released
    // follows once the platform has really ended it. Neither may be called from within Start.
    virtual void Start(ProbeTicket ticket, const SiteRecord& site, std::uint32_t timeOut) = 0;
};

struct EngineLimits {
    // Requests of the cycle waiting for their result at once; 1 probes one after the other.
    int Parallel = 16;
    // Further probes of a site that failed, within the same cycle.
    int Retries = 0;
    // Requests started and not yet ended by the platform, of every cycle together.
    int MaxLive = 256;
    std::uint32_t TimeOut = 500;
    // A retry starts no sooner than this many milliseconds after the start of the try it
    // repeats: a blip of a few hundred milliseconds would otherwise fail both.
    std::uint32_t RetryAfter = 1000;
};

// Milliseconds of a clock that never goes back.
std::uint64_t SteadyMilliseconds();

class CheckEngine {
public:
    explicit CheckEngine(AsyncProbe& probe,
                         std::function<std::uint64_t()> clock = SteadyMilliseconds)
        : probe_(probe), clock_(std::move(clock)) {}

    // Called once per cycle, with its results, on the thread that drives the engine. It may
    // start the next cycle.
    std::function<void(CycleResults)> OnCycleDone;

    // A retry waits: the engine asks to be woken (Tick) after so many milliseconds. Without
    // it retries do not wait, as nothing would wake the engine.
    std::function<void(std::uint32_t ms)> OnWakeAfter;

    // Starts a cycle over the benchmark and the sites; false, and nothing started, while one
    // runs.
    bool StartCycle(const SiteRecord& benchmark, std::vector<SiteRecord> sites,
                    const EngineLimits& limits);
    // The same over bare addresses, each with the default checks.
    bool StartCycle(const std::string& benchmarkUrl, const std::vector<std::string>& urls,
                    const EngineLimits& limits);
    // A cycle over the sites alone, as if the benchmark had answered: a list checked on
    // request.
    bool StartList(std::vector<SiteRecord> sites, const EngineLimits& limits);
    bool Running() const { return running_; }
    // The wake-up asked for through OnWakeAfter (or any time): retries now due are started.
    void Tick() {
        wakeAt_ = 0;
        pump();
    }

    // The result of a request. ended is false when the platform still holds the request, as one
    // given up on that it does not end when asked: the address then counts as hanging, and the
    // request keeps its place among the live ones, until Released. A second result for the same
    // request, or one for a request of a finished cycle, is ignored.
    void Complete(ProbeTicket ticket, const ProbeResult& result, bool ended = true);
    // The platform has ended a request that Complete left live, or one that never had a result
    // (which then counts as a failed connection).
    void Released(ProbeTicket ticket);

    int LiveRequests() const { return static_cast<int>(requests_.size()); }

private:
    static constexpr int Benchmark = -1;
    enum class Try { Started, Deferred, Hanging, NoSlot };
    struct Request {
        std::string Url;
        int Entry;
        std::uint64_t Cycle;
        bool Completed;
    };

    bool begin(std::vector<SiteRecord> sites, const EngineLimits& limits);
    Try tryStart(int entry, const SiteRecord& site);
    void startSites();
    // Asks to be woken when the first retry held back comes due.
    void wakeFor(std::uint64_t now);
    // Frees the request's address and its place among the live ones.
    void forget(std::unordered_map<ProbeTicket, Request>::iterator request);
    void deliver(int entry, std::uint64_t cycle, const ProbeResult& result);
    void settle(int entry, const ProbeResult& result);
    void pump();
    void finish();

    AsyncProbe& probe_;
    std::function<std::uint64_t()> clock_;
    EngineLimits limits_;
    bool running_ = false;
    bool sitesPhase_ = false;
    std::uint64_t cycle_ = 0;
    ProbeTicket nextTicket_ = 1;
    CycleResults results_;
    std::vector<int> attempts_;
    // Per entry: when its last try started, and the earliest its retry may start.
    std::vector<std::uint64_t> triedAt_;
    std::vector<std::uint64_t> notBefore_;
    // When the wake-up asked for is due; 0 when none is.
    std::uint64_t wakeAt_ = 0;
    std::size_t settled_ = 0;
    // Entries waiting for a request, first attempts in list order, then retries.
    std::deque<int> queue_;
    int inFlight_ = 0;
    std::unordered_map<ProbeTicket, Request> requests_;
    std::unordered_map<std::string, ProbeTicket> liveUrls_;
};

// Answers handed from the platform's threads to the engine's thread. Push may be called from any
// thread; it returns true when the queue was empty, so that the caller wakes the engine's thread
// once per batch rather than once per answer.
class CompletionQueue {
public:
    bool PushComplete(ProbeTicket ticket, const ProbeResult& result, bool ended = true);
    bool PushReleased(ProbeTicket ticket);
    // On the engine's thread: passes every queued answer to engine, in the order they came.
    void DrainInto(CheckEngine& engine);

private:
    struct Item {
        ProbeTicket Ticket;
        bool Released;
        bool Ended;
        ProbeResult Result;
    };
    bool push(Item item);
    std::mutex mutex_;
    std::vector<Item> items_;
};

// "Check Now" while a cycle runs: cycles never overlap, and any number of requests during one
// cycle come to one more cycle after it.
class CycleGate {
public:
    // True when a cycle is to start now; otherwise one is queued behind the running one.
    bool Request();
    // At the end of a cycle: true when the queued one is to start now.
    bool Finished();

private:
    bool running_ = false;
    bool queued_ = false;
};
