// Where the way to the benchmark broke, when it did: the words a failed benchmark's reason
// begins with, so that "not reached" says which step to look at. Portable: the platform gathers
// the facts (monitor/pathstep_win.h), the rule is here.
#pragma once

#include "monitor/proberesult.h"

#include <string>
#include <vector>

// What a lookup of the benchmark's host name found.
enum class NameLookup {
    NotAsked, // the route is a proxy: the proxy resolves the name, not this computer
    Found,
    NotFound, // the name server answered that there is no such name
    NoAnswer, // no answer within the wait
};

struct PathFacts {
    bool NetworkUp = true; // an adapter other than the loopback is up
    bool ThroughProxy = false;
    std::string Proxy; // host:port, where known
    NameLookup Lookup = NameLookup::NotAsked;
    std::string Host; // the benchmark's host
};

// The words of the step where the path broke for the failed result, or empty when the facts
// point at no step of their own (the reason alone then says it).
std::string PathStepWords(const PathFacts& facts, const ProbeResult& result);

// The steps of one probe as a person reads them, one line each: the route, the network, the
// name lookup, the connection, TLS (https only), the HTTP answer and the verdict, each as far
// as the probe got ("connect: not reached" after a failed lookup).
std::vector<std::string> DiagnoseLines(const std::string& route, const PathFacts& facts, bool https,
                                       const ProbeResult& result);
