// A list checked for a client ("checklist" on the pipe, the companion dialog's "Go"), on a
// thread of its own with a session of its own, through the same engine and probe as a cycle:
// each site judged by its checks, retries as the settings say, no benchmark.
#pragma once

#include "control/monitorlink.h"
#include "monitor/checkengine.h"

#include <functional>
#include <vector>

// The sites' outcomes in the order given; empty when wanted turned false first (the client has
// left), which ends the wait within a fraction of a second.
std::vector<MonitorCheckResult> CheckSiteList(std::vector<SiteRecord> sites,
                                              const EngineLimits& limits,
                                              const std::function<bool()>& wanted);
