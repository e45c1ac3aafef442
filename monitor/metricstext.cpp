#include "monitor/metricstext.h"

#include "base/utf.h"
#include "monitor/sitetransitions.h"

#include <algorithm>
#include <set>

namespace {

// Well-formed UTF-8 as it is; otherwise every byte that starts no well-formed sequence becomes
// U+FFFD, so that a reader of the file refuses no line of it.
std::string wellFormed(std::string_view text) {
    if (IsUtf8(text))
        return std::string(text);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t taken = 0;
        for (size_t length = 1; length <= 4 && i + length <= text.size(); ++length)
            if (IsUtf8(text.substr(i, length))) {
                taken = length;
                break;
            }
        if (taken) {
            out.append(text.substr(i, taken));
            i += taken;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// Milliseconds as seconds with three decimals, free of any locale.
std::string seconds(std::uint64_t milliseconds) {
    std::string fraction = std::to_string(milliseconds % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    return std::to_string(milliseconds / 1000) + "." + fraction;
}

void family(std::string& out, const char* name, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " gauge\n";
}

void sample(std::string& out, const char* name, const std::string& labels,
            const std::string& value) {
    out += name;
    if (!labels.empty())
        out += "{" + labels + "}";
    out += ' ' + value + '\n';
}

} // namespace

std::string MetricsLabelValue(std::string_view text) {
    std::string out;
    for (char c : wellFormed(text)) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string MetricsText(const CycleResults& results, std::uint64_t durationMs,
                        std::int64_t endUnixSeconds) {
    // The sites once each, in the order of the list: two entries that name the same series
    // (the same address, or one with a password) would make the whole file unreadable.
    std::vector<size_t> sites;
    std::vector<std::string> labels(results.Urls.size());
    if (results.Benchmark.Up) {
        std::set<std::string> seen;
        for (size_t i = 0; i < results.Urls.size() && i < results.Sites.size(); ++i) {
            labels[i] = "url=\"" + MetricsLabelValue(UrlWithoutUserInfo(results.Urls[i])) + "\"";
            if (seen.insert(labels[i]).second)
                sites.push_back(i);
        }
    }
    const auto urlLabel = [&](size_t i) { return labels[i]; };
    size_t down = 0;
    for (size_t i : sites)
        down += results.Sites[i].Up ? 0 : 1;

    std::string out;
    // Lets a fleet's dashboards and rules tell which machines run which version.
    family(out, "vigrel_build_info", "The version of the program that wrote this file.");
    sample(out, "vigrel_build_info", "version=\"" + MetricsLabelValue(VIGREL_VERSION) + "\"", "1");
    family(out, "vigrel_benchmark_up",
           "Whether the benchmark page answered, so that the sites could be checked.");
    sample(out, "vigrel_benchmark_up", "", results.Benchmark.Up ? "1" : "0");
    family(out, "vigrel_cycle_duration_seconds", "How long the last check cycle took.");
    sample(out, "vigrel_cycle_duration_seconds", "", seconds(durationMs));
    family(out, "vigrel_cycle_end_time_seconds",
           "When the last check cycle ended, in seconds since 1970-01-01 UTC.");
    sample(out, "vigrel_cycle_end_time_seconds", "", std::to_string(endUnixSeconds));
    family(out, "vigrel_sites_down", "Sites found down by the last check cycle.");
    sample(out, "vigrel_sites_down", "", std::to_string(down));
    if (sites.empty())
        return out;
    family(out, "vigrel_site_up", "Whether the site answered the last check with status 200.");
    for (size_t i : sites)
        sample(out, "vigrel_site_up", urlLabel(i), results.Sites[i].Up ? "1" : "0");
    family(out, "vigrel_site_response_time_seconds",
           "Time from the request to the answer of the last check, or until it was given up.");
    for (size_t i : sites)
        sample(out, "vigrel_site_response_time_seconds", urlLabel(i),
               seconds(results.Sites[i].Milliseconds));
    const auto reasonSample = [&](const char* name, size_t i, const std::string& reason) {
        sample(out, name, urlLabel(i) + ",reason=\"" + MetricsLabelValue(reason) + "\"", "1");
    };
    if (down > 0) {
        family(out, "vigrel_site_down_info", "Why a site is down; present only while it is.");
        for (size_t i : sites)
            if (!results.Sites[i].Up)
                reasonSample("vigrel_site_down_info", i, ReasonText(results.Sites[i]));
    }
    const auto warned = [&](size_t i) {
        return results.Sites[i].Up && !results.Sites[i].Warning.empty();
    };
    if (std::any_of(sites.begin(), sites.end(), warned)) {
        family(out, "vigrel_site_warning_info",
               "What a site that is up is warned of; present only while it is.");
        for (size_t i : sites)
            if (warned(i))
                reasonSample("vigrel_site_warning_info", i, results.Sites[i].Warning);
    }
    const auto expires = [&](size_t i) { return results.Sites[i].CertExpiry != 0; };
    if (std::any_of(sites.begin(), sites.end(), expires)) {
        family(out, "vigrel_site_certificate_expiry_timestamp_seconds",
               "When the first certificate of the site's chain expires, in seconds since "
               "1970-01-01 UTC.");
        for (size_t i : sites)
            if (expires(i))
                sample(out, "vigrel_site_certificate_expiry_timestamp_seconds", urlLabel(i),
                       std::to_string(results.Sites[i].CertExpiry));
    }
    return out;
}
