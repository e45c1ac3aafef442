// A check cycle in the Prometheus text exposition format, as a textfile collector of the
// machine's exporter reads it from a folder: one file per program, replaced after every cycle.
#pragma once

#include "monitor/proberesult.h"

#include <cstdint>
#include <string>
#include <string_view>

// The file's name in the textfile folder.
inline constexpr const char* MetricsFileName = "vigrel.prom";

// The figures of the cycle that ended at endUnixSeconds after durationMs:
//   vigrel_build_info (label version), vigrel_benchmark_up, vigrel_cycle_duration_seconds,
//   vigrel_cycle_end_time_seconds, vigrel_sites_down, and per site (label url) vigrel_site_up,
//   vigrel_site_response_time_seconds, for a site down vigrel_site_down_info and for a site up
//   with a warning vigrel_site_warning_info, each with the words as the label reason, and
//   vigrel_site_certificate_expiry_timestamp_seconds where a certificate was seen.
// When the benchmark was down the sites were not checked: their series are left out, so that
// they read as unknown rather than down. An address listed twice is written once (its first
// entry), as the format allows one sample per series; user names and passwords in addresses
// are left out. Lines end with "\n" alone.
std::string MetricsText(const CycleResults& results, std::uint64_t durationMs,
                        std::int64_t endUnixSeconds);

// A label value as the format requires: backslash, double quote and line feed escaped, bytes
// that are no UTF-8 replaced by U+FFFD.
std::string MetricsLabelValue(std::string_view text);
