// The answer to the History window's request, from the service's buckets: portable, so that the
// figures the window shows are tested where the sanitizers run.
#pragma once

#include "control/monitorlink.h"
#include "monitor/history.h"

#include <string>
#include <vector>

// Uptime of every site of urls (the list as the settings hold it, in its order) and the chart of
// url over span ("24h", "7d", "30d"; anything else is taken as "24h"), seen at now.
MonitorHistory HistoryAnswer(const HistoryIndex& index, const std::vector<std::string>& urls,
                             const std::string& url, const std::string& span, CivilSeconds now);
