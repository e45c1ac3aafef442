// What one probe of an address found: up or down, why it is down, and how long it took. Kept per
// site so that the status, the companion's menu and a history can say more than "Failed".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ProbeReason : int {
    Up = 0,
    NameNotFound,
    Refused,
    TimedOut, // Milliseconds holds the time-out that ran out
    Tls,
    HttpStatus, // a final answer other than 200; Status holds it
    NotHttp,
    TooManyRedirects,
    // A request for the address from an earlier check, or an earlier try of this one, has not
    // ended yet: no new one was sent.
    StillHanging,
    // Every request the program allows at once was still live, so none could be sent.
    NoFreeRequest,
    // The address cannot be put into a request at all.
    BadAddress,
    // The connection failed in a way none of the above describes (reset, closed early, ...).
    ConnectionFailed,
};

struct ProbeResult {
    bool Up = false;
    ProbeReason Reason = ProbeReason::ConnectionFailed;
    std::uint32_t Status = 0;
    // From the start of the request to its answer, or to the moment it was given up on.
    std::uint32_t Milliseconds = 0;

    static ProbeResult Answered(std::uint32_t milliseconds) {
        return {true, ProbeReason::Up, 200, milliseconds};
    }
    static ProbeResult Down(ProbeReason reason, std::uint32_t milliseconds = 0,
                            std::uint32_t status = 0) {
        return {false, reason, status, milliseconds};
    }
};

// The reason in plain words, for the status and the menu of failed sites: "up",
// "timed out after 2000 ms", "HTTP status 404", ...
std::string ReasonText(const ProbeResult& result);

// One cycle of probes as the engine hands it over.
struct CycleResults {
    ProbeResult Benchmark;
    // The list as the cycle read it at its start, and one final result per entry, in the
    // order of the list; both empty when the benchmark was down.
    std::vector<std::string> Urls;
    std::vector<ProbeResult> Sites;
};
