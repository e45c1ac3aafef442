#include "monitor/checkengine.h"

#include <algorithm>

bool CheckEngine::StartCycle(const std::string& benchmarkUrl, const std::vector<std::string>& urls,
                             const EngineLimits& limits) {
    if (running_)
        return false;
    // Values the engine cannot work with get the nearest it can: no request at all would never
    // end the cycle.
    limits_ = limits;
    limits_.Parallel = std::max(1, limits.Parallel);
    limits_.Retries = std::max(0, limits.Retries);
    limits_.MaxLive = std::max(1, limits.MaxLive);
    running_ = true;
    sitesPhase_ = false;
    ++cycle_;
    results_ = {};
    results_.Urls = urls;
    results_.Sites.assign(urls.size(), ProbeResult{});
    attempts_.assign(urls.size(), 0);
    settled_ = 0;
    queue_.clear();
    inFlight_ = 0;

    switch (tryStart(Benchmark, benchmarkUrl)) {
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

CheckEngine::Try CheckEngine::tryStart(int entry, const std::string& url) {
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
    probe_.Start(ticket, url, limits_.TimeOut);
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
        queue_.push_back(entry); // after every site still waiting for its first probe
        return;
    }
    ++settled_;
}

void CheckEngine::pump() {
    if (!running_ || !sitesPhase_)
        return;
    for (;;) {
        for (std::size_t k = 0; k < queue_.size() && inFlight_ < limits_.Parallel;) {
            const int entry = queue_[k];
            const Try outcome = tryStart(entry, results_.Urls[static_cast<std::size_t>(entry)]);
            if (outcome == Try::Deferred) {
                ++k;
                continue;
            }
            if (outcome == Try::NoSlot)
                break;
            queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(k));
            if (outcome == Try::Hanging)
                settle(entry, ProbeResult::Down(ProbeReason::StillHanging));
        }
        // Nothing of this cycle is waiting for an answer, yet sites are: every live request hangs
        // from earlier cycles, and when one ends is up to the platform. The cycle does not wait
        // for it.
        if (inFlight_ == 0 && !queue_.empty()) {
            const int entry = queue_.front();
            queue_.pop_front();
            settle(entry, ProbeResult::Down(ProbeReason::NoFreeRequest));
            continue;
        }
        break;
    }
    if (settled_ == results_.Urls.size())
        finish();
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
