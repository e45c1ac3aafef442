// Probes of URLs through asynchronous WinHTTP sessions, one per way out (direct, each proxy,
// the platform's own; monitor/winhttpsession_win.h): many requests in flight without a thread
// each, connections kept alive between probes, and every probe ended on time by a watchdog of
// the prober's own, whatever the platform does with its own limits.
//
// A request the platform does not end when its handle is closed (Wine keeps it going until one
// of its time-outs fires) stays counted as live until the platform lets go of it; Live() and
// HasLive() let a scheduler bound such requests and keep a URL to one at a time. On Wine only,
// which enforces neither the header limit nor the closing of a request that keeps receiving,
// the prober also shuts down the connection under a probe it gives up on, and stops a body read
// that Wine's count of the bytes at hand shows to be broken.
#pragma once

#include "monitor/checkengine.h"
#include "monitor/judge.h"
#include "monitor/proberesult.h"
#include "monitor/winhttpsession_win.h"
#include "settings/sitechecks.h"

#include <windows.h>
#include <winhttp.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

// The check engine's result record, as the judge made it of the facts under the site's checks,
// with what the platform said: a probe's reason in words is ReasonText(result); a time-out's
// Milliseconds is the time-out that ran out.
struct WinHttpProbeResult : ProbeResult {
    // What the verdict was drawn from; the page itself is not kept.
    ProbeFacts Facts;
    std::uint32_t Error = 0;       // the platform's error code, when one ended the probe
    std::uint32_t SecureFlags = 0; // WINHTTP_CALLBACK_STATUS_FLAG_* of a TLS failure
    // False when the platform still held the request at the completion, which then hangs:
    // the prober's Release follows once the platform lets go of it.
    bool Released = true;
};

// The reason a WinHTTP or Winsock error code stands for.
ProbeReason ReasonOfError(DWORD error);

// A page's first bytes in UTF-8, from the charset its Content-Type names (see the prober).
std::string DecodedPage(const std::string& bytes, const std::string& charset);

class WinHttpProber {
public:
    // Called exactly once per started probe, on a WinHTTP callback thread or the prober's
    // watchdog thread (or on the caller's thread, inside Start, for a probe that could not be
    // sent at all). It must not block for long and must not destroy the prober.
    using Completion = std::function<void(std::size_t index, const WinHttpProbeResult& result)>;
    // Called once, after a completion whose result was not Released, when the platform lets go
    // of the request. Same threads and rules as the completion.
    using Release = std::function<void(std::size_t index)>;

    // Most a probe reads of an answer's body before it ends (the status is known), so that the
    // connection can serve the next probe, when no text check asks for the page
    // (MaxCheckedBody then).
    static constexpr std::uint32_t MaxBodyBytes = 64 * 1024;
    // [General] CertDays for a site whose checks name none and that came without it.
    static constexpr int DefaultCertDays = 14;
    // Most header bytes the platform is asked to accept (enforced where the platform does).
    static constexpr std::uint32_t MaxHeaderBytes = 64 * 1024;
    static constexpr std::uint32_t MaxRedirects = 12;

    WinHttpProber();
    // Closes every request and connection and waits, at most 5 s, for the platform to let go
    // of them; completions not yet called are not called any more. What the platform still
    // holds after that keeps the shared state alive and is freed when it lets go.
    ~WinHttpProber();
    WinHttpProber(const WinHttpProber&) = delete;
    WinHttpProber& operator=(const WinHttpProber&) = delete;

    // False when the platform's own session could not be opened (WinHTTP is not there).
    bool Opened() const { return platform_ != nullptr; }
    // The access type the platform's own session was opened with (automatic proxy where
    // offered).
    DWORD AccessType() const { return platform_ ? platform_->AccessType() : 0; }
    // The sessions open, one per route used lately.
    std::size_t Sessions() const;

    // Starts a probe of url (UTF-8, as the settings hold it). False, and no completion, when
    // the URL still has a live request; otherwise the completion follows once. Start and
    // HasLive are meant for one scheduling thread: between them nothing else starts that URL.
    // The result's ms runs from this call to the end of the answer (the body read included).
    // An answer (a status, or a reply that is no HTTP) is reported at once. A failure waits
    // until the platform has let go of the request, so that the URL can be probed again at
    // once, but never past the time-out: a request still held then is reported as not
    // Released.
    // The site's checks say how many redirects are followed and whether the page is read; the
    // completion's result is their verdict (Judge).
    bool Start(std::size_t index, const SiteRecord& site, std::uint32_t timeOutMs,
               Completion completion, Release release = {});
    // The same with the default checks.
    bool Start(std::size_t index, const std::string& url, std::uint32_t timeOutMs,
               Completion completion, Release release = {}) {
        return Start(index, SiteRecord{url, {}}, timeOutMs, std::move(completion),
                     std::move(release));
    }

    // Requests the platform still holds, finished or not.
    std::size_t Live() const;
    // Whether url has such a request that is not an answered one being closed.
    bool HasLive(const std::string& url) const;
    // Waits until no request is live, at most ms; true when none is.
    bool WaitIdle(std::uint32_t ms) const;

    struct State;
    struct Request;

private:
    void watch();

    std::shared_ptr<State> state_;
    std::shared_ptr<WinHttpSession> platform_;
    std::thread watchdog_;
};

// One probe, waited for on the calling thread: it ends within the time-out, as every probe of
// the prober does.
WinHttpProbeResult ProbeAndWait(WinHttpProber& prober, const SiteRecord& site,
                                std::uint32_t timeOut);
inline WinHttpProbeResult ProbeAndWait(WinHttpProber& prober, const std::string& url,
                                       std::uint32_t timeOut) {
    return ProbeAndWait(prober, SiteRecord{url, {}}, timeOut);
}

// The check engine's probe over a WinHttpProber: answers are queued as they come, on the
// platform's threads, and wake tells the engine's thread (from any thread, once per batch) to
// take them with DrainInto.
class WinHttpEngineProbe : public AsyncProbe {
public:
    explicit WinHttpEngineProbe(std::function<void()> wake)
        : wake_(std::move(wake)), open_(std::make_shared<Open>()) {}
    // A benchmark's failure still being traced is dropped.
    ~WinHttpEngineProbe();
    WinHttpEngineProbe(const WinHttpEngineProbe&) = delete;
    WinHttpEngineProbe& operator=(const WinHttpEngineProbe&) = delete;

    void Start(ProbeTicket ticket, const SiteRecord& site, std::uint32_t timeOut) override;
    void DrainInto(CheckEngine& engine) { queue_.DrainInto(engine); }
    const WinHttpProber& Prober() const { return prober_; }

private:
    void startBenchmark(ProbeTicket ticket, const SiteRecord& site, std::uint32_t timeOut);
    // Whether the queue still takes answers: a benchmark's failure is traced on a thread of
    // its own (the name lookup may wait), which may end after the probe is gone.
    struct Open {
        std::mutex lock;
        bool open = true;
    };
    std::function<void()> wake_;
    CompletionQueue queue_;
    std::shared_ptr<Open> open_;
    // Last, so that it goes first: no answer reaches the queue once it is gone.
    WinHttpProber prober_;
};
