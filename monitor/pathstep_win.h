// The facts of the way out to a site as this computer sees them: an adapter up, the route the
// settings give it (and the proxy a PAC file names), and whether its host name resolves within
// a bounded wait. For the words of a failed benchmark (monitor/pathstep.h).
#pragma once

#include "monitor/pathstep.h"
#include "settings/sitechecks.h"

#include <cstdint>
#include <string>
#include <vector>

// Whether an adapter other than the loopback is up.
bool NetworkAdapterUp();

// What a lookup of host finds within waitMs; the lookup goes on alone on its own thread when
// the wait ends first.
NameLookup LookUpName(const std::string& host, std::uint32_t waitMs);

// The route of a probe of site: "direct", "proxy host:port", "the platform's own proxy
// settings (...)" or what the PAC file said; through gets whether a proxy carries it, proxy
// its host:port where known.
std::string RouteWords(const SiteRecord& site, std::uint32_t waitMs, bool& through,
                       std::string& proxy);

// One probe of site, step by step, in the lines DiagnoseLines gives: the route, the network,
// the name lookup, then the probe itself within timeOutMs. Waits on the calling thread.
std::vector<std::string> DiagnoseSite(const SiteRecord& site, std::uint32_t timeOutMs);

// The facts for a probe of site: the lookup is asked only of a direct route, as a proxy
// resolves the names itself.
PathFacts GatherPathFacts(const SiteRecord& site, std::uint32_t waitMs);
