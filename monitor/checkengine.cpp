#include "monitor/checkengine.h"

#include <algorithm>
#include <chrono>

std::uint64_t SteadyMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool CheckEngine::begin(std::vector<SiteRecord> sites, const EngineLimits& limits) {
    if (running_)
        return false;
    // Values the engine cannot work with get the nearest it can: no request at all would never
    // end the cycle.
    limits_ = limits;
    limits_.Parallel = std::max(1, limits.Parallel);
    limits_.Retries = std::max(0, limits.Retries);
    limits_.MaxLive = std::max(1, limits.MaxLive);
    if (!OnWakeAfter)
        limits_.RetryAfter = 0;
    running_ = true;
    sitesPhase_ = false;
    ++cycle_;
    results_ = {};
    for (const SiteRecord& site : sites)
        results_.Urls.push_back(site.Url);
    results_.Records = std::move(sites);
    results_.Sites.assign(results_.Urls.size(), ProbeResult{});
    attempts_.assign(results_.Urls.size(), 0);
    triedAt_.assign(results_.Urls.size(), 0);
    notBefore_.assign(results_.Urls.size(), 0);
    settled_ = 0;
    queue_.clear();
    inFlight_ = 0;
    wakeAt_ = 0;
    return true;
}

bool CheckEngine::StartCycle(const SiteRecord& benchmark, std::vector<SiteRecord> sites,
                             const EngineLimits& limits) {
    if (!begin(std::move(sites), limits))
        return false;
    switch (tryStart(Benchmark, benchmark)) {
    case Try::Started:
        return true;
    case Try::NoSlot:
        results_.Benchmark = ProbeResult::Down(ProbeReason::NoFreeRequest);
        break;
    default:
        results_.Benchmark = ProbeResult::Down(ProbeReason::StillHanging);
        break;
    }
    finish();
    return true;
}

bool CheckEngine::StartCycle(const std::string& benchmarkUrl, const std::vector<std::string>& urls,
                             const EngineLimits& limits) {
    std::vector<SiteRecord> sites;
    for (const std::string& url : urls)
        sites.push_back({url, {}});
    return StartCycle(SiteRecord{benchmarkUrl, {}}, std::move(sites), limits);
}

bool CheckEngine::StartList(std::vector<SiteRecord> sites, const EngineLimits& limits) {
    if (!begin(std::move(sites), limits))
        return false;
    results_.Benchmark = ProbeResult::Answered(0);
    startSites();
    return true;
}

CheckEngine::Try CheckEngine::tryStart(int entry, const SiteRecord& site) {
    const std::string& url = site.Url;
    const auto live = liveUrls_.find(url);
    if (live != liveUrls_.end())
        // A request that has its result and is still live was given up on and hangs; one without
        // its result is the same address listed twice, and has its result within the time-out.
        return requests_.at(live->second).Completed ? Try::Hanging : Try::Deferred;
    if (LiveRequests() >= limits_.MaxLive)
        return Try::NoSlot;
    const ProbeTicket ticket = nextTicket_++;
    requests_.emplace(ticket, Request{url, entry, cycle_, false});
    liveUrls_.emplace(url, ticket);
    ++inFlight_;
    if (entry != Benchmark)
        triedAt_[static_cast<std::size_t>(entry)] = clock_();
    probe_.Start(ticket, site, limits_.TimeOut);
    return Try::Started;
}

void CheckEngine::Complete(ProbeTicket ticket, const ProbeResult& result, bool ended) {
    const auto it = requests_.find(ticket);
    if (it == requests_.end())
        return;
    const Request request = it->second;
    if (ended)
        forget(it);
    else
        it->second.Completed = true;
    if (request.Completed) {
        if (ended)
            pump(); // a place among the live requests is free
        return;
    }
    deliver(request.Entry, request.Cycle, result);
}

void CheckEngine::Released(ProbeTicket ticket) {
    const auto it = requests_.find(ticket);
    if (it == requests_.end())
        return;
    const Request request = it->second;
    forget(it);
    if (!request.Completed)
        deliver(request.Entry, request.Cycle, ProbeResult::Down(ProbeReason::ConnectionFailed));
    else
        pump(); // a place among the live requests is free
}

void CheckEngine::forget(std::unordered_map<ProbeTicket, Request>::iterator request) {
    const auto live = liveUrls_.find(request->second.Url);
    if (live != liveUrls_.end() && live->second == request->first)
        liveUrls_.erase(live);
    requests_.erase(request);
}

void CheckEngine::deliver(int entry, std::uint64_t cycle, const ProbeResult& result) {
    if (!running_ || cycle != cycle_)
        return; // an earlier cycle's request that hung: that cycle counted it down long ago
    --inFlight_;
    if (entry != Benchmark) {
        settle(entry, result);
        pump();
        return;
    }
    results_.Benchmark = result;
    if (!result.Up) {
        finish();
        return;
    }
    startSites();
}

void CheckEngine::startSites() {
    sitesPhase_ = true;
    for (int i = 0; i < static_cast<int>(results_.Urls.size()); ++i)
        queue_.push_back(i);
    pump();
}

void CheckEngine::settle(int entry, const ProbeResult& result) {
    const auto index = static_cast<std::size_t>(entry);
    // A retry that finds the first try's request still hanging says less than the first try:
    // the site keeps the reason it was down for.
    if (result.Reason != ProbeReason::StillHanging || attempts_[index] == 0)
        results_.Sites[index] = result;
    ++attempts_[index];
    if (!result.Up && attempts_[index] <= limits_.Retries) {
        notBefore_[index] = triedAt_[index] + limits_.RetryAfter;
        queue_.push_back(entry); // after every site still waiting for its first probe
        return;
    }
    ++settled_;
}

void CheckEngine::pump() {
    if (!running_ || !sitesPhase_)
        return;
    const std::uint64_t now = clock_();
    bool held = false; // a retry waits for its time, not for a request
    for (;;) {
        held = false;
        for (std::size_t k = 0; k < queue_.size() && inFlight_ < limits_.Parallel;) {
            const int entry = queue_[k];
            const auto index = static_cast<std::size_t>(entry);
            if (notBefore_[index] > now) {
                held = true;
                ++k;
                continue;
            }
            const Try outcome = tryStart(entry, results_.Records[index]);
            if (outcome == Try::Deferred) {
                ++k;
                continue;
            }
            if (outcome == Try::NoSlot)
                break;
            queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(k));
            if (outcome == Try::Hanging) {
                triedAt_[index] = now;
                settle(entry, ProbeResult::Down(ProbeReason::StillHanging));
            }
        }
        // Nothing of this cycle is waiting for an answer or its time, yet sites are: every live
        // request hangs from earlier cycles, and when one ends is up to the platform. The cycle
        // does not wait for it.
        if (inFlight_ == 0 && !held && !queue_.empty()) {
            const int entry = queue_.front();
            queue_.pop_front();
            settle(entry, ProbeResult::Down(ProbeReason::NoFreeRequest));
            continue;
        }
        break;
    }
    if (settled_ == results_.Urls.size()) {
        finish();
        return;
    }
    if (held && inFlight_ < limits_.Parallel)
        wakeFor(now);
}

void CheckEngine::wakeFor(std::uint64_t now) {
    std::uint64_t due = 0;
    for (const int entry : queue_) {
        const std::uint64_t at = notBefore_[static_cast<std::size_t>(entry)];
        if (at > now && (due == 0 || at < due))
            due = at;
    }
    if (due == 0 || (wakeAt_ != 0 && wakeAt_ <= due))
        return;
    wakeAt_ = due;
    OnWakeAfter(static_cast<std::uint32_t>(std::min<std::uint64_t>(due - now, 0xFFFFFFFFu)));
}

void CheckEngine::finish() {
    running_ = false;
    sitesPhase_ = false;
    queue_.clear();
    CycleResults out = std::move(results_);
    results_ = {};
    if (!out.Benchmark.Up) {
        out.Urls.clear();
        out.Sites.clear();
        out.Records.clear();
    }
    if (OnCycleDone)
        OnCycleDone(std::move(out));
}

bool CompletionQueue::push(Item item) {
    const std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(std::move(item));
    return items_.size() == 1;
}

bool CompletionQueue::PushComplete(ProbeTicket ticket, const ProbeResult& result, bool ended) {
    return push({ticket, false, ended, result});
}

bool CompletionQueue::PushReleased(ProbeTicket ticket) {
    return push({ticket, true, true, {}});
}

void CompletionQueue::DrainInto(CheckEngine& engine) {
    std::vector<Item> items;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        items.swap(items_);
    }
    for (const Item& item : items) {
        if (item.Released)
            engine.Released(item.Ticket);
        else
            engine.Complete(item.Ticket, item.Result, item.Ended);
    }
}

bool CycleGate::Request() {
    if (running_) {
        queued_ = true;
        return false;
    }
    running_ = true;
    return true;
}

bool CycleGate::Finished() {
    if (queued_) {
        queued_ = false;
        return true;
    }
    running_ = false;
    return false;
}
